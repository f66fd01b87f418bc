// Pictures of a playback on SDL's dummy video driver (with the disk audio
// driver): what CurrentFrame shows while playing, paused, after a seek and
// a step; the overlay's size, the filters, the flip, the deinterlacer and
// the video hook; the audio display's cycle. The inputs are drawn by the
// tests and encoded by the engine (VideoFile.h).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "../decoder/DecoderTestSupport.h"
#include "PlayerTestAccess.h"
#include "PlayerTestSupport.h"
#include "VideoFile.h"
#include "media/runtime/Format.h"
#include "media/runtime/LibHandles.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace test {
namespace {

void SleepMs(int AMs) { std::this_thread::sleep_for(std::chrono::milliseconds(AMs)); }

struct TRGB {
  int R, G, B;
};

// The pixel of a bitmap in the player's default 24-bit layout (B, G, R).
TRGB PixelAt(const TBitmap& ABitmap, int AX, int AY) {
  const uint8_t* p = ABitmap.Row(AY) + 3 * AX;
  return TRGB{p[2], p[1], p[0]};
}

::testing::AssertionResult Near(TRGB AGot, int AR, int AG, int AB, int ATolerance = 48) {
  if (std::abs(AGot.R - AR) <= ATolerance && std::abs(AGot.G - AG) <= ATolerance &&
      std::abs(AGot.B - AB) <= ATolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << AGot.R << "," << AGot.G << "," << AGot.B << " instead of about "
                                       << AR << "," << AG << "," << AB;
}

// Solid colour per second (SecondColour).
void DrawSecondColour(const TDrawnPicture& APicture) {
  const TSolidColour& c = SecondColour(APicture.Index / 25);
  APicture.Fill(0, 0, APicture.Width, APicture.Height, c.Y, c.U, c.V);
}

class PlayerVideoTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    FSavedVideoDriver = GetSDLEnv("SDL_VIDEODRIVER");
    SetSDLEnv("SDL_VIDEODRIVER", "dummy");
    UseDiskDevice(Dir + "/device.raw", 23);  // about real time
  }
  void TearDown() override { SetSDLEnv("SDL_VIDEODRIVER", FSavedVideoDriver); }

  // Opens AFile paused on copy 0 and waits for the pause to settle.
  void OpenPaused(TFFPlayer& APlayer, EventRecorder& AEvents, const std::string& AFile) {
    ASSERT_TRUE(APlayer.Open(AFile, nullptr, true)) << APlayer.LastErrMsg();
    ASSERT_TRUE(AEvents.WaitFor(psPause));
  }

  // Makes a 4-second file of one colour per second (25 pictures a second)
  // and opens it paused on APlayer (SDL copy 0 loaded): the second of the
  // two pictures made while opening is the one shown.
  void OpenFourSecondsPaused(TFFPlayer& APlayer, EventRecorder& AEvents, const std::string& AName) {
    TVideoSpec spec;
    spec.Frames = 100;
    spec.ToneHz = {300, 600, 900, 1200};
    const std::string file = MakeVideoFile(Dir + "/" + AName, spec, DrawSecondColour);
    ASSERT_NO_FATAL_FAILURE(OpenPaused(APlayer, AEvents, file));
    ASSERT_TRUE(WaitForFrame(APlayer, [](int64_t APTS) { return APTS == 40000; }));
  }

  // Waits until CurrentFrame has a picture of the time APredicate accepts.
  bool WaitForFrame(TFFPlayer& APlayer, const std::function<bool(int64_t)>& APredicate) {
    return PollUntil([&] {
      int64_t pts = -1;
      const TBitmap& bitmap = APlayer.CurrentFrame(pts);
      return bitmap.Width() > 0 && APredicate(pts);
    });
  }

  // Waits until the event loop has drawn on the surface again.
  bool WaitForRedraw(TFFPlayer& APlayer, int ADrawnBefore) {
    return PollUntil([&] { return TPlayerTestAccess::DisplaysDrawn(APlayer) > ADrawnBefore; });
  }

  std::string FSavedVideoDriver;
};

TEST_F(PlayerVideoTest, CurrentFrameShowsEachSecondsColourWhilePlaying) {
  TVideoSpec spec;
  spec.Frames = 100;
  spec.ToneHz = {300, 600, 900, 1200};
  const std::string file = MakeVideoFile(Dir + "/colours", spec, DrawSecondColour);
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
  bool seen[kSecondColours] = {};
  int samples = 0;
  const auto started = std::chrono::steady_clock::now();
  while (events.States().empty() || events.States().back() != psEnd) {
    // Only a hang guard: the clip lasts four seconds.
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(120)) {
      ADD_FAILURE() << "no end of playback";
      break;
    }
    int64_t pts = -1;
    const TBitmap& bitmap = player.CurrentFrame(pts);
    if (bitmap.Width() > 0 && pts >= 0) {
      ASSERT_EQ(bitmap.Width(), 640);
      ASSERT_EQ(bitmap.Height(), 360);
      const int second = static_cast<int>(pts / 1000000);
      const int64_t intoSecond = pts % 1000000;
      // A picture right at a change may carry either colour after the
      // encoder's smoothing: judge the ones inside a second.
      if (second < kSecondColours && intoSecond >= 80000 && intoSecond <= 920000) {
        const TSolidColour& c = SecondColour(second);
        EXPECT_TRUE(Near(PixelAt(bitmap, 320, 180), c.R, c.G, c.B)) << "picture at " << pts << " µs";
        seen[second] = true;
        ++samples;
      }
    }
    SleepMs(30);
  }
  player.Stop(true);
  for (int s = 0; s < kSecondColours; ++s) EXPECT_TRUE(seen[s]) << "no picture of second " << s << " seen";
  EXPECT_GT(samples, 20);
}

struct TSizeCase {
  const char* Name;
  int Width, Height;
  std::string Codec;
  std::string Filters;
  int WantWidth, WantHeight;
};

void PrintTo(const TSizeCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class PlayerPictureSizeTest : public PlayerVideoTest, public ::testing::WithParamInterface<TSizeCase> {};

TEST_P(PlayerPictureSizeTest, PicturesHaveTheOverlaysSize) {
  const TSizeCase& c = GetParam();
  TVideoSpec spec;
  spec.Width = c.Width;
  spec.Height = c.Height;
  spec.Frames = 10;
  spec.Codec = c.Codec;
  const std::string file = MakeVideoFile(Dir + "/size", spec, DrawSecondColour);
  TFFPlayer player;
  LoadCopy(player, 0);
  player.SetVideoFilters(c.Filters);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
  int64_t pts = -1;
  const TBitmap& bitmap = player.CurrentFrame(pts);
  EXPECT_EQ(bitmap.Width(), c.WantWidth);
  EXPECT_EQ(bitmap.Height(), c.WantHeight);
  // The second of the two pictures made before the pause may be shown.
  EXPECT_TRUE(pts == 0 || pts == 40000) << pts;
  EXPECT_TRUE(Near(PixelAt(bitmap, bitmap.Width() / 2, bitmap.Height() / 2), 255, 0, 0));
  player.Stop(true);
}

INSTANTIATE_TEST_SUITE_P(Player, PlayerPictureSizeTest,
                         ::testing::Values(TSizeCase{"odd", 641, 361, "ffv1", "", 640, 360},
                                           TSizeCase{"scaled", 640, 360, "libx264", "scale=320:240", 320, 240},
                                           TSizeCase{"cropped", 640, 360, "libx264", "crop=200:100", 200, 100}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(PlayerVideoTest, BadFiltersShowNoPictureAndSayWhy) {
  TVideoSpec spec;
  spec.Frames = 10;
  spec.ToneHz = {300};
  const std::string file = MakeVideoFile(Dir + "/bad", spec, DrawSecondColour);
  TFFPlayer player;
  LoadCopy(player, 0);
  player.SetVideoFilters("nosuchfilter=1");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psEnd));
  EXPECT_EQ(TPlayerTestAccess::PicturesQueued(player), 0);
  player.Stop(true);
}

TEST_F(PlayerVideoTest, VerticalFlipSwapsTopAndBottom) {
  TVideoSpec spec;
  spec.Frames = 10;
  spec.Codec = "ffv1";
  const std::string file = MakeVideoFile(Dir + "/split", spec, [](const TDrawnPicture& APicture) {
    const TSolidColour& red = SecondColour(0);
    const TSolidColour& blue = SecondColour(2);
    APicture.Fill(0, 0, APicture.Width, APicture.Height / 2, red.Y, red.U, red.V);
    APicture.Fill(0, APicture.Height / 2, APicture.Width, APicture.Height / 2, blue.Y, blue.U, blue.V);
  });
  for (const bool flip : {false, true}) {
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetVerticalFlip(flip);
    EventRecorder events(player);
    ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
    const TBitmap& bitmap = player.CurrentFrame();
    ASSERT_EQ(bitmap.Height(), 360);
    const TRGB top = PixelAt(bitmap, 320, 40), bottom = PixelAt(bitmap, 320, 320);
    EXPECT_TRUE(Near(flip ? bottom : top, 255, 0, 0)) << (flip ? "flipped" : "as decoded");
    EXPECT_TRUE(Near(flip ? top : bottom, 0, 0, 255)) << (flip ? "flipped" : "as decoded");
    player.Stop(true);
  }
}

// Mean difference of neighbouring rows down the middle column (green).
double Stripes(const TBitmap& ABitmap) {
  double sum = 0;
  const int x = ABitmap.Width() / 2;
  for (int y = 20; y + 1 < ABitmap.Height() - 20; ++y) sum += std::abs(PixelAt(ABitmap, x, y).G - PixelAt(ABitmap, x, y + 1).G);
  return sum / (ABitmap.Height() - 41);
}

TEST_F(PlayerVideoTest, DeinterlaceRemovesLineStripes) {
  // The two fields of every picture differ: dark even rows, light odd rows.
  TVideoSpec spec;
  spec.Frames = 10;
  spec.Codec = "ffv1";
  const std::string file = MakeVideoFile(Dir + "/fields", spec, [](const TDrawnPicture& APicture) {
    for (int y = 0; y < APicture.Height; ++y)
      APicture.Fill(0, y, APicture.Width, 1, y % 2 ? 200 : 50, 128, 128);
  });
  double stripes[2] = {};
  for (const bool deinterlace : {false, true}) {
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetDeinterlace(deinterlace);
    EventRecorder events(player);
    ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
    stripes[deinterlace] = Stripes(player.CurrentFrame());
    player.Stop(true);
  }
  EXPECT_GT(stripes[0], 100) << "the clip has no stripes to remove";
  EXPECT_LT(stripes[1], 10) << "stripes left after deinterlacing";
}

TEST_F(PlayerVideoTest, VideoHookDrawsOnThePictureUnlessItDeclinesTheUpdate) {
  TVideoSpec spec;
  spec.Frames = 10;
  const std::string file = MakeVideoFile(Dir + "/hook", spec, DrawSecondColour);
  for (const bool update : {true, false}) {
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetVideoHook(true);
    std::atomic<int> calls{0};
    player.SetOnVideoHook([&](TObject*, TBitmap& ABitmap, int64_t, bool& AUpdate) {
      // A white square at 100,100.
      for (int y = 100; y < 140; ++y) std::memset(ABitmap.Row(y) + 3 * 100, 0xff, 3 * 40);
      AUpdate = update;
      ++calls;
    });
    EventRecorder events(player);
    ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
    const TBitmap& bitmap = player.CurrentFrame();
    EXPECT_GT(calls.load(), 0);
    EXPECT_TRUE(Near(PixelAt(bitmap, 120, 120), update ? 255 : 255, update ? 255 : 0, update ? 255 : 0))
        << (update ? "the square is shown" : "the picture is left as it was");
    EXPECT_TRUE(Near(PixelAt(bitmap, 300, 300), 255, 0, 0)) << "outside the square";
    player.Stop(true);
  }
}

TEST_F(PlayerVideoTest, OpenedPausedQueuesTwoPicturesThenPauses) {
  TVideoSpec spec;
  spec.Frames = 50;
  spec.ToneHz = {300, 600};
  const std::string file = MakeVideoFile(Dir + "/paused", spec, DrawSecondColour);
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
  EXPECT_EQ(TPlayerTestAccess::PicturesQueued(player), 2);
  SleepMs(300);
  EXPECT_EQ(TPlayerTestAccess::PicturesQueued(player), 2) << "the paused playback went on decoding";
  EXPECT_EQ(events.States().back(), psPause);

  // A seek while paused shows the picture of the new place.
  ASSERT_TRUE(player.Seek(int64_t{1500000}, 0, true));
  ASSERT_TRUE(WaitForFrame(player, [](int64_t APTS) { return APTS >= 1000000; }));
  int64_t pts = -1;
  const TBitmap& afterSeek = player.CurrentFrame(pts);
  EXPECT_TRUE(Near(PixelAt(afterSeek, 320, 180), 0, 255, 0)) << "at " << pts;
  EXPECT_TRUE(player.Paused());

  // A step shows the next picture and pauses again.
  const int64_t before = pts;
  player.StepToNextFrame();
  ASSERT_TRUE(WaitForFrame(player, [&](int64_t APTS) { return APTS > before; }));
  int64_t stepped = -1;
  player.CurrentFrame(stepped);
  EXPECT_EQ(stepped - before, 40000);
  SleepMs(300);
  EXPECT_TRUE(player.Paused());
  int64_t later = -1;
  player.CurrentFrame(later);
  EXPECT_EQ(later, stepped) << "the step went on playing";
  player.Stop(true);
}

// Steps asked one after the other, each as soon as the last one's picture
// is there (before or after the playback paused again): every step brings
// exactly the next picture, and the playback ends up paused.
TEST_F(PlayerVideoTest, EachStepShowsExactlyTheNextPicture) {
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenFourSecondsPaused(player, events, "steps"));
  const int queued = TPlayerTestAccess::PicturesQueued(player);
  int64_t pts = 40000;
  constexpr int kSteps = 8;
  for (int i = 0; i < kSteps; ++i) {
    const int64_t before = pts;
    player.StepToNextFrame();
    ASSERT_TRUE(WaitForFrame(player, [&](int64_t APTS) { return APTS > before; })) << "step " << i;
    player.CurrentFrame(pts);
    EXPECT_EQ(pts - before, 40000) << "step " << i;
  }
  ASSERT_TRUE(PollUntil([&] { return player.Paused(); }));
  EXPECT_EQ(TPlayerTestAccess::PicturesQueued(player), queued + kSteps);
  int64_t last = -1;
  player.CurrentFrame(last);
  EXPECT_EQ(last, 40000 + kSteps * 40000);
  player.Stop(true);
}

// The video thread is held by a step's picture until the step ends; a
// Resume ends it and must release the thread at once: the pictures go on
// (a missed wake would leave the picture standing while the sound plays).
TEST_F(PlayerVideoTest, AResumeAfterAStepPlaysThePicturesOn) {
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenFourSecondsPaused(player, events, "resume"));
  player.StepToNextFrame();
  ASSERT_TRUE(WaitForFrame(player, [](int64_t APTS) { return APTS == 80000; }));
  ASSERT_TRUE(PollUntil([&] { return player.Paused(); }));
  player.Resume();
  EXPECT_TRUE(WaitForFrame(player, [](int64_t APTS) { return APTS >= 400000; })) << "the pictures stopped";
  player.Stop(true);
}

// An MPEG transport stream made by the engine starts its times at 1.4 s:
// the first picture comes with the sound of its time, not 1.4 s after it.
TEST_F(PlayerVideoTest, TheFirstPictureOfAStreamStartingAt1Point4sComesWithItsSound) {
  TVideoSpec spec;
  spec.Frames = 75;
  spec.Codec = "mpeg2video";
  spec.Container = "ts";
  spec.AudioCodec = "mp2";
  spec.ToneHz = {300, 600, 900};
  const std::string file = MakeVideoFile(Dir + "/late", spec, DrawSecondColour);
  // The clip's start and its first picture's time, as the demuxer reads them.
  double start = -1, firstPicture = -1;
  {
    AVFormatContext* ic = nullptr;
    ASSERT_GE(avformat.avformat_open_input(&ic, file.c_str(), nullptr, nullptr), 0);
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(
        ic, [](AVFormatContext* c) { avformat.avformat_close_input(&c); });
    ASSERT_GE(avformat.avformat_find_stream_info(ic, nullptr), 0);
    const int video = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(video, 0);
    ASSERT_NE(ic->start_time, AV_NOPTS_VALUE);
    start = ic->start_time / 1e6;
    const AVStream* st = ic->streams[video];
    firstPicture = st->start_time * av_q2d(st->time_base);
  }
  ASSERT_NEAR(firstPicture, 1.4, 0.05) << "the clip's pictures start at 1.4 s";
  TFFPlayer player;
  LoadCopy(player, 0);
  // The sound's time (s) handed to the device once the first picture was shown.
  std::atomic<double> soundAtFirstPicture{-1};
  player.SetAudioHook(true);
  player.SetOnAudioHook([&](TObject*, int64_t APTS, uint8_t*, int, int, int) {
    if (soundAtFirstPicture < 0 && player.VideoStats().Shown > 0) soundAtFirstPicture = start + APTS / 1e6;
  });
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  ASSERT_GE(soundAtFirstPicture.load(), 0) << "no sound after the first picture";
  EXPECT_NEAR(soundAtFirstPicture.load(), firstPicture, 0.1);
}

// Pictures for the first second, sound for 110 s: a seek to a place past
// the pictures (by byte, where the demuxer goes on from the place itself)
// has no picture after it, and more sound follows than the reader queues
// ahead.
TEST_F(PlayerVideoTest, ASeekPastTheLastPictureReturns) {
  TVideoSpec spec;
  spec.Frames = 25;
  spec.Codec = "mpeg2video";  // no encoder delay: the pictures lie with the first second's sound
  spec.Container = "nut";
  spec.ToneHz.assign(110, 440);
  const std::string file = MakeVideoFile(Dir + "/short", spec, DrawSecondColour);
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
  bool posted = false;
  // About 11 s into the file.
  EXPECT_TRUE(ReturnsInTime([&] { posted = player.Seek(int64_t{2000000}, sfByte, true); }, [&] { player.Stop(true); }));
  EXPECT_TRUE(posted);
  EXPECT_FALSE(player.Seeking());
  player.Stop(true);
}

// When the pictures cannot be made (a filter that the graph refuses, or one
// that fails on a picture later on), the playback goes on as a sound-only
// one: its position moves with the sound, a seek ends, and the end comes.
TEST_F(PlayerVideoTest, AFailingVideoPathLeavesTheSoundPlaying) {
  TVideoSpec spec;
  spec.Frames = 75;
  spec.ToneHz = {300, 600, 900};
  const std::string file = MakeVideoFile(Dir + "/filtered", spec, DrawSecondColour);
  const struct {
    const char* Name;
    const char* Filters;
  } cases[] = {
      {"refused by the graph", "nosuchfilter=1"},
      // From 0.5 s on the scaler is asked for a size beyond any picture.
      {"failing on a later picture", "scale=w='if(gte(t,0.5),3e9,320)':h=240:eval=frame"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetVideoFilters(c.Filters);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
    ASSERT_TRUE(events.WaitForPosition(1500000));
    EXPECT_TRUE(ReturnsInTime([&] { EXPECT_TRUE(player.Seek(int64_t{1000000}, 0, true)); }, [&] { player.Stop(true); }));
    EXPECT_FALSE(player.Seeking());
    ASSERT_TRUE(events.WaitFor(psEnd));
    EXPECT_GT(events.Positions().back(), 2900000) << "the sound played to its end";
    player.Stop(true);
  }
}

// OnFileOpen gives the picture's size as the video stream has it; a sound
// file has none.
TEST_F(PlayerVideoTest, OnFileOpenCarriesThePictureSize) {
  TVideoSpec spec;
  spec.Width = 641;
  spec.Height = 361;
  spec.Frames = 10;
  spec.Codec = "ffv1";
  const struct {
    const char* Name;
    std::string File;
    std::pair<int, int> Size;
  } cases[] = {
      {"video", MakeVideoFile(Dir + "/sized", spec, DrawSecondColour), {641, 361}},
      {"sound", MakeTone(Dir, "tone.wav", 44100, 2, 1.0, 440, 0.5, "-b 16"), {-1, -1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFFPlayer player;
    LoadCopy(player, 0);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(c.File, nullptr, true)) << player.LastErrMsg();
    EXPECT_EQ(events.OpenedFrameSize(), c.Size);
    player.Stop(true);
  }
}

// ---- bitmap subtitles ----

// Four DVD subtitles over a plain blue clip, each a box of its own colour in
// its own place. Every start and end lies 20 ms from the nearest picture
// time (the clip has one each 40 ms; DVD times are in steps of 1024/90 ms,
// which moves an end back by less than 12 ms), so each picture is either
// inside a subtitle's time or outside it, with no picture in doubt.
struct TShownBox {
  const char* Name;
  TBoxSubtitle Box;
  int64_t LeavesMs;  // its end, or the next one's start when that is earlier or it has none
  TRGB Colour;
};
const TShownBox kShownBoxes[] = {
    {"A (leaves at its end)", {1020, 2020, 40, 150, 80, 60, 0xFFFFFFFF}, 2020, {255, 255, 255}},
    // Half see-through (DVD alpha 8 of 15): the blue shows through. Blended
    // twice it would be about 199, 199, 56.
    {"B (overlapped by C)", {2220, 3820, 180, 150, 80, 60, 0x88FFFF00}, 3020, {136, 136, 119}},
    {"C (no end of its own)", {3020, 0, 320, 150, 80, 60, 0xFF00FF00}, 3820, {0, 255, 0}},
    {"D (leaves at its end)", {3820, 4420, 460, 150, 80, 60, 0xFFFF0000}, 4420, {255, 0, 0}},
    // Three more close together: from C's time on more subtitles are read
    // ahead than the player's queue of four holds.
    {"E", {4460, 4700, 40, 250, 80, 60, 0xFFFFFFFF}, 4700, {255, 255, 255}},
    {"F (from E's end)", {4700, 4940, 180, 250, 80, 60, 0xFFFFFFFF}, 4940, {255, 255, 255}},
    {"G", {4940, 5420, 460, 250, 80, 60, 0xFFFFFFFF}, 5420, {255, 255, 255}},
};
const TRGB kClipBlue{0, 0, 255};

class PlayerSubtitleTest : public PlayerVideoTest {
 protected:
  // The clip with its subtitles (made once per test).
  std::string MakeClip() {
    TVideoSpec spec;
    spec.Frames = 150;
    spec.ToneHz = {300, 600, 900, 1200, 300, 600};
    const std::string video = MakeVideoFile(Dir + "/plain", spec, [](const TDrawnPicture& APicture) {
      const TSolidColour& blue = SecondColour(2);
      APicture.Fill(0, 0, APicture.Width, APicture.Height, blue.Y, blue.U, blue.V);
    });
    std::vector<TBoxSubtitle> boxes;
    for (const TShownBox& b : kShownBoxes) boxes.push_back(b.Box);
    return AddBoxSubtitles(video, Dir + "/subtitled.mkv", spec.Width, spec.Height, boxes);
  }

  // Checks one picture: each box is shown in its colour exactly when the
  // picture's time is inside the box's, and the rest stays blue. Counts the
  // pictures each box was seen on.
  void CheckPicture(const TBitmap& ABitmap, int64_t APTS, int ASeen[]) {
    const int64_t ms = APTS / 1000;
    for (size_t i = 0; i < std::size(kShownBoxes); ++i) {
      const TShownBox& b = kShownBoxes[i];
      const bool want = ms >= b.Box.StartMs && ms < b.LeavesMs;
      const TRGB got = PixelAt(ABitmap, b.Box.X + b.Box.Width / 2, b.Box.Y + b.Box.Height / 2);
      const TRGB colour = want ? b.Colour : kClipBlue;
      EXPECT_TRUE(Near(got, colour.R, colour.G, colour.B))
          << b.Name << (want ? " missing or off colour" : " shown") << " on the picture at " << ms << " ms";
      if (want && Near(got, colour.R, colour.G, colour.B)) ++ASeen[i];
    }
    EXPECT_TRUE(Near(PixelAt(ABitmap, 600, 340), 0, 0, 255)) << "away from the boxes at " << ms << " ms";
  }

  // Samples CurrentFrame until the playback ends or a picture at or past
  // AUntilMs was seen, checking every picture from AFromMs on.
  void SamplePictures(TFFPlayer& APlayer, EventRecorder& AEvents, int64_t AFromMs, int64_t AUntilMs, int ASeen[]) {
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
      if (!AEvents.States().empty() && AEvents.States().back() == psEnd) break;
      // Only a hang guard: the clip lasts six seconds.
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(120)) {
        ADD_FAILURE() << "the playback did not get there";
        break;
      }
      // Before the first picture is shown the slot may still be empty.
      if (APlayer.VideoStats().Shown == 0) {
        SleepMs(10);
        continue;
      }
      int64_t pts = -1;
      const TBitmap& bitmap = APlayer.CurrentFrame(pts);
      if (bitmap.Width() == 640 && pts >= AFromMs * 1000) {
        CheckPicture(bitmap, pts, ASeen);
        if (HasFailure()) return;  // one picture's report is enough
        if (pts >= AUntilMs * 1000) break;
      }
      SleepMs(10);
    }
  }
};

TEST_F(PlayerSubtitleTest, TheClipHasAVideoASoundAndADvdSubtitleTrack) {
  const std::string file = MakeClip();
  AVFormatContext* ic = nullptr;
  ASSERT_GE(avformat.avformat_open_input(&ic, file.c_str(), nullptr, nullptr), 0);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(
      ic, [](AVFormatContext* c) { avformat.avformat_close_input(&c); });
  ASSERT_GE(avformat.avformat_find_stream_info(ic, nullptr), 0);
  EXPECT_STREQ(ic->iformat->name, "matroska,webm");
  std::vector<AVMediaType> kinds;
  int subtitle = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    kinds.push_back(ic->streams[i]->codecpar->codec_type);
    if (kinds.back() == AVMEDIA_TYPE_SUBTITLE) subtitle = static_cast<int>(i);
  }
  EXPECT_EQ(kinds, (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}));
  ASSERT_GE(subtitle, 0);
  EXPECT_EQ(ic->streams[subtitle]->codecpar->codec_id, AV_CODEC_ID_DVD_SUBTITLE);
  // One packet per subtitle, at its start, lasting until its end (none
  // for the one without).
  std::vector<std::pair<int64_t, int64_t>> packets;
  TPacketPtr pkt(avcodec.av_packet_alloc());
  while (avformat.av_read_frame(ic, pkt.get()) >= 0) {
    if (pkt->stream_index == subtitle) {
      const AVRational tb = ic->streams[subtitle]->time_base;
      packets.emplace_back(avutil.av_rescale_q(pkt->pts, tb, AVRational{1, 1000}),
                           avutil.av_rescale_q(pkt->duration, tb, AVRational{1, 1000}));
    }
    avcodec.av_packet_unref(pkt.get());
  }
  std::vector<std::pair<int64_t, int64_t>> want;
  for (const TShownBox& b : kShownBoxes) want.emplace_back(b.Box.StartMs, b.Box.EndMs ? b.Box.EndMs - b.Box.StartMs : 0);
  EXPECT_EQ(packets, want);
}

TEST_F(PlayerSubtitleTest, SubtitlesShowFromTheirStartUntilTheirEndOrTheNextOnesStart) {
  const std::string file = MakeClip();
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
  EXPECT_GE(player.SubtitleStreamIndex(), 0);
  int seen[std::size(kShownBoxes)] = {};
  SamplePictures(player, events, 0, 5900, seen);
  player.Stop(true);
  for (size_t i = 0; i < std::size(kShownBoxes); ++i)
    EXPECT_GT(seen[i], 0) << kShownBoxes[i].Name << " was on no picture sampled";
}

TEST_F(PlayerSubtitleTest, ASeekIntoASubtitleShowsIt) {
  const std::string file = MakeClip();
  // Into A from before it, then back into A from C's time: by then C, D, E
  // and F fill the player's queue of four and G is read, and none of them
  // may keep A out.
  struct {
    const char* Name;
    int64_t FromMs, ToMs;
  } const cases[] = {{"forward", 300, 1500}, {"backward", 3200, 1500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFFPlayer player;
    LoadCopy(player, 0);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(file)) << player.LastErrMsg();
    ASSERT_TRUE(WaitForFrame(player, [&](int64_t APTS) { return APTS >= c.FromMs * 1000; }));
    ASSERT_TRUE(player.Seek(c.ToMs * 1000, 0, true));
    // The seek lands on the key picture at 1 s: A's packet (1.02 s) is read
    // again.
    ASSERT_TRUE(WaitForFrame(player, [&](int64_t APTS) { return APTS >= 1000000 && APTS < 2000000; }));
    int seen[std::size(kShownBoxes)] = {};
    SamplePictures(player, events, 1000, 2200, seen);
    player.Stop(true);
    EXPECT_GT(seen[0], 0) << "A was on no picture after the seek";
  }
}

TEST_F(PlayerSubtitleTest, PausedPicturesShowTheirSubtitles) {
  const std::string file = MakeClip();
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_NO_FATAL_FAILURE(OpenPaused(player, events, file));
  int seen[std::size(kShownBoxes)] = {};
  // A seek while paused lands on the key picture at 2 s; steps from there
  // into B and out of it into C, each picture as its time wants it. (A's
  // packet lies before that key picture: the demuxer does not read it
  // again, so the picture at 2 s is not judged.)
  ASSERT_TRUE(player.Seek(int64_t{2900000}, 0, true));
  ASSERT_TRUE(WaitForFrame(player, [](int64_t APTS) { return APTS >= 2000000; }));
  int64_t pts = -1;
  player.CurrentFrame(pts);
  while (pts < 3100000 && !HasFailure()) {
    const int64_t before = pts;
    player.StepToNextFrame();
    ASSERT_TRUE(WaitForFrame(player, [&](int64_t APTS) { return APTS > before; }));
    const TBitmap& bitmap = player.CurrentFrame(pts);
    CheckPicture(bitmap, pts, seen);
    if (seen[1] == 1) {
      // Drawn again (two changes of the video mode): still blended once.
      for (const float aspect : {1.5f, 0.0f}) {
        const int drawn = TPlayerTestAccess::DisplaysDrawn(player);
        player.SetAspectRatio(aspect);
        ASSERT_TRUE(WaitForRedraw(player, drawn)) << "no redraw for the aspect " << aspect;
      }
      const TBitmap& again = player.CurrentFrame(pts);
      CheckPicture(again, pts, seen);
    }
  }
  EXPECT_TRUE(player.Paused());
  player.Stop(true);
  EXPECT_GT(seen[1], 0) << "B was on no picture";
  EXPECT_GT(seen[2], 0) << "C was on no picture";
}

TEST_F(PlayerVideoTest, ASoundFileSetsAVideoModeOnlyWithSomethingToDraw) {
  const std::string tone = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  struct {
    const char* Name;
    bool DisableDisplay;
    TShowAudio Show;
    bool Window;
  } const cases[] = {
      {"display disabled", true, saWave, false},
      {"nothing to draw", false, saNone, false},
      {"the wave", false, saWave, true},
  };
  for (const auto& c : cases) {
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetDisableDisplay(c.DisableDisplay);
    player.SetShowAudio(c.Show);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(tone)) << player.LastErrMsg();  // no host window
    ASSERT_TRUE(events.WaitForPosition(300000));
    SDL_Surface* surface = player.SDL().SDL_GetVideoSurface();
    EXPECT_EQ(surface != nullptr, c.Window) << c.Name;
    if (surface) {
      char* title = nullptr;
      char* icon = nullptr;
      player.SDL().SDL_WM_GetCaption(&title, &icon);
      EXPECT_STREQ(title, "FFPlayer") << "SDL's own window";
    }
    player.Stop(true);
  }
}

TEST_F(PlayerVideoTest, AudioDisplayCyclesNoneWaveSpectrum) {
  const std::string tone = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  player.SetShowAudio(saNone);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(tone)) << player.LastErrMsg();
  EXPECT_EQ(player.AudioDisplay(), saNone);
  const TShowAudio cycle[] = {saWave, saRDFT, saNone, saWave};
  for (const TShowAudio want : cycle) {
    const int drawn = TPlayerTestAccess::DisplaysDrawn(player);
    player.ToggleAudioDisplay();
    EXPECT_EQ(player.AudioDisplay(), want);
    // Drawn a few times (nothing to draw with none).
    if (want != saNone) {
      ASSERT_TRUE(PollUntil([&] { return TPlayerTestAccess::DisplaysDrawn(player) >= drawn + 3; }));
    }
  }
  int64_t pts = 0;
  EXPECT_EQ(player.CurrentFrame(pts).Width(), 0) << "no pictures in a sound file";
  EXPECT_EQ(pts, -1);
  player.Stop(true);
}

}  // namespace
}  // namespace test
}  // namespace quorvel
