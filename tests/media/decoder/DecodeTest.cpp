// The decoder: audio in a requested format, seeking, video frames and
// pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "DecoderTestSupport.h"
#include "media/decoder/FFDecode.h"
#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::LogCapture;
using test::SharedMedia;

class DecodeTest : public test::DecoderTest {};

// All PCM the decoder gives, read through ReadAudio in pieces of ASize bytes.
std::vector<uint8_t> ReadAll(TFFDecoder& d, int ASize = 4096) {
  std::vector<uint8_t> all;
  std::vector<uint8_t> piece(ASize);
  for (;;) {
    const int n = d.ReadAudio(piece.data(), ASize);
    if (n < 0) break;
    all.insert(all.end(), piece.begin(), piece.begin() + n);
  }
  return all;
}

std::vector<int16_t> AsS16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// The middle of a stream of frames (the edges carry the filters' ramps).
std::vector<int16_t> Middle(const std::vector<int16_t>& s, int channels) {
  const size_t frames = s.size() / channels;
  return std::vector<int16_t>(s.begin() + static_cast<ptrdiff_t>(frames / 10 * channels),
                              s.begin() + static_cast<ptrdiff_t>(frames * 9 / 10 * channels));
}

// Sign changes of one channel.
int ZeroCrossings(const std::vector<int16_t>& s, int channels, int channel) {
  int count = 0;
  for (size_t i = channel + channels; i < s.size(); i += channels)
    if ((s[i - channels] < 0) != (s[i] < 0)) ++count;
  return count;
}

// ---- audio ----

TEST_F(DecodeTest, TonesComeOutAs16BitStereo44100) {
  struct Case {
    const char* Name;
    int Rate, Channels;
    const char* Encoding;
    double Seconds, Amplitude, Tolerance;  // tolerance of the level, relative
  };
  const Case cases[] = {
      {"float-48k-stereo.wav", 48000, 2, "-e floating-point -b 32", 1.5, 0.5, 0.01},
      {"s16-22k-mono.wav", 22050, 1, "-e signed -b 16", 1.0, 0.25, 0.01},
      {"s24-96k-stereo.flac", 96000, 2, "-b 24", 1.0, 0.5, 0.01},
      {"vorbis-44k-mono.ogg", 44100, 1, "", 2.0, 0.3, 0.05},
  };
  const std::string dir = test::ScratchDir();
  constexpr double kFrequency = 441.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file =
        test::MakeTone(dir, c.Name, c.Rate, c.Channels, c.Seconds, kFrequency, c.Amplitude, c.Encoding);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
    const std::vector<int16_t> s = AsS16(ReadAll(d));
    EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
    EXPECT_TRUE(d.Eof());
    EXPECT_EQ(d.WaveInfo().Channels, 2);
    EXPECT_EQ(d.WaveInfo().SampleRate, 44100);
    EXPECT_EQ(d.WaveInfo().SampleFormat, AV_SAMPLE_FMT_S16);

    // Every sample arrives once: within one codec frame of the length.
    const double frames = static_cast<double>(s.size()) / 2;
    EXPECT_NEAR(frames, c.Seconds * 44100, 1024);
    const std::vector<int16_t> middle = Middle(s, 2);
    EXPECT_NEAR(test::RmsS16(middle), c.Amplitude / std::sqrt(2.0), c.Amplitude / std::sqrt(2.0) * c.Tolerance);
    // The pitch survives the rate change.
    const double seconds = static_cast<double>(middle.size()) / 2 / 44100;
    EXPECT_NEAR(ZeroCrossings(middle, 2, 0), 2 * kFrequency * seconds, 4);
    if (c.Channels == 1) {
      for (size_t i = 0; i + 1 < s.size(); i += 2) ASSERT_EQ(s[i], s[i + 1]) << "frame " << i / 2;
    }
  }
}

// The "Length (seconds)" and "RMS amplitude" sox measures for a file.
struct SoxStat {
  double Length = -1;
  double Rms = -1;
};
SoxStat MeasureWithSox(const std::string& AFile) {
  const std::string out = AFile + ".stat";
  EXPECT_EQ(test::Run("sox '" + AFile + "' -n stat 2> '" + out + "'"), 0);
  SoxStat stat;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const double value = std::atof(line.c_str() + colon + 1);
    if (line.starts_with("Length (seconds)")) stat.Length = value;
    if (line.starts_with("RMS     amplitude")) stat.Rms = value;
  }
  return stat;
}

// Speech made by one program, measured by another: the decoder agrees on
// length and level, whatever the container.
TEST_F(DecodeTest, SpeechAgreesWithAnIndependentMeasurement) {
  const std::string dir = test::ScratchDir();
  const std::string wav = dir + "/speech.wav";
  ASSERT_EQ(test::Run("espeak-ng -w '" + wav + "' 'Every file is probed before it is converted.'"), 0);
  const std::string flac = dir + "/speech.flac";
  ASSERT_EQ(test::Run("sox '" + wav + "' '" + flac + "'"), 0);
  for (const std::string& file : {wav, flac}) {
    SCOPED_TRACE(file);
    const SoxStat stat = MeasureWithSox(file);
    ASSERT_GT(stat.Length, 1.0);
    ASSERT_GT(stat.Rms, 0.01);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
    EXPECT_NEAR(d.FileStreamInfo().Duration / 1e6, stat.Length, 0.001);
    const std::vector<int16_t> s = AsS16(ReadAll(d));
    EXPECT_NEAR(static_cast<double>(s.size()) / 2, stat.Length * 44100, 1024);
    EXPECT_NEAR(test::RmsS16(s), stat.Rms, stat.Rms * 0.01);
  }
}

TEST_F(DecodeTest, MatchingAudioPassesUnchanged) {
  const std::string dir = test::ScratchDir();
  const std::string wav = test::MakeTone(dir, "cd.wav", 44100, 2, 1.0, 1000, 0.7, "-e signed -b 16");
  const std::string raw = test::MakeTone(dir, "cd.raw", 44100, 2, 1.0, 1000, 0.7, "-e signed -b 16");
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(expected.size(), 44100u * 4);

  LogCapture log(llVerbose);
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(wav)) << d.LastErrMsg();
  EXPECT_EQ(ReadAll(d, 1000), expected);
  for (const auto& line : log.From(&d)) EXPECT_FALSE(line.Text.starts_with("need ")) << line.Text;
}

TEST_F(DecodeTest, ReadAudioEmptiesABlockBeforeDecodingTheNext) {
  const std::string wav = test::MakeTone(test::ScratchDir(), "t.wav", 44100, 2, 1.0, 1000, 0.5, "-e signed -b 16");
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(wav)) << d.LastErrMsg();
  std::vector<uint8_t> buf(1 << 20);

  ASSERT_EQ(d.ReadAudio(buf.data(), 100), 100);
  const TWaveInfo first = d.WaveInfo();
  ASSERT_TRUE(first.Ready);
  ASSERT_GT(first.Size, 100);
  EXPECT_EQ(std::memcmp(buf.data(), first.Buffer, 100), 0);
  // The rest of the same block, then nothing more from it.
  EXPECT_EQ(d.ReadAudio(buf.data(), static_cast<int>(buf.size())), first.Size - 100);
  EXPECT_EQ(d.WaveInfo().PTS, first.PTS);

  // Without a buffer: how much there is, nothing consumed.
  const int available = d.ReadAudio(nullptr, 64);
  EXPECT_EQ(available, 64);
  EXPECT_GT(d.WaveInfo().PTS, first.PTS);
  const std::vector<uint8_t> peek(d.WaveInfo().Buffer, d.WaveInfo().Buffer + 64);
  EXPECT_EQ(d.ReadAudio(buf.data(), 64), 64);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 64), peek);
}

TEST_F(DecodeTest, RequestedFormatsAreDeliveredInterleaved) {
  const std::string wav =
      test::MakeTone(test::ScratchDir(), "t.wav", 48000, 2, 1.0, 500, 0.5, "-e floating-point -b 32");
  TFFDecoder d;
  d.SetDesireAudioChannels(1);
  d.SetDesireAudioSampleRate(8000);
  d.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_FLTP);
  EXPECT_EQ(d.DesireAudioSampleFormat(), AV_SAMPLE_FMT_FLT);
  ASSERT_TRUE(d.LoadFile(wav)) << d.LastErrMsg();
  std::vector<float> samples;
  while (d.DecodeAudio()) {
    const TWaveInfo& w = d.WaveInfo();
    ASSERT_EQ(w.Channels, 1);
    ASSERT_EQ(w.SampleRate, 8000);
    ASSERT_EQ(w.SampleFormat, AV_SAMPLE_FMT_FLT);
    ASSERT_EQ(w.BytesPerSample, 4);
    ASSERT_EQ(w.BytesPerSecond, 32000);
    ASSERT_EQ(w.Duration, (1000000 / 4) * static_cast<int64_t>(w.Size) / 8000);
    const auto* f = reinterpret_cast<const float*>(w.Buffer);
    samples.insert(samples.end(), f, f + w.Size / 4);
  }
  EXPECT_NEAR(static_cast<double>(samples.size()), 8000, 256);
  double sum = 0;
  for (size_t i = samples.size() / 10; i < samples.size() * 9 / 10; ++i) sum += samples[i] * samples[i];
  EXPECT_NEAR(std::sqrt(sum / (samples.size() * 0.8)), 0.5 / std::sqrt(2.0), 0.01);

  // A new rate takes effect with the next block.
  ASSERT_TRUE(d.Seek(0));
  d.SetDesireAudioSampleRate(16000);
  ASSERT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
  EXPECT_EQ(d.WaveInfo().SampleRate, 16000);
  EXPECT_EQ(d.WaveInfo().BytesPerSecond, 64000);
}

TEST_F(DecodeTest, SeekingAudio) {
  const std::string wav = test::MakeTone(test::ScratchDir(), "t.wav", 44100, 2, 3.0, 1000, 0.5, "-e signed -b 16");
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(wav)) << d.LastErrMsg();

  ASSERT_TRUE(d.Seek(2000000)) << d.LastErrMsg();
  ASSERT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
  EXPECT_LE(d.WaveInfo().PTS, 2000000);
  EXPECT_GT(d.WaveInfo().PTS + d.WaveInfo().Duration, 2000000);

  // Before the start is the start.
  ASSERT_TRUE(d.Seek(-5000000)) << d.LastErrMsg();
  ASSERT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
  EXPECT_EQ(d.WaveInfo().PTS, 0);

  // The end stays the end until the next seek.
  while (d.DecodeAudio()) {
  }
  EXPECT_TRUE(d.Eof());
  EXPECT_FALSE(d.DecodeAudio());
  EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
  EXPECT_EQ(d.ReadAudio(nullptr, 10), -1);
  ASSERT_TRUE(d.Seek(1000000)) << d.LastErrMsg();
  EXPECT_FALSE(d.Eof());
  EXPECT_TRUE(d.DecodeAudio()) << d.LastErrMsg();

  // Byte positions are a seek target of their own: one second into the
  // samples.
  std::ifstream in(wav, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  const size_t second = data + 8 + 44100 * 4;
  ASSERT_TRUE(d.Seek(static_cast<int64_t>(second), sfByte)) << d.LastErrMsg();
  ASSERT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
  ASSERT_GE(d.WaveInfo().Size, 64);
  EXPECT_EQ(std::memcmp(d.WaveInfo().Buffer, bytes.data() + second, 64), 0);
  EXPECT_GT(d.Position(), static_cast<int64_t>(second));
}

TEST_F(DecodeTest, WrongStreamKinds) {
  LogCapture log;
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3")));
  EXPECT_FALSE(d.Decode());
  EXPECT_EQ(d.LastErrMsg(), "no video stream.");
  EXPECT_TRUE(log.Has(&d, llError, "no video stream."));
  EXPECT_FALSE(d.DecodeNextKeyFrame());
  EXPECT_FALSE(d.CopyToBitmap(*std::make_unique<TBitmap>()));
  EXPECT_EQ(d.LastErrMsg(), "picture not ready, please decode first");
  EXPECT_EQ(d.GetBitmapPtr(), nullptr);

  TFFDecoder v;
  ASSERT_TRUE(v.LoadFile(SharedMedia("python3-mecavideo__balle1-vp9.avi")));
  EXPECT_FALSE(v.Decode(1));
  EXPECT_EQ(v.LastErrMsg(), "stream #1 is not video stream.");
  EXPECT_FALSE(v.DecodeAudio(0));
  EXPECT_EQ(v.LastErrMsg(), "stream #0 is not audio stream.");
  EXPECT_FALSE(v.DecodeAudio(7));
  EXPECT_EQ(v.LastErrMsg(), "stream index #7 is invalid.");
  EXPECT_EQ(v.ReadAudio(nullptr, 10, 0), -1);

  TFFDecoder none;
  EXPECT_FALSE(none.Decode());
  EXPECT_EQ(none.LastErrMsg(), "file not loaded.");
  EXPECT_FALSE(none.Seek(0));
  EXPECT_EQ(none.Position(), -1);
  EXPECT_TRUE(log.Has(&none, llWarning, "file not loaded."));
}

// ---- video ----

// The time and key flag of every frame of a file's first video stream.
struct FrameMark {
  int64_t PTS;
  bool Key;
};
std::vector<FrameMark> AllFrames(const std::string& AFile) {
  TFFDecoder d;
  EXPECT_TRUE(d.LoadFile(AFile)) << d.LastErrMsg();
  std::vector<FrameMark> marks;
  while (d.Decode()) marks.push_back({d.FrameInfo().PTS, d.FrameInfo().IsKeyFrame});
  EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
  return marks;
}

TEST_F(DecodeTest, EveryFrameInOrder) {
  struct Case {
    const char* File;
    size_t Frames;
    int64_t Step;  // µs between frames
  };
  const Case cases[] = {
      // The DVD clip's last frames carry no time stamp: they still count.
      {"devede__base_pal.mpg", 24, 40000},
      {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", 166, 33333},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    const std::vector<FrameMark> marks = AllFrames(SharedMedia(c.File));
    ASSERT_EQ(marks.size(), c.Frames);
    EXPECT_EQ(marks.front().PTS, 0);
    EXPECT_TRUE(marks.front().Key);
    for (size_t i = 1; i < marks.size(); ++i) EXPECT_NEAR(marks[i].PTS - marks[i - 1].PTS, c.Step, 1) << i;
  }
}

TEST_F(DecodeTest, FramesAtSeekTargets) {
  struct Case {
    const char* File;
    int64_t Target;
    int Width, Height;
    bool Black;  // the DVD clip shows video black all through
  };
  const Case cases[] = {
      {"python3-mecavideo__balle1-vp9.avi", 300000, 320, 240, false},
      {"python3-mecavideo__balle1-vp9.avi", 1000000, 320, 240, false},
      {"devede__base_pal.mpg", 300000, 720, 576, true},
      {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", 0, 560, 320, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.File << " @ " << c.Target);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(SharedMedia(c.File))) << d.LastErrMsg();
    ASSERT_TRUE(d.Seek(c.Target)) << d.LastErrMsg();
    ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
    const TFrameInfo& f = d.FrameInfo();
    EXPECT_TRUE(f.Ready);
    EXPECT_EQ(f.Width, c.Width);
    EXPECT_EQ(f.Height, c.Height);
    EXPECT_GE(f.PTS, c.Target);
    EXPECT_TRUE(f.IsKeyFrame);  // a seek without flags lands on key frames
    EXPECT_EQ(f.PictureType, ptI);
    EXPECT_EQ(f.StreamIndex, d.FirstVideoStreamIndex());

    TBitmap bmp;
    ASSERT_TRUE(d.CopyToBitmap(bmp)) << d.LastErrMsg();
    EXPECT_EQ(bmp.Width(), c.Width);
    EXPECT_EQ(bmp.Height(), c.Height);
    EXPECT_EQ(bmp.BitsPixel(), 24);
    const bool lit = std::any_of(bmp.Bits(), bmp.Bits() + bmp.SizeBytes(), [](uint8_t b) { return b > 16; });
    EXPECT_EQ(lit, !c.Black);
    const TDIBInfo* dib = d.GetBitmapPtr();
    ASSERT_NE(dib, nullptr) << d.LastErrMsg();
    EXPECT_EQ(dib->Width, c.Width);
    EXPECT_EQ(dib->Height, c.Height);
    EXPECT_EQ(std::memcmp(dib->Bits, bmp.Bits(), static_cast<size_t>(bmp.Stride())), 0);
  }
}

TEST_F(DecodeTest, StepsBetweenFramesAndKeyFrames) {
  const std::string file = SharedMedia("python3-mecavideo__balle1-vp9.avi");  // three key frames
  const std::vector<FrameMark> marks = AllFrames(file);
  ASSERT_GT(marks.size(), 100u);
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();

  // Stand on a frame a few after the second key frame.
  ASSERT_TRUE(d.Seek(500000)) << d.LastErrMsg();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
  const int64_t here = d.FrameInfo().PTS;
  const auto at = std::find_if(marks.begin(), marks.end(), [&](const FrameMark& m) { return m.PTS == here; });
  ASSERT_NE(at, marks.end());
  ASSERT_FALSE(at->Key);

  ASSERT_TRUE(d.DecodePreviousFrame()) << d.LastErrMsg();
  EXPECT_EQ(d.FrameInfo().PTS, (at - 1)->PTS);

  ASSERT_TRUE(d.DecodePreviousKeyFrame()) << d.LastErrMsg();
  const auto previousKey =
      std::find_if(std::make_reverse_iterator(at - 1), marks.rend(), [](const FrameMark& m) { return m.Key; });
  ASSERT_NE(previousKey, marks.rend());
  EXPECT_EQ(d.FrameInfo().PTS, previousKey->PTS);
  EXPECT_TRUE(d.FrameInfo().IsKeyFrame);

  ASSERT_TRUE(d.DecodeNextKeyFrame()) << d.LastErrMsg();
  const auto nextKey = std::find_if(previousKey.base(), marks.end(), [](const FrameMark& m) { return m.Key; });
  ASSERT_NE(nextKey, marks.end());
  EXPECT_EQ(d.FrameInfo().PTS, nextKey->PTS);

  // From the first frame there is no earlier one: the first is the answer.
  ASSERT_TRUE(d.Seek(0)) << d.LastErrMsg();
  ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
  ASSERT_TRUE(d.DecodePreviousKeyFrame()) << d.LastErrMsg();
  EXPECT_EQ(d.FrameInfo().PTS, 0);

  // Past the last key frame there is no next one.
  ASSERT_TRUE(d.Seek(marks.back().PTS, sfBackward));
  ASSERT_TRUE(d.Decode());
  EXPECT_FALSE(d.DecodeNextKeyFrame());
  EXPECT_FALSE(d.LastErrMsg().empty());
}

// A long video made by the engine: the shared clip stretched to ten minutes,
// tiny 16x16 frames at 5 a second, and one key frame, at the start.
std::string MakeLongVideo(const std::string& AOutput) {
  const std::string input = SharedMedia("python3-mecavideo__balle1-vp9.avi");
  TCustomFFmpeg job(2);
  job.SetExtOption("itsscale", "0:600");  // about ten minutes of the ~1.1 s clip
  EXPECT_TRUE(job.open_input_file(input)) << job.LastErrMsg();
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"vcodec", "mpeg4"}, {"s", "16x16"}, {"r", "5"}, {"vsync", "1"}, {"g", "100000"},
           {"sc_threshold", "1000000000"}, {"strict", "-2"}, {"an", ""}, {"t", "600"}})
    job.SetExtOption(name, value);
  EXPECT_EQ(job.open_output_file(AOutput, false), 1) << job.LastErrMsg();
  job.StartConvert(false);
  EXPECT_FALSE(job.FatalException()) << job.FatalMessage();
  return AOutput;
}

// Stepping back to the key frame from the last frame of a ten-minute video
// (3000 frames) whose only key frame is its first. Where the container
// indexes its key frames one seek finds it; where seeking lands on any
// frame near the target (program and transport streams), the step back
// doubles until it reaches the key frame: a few seeks, not one per frame.
TEST_F(DecodeTest, PreviousKeyFrameFarBackTakesFewSeeks) {
  const std::string dir = test::ScratchDir();
  for (const char* name : {"long.avi", "long.mpg", "long.ts"}) {
    SCOPED_TRACE(name);
    const std::string file = MakeLongVideo(dir + "/" + name);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
    const std::vector<FrameMark> marks = AllFrames(file);
    ASSERT_GT(marks.size(), 2900u);
    ASSERT_EQ(std::count_if(marks.begin(), marks.end(), [](const FrameMark& m) { return m.Key; }), 1);

    // Stand on the last frame.
    ASSERT_TRUE(d.Seek(marks.back().PTS - 2000000, sfBackward)) << d.LastErrMsg();
    while (d.Decode()) {
    }
    ASSERT_EQ(d.FrameInfo().PTS, marks.back().PTS);

    LogCapture log;
    ASSERT_TRUE(d.DecodePreviousKeyFrame()) << d.LastErrMsg();
    int seeks = 0;
    for (const auto& line : log.From(&d)) seeks += line.Text.rfind("current position", 0) == 0;
    EXPECT_TRUE(d.FrameInfo().IsKeyFrame);
    EXPECT_EQ(d.FrameInfo().PTS, marks.front().PTS);
    // Strides of 1, 2, 4 ... 2048 frames, then the start: 13 at most.
    EXPECT_LE(seeks, 13);
  }
}

TEST_F(DecodeTest, StillPictures) {
  // A 4x2 picture of known colours, rows top-down.
  const uint8_t rgb[2][4][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}},
                                {{0, 0, 0}, {255, 255, 0}, {0, 255, 255}, {128, 64, 32}}};
  const std::string file = test::ScratchDir() + "/colours.ppm";
  {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n4 2\n255\n";
    out.write(reinterpret_cast<const char*>(rgb), sizeof(rgb));
  }
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
  ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
  EXPECT_EQ(d.FrameInfo().PixFmt, AV_PIX_FMT_RGB24);
  // One picture, asked for again, is the same picture.
  const uint8_t* buffer = d.FrameInfo().Buffer;
  EXPECT_TRUE(d.Decode()) << d.LastErrMsg();
  EXPECT_EQ(d.FrameInfo().Buffer, buffer);
  EXPECT_FALSE(d.Seek(0));
  EXPECT_EQ(d.LastErrMsg(), Format("\"%s\" format cannot to be seeked.", d.FormatName().c_str()));

  for (int bits : {24, 32}) {
    SCOPED_TRACE(bits);
    d.SetBitmapBitsPixel(bits);
    TBitmap bmp;
    ASSERT_TRUE(d.CopyToBitmap(bmp)) << d.LastErrMsg();
    ASSERT_EQ(bmp.Width(), 4);
    ASSERT_EQ(bmp.Height(), 2);
    ASSERT_EQ(bmp.BitsPixel(), bits);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) {
        const uint8_t* px = bmp.Row(y) + x * (bits / 8);
        EXPECT_EQ(px[0], rgb[y][x][2]) << x << "," << y;  // B
        EXPECT_EQ(px[1], rgb[y][x][1]) << x << "," << y;  // G
        EXPECT_EQ(px[2], rgb[y][x][0]) << x << "," << y;  // R
      }
  }
}

TEST_F(DecodeTest, DeinterlacingBlendsNeighbourLines) {
  const std::string file = SharedMedia("python3-mecavideo__balle1-vp9.avi");
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
  ASSERT_TRUE(d.Seek(300000)) << d.LastErrMsg();
  ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
  const TFrameInfo plain = d.FrameInfo();
  ASSERT_EQ(plain.PixFmt, AV_PIX_FMT_YUV420P);
  const std::vector<uint8_t> original(plain.Buffer, plain.Buffer + plain.Size);

  d.SetDeinterlace(true);
  ASSERT_TRUE(d.Seek(300000)) << d.LastErrMsg();
  ASSERT_TRUE(d.Decode()) << d.LastErrMsg();
  EXPECT_TRUE(d.Deinterlace());
  const TFrameInfo& blended = d.FrameInfo();
  ASSERT_EQ(blended.PTS, plain.PTS);
  ASSERT_EQ(blended.Size, plain.Size);

  // Each line is (above + 2 x line + below) / 4, the edge lines their own
  // neighbours, in all three planes.
  int differing = 0;
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane ? plain.Width / 2 : plain.Width;
    const int h = plane ? plain.Height / 2 : plain.Height;
    const ptrdiff_t offset = plain.Picture.data[plane] - plain.Picture.data[0];
    const int stride = plain.Picture.linesize[plane];
    const auto in = [&](int x, int y) { return original[offset + static_cast<ptrdiff_t>(y) * stride + x]; };
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int expect = (in(x, std::max(y - 1, 0)) + 2 * in(x, y) + in(x, std::min(y + 1, h - 1)) + 2) >> 2;
        const int got = blended.Buffer[offset + static_cast<ptrdiff_t>(y) * stride + x];
        if (got != expect) ++wrong;
        if (got != in(x, y)) ++differing;
      }
    EXPECT_EQ(wrong, 0) << "plane " << plane;
  }
  EXPECT_GT(differing, 0) << "the picture has no detail to blend";
}

}  // namespace
}  // namespace quorvel
