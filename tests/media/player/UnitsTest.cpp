// The player's pieces on their own: packet queues, timestamp correction, the
// master clock, the audio length correction, the event ring and the SDL
// loader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "PlayerTestSupport.h"
#include "media/runtime/Stubs.h"

namespace quorvel::test {
namespace {

// ---- packet queues ----

class PlayerQueueTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    Flush.data = const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>("FLUSH"));
    QueueInit(Q, &Flush);
  }
  void TearDown() override { QueueEnd(Q); }
  int PutBytes(int ASize) {
    AVPacket* pkt = avcodec.av_packet_alloc();
    avcodec.av_new_packet(pkt, ASize);
    std::memset(pkt->data, 7, ASize);
    const int result = QueuePut(Q, pkt);
    avcodec.av_packet_free(&pkt);
    return result;
  }
  AVPacket Flush{};
  TPacketQueue Q;
};

TEST_F(PlayerQueueTest, CountsPacketsAndBytesWithTheNodeOverhead) {
  EXPECT_EQ(PutBytes(100), 0);
  EXPECT_EQ(PutBytes(28), 0);
  EXPECT_EQ(Q.nb_packets, 2);
  EXPECT_EQ(Q.size, 100 + 28 + 2 * kPacketOverhead);
  AVPacket* pkt = nullptr;
  ASSERT_EQ(QueueGet(Q, &pkt, false), 1);
  EXPECT_EQ(pkt->size, 100);
  FreeQueuedPacket(Q, &pkt);
  EXPECT_EQ(Q.size, 28 + kPacketOverhead);
}

TEST_F(PlayerQueueTest, FlushThenFlushPacketLeavesOneNodeOfOverheadOnly) {
  PutBytes(500);
  QueueFlush(Q);
  QueuePut(Q, &Flush);
  EXPECT_EQ(Q.nb_packets, 1);
  EXPECT_EQ(Q.size, kPacketOverhead);
  AVPacket* pkt = nullptr;
  ASSERT_EQ(QueueGet(Q, &pkt, false), 1);
  EXPECT_TRUE(IsFlushPacket(Q, pkt));
  EXPECT_EQ(pkt, &Flush) << "queued by address, never copied";
  FreeQueuedPacket(Q, &pkt);
}

TEST_F(PlayerQueueTest, NonBlockingGetOnAnEmptyQueueReturnsAtOnce) {
  AVPacket* pkt = nullptr;
  EXPECT_EQ(QueueGet(Q, &pkt, false), 0);
  EXPECT_EQ(pkt, nullptr);
}

TEST_F(PlayerQueueTest, BlockingGetWaitsForAPut) {
  std::atomic<int> result{-2};
  std::thread consumer([&] {
    AVPacket* pkt = nullptr;
    result = QueueGet(Q, &pkt, true);
    FreeQueuedPacket(Q, &pkt);
  });
  PutBytes(10);
  consumer.join();
  EXPECT_EQ(result, 1);
}

TEST_F(PlayerQueueTest, AbortWakesAWaiterAndRefusesQueuedPackets) {
  std::atomic<int> result{-2};
  std::thread consumer([&] {
    AVPacket* pkt = nullptr;
    result = QueueGet(Q, &pkt, true);
  });
  QueueAbort(Q);
  consumer.join();
  EXPECT_EQ(result, -1);
  PutBytes(10);
  AVPacket* pkt = nullptr;
  EXPECT_EQ(QueueGet(Q, &pkt, false), -1) << "aborted, even with packets queued";
}

// ---- timestamp correction ----

TEST(PlayerPtsCorrectionTest, PicksTheLessFaultyTimestamp) {
  struct TStep {
    int64_t Pts, Dts, Want;
  };
  const int64_t N = AV_NOPTS_VALUE;
  const struct {
    const char* Name;
    std::vector<TStep> Steps;
  } cases[] = {
      {"neither", {{N, N, N}}},
      {"dtsOnly", {{N, 5, 5}, {N, 6, 6}}},
      {"ptsPreferred", {{10, 5, 10}, {12, 6, 12}}},
      // Reordered pts going backwards twice while dts grows: dts wins.
      {"faultyPts", {{10, 1, 10}, {9, 2, 2}, {8, 3, 3}, {11, 4, 4}}},
      // dts going backwards: pts stays the choice.
      {"faultyDts", {{10, 5, 10}, {11, 4, 11}, {12, 3, 12}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPtsCorrectionContext ctx;
    for (const auto& s : c.Steps) EXPECT_EQ(GuessCorrectPts(ctx, s.Pts, s.Dts), s.Want);
  }
}

// ---- clocks ----

TEST_F(PlayerTest, MasterClockFollowsTheChoiceAndFallsBack) {
  TVideoState is;
  AVStream audio{}, video{};
  is.audio_out = {44100, 2};
  is.audio_clock = 3.0;
  is.video_current_pts = 7.0;
  is.paused = 1;  // the video clock then stands at the picture on screen
  struct {
    const char* Name;
    Tav_sync_type Sync;
    bool Audio, Video;
    double Want;
  } cases[] = {
      {"audioMaster", AV_SYNC_AUDIO_MASTER, true, true, 3.0},
      {"audioMasterWithoutAudio", AV_SYNC_AUDIO_MASTER, false, true, 7.0},
      {"videoMaster", AV_SYNC_VIDEO_MASTER, true, true, 7.0},
      {"videoMasterWithoutVideo", AV_SYNC_VIDEO_MASTER, true, false, 3.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    is.av_sync_type = c.Sync;
    is.audio_st = c.Audio ? &audio : nullptr;
    is.video_st = c.Video ? &video : nullptr;
    EXPECT_DOUBLE_EQ(GetMasterClock(is), c.Want);
  }
  is.av_sync_type = AV_SYNC_EXTERNAL_CLOCK;
  const double now = avutil.av_gettime_relative() / 1000000.0;
  EXPECT_NEAR(GetMasterClock(is), now, 60.0) << "the external clock runs on the player's monotonic clock";
}

TEST_F(PlayerTest, AudioClockSubtractsWhatIsNotPlayedYet) {
  TVideoState is;
  AVStream audio{};
  is.audio_st = &audio;
  is.audio_out = {1000, 2};  // 4000 bytes per second
  is.audio_clock = 2.0;
  is.audio_buf_size = 4000;
  is.audio_buf_index = 1000;
  EXPECT_DOUBLE_EQ(GetAudioClock(is), 2.0 - 3000.0 / 4000);
}

TEST_F(PlayerTest, VideoClockBeforeTheFirstPictureIsTheStartTime) {
  TVideoState is;
  is.StartTime = 1500000;
  EXPECT_DOUBLE_EQ(GetVideoClock(is), 1.5);
}

// ---- audio length correction ----

class PlayerSyncAudioTest : public PlayerTest {
 protected:
  // Audio 0.5 s behind (or ADiff ahead of) a paused video clock.
  void Prepare(double ADiff) {
    is.av_sync_type = AV_SYNC_VIDEO_MASTER;
    is.video_st = &Video;
    is.audio_st = &Audio;
    is.audio_out = {44100, 2};
    is.paused = 1;
    is.video_current_pts = 10.0;
    is.audio_clock = 10.0 + ADiff;
    is.audio_diff_avg_coef = std::exp(std::log10(0.01) / kAudioDiffAvgNb);
    is.audio_diff_threshold = 2.0 * kSDLAudioBufferSize / 44100;
    is.audio_diff_avg_count = 0;
    is.audio_diff_cum = 0;
  }
  int Run(int AFrames) {
    Buffer.assign(static_cast<size_t>(AFrames) * 4 * 2, 0);
    for (int i = 0; i < AFrames * 2; ++i) reinterpret_cast<int16_t*>(Buffer.data())[i] = static_cast<int16_t>(i);
    return TCustomPlayer::SyncAudio(is, Buffer.data(), AFrames * 4, static_cast<int>(Buffer.size()));
  }
  TVideoState is;
  AVStream Audio{}, Video{};
  std::vector<uint8_t> Buffer;
};

TEST_F(PlayerSyncAudioTest, AudioMasterNeverChangesTheSize) {
  Prepare(-0.5);
  is.av_sync_type = AV_SYNC_AUDIO_MASTER;
  for (int i = 0; i < 30; ++i) EXPECT_EQ(Run(1000), 4000);
}

TEST_F(PlayerSyncAudioTest, FirstTwentyMeasurementsChangeNothingThenBounded) {
  for (const double diff : {-0.5, 0.5}) {
    SCOPED_TRACE(diff);
    Prepare(diff);
    for (int i = 0; i < kAudioDiffAvgNb; ++i) EXPECT_EQ(Run(1000), 4000) << "warm-up " << i;
    // Far behind: cut to 90 %; far ahead: stretched to 110 %.
    const int size = Run(1000);
    EXPECT_EQ(size, diff < 0 ? 900 * 4 : 1100 * 4);
    if (size > 4000) {
      // The added frames repeat the last one.
      const auto* values = reinterpret_cast<const int16_t*>(Buffer.data());
      EXPECT_EQ(values[2 * 1099], values[2 * 999]);
      EXPECT_EQ(values[2 * 1099 + 1], values[2 * 999 + 1]);
    }
  }
}

TEST_F(PlayerSyncAudioTest, DifferenceOfTenSecondsEitherWayRestartsTheAveraging) {
  for (const double diff : {12.0, -12.0}) {
    SCOPED_TRACE(diff);
    Prepare(diff);
    for (int i = 0; i < kAudioDiffAvgNb + 5; ++i) EXPECT_EQ(Run(1000), 4000);
    EXPECT_EQ(is.audio_diff_avg_count, 0);
    EXPECT_EQ(is.audio_diff_cum, 0);
  }
}

TEST_F(PlayerTest, DisplaySamplesWrapAroundTheRing) {
  TVideoState is;
  is.sample_array_index = kSampleArraySize - 2;
  const int16_t values[] = {1, 2, 3, 4, 5};
  TCustomPlayer::StoreDisplaySamples(is, reinterpret_cast<const uint8_t*>(values), sizeof(values));
  EXPECT_EQ(is.sample_array[kSampleArraySize - 2], 1);
  EXPECT_EQ(is.sample_array[kSampleArraySize - 1], 2);
  EXPECT_EQ(is.sample_array[0], 3);
  EXPECT_EQ(is.sample_array[2], 5);
  EXPECT_EQ(is.sample_array_index, 3);
}

// ---- event ring ----

TEST(PlayerEventRingTest, CoalescesPositionsAndKeepsStates) {
  struct {
    const char* Name;
    std::vector<TPlayEventItem> Posted;
    std::vector<TPlayEventItem> Taken;
  } cases[] = {
      {"twoPositionsBecomeTheLater", {{pekPosition, 1}, {pekPosition, 2}}, {{pekPosition, 2}}},
      {"stateBetweenKeepsBoth",
       {{pekPosition, 1}, {pekState, psPause}, {pekPosition, 2}},
       {{pekPosition, 1}, {pekState, psPause}, {pekPosition, 2}}},
      {"twoStatesInARowBecomeTheLater", {{pekState, psPause}, {pekState, psResume}}, {{pekState, psResume}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPlayEvent ring;
    for (const auto& item : c.Posted) ring.Post(item);
    for (const auto& want : c.Taken) {
      const TPlayEventItem got = ring.Take();
      EXPECT_EQ(got.Kind, want.Kind);
      EXPECT_EQ(got.Value, want.Value);
    }
    EXPECT_EQ(ring.Take().Kind, pekNone);
  }
}

TEST(PlayerEventRingTest, FullRingDropsPositionsNeverStates) {
  TPlayEvent ring;
  // Alternating kinds: nothing coalesces, the ring overflows.
  for (int i = 0; i < 3 * TPlayEvent::kSlots; ++i) {
    ring.Post({pekPosition, i});
    ring.Post({pekState, i % 2 ? psPause : psResume});
  }
  ring.Post({pekState, psEnd});
  ring.Post({pekPosition, 999});
  ring.Post({pekState, psStop});
  std::vector<TPlayEventItem> taken;
  for (TPlayEventItem item = ring.Take(); item.Kind != pekNone; item = ring.Take()) taken.push_back(item);
  ASSERT_GE(taken.size(), 3u);
  EXPECT_EQ(taken.back().Kind, pekState);
  EXPECT_EQ(taken.back().Value, psStop);
  bool sawEnd = false;
  for (const auto& item : taken) sawEnd |= item.Kind == pekState && item.Value == psEnd;
  EXPECT_TRUE(sawEnd);
}

// ---- SDL loader ----

TEST_F(PlayerTest, LoaderRefusesTheSameModuleUnderAnotherSpelling) {
  const std::string folder = SDLCopyFolder();
  TSDLLoader first, second;
  ASSERT_TRUE(first.Load(folder, SDLCopyName(0))) << first.LastErrMsg();
  EXPECT_TRUE(first.Loaded());
  EXPECT_TRUE(first.Load(folder, SDLCopyName(0))) << "the file it holds";
  struct {
    const char* Name;
    std::string Path, File;
  } spellings[] = {
      {"dotSegment", folder + "./", SDLCopyName(0)},
      {"doubleSlash", folder + "/", SDLCopyName(0)},
      // A copy keeps SDL's SONAME: the bare name leads to the loaded copy.
      {"bareName", "", "libSDL-1.2.so.0"},
  };
  for (const auto& s : spellings) {
    SCOPED_TRACE(s.Name);
    std::string full = s.Path;
    if (!full.empty() && full.back() != '/') full += '/';
    full += s.File;
    EXPECT_FALSE(second.Load(s.Path, s.File));
    EXPECT_EQ(second.LastErrMsg(), full + " alreay loaded in another instance.");
    EXPECT_FALSE(second.Loaded());
  }
  // The other copy is another module.
  EXPECT_TRUE(second.Load(folder, SDLCopyName(1))) << second.LastErrMsg();
  // The holder itself may reach its module by another spelling.
  EXPECT_TRUE(first.Load(folder + "./", SDLCopyName(0))) << first.LastErrMsg();
  first.Unload();
  EXPECT_FALSE(first.Loaded());
  EXPECT_TRUE(first.LibFile().empty());
}

TEST_F(PlayerTest, LoaderRefusesALibraryLackingAnEntry) {
  const std::string path = QUORVEL_FAKE_SDL;
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  const std::string file = path.substr(path.rfind('/') + 1);
  TCustomPlayer player;
  EXPECT_FALSE(player.LoadSDLLib(folder, file));
  EXPECT_EQ(player.LastErrMsg().rfind("Load function SDL_VideoDriverName@" + file + " error: ", 0), 0u)
      << player.LastErrMsg();
  EXPECT_FALSE(player.SDLLibLoaded());
  EXPECT_EQ(player.SDL().SDL_Init, nullptr) << "no entry survives a failed load";
}

TEST_F(PlayerTest, LoaderReportsAMissingFile) {
  TSDLLoader loader;
  EXPECT_FALSE(loader.Load(Dir, "SDL_9"));
  EXPECT_EQ(loader.LastErrMsg().rfind("Load library " + Dir + "/SDL_9 error: ", 0), 0u) << loader.LastErrMsg();
}

}  // namespace
}  // namespace quorvel::test
