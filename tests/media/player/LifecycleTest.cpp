// The player's life: refusals of Open, Open over a playback, the two ways
// of stopping and the reset, stopping from inside OnState on the main thread,
// the play window, stepping, and opening a network address that never
// answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "../decoder/DecoderTestSupport.h"
#include "PlayerTestAccess.h"
#include "PlayerTestSupport.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace test {
namespace {

using PlayerLifecycleTest = PlayerTest;

TEST(PlayerRefusalTest, OpenNeedsTheLibraries) {
  TFFPlayer player;
  EventRecorder events(player);
  // Nothing loaded yet in this test process.
  FFLoader().Unload(TCustomPlayer::kLibraries);
  EXPECT_FALSE(player.Open(SharedMedia("emacspeak__emacspeak.mp3")));
  EXPECT_EQ(player.LastErrMsg(), "libav not loaded.");
  ASSERT_TRUE(FFLoader().Load(TCustomPlayer::kLibraries)) << FFLoader().LastErrMsg();
  EXPECT_FALSE(player.Open(SharedMedia("emacspeak__emacspeak.mp3")));
  EXPECT_EQ(player.LastErrMsg(), "sdl not loaded.");
  EXPECT_EQ(events.FileOpens(), 0);
  EXPECT_TRUE(events.States().empty());
}

TEST_F(PlayerLifecycleTest, OpenRefusalsGiveTheReadersTextAndNoEvents) {
  const std::string text = Dir + "/notes.txt";
  ASSERT_EQ(test::Run(Format("printf 'not media at all\\n' > '%s'", text.c_str())), 0);
  const std::string subtitles = Dir + "/words.srt";
  ASSERT_EQ(test::Run(Format("printf '1\\n00:00:01,000 --> 00:00:02,000\\nHello\\n\\n' > '%s'", subtitles.c_str())), 0);
  const struct {
    const char* Name;
    std::string File;
    std::string Text;
  } cases[] = {
      {"missing", Dir + "/none.wav", Dir + "/none.wav: No such file or directory"},
      {"noAudio", subtitles, subtitles + ": could not open codecs, no stream to play."},
  };
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  LogCapture log(llError);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(player.Open(c.File));
    EXPECT_EQ(player.LastErrMsg(), c.Text);
    EXPECT_TRUE(log.Has(&player, llError, c.Text));
  }
  EXPECT_FALSE(player.Open(text));
  EXPECT_EQ(player.LastErrMsg().rfind(text + ": ", 0), 0u) << player.LastErrMsg();
  EXPECT_EQ(events.FileOpens(), 0);
  EXPECT_TRUE(events.States().empty());
}

TEST_F(PlayerLifecycleTest, OpenReportsTheDurationAndPlays) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 1.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  EXPECT_EQ(events.FileOpens(), 1) << "OnFileOpen is delivered before Open returns";
  EXPECT_EQ(events.OpenedDuration(), 1000000);
  EXPECT_EQ(player.Duration(), 1000000);
  EXPECT_EQ(player.FileName(), source);
  EXPECT_EQ(player.Decoder().FileHandle() != nullptr, true) << "the decoder describes the playing file";
  ASSERT_TRUE(events.WaitFor(psEnd));
  const auto positions = events.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 1000000) << "the last position is the duration";
  const auto states = events.States();
  EXPECT_EQ(states.front(), psPlay);
  player.Stop(true);
}

TEST_F(PlayerLifecycleTest, OpenWhilePlayingStopsThePlaybackFirst) {
  const std::string first = MakeTone(Dir, "a.wav", 44100, 2, 5.0, 440, 0.5, "-b 16");
  const std::string second = MakeTone(Dir, "b.wav", 44100, 2, 1.0, 660, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  UseDiskDevice(Dir + "/a.raw", 5);
  ASSERT_TRUE(player.Open(first)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitForPosition(200000));
  const std::string device = UseDiskDevice(Dir + "/b.raw", 5);
  ASSERT_TRUE(player.Open(second)) << player.LastErrMsg();
  EXPECT_EQ(player.FileName(), second);
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto states = events.States();
  // The first playback's stop came before the second one's start.
  const auto stop = std::find(states.begin(), states.end(), psStop);
  ASSERT_NE(stop, states.end());
  EXPECT_NE(std::find(stop, states.end(), psPlay), states.end());
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), DecodeSource(second, 2, 44100), 2, 0));
}

TEST_F(PlayerLifecycleTest, StopWithoutWaitingReturnsAndStopArrivesLater) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 5.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitForPosition(100000));
  player.Stop(false);
  EXPECT_TRUE(events.WaitFor(psStop));
  EXPECT_EQ(player.PlayState(), psStop);
  EXPECT_TRUE(player.Paused()) << "no playback";
}

TEST_F(PlayerLifecycleTest, StopAndWaitResetsThePlaybackOptions) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 5.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 5);
  player.SetPlayTime(4000000);
  player.SetRepeatType(rtLoop);
  player.set_start_time(100000);
  player.set_seek_by_bytes(1);
  player.set_wanted_audio_stream(0);
  player.set_wanted_video_stream(3);
  player.set_wanted_subtitle_stream(4);
  player.SetVerticalFlip(true);
  player.SetAudioVolume(100);
  player.SetReadTimeout(5000);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  player.Stop(true);
  EXPECT_EQ(player.PlayState(), psStop) << "set before Stop returns";
  const struct {
    const char* Name;
    int64_t Got, Want;
  } reset[] = {
      {"PlayTime", player.PlayTime(), AV_NOPTS_VALUE},
      {"RepeatType", player.RepeatType(), rtStop},
      {"start_time", player.start_time(), AV_NOPTS_VALUE},
      {"seek_by_bytes", player.seek_by_bytes(), -1},
      {"wanted_audio_stream", player.wanted_audio_stream(), -1},
      {"wanted_video_stream", player.wanted_video_stream(), -1},
      {"wanted_subtitle_stream", player.wanted_subtitle_stream(), -1},
      {"VerticalFlip", player.VerticalFlip(), false},
      {"CurrentPTS", player.CurrentPTS(), -1},
      {"Seeking", player.Seeking(), false},
      {"AudioStreamIndex", player.AudioStreamIndex(), -1},
      // Not part of the reset:
      {"AudioVolume", player.AudioVolume(), 100},
      {"ReadTimeout", player.ReadTimeout(), 5000},
  };
  for (const auto& r : reset) EXPECT_EQ(r.Got, r.Want) << r.Name;
}

// The application stops on psEnd from its OnState handler, on the main
// thread, while the player's event thread waits for that very delivery.
TEST_F(PlayerLifecycleTest, StopAndWaitFromInsideOnStateOnTheMainThread) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 0.5, 440, 0.5, "-b 16");
  InstallMainThread(nullptr);
  {
    TFFPlayer player;
    LoadCopy(player, 0);
    UseDiskDevice(Dir + "/device.raw");
    std::vector<TPlayState> states;
    bool stopped = false;
    player.SetOnState([&](TObject*, TPlayState AState) {
      EXPECT_TRUE(IsMainThread());
      states.push_back(AState);
      if (AState == psEnd && !stopped) {
        player.Stop(true);
        stopped = true;
      }
    });
    ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
    // The main thread's loop.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::find(states.begin(), states.end(), psStop) == states.end() &&
           std::chrono::steady_clock::now() < limit) {
      ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(stopped);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), psStop);
  }
  UninstallMainThread();
}

TEST_F(PlayerLifecycleTest, PlayTimeLoopsOrStops) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  {
    SCOPED_TRACE("loop");
    TFFPlayer player;
    LoadCopy(player, 0);
    UseDiskDevice(Dir + "/loop.raw", 5);
    EventRecorder events(player);
    player.SetPlayTime(500000);
    player.SetRepeatType(rtLoop);
    ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
    // Twice back to the start after reaching the end of the window.
    EXPECT_TRUE(events.WaitUntil([](const std::vector<TPlayState>&, const std::vector<int64_t>& APositions) {
      int restarts = 0;
      for (size_t i = 1; i < APositions.size(); ++i)
        if (APositions[i - 1] >= 500000 && APositions[i] < 250000) ++restarts;
      return restarts >= 2;
    }));
    player.Stop(true);
    const auto states = events.States();
    EXPECT_EQ(std::find(states.begin(), states.end(), psEnd), states.end());
  }
  {
    SCOPED_TRACE("stop");
    TFFPlayer player;
    LoadCopy(player, 0);
    UseDiskDevice(Dir + "/stop.raw", 5);
    EventRecorder events(player);
    player.SetPlayTime(500000);
    ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
    ASSERT_TRUE(events.WaitFor(psStop));
    const auto states = events.States();
    EXPECT_EQ(std::find(states.begin(), states.end(), psEnd), states.end()) << "stopped before the file's end";
    const auto positions = events.Positions();
    ASSERT_FALSE(positions.empty());
    EXPECT_LT(positions.back(), 3000000);
    player.Stop(true);
  }
}

TEST_F(PlayerLifecycleTest, StepToNextFrameTwiceGivesOneStepThenPause) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psPlay));
  player.StepToNextFrame();
  ASSERT_TRUE(events.WaitFor(psStep));
  player.StepToNextFrame();
  // Positions posted after the second step arrive: a state it had posted
  // would have arrived before them (the ring keeps states and positions apart).
  const size_t positions = events.Positions().size();
  ASSERT_TRUE(events.WaitUntil([&](const std::vector<TPlayState>&, const std::vector<int64_t>& APositions) {
    return APositions.size() >= positions + 2;
  }));
  player.Pause();
  ASSERT_TRUE(events.WaitFor(psPause));
  player.Stop(true);
  const auto states = events.States();
  EXPECT_EQ(std::count(states.begin(), states.end(), psStep), 1);
}

// The playback's threads run on the loaded SDL: another copy, or the same
// one loaded again, is refused until the playback is gone, and the sound
// plays on untouched.
TEST_F(PlayerLifecycleTest, LoadSDLLibIsRefusedWhilePlaying) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 1.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  for (int copy : {1, 0}) {
    SCOPED_TRACE(copy);
    EXPECT_FALSE(player.LoadSDLLib(SDLCopyFolder(), SDLCopyName(copy)));
    EXPECT_EQ(player.LastErrMsg(), "SDL cannot be loaded while a file plays: stop the playback first.");
  }
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), DecodeSource(source, 2, 44100), 2, 0));
  EXPECT_TRUE(player.LoadSDLLib(SDLCopyFolder(), SDLCopyName(1))) << player.LastErrMsg();
}

// A Stop on another thread that lands once the streams are open, before
// Open has learnt of it: Open reports the cancel (as for a Stop that lands
// earlier), no event comes, and the next Open plays.
TEST_F(PlayerLifecycleTest, AStopWhileTheStreamsOpenMakesOpenFail) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 0.5, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  TPlayerTestAccess::OnStreamsOpened(player, [&] { std::thread([&] { player.Stop(false); }).join(); });
  EXPECT_FALSE(player.Open(source));
  EXPECT_EQ(player.LastErrMsg(), ErrorText(source, AVERROR_EXIT));
  EXPECT_EQ(player.Duration(), -1) << "no playback";
  EXPECT_EQ(events.FileOpens(), 0);
  EXPECT_TRUE(events.States().empty());
  TPlayerTestAccess::OnStreamsOpened(player, nullptr);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  EXPECT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
}

// The application opens the next file from its OnState or OnPosition
// handler, which the player's event thread runs (no main thread here).
TEST_F(PlayerLifecycleTest, OpenFromAnEventHandlerPlaysTheNextFile) {
  const std::string first = MakeTone(Dir, "a.wav", 44100, 2, 1.0, 440, 0.5, "-b 16");
  const std::string second = MakeTone(Dir, "b.wav", 44100, 2, 1.0, 660, 0.5, "-b 16");
  const struct {
    const char* Name;
    bool FromPosition;
  } cases[] = {{"OnState", false}, {"OnPosition", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::mutex lock;
    std::condition_variable changed;
    bool reopening = false, opened = false;
    bool secondStarted = false;  // psPlay delivered after the second Open returned
    int endsAfter = 0;           // psEnd delivered after that
    const std::string secondDevice = Dir + "/" + c.Name + ".raw";
    TFFPlayer player;
    LoadCopy(player, 0);
    const auto openSecond = [&] {
      {
        std::lock_guard guard(lock);
        if (reopening) return;
        reopening = true;
      }
      UseDiskDevice(secondDevice);
      const bool ok = player.Open(second);
      std::lock_guard guard(lock);
      opened = ok;
      changed.notify_all();
    };
    player.SetOnState([&](TObject*, TPlayState AState) {
      bool secondPlays;
      {
        std::lock_guard guard(lock);
        secondPlays = opened;
        if (secondPlays && AState == psPlay) secondStarted = true;
        if (secondStarted && AState == psEnd) ++endsAfter;
        changed.notify_all();
      }
      if (AState == psEnd && !secondPlays && !c.FromPosition) openSecond();
    });
    player.SetOnPosition([&](TObject*, int64_t APTS) {
      if (c.FromPosition && APTS >= 300000) openSecond();
    });
    UseDiskDevice(Dir + "/first.raw");
    ASSERT_TRUE(player.Open(first)) << player.LastErrMsg();
    {
      std::unique_lock guard(lock);
      EXPECT_TRUE(changed.wait_for(guard, std::chrono::seconds(120), [&] { return opened && endsAfter > 0; }));
    }
    player.Stop(true);
    EXPECT_TRUE(PlayedExactly(ReadSamples(secondDevice), DecodeSource(second, 2, 44100), 2, 0));
  }
}

// ---- a server that accepts and never answers ----

class SilentServer {
 public:
  SilentServer() {
    FSocket = ListenOnLoopback(4, FPort);
  }
  ~SilentServer() { ::close(FSocket); }
  std::string Url() const { return Format("tcp://127.0.0.1:%d", FPort); }

 private:
  int FSocket = -1;
  int FPort = 0;
};

TEST_F(PlayerLifecycleTest, NetworkOpenTimesOutAfterReadTimeout) {
  SilentServer server;
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  player.SetReadTimeout(300);
  LogCapture log(llInfo);
  EXPECT_FALSE(player.Open(server.Url()));
  DeliverPostedLogLines();
  EXPECT_TRUE(log.Has(&player, llInfo, "connecting/reading timeout"));
}

TEST_F(PlayerLifecycleTest, StopCancelsABlockedOpen) {
  for (const int timeout : {60000, 0}) {
    SCOPED_TRACE(timeout);
    SilentServer server;
    TFFPlayer player;
    LoadCopy(player, 0);
    UseDiskDevice(Dir + "/device.raw");
    player.SetReadTimeout(timeout);
    LogCapture log(llInfo);
    std::atomic<bool> opening{true};
    std::thread stopper([&] {
      // Once the connection is up and the reader waits for data.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      while (opening) {
        player.Stop(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    EXPECT_FALSE(player.Open(server.Url()));
    opening = false;
    stopper.join();
    DeliverPostedLogLines();
    EXPECT_TRUE(log.Has(&player, llInfo, "connecting/reading canceled"));
  }
}

}  // namespace
}  // namespace test
}  // namespace quorvel
