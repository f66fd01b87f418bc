// Opening inputs: settings written back, start positions, durations,
// failures, and the read-timeout guard against a server that never answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "EngineTestSupport.h"
#include "media/runtime/Exception.h"

namespace quorvel {
namespace {

using test::MakeWave;
using test::TLogCapture;

class InputFilesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override {
    dir = test::ScratchDir();
    job = std::make_unique<TCustomFFmpeg>(4);
  }
  const TEngineSettings& S() const { return job->Settings(); }

  std::string dir;
  std::unique_ptr<TCustomFFmpeg> job;
};

TEST_F(InputFilesTest, AnOpenedAudioInputWritesItsParametersBack) {
  const std::string wave = MakeWave(dir, "mono.wav", 22050, 1, 1);
  int before = 0;
  job->OnBeforeFindStreamInfo = [&](TObject* Sender, AVFormatContext* ctx) {
    EXPECT_EQ(Sender, job.get());
    EXPECT_NE(ctx, nullptr);
    ++before;
  };
  ASSERT_TRUE(job->open_input_file(wave)) << job->LastErrMsg();
  EXPECT_EQ(before, 1);
  EXPECT_EQ(job->nb_input_files(), 1);
  EXPECT_EQ(S().Faudio_sample_rate, 22050);
  EXPECT_EQ(S().Faudio_channels, 1);
  EXPECT_EQ(S().Faudio_sample_fmt, AV_SAMPLE_FMT_S16);
  // A plain WAV names no speaker layout.
  EXPECT_EQ(S().Fchannel_layout, 0);
  EXPECT_EQ(job->TotalOutputDuration(), 1000000);
  ASSERT_EQ(job->InputSlot(0).codecs.size(), 1u);
  EXPECT_EQ(job->InputSlot(0).codecs[0]->sample_rate, 22050);
  ASSERT_EQ(job->InputCodecs().size(), 1u);
  EXPECT_EQ(job->InputCodecs()[0], nullptr);
}

TEST_F(InputFilesTest, AStartPositionSeeksOneInputAndIsThenReset) {
  const std::string first = MakeWave(dir, "a.wav", 8000, 1, 3);
  const std::string second = MakeWave(dir, "b.wav", 8000, 1, 1);
  job->SetExtOption("ss", "00:00:02");
  ASSERT_TRUE(job->open_input_file(first)) << job->LastErrMsg();
  EXPECT_EQ(S().Fstart_time, 0);
  EXPECT_EQ(job->InputSlot(0).ts_offset, -2000000);
  // The next packet comes from two seconds in.
  AVPacket* packet = avcodec.av_packet_alloc();
  ASSERT_GE(avformat.av_read_frame(job->InputFile(0), packet), 0);
  const AVStream* st = job->InputFile(0)->streams[0];
  EXPECT_NEAR(packet->pts * av_q2d(st->time_base), 2.0, 0.05);
  avcodec.av_packet_free(&packet);

  ASSERT_TRUE(job->open_input_file(second)) << job->LastErrMsg();
  EXPECT_EQ(job->InputSlot(1).ts_offset, 0);
}

TEST_F(InputFilesTest, TheTimeOffsetKeepsCopiedTimeStampsUnshifted) {
  const std::string wave = MakeWave(dir, "a.wav", 8000, 1, 3);
  job->SetExtOption("itsoffset", "5");
  job->SetExtOption("copyts", "1");
  job->SetExtOption("ss", "1");
  ASSERT_TRUE(job->open_input_file(wave));
  EXPECT_EQ(job->InputSlot(0).ts_offset, 5000000);
}

TEST_F(InputFilesTest, TheLongestInputGivesTheOutputDuration) {
  const std::string shorter = MakeWave(dir, "short.wav", 8000, 1, 1);
  const std::string longer = MakeWave(dir, "long.wav", 8000, 1, 2);
  ASSERT_TRUE(job->open_input_file(longer));
  ASSERT_TRUE(job->open_input_file(shorter));
  EXPECT_EQ(job->TotalOutputDuration(), 2000000);

  // A recording time shorter than the input is overtaken by it.
  job = std::make_unique<TCustomFFmpeg>(2);
  job->SetExtOption("t", "0.5");
  ASSERT_TRUE(job->open_input_file(shorter));
  EXPECT_EQ(job->TotalOutputDuration(), 1000000);
}

TEST_F(InputFilesTest, SharedSampleMediaOpens) {
  struct Case {
    const char* file;
    int rate, channels;
  } cases[] = {
      {"emacspeak__emacspeak.mp3", 44100, 2},
      {"lmms-common__lfo_trancegate_whole.flac", 96000, 1},
      {"sound-theme-freedesktop__camera-shutter.oga", 96000, 2},
      {"libpython3.11-testsuite__pluck-ulaw.au", 11025, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    job = std::make_unique<TCustomFFmpeg>(1);
    ASSERT_TRUE(job->open_input_file(test::SharedMedia(c.file))) << job->LastErrMsg();
    EXPECT_EQ(S().Faudio_sample_rate, c.rate);
    EXPECT_EQ(S().Faudio_channels, c.channels);
  }
}

TEST_F(InputFilesTest, AVideoInputWritesItsPictureSettingsBack) {
  ASSERT_TRUE(job->open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")))
      << job->LastErrMsg();
  EXPECT_EQ(S().Fframe_width, 560);
  EXPECT_EQ(S().Fframe_height, 320);
  EXPECT_NEAR(S().Fframe_aspect_ratio, 560.0 / 320, 1e-3);
  EXPECT_NE(S().Fframe_rate.den, 0);
  EXPECT_EQ(S().Faudio_sample_rate, 48000);
  EXPECT_EQ(S().Faudio_channels, 1);
}

TEST_F(InputFilesTest, DisabledKindsAreDiscarded) {
  job->SetExtOption("vn", "1");
  ASSERT_TRUE(job->open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__webm.webm")));
  for (unsigned i = 0; i < job->InputFile(0)->nb_streams; ++i) {
    const AVStream* st = job->InputFile(0)->streams[i];
    EXPECT_EQ(st->discard == AVDISCARD_ALL, st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO);
  }
}

TEST_F(InputFilesTest, FailuresNameTheFile) {
  const std::string missing = dir + "/missing.mp3";
  EXPECT_FALSE(job->open_input_file(missing));
  EXPECT_EQ(job->LastErrMsg(), missing + ": No such file or directory");
  EXPECT_EQ(job->nb_input_files(), 0);

  job->SetExtOption("f", "nosuchformat");
  try {
    job->open_input_file(missing);
    FAIL() << "no error";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown input format: \"nosuchformat\"");
  }
}

TEST_F(InputFilesTest, AForcedDecoderIsCheckedAndSpentByTheInput) {
  const std::string wave = MakeWave(dir, "a.wav", 8000, 1, 1);
  job->SetExtOption("acodec", "nosuchdecoder");
  job->SetExtOption("vc", "3");
  EXPECT_FALSE(job->open_input_file(wave));
  EXPECT_EQ(job->LastErrMsg(), "Unknown decoder 'nosuchdecoder'");
  EXPECT_TRUE(S().Faudio_codec_name.empty());
  EXPECT_EQ(S().Fvideo_channel, 0);

  job->SetExtOption("acodec", "pcm_s16le");
  ASSERT_TRUE(job->open_input_file(wave)) << job->LastErrMsg();
  ASSERT_EQ(job->InputCodecs().size(), 1u);
  EXPECT_EQ(job->InputCodecs()[0], avcodec.avcodec_find_decoder_by_name("pcm_s16le"));
  EXPECT_TRUE(S().Faudio_codec_name.empty());
}

TEST_F(InputFilesTest, AForcedFormatIsUsedOnceAndCleared) {
  const std::string raw = dir + "/noise.raw";
  ASSERT_EQ(test::Run("sox -n -r 16000 -c 2 -b 16 -e signed -t raw '" + raw + "' synth 1 noise"), 0);
  job->SetExtOption("f", "s16le");
  job->SetExtOption("ar", "16000");
  ASSERT_TRUE(job->open_input_file(raw)) << job->LastErrMsg();
  EXPECT_TRUE(S().Flast_asked_format.empty());
  EXPECT_EQ(S().Faudio_sample_rate, 16000);
  EXPECT_EQ(S().Faudio_channels, 2);
  EXPECT_EQ(job->TotalOutputDuration(), 1000000);
}

TEST_F(InputFilesTest, AMissingProgramIsReported) {
  const std::string wave = MakeWave(dir, "a.wav", 8000, 1, 1);
  job->SetExtOption("programid", "7");
  EXPECT_FALSE(job->open_input_file(wave));
  EXPECT_EQ(job->LastErrMsg(), "Specified program id not found");
}

TEST_F(InputFilesTest, StoredOptionsReachTheInputContainer) {
  const std::string wave = MakeWave(dir, "a.wav", 8000, 1, 1);
  job->SetExtOption("probesize", "4096");
  ASSERT_TRUE(job->open_input_file(wave));
  EXPECT_EQ(job->InputFile(0)->probesize, 4096);
}

TEST_F(InputFilesTest, ANameOutsideTheCharsetIsOpened) {
  const std::string wave = MakeWave(dir, "Grüße ♪.wav", 11025, 1, 1);
  ASSERT_TRUE(job->open_input_file(wave)) << job->LastErrMsg();
  EXPECT_EQ(S().Faudio_sample_rate, 11025);
  const std::string missing = dir + "/ñó.wav";
  EXPECT_FALSE(job->open_input_file(missing));
  EXPECT_EQ(job->LastErrMsg(), missing + ": No such file or directory");
}

TEST_F(InputFilesTest, TheTimeoutCallbackAnswersOnlyForItsJobDuringACall) {
  TCustomFFmpeg other(1);
  EXPECT_FALSE(job->read_timeout_cb(&other));
  EXPECT_FALSE(job->read_timeout_cb(job.get()));  // no call under way
  job->Stop(false);
  EXPECT_FALSE(job->read_timeout_cb(&other));
  EXPECT_TRUE(job->read_timeout_cb(job.get()));
}

// A TCP server on the loopback interface that accepts one connection and
// then says nothing.
class TSilentServer {
public:
  TSilentServer() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    EXPECT_EQ(::listen(FSocket, 4), 0);
    FThread = std::thread([this] {
      const int client = ::accept(FSocket, nullptr, nullptr);
      while (!FDone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (client >= 0) ::close(client);
    });
  }
  ~TSilentServer() {
    FDone = true;
    ::shutdown(FSocket, SHUT_RDWR);
    FThread.join();
    ::close(FSocket);
  }
  std::string URL() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/silent.mp3"; }

private:
  int FSocket = -1;
  int FPort = 0;
  std::atomic<bool> FDone{false};
  std::thread FThread;
};

TEST_F(InputFilesTest, AnInputThatNeverAnswersIsGivenUpAfterTheReadTimeout) {
  TSilentServer server;
  TLogCapture log;
  job->SetReadTimeout(300);
  EXPECT_FALSE(job->open_input_file(server.URL()));
  EXPECT_TRUE(log.Contains("connecting/reading/writing timeout", llInfo));
  EXPECT_EQ(job->LastErrMsg().rfind(server.URL() + ": ", 0), 0u) << job->LastErrMsg();
  EXPECT_EQ(job->nb_input_files(), 0);
}

TEST_F(InputFilesTest, StopFromAnotherThreadCancelsABlockingOpen) {
  TSilentServer server;
  TLogCapture log;
  job->SetReadTimeout(600000);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    job->Stop(false);
  });
  EXPECT_FALSE(job->open_input_file(server.URL()));
  stopper.join();
  EXPECT_TRUE(log.Contains("connecting/reading/writing canceled", llInfo));
  EXPECT_FALSE(log.Contains("connecting/reading/writing timeout", llInfo));
}

// The wall clock as a clock change leaves it: each look at it finds it
// moved AStep µs further (set ahead or back again and again), so that a
// duration measured on it is wrong by at least an hour.
class TMovingWallClock {
public:
  explicit TMovingWallClock(int64_t AStep) : FSaved(avutil.av_gettime) {
    FReal = FSaved;
    FStep = AStep;
    FLooks = 0;
    avutil.av_gettime = &Now;
  }
  ~TMovingWallClock() { avutil.av_gettime = FSaved; }
  TMovingWallClock(const TMovingWallClock&) = delete;
  TMovingWallClock& operator=(const TMovingWallClock&) = delete;

private:
  static int64_t Now() { return FReal() + FStep * FLooks.fetch_add(1); }
  static inline decltype(avutil.av_gettime) FReal = nullptr;
  static inline std::atomic<int64_t> FStep{0}, FLooks{0};
  decltype(avutil.av_gettime) FSaved;
};

TEST_F(InputFilesTest, AWallClockChangeNeitherFiresNorHoldsOffTheReadTimeout) {
  const std::string wave = MakeWave(dir, "a.wav", 8000, 1, 1);
  TSilentServer server;
  constexpr int64_t kHour = 3600LL * 1000000;
  const struct {
    const char* Name;
    int64_t Step;
    std::string Input;
    int TimeoutMs;
    bool Opens, TimesOut;
  } cases[] = {
      // A timeout measured on the wall clock would fire at the first look.
      {"set ahead", kHour, wave, 10000, true, false},
      // It would never fire, and the silent server would be waited on for ever.
      {"set back", -kHour, server.URL(), 300, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto opener = std::make_unique<TCustomFFmpeg>(4);
    opener->SetReadTimeout(c.TimeoutMs);
    TLogCapture log;
    TMovingWallClock clock(c.Step);
    // Only catches a hang: stops the open after a generous limit.
    std::mutex lock;
    std::condition_variable changed;
    bool returned = false;
    std::thread hangCatcher([&] {
      std::unique_lock<std::mutex> guard(lock);
      if (!changed.wait_for(guard, std::chrono::seconds(60), [&] { return returned; })) opener->Stop(false);
    });
    EXPECT_EQ(opener->open_input_file(c.Input), c.Opens) << opener->LastErrMsg();
    {
      std::lock_guard<std::mutex> guard(lock);
      returned = true;
    }
    changed.notify_all();
    hangCatcher.join();
    EXPECT_EQ(log.Contains("connecting/reading/writing timeout", llInfo), c.TimesOut);
    EXPECT_FALSE(log.Contains("connecting/reading/writing canceled", llInfo));
  }
}

}  // namespace
}  // namespace quorvel
