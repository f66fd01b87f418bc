// Pictures on the players' host widget under Xvfb with Qt on X11: SDL
// draws the playing file's pictures into the widget (a grab shows the
// colour of the picture being played), a paused picture is drawn again when
// the widget is hidden and shown. The clip is made by the engine from
// pictures this test draws. A sound played without a host window opens a
// window of SDL's own only when it has something to draw, as the X server's
// list of windows shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "XServerView.h"
#include "app/preview/PlayerScreen.h"
#include "media/decoder/DecoderTestSupport.h"
#include "media/player/PlayerTestSupport.h"
#include "media/player/VideoFile.h"

namespace quorvel::test {
namespace {

void DrawSecondColour(const TDrawnPicture& APicture) {
  const TSolidColour& c = SecondColour(APicture.Index / 25);
  APicture.Fill(0, 0, APicture.Width, APicture.Height, c.Y, c.U, c.V);
}

bool Near(const QColor& AGot, const TSolidColour& AWant, int ATolerance = 48) {
  return std::abs(AGot.red() - AWant.R) <= ATolerance && std::abs(AGot.green() - AWant.G) <= ATolerance &&
         std::abs(AGot.blue() - AWant.B) <= ATolerance;
}

// Grabs the widget until its middle shows AWant (the X server shows SDL's
// drawing once it has processed its requests); the last colour seen.
QColor WaitForColour(TPlayerScreen& AScreen, const TSolidColour& AWant) {
  QColor seen;
  for (int i = 0; i < 250; ++i) {
    QApplication::processEvents();
    const QImage picture = AScreen.screen()->grabWindow(AScreen.winId()).toImage();
    if (!picture.isNull()) {
      seen = picture.pixelColor(picture.width() / 2, picture.height() / 2);
      if (Near(seen, AWant)) break;
    }
    QTest::qWait(20);
  }
  return seen;
}

class PlayerVideoScreenTest : public PlayerTest {};

TEST_F(PlayerVideoScreenTest, X11PanelShowsThePlayingPicturesAndKeepsThePausedOne) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  TVideoSpec spec;
  spec.Width = 320;
  spec.Height = 180;
  spec.Frames = 100;
  spec.ToneHz = {300, 600, 900, 1200};
  const std::string file = MakeVideoFile(Dir + "/colours", spec, DrawSecondColour);

  TPlayerScreen screen;
  screen.resize(320, 180);
  screen.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
  SetSDLEnv("SDL_VIDEODRIVER", "x11");
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  TFFPlayer player;
  LoadCopy(player, 0);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(file, &screen, true)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psPause));
  EXPECT_TRUE(Near(WaitForColour(screen, SecondColour(0)), SecondColour(0))) << "the paused first picture";

  // Hidden and shown again: the widget is cleared, the player draws the
  // paused picture again.
  screen.hide();
  QTest::qWait(100);
  screen.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
  EXPECT_TRUE(Near(WaitForColour(screen, SecondColour(0)), SecondColour(0))) << "after hide and show";

  // Playing: the second second's colour comes.
  player.Resume();
  const QColor second = WaitForColour(screen, SecondColour(1));
  EXPECT_TRUE(Near(second, SecondColour(1))) << second.red() << "," << second.green() << "," << second.blue();
  player.Stop(true);
}

// What the X server shows while a sound plays without a host window: SDL's
// own window comes only with a picture of the sound to draw, and it is gone
// again when the playback stops.
TEST_F(PlayerVideoScreenTest, X11SoundWithoutAHostOpensAWindowOnlyWithSomethingToDraw) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  TXServerView server;
  ASSERT_TRUE(server.Connected());
  const std::string tone = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  SetSDLEnv("SDL_VIDEODRIVER", "x11");
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  const struct {
    const char* Name;
    bool DisableDisplay;
    TShowAudio Show;
    bool Window;
  } cases[] = {
      {"display disabled", true, saWave, false},
      {"display disabled, spectrum", true, saRDFT, false},
      {"nothing to draw", false, saNone, false},
      {"the wave", false, saWave, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TXWindow> before = server.TopLevelWindows();
    TFFPlayer player;
    LoadCopy(player, 0);
    player.SetDisableDisplay(c.DisableDisplay);
    player.SetShowAudio(c.Show);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(tone)) << player.LastErrMsg();  // no host window
    ASSERT_TRUE(events.WaitForPosition(500000));
    server.Sync();
    std::vector<TXWindow> shown;
    for (const TXWindow& w : TXServerView::NewWindows(before, server.TopLevelWindows()))
      if (w.Viewable) shown.push_back(w);
    if (c.Window) {
      ASSERT_EQ(shown.size(), 1u) << "SDL's own window";
      EXPECT_EQ(shown[0].Name, "FFPlayer");
    } else {
      for (const TXWindow& w : shown) ADD_FAILURE() << "window " << w.Id << " \"" << w.Name << "\" shown";
    }
    player.Stop(true);
    server.Sync();
    for (const TXWindow& w : TXServerView::NewWindows(before, server.TopLevelWindows()))
      ADD_FAILURE() << "window " << w.Id << " \"" << w.Name << "\" left after the playback";
  }
}

}  // namespace
}  // namespace quorvel::test
