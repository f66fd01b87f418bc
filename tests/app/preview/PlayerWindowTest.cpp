// The preview panel of the main window and the trim dialog, driven through
// the real windows offscreen. Sound goes to SDL's disk audio driver: what
// reached the device is read back and compared with the decoder's decode of
// the row's file.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <functional>

#include "../AppTestSupport.h"
#include "../MainFormFixture.h"
#include "../../media/player/PlayerTestSupport.h"
#include "app/conversion/ConvForm.h"
#include "app/conversion/BatchConversion.h"
#include "app/preview/ClipForm.h"
#include "app/preview/PlayerScreen.h"
#include "app/preview/PreviewPanel.h"
#include "app/shell/AppWindows.h"
#include "app/shell/MainForm.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"
#include "media/runtime/Format.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

constexpr int kRate = 44100;
constexpr int kWavProfile = 6;  // of the shipped set
constexpr int64_t kSecond = 1000000;
// The disk driver's pause after each device buffer (1024 frames): about
// real time, for the tests where the pace of the events matters.
constexpr int kRealTimeDelayMs = 23;

bool WaitFor(const std::function<bool()>& ADone, int AMs = 60000) { return QTest::qWaitFor(ADone, AMs); }

// A stretch of the device output that continues the source without a break.
struct TSegment {
  int64_t Got;   // first frame in the device output
  int64_t Want;  // first frame in the source
  int64_t Frames;
};

// The device output from AFrom cut into the stretches of the source it
// plays, silence between them skipped.
std::vector<TSegment> Segments(const std::vector<int16_t>& AGot, const std::vector<int16_t>& AWant, size_t AFrom) {
  std::vector<TSegment> segments;
  const auto gotFrames = static_cast<int64_t>(AGot.size() / 2);
  const auto wantFrames = static_cast<int64_t>(AWant.size() / 2);
  constexpr int kWindow = 256;
  auto g = static_cast<int64_t>(test::FirstSound(AGot, 2, AFrom));
  int misses = 0;
  while (g + kWindow < gotFrames) {
    const int64_t w = test::FindContinuation(AGot, g, AWant, 0, wantFrames, kWindow, 2, 0);
    if (w < 0) {
      // Sound that is no stretch of the source: the segments end here.
      if (++misses > 64) {
        ADD_FAILURE() << "the device output from frame " << g << " is not the source's";
        break;
      }
      g += 16;
      continue;
    }
    int64_t n = kWindow;
    while (g + n < gotFrames && w + n < wantFrames && test::SameFrames(AGot, g + n, AWant, w + n, 1, 2, 0)) ++n;
    segments.push_back({g, w, n});
    g = static_cast<int64_t>(test::FirstSound(AGot, 2, g + n));
  }
  return segments;
}

// The left mouse button as the events the widgets got say. QTest's widget
// events go straight to the widget and never reach the platform's button
// state that IsLeftButtonDown asks, so the players ask this instead.
class TLeftButton : public QObject {
public:
  TLeftButton() { qApp->installEventFilter(this); }
  ~TLeftButton() override { qApp->removeEventFilter(this); }
  TButtonProbe Probe() {
    return [this] { return FDown; };
  }

protected:
  bool eventFilter(QObject*, QEvent* AEvent) override {
    const QEvent::Type type = AEvent->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) &&
        static_cast<QMouseEvent*>(AEvent)->button() == Qt::LeftButton)
      FDown = type == QEvent::MouseButtonPress;
    return false;
  }

private:
  bool FDown = false;
};

// Where a slider's knob is drawn.
QRect Knob(const QSlider* ASlider) {
  QStyleOptionSlider opt;
  opt.initFrom(ASlider);
  opt.orientation = ASlider->orientation();
  opt.minimum = ASlider->minimum();
  opt.maximum = ASlider->maximum();
  opt.sliderPosition = ASlider->sliderPosition();
  opt.sliderValue = ASlider->value();
  opt.singleStep = ASlider->singleStep();
  opt.pageStep = ASlider->pageStep();
  opt.subControls = QStyle::SC_All;
  return ASlider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, ASlider);
}

// A click on a slider's track at AX: pressed, held while what the press
// queued runs, let go.
void ClickTrack(QSlider* ASlider, int AX) {
  const QPoint at(AX, ASlider->height() / 2);
  ASSERT_FALSE(Knob(ASlider).contains(at)) << "the click is meant for the track, not the knob";
  QTest::mousePress(ASlider, Qt::LeftButton, {}, at);
  QCoreApplication::processEvents();
  QTest::mouseRelease(ASlider, Qt::LeftButton, {}, at);
}

// Frames in a device file so far (16-bit stereo).
int64_t DeviceFrames(const std::string& ADevice) { return QFileInfo(QString::fromStdString(ADevice)).size() / 4; }

class PlayerWindowTest : public test::TMainFormFixture {
protected:
  std::string Dir() const { return FDir.toStdString(); }
  QString Sweep(const char* AName, double ASeconds) {
    return QString::fromStdString(test::MakeSweep(Dir(), AName, kRate, 2, ASeconds, "-b 16"));
  }
  // Ten seconds whose tone steps every second: second n glides over its own
  // band (so that each point of the file has samples of its own).
  QString Steps() {
    QStringList parts;
    for (int i = 0; i < 10; ++i) {
      const QString part = FDir + QStringLiteral("/step%1.wav").arg(i);
      const std::string cmd = Format("sox -D -n -r %d -c 2 -b 16 '%s' synth 1 sine %d-%d vol 0.5 2>&1", kRate,
                                     part.toUtf8().constData(), 200 + 150 * i, 260 + 150 * i);
      EXPECT_EQ(test::Run(cmd), 0) << cmd;
      parts << "'" + part + "'";
    }
    const QString steps = FDir + "/steps.wav";
    const std::string cmd = Format("sox %s '%s' 2>&1", parts.join(' ').toUtf8().constData(), steps.toUtf8().constData());
    EXPECT_EQ(test::Run(cmd), 0) << cmd;
    return steps;
  }
  void Add(const QString& APath) {
    ASSERT_TRUE(FForm->AddMediaFile(APath)) << APath.toStdString();
    List().SelectIndex(List().RowCount() - 1);
  }
  TSourceList& List() { return FForm->SourceList(); }
  TPreviewPanel& Preview() { return FForm->Preview(); }
  const TMainFormUi& Ui() { return FForm->Ui(); }
  std::string Device(int ADelayMs = 5) { return test::UseDiskDevice(Dir() + "/device.raw", ADelayMs); }
  std::vector<int16_t> Want(const QString& AFile) { return test::DecodeSource(AFile.toStdString(), 2, kRate); }

  // The trim dialog shown (not modal) on the selected row.
  TClipForm& ShowClip() {
    TClipForm& clip = FForm->ClipForm();
    clip.show();
    return clip;
  }
  QAbstractButton* ClipButton(TClipForm& AClip, const char* AName) {
    auto* button = AClip.findChild<QAbstractButton*>(AName);
    EXPECT_NE(button, nullptr) << AName;
    return button;
  }
  // The part from AStart to AEnd typed into the two fields, each confirmed
  // with its own OK.
  void TypePart(TClipForm& AClip, QTime AStart, QTime AEnd) {
    AClip.TimeStart()->setTime(AStart);
    QTest::mouseClick(ClipButton(AClip, "btnStartFieldOK"), Qt::LeftButton);
    AClip.TimeEnd()->setTime(AEnd);
    QTest::mouseClick(ClipButton(AClip, "btnEndFieldOK"), Qt::LeftButton);
  }
  // The source time the device played last: the start of the last stretch
  // of the source in its output.
  double LastStretchSeconds(const std::string& ADevice, const std::vector<int16_t>& AWant) {
    const std::vector<TSegment> segments = Segments(test::ReadSamples(ADevice), AWant, 0);
    return segments.empty() ? -1.0 : static_cast<double>(segments.back().Want) / kRate;
  }
  TLeftButton FLeft;
  // Drags a handle with the mouse to the left edges in ATargets.
  void Drag(QLabel* AHandle, const std::vector<int>& ATargets, int APauseMs) {
    const int grab = 6;
    QTest::mousePress(AHandle, Qt::LeftButton, {}, QPoint(grab, grab));
    for (int target : ATargets) {
      QTest::mouseMove(AHandle, QPoint(target - AHandle->x() + grab, grab));
      if (APauseMs > 0) QTest::qWait(APauseMs);
    }
    QTest::mouseRelease(AHandle, Qt::LeftButton, {}, QPoint(grab, grab));
  }

};

// ------------------------------------------------------------ the preview

TEST_F(PlayerWindowTest, PreviewPlaysTheRowPausesResumesAndStopsAtTheEnd) {
  const QString tone = Sweep("sweep.wav", 2.0);
  Add(tone);
  const std::string device = Device();
  Ui().btnPlay->click();
  EXPECT_TRUE(Ui().btnPlay->isChecked());
  ASSERT_TRUE(WaitFor([&] { return Ui().sldPosition->value() >= 250; }));
  // The slider stands where the player is, and the label says it.
  EXPECT_EQ(Preview().Duration(), 2 * kSecond);
  EXPECT_TRUE(Ui().lblPlayTime->text().endsWith(" / 00:00:02")) << Ui().lblPlayTime->text().toStdString();

  Ui().btnPause->click();
  EXPECT_TRUE(Ui().btnPause->isChecked());
  EXPECT_FALSE(Ui().btnPlay->isChecked());
  const size_t atPause = test::ReadSamples(device).size();
  ASSERT_TRUE(WaitFor([&] { return test::ReadSamples(device).size() > atPause + kRate; }));
  Ui().btnPlay->click();  // resumes, does not open again
  EXPECT_TRUE(Ui().btnPlay->isChecked());
  EXPECT_FALSE(Ui().btnPause->isChecked());
  // The end runs Stop, which releases Play (its psStop may follow the psEnd).
  ASSERT_TRUE(WaitFor([&] { return !Ui().btnPlay->isChecked(); }));

  EXPECT_FALSE(Ui().btnPlay->isChecked());
  EXPECT_FALSE(Ui().btnPause->isChecked());
  EXPECT_EQ(Ui().sldPosition->value(), 1000);
  EXPECT_EQ(Ui().lblPlayTime->text(), "00:00:02 / 00:00:02");
  // The whole file was heard: up to the pause, a run of silence, the rest.
  const auto got = test::ReadSamples(device);
  const auto want = Want(tone);
  const size_t gotStart = test::FirstSound(got, 2), wantStart = test::FirstSound(want, 2);
  size_t before = 0;
  while (test::SameFrames(got, gotStart + before, want, wantStart + before, 1, 2, 0)) ++before;
  ASSERT_GT(before, 0u);
  const size_t resumed = test::FirstSound(got, 2, gotStart + before);
  const size_t rest = want.size() / 2 - (wantStart + before);
  EXPECT_TRUE(test::SameFrames(got, resumed, want, wantStart + before, rest, 2, 0));
  EXPECT_EQ(test::FirstSound(got, 2, resumed + rest), got.size() / 2);
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(PlayerWindowTest, PreviewKnobHeldStaysStillAndItsReleaseSeeks) {
  const QString sweep = Sweep("sweep.wav", 6.0);
  Add(sweep);
  const std::string device = Device(kRealTimeDelayMs);
  bool held = false;
  Preview().SetButtonProbe([&] { return held; });
  QSlider* slider = Ui().sldPosition;
  Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return slider->value() >= 100; }));

  held = true;
  slider->setSliderDown(true);  // grabbed: sliderPressed
  EXPECT_TRUE(Preview().TrackDragging());
  const int grabbed = slider->value();
  const QString label = Ui().lblPlayTime->text();
  ASSERT_TRUE(WaitFor([&] { return Ui().lblPlayTime->text() != label; }));
  EXPECT_EQ(slider->value(), grabbed) << "the knob stays under the mouse";
  slider->setSliderPosition(750);
  held = false;
  slider->setSliderDown(false);  // let go: sliderReleased
  EXPECT_FALSE(Preview().TrackDragging());
  // The end runs Stop, which releases Play (its psStop may follow the psEnd).
  ASSERT_TRUE(WaitFor([&] { return !Ui().btnPlay->isChecked(); }));

  // After the release the device plays on from 4.5 s.
  const auto got = test::ReadSamples(device);
  const auto want = Want(sweep);
  const size_t gotStart = test::FirstSound(got, 2), wantStart = test::FirstSound(want, 2);
  size_t before = 0;
  while (test::SameFrames(got, gotStart + before, want, wantStart + before, 1, 2, 0)) ++before;
  const size_t resumed = test::FirstSound(got, 2, gotStart + before);
  const int64_t at = test::FindContinuation(got, resumed, want, 0, static_cast<int64_t>(want.size() / 2), 1024, 2, 0);
  ASSERT_GE(at, 0);
  EXPECT_NEAR(static_cast<double>(at) / kRate, 4.5, 0.05);
}

TEST_F(PlayerWindowTest, PreviewOfAMissingOrUnreadableFile) {
  const struct {
    const char* Name;
    bool Remove;  // else: overwritten with text
    const char* Mark;
  } cases[] = {{"missing", true, nullptr}, {"unreadable", false, "CLM_FFPlayerOpen"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString file = Sweep(Format("%s.wav", c.Name).c_str(), 1.0);
    Add(file);
    QFile::remove(file);
    if (!c.Remove) {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(4096, 'x'));
    }
    FSink.Reports.clear();
    FSink.Log.clear();
    Ui().btnPlay->click();
    EXPECT_FALSE(Ui().btnPlay->isChecked());
    EXPECT_EQ(Preview().Player().Duration(), -1) << "nothing plays";
    if (!c.Mark) {
      EXPECT_TRUE(FSink.Reports.empty());
      EXPECT_TRUE(FSink.Log.isEmpty());
      continue;
    }
    ASSERT_EQ(FSink.Reports.size(), 1u);
    EXPECT_EQ(FSink.Reports[0].second, c.Mark);
    ASSERT_FALSE(FSink.Log.isEmpty());
    EXPECT_EQ(FSink.Log.last(), "[t]-> " + FSink.Reports[0].first);
  }
}

TEST_F(PlayerWindowTest, ClosingTheWindowSilencesThePreview) {
  Add(Sweep("sweep.wav", 4.0));
  const std::string device = Device(kRealTimeDelayMs);
  Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return Ui().sldPosition->value() > 0; }));
  FForm->FormClose();
  EXPECT_FALSE(Ui().btnPlay->isChecked());
  EXPECT_EQ(Ui().lblPlayTime->text(), "00:00:04 / 00:00:04");
  const size_t closed = test::ReadSamples(device).size();
  QTest::qWait(300);
  EXPECT_EQ(test::ReadSamples(device).size(), closed) << "nothing more reaches the device";
}

// ------------------------------------------------------------ the trim dialog

TEST(TrimHandles, HandleXOfTimesAndLengths) {
  const struct {
    int64_t Time, Duration;
    int X;
  } cases[] = {
      {0, 10 * kSecond, 10},
      {10 * kSecond, 10 * kSecond, 466},
      {5 * kSecond, 10 * kSecond, 238},        // 456 * 500 / 1000 + 10
      {3'333'000, 10 * kSecond, 161},          // value 333: 151.8 truncated
      {9'999, 10 * kSecond, 10},               // below one step of the slider
      {5 * kSecond, 0, 10},                    // no length: at the start, no division by it
      {5 * kSecond, -1, 10},
      {-1, 10 * kSecond, 10},                  // an end the probe could not tell
      {20 * kSecond, 10 * kSecond, 466},       // beyond the file: at its end
  };
  for (const auto& c : cases)
    EXPECT_EQ(TrimHandleX(TClipForm::kSliderWidth, c.Time, c.Duration), c.X) << c.Time << " of " << c.Duration;
}

TEST_F(PlayerWindowTest, TrimLinePointsFieldsAndButtons) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  TClipForm& clip = ShowClip();
  ASSERT_EQ(clip.Duration(), 10 * kSecond);
  EXPECT_EQ(clip.StartHandle()->x(), 10);
  EXPECT_EQ(clip.EndHandle()->x(), 466);
  EXPECT_EQ(clip.StartHandle()->y(), TClipForm::kHandleTop);

  // The line between the handles.
  const struct {
    int Start, End;
    int Left, Width;
  } lines[] = {{10, 466, 22, 444}, {100, 200, 112, 88}, {100, 111, 112, 0}};
  for (const auto& l : lines) {
    clip.StartHandle()->move(l.Start, TClipForm::kHandleTop);
    clip.EndHandle()->move(l.End, TClipForm::kHandleTop);
    clip.PlaceTrimLine();
    EXPECT_EQ(clip.TrimLine()->x(), l.Left) << l.Start << "-" << l.End;
    EXPECT_EQ(clip.TrimLine()->width(), l.Width) << l.Start << "-" << l.End;
  }

  // The two fields, in turn; a point at or beyond the other moves both.
  const struct {
    bool StartField;
    QTime Time;
    int64_t Start, End;
    int StartX, EndX;
  } fields[] = {
      {true, QTime(0, 0, 3), 3 * kSecond, 10 * kSecond, 146, 466},
      {false, QTime(0, 0, 6), 3 * kSecond, 6 * kSecond, 146, 283},
      {true, QTime(0, 0, 8), 8 * kSecond, 8 * kSecond, 363, 374},
      {false, QTime(0, 0, 1), 1 * kSecond, 1 * kSecond, 55, 66},
  };
  clip.ResetClick();
  for (const auto& f : fields) {
    SCOPED_TRACE(f.Time.toString().toStdString());
    (f.StartField ? clip.TimeStart() : clip.TimeEnd())->setTime(f.Time);
    QTest::mouseClick(clip.findChild<QPushButton*>(f.StartField ? "btnStartFieldOK" : "btnEndFieldOK"),
                      Qt::LeftButton);
    EXPECT_EQ(clip.ClipStart(), f.Start);
    EXPECT_EQ(clip.ClipEnd(), f.End);
    EXPECT_EQ(clip.StartHandle()->x(), f.StartX);
    EXPECT_EQ(clip.EndHandle()->x(), f.EndX);
  }

  // Set start and Set end take the play position; paused, it stays put.
  ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 2 * kSecond; }));
  clip.PauseButtonClick();
  // Paused, the player's position stands still; the dialog has it once the
  // last position event reached it.
  ASSERT_TRUE(WaitFor([&] {
    return clip.Player().Paused() && std::llabs(clip.Player().CurrentPTS() - clip.ClipPosition()) <= 10000;
  }));
  const int64_t at = clip.ClipPosition();
  const int x = TClipForm::kSliderWidth * clip.Slider()->value() / 1000 + 10;
  clip.ResetClick();
  EXPECT_EQ(clip.Slider()->value(), 0);
  EXPECT_EQ(clip.ClipStart(), 0);
  EXPECT_EQ(clip.ClipEnd(), 10 * kSecond);
  EXPECT_EQ(clip.StartHandle()->x(), 10);
  EXPECT_EQ(clip.EndHandle()->x(), 466);
  EXPECT_EQ(clip.EndHandle()->y(), clip.Slider()->y() + clip.Slider()->height());
  EXPECT_NEAR(static_cast<double>(clip.Player().CurrentPTS()), static_cast<double>(at), 50000.0)
      << "Reset does not move the playback";
  clip.SetStartClick();
  EXPECT_EQ(clip.ClipStart(), at);
  EXPECT_EQ(clip.StartHandle()->x(), 10) << "the slider was reset to 0";
  clip.ResetClick();
  clip.Slider()->setValue(static_cast<int>(at * 1000 / (10 * kSecond)));
  clip.SetStartClick();
  EXPECT_EQ(clip.StartHandle()->x(), x);
  clip.SetEndClick();  // at the start point: the start moves with it
  EXPECT_EQ(clip.ClipStart(), at);
  EXPECT_EQ(clip.ClipEnd(), at);
  EXPECT_EQ(clip.StartHandle()->x(), x);
  EXPECT_EQ(clip.EndHandle()->x(), x + 11);
  EXPECT_EQ(clip.TrimLine()->width(), 0);
  clip.done(QDialog::Rejected);
}

TEST_F(PlayerWindowTest, TrimHandlesKeepTheirBoundsUnderTheMouse) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  TClipForm& clip = ShowClip();
  ASSERT_EQ(clip.Duration(), 10 * kSecond);
  const struct {
    bool Start;
    int OtherAt;  // the other handle's left
    int Target;
    bool Moves;
  } cases[] = {
      {true, 466, 5, false},   {true, 466, 10, false},  {true, 466, 11, true},  {true, 300, 299, true},
      {true, 300, 300, false}, {true, 466, 465, true},  {false, 10, 465, true}, {false, 10, 466, false},
      {false, 200, 201, true}, {false, 200, 200, false}, {false, 10, 11, true},  {false, 10, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Format("%s handle to %d, the other at %d", c.Start ? "start" : "end", c.Target, c.OtherAt));
    clip.ResetClick();
    QLabel* handle = c.Start ? clip.StartHandle() : clip.EndHandle();
    QLabel* other = c.Start ? clip.EndHandle() : clip.StartHandle();
    other->move(c.OtherAt, other->y());
    // From a start point inside the bounds.
    handle->move(c.Start ? std::min(c.OtherAt - 20, 200) : std::max(c.OtherAt + 20, 250), handle->y());
    const int from = handle->x();
    Drag(handle, {c.Target}, 0);
    EXPECT_EQ(handle->x(), c.Moves ? c.Target : from);
  }
  clip.done(QDialog::Rejected);
}

TEST_F(PlayerWindowTest, TrimPointsFollowHandleDragsSlowAndQuick) {
  Add(Sweep("sweep.wav", 10.0));
  Device(kRealTimeDelayMs);
  TClipForm& clip = ShowClip();
  ASSERT_EQ(clip.Duration(), 10 * kSecond);
  auto handleTime = [&](int ALeft) {
    return clip.Duration() * std::lround((ALeft - 10) * 1000.0 / TClipForm::kSliderWidth) / 1000;
  };
  // Slowly: 20 steps with time for the seeks between.
  std::vector<int> slow;
  for (int i = 1; i <= 20; ++i) slow.push_back(10 + 10 * i);
  Drag(clip.StartHandle(), slow, 40);
  ASSERT_TRUE(WaitFor([&] { return !clip.HandleMoving(); }));
  EXPECT_EQ(clip.StartHandle()->x(), 210);
  EXPECT_NEAR(static_cast<double>(clip.ClipStart()), static_cast<double>(handleTime(210)), 50000.0);
  // Quickly: 50 moves at once; most seeks meet a pending one.
  std::vector<int> quick;
  for (int i = 1; i <= 50; ++i) quick.push_back(466 - 4 * i);
  Drag(clip.EndHandle(), quick, 0);
  ASSERT_TRUE(WaitFor([&] { return !clip.HandleMoving(); }));
  EXPECT_EQ(clip.EndHandle()->x(), 266);
  EXPECT_NEAR(static_cast<double>(clip.ClipEnd()), static_cast<double>(handleTime(266)), 50000.0);
  EXPECT_NEAR(static_cast<double>(clip.ClipStart()), static_cast<double>(handleTime(210)), 50000.0)
      << "the other point stays";
  clip.done(QDialog::Rejected);
}

TEST_F(PlayerWindowTest, TrimOkWritesTheRowCancelLeavesItAndItReopensInPlace) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  const TAudioFile before = List().Rows().At(0);
  struct TStep {
    const char* Button;
    QTime Start, End;
    int64_t RowStart, RowEnd;
  };
  const TStep steps[] = {
      {"btnCancel", QTime(0, 0, 2), QTime(0, 0, 5), 0, 10 * kSecond},
      {"btnOK", QTime(0, 0, 2), QTime(0, 0, 5), 2 * kSecond, 5 * kSecond},
      {"btnCancel", QTime(0, 0, 1), QTime(0, 0, 9), 2 * kSecond, 5 * kSecond},
  };
  for (const TStep& s : steps) {
    SCOPED_TRACE(s.Button);
    TClipForm& clip = ShowClip();
    // The row's points, and the file playing from its start.
    const TAudioFile& row = List().Rows().At(0);
    EXPECT_EQ(clip.ClipStart(), row.TimeStart);
    EXPECT_EQ(clip.ClipEnd(), row.TimeEnd);
    EXPECT_EQ(clip.StartHandle()->x(), clip.HandleX(row.TimeStart));
    EXPECT_EQ(clip.EndHandle()->x(), clip.HandleX(row.TimeEnd));
    // The earlier opening ended beyond 2 s: no position of it is left.
    EXPECT_LT(clip.ClipPosition(), kSecond);
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 2 * kSecond; }));
    clip.TimeStart()->setTime(s.Start);
    clip.StartFieldOkClick();
    clip.TimeEnd()->setTime(s.End);
    clip.EndFieldOkClick();
    QTest::mouseClick(clip.findChild<QPushButton*>(s.Button), Qt::LeftButton);
    EXPECT_FALSE(clip.isVisible());
    EXPECT_EQ(clip.Player().PlayState(), psStop);
    const TAudioFile& after = List().Rows().At(0);
    EXPECT_EQ(after.TimeStart, s.RowStart);
    EXPECT_EQ(after.TimeEnd, s.RowEnd);
    EXPECT_EQ(after.TrimmedLength, s.RowEnd - s.RowStart);
    if (s.RowEnd - s.RowStart == before.TrimmedLength)
      EXPECT_EQ(after.EstimatedSize, before.EstimatedSize);
    else
      EXPECT_NEAR(after.EstimatedSize, before.EstimatedSize * 0.3, 0.01);
    EXPECT_EQ(Ui().edTimeStart->time(), QTime(0, 0).addSecs(static_cast<int>(s.RowStart / kSecond)));
    EXPECT_EQ(Ui().edTimeEnd->time(), QTime(0, 0).addSecs(static_cast<int>(s.RowEnd / kSecond)));
  }
}

TEST_F(PlayerWindowTest, TrimOfAFileWithoutAKnownLength) {
  const QString sweep = Sweep("sweep.flac", 3.0);
  const QString live = QString::fromStdString(test::RemuxLive(sweep.toStdString(), Dir() + "/live.mkv"));
  const QString broken = Sweep("broken.wav", 1.0);
  Add(live);
  Add(broken);
  {
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(4096, 'x'));
  }
  Device();
  const struct {
    int Row;
    const char* Mark;
  } cases[] = {{0, nullptr}, {1, "CLM_FFPlayer2Open"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Row);
    FSink.Reports.clear();
    List().SelectIndex(c.Row);
    TClipForm& clip = ShowClip();
    EXPECT_LE(clip.Duration(), 0);
    EXPECT_EQ(clip.StartHandle()->x(), 10);
    EXPECT_EQ(clip.EndHandle()->x(), 466);
    // Handles and slider move without a length to seek by.
    Drag(clip.StartHandle(), {50, 100}, 0);
    EXPECT_EQ(clip.StartHandle()->x(), 100);
    clip.Slider()->setSliderDown(true);
    clip.Slider()->setSliderPosition(500);
    clip.Slider()->setSliderDown(false);
    if (c.Mark) {
      ASSERT_EQ(FSink.Reports.size(), 1u);
      EXPECT_EQ(FSink.Reports[0].second, c.Mark);
      EXPECT_TRUE(FSink.Reports[0].first.startsWith("Error open file: "));
      EXPECT_TRUE(FSink.Log.last().startsWith("[t]-> "));
    } else {
      EXPECT_TRUE(FSink.Reports.empty());
    }
    clip.done(QDialog::Rejected);
  }
}

// Plays the trimmed part for 7 s of device time and returns the stretches
// of the source the device played after the click.
std::vector<TSegment> PlayLoop(TClipForm& AClip, const std::string& ADevice, const std::vector<int16_t>& AWant) {
  AClip.PlayTrimmedClick();
  EXPECT_TRUE(AClip.PlayTrimmed());
  // Frames in the device file so far (16-bit stereo).
  auto frames = [&] { return QFileInfo(QString::fromStdString(ADevice)).size() / 4; };
  const int64_t clicked = frames();
  EXPECT_TRUE(WaitFor([&] { return frames() > clicked + 7 * kRate; }));
  AClip.done(QDialog::Rejected);
  return Segments(test::ReadSamples(ADevice), AWant, 0);
}

TEST_F(PlayerWindowTest, TrimmedPartLoopsFromTheStartPoint) {
  const QString steps = Steps();
  Add(steps);
  const auto want = Want(steps);
  const int64_t maxLate = kRate / 10;  // 100 ms
  const struct {
    QTime Start, End;
    int64_t From, To;  // frames
  } cases[] = {{QTime(0, 0, 2), QTime(0, 0, 4), 2 * kRate, 4 * kRate},
               {QTime(0, 0, 7), QTime(0, 0, 10), 7 * kRate, 10 * kRate}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Start.toString().toStdString());
    const std::string device = Device(kRealTimeDelayMs);
    TClipForm& clip = ShowClip();
    clip.TimeStart()->setTime(c.Start);
    clip.StartFieldOkClick();
    clip.TimeEnd()->setTime(c.End);
    clip.EndFieldOkClick();
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() > 300000; }));
    const std::vector<TSegment> segments = PlayLoop(clip, device, want);
    // From the file's start until the click, then the part again and again.
    ASSERT_GE(segments.size(), 3u);
    EXPECT_LT(segments[0].Want, 1024);
    for (size_t i = 1; i < segments.size(); ++i) {
      SCOPED_TRACE(Format("stretch %zu: source %.3f s to %.3f s", i, double(segments[i].Want) / kRate,
                          double(segments[i].Want + segments[i].Frames) / kRate));
      // Only the part's tones (a seek lands within one block of the point).
      EXPECT_NEAR(static_cast<double>(segments[i].Want), static_cast<double>(c.From), 1024.0);
      const int64_t end = segments[i].Want + segments[i].Frames;
      EXPECT_LE(end, c.To + maxLate);
      if (i + 1 < segments.size()) {
        // Played to the end point, and back within 100 ms of it.
        EXPECT_GE(end, c.To);
        const int64_t late = (end - c.To) + (segments[i + 1].Got - (segments[i].Got + segments[i].Frames));
        EXPECT_LE(late, maxLate);
      }
    }
  }
}

// ------------------------------------------------------------ the mouse on the sliders and handles

TEST_F(PlayerWindowTest, PreviewTrackClickPlaysFromTheClickedPoint) {
  const QString sweep = Sweep("sweep.wav", 8.0);
  Add(sweep);
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  const auto want = Want(sweep);
  Preview().SetButtonProbe(FLeft.Probe());
  QSlider* slider = Ui().sldPosition;
  const struct {
    const char* Name;
    int From;  // the knob's value before the click
    double At;  // the click's x, as a part of the slider's width
  } cases[] = {{"ahead of the knob", 100, 0.75}, {"behind the knob", 500, 0.2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string device = Device(kRealTimeDelayMs);
    Ui().btnPlay->click();
    ASSERT_TRUE(WaitFor([&] { return slider->value() >= c.From; }));
    const int x = static_cast<int>(c.At * slider->width());
    ClickTrack(slider, x);
    const int value = slider->value();
    EXPECT_NEAR(value, 1000.0 * x / slider->width(), 50.0) << "the knob stands at the click";
    const int64_t clicked = DeviceFrames(device);
    ASSERT_TRUE(WaitFor([&] { return DeviceFrames(device) > clicked + kRate; }));
    EXPECT_NEAR(slider->value(), value, 200) << "the knob stays there and moves on with the playback";
    Ui().btnStop->click();
    EXPECT_NEAR(LastStretchSeconds(device, want), value * 8.0 / 1000, 0.05) << "playing from the knob's point";
  }
}

TEST_F(PlayerWindowTest, TrimTrackClickPlaysFromTheClickedPointAndEndsTheLoop) {
  const QString sweep = Sweep("sweep.wav", 10.0);
  Add(sweep);
  const auto want = Want(sweep);
  const struct {
    const char* Name;
    bool Loop;  // the part from 1 s to 3 s loops when the track is clicked
    double At;
  } cases[] = {{"playing the file", false, 0.7}, {"looping the part", true, 0.6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string device = Device(kRealTimeDelayMs);
    TClipForm& clip = ShowClip();
    clip.SetButtonProbe(FLeft.Probe());
    QSlider* slider = clip.Slider();
    ASSERT_TRUE(WaitFor([&] { return slider->value() >= 50; }));
    if (c.Loop) {
      TypePart(clip, QTime(0, 0, 1), QTime(0, 0, 3));
      QTest::mouseClick(ClipButton(clip, "btnPlayTrimmed"), Qt::LeftButton);
      ASSERT_TRUE(clip.PlayTrimmed());
      ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 1'500'000; }));
    }
    const int x = static_cast<int>(c.At * slider->width());
    ClickTrack(slider, x);
    const int value = slider->value();
    EXPECT_NEAR(value, 1000.0 * x / slider->width(), 50.0) << "the knob stands at the click";
    // The whole file plays on from there: the loop is over and says so.
    EXPECT_FALSE(clip.PlayTrimmed());
    EXPECT_FALSE(ClipButton(clip, "btnPlayTrimmed")->isChecked());
    EXPECT_TRUE(ClipButton(clip, "btnPlay")->isChecked());
    EXPECT_FALSE(ClipButton(clip, "btnPause")->isChecked());
    const int64_t clicked = DeviceFrames(device);
    ASSERT_TRUE(WaitFor([&] { return DeviceFrames(device) > clicked + kRate; }));
    EXPECT_GT(clip.ClipPosition(), static_cast<int64_t>(value) * 10 * kSecond / 1000) << "not pulled back";
    clip.done(QDialog::Rejected);
    EXPECT_NEAR(LastStretchSeconds(device, want), value * 10.0 / 1000, 0.05) << "playing from the knob's point";
  }
}

TEST_F(PlayerWindowTest, TrimOkNeverSavesAnEndBeforeItsStart) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  // One point set by its button while the knob stands away from the play
  // position (a click on the track while paused), then the other handle
  // dragged up against it.
  const struct {
    const char* Name;
    const char* SetButton;
    bool DragStart;
    double ClickAt;
  } cases[] = {{"Set end, start dragged to it", "btnSetEnd", true, 0.8},
               {"Set start, end dragged to it", "btnSetStart", false, 0.1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TClipForm& clip = ShowClip();
    clip.SetButtonProbe(FLeft.Probe());
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 3 * kSecond; }));
    QTest::mouseClick(ClipButton(clip, "btnPause"), Qt::LeftButton);
    ClickTrack(clip.Slider(), static_cast<int>(c.ClickAt * clip.Slider()->width()));
    QTest::mouseClick(ClipButton(clip, c.SetButton), Qt::LeftButton);
    QLabel* moving = c.DragStart ? clip.StartHandle() : clip.EndHandle();
    QLabel* fixed = c.DragStart ? clip.EndHandle() : clip.StartHandle();
    const int target = fixed->x() + (c.DragStart ? -3 : 3);
    Drag(moving, {(moving->x() + target) / 2, target}, 0);
    ASSERT_TRUE(WaitFor([&] { return !clip.HandleMoving(); }));
    EXPECT_LE(clip.ClipStart(), clip.ClipEnd());
    QTest::mouseClick(ClipButton(clip, "btnOK"), Qt::LeftButton);
    const TAudioFile& row = List().Rows().At(0);
    EXPECT_LE(row.TimeStart, row.TimeEnd) << row.TimeStart << " to " << row.TimeEnd;
    EXPECT_GE(row.TrimmedLength, 0);
    List().Rows().SetTrim(0, 0, 10 * kSecond);
  }
}

TEST_F(PlayerWindowTest, TrimLoopOfAnEmptyPartOrAnUnknownEndEndsCleanly) {
  const QString sweep = Sweep("sweep.flac", 3.0);
  const QString live = QString::fromStdString(test::RemuxLive(sweep.toStdString(), Dir() + "/live.mkv"));
  Add(Sweep("short.wav", 3.0));
  Add(live);
  const auto want = Want(sweep);

  // Start and end at one point: nothing to loop; the loop ends with the
  // playback stopped and its button released, not at the file's end with
  // the button still down.
  List().SelectIndex(0);
  {
    Device(kRealTimeDelayMs);
    TClipForm& clip = ShowClip();
    TypePart(clip, QTime(0, 0, 1), QTime(0, 0, 1));
    ASSERT_EQ(clip.ClipStart(), clip.ClipEnd());
    QTest::mouseClick(ClipButton(clip, "btnPlayTrimmed"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return clip.Player().PlayState() == psStop; }, 20000));
    EXPECT_FALSE(clip.PlayTrimmed());
    EXPECT_FALSE(ClipButton(clip, "btnPlayTrimmed")->isChecked());
    EXPECT_FALSE(ClipButton(clip, "btnPlay")->isChecked());
    clip.done(QDialog::Rejected);
  }

  // A file whose length nobody knows: the part runs to the file's end and
  // starts again there, pass after pass.
  List().SelectIndex(1);
  {
    const std::string device = Device(kRealTimeDelayMs);
    TClipForm& clip = ShowClip();
    ASSERT_LE(clip.Duration(), 0);
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() > 300000; }));
    QTest::mouseClick(ClipButton(clip, "btnPlayTrimmed"), Qt::LeftButton);
    const int64_t clicked = DeviceFrames(device);
    ASSERT_TRUE(WaitFor([&] { return DeviceFrames(device) > clicked + 7 * kRate; }));
    EXPECT_TRUE(clip.PlayTrimmed());
    EXPECT_TRUE(ClipButton(clip, "btnPlayTrimmed")->isChecked());
    clip.done(QDialog::Rejected);
    const std::vector<TSegment> segments = Segments(test::ReadSamples(device), want, 0);
    // Until the click, then the whole file again and again from its start.
    ASSERT_GE(segments.size(), 3u);
    for (const TSegment& s : segments) EXPECT_LT(s.Want, 1024);
    EXPECT_GE(segments[1].Frames, 3 * kRate - 1024) << "a whole pass";
    EXPECT_EQ(clip.Player().PlayState(), psStop);
    EXPECT_FALSE(ClipButton(clip, "btnPlayTrimmed")->isChecked());
  }
}

TEST_F(PlayerWindowTest, TrimButtonsShowWhatPlaysAfterPauseAndHandleDrags) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  enum TAction { Pause, Stop, PlayPart, DragStart, DragEnd };
  const struct {
    const char* Name;
    std::vector<TAction> Actions;
    bool Play, Paused, Part;  // the three buttons pressed afterwards
    int State;                 // the player's state afterwards
  } cases[] = {
      {"Pause, start handle dragged", {Pause, DragStart}, true, false, false, psResume},
      {"Pause, end handle dragged", {Pause, DragEnd}, true, false, false, psResume},
      {"part looping, Pause, handle dragged", {PlayPart, Pause, DragStart}, true, false, false, psResume},
      {"Pause on a stopped dialog", {Stop, Pause}, false, false, false, psStop},
      {"Pause twice", {Pause, Pause}, true, false, false, psResume},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TClipForm& clip = ShowClip();
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 500000; }));
    for (TAction a : c.Actions) {
      switch (a) {
        case Pause:
          QTest::mouseClick(ClipButton(clip, "btnPause"), Qt::LeftButton);
          break;
        case Stop:
          QTest::mouseClick(ClipButton(clip, "btnStop"), Qt::LeftButton);
          break;
        case PlayPart:
          QTest::mouseClick(ClipButton(clip, "btnPlayTrimmed"), Qt::LeftButton);
          break;
        case DragStart:
          Drag(clip.StartHandle(), {60, 100}, 0);
          break;
        case DragEnd:
          Drag(clip.EndHandle(), {400, 350}, 0);
          break;
      }
    }
    ASSERT_TRUE(WaitFor([&] { return !clip.HandleMoving(); }));
    EXPECT_EQ(ClipButton(clip, "btnPlay")->isChecked(), c.Play);
    EXPECT_EQ(ClipButton(clip, "btnPause")->isChecked(), c.Paused);
    EXPECT_EQ(ClipButton(clip, "btnPlayTrimmed")->isChecked(), c.Part);
    EXPECT_EQ(clip.Player().PlayState(), c.State);
    clip.done(QDialog::Rejected);
  }
}

TEST_F(PlayerWindowTest, TrimSliderHeldWhenEscClosedTheDialogFollowsThePlaybackNextTime) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  TClipForm& clip = ShowClip();
  clip.SetButtonProbe(FLeft.Probe());
  QSlider* slider = clip.Slider();
  ASSERT_TRUE(WaitFor([&] { return slider->value() >= 50; }));
  // The knob held, Esc: the dialog closes before the button comes up, and
  // the release lands on the main window.
  QTest::mousePress(slider, Qt::LeftButton, {}, Knob(slider).center());
  QTest::keyClick(&clip, Qt::Key_Escape);
  ASSERT_FALSE(clip.isVisible());
  QTest::mouseRelease(FForm.get(), Qt::LeftButton);

  ShowClip();
  EXPECT_TRUE(WaitFor([&] { return slider->value() > 0 && slider->value() < 1000; }, 20000))
      << "the knob follows the playback";
  EXPECT_FALSE(slider->isSliderDown());
  clip.done(QDialog::Rejected);
}

TEST_F(PlayerWindowTest, PreviewKnobHeldWhenTheTrimDialogOpenedFollowsThePlaybackNextTime) {
  Add(Sweep("sweep.wav", 6.0));
  Device();
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  Preview().SetButtonProbe(FLeft.Probe());
  QSlider* slider = Ui().sldPosition;
  Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return slider->value() >= 50; }));
  // The knob held, the trim dialog opened from the keyboard: the release
  // goes to the dialog.
  QTest::mousePress(slider, Qt::LeftButton, {}, Knob(slider).center());
  ASSERT_TRUE(Preview().TrackDragging());
  test::OnNextModal([&](QWidget* AModal) {
    QTest::mouseRelease(AModal, Qt::LeftButton);
    static_cast<TClipForm*>(AModal)->CancelClick();
  });
  Ui().actTrimAudio->trigger();

  Ui().btnPlay->click();
  EXPECT_TRUE(WaitFor([&] { return slider->value() > 0 && slider->value() < 1000; }, 20000))
      << "the knob follows the playback";
  EXPECT_FALSE(Preview().TrackDragging());
  Ui().btnStop->click();
}

TEST_F(PlayerWindowTest, TrimCommandsWaitForAHandleReleaseAndEndWithTheClosing) {
  Add(Sweep("sweep.wav", 10.0));
  Device(kRealTimeDelayMs);
  auto handleTime = [](int ALeft) { return 10 * kSecond * std::lround((ALeft - 10) * 1000.0 / 456) / 1000; };

  // OK clicked while the let-go handle's seek is being waited for: it saves
  // the point where the handle was let go.
  {
    TClipForm& clip = ShowClip();
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 500000; }));
    QTest::mousePress(clip.StartHandle(), Qt::LeftButton, {}, QPoint(6, 6));
    QTest::mouseMove(clip.StartHandle(), QPoint(300 - clip.StartHandle()->x() + 6, 6));
    QTimer::singleShot(0, &clip, [&] { QTest::mouseClick(ClipButton(clip, "btnOK"), Qt::LeftButton); });
    QTest::mouseRelease(clip.StartHandle(), Qt::LeftButton, {}, QPoint(6, 6));
    ASSERT_TRUE(WaitFor([&] { return !clip.isVisible(); }));
    EXPECT_NEAR(static_cast<double>(List().Rows().At(0).TimeStart), static_cast<double>(handleTime(300)), 50000.0);
    EXPECT_EQ(clip.Player().PlayState(), psStop);
  }

  // Play clicked while the closing dialog waits for its player to stop: the
  // player stays stopped.
  {
    TClipForm& clip = ShowClip();
    ASSERT_TRUE(WaitFor([&] { return clip.ClipPosition() >= 500000; }));
    QTimer::singleShot(0, &clip, [&] { QTest::mouseClick(ClipButton(clip, "btnPlay"), Qt::LeftButton); });
    QTest::mouseClick(ClipButton(clip, "btnCancel"), Qt::LeftButton);
    EXPECT_FALSE(clip.isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(clip.Player().PlayState(), psStop);
    EXPECT_FALSE(ClipButton(clip, "btnPlay")->isChecked());
  }
}

TEST_F(PlayerWindowTest, TrimReopensARowWhoseStartIsItsEndWithTheEndHandleRightOfTheStart) {
  Add(Sweep("sweep.wav", 10.0));
  Device();
  const struct {
    QTime At;
    int StartX, EndX;
  } cases[] = {{QTime(0, 0, 0), 10, 21}, {QTime(0, 0, 3), 146, 157}, {QTime(0, 0, 10), 466, 477}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.At.toString().toStdString());
    TClipForm& clip = ShowClip();
    ASSERT_EQ(clip.Duration(), 10 * kSecond);
    TypePart(clip, c.At, c.At);
    QTest::mouseClick(ClipButton(clip, "btnOK"), Qt::LeftButton);
    const TAudioFile& row = List().Rows().At(0);
    ASSERT_EQ(row.TimeStart, row.TimeEnd);
    ShowClip();
    EXPECT_EQ(clip.StartHandle()->x(), c.StartX);
    EXPECT_EQ(clip.EndHandle()->x(), c.EndX);
    EXPECT_EQ(clip.TrimLine()->width(), 0);
    clip.done(QDialog::Rejected);
  }
}

TEST_F(PlayerWindowTest, PreviewLabelAndLengthResetWhenTheRowChanges) {
  const QString first = Sweep("first.wav", 2.0);
  const QString second = Sweep("second.wav", 1.0);
  Add(first);
  Add(second);
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  Device();
  QTableWidget* grid = List().Grid();
  auto clickRow = [&](int ARow) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(ARow, 0)).center());
  };
  const struct {
    const char* Name;
    std::function<void()> Change;
  } cases[] = {
      {"another row chosen", [&] { clickRow(1); }},
      {"the list cleared",
       [&] {
         test::ClickOnNextModal("btnClearConfirm");  // Clear asks first
         Ui().btnClear->click();
       }},
      {"the played file unreadable when played again",
       [&] {
         QFile f(List().AudioFiles()[0].Source);
         ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
         f.write(QByteArray(4096, 'x'));
         f.close();
         Ui().btnPlay->click();
         EXPECT_FALSE(Ui().btnPlay->isChecked());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (List().RowCount() == 0) Add(Sweep("third.wav", 2.0));
    clickRow(0);
    ASSERT_EQ(List().SelectedIndex(), 0);
    Ui().btnPlay->click();
    // Played to its end: the label shows the length twice.
    ASSERT_TRUE(WaitFor([&] { return !Ui().btnPlay->isChecked(); }));
    ASSERT_EQ(Ui().lblPlayTime->text(), "00:00:02 / 00:00:02");
    c.Change();
    EXPECT_EQ(Ui().lblPlayTime->text(), "00:00:00 / 00:00:00");
    EXPECT_EQ(Preview().Duration(), 0);
  }
}

// ------------------------------------------------------------ both players

TEST_F(PlayerWindowTest, TrimStopsThePreviewPlaysOnItsOwnCopyAndTheTrimmedRowConverts) {
  const QString sweep = Sweep("sweep.wav", 6.0);
  Add(sweep);
  List().Rows().SetProfile(0, kWavProfile);
  const std::string device = Device(kRealTimeDelayMs);
  Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return Ui().sldPosition->value() > 0; }));

  bool checked = false;
  test::OnNextModal([&](QWidget* AModal) {
    auto* clip = qobject_cast<TClipForm*>(AModal);
    ASSERT_NE(clip, nullptr);
    EXPECT_FALSE(Ui().btnPlay->isChecked()) << "the preview stopped";
    EXPECT_EQ(Preview().Player().PlayState(), psStop);
    EXPECT_NE(clip->Player().SDL().SDL_OpenAudio, Preview().Player().SDL().SDL_OpenAudio)
        << "each player has its own SDL";
    EXPECT_TRUE(WaitFor([&] { return clip->ClipPosition() >= 500000; }));
    checked = true;
    clip->CancelClick();
  });
  FForm->TrimClick();
  ASSERT_TRUE(checked);
  // The dialog's player played the file from its start.
  const auto want = Want(sweep);
  const auto got = test::ReadSamples(device);
  EXPECT_TRUE(test::SameFrames(got, test::FirstSound(got, 2), want, test::FirstSound(want, 2), kRate / 2, 2, 0));

  // Again after Cancel: trim 1 s to 3 s.
  test::OnNextModal([&](QWidget* AModal) {
    auto* clip = static_cast<TClipForm*>(AModal);
    EXPECT_TRUE(WaitFor([&] { return clip->ClipPosition() > 0; }));
    clip->TimeStart()->setTime(QTime(0, 0, 1));
    clip->StartFieldOkClick();
    clip->TimeEnd()->setTime(QTime(0, 0, 3));
    clip->EndFieldOkClick();
    clip->OkClick();
  });
  FForm->TrimClick();
  EXPECT_EQ(List().Rows().At(0).TimeStart, 1 * kSecond);
  EXPECT_EQ(List().Rows().At(0).TimeEnd, 3 * kSecond);

  // The preview plays again; Convert silences it and converts the part.
  Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return Ui().sldPosition->value() > 0; }));
  FForm->Conversion().ConvertButtonClick();
  EXPECT_FALSE(Ui().btnPlay->isChecked());
  EXPECT_EQ(Preview().Player().PlayState(), psStop);
  EXPECT_TRUE(FSink.Reports.empty());
  const QString out = FDir + "/out/sweep.wav";
  const test::TDecodedAudio decoded = test::DecodeAudio(out.toStdString());
  ASSERT_TRUE(decoded.Ok) << decoded.Error;
  EXPECT_NEAR(decoded.Seconds, 2.0, 0.03);
  // Its first second is the source's second second.
  const auto output = Want(out);
  const int64_t at = test::FindContinuation(output, 0, want, 0, static_cast<int64_t>(want.size() / 2), 1024, 2, 1);
  EXPECT_NEAR(static_cast<double>(at) / kRate, 1.0, 0.01);
  EXPECT_TRUE(test::SameFrames(output, 0, want, static_cast<size_t>(std::max<int64_t>(at, 0)), kRate, 2, 1));
}

// ------------------------------------------------------------ pictures

TEST(Screenshots, PreviewPlayingAndTrimDialog) {
  test::ResetUserState();
  test::TRecordingDesktop desktop;
  TAppWindows windows({test::MakeProgramFolder(), {}, &desktop});
  TMainForm& main = windows.Main();
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  const QString dir = QDir::tempPath() + "/quorvel-tests/Screenshots-preview";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  test::UseDiskDevice((dir + "/device.raw").toStdString(), kRealTimeDelayMs);
  main.DropFiles({QString::fromStdString(test::SharedMedia("sonic-pi-samples__loop_tabla.flac")),
                  QString::fromStdString(test::SharedMedia("emacspeak__emacspeak.mp3"))});
  main.Ui().btnPlay->click();
  ASSERT_TRUE(WaitFor([&] { return main.Ui().sldPosition->value() > 100; }));
  test::SaveScreenshot(main, "main-window-playing");
  test::OnNextModal([&](QWidget* AModal) {
    auto* clip = static_cast<TClipForm*>(AModal);
    EXPECT_TRUE(WaitFor([&] { return clip->ClipPosition() > 300000; }));
    clip->TimeStart()->setTime(QTime(0, 0, 1));
    clip->StartFieldOkClick();
    clip->TimeEnd()->setTime(QTime(0, 0, 3));
    clip->EndFieldOkClick();
    test::SaveScreenshot(*clip, "trim-dialog");
    clip->CancelClick();
  });
  main.TrimClick();
  main.close();
}

}  // namespace
}  // namespace quorvel
