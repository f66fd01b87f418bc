// The players' host widget. Under an X server (the X11 tests run in Xvfb)
// SDL embeds into the widget: the player's SDL starts with the x11 video
// driver and a fill through the player's entry table colours the widget.
// Offscreen there is no native window to embed into: the player gets no
// window id and the sound still plays.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include "../../media/decoder/DecoderTestSupport.h"
#include "../../media/player/PlayerTestSupport.h"
#include "app/preview/PlayerScreen.h"

namespace quorvel::test {
namespace {

class PlayerScreenTest : public PlayerTest {};

TEST_F(PlayerScreenTest, X11SDLDrawsIntoTheWidget) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  TPlayerScreen screen;
  screen.resize(160, 120);
  screen.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
  ASSERT_NE(screen.NativeWindowId(), 0u);

  TFFPlayer player;
  LoadCopy(player, 0);
  SetSDLEnv("SDL_VIDEODRIVER", "x11");
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  LogCapture log(llDebug);
  ASSERT_TRUE(player.InitSDL(&screen)) << player.SDL().SDL_GetError();
  EXPECT_TRUE(log.Has(&player, llDebug, "using video driver: x11"));
  EXPECT_TRUE(screen.Attached());

  const TSDLStubs& sdl = player.SDL();
  SDL_Surface* surface = sdl.SDL_SetVideoMode(160, 120, 0, 0);
  ASSERT_NE(surface, nullptr) << sdl.SDL_GetError();
  sdl.SDL_FillRect(surface, nullptr, sdl.SDL_MapRGB(surface->format, 255, 0, 0));
  sdl.SDL_UpdateRect(surface, 0, 0, 0, 0);
  QImage picture;
  // The X server shows the fill once it has processed SDL's requests.
  for (int i = 0; i < 100; ++i) {
    QApplication::processEvents();
    picture = screen.screen()->grabWindow(screen.winId()).toImage();
    if (!picture.isNull() && picture.pixelColor(80, 60) == QColor(255, 0, 0)) break;
    QTest::qWait(20);
  }
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.pixelColor(80, 60), QColor(255, 0, 0));
  // While a playback holds the widget it does not close; a click focuses it.
  EXPECT_FALSE(screen.close());
  QTest::mouseClick(&screen, Qt::LeftButton);
  // The widget the window gives the focus to (Xvfb has no window manager to
  // activate the window itself).
  EXPECT_EQ(screen.focusWidget(), &screen);
  player.ShutdownSDL();
  EXPECT_FALSE(screen.Attached());
  EXPECT_TRUE(screen.close());
}

// A host that has no native window SDL could embed into, as on Wayland
// (where an X server may still answer through XWayland): SDL must not start
// a driver that opens a window of its own beside the program's.
class TWindowlessHost : public TScreenHost {
public:
  unsigned long NativeWindowId() override { return 0; }
  void ClientSize(int& AWidth, int& AHeight) override {
    AWidth = 160;
    AHeight = 120;
  }
  void Attach(TScreenClient*) override {}
};

TEST_F(PlayerScreenTest, X11HostWithoutNativeWindowGetsNoDrawingSurface) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  TWindowlessHost host;
  TFFPlayer player;
  LoadCopy(player, 0);
  SetSDLEnv("SDL_VIDEODRIVER", "x11");
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  LogCapture log(llDebug);
  ASSERT_TRUE(player.InitSDL(&host)) << player.SDL().SDL_GetError();
  EXPECT_TRUE(log.Has(&player, llDebug, "using video driver: dummy"));
  EXPECT_FALSE(log.Has(&player, llDebug, "using video driver: x11"));
  player.ShutdownSDL();
  EXPECT_EQ(GetSDLEnv("SDL_VIDEODRIVER"), "x11") << "the environment is left as it was";
}

TEST_F(PlayerScreenTest, OffscreenPassesNoWindowAndStillPlays) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("offscreen"));
  TPlayerScreen screen;
  screen.resize(160, 120);
  screen.show();
  EXPECT_EQ(screen.NativeWindowId(), 0u);
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 0.5, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source, &screen)) << player.LastErrMsg();
  EXPECT_EQ(player.ScreenWidth(), 160) << "the surface size comes from the widget";
  ASSERT_TRUE(events.WaitUntil([](const std::vector<TPlayState>& AStates, const std::vector<int64_t>&) {
    return std::find(AStates.begin(), AStates.end(), psEnd) != AStates.end();
  }));
  player.Stop(true);
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), DecodeSource(source, 2, 44100), 2, 0));
}

}  // namespace
}  // namespace quorvel::test
