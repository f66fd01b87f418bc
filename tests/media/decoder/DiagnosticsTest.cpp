// The decoder's own messages and the stream lines of its description, on
// small files written here through the media libraries: each failure names
// itself, and each rate, aspect and time of a stream is shown the way its
// value asks for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "DecoderTestSupport.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::SharedMedia;

class DiagnosticsTest : public test::DecoderTest {
 protected:
  std::string FDir = test::ScratchDir();
};

// One stream of a written file.
struct TStreamSpec {
  AVMediaType Type = AVMEDIA_TYPE_AUDIO;
  AVCodecID Codec = AV_CODEC_ID_PCM_S16LE;
  uint32_t Tag = 0;       // a codec tag of its own (then the codec stays unknown to readers)
  int Channels = 1;       // audio
  int SampleRate = 8000;  // audio
  int Width = 16;         // video (gray, one byte a pixel)
  int Height = 16;
  AVRational Sar{0, 1};
  AVRational TimeBase{1, 8000};
  int64_t FirstPts = 0;
  int64_t Step = 800;  // between packets, in TimeBase
  int Packets = 10;
};

struct TOutput {
  AVFormatContext* Ctx = nullptr;
  ~TOutput() {
    if (!Ctx) return;
    if (Ctx->pb) avformat.avio_closep(&Ctx->pb);
    avformat.avformat_free_context(Ctx);
  }
};

// Writes the streams into a file of AFormat ("nut", "matroska"): silent
// 16-bit audio blocks of one step each, gray video frames, or empty
// packets of a made-up codec. Returns the path.
std::string WriteStreams(const std::string& APath, const char* AFormat, const std::vector<TStreamSpec>& ASpecs) {
  TOutput out;
  EXPECT_GE(avformat.avformat_alloc_output_context2(&out.Ctx, nullptr, AFormat, APath.c_str()), 0);
  if (!out.Ctx) return APath;
  std::vector<AVStream*> streams;
  for (const TStreamSpec& s : ASpecs) {
    AVStream* st = avformat.avformat_new_stream(out.Ctx, nullptr);
    AVCodecParameters* par = st->codecpar;
    par->codec_type = s.Type;
    par->codec_id = s.Codec;
    par->codec_tag = s.Tag;
    if (s.Type == AVMEDIA_TYPE_AUDIO) {
      par->sample_rate = s.SampleRate;
      par->format = AV_SAMPLE_FMT_S16;
      par->bits_per_coded_sample = 16;
      if (s.Channels > 0) avutil.av_channel_layout_default(&par->ch_layout, s.Channels);
    } else if (s.Type == AVMEDIA_TYPE_VIDEO) {
      par->width = s.Width;
      par->height = s.Height;
      par->format = AV_PIX_FMT_GRAY8;
      par->sample_aspect_ratio = s.Sar;
      st->sample_aspect_ratio = s.Sar;
    }
    st->time_base = s.TimeBase;
    streams.push_back(st);
  }
  if (avformat.avio_open2(&out.Ctx->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0 ||
      avformat.avformat_write_header(out.Ctx, nullptr) < 0) {
    ADD_FAILURE() << "cannot write " << APath;
    return APath;
  }
  AVPacket* pkt = avcodec.av_packet_alloc();
  for (size_t i = 0; i < ASpecs.size(); ++i) {
    const TStreamSpec& s = ASpecs[i];
    AVStream* st = streams[i];
    for (int p = 0; p < s.Packets; ++p) {
      int size = 16;
      if (s.Type == AVMEDIA_TYPE_AUDIO && s.Codec == AV_CODEC_ID_PCM_S16LE)
        size = static_cast<int>(avutil.av_rescale_q(s.Step, s.TimeBase, AVRational{1, s.SampleRate})) * 2 *
               std::max(s.Channels, 1);
      else if (s.Type == AVMEDIA_TYPE_VIDEO && s.Codec == AV_CODEC_ID_RAWVIDEO)
        size = s.Width * s.Height;
      avcodec.av_new_packet(pkt, size);
      std::memset(pkt->data, p * 7 % 256, static_cast<size_t>(size));
      pkt->stream_index = st->index;
      pkt->pts = pkt->dts = avutil.av_rescale_q(s.FirstPts + p * s.Step, s.TimeBase, st->time_base);
      pkt->duration = avutil.av_rescale_q(s.Step, s.TimeBase, st->time_base);
      pkt->flags |= AV_PKT_FLAG_KEY;
      EXPECT_GE(avformat.av_interleaved_write_frame(out.Ctx, pkt), 0);
    }
  }
  avcodec.av_packet_free(&pkt);
  EXPECT_GE(avformat.av_write_trailer(out.Ctx), 0);
  return APath;
}

// A one-pixel-high picture file (BMP, 24-bit) the picture reader opens as a
// still image.
std::string WriteBitmapFile(const std::string& APath) {
  const int w = 2, h = 2, stride = 8;
  std::string bytes(54 + stride * h, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  put16(26, 1);
  put16(28, 24);
  put32(34, static_cast<uint32_t>(stride * h));
  std::ofstream(APath, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return APath;
}

// A file read through a pipe: nothing can be sought.
class TPipeInput {
 public:
  explicit TPipeInput(const std::string& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(::pipe(FEnds), 0);
    EXPECT_LT(bytes.size(), 60000u) << "more than a pipe holds";
    EXPECT_EQ(::write(FEnds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(FEnds[1]);
  }
  ~TPipeInput() { ::close(FEnds[0]); }
  std::string URL() const { return "pipe:" + std::to_string(FEnds[0]); }

 private:
  int FEnds[2] = {-1, -1};
};

TEST_F(DiagnosticsTest, EveryFailureNamesItself) {
  // A silent mono track, next to the stream each case is about.
  const TStreamSpec silence;
  TStreamSpec sizeless;
  sizeless.Type = AVMEDIA_TYPE_VIDEO;
  sizeless.Codec = AV_CODEC_ID_MPEG2VIDEO;
  sizeless.Width = sizeless.Height = 0;
  sizeless.TimeBase = AVRational{1, 90000};
  sizeless.Packets = 0;
  TStreamSpec data;  // the transport stream's own data, enough for the probe to succeed
  data.Type = AVMEDIA_TYPE_DATA;
  data.Codec = AV_CODEC_ID_BIN_DATA;
  data.TimeBase = AVRational{1, 90000};
  data.Step = 3600;
  TStreamSpec unknown;
  unknown.Codec = AV_CODEC_ID_NONE;
  unknown.Tag = MKTAG('Q', 'Z', 'X', 'Q');
  TStreamSpec noSetup;  // its decoder cannot start without the codec's set-up data
  noSetup.Codec = AV_CODEC_ID_VORBIS;
  const std::string sizelessFile = WriteStreams(FDir + "/sizeless.ts", "mpegts", {data, sizeless});
  const std::string unknownFile = WriteStreams(FDir + "/unknown.nut", "nut", {silence, unknown});
  const std::string noSetupFile = WriteStreams(FDir + "/nosetup.nut", "nut", {silence, noSetup});
  const std::string wav = test::MakeTone(FDir, "tone.wav", 8000, 1, 1.0, 440, 0.5, "-b 16");
  const std::string picture = WriteBitmapFile(FDir + "/picture%03d.bmp");
  WriteBitmapFile(FDir + "/picture001.bmp");

  const struct {
    const char* Name;
    std::string File;  // empty: a pipe of the tone
    std::function<bool(TFFDecoder&)> Action;
    TLogLevel Level;
    std::string Text;
  } cases[] = {
      {"frame size", sizelessFile, [](TFFDecoder& d) { return d.Decode(); }, llError,
       "frame size of codec is invalid."},
      {"unsupported codec", unknownFile, [](TFFDecoder& d) { return d.DecodeAudio(1); }, llError,
       "Unsupported codec (id=0) for input file stream #1"},
      {"codec open", noSetupFile, [](TFFDecoder& d) { return d.DecodeAudio(1); }, llError,
       "Error while opening codec for input file stream #1"},
      {"seek by time", "", [](TFFDecoder& d) { return d.Seek(1500000); }, llError,
       "could not seek to position 1.500 seconds"},
      {"still picture", picture, [](TFFDecoder& d) { return d.Seek(0); }, llInfo,
       "\"image2\" format cannot to be seeked."},
      {"no position", picture, [](TFFDecoder& d) { return d.Position() >= 0; }, llWarning, "cannot get position"},
      {"no picture yet", wav, [](TFFDecoder& d) {
         TBitmap bitmap;
         return d.CopyToBitmap(bitmap);
       },
       llError, "picture not ready, please decode first"},
      {"no channels", wav, [](TFFDecoder& d) {
         d.SetDesireAudioChannels(0);
         return d.DecodeAudio();
       },
       llError, "Can not resample 1 channels @ 8000 Hz to 0 channels @ 44100 Hz"},
      {"no sample format", wav, [](TFFDecoder& d) {
         d.SetDesireAudioSampleRate(8000);
         d.SetDesireAudioChannels(1);
         d.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_NONE);
         return d.DecodeAudio();
       },
       llError, "Cannot convert s16 sample format to unknown sample format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<TPipeInput> pipe;
    if (c.File.empty()) pipe = std::make_unique<TPipeInput>(wav);
    const std::string name = pipe ? pipe->URL() : c.File;
    test::LogCapture log;
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(name)) << d.LastErrMsg();
    EXPECT_FALSE(c.Action(d));
    EXPECT_EQ(d.LastErrMsg(), c.Text);
    EXPECT_TRUE(log.Has(&d, c.Level, c.Text));
  }
}

// What the converter says when it is made: resampling and format changes.
TEST_F(DiagnosticsTest, ConverterSaysWhatItDoes) {
  const std::string wav = test::MakeTone(FDir, "tone.wav", 8000, 1, 1.0, 440, 0.5, "-b 16");
  const struct {
    int Channels, Rate;
    AVSampleFormat Format;
    std::string Text;
  } cases[] = {
      {2, 44100, AV_SAMPLE_FMT_S16, "need resample 1 channels @ 8000 Hz to 2 channels @ 44100 Hz"},
      {1, 8000, AV_SAMPLE_FMT_FLT, "need convert s16 sample format to flt sample format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    test::LogCapture log;
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(wav));
    d.SetDesireAudioChannels(c.Channels);
    d.SetDesireAudioSampleRate(c.Rate);
    d.SetDesireAudioSampleFormat(c.Format);
    ASSERT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
    EXPECT_TRUE(log.Has(&d, llInfo, c.Text));
  }
}

// The stream line of a video stream shows each rate with two decimals when
// it has a fraction, whole when it has none, and in thousands ("k") when it
// is a round thousand; the pixel shape when the container's differs from
// the picture's; the stream's own start and length, or "N/A". A container
// that knows neither its size nor its bit rate shows "Bit Rate: N/A".
TEST_F(DiagnosticsTest, StreamLineRatesAspectAndTimes) {
  const auto video = [](AVRational ATimeBase, int64_t AStep, int64_t AFirst, AVRational ASar) {
    TStreamSpec s;
    s.Type = AVMEDIA_TYPE_VIDEO;
    s.Codec = AV_CODEC_ID_RAWVIDEO;
    s.TimeBase = ATimeBase;
    s.Step = AStep;
    s.FirstPts = AFirst;
    s.Sar = ASar;
    return s;
  };
  const std::string wav = test::MakeTone(FDir, "tone.wav", 8000, 1, 0.5, 440, 0.5, "-b 16");
  TStreamSpec data;  // no bit rate of its own
  data.Type = AVMEDIA_TYPE_DATA;
  data.Codec = AV_CODEC_ID_BIN_DATA;
  data.Tag = MKTAG('Q', 'D', 'A', 'T');
  // The muxer keeps a 90 kHz clock and turns the others into multiples of
  // their own.
  const struct {
    const char* Name;
    std::string File;  // "pipe:" + a file: that file through a pipe
    std::vector<std::string> Shown;
  } cases[] = {
      {"NTSC on a 90 kHz clock",
       WriteStreams(FDir + "/ntsc.nut", "nut", {video({1, 90000}, 3003, 0, {0, 1})}),
       {"Stream #0, 1/90000: ", ", 29.97 fps, 29.97 tbr, 90k tbn, 29.97 tbc, StartTime: 0.000000, Duration: N/A\r\n"}},
      {"25 fps from one second on",
       WriteStreams(FDir + "/pal.nut", "nut", {video({1, 1000}, 40, 1000, {0, 1})}),
       {"Stream #0, 1/64000: ", ", 25 fps, 25 tbr, 64k tbn, 25 tbc, StartTime: 1.000000, Duration: N/A\r\n"}},
      {"film", WriteStreams(FDir + "/film.nut", "nut", {video({1001, 24000}, 1, 0, {0, 1})}),
       {", 23.98 fps, 23.98 tbr, 48k tbn, 23.98 tbc"}},
      {"a clock of no round thousand", WriteStreams(FDir + "/odd.nut", "nut", {video({1, 12800}, 512, 0, {0, 1})}),
       {", 25 fps, 25 tbr, 51200 tbn, 25 tbc"}},
      {"wide pixels", WriteStreams(FDir + "/wide.nut", "nut", {video({1, 1000}, 40, 0, {4, 3})}),
       {", PAR 4:3 DAR 4:3, "}},
      {"wide pixels in avi", WriteStreams(FDir + "/wide.avi", "avi", {video({1, 25}, 1, 0, {4, 3})}),
       {", PAR 4:3 DAR 4:3, "}},
      {"audio of known length", wav, {"\r\nDuration: 00:00:00.500\r\n", ", Duration: 00:00:00.500\r\n"}},
      {"audio of no known length", "pipe:" + wav, {"\r\nDuration: N/A\r\n", ", Duration: N/A\r\n"}},
      {"no size, no bit rate", "pipe:" + WriteStreams(FDir + "/data.nut", "nut", {data}), {"\r\nBit Rate: N/A\r\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<TPipeInput> pipe;
    if (c.File.starts_with("pipe:")) pipe = std::make_unique<TPipeInput>(c.File.substr(5));
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(pipe ? pipe->URL() : c.File)) << d.LastErrMsg();
    const std::string text = d.FileInfoText();
    for (const std::string& shown : c.Shown) EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
  }
}

}  // namespace
}  // namespace quorvel
