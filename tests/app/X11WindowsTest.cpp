// The windows that show pictures, under Xvfb with Qt on X11 and SDL's x11
// driver: the trim dialog playing a row's video (SDL draws into the
// dialog's picture panel; a paused picture comes back when the window
// system takes the dialog away and gives it back), and the conversion's
// preview window during a real run of the main window's task manager
// (shown at the picture's size with its time as the caption; closed through
// the window system, the run goes on without it; dragged by its picture
// where no window manager moves it). What is checked is what
// the X server shows: grabs of the windows and its list of windows. The
// clips are made by the engine from pictures these tests draw, one colour
// per second.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "AppTestSupport.h"
#include "MainFormFixture.h"
#include "XServerView.h"
#include "app/conversion/PreviewWindow.h"
#include "app/preview/ClipForm.h"
#include "app/preview/PlayerScreen.h"
#include "app/preview/PreviewPanel.h"
#include "app/shell/Widgets.h"
#include "app/shell/MainForm.h"
#include "app/sources/SourceList.h"
#include "media/encoder/FFEncode.h"
#include "media/player/FFPlay.h"
#include "media/player/VideoFile.h"
#include "media/player/libsdl.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/MainThread.h"
#include "support/DecodeBack.h"

namespace quorvel {
namespace {

using test::SecondColour;
using test::TSolidColour;
using test::TXServerView;
using test::TXWindow;

constexpr int64_t kSecond = 1000000;

bool WaitFor(const std::function<bool()>& ADone, int AMs = 60000) { return QTest::qWaitFor(ADone, AMs); }

bool Near(const QColor& AGot, const TSolidColour& AWant, int ATolerance = 48) {
  return std::abs(AGot.red() - AWant.R) <= ATolerance && std::abs(AGot.green() - AWant.G) <= ATolerance &&
         std::abs(AGot.blue() - AWant.B) <= ATolerance;
}

std::string Rgb(const QColor& AColour) {
  return std::to_string(AColour.red()) + "," + std::to_string(AColour.green()) + "," + std::to_string(AColour.blue());
}

// What the X server shows in the middle of AWidget's window.
QColor ShownColour(QWidget& AWidget) {
  const QImage picture = AWidget.screen()->grabWindow(AWidget.winId()).toImage();
  return picture.isNull() ? QColor() : picture.pixelColor(picture.width() / 2, picture.height() / 2);
}

// Grabs until the middle of AWidget shows AWant (the server shows a
// drawing once it has processed the drawing client's requests); the last
// colour seen.
QColor WaitForColour(QWidget& AWidget, const TSolidColour& AWant) {
  QColor seen;
  WaitFor([&] {
    seen = ShownColour(AWidget);
    return Near(seen, AWant);
  }, 10000);
  return seen;
}

void DrawSecondColour(const test::TDrawnPicture& APicture) {
  const TSolidColour& c = SecondColour(APicture.Index / 25);
  APicture.Fill(0, 0, APicture.Width, APicture.Height, c.Y, c.U, c.V);
}

class X11WindowsTest : public test::TMainFormFixture {
protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
    ASSERT_TRUE(FServer.Connected());
    TMainFormFixture::SetUp();
    if (HasFatalFailure()) return;
    // The players draw through SDL's X11 driver into their host widgets;
    // the sound goes nowhere.
    SetSDLEnv("SDL_VIDEODRIVER", "x11");
    SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  }
  void TearDown() override {
    // A dialog left playing by a failed check stops before the window goes
    // (its player would log after the window's log collector).
    if (FForm) FForm->ClipForm().done(QDialog::Rejected);
    TMainFormFixture::TearDown();
  }

  // Four seconds of 320x180 H.264 at 25 pictures a second, a colour and a
  // tone per second.
  std::string Colours() {
    test::TVideoSpec spec;
    spec.Width = 320;
    spec.Height = 180;
    spec.Frames = 100;
    spec.ToneHz = {300, 600, 900, 1200};
    return test::MakeVideoFile(FDir.toStdString() + "/colours", spec, DrawSecondColour);
  }
  void Add(const std::string& AFile) {
    ASSERT_TRUE(FForm->AddMediaFile(QString::fromStdString(AFile))) << AFile;
    FForm->SourceList().SelectIndex(FForm->SourceList().RowCount() - 1);
  }
  // The trim dialog shown on the selected row, on the screen.
  TClipForm& ShowClip() {
    TClipForm& clip = FForm->ClipForm();
    clip.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&clip));
    return clip;
  }

  TXServerView FServer;
};

// ------------------------------------------------------------ the trim dialog

TEST_F(X11WindowsTest, TrimDialogShowsTheRowsPicturesAndKeepsThePausedOne) {
  Add(Colours());
  TClipForm& clip = ShowClip();
  TPlayerScreen& panel = *clip.Screen();
  ASSERT_NE(panel.NativeWindowId(), 0u) << "the panel is a window of its own";

  // Playing: the seconds' colours come one after another in the panel.
  for (int second : {0, 1, 2}) {
    const QColor seen = WaitForColour(panel, SecondColour(second));
    EXPECT_TRUE(Near(seen, SecondColour(second))) << "second " << second << ": " << Rgb(seen);
  }
  // Paused, and the slider taken to 1.5 s: the picture of that place.
  clip.PauseButtonClick();
  ASSERT_TRUE(WaitFor([&] { return clip.Player().PlayState() == psPause; }));
  clip.Slider()->setSliderDown(true);
  clip.Slider()->setSliderPosition(375);
  clip.Slider()->setSliderDown(false);
  // (The seek lands on the key picture before the place: the clip has one
  // each second.)
  int64_t pts = -1;
  ASSERT_TRUE(WaitFor([&] {
    clip.Player().CurrentFrame(pts);
    return pts >= kSecond && pts < 2 * kSecond;
  })) << "the picture at " << pts;
  const TSolidColour& paused = SecondColour(1);
  QColor seen = WaitForColour(panel, paused);
  ASSERT_TRUE(Near(seen, paused)) << "the paused picture: " << Rgb(seen);

  // The window system takes the picture away and gives the window back: the
  // paused picture is drawn again.
  const QPoint at = panel.mapToGlobal(QPoint(0, 0));
  const auto dialog = static_cast<uint32_t>(clip.winId());
  const struct {
    const char* Name;
    bool Unmap;  // else covered by another client's window
  } cases[] = {{"unmapped and mapped again (minimised and restored)", true},
               {"covered by another window and uncovered", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    uint32_t cover = 0;
    if (c.Unmap)
      FServer.Unmap(dialog);
    else
      cover = FServer.Cover(at.x(), at.y(), panel.width(), panel.height());
    // The picture is gone from the screen meanwhile.
    EXPECT_TRUE(WaitFor([&] { return !Near(ShownColour(panel), paused); }, 10000))
        << "still shown: " << Rgb(ShownColour(panel));
    QTest::qWait(100);
    if (c.Unmap)
      FServer.Map(dialog);
    else
      FServer.Destroy(cover);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&clip));
    seen = WaitForColour(panel, paused);
    EXPECT_TRUE(Near(seen, paused)) << Rgb(seen);
    EXPECT_EQ(clip.Player().PlayState(), psPause) << "still paused";
  }
  clip.done(QDialog::Rejected);
  EXPECT_TRUE(FSink.Reports.empty());
}

// ------------------------------------------------------------ the main window's preview box

// Played with the main window's Play button: a video row's pictures come in
// the preview box and go with Stop; a sound leaves the box dark and opens
// no window of SDL's own. Rows come in as a file manager drops them.
TEST_F(X11WindowsTest, PreviewBoxShowsAVideoRowsPicturesAndStaysDarkForASound) {
  FForm->resize(900, 600);
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  const QString video = QString::fromStdString(Colours());
  const QString sound = test::MakeSine(FDir + "/sound.wav", 3.0);
  ASSERT_TRUE(test::DropFiles(FForm.get(), {video, sound}));
  ASSERT_TRUE(WaitFor([&] { return FForm->SourceList().RowCount() == 2; }));
  TPreviewPanel& preview = FForm->Preview();
  QWidget& box = *FForm->Ui().pnlPreview;

  FForm->SourceList().SelectIndex(0);
  QTest::mouseClick(FForm->Ui().btnPlay, Qt::LeftButton);
  ASSERT_TRUE(preview.ShowsPictures()) << "the video row";
  ASSERT_NE(preview.Screen(), nullptr);
  TPlayerScreen& screen = *preview.Screen();
  EXPECT_TRUE(screen.isVisible());
  EXPECT_EQ(screen.size(), box.size()) << "the pictures fill the box";
  for (int second : {0, 1}) {
    const QColor seen = WaitForColour(screen, SecondColour(second));
    EXPECT_TRUE(Near(seen, SecondColour(second))) << "second " << second << ": " << Rgb(seen);
  }
  test::SaveScreenshot(*FForm, "main-window-video", true);
  QTest::mouseClick(FForm->Ui().btnStop, Qt::LeftButton);
  EXPECT_FALSE(screen.isVisible()) << "the box is dark again after Stop";

  FForm->SourceList().SelectIndex(1);
  const std::vector<TXWindow> before = FServer.TopLevelWindows();
  QTest::mouseClick(FForm->Ui().btnPlay, Qt::LeftButton);
  EXPECT_FALSE(preview.ShowsPictures()) << "the sound row";
  EXPECT_FALSE(screen.isVisible());
  ASSERT_TRUE(WaitFor([&] { return preview.Player().PlayState() == psPlay && preview.Duration() > 0; }));
  FServer.Sync();
  for (const TXWindow& w : TXServerView::NewWindows(before, FServer.TopLevelWindows()))
    if (w.Viewable) ADD_FAILURE() << "window " << w.Id << " \"" << w.Name << "\" shown for a sound";
  for (const TSolidColour& c : {SecondColour(0), SecondColour(1), SecondColour(2), SecondColour(3)})
    EXPECT_FALSE(Near(ShownColour(box), c)) << "a picture left in the box: " << Rgb(ShownColour(box));
  QTest::mouseClick(FForm->Ui().btnStop, Qt::LeftButton);
  EXPECT_TRUE(FSink.Reports.empty());
}

// ------------------------------------------------------------ the conversion's preview window

// The paints of a run. While stepping, each painted picture keeps the run
// waiting on its own thread (the main thread is free) until the test lets
// it go, so the window can be looked at while nothing changes it.
class TPaintLog {
public:
  struct TPaint {
    int64_t PTS;
    bool Painted;
  };
  void Add(int64_t APTS, bool APainted) {
    std::unique_lock lock(FLock);
    FPaints.push_back({APTS, APainted});
    if (!APainted || !FStepping) return;
    FHeld = true;
    FChanged.wait(lock, [&] { return !FHeld; });
  }
  bool Held() const {
    std::lock_guard lock(FLock);
    return FHeld;
  }
  // Lets the held run go on; AStepOn: and hold it again at its next paint.
  void Release(bool AStepOn) {
    std::lock_guard lock(FLock);
    FStepping = AStepOn;
    FHeld = false;
    FChanged.notify_all();
  }
  std::vector<TPaint> Paints() const {
    std::lock_guard lock(FLock);
    return FPaints;
  }

private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TPaint> FPaints;
  bool FStepping = true;
  bool FHeld = false;
};

// The window program's previewer, watched: what each paint returned.
class TWatchedPreviewer : public TPreviewer {
public:
  TWatchedPreviewer(std::unique_ptr<TPreviewer> AWindow, TPaintLog& ALog, QPointer<QWidget>& AShown)
      : FWindow(std::move(AWindow)), FLog(ALog), FShown(AShown) {}
  bool PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS) override {
    const bool painted = FWindow->PaintFrame(ABitmap, AFrameNumber, APTS);
    if (painted && !FFound) {
      // The window is the main thread's.
      auto* window = dynamic_cast<TPreviewWindow*>(FWindow.get());
      CallInMainThread([&] { FShown = window ? window->Window() : nullptr; });
      FFound = true;
    }
    FLog.Add(APTS, painted);
    return painted;
  }

private:
  std::unique_ptr<TPreviewer> FWindow;
  TPaintLog& FLog;
  QPointer<QWidget>& FShown;  // main thread
  bool FFound = false;        // the run's thread
};

// A colour for every two pictures (80 ms): consecutive previews differ.
void DrawPairColour(const test::TDrawnPicture& APicture) {
  const TSolidColour& c = SecondColour(APicture.Index / 2);
  APicture.Fill(0, 0, APicture.Width, APicture.Height, c.Y, c.U, c.V);
}

TEST_F(X11WindowsTest, ConversionPreviewShowsThePicturesUntilClosedAndTheRunGoesOn) {
  test::TVideoSpec spec;
  spec.Width = 320;
  spec.Height = 180;
  spec.Frames = 50;
  spec.ToneHz = {440, 660};
  const std::string clip = test::MakeVideoFile(FDir.toStdString() + "/pairs", spec, DrawPairColour);
  TFFEncoder& encoder = FForm->FFEncoder();
  // The window program's previewer, as the main window installed it.
  const TPreviewerFactory windows = encoder.PreviewerFactory;
  ASSERT_TRUE(windows);
  TPaintLog log;
  QPointer<QWidget> shown;
  encoder.PreviewerFactory = [&] { return std::make_unique<TWatchedPreviewer>(windows(), log, shown); };
  encoder.SetPreview(true);

  TInputOptions input;
  InitInputOptions(input);
  const int task = encoder.AddTask(clip, &input);
  ASSERT_GE(task, 0) << encoder.LastErrMsg();
  TOutputOptions output;
  InitOutputOptions(output);
  output.ForceFormat = "avi";
  output.VideoCodec = "mpeg4";
  output.FrameSize = "256x144";  // the window takes the encoded picture's size
  output.AudioCodec = "mp2";
  const std::string out = FDir.toStdString() + "/out/preview.avi";
  ASSERT_TRUE(encoder.SetOutputFile(task, out, &output)) << encoder.LastErrMsg();
  std::mutex endLock;
  std::vector<TTerminateInfo> ends;
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& AInfo) {
    std::lock_guard lock(endLock);
    ends.push_back(AInfo);
  };
  auto ended = [&] {
    std::lock_guard lock(endLock);
    return !ends.empty() && ends.back().TaskIndex == -1;
  };
  auto shownNames = [&](const std::vector<TXWindow>& ABefore) {
    std::vector<std::string> names;
    for (const TXWindow& w : TXServerView::NewWindows(ABefore, FServer.TopLevelWindows()))
      if (w.Viewable) names.push_back(w.Name);
    return names;
  };
  const std::vector<TXWindow> before = FServer.TopLevelWindows();
  encoder.Start(1);

  // Four pictures in turn, each held while the window is looked at. The run
  // paints at most one picture in each 100 ms of its clock: waiting longer
  // than that before letting it go makes its next picture the next preview.
  int64_t first = 0;
  for (int step = 0; step < 4; ++step) {
    SCOPED_TRACE("preview " + std::to_string(step));
    ASSERT_TRUE(WaitFor([&] { return log.Held() || ended(); }));
    ASSERT_TRUE(log.Held()) << "the run ended";
    const std::vector<TPaintLog::TPaint> paints = log.Paints();
    ASSERT_EQ(paints.size(), static_cast<size_t>(step + 1));
    const int64_t pts = paints.back().PTS;
    if (step == 0) first = pts;
    EXPECT_EQ(pts - first, step * 40000) << "the next picture";
    ASSERT_FALSE(shown.isNull());
    QWidget& window = *shown;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), QSize(256, 144));
    EXPECT_EQ(window.windowTitle().toStdString(), TimeText(pts));
    // As the X server has it: one window on the screen, with that caption,
    // showing the picture.
    std::vector<std::string> names;
    EXPECT_TRUE(WaitFor([&] {
      names = shownNames(before);
      return names == std::vector<std::string>{TimeText(pts)};
    }, 10000)) << (names.empty() ? "no window" : names.front());
    const TSolidColour& colour = SecondColour(step / 2);
    const QColor seen = WaitForColour(window, colour);
    EXPECT_TRUE(Near(seen, colour)) << Rgb(seen);
    if (step < 3) {
      QTest::qWait(150);
      log.Release(true);
    }
  }

  // Closed as by its caption's button: final. The run's next picture is
  // refused and no other is offered; the run goes on to its end.
  ASSERT_FALSE(shown.isNull());
  FServer.AskToClose(static_cast<uint32_t>(shown->winId()));
  ASSERT_TRUE(WaitFor([&] { return shown.isNull() || !shown->isVisible(); }));
  QTest::qWait(150);
  log.Release(false);
  ASSERT_TRUE(WaitFor(ended));
  const std::vector<TPaintLog::TPaint> paints = log.Paints();
  ASSERT_EQ(paints.size(), 5u) << "one paint after the close, then none";
  EXPECT_FALSE(paints[4].Painted);
  EXPECT_EQ(paints[4].PTS - first, 4 * 40000);
  EXPECT_TRUE(WaitFor([&] { return shown.isNull(); })) << "the window goes with its previewer";
  for (const std::string& name : shownNames(before)) ADD_FAILURE() << "window \"" << name << "\" left on the screen";
  {
    std::lock_guard lock(endLock);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0].TaskIndex, task);
    EXPECT_TRUE(ends[0].Finished);
    EXPECT_FALSE(ends[0].Exception) << ends[0].ExceptionMsg;
  }
  encoder.OnTerminate = nullptr;
  encoder.ClearTasks();
  // The whole clip was converted.
  const test::TDecodedAudio decoded = test::DecodeAudio(out);
  ASSERT_TRUE(decoded.Ok) << decoded.Error;
  EXPECT_NEAR(decoded.Seconds, 2.0, 0.1);
}

// Without a window manager to move it (Xvfb has none), the preview window
// follows the pointer dragging its picture; the X server has it where it was
// dragged to.
TEST(PreviewWindowX11, IsDraggedByItsPicture) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  TXServerView server;
  ASSERT_TRUE(server.Connected());
  TPreviewWindow preview;
  TBitmap bitmap(160, 90, TBMPPixelFormat::pf24bit);
  ASSERT_TRUE(test::PaintFromAJob(preview, bitmap, 0));
  QWidget* window = preview.Window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  const auto shownAt = [&] {
    server.Sync();
    QPoint at;
    EXPECT_TRUE(server.RootPosition(static_cast<uint32_t>(window->winId()), at.rx(), at.ry()));
    return at;
  };
  const QPoint start = shownAt();
  const struct {
    const char* Name;
    QPoint By;
  } drags[] = {{"right and down", {40, 25}}, {"left and up", {-70, -15}}};
  QPoint expected = start;
  for (const auto& d : drags) {
    SCOPED_TRACE(d.Name);
    const QPoint grip(20, 20);
    QTest::mousePress(window, Qt::LeftButton, {}, grip);
    // In two steps, as a hand moves; each step is taken from where the
    // window is then.
    QTest::mouseMove(window, grip + d.By / 2);
    QTest::mouseMove(window, grip + d.By - d.By / 2);
    QTest::mouseRelease(window, Qt::LeftButton, {}, grip);
    expected += d.By;
    QPoint at;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (at = shownAt()) == expected; }, 5000))
        << "at " << at.x() << "," << at.y() << ", expected " << expected.x() << "," << expected.y();
  }
  // A press of another button does not drag.
  QTest::mousePress(window, Qt::RightButton, {}, QPoint(20, 20));
  QTest::mouseMove(window, QPoint(60, 60));
  QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(60, 60));
  QTest::qWait(100);
  EXPECT_EQ(shownAt(), expected);
}

// ------------------------------------------------------------ pictures

// The trim dialog on a video row, paused on a picture, as the X server shows
// it (SDL's drawing in the panel included; a grab of the widgets alone
// would leave the panel empty).
TEST(Screenshots, TrimDialogWithAVideoPicture) {
  ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"));
  test::ResetUserState();
  test::TRecordingSink sink;
  test::TRecordingDesktop desktop;
  const QString program = test::MakeProgramFolder();
  const QString dir = QDir::cleanPath(program + "../media");
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  TMainForm main(TAppServices{program, {}, &desktop}, sink);
  main.FormCreate();
  ASSERT_TRUE(main.PrepareSourceList());
  SetSDLEnv("SDL_VIDEODRIVER", "x11");
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  // A picture with more than one colour: the four seconds' colours as
  // quarters, a white frame and a bar that moves with the picture number.
  test::TVideoSpec spec;
  spec.Width = 640;
  spec.Height = 360;
  spec.Frames = 125;
  spec.ToneHz = {440, 440, 660, 660, 880};
  const std::string clip = test::MakeVideoFile(dir.toStdString() + "/quarters", spec, [](const test::TDrawnPicture& P) {
    P.Fill(0, 0, P.Width, P.Height, 235, 128, 128);
    for (int q = 0; q < 4; ++q) {
      const TSolidColour& c = SecondColour(q);
      P.Fill(16 + (q % 2) * (P.Width / 2 - 16), 16 + (q / 2) * (P.Height / 2 - 16), P.Width / 2 - 16,
             P.Height / 2 - 16, c.Y, c.U, c.V);
    }
    P.Fill(16 + P.Index * 4, P.Height / 2 - 8, 32, 16, 16, 128, 128);
  });
  ASSERT_TRUE(main.AddMediaFile(QString::fromStdString(clip)));
  main.SourceList().SelectIndex(0);
  TClipForm& form = main.ClipForm();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  ASSERT_TRUE(WaitFor([&] { return form.ClipPosition() > 2 * kSecond; }));
  form.PauseButtonClick();
  ASSERT_TRUE(WaitFor([&] { return form.Player().PlayState() == psPause; }));
  form.TimeStart()->setTime(QTime(0, 0, 1));
  form.StartFieldOkClick();
  form.TimeEnd()->setTime(QTime(0, 0, 4));
  form.EndFieldOkClick();
  // The top left quarter is the first second's colour.
  TPlayerScreen& panel = *form.Screen();
  ASSERT_TRUE(WaitFor([&] {
    const QImage shown = panel.screen()->grabWindow(panel.winId()).toImage();
    return !shown.isNull() && Near(shown.pixelColor(shown.width() / 4, shown.height() / 4), SecondColour(0));
  }, 10000)) << "no picture in the panel";
  test::SaveScreenshot(form, "trim-dialog-video", true);
  form.done(QDialog::Rejected);
}

}  // namespace
}  // namespace quorvel
