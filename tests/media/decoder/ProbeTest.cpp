// The probe: what it says about real files, its texts, and its answers to
// questions it cannot answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "DecoderTestSupport.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Stubs.h"
#include "media/runtime/UnicodeProtocol.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::LogCapture;
using test::SharedMedia;

class ProbeTest : public test::DecoderTest {};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- real files ----

// Properties measured by independent tools (the sample media's README).
struct MediaCase {
  const char* File;
  const char* Format;      // demuxer name
  int64_t DurationMs;      // container duration
  const char* AudioCodec;  // decoder name
  int SampleRate;
  int Channels;
  int64_t AudioBitRate;    // 0: the file does not say
  const char* VideoCodec;  // nullptr: no video
  int Width;
  int Height;
};

const MediaCase kMedia[] = {
    {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", "mov,mp4,m4a,3gp,3g2,mj2", 5600, "aac", 48000, 1, 0, "h264",
     560, 320},
    {"golang-github-gabriel-vasile-mimetype-dev__webm.webm", "matroska,webm", 5600, "vorbis", 48000, 1, 0, "vp8", 560,
     320},
    {"golang-github-gabriel-vasile-mimetype-dev__mov.mov", "mov,mp4,m4a,3gp,3g2,mj2", 5600, "aac", 48000, 1, 0, "h264",
     560, 320},
    // Its time stamps span 0.80 s: the last frames carry none (the decoder
    // tests count all 24 frames, 0.96 s).
    {"devede__base_pal.mpg", "mpeg", 800, "mp2", 48000, 2, 224000, "mpeg2video", 720, 576},
    {"python3-mecavideo__balle1-vp9.avi", "avi", 1600, "mp3float", 48000, 2, 128000, "vp9", 320, 240},
    {"linphone-common__hello16000.wav", "wav", 10600, "pcm_s16le", 16000, 1, 256000, nullptr, 0, 0},
    {"libpython3.11-testsuite__pluck-pcm24.wav", "wav", 300, "pcm_s24le", 11025, 2, 529200, nullptr, 0, 0},
    {"libpython3.11-testsuite__pluck-ulaw.au", "au", 300, "pcm_mulaw", 11025, 2, 176400, nullptr, 0, 0},
    {"lmms-common__lfo_trancegate_whole.flac", "flac", 400, "flac", 96000, 1, 0, nullptr, 0, 0},
    {"sound-theme-freedesktop__camera-shutter.oga", "ogg", 870, "vorbis", 96000, 2, 0, nullptr, 0, 0},
    {"sound-theme-freedesktop__alarm-clock-elapsed.oga", "ogg", 6100, "vorbis", 48000, 2, 0, nullptr, 0, 0},
    {"emacspeak__emacspeak.mp3", "mp3", 3700, "mp3float", 44100, 2, 128000, nullptr, 0, 0},
    {"jami-daemon__03_AcousticGuitar.opus", "ogg", 50400, "opus", 48000, 2, 0, nullptr, 0, 0},
    {"sonic-pi-samples__loop_tabla.flac", "flac", 10700, "flac", 44100, 2, 0, nullptr, 0, 0},
};

TEST_F(ProbeTest, SharedMediaReadAsTheyAreMeasured) {
  for (const MediaCase& c : kMedia) {
    SCOPED_TRACE(c.File);
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(SharedMedia(c.File))) << d.LastErrMsg();
    EXPECT_TRUE(d.OwnHandle());
    EXPECT_EQ(d.FormatName(), c.Format);
    EXPECT_EQ(d.FileName(), SharedMedia(c.File));
    EXPECT_EQ(d.FileSize(), static_cast<int64_t>(std::filesystem::file_size(SharedMedia(c.File))));

    const TFileStreamInfo info = d.FileStreamInfo();
    // The README rounds to a tenth of a second.
    EXPECT_NEAR(info.Duration / 1000.0, c.DurationMs, 50.0);
    EXPECT_GT(info.BitRate, 0);

    EXPECT_EQ(d.AudioStreamCount(), 1);
    EXPECT_EQ(d.VideoStreamCount(), c.VideoCodec ? 1 : 0);
    EXPECT_EQ(d.SubtitleStreamCount(), 0);

    TAudioStreamInfo audio;
    ASSERT_TRUE(d.GetAudioStreamInfo(-1, audio)) << d.LastErrMsg();
    EXPECT_TRUE(audio.CodecName.starts_with(std::string(c.AudioCodec) + "(")) << audio.CodecName;
    EXPECT_EQ(audio.SampleRate, c.SampleRate);
    EXPECT_EQ(audio.Channels, c.Channels);
    if (c.AudioBitRate) {
      EXPECT_EQ(audio.BitRate, c.AudioBitRate);
    }
    if (audio.DurationScaled != -1) {  // Matroska keeps no stream durations
      EXPECT_NEAR(audio.DurationScaled / 1000.0, c.DurationMs, c.VideoCodec ? 900.0 : 50.0);
    }

    const std::string text = d.FileInfoText();
    EXPECT_TRUE(Contains(text, std::string("Format Name: ") + c.Format + "\r\n")) << text;
    EXPECT_TRUE(Contains(text, "Duration: " + TimeText(info.Duration) + "\r\n")) << text;
    EXPECT_TRUE(Contains(text, "File Size: " + SizeText(d.FileSize()) + "\r\n")) << text;
    for (int i = 0; i < d.StreamCount(); ++i) EXPECT_TRUE(Contains(text, "Stream #" + std::to_string(i))) << text;
    const std::string audioCodecWord = std::string(c.AudioCodec) == "mp3float" ? "mp3" : c.AudioCodec;
    EXPECT_TRUE(Contains(text, "Audio: " + audioCodecWord)) << text;
    EXPECT_TRUE(Contains(text, std::to_string(c.SampleRate) + " Hz")) << text;

    TVideoStreamInfo video;
    if (c.VideoCodec) {
      ASSERT_TRUE(d.GetVideoStreamInfo(-1, video)) << d.LastErrMsg();
      EXPECT_TRUE(video.CodecName.starts_with(std::string(c.VideoCodec) + "(")) << video.CodecName;
      EXPECT_EQ(video.Width, c.Width);
      EXPECT_EQ(video.Height, c.Height);
      EXPECT_GT(video.FrameRate.num, 0);
      EXPECT_GT(video.FrameRate.den, 0);
      EXPECT_TRUE(Contains(text, std::string("Video: ") + c.VideoCodec)) << text;
      EXPECT_TRUE(Contains(text, std::to_string(c.Width) + "x" + std::to_string(c.Height))) << text;
    } else {
      EXPECT_FALSE(d.GetVideoStreamInfo(-1, video));
    }
  }
}

TEST_F(ProbeTest, VideoShapeAndRate) {
  struct Case {
    const char* File;
    float Aspect;
    int RateNum, RateDen;
  };
  // The DVD clip has non-square pixels (16:15, a 4:3 picture); the others
  // leave the shape unset or square.
  const Case cases[] = {
      {"devede__base_pal.mpg", 4.0f / 3.0f, 25, 1},
      {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", 560.0f / 320.0f, 30, 1},
      {"golang-github-gabriel-vasile-mimetype-dev__webm.webm", 560.0f / 320.0f, 30, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(SharedMedia(c.File))) << d.LastErrMsg();
    const TVideoStreamInfo v = d.FirstVideoStreamInfo();
    EXPECT_NEAR(v.AspectRatio, c.Aspect, 0.001);
    EXPECT_EQ(v.FrameRate.num * c.RateDen, c.RateNum * v.FrameRate.den);
    EXPECT_EQ(v.PixFmt, AV_PIX_FMT_YUV420P);
  }
}

TEST_F(ProbeTest, StreamsOfNoKindCountForIndexesOnly) {
  const std::string nut = test::WriteNut(
      test::ScratchDir() + "/data-first.nut",
      test::TNutContents{.DataStreamFirst = true, .Seconds = 1.0, .Metadata = {}, .AudioMetadata = {}, .Chapters = 0});
  struct Case {
    std::string File;
    int Streams, Audio, Video, FirstAudio, FirstVideo;
  };
  // The DVD clip opens with its navigation (data) stream.
  const Case cases[] = {
      {nut, 2, 1, 0, 1, -1},
      {SharedMedia("devede__base_pal.mpg"), 3, 1, 1, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(c.File)) << d.LastErrMsg();
    EXPECT_EQ(d.StreamCount(), c.Streams);
    EXPECT_EQ(d.AudioStreamCount(), c.Audio);
    EXPECT_EQ(d.VideoStreamCount(), c.Video);
    EXPECT_EQ(d.SubtitleStreamCount(), 0);
    EXPECT_EQ(d.FirstAudioStreamIndex(), c.FirstAudio);
    EXPECT_EQ(d.FirstVideoStreamIndex(), c.FirstVideo);
    EXPECT_EQ(d.FirstSubtitleStreamIndex(), -1);
    EXPECT_FALSE(d.IsAudioStream(0));
    EXPECT_TRUE(d.IsAudioStream(c.FirstAudio));
    // A stream of no kind still has a line of its own.
    EXPECT_TRUE(Contains(d.FileInfoText(), "Stream #0")) << d.FileInfoText();
  }
}

TEST_F(ProbeTest, StreamWithoutStartTimeKeepsTheNoTimeValue) {
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(SharedMedia("linphone-common__hello16000.wav"))) << d.LastErrMsg();
  const TAudioStreamInfo a = d.FirstAudioStreamInfo();
  EXPECT_EQ(a.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(a.StartTimeScaled, -1);
  EXPECT_EQ(a.Duration, 169984);  // samples at 16 kHz
  EXPECT_EQ(a.DurationScaled, 10624000);
  EXPECT_EQ(d.FileStreamInfo().StartTime, -1);
}

// ---- questions without an answer ----

TEST_F(ProbeTest, RecordsOfMissingStreamsAreEmptyAndSayWhy) {
  LogCapture log;
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4"))) << d.LastErrMsg();
  ASSERT_EQ(d.StreamCount(), 2);  // video 0, audio 1

  TAudioStreamInfo a;
  a.Channels = 99;
  EXPECT_FALSE(d.GetAudioStreamInfo(0, a));
  EXPECT_EQ(d.LastErrMsg(), "stream #0 is not audio stream.");
  EXPECT_EQ(a.Channels, -1);
  EXPECT_EQ(a.SampleRate, -1);
  EXPECT_EQ(a.CodecName, "");

  TVideoStreamInfo v;
  EXPECT_FALSE(d.GetVideoStreamInfo(5, v));
  EXPECT_EQ(d.LastErrMsg(), "stream index #5 is invalid.");
  EXPECT_EQ(v.Width, -1);
  EXPECT_EQ(v.AspectRatio, -1.0f);
  EXPECT_EQ(v.FrameRate.num, -1);

  TSubtitleStreamInfo s;
  EXPECT_FALSE(d.GetSubtitleStreamInfo(-1, s));
  EXPECT_EQ(d.LastErrMsg(), "no subtitle stream.");

  EXPECT_FALSE(d.IsVideoStream(5));
  EXPECT_EQ(d.LastErrMsg(), "stream index #5 is invalid.");
  EXPECT_FALSE(d.IsAudioStream(-1));
  EXPECT_EQ(d.LastErrMsg(), "stream index #-1 is invalid.");
  EXPECT_TRUE(log.Has(&d, llError, "stream #0 is not audio stream."));
  EXPECT_TRUE(log.Has(&d, llError, "no subtitle stream."));

  TCustomDecoder audioOnly;
  ASSERT_TRUE(audioOnly.LoadFile(SharedMedia("emacspeak__emacspeak.mp3")));
  const TVideoStreamInfo none = audioOnly.FirstVideoStreamInfo();
  EXPECT_EQ(audioOnly.LastErrMsg(), "no video stream.");
  EXPECT_EQ(none.Width, -1);
  EXPECT_EQ(none.Height, -1);
  EXPECT_EQ(none.BitRate, -1);
  EXPECT_EQ(none.StartTime, -1);
  EXPECT_EQ(none.PixFmt, -1);
}

TEST_F(ProbeTest, WithoutAFileEverythingIsEmpty) {
  LogCapture log;
  TCustomDecoder d;
  const TFileStreamInfo info = d.FileStreamInfo();
  EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
  EXPECT_TRUE(log.Has(&d, llWarning, "file not loaded."));
  EXPECT_EQ(info.StartTime, -1);
  EXPECT_EQ(info.Duration, -1);
  EXPECT_EQ(info.BitRate, -1);
  EXPECT_EQ(info.TimeStamp, -1);
  EXPECT_EQ(info.Year, -1);
  EXPECT_EQ(info.Track, -1);
  EXPECT_EQ(info.Title, "");
  EXPECT_EQ(d.FileName(), "");
  EXPECT_EQ(d.FormatName(), "");
  EXPECT_EQ(d.FormatLongName(), "");
  EXPECT_EQ(d.FileInfoText(), "");
  EXPECT_FALSE(d.IsAudioStream(0));
  EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
  EXPECT_EQ(d.StreamCount(), -1);
  EXPECT_EQ(d.AudioStreamCount(), -1);
  EXPECT_EQ(d.FirstAudioStreamIndex(), -1);
  EXPECT_EQ(d.FileSize(), -1);
}

TEST_F(ProbeTest, ForcedFormats) {
  const std::string wav = SharedMedia("linphone-common__hello16000.wav");
  {
    LogCapture log;
    TCustomDecoder d;
    EXPECT_FALSE(d.LoadFile(wav, "no_such_demuxer"));
    EXPECT_EQ(d.LastErrMsg(), "Unknown input format: no_such_demuxer");
    EXPECT_TRUE(log.From(&d).empty());  // a caller's slip, not the file's
    EXPECT_EQ(d.FileHandle(), nullptr);
  }
  {
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(wav, "wav")) << d.LastErrMsg();
    EXPECT_EQ(d.ForceFormat(), "wav");
    EXPECT_EQ(d.FormatName(), "wav");
    d.CloseFile();
    EXPECT_EQ(d.ForceFormat(), "");
  }
  {
    // The wrong demuxer: refused, and the decoder stays closed.
    LogCapture log;
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3")));
    EXPECT_FALSE(d.LoadFile(wav, "mov"));
    EXPECT_TRUE(d.LastErrMsg().starts_with(wav + ": ")) << d.LastErrMsg();
    EXPECT_TRUE(log.Has(&d, llError, d.LastErrMsg()));
    EXPECT_EQ(d.FileHandle(), nullptr);
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_EQ(d.ForceFormat(), "");
  }
}

TEST_F(ProbeTest, NamesTheLocaleCannotHoldStillOpen) {
  // Under the C locale a non-ASCII name has no narrow form and goes through
  // the program's own I/O path.
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = saved ? saved : "C";
  std::setlocale(LC_CTYPE, "C");
  const std::string name = test::ScratchDir() + "/Grüße – тест.wav";
  std::filesystem::copy_file(SharedMedia("linphone-common__hello16000.wav"), name);
  ASSERT_TRUE(NeedsUnicodeProtocol(name));
  TFFDecoder d;
  const bool loaded = d.LoadFile(name);
  std::string fileName = d.FileName();
  const bool decoded = loaded && d.DecodeAudio();
  std::setlocale(LC_CTYPE, restore.c_str());
  ASSERT_TRUE(loaded) << d.LastErrMsg();
  EXPECT_EQ(fileName, name);
  EXPECT_EQ(d.FileSize(), static_cast<int64_t>(std::filesystem::file_size(name)));
  EXPECT_TRUE(decoded) << d.LastErrMsg();
}

// ---- attached contexts ----

TEST_F(ProbeTest, AttachedContextStaysItsOwners) {
  TFFDecoder owner;
  ASSERT_TRUE(owner.LoadFile(SharedMedia("python3-mecavideo__balle1-vp9.avi"))) << owner.LastErrMsg();
  {
    TFFDecoder attached;
    attached.SetFileHandle(owner.FileHandle());
    EXPECT_FALSE(attached.OwnHandle());
    EXPECT_EQ(attached.StreamCount(), owner.StreamCount());
    EXPECT_EQ(attached.FirstAudioStreamIndex(), 1);
    EXPECT_EQ(attached.FileSize(), owner.FileSize());
    EXPECT_EQ(attached.FileInfoText(), owner.FileInfoText());
    EXPECT_EQ(attached.FirstAudioStreamInfo().SampleRate, 48000);

    // Decoding would move the owner's read position.
    EXPECT_THROW(attached.Decode(), Exception);
    EXPECT_EQ(attached.LastErrMsg(), "file cannot be seeked, handle is readonly.");
    EXPECT_THROW(attached.Seek(0), Exception);
    EXPECT_THROW(attached.DecodeAudio(), Exception);

    attached.CloseFile();
    EXPECT_EQ(attached.FileHandle(), nullptr);
    EXPECT_EQ(attached.StreamCount(), -1);
    attached.SetFileHandle(owner.FileHandle());
  }  // destroyed while attached
  // The owner's context is whole and still reads.
  ASSERT_NE(owner.FileHandle(), nullptr);
  EXPECT_TRUE(owner.Decode()) << owner.LastErrMsg();
  EXPECT_TRUE(owner.DecodeAudio()) << owner.LastErrMsg();

  TCustomDecoder probe;
  probe.SetFileHandle(owner.FileHandle());
  probe.SetFileHandle(nullptr);
  EXPECT_EQ(probe.StreamCount(), -1);
  EXPECT_TRUE(owner.Decode()) << owner.LastErrMsg();
}

TEST_F(ProbeTest, MissingLibrariesAreAnErrorNotAnAnswer) {
  TCustomDecoder d;
  FFLoader().Unload(TLibrary::avCodec);
  EXPECT_THROW(
      {
        try {
          d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3"));
        } catch (const Exception& e) {
          EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
          throw;
        }
      },
      Exception);
  EXPECT_FALSE(d.AVLibLoaded());
  d.SetFileHandle(nullptr);  // detaching needs nothing
  ASSERT_TRUE(d.LoadAVLib(""));
  EXPECT_TRUE(d.AVLibLoaded());
  EXPECT_TRUE(d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3"))) << d.LastErrMsg();
}

// ---- texts ----

TEST(MetadataTextTest, KeysReadInOneVocabulary) {
  const std::pair<const char*, const char*> cases[] = {
      {"TIT2", "title"},         {"tit2", "tit2"},
      {"IART", "artist"},        {"WM/AlbumTitle", "album"},
      {"Author", "artist"},      {"author", "author"},
      {"TDEN", "creation_time"}, {"TSOA", "album-sort"},
      {"TRK", "track"},          {"LEAD_PERFORMER", "performer"},
      {"title", "title"},        {"", ""},
  };
  for (const auto& [key, name] : cases) EXPECT_EQ(MetadataDisplayName(key), name) << key;
}

TEST_F(ProbeTest, MetadataBlocks) {
  struct Dict {
    AVDictionary* m = nullptr;
    ~Dict() { avutil.av_dict_free(&m); }
    void Set(const char* k, const char* v) { avutil.av_dict_set(&m, k, v, AV_DICT_MATCH_CASE); }
  };
  EXPECT_EQ(MetadataBlockText(nullptr, ""), "");
  {
    Dict d;
    d.Set("language", "eng");
    EXPECT_EQ(MetadataBlockText(d.m, "  "), "");  // shown in the stream line instead
  }
  {
    Dict d;
    d.Set("TIT2", "Upper");
    d.Set("tit2", "lower");
    d.Set("language", "eng");
    d.Set("WM/Composer", "Someone");
    EXPECT_EQ(MetadataBlockText(d.m, "  "),
              "  Metadata:\r\n"
              "    title           : Upper\r\n"
              "    tit2            : lower\r\n"
              "    composer        : Someone\r\n");
  }
}

TEST_F(ProbeTest, CodecNamesWithoutADecoder) {
  AVCodecParameters* par = avcodec.avcodec_parameters_alloc();
  ASSERT_NE(par, nullptr);
  par->codec_id = AV_CODEC_ID_MPEG2TS;
  EXPECT_EQ(CodecNameText(*par), "mpeg2ts");
  par->codec_id = AV_CODEC_ID_NONE;
  par->codec_tag = MKTAG('Q', 'D', 'A', 'T');
  EXPECT_EQ(CodecNameText(*par), "QDAT / 0x54414451");
  par->codec_tag = MKTAG('Q', 1, 'A', 'T');
  EXPECT_EQ(CodecNameText(*par), "0x54410151");
  par->codec_id = AV_CODEC_ID_BIN_DATA;
  EXPECT_EQ(CodecNameText(*par), "bin_data");
  par->codec_id = AV_CODEC_ID_PCM_S16LE;
  EXPECT_EQ(CodecNameText(*par), "pcm_s16le(PCM signed 16-bit little-endian)");
  avcodec.avcodec_parameters_free(&par);
}

TEST_F(ProbeTest, InfoTextOfContainerMetadataChaptersAndStreams) {
  test::TNutContents contents;
  contents.Seconds = 2.0;
  contents.Chapters = 2;
  contents.Metadata = {{"TIT2", "Raw Title"}, {"artist", "A. Singer"}, {"date", "1999-12-31"}, {"track", "7/12"}};
  contents.AudioMetadata = {{"language", "fre"}};
  const std::string file = test::WriteNut(test::ScratchDir() + "/tagged.nut", contents);

  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
  const std::string text = d.FileInfoText();
  EXPECT_TRUE(text.starts_with("File Name: " + file + "\r\nFormat Name: nut\r\nFormat Long Name: NUT\r\n")) << text;
  EXPECT_TRUE(Contains(text,
                       "Metadata:\r\n"
                       "  title           : Raw Title\r\n"
                       "  artist          : A. Singer\r\n"))
      << text;
  EXPECT_TRUE(Contains(text,
                       "Chapter #0: start 0.00, end 1.00\r\n"
                       "  Metadata:\r\n"
                       "    title           : Movement 1\r\n"
                       "Chapter #1: start 1.00, end 2.00\r\n"))
      << text;
  // The language shows in the stream line; with nothing else there is no
  // metadata block after it.
  const size_t stream = text.find("Stream #0(fre), 1/8000: Audio: pcm_s16le");
  ASSERT_NE(stream, std::string::npos) << text;
  EXPECT_FALSE(Contains(text.substr(stream), "Metadata")) << text;
  EXPECT_TRUE(text.ends_with("\r\n"));
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    EXPECT_EQ(text[at - 1], '\r') << "line break without CR at " << at;

  const TFileStreamInfo info = d.FileStreamInfo();
  EXPECT_EQ(info.Year, 1999);
  EXPECT_EQ(info.Track, 7);
  EXPECT_EQ(info.Author, "A. Singer");  // today's containers say "artist"
  EXPECT_EQ(info.Title, "");            // the raw key is only translated for display
  EXPECT_EQ(d.FirstAudioStreamInfo().Language, "fre");
}

TEST_F(ProbeTest, ProgramsListTheirStreams) {
  const std::string ts = test::WriteTransportStream(
      test::ScratchDir() + "/service.ts", SharedMedia("devede__base_pal.mpg"), "Quorvel Test", "Tone Service");
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(ts)) << d.LastErrMsg();
  EXPECT_EQ(d.ProgramCount(), 1);
  const std::string text = d.FileInfoText();
  // Transport streams show their stream ids.
  EXPECT_TRUE(Contains(text,
                       "Program 1 Quorvel Test@Tone Service\r\n"
                       "  Metadata:\r\n"
                       "    service_name    : Tone Service\r\n"
                       "    service_provider: Quorvel Test\r\n"
                       "Stream #0[0x100], 1/90000: Audio: "))
      << text;
  EXPECT_EQ(text.find("Stream #0"), text.rfind("Stream #0")) << "a stream listed twice:\n" << text;
}

// The creation time is UTC; the text shows it in local time.
class TimeZoneTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    const char* tz = std::getenv("TZ");
    FHadTZ = tz != nullptr;
    if (tz) FSavedTZ = tz;
    // 5 h 45 min east of UTC, without any zone database.
    ::setenv("TZ", "QRV-05:45", 1);
    ::tzset();
  }
  void TearDown() override {
    if (FHadTZ)
      ::setenv("TZ", FSavedTZ.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool FHadTZ = false;
  std::string FSavedTZ;
};

TEST_F(TimeZoneTest, CreationTimeIsShownInLocalTime) {
  struct Case {
    const char* Created;
    int64_t TimeStamp;
    const char* Shown;
  };
  const Case cases[] = {
      // UTC, across a leap day into the next month locally.
      {"2020-02-29T23:30:00.000000Z", 1583019000, "Time Stamp: 2020-03-01 05:15:00\r\n"},
      // Without a zone the text is local time already.
      {"2020-02-29 23:30:00", 1583019000 - (5 * 3600 + 45 * 60), "Time Stamp: 2020-02-29 23:30:00\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Created);
    test::TNutContents contents;
    contents.Metadata = {{"creation_time", c.Created}};
    const std::string file = test::WriteNut(test::ScratchDir() + "/stamped.nut", contents);
    TCustomDecoder d;
    ASSERT_TRUE(d.LoadFile(file)) << d.LastErrMsg();
    EXPECT_EQ(d.FileStreamInfo().TimeStamp, c.TimeStamp);
    EXPECT_TRUE(Contains(d.FileInfoText(), c.Shown)) << d.FileInfoText();
  }
  // No creation time: no line.
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3")));
  EXPECT_EQ(d.FileStreamInfo().TimeStamp, 0);
  EXPECT_FALSE(Contains(d.FileInfoText(), "Time Stamp")) << d.FileInfoText();
}

}  // namespace
}  // namespace quorvel
