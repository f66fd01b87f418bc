// The picture path's rules on their own: where a picture lands on the
// surface, how a subtitle blends into a picture, the subtitle palette, when
// a picture is due (on a clock of the test's own) and when the refresh
// drops one, and when a subtitle has had its time.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "PlayerTestSupport.h"
#include "media/runtime/Stubs.h"

namespace quorvel::test {
namespace {

using TRect = TCustomPlayer::TRect;

// ---- the aspect rule ----

struct TRectCase {
  const char* Name;
  float AspectRatio;
  int SurfaceWidth, SurfaceHeight;
  AVRational Sar;
  int PictureWidth, PictureHeight;
  TRect Want;
};

TEST(PlayerVideoRules, DisplayRectangles) {
  const TRectCase cases[] = {
      // 16:9 on 4:3: full width, equal bars above and below.
      {"16:9 on 4:3, own aspect", 0, 640, 480, {1, 1}, 1280, 720, {0, 60, 640, 360}},
      {"16:9 on 4:3, fill", -1, 640, 480, {1, 1}, 1280, 720, {0, 0, 640, 480}},
      {"16:9 on 4:3, 1.5 given", 1.5f, 640, 480, {1, 1}, 1280, 720, {0, 27, 640, 426}},
      // 4:3 on 16:9: full height, bars left and right.
      {"4:3 on 16:9", 0, 640, 360, {1, 1}, 320, 240, {80, 0, 480, 360}},
      // Wide pixels: 720x576 at 16:15 is 4:3.
      {"anamorphic", 0, 640, 480, {16, 15}, 720, 576, {0, 0, 640, 480}},
      // No pixel aspect known: square pixels.
      {"unknown pixel aspect", 0, 640, 480, {0, 1}, 320, 240, {0, 0, 640, 480}},
      // Odd sizes: widths and heights stay even, the remainder splits down.
      {"odd surface", 0, 641, 361, {1, 1}, 640, 360, {0, 0, 641, 360}},
      {"odd surface, 4:3 picture", 0, 641, 361, {1, 1}, 320, 240, {80, 0, 480, 361}},
  };
  for (const TRectCase& c : cases) {
    const TRect got =
        TCustomPlayer::DisplayRect(c.AspectRatio, c.SurfaceWidth, c.SurfaceHeight, c.Sar, c.PictureWidth,
                                   c.PictureHeight);
    EXPECT_EQ(got, c.Want) << c.Name << ": got " << got.x << "," << got.y << " " << got.w << "x" << got.h;
  }
}

// ---- subtitles ----

TEST(PlayerVideoRules, PaletteEntriesBecomeStudioRangeYUVA) {
  struct {
    uint32_t RGBA, YUVA;
  } const cases[] = {
      {0xFF000000, 0xFF108080},  // opaque black
      {0xFFFFFFFF, 0xFFEB8080},  // opaque white
      {0x80FF0000, 0x80515AF0},  // half-transparent red: negative U floors
      {0x000000FF, 0x0029F06E},  // transparent blue: negative V floors
      {0xC000FF00, 0xC0913622},  // green
  };
  for (const auto& c : cases)
    EXPECT_EQ(TCustomPlayer::PaletteToYUVA(c.RGBA), c.YUVA) << std::hex << c.RGBA;
}

// A 6x6 picture (chroma 3x3) of Y 100, U and V 128, and a subtitle
// rectangle of one opaque colour.
struct TBlendFixture {
  static constexpr int W = 6, H = 6, CW = 3, CH = 3;
  std::vector<uint8_t> Y = std::vector<uint8_t>(W * H, 100);
  std::vector<uint8_t> U = std::vector<uint8_t>(CW * CH, 128);
  std::vector<uint8_t> V = std::vector<uint8_t>(CW * CH, 128);
  std::vector<uint8_t> Index;
  uint32_t Palette[256] = {};
  AVSubtitleRect Rect{};

  TBlendFixture(int AX, int AY, int AW, int AH, uint32_t AYUVA) {
    Index.assign(static_cast<size_t>(std::max(AW, 1) * std::max(AH, 1)), 0);
    Palette[0] = AYUVA;
    Rect.x = AX;
    Rect.y = AY;
    Rect.w = AW;
    Rect.h = AH;
    Rect.data[0] = Index.data();
    Rect.data[1] = reinterpret_cast<uint8_t*>(Palette);
    Rect.linesize[0] = std::max(AW, 1);
  }
  void Blend() {
    uint8_t* planes[3] = {Y.data(), U.data(), V.data()};
    const int lines[3] = {W, CW, CW};
    TCustomPlayer::BlendSubtitle(planes, lines, Rect, W, H);
  }
  std::string LumaRows() const {
    std::string rows;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) rows += Y[y * W + x] == 100 ? '.' : Y[y * W + x] == 200 ? '#' : '?';
      rows += '\n';
    }
    return rows;
  }
};

TEST(PlayerVideoRules, BlendSubtitleOnOddEdges) {
  // Opaque Y 200, U 50, V 220 over rows and columns 1..3.
  TBlendFixture f(1, 1, 3, 3, 0xFFC832DC);
  f.Blend();
  EXPECT_EQ(f.LumaRows(),
            "......\n"
            ".###..\n"
            ".###..\n"
            ".###..\n"
            "......\n"
            "......\n");
  // Each chroma sample over the k subtitle pixels on it, alpha summed >> 2:
  // 1 pixel (a 63), 2 pixels (a 127), 4 pixels (a 255), none.
  const std::vector<uint8_t> wantU = {108, 89, 128,  //
                                      89, 50, 128,   //
                                      128, 128, 128};
  const std::vector<uint8_t> wantV = {(128 * 192 + 63 * 220) / 255, (128 * 2 * 128 + 127 * 440) / 510, 128,
                                      (128 * 2 * 128 + 127 * 440) / 510, 220, 128,
                                      128, 128, 128};
  EXPECT_EQ(f.U, wantU);
  EXPECT_EQ(f.V, wantV);
}

TEST(PlayerVideoRules, BlendSubtitleIsClippedToThePicture) {
  struct {
    const char* Name;
    int X, Y, W, H;
    const char* Rows;
  } const cases[] = {
      {"past the right and bottom edges: moved inside", 5, 4, 2, 3,
       "......\n......\n......\n....##\n....##\n....##\n"},
      {"left of and above the picture: moved inside", -3, -1, 2, 1, "##....\n......\n......\n......\n......\n......\n"},
      {"larger than the picture: the picture's size", 0, 0, 9, 8,
       "######\n######\n######\n######\n######\n######\n"},
      {"empty", 2, 2, 0, 0, "......\n......\n......\n......\n......\n......\n"},
  };
  for (const auto& c : cases) {
    TBlendFixture f(c.X, c.Y, c.W, c.H, 0xFFC832DC);
    f.Blend();
    EXPECT_EQ(f.LumaRows(), c.Rows) << c.Name;
  }
}

TEST(PlayerVideoRules, ATransparentSubtitleLeavesThePicture) {
  TBlendFixture f(0, 0, 6, 6, 0x00C832DC);
  f.Blend();
  EXPECT_EQ(f.Y, std::vector<uint8_t>(36, 100));
  EXPECT_EQ(f.U, std::vector<uint8_t>(9, 128));
}

TEST(PlayerVideoRules, SubtitleLeavesAtItsEndOrTheNextOnesStart) {
  TQueuedSubtitle first, next;
  first.pts = 10;
  first.sub.start_display_time = 0;
  first.sub.end_display_time = 2000;
  next.pts = 11;
  next.sub.start_display_time = 500;  // shown from 11.5
  struct {
    double Now;
    bool WithNext;
    bool Expired;
  } const cases[] = {
      {10.0, false, false}, {11.9, false, false}, {12.0, false, false}, {12.01, false, true},
      {11.4, true, false},  {11.5, true, false},  {11.51, true, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TCustomPlayer::SubtitleExpired(c.Now, first, c.WithNext ? &next : nullptr), c.Expired)
        << "at " << c.Now << (c.WithNext ? " with" : " without") << " a next one";
}

// ---- timing on a clock of the test's own ----

int64_t gFakeNow = 0;  // µs; the test's clock for the playback records below
int64_t FakeClock() { return gFakeNow; }

class PlayerTimingTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    gFakeNow = 1000 * 1000000LL;
    is.clock_us = &FakeClock;
    is.frame_timer = 1000.0;
    is.frame_last_pts = 0;
    is.frame_last_delay = 0.04;
  }
  TVideoState is;
};

TEST_F(PlayerTimingTest, PicturesAreDueOneFrameDelayApartWhenVideoIsTheMaster) {
  is.av_sync_type = AV_SYNC_VIDEO_MASTER;
  struct {
    double Pts, Due;
  } const steps[] = {
      {0.04, 1000.04},
      {0.08, 1000.08},
      {0.08, 1000.12},   // no step forward: the last delay
      {30.0, 1000.16},   // a jump of 10 s or more: the last delay
      {30.12, 1000.28},  // a longer frame
  };
  for (const auto& s : steps) EXPECT_NEAR(TCustomPlayer::ComputeTargetTime(is, s.Pts), s.Due, 1e-9) << s.Pts;
}

TEST_F(PlayerTimingTest, TheMasterClockHurriesOrHoldsThePicture) {
  // The video clock stands at 5 s (paused, so it does not move) and the
  // external clock at the given time.
  is.av_sync_type = AV_SYNC_EXTERNAL_CLOCK;
  is.paused = 1;
  is.video_current_pts = 5.0;
  is.external_clock_time = gFakeNow;
  struct {
    const char* Name;
    double Master;
    double Delay;
  } const cases[] = {
      {"video behind: shown at once", 5.5, 0},
      {"video ahead: shown one delay later", 4.5, 0.08},
      {"video a little behind: a tenth of the gap sooner", 5.03, 0.037},
      {"video a little ahead: a tenth of the gap later", 4.97, 0.043},
      {"ten seconds apart: no correction", 20.0, 0.04},
  };
  double pts = 1.0;
  for (const auto& c : cases) {
    is.external_clock = c.Master;
    const double before = is.frame_timer;
    pts += 0.04;
    is.frame_last_pts = pts - 0.04;
    EXPECT_NEAR(TCustomPlayer::ComputeTargetTime(is, pts) - before, c.Delay, 1e-9) << c.Name;
  }
}

TEST_F(PlayerTimingTest, TheAudioClockMovesWithTheWallTimeThroughTheHandedBuffer) {
  // 48 kHz stereo: a callback hands 4800 bytes (25 ms) ending at 10.025 s.
  AVStream stream{};
  is.audio_st = &stream;
  is.audio_out.Freq = 48000;
  is.audio_out.Channels = 2;
  is.audio_clock = 10.025;
  is.audio_buf_size = 9600;
  is.audio_buf_index = 9600;
  AnchorAudioClock(is, 4800);
  const int64_t handedAt = gFakeNow;
  struct {
    const char* Name;
    int64_t AfterUs;
    double Want;
  } const cases[] = {
      {"as the buffer starts", 0, 10.0},
      {"half way", 12500, 10.0125},
      {"at its end", 25000, 10.025},
      {"the next callback is late: held at the end", 40000, 10.025},
  };
  for (const auto& c : cases) {
    gFakeNow = handedAt + c.AfterUs;
    EXPECT_NEAR(GetAudioClock(is), c.Want, 1e-6) << c.Name;
  }

  // Half of a decoded buffer still to hand out: the clock of the last
  // callback stands for the sound, not the samples not yet handed over.
  gFakeNow = handedAt + 5000;
  is.audio_clock = 10.075;
  is.audio_buf_index = 4800;
  EXPECT_NEAR(GetAudioClock(is), 10.005, 1e-6);
  AnchorAudioClock(is, 4800);
  EXPECT_NEAR(GetAudioClock(is), 10.025, 1e-6) << "a new callback starts from its own buffer";

  // Silence handed out (paused, starved, ended): the clock stands still.
  is.audio_buf_silent = 1;
  AnchorAudioClock(is, 4800);
  gFakeNow += 100000;
  EXPECT_NEAR(GetAudioClock(is), 10.075, 1e-6);
}

TEST_F(PlayerTimingTest, AudioMasterWithoutAudioLeavesTheVideoItsOwnTime) {
  is.av_sync_type = AV_SYNC_AUDIO_MASTER;
  is.paused = 1;
  is.video_current_pts = 5.0;
  is.audio_clock = 50.0;  // no audio stream: not consulted
  EXPECT_NEAR(TCustomPlayer::ComputeTargetTime(is, 0.04), 1000.04, 1e-9);
}

TEST(PlayerVideoRules, RefreshKeepsShowsOrDropsTheHeadPicture) {
  using V = TCustomPlayer::TPictureVerdict;
  struct {
    const char* Name;
    double Now, Target, Next;
    bool Two, FrameDrop, Forced;
    V Want;
    bool SkipRises;
  } const cases[] = {
      {"not due yet", 9.99, 10.0, 10.04, true, true, false, V::pvNotDue, false},
      {"due", 10.0, 10.0, 10.04, true, true, false, V::pvShow, false},
      {"late without frame dropping: still shown", 12.0, 10.0, 10.04, false, false, false, V::pvShow, false},
      {"late, two queued, without frame dropping: shown", 12.0, 10.0, 10.04, true, false, false, V::pvShow, false},
      {"after a seek: dropped", 10.0, 10.0, 10.04, false, false, true, V::pvDrop, true},
      {"past the next one's time, two queued: dropped", 10.05, 10.0, 10.04, true, true, false, V::pvDrop, true},
      {"past its successor's time, alone: shown", 10.2, 10.0, 10.04, false, true, false, V::pvShow, true},
      {"half a second past, alone: dropped", 10.6, 10.0, 10.04, false, true, false, V::pvDrop, true},
  };
  for (const auto& c : cases) {
    std::atomic<double> skip{1.0};
    EXPECT_EQ(TCustomPlayer::JudgePicture(c.Now, c.Target, c.Next, c.Two, c.FrameDrop, c.Forced, skip), c.Want)
        << c.Name;
    EXPECT_EQ(skip.load() > 1.0, c.SkipRises) << c.Name;
  }
}

}  // namespace
}  // namespace quorvel::test
