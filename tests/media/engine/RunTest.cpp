// Whole conversions, read back: every codec the profiles offer, real
// inputs (also the audio track of video files), volume, trims, join mode,
// lossless 24-bit, the audio hook and progress reports, and inputs that
// cannot be converted.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <thread>

#include "RunTestSupport.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

using test::DecodeAudio;
using test::MakeTone;
using test::TDecodedAudio;
using test::TOptionList;

class RunTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override { dir = test::ScratchDir(); }

  // Options before the inputs, the inputs, options for the output, the
  // output; runs on this thread. Returns the job for its results.
  std::unique_ptr<TCustomFFmpeg> Convert(const std::vector<std::string>& AInputs, const std::string& AOutput,
                                         const TOptionList& AOutputOptions, const TOptionList& AInputOptions = {},
                                         bool AJoin = false) {
    auto job = std::make_unique<TCustomFFmpeg>(8);
    for (const std::string& input : AInputs) {
      test::ApplyOptions(*job, AInputOptions);
      EXPECT_TRUE(job->open_input_file(input)) << job->LastErrMsg();
    }
    test::ApplyOptions(*job, AOutputOptions);
    EXPECT_GE(job->open_output_file(AOutput, AJoin), 1) << job->LastErrMsg();
    if (AJoin) job->prepare_join();
    int terminated = 0;
    job->OnTerminate = [&](TObject*) { ++terminated; };
    EXPECT_EQ(job->StartConvert(false), nullptr);
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(job->Terminated());
    EXPECT_FALSE(job->Converting());
    return job;
  }

  std::string dir;
};

// --- every codec of the profiles ---

struct CodecCase {
  const char* codec;
  const char* file;
  const char* format;  // demuxer name reading it back
  int rate, channels;
  int frameSamples;  // tolerance of the length: one encoder frame
  const char* bitRate;
};

// Named by its codec and file: without it the test's name would print the
// case's bytes, padding never written included.
void PrintTo(const CodecCase& ACase, std::ostream* AOut) { *AOut << ACase.codec << " -> " << ACase.file; }

class ProfileCodecTest : public RunTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(ProfileCodecTest, ConvertsAToneAndDecodesBackWithItsParameters) {
  const CodecCase& c = GetParam();
  const std::string input = MakeTone(dir, "in.wav", 44100, 2, 2.0, 0.5);
  const std::string out = dir + "/" + c.file;
  TOptionList options{{"acodec", c.codec}, {"ar", std::to_string(c.rate)}, {"ac", std::to_string(c.channels)}};
  if (c.bitRate) options.push_back({"ab", c.bitRate});
  auto job = Convert({input}, out, options);
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  EXPECT_TRUE(job->Finished());

  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_NE(back.Format.find(c.format), std::string::npos) << back.Format;
  EXPECT_EQ(back.CodecId, avcodec.avcodec_find_encoder_by_name(c.codec)->id) << back.Codec;
  EXPECT_EQ(back.SampleRate, c.rate);
  EXPECT_EQ(back.Channels, c.channels);
  EXPECT_NEAR(back.Seconds, 2.0, static_cast<double>(c.frameSamples) / c.rate) << c.codec;
  // A 440 Hz sine at half scale: -9 dB RMS (lossy codecs keep it within 1 dB).
  EXPECT_NEAR(back.RmsDb(), 20 * std::log10(0.5 / std::sqrt(2.0)), 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryProfileCodec, ProfileCodecTest,
    ::testing::Values(CodecCase{"libmp3lame", "out.mp3", "mp3", 44100, 2, 1152, "128000"},
                      CodecCase{"aac", "out.m4a", "mov", 48000, 2, 1024, "192000"},
                      CodecCase{"libvorbis", "out.ogg", "ogg", 44100, 1, 2048, "96000"},
                      CodecCase{"libopus", "out.opus", "ogg", 48000, 2, 960, "64000"},
                      CodecCase{"flac", "out.flac", "flac", 96000, 1, 1, nullptr},
                      CodecCase{"alac", "alac.m4a", "mov", 44100, 2, 1, nullptr},
                      CodecCase{"pcm_s16le", "out.wav", "wav", 22050, 1, 1, nullptr},
                      CodecCase{"pcm_s16be", "out.aiff", "aiff", 44100, 2, 1, nullptr},
                      CodecCase{"wmav2", "out.wma", "asf", 44100, 2, 2048, "128000"},
                      CodecCase{"ac3", "out.ac3", "ac3", 48000, 2, 1536, "192000"},
                      CodecCase{"mp2", "out.mp2", "mp3", 32000, 2, 1152, "192000"}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.codec); });

// --- real inputs ---

struct InputCase {
  const char* file;
  double seconds;  // measured length of the audio
};

void PrintTo(const InputCase& ACase, std::ostream* AOut) { *AOut << ACase.file; }

class RealInputTest : public RunTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(RealInputTest, ItsAudioBecomesAnMp3OfTheSameLength) {
  const std::string out = dir + "/out.mp3";
  // The audio track's own length (a video may last longer than its sound).
  const TDecodedAudio source = DecodeAudio(test::SharedMedia(GetParam().file));
  ASSERT_TRUE(source.Ok) << source.Error;
  EXPECT_NEAR(source.Seconds, GetParam().seconds, 0.5);
  auto job = Convert({test::SharedMedia(GetParam().file)}, out,
                     {{"vn", "1"}, {"acodec", "libmp3lame"}, {"ab", "128000"}, {"ar", "44100"}, {"ac", "2"}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_EQ(back.Codec, "mp3float");
  EXPECT_EQ(back.Channels, 2);
  EXPECT_NEAR(back.Seconds, source.Seconds, 0.03);
  EXPECT_GT(back.Rms, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    SharedMedia, RealInputTest,
    ::testing::Values(InputCase{"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", 5.6},
                      InputCase{"golang-github-gabriel-vasile-mimetype-dev__webm.webm", 5.6},
                      InputCase{"python3-mecavideo__balle1-vp9.avi", 1.13},
                      InputCase{"linphone-common__hello16000.wav", 10.6},
                      InputCase{"libpython3.11-testsuite__pluck-ulaw.au", 0.30},
                      InputCase{"sound-theme-freedesktop__camera-shutter.oga", 0.87},
                      InputCase{"emacspeak__emacspeak.mp3", 3.7}),
    [](const ::testing::TestParamInfo<InputCase>& info) {
      std::string name = info.param.file;
      name = name.substr(name.find("__") + 2);
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST_F(RunTest, SpeechFromEspeakBecomesVorbis) {
  const std::string speech = dir + "/speech.wav";
  ASSERT_EQ(test::Run("espeak-ng -w '" + speech + "' 'Quorvel converts audio files in batches.'"), 0);
  const TDecodedAudio source = DecodeAudio(speech);
  ASSERT_TRUE(source.Ok);
  const std::string out = dir + "/speech.ogg";
  auto job = Convert({speech}, out, {{"acodec", "libvorbis"}, {"ar", "44100"}, {"ac", "2"}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_EQ(back.SampleRate, 44100);
  EXPECT_NEAR(back.Seconds, source.Seconds, 0.05);
}

// --- volume ---

struct VolumeCase {
  const char* codec;
  const char* file;
  int volume;
  double gainDb;  // expected change; -1000: silence
};

void PrintTo(const VolumeCase& ACase, std::ostream* AOut) {
  *AOut << ACase.codec << " at " << ACase.volume << " %";
}

class VolumeTest : public RunTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeTest, ScalesTheLevel) {
  const VolumeCase& c = GetParam();
  const std::string input = MakeTone(dir, "in.wav", 44100, 2, 1.0, 0.25);
  const std::string out = dir + "/" + c.file;
  auto job = Convert({input}, out, {{"acodec", c.codec}, {"vol", std::to_string(c.volume)}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio back = DecodeAudio(out, false, 0.2, 0.8);
  ASSERT_TRUE(back.Ok) << back.Error;
  const double sourceDb = 20 * std::log10(0.25 / std::sqrt(2.0));
  if (c.gainDb <= -1000)
    EXPECT_LT(back.Peak, 1e-4);
  else
    EXPECT_NEAR(back.RmsDb() - sourceDb, c.gainDb, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, VolumeTest,
    ::testing::Values(VolumeCase{"pcm_s16le", "half.wav", 128, -6.02}, VolumeCase{"pcm_s16le", "double.wav", 512, 6.02},
                      VolumeCase{"pcm_s16le", "zero.wav", 0, -1000}, VolumeCase{"libmp3lame", "half.mp3", 128, -6.02},
                      VolumeCase{"libmp3lame", "double.mp3", 512, 6.02}, VolumeCase{"libmp3lame", "zero.mp3", 0, -1000},
                      VolumeCase{"flac", "double.flac", 512, 6.02}),
    [](const ::testing::TestParamInfo<VolumeCase>& info) {
      std::string name = info.param.file;
      name[name.find('.')] = '_';
      return name;
    });

// A tone keeps its level when the channel count changes either way.
TEST_F(RunTest, ChannelChangesKeepTheLevel) {
  const struct {
    int inChannels;
    int outChannels;
  } cases[] = {{1, 2}, {2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.inChannels) + " -> " + std::to_string(c.outChannels));
    const std::string input = MakeTone(dir, "in" + std::to_string(c.inChannels) + ".wav", 44100, c.inChannels, 1.0, 0.25);
    const std::string out = dir + "/out" + std::to_string(c.outChannels) + ".wav";
    auto job = Convert({input}, out, {{"acodec", "pcm_s16le"}, {"ac", std::to_string(c.outChannels)}});
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const TDecodedAudio back = DecodeAudio(out, false, 0.2, 0.8);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_EQ(back.Channels, c.outChannels);
    EXPECT_NEAR(back.RmsDb(), 20 * std::log10(0.25 / std::sqrt(2.0)), 0.2);
  }
}

TEST_F(RunTest, SixteenBitVolumeKeepsItsRoundingAndClipsAtFullScale) {
  // Input full-scale square-ish tone: doubling clips to the 16-bit limits.
  const std::string input = MakeTone(dir, "loud.wav", 8000, 1, 0.5, 0.9);
  const TDecodedAudio source = DecodeAudio(input, true);
  const std::string out = dir + "/out.wav";
  auto job = Convert({input}, out, {{"acodec", "pcm_s16le"}, {"vol", "512"}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio back = DecodeAudio(out, true);
  ASSERT_EQ(back.Raw.size(), source.Raw.size());
  for (size_t i = 0; i + 1 < source.Raw.size(); i += 2) {
    int16_t s, o;
    std::memcpy(&s, &source.Raw[i], 2);
    std::memcpy(&o, &back.Raw[i], 2);
    ASSERT_EQ(o, std::clamp((s * 512 + 128) >> 8, -32768, 32767)) << "sample " << i / 2;
  }
}

// --- trims ---

class TrimTest : public RunTest {
protected:
  // 1 s of silence, then 3 s of tone.
  void SetUp() override {
    RunTest::SetUp();
    const std::string silence = MakeTone(dir, "silence.wav", 44100, 2, 1.0, 0.0);
    const std::string tone = MakeTone(dir, "tone.wav", 44100, 2, 3.0, 0.5);
    input = dir + "/in.wav";
    ASSERT_EQ(test::Run("sox '" + silence + "' '" + tone + "' '" + input + "'"), 0);
  }
  std::string input;
};

TEST_F(TrimTest, StartAndLengthBeforeOrAfterTheInputCutExactly) {
  struct Case {
    const char* name;
    bool startBeforeInput;
    const char* codec;
    const char* file;
    int frameSamples;
  } cases[] = {{"input seek, wav", true, "pcm_s16le", "a.wav", 1},
               {"output start, wav", false, "pcm_s16le", "b.wav", 1},
               {"input seek, mp3", true, "libmp3lame", "c.mp3", 1152},
               {"output start, aac", false, "aac", "d.m4a", 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOptionList before, after{{"acodec", c.codec}, {"t", "1.5"}};
    (c.startBeforeInput ? before : after).push_back({"ss", "1"});
    const std::string out = dir + "/" + c.file;
    auto job = Convert({input}, out, after, before);
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const TDecodedAudio back = DecodeAudio(out, false, 0.0, 0.1);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_NEAR(back.Seconds, 1.5, static_cast<double>(c.frameSamples) / 44100 + 1e-6);
    // The tone starts at once: the silence before 1 s was cut away.
    EXPECT_GT(back.Rms, 0.2);
  }
}

// --- join mode ---

TEST_F(RunTest, JoinedOutputIsAsLongAsItsInputsTogether) {
  const std::string first = MakeTone(dir, "a.wav", 44100, 2, 1.0, 0.5);
  const std::string second = MakeTone(dir, "b.wav", 22050, 1, 1.5, 0.5, 16, 880);
  const std::string third = test::SharedMedia("emacspeak__emacspeak.mp3");
  const TDecodedAudio thirdSource = DecodeAudio(third);
  struct Case {
    const char* codec;
    const char* file;
    int frameSamples;
  } cases[] = {{"pcm_s16le", "joined.wav", 1}, {"libmp3lame", "joined.mp3", 1152}, {"aac", "joined.m4a", 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    const std::string out = dir + "/" + c.file;
    int64_t total = 0;
    int lastIndex = -2;
    std::vector<int> indexes;
    auto job = std::make_unique<TCustomFFmpeg>(8);
    for (const std::string& input : {first, second, third}) ASSERT_TRUE(job->open_input_file(input));
    test::ApplyOptions(*job, {{"acodec", c.codec}, {"ar", "44100"}, {"ac", "2"}});
    ASSERT_EQ(job->open_output_file(out, true), 1) << job->LastErrMsg();
    job->prepare_join();
    ASSERT_TRUE(job->JoinMode());
    job->ReportInterval = 0;
    job->OnProgress = [&](TObject*, int AFileIndex, int, int, float, float, int64_t, int64_t, int64_t ATotal) {
      total = ATotal;
      if (indexes.empty() || indexes.back() != AFileIndex) indexes.push_back(AFileIndex);
      lastIndex = AFileIndex;
    };
    job->StartConvert(false);
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const TDecodedAudio back = DecodeAudio(out);
    ASSERT_TRUE(back.Ok) << back.Error;
    const double expected = 1.0 + 1.5 + thirdSource.Seconds;
    EXPECT_NEAR(back.Seconds, expected, static_cast<double>(c.frameSamples) / 44100 + 0.001);
    EXPECT_NEAR(static_cast<double>(total) / 1e6, expected, 0.1);
    // Progress names the input being read, in order, and -1 at the end.
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(lastIndex, -1);
  }
}

// --- lossless 24-bit ---

TEST_F(RunTest, TwentyFourBitSourcesStayBitExactInLosslessOutputs) {
  const std::string made = MakeTone(dir, "in24.flac", 48000, 2, 1.0, 0.7, 24);
  struct Case {
    std::string input;
    const char* codec;
    const char* file;
  } cases[] = {{made, "flac", "out.flac"},
               {test::SharedMedia("lmms-common__lfo_trancegate_whole.flac"), "flac", "lmms.flac"},
               {test::SharedMedia("libpython3.11-testsuite__pluck-pcm24.wav"), "flac", "pluck.flac"},
               {made, "alac", "out.m4a"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + " " + c.file);
    const std::string out = dir + "/" + c.file;
    auto job = Convert({c.input}, out, {{"acodec", c.codec}});
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const TDecodedAudio source = DecodeAudio(c.input, true);
    const TDecodedAudio back = DecodeAudio(out, true);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_EQ(back.BitsPerRawSample, 24);
    EXPECT_EQ(back.SampleRate, source.SampleRate);
    EXPECT_EQ(back.Channels, source.Channels);
    ASSERT_EQ(back.SampleFormat, source.SampleFormat);
    ASSERT_EQ(back.Raw.size(), source.Raw.size());
    EXPECT_TRUE(back.Raw == source.Raw);
  }
}

// --- hook and progress ---

TEST_F(RunTest, TheAudioHookSeesInterleavedSamplesBeforeTheVolume) {
  const std::string input = MakeTone(dir, "in.flac", 44100, 2, 1.0, 0.5);
  auto job = std::make_unique<TCustomFFmpeg>(2);
  ASSERT_TRUE(job->open_input_file(input));
  test::ApplyOptions(*job, {{"acodec", "libmp3lame"}, {"vol", "0"}});
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1);
  int64_t samples = 0, lastPts = -1;
  double peak = 0;
  bool packed = true, ordered = true;
  job->OnAudioHook = [&](TObject* Sender, int64_t APTS, uint8_t* ASample, int ASize, int ARate, int AChannels,
                         AVSampleFormat AFormat) {
    EXPECT_EQ(Sender, job.get());
    EXPECT_EQ(ARate, 44100);
    EXPECT_EQ(AChannels, 2);
    packed = packed && !avutil.av_sample_fmt_is_planar(AFormat);
    ordered = ordered && APTS > lastPts;
    lastPts = APTS;
    const int bps = avutil.av_get_bytes_per_sample(AFormat);
    for (int i = 0; i < ASize; i += bps) peak = std::max(peak, std::fabs(test::SampleValue(ASample + i, AFormat)));
    samples += ASize / (bps * AChannels);
  };
  job->StartConvert(false);
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  EXPECT_TRUE(packed);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(samples, 44100);
  EXPECT_NEAR(peak, 0.5, 0.01);  // volume 0 comes after the hook
}

TEST_F(RunTest, ProgressReportsCarryTheOutputPositionOfAnAudioJob) {
  const std::string input = MakeTone(dir, "in.wav", 44100, 2, 3.0, 0.5);
  auto job = std::make_unique<TCustomFFmpeg>(2);
  ASSERT_TRUE(job->open_input_file(input));
  test::ApplyOptions(*job, {{"acodec", "libmp3lame"}});
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1);
  job->ReportInterval = 0;
  std::vector<int64_t> positions;
  int last = 0;
  job->OnProgress = [&](TObject*, int AFileIndex, int AFrame, int AFPS, float AQuality, float ABitRate, int64_t ASize,
                        int64_t ADuration, int64_t ATotal) {
    EXPECT_EQ(AFrame, -1);
    EXPECT_EQ(AFPS, -1);
    EXPECT_EQ(AQuality, -1.0f);
    EXPECT_GE(ASize, 0);
    EXPECT_GE(ABitRate, 0.0f);
    EXPECT_EQ(ATotal, 3000000);
    positions.push_back(ADuration);
    if (AFileIndex == -1) ++last;
  };
  job->StartConvert(false);
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  ASSERT_GT(positions.size(), 2u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_NEAR(static_cast<double>(positions.back()) / 1e6, 3.0, 0.05);
  EXPECT_EQ(last, 1);
}

// --- video ---

TEST_F(RunTest, VideoIsCopiedOrReEncodedNextToTheAudio) {
  const std::string input = test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4");
  struct Case {
    const char* name;
    const char* file;
    TOptionList options;
    AVCodecID video;
  } cases[] = {{"copy", "copy.mkv", {{"vcodec", "copy"}, {"acodec", "libvorbis"}}, AV_CODEC_ID_H264},
               {"re-encode", "mpeg4.avi", {{"vcodec", "mpeg4"}, {"s", "280x160"}, {"acodec", "mp2"}}, AV_CODEC_ID_MPEG4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir + "/" + c.file;
    auto job = std::make_unique<TCustomFFmpeg>(2);
    ASSERT_TRUE(job->open_input_file(input));
    test::ApplyOptions(*job, c.options);
    ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
    int hooked = 0, previews = 0;
    const bool encodes = c.video != AV_CODEC_ID_H264;
    if (encodes) {
      job->OnOutputVideoHook = [&](TObject*, TBitmap& ABitmap, int, int64_t, bool& AUpdate, bool& AStopHook) {
        EXPECT_EQ(ABitmap.Width(), 280);
        EXPECT_EQ(ABitmap.Height(), 160);
        AUpdate = false;
        AStopHook = ++hooked == 3;
      };
      job->PreviewInterval = 0;
      job->set_post_hooks(phBitmap);
      job->OnPreviewBitmap = [&](TObject*, TBitmap&, int, int64_t) { ++previews; };
    }
    job->StartConvert(false);
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(avformat.avformat_open_input(&ic, out.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat.avformat_find_stream_info(ic, nullptr), 0);
    const int v = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(v, 0);
    EXPECT_EQ(ic->streams[v]->codecpar->codec_id, c.video);
    EXPECT_NEAR(static_cast<double>(ic->duration) / AV_TIME_BASE, 5.6, 0.3);
    if (encodes) {
      EXPECT_EQ(ic->streams[v]->codecpar->width, 280);
    }
    avformat.avformat_close_input(&ic);
    const TDecodedAudio back = DecodeAudio(out);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_NEAR(back.Seconds, 5.6, 0.2);
    if (encodes) {
      EXPECT_EQ(hooked, 3);  // the hook asked to stop
      EXPECT_GT(previews, 10);
    }
  }
}

// A preview window paints on the main thread while the run waits for it.
class TMainThreadPreviewer : public TPreviewer {
public:
  TMainThreadPreviewer(std::atomic<int>& APainted, std::atomic<bool>& AWaiting)
      : FPainted(APainted), FWaiting(AWaiting) {}
  bool PaintFrame(const TBitmap& ABitmap, int, int64_t) override {
    const int width = ABitmap.Width();
    FWaiting = true;  // until the main thread has painted
    CallInMainThread([&] {
      EXPECT_EQ(width, 280);
      FWaiting = false;
      ++FPainted;
    });
    return true;
  }

private:
  std::atomic<int>& FPainted;
  std::atomic<bool>& FWaiting;
};

TEST_F(RunTest, ThePreviewCanBeSwitchedOffFromTheMainThreadWhileItPaints) {
  InstallMainThread(nullptr);
  auto job = std::make_unique<TCustomFFmpeg>(2);
  ASSERT_TRUE(job->open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")));
  test::ApplyOptions(*job, {{"vcodec", "mpeg4"}, {"s", "280x160"}, {"acodec", "mp2"}});
  ASSERT_EQ(job->open_output_file(dir + "/preview.avi", false), 1) << job->LastErrMsg();
  std::atomic<int> painted{0};
  std::atomic<bool> waiting{false};
  std::atomic<bool> ended{false};
  job->PreviewInterval = 0;
  job->PreviewerFactory = [&] { return std::make_unique<TMainThreadPreviewer>(painted, waiting); };
  job->set_post_hooks(phPreview);
  job->OnTerminate = [&](TObject*) { ended = true; };
  job->StartConvert(true)->Resume();
  const auto serveUntil = [&](const std::function<bool()>& ADone) {
    while (!ADone()) {
      ProcessMainThreadCalls();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  serveUntil([&] { return painted > 0 || ended; });
  // Without serving, until the run is inside its next paint, waiting for
  // this thread: the change must not wait for the run in turn (it did,
  // for good: the run held the hook lock while it waited).
  while (!waiting && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job->set_post_hooks(0);
  const int before = painted;
  serveUntil([&] { return ended.load(); });
  job->Stop(true);
  EXPECT_FALSE(job->FatalException()) << job->FatalMessage();
  EXPECT_GT(before, 0);
  EXPECT_LE(painted - before, 1) << "previews went on after they were switched off";
  UninstallMainThread();
}

// --- refusals and broken inputs ---

TEST_F(RunTest, AnOutputThatIsOneOfTheInputsIsRefusedBeforeAnythingIsWritten) {
  const std::string input = MakeTone(dir, "in.wav", 8000, 1, 0.5);
  const int64_t size = test::FileSizeOf(input);
  auto job = std::make_unique<TCustomFFmpeg>(2);
  ASSERT_TRUE(job->open_input_file(input));
  job->SetExtOption("acodec", "pcm_s16le");
  // The same file under another name.
  const std::string alias = dir + "/./in.wav";
  EXPECT_EQ(job->open_output_file(alias, false), -1);
  EXPECT_NE(job->LastErrMsg().find("input file #0"), std::string::npos) << job->LastErrMsg();
  EXPECT_EQ(test::FileSizeOf(input), size);
  EXPECT_EQ(job->nb_output_files(), 0);
}

TEST_F(RunTest, AnInputThatCannotBeDecodedEndsTheRunWithAClearFatalMessage) {
  // An unreadable file is refused when it is opened, with the system's reason.
  const std::string locked = MakeTone(dir, "locked.wav", 8000, 1, 0.2);
  {
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    // An administrator reads everything: take a plain user's file access
    // for this thread while opening.
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    auto refused = std::make_unique<TCustomFFmpeg>(2);
    const bool opened = refused->open_input_file(locked);
    if (root) ::setfsuid(0);
    EXPECT_FALSE(opened);
    EXPECT_EQ(refused->LastErrMsg(), locked + ": Permission denied");
  }

  // A WAV that claims MP3 data but holds none the decoder accepts.
  const std::string input = dir + "/broken.wav";
  {
    std::ofstream f(input, std::ios::binary);
    std::vector<uint8_t> data(20000);
    uint32_t seed = 12345;
    for (uint8_t& b : data) {
      seed = seed * 1103515245 + 12345;
      b = static_cast<uint8_t>(seed >> 16);
    }
    // Frame headers that announce layer III frames, with random bodies.
    for (size_t pos = 0; pos + 4 < data.size(); pos += 418) {
      data[pos] = 0xFF;
      data[pos + 1] = 0xFB;
      data[pos + 2] = 0x90;
      data[pos + 3] = 0x64;
    }
    const auto put32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f.write("RIFF", 4);
    put32(static_cast<uint32_t>(36 + data.size()));
    f.write("WAVEfmt ", 8);
    put32(16);
    put16(0x55);
    put16(2);
    put32(44100);
    put32(16000);
    put16(1);
    put16(0);
    f.write("data", 4);
    put32(static_cast<uint32_t>(data.size()));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  const std::string out = dir + "/out.mp3";
  auto job = std::make_unique<TCustomFFmpeg>(2);
  ASSERT_TRUE(job->open_input_file(input)) << job->LastErrMsg();
  test::ApplyOptions(*job, {{"acodec", "libmp3lame"}});
  ASSERT_EQ(job->open_output_file(out, false), 1);
  int terminated = 0;
  job->OnTerminate = [&](TObject*) { ++terminated; };
  job->StartConvert(false);
  EXPECT_TRUE(job->FatalException());
  EXPECT_NE(job->FatalMessage().find("Error while decoding stream #0.0 (Audio)"), std::string::npos)
      << job->FatalMessage();
  EXPECT_FALSE(job->Finished());
  EXPECT_EQ(terminated, 1);
  // Nothing but a header was written: no output is left behind.
  EXPECT_FALSE(test::FileExists(out));
}

TEST_F(RunTest, AStreamCopyKeepsThePacketsAndRefusesAVolume) {
  const std::string input = test::SharedMedia("emacspeak__emacspeak.mp3");
  const std::string out = dir + "/copy.mp3";
  auto job = Convert({input}, out, {{"acodec", "copy"}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio source = DecodeAudio(input), back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_NEAR(back.Seconds, source.Seconds, 0.03);

  auto refused = Convert({input}, dir + "/copy2.mp3", {{"acodec", "copy"}, {"vol", "512"}});
  EXPECT_TRUE(refused->FatalException());
  EXPECT_EQ(refused->FatalMessage(), "-acodec copy and -vol are incompatible (frames are not decoded)");
  EXPECT_FALSE(test::FileExists(dir + "/copy2.mp3"));
}

// --- damaged samples ---

// A 32-bit float stereo WAV at 44.1 kHz: a 440 Hz sine at half scale with
// stretches of NaN, +inf, -inf, of a value no signal has (1e30, which
// overflows the encoders' arithmetic) and of 1.5 (beyond full scale, and a
// sample still).
struct TDamagedStretch {
  double From, To;  // seconds
  float Value;
  bool Kept;
};
const TDamagedStretch kDamagedStretches[] = {{0.4, 0.7, std::nanf(""), false},
                                             {1.0, 1.3, std::numeric_limits<float>::infinity(), false},
                                             {1.6, 1.9, -std::numeric_limits<float>::infinity(), false},
                                             {2.2, 2.5, 1.5f, true},
                                             {2.8, 3.1, -1e30f, false}};

std::string WriteDamagedFloatWav(const std::string& ADir) {
  const std::string path = ADir + "/damaged.wav";
  const int rate = 44100, channels = 2;
  const uint32_t frames = 4 * rate;
  std::vector<float> samples(static_cast<size_t>(frames) * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    float v = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * t));
    for (const auto& d : kDamagedStretches)
      if (t >= d.From && t < d.To) v = d.Value;
    samples[2 * i] = samples[2 * i + 1] = v;
  }
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * 4);
  std::ofstream f(path, std::ios::binary);
  const auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  f.write("RIFF", 4);
  u32(36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(3);  // IEEE float
  u16(channels);
  u32(rate);
  u32(rate * channels * 4);
  u16(channels * 4);
  u16(32);
  f.write("data", 4);
  u32(bytes);
  f.write(reinterpret_cast<const char*>(samples.data()), bytes);
  return path;
}

// A WAV file may carry DTS frames as its "PCM" data (made for players that
// pass the data on to a decoder). Opening it must still find the DTS stream,
// though a plain WAV's data is probed only briefly for such a bitstream.
TEST_F(RunTest, AWavCarryingADtsBitstreamIsReadAsDts) {
  const std::string input = MakeTone(dir, "in.wav", 44100, 2, 2.0, 0.5);
  const std::string dts = dir + "/tone.dts";
  auto encoded = Convert({input}, dts, {{"acodec", "dca"}, {"strict", "-2"}, {"ar", "44100"}, {"ac", "2"}});
  ASSERT_FALSE(encoded->FatalException()) << encoded->FatalMessage();
  std::ifstream in(dts, std::ios::binary);
  const std::string frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(frames.size(), 64u * 1024);

  const std::string carrier = dir + "/dts-in.wav";
  {
    std::ofstream f(carrier, std::ios::binary);
    const auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(frames.size());
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);  // PCM, as such files declare themselves
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(frames.data(), bytes);
  }
  TCustomFFmpeg job(1);
  ASSERT_TRUE(job.open_input_file(carrier)) << job.LastErrMsg();
  ASSERT_EQ(job.InputSlot(0).codecs.size(), 1u);
  EXPECT_EQ(job.InputSlot(0).codecs[0]->codec_id, AV_CODEC_ID_DTS);
}

TEST_F(RunTest, SamplesThatAreNotNumbersBecomeSilenceForEveryEncoder) {
  const std::string input = WriteDamagedFloatWav(dir);
  const struct {
    const char* Codec;
    const char* File;
    bool Lossless;
  } cases[] = {{"libmp3lame", "out.mp3", false}, {"aac", "out.m4a", false}, {"libvorbis", "out.ogg", false},
               {"libopus", "out.opus", false},   {"wmav2", "out.wma", false}, {"ac3", "out.ac3", false},
               {"mp2", "out.mp2", false},        {"pcm_f32le", "out.wav", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Codec);
    test::TLogCapture log;
    const std::string out = dir + "/" + c.File;
    auto job = Convert({input}, out, {{"acodec", c.Codec}});
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const std::vector<std::string> lines = log.Texts();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& l) {
                              return l.find("not numbers") != std::string::npos && l.find(input) != std::string::npos;
                            }),
              1);

    const TDecodedAudio back = DecodeAudio(out, true);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_NEAR(back.Seconds, 4.0, 0.1);
    const int bps = avutil.av_get_bytes_per_sample(back.SampleFormat);
    bool finite = true;
    for (size_t i = 0; i + bps <= back.Raw.size(); i += bps)
      finite = finite && std::isfinite(test::SampleValue(back.Raw.data() + i, back.SampleFormat));
    EXPECT_TRUE(finite);
    // The middle of each stretch, away from the encoders' smearing.
    for (const auto& d : kDamagedStretches) {
      const double from = d.From + 0.1, to = d.To - 0.1;
      const TDecodedAudio part = DecodeAudio(out, false, from, to);
      if (d.Kept) {
        if (c.Lossless) {
          EXPECT_FLOAT_EQ(part.Peak, 1.5);  // beyond full scale, and kept
        }
      } else {
        EXPECT_LT(part.Peak, 0.01) << "at " << d.From;
      }
    }
    EXPECT_NEAR(DecodeAudio(out, false, 3.3, 3.9).Rms, 0.5 / std::sqrt(2.0), 0.05);
  }
}

// --- synchronisation with the input clock ---

// Writes 16-bit PCM blocks at chosen time stamps into a NUT file, whose
// time stamps the demuxer hands on as they are: the blocks as (position in
// samples, length in samples, tone or digital silence).
struct TPcmBlock {
  int64_t Position;
  int Samples;
  bool Tone;
};

std::string WriteTimedPcm(const std::string& APath, int ARate, const std::vector<TPcmBlock>& ABlocks) {
  const int channels = 2;
  AVFormatContext* oc = nullptr;
  EXPECT_GE(avformat.avformat_alloc_output_context2(&oc, nullptr, "nut", APath.c_str()), 0);
  if (!oc) return APath;
  AVStream* st = avformat.avformat_new_stream(oc, nullptr);
  st->time_base = AVRational{1, ARate};
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = AV_CODEC_ID_PCM_S16LE;
  par->sample_rate = ARate;
  avutil.av_channel_layout_default(&par->ch_layout, channels);
  par->format = AV_SAMPLE_FMT_S16;
  par->bits_per_coded_sample = 16;
  par->block_align = 2 * channels;
  EXPECT_GE(avformat.avio_open2(&oc->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
  EXPECT_GE(avformat.avformat_write_header(oc, nullptr), 0);
  TPacketPtr pkt(avcodec.av_packet_alloc());
  int64_t phase = 0;
  for (const TPcmBlock& b : ABlocks) {
    avcodec.av_new_packet(pkt.get(), b.Samples * channels * 2);
    auto* data = reinterpret_cast<int16_t*>(pkt->data);
    for (int i = 0; i < b.Samples; ++i, ++phase)
      data[2 * i] = data[2 * i + 1] =
          b.Tone ? static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(phase) / ARate)) : 0;
    pkt->pts = pkt->dts = b.Position;
    pkt->duration = b.Samples;
    pkt->stream_index = 0;
    EXPECT_GE(avformat.av_write_frame(oc, pkt.get()), 0);
    avcodec.av_packet_unref(pkt.get());
  }
  avformat.av_write_trailer(oc);
  avformat.avio_closep(&oc->pb);
  avformat.avformat_free_context(oc);
  return APath;
}

// ASeconds of blocks of 1024 samples from APosition on.
void AddBlocks(std::vector<TPcmBlock>& ABlocks, int ARate, int64_t APosition, double ASeconds, bool ATone = true,
               double AClockRatio = 1.0) {
  const int64_t total = static_cast<int64_t>(ASeconds * ARate);
  for (int64_t done = 0; done < total; done += 1024)
    ABlocks.push_back({APosition + std::llround(static_cast<double>(done) * AClockRatio),
                       static_cast<int>(std::min<int64_t>(1024, total - done)), ATone});
}

TEST_F(RunTest, TheSyncMethodsFillGapsAndFollowDriftAsAsked) {
  const int r = 44100;
  std::vector<TPcmBlock> gap, small, drift;
  AddBlocks(gap, r, 0, 1.0);
  AddBlocks(gap, r, 2 * r, 1.0);  // a gap of one second
  AddBlocks(small, r, 0, 1.0);
  AddBlocks(small, r, r + 40, 1.0);  // 40 samples late: within the tolerance
  // Time stamps that run 0.2 % fast over 5 s: 441 samples, within the
  // drift threshold (0.1 s).
  AddBlocks(drift, r, 0, 5.0, true, 1.002);
  const std::string gapFile = WriteTimedPcm(dir + "/gap.nut", r, gap);
  const std::string smallFile = WriteTimedPcm(dir + "/small.nut", r, small);
  const std::string driftFile = WriteTimedPcm(dir + "/drift.nut", r, drift);

  const struct {
    const char* Name;
    std::string Input;
    const char* Async;
    int64_t InputSamples;
    int64_t MinAdded, MaxAdded;  // samples the output has beyond the input's
    bool SilentSecond;           // 1 s to 2 s is silence
  } cases[] = {
      {"one second gap, async 1", gapFile, "1", 2 * r, r, r, true},
      {"one second gap, async 0", gapFile, "0", 2 * r, 0, 0, false},
      {"40 samples, async 1", smallFile, "1", 2 * r, 0, 0, false},
      // The first deviation beyond 50 samples is made up at once (the
      // stream's start is aligned); after that, drift within the threshold
      // is left alone...
      {"drift, async 1", driftFile, "1", 5 * r, 50, 53, false},
      // ...or compensated by at most 2 samples per second of output...
      {"drift, async 2", driftFile, "2", 5 * r, 51 + 1, 53 + 2 * 5, false},
      // ...or, with a large allowance, followed closely.
      {"drift, async 1000", driftFile, "1000", 5 * r, 300, 441, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = dir + "/sync.wav";
    auto job = Convert({c.Input}, out, {{"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "2"}, {"async", c.Async}});
    ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
    const TDecodedAudio back = DecodeAudio(out);
    ASSERT_TRUE(back.Ok) << back.Error;
    EXPECT_GE(back.Samples - c.InputSamples, c.MinAdded);
    EXPECT_LE(back.Samples - c.InputSamples, c.MaxAdded);
    if (c.SilentSecond) {
      EXPECT_EQ(DecodeAudio(out, false, 1.0, 2.0).Peak, 0.0);
      EXPECT_GT(DecodeAudio(out, false, 2.0, 2.1).Peak, 0.4);
    }
  }
}

TEST_F(RunTest, SilenceForAGapFollowsWhatTheResamplerStillHolds) {
  // A tone, a gap of one second, then one second of digital silence, at
  // 48 kHz into 44.1 kHz: after the tone's end nothing but silence.
  std::vector<TPcmBlock> blocks;
  AddBlocks(blocks, 48000, 0, 1.0);
  AddBlocks(blocks, 48000, 2 * 48000, 1.0, false);
  const std::string input = WriteTimedPcm(dir + "/gap48.nut", 48000, blocks);
  const std::string out = dir + "/out.wav";
  auto job = Convert({input}, out, {{"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "2"}, {"async", "1"}});
  ASSERT_FALSE(job->FatalException()) << job->FatalMessage();
  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_NEAR(static_cast<double>(back.Samples), 3 * 44100.0, 64);
  EXPECT_GT(DecodeAudio(out, false, 0.9, 1.0).Peak, 0.4);
  EXPECT_LT(DecodeAudio(out, false, 1.01, 3.0).Peak, 0.001);
}

TEST_F(RunTest, AGapTooLargeForTheBuffersEndsTheRunWithItsMessage) {
  // Ten hours of gap: more silence than the sample buffers may hold.
  std::vector<TPcmBlock> blocks;
  AddBlocks(blocks, 44100, 0, 0.5);
  AddBlocks(blocks, 44100, int64_t{36000} * 44100, 0.5);
  const std::string input = WriteTimedPcm(dir + "/huge.nut", 44100, blocks);
  const std::string out = dir + "/out.wav";
  auto job = Convert({input}, out, {{"acodec", "pcm_s16le"}, {"async", "1"}});
  EXPECT_TRUE(job->FatalException());
  EXPECT_EQ(job->FatalMessage(), "Buffer sizes too large in do_audio_out");
}

}  // namespace
}  // namespace quorvel
