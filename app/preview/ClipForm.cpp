#include "app/preview/ClipForm.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimeEdit>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "app/preview/PlayerScreen.h"
#include "app/preview/PositionSlider.h"
#include "app/report/ExceptionGuard.h"
#include "app/report/ReportSink.h"
#include "app/shell/Skin.h"
#include "app/shell/Widgets.h"
#include "app/sources/SourceList.h"
#include "media/player/FFPlay.h"
#include "media/runtime/MainThread.h"

namespace quorvel {

namespace {

// The header keeps the states as numbers.
static_assert(psPlay == 0 && psStop == 4);

constexpr int kSliderMax = 1000;
constexpr int kHandleOffset = 10;  // the handles' x of time 0, left of the slider's track
constexpr int kHandleGap = 11;     // start and end at one point: the start handle this far left

QTime TimeOfDay(int64_t ATime) { return MediaTimeToTimeOfDay(ATime); }

}  // namespace

int TrimHandleX(int ASliderWidth, int64_t ATime, int64_t ADuration) {
  if (ADuration <= 0) return kHandleOffset;
  const int64_t value = std::clamp<int64_t>(ATime, 0, ADuration) * kSliderMax / ADuration;
  return static_cast<int>(ASliderWidth * value / kSliderMax + kHandleOffset);
}

TClipForm::TClipForm(TSourceList& AList, const TPlayerLibraries& ALibraries, QWidget* AParent)
    : QDialog(AParent), FList(AList), FLibraries(ALibraries), FPlayer(std::make_unique<TFFPlayer>()) {
  FClipPlayState = psStop;
  setObjectName("ClipForm");
  setWindowTitle(tr("Trim"));
  // No caption buttons: the dialog closes through its own buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(494, 494);

  // The picture panel: black where the player draws nothing. The host
  // widget itself is SDL's to paint, so the black comes from a frame behind.
  auto* back = new QFrame(this);
  back->setObjectName("pnlPreviewBack");
  back->setGeometry(18, 12, 461, 271);
  back->setStyleSheet(QStringLiteral("background: black; border: none;"));
  FScreen = new TPlayerScreen(back);
  FScreen->setObjectName("pnlPreview");
  FScreen->setGeometry(0, 0, 461, 271);

  FSlider = new QSlider(Qt::Horizontal, this);
  FSlider->setObjectName("trackbar2");
  FSlider->setRange(0, kSliderMax);
  FSlider->setPageStep(50);
  FSlider->setGeometry(19, kSliderTop, kSliderWidth, kHandleTop - kSliderTop);
  JumpToClickedPoint(FSlider);
  FSlider->installEventFilter(this);

  auto handle = [this](const char* AName) {
    auto* label = new QLabel(this);
    label->setObjectName(AName);
    label->setGeometry(kHandleOffset, kHandleTop, kHandleSize, kHandleSize);
    label->setCursor(Qt::SizeHorCursor);
    label->installEventFilter(this);
    return label;
  };
  FStartHandle = handle("imgTrimLeft");
  FEndHandle = handle("imgTrimRight");
  FEndHandle->move(kSliderWidth + kHandleOffset, kHandleTop);
  FTrimLine = new QFrame(this);
  FTrimLine->setObjectName("TrimmedTimeLine");
  FTrimLine->setStyleSheet(QStringLiteral("background: rgb(60, 138, 191); border: none;"));

  auto button = [this](const char* AName, const QString& AHint, int AX, void (TClipForm::*AClick)()) {
    auto* b = new TImageButton(this);
    b->setObjectName(AName);
    b->setToolTip(AHint);
    b->setGeometry(AX, 344, 34, 34);
    connect(b, &QAbstractButton::clicked, this, Guarded([this, AClick](bool) { Command(AClick); }));
    return b;
  };
  FPlayButton = button("btnPlay", tr("Play full audio"), 19, &TClipForm::PlayButtonClick);
  FPauseButton = button("btnPause", tr("Pause"), 57, &TClipForm::PauseButtonClick);
  FStopButton = button("btnStop", tr("Stop"), 95, &TClipForm::StopButtonClick);
  FSetStartButton = button("btnSetStart", tr("Set start"), 151, &TClipForm::SetStartClick);
  FSetEndButton = button("btnSetEnd", tr("Set end"), 189, &TClipForm::SetEndClick);
  FPlayTrimmedButton = button("btnPlayTrimmed", tr("Play trimmed audio"), 227, &TClipForm::PlayTrimmedClick);
  for (TImageButton* b : {FPlayButton, FPauseButton, FPlayTrimmedButton}) b->setCheckable(true);

  FPlayTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), this);
  FPlayTime->setObjectName("lblPlayTime");
  FPlayTime->setAlignment(Qt::AlignCenter);
  FPlayTime->setGeometry(290, 351, 185, 20);

  auto field = [this](const char* AName, const QString& ACaption, int AX, void (TClipForm::*AOk)(),
                      const char* AOkName) {
    auto* caption = new QLabel(ACaption, this);
    caption->setGeometry(AX, 398, 84, 22);
    // Milliseconds: a cut between two words of speech needs them.
    auto* edit = new QTimeEdit(this);
    edit->setObjectName(AName);
    edit->setDisplayFormat(QString::fromLatin1(kTrimTimeFormat));
    edit->setGeometry(AX + 84, 396, 98, 24);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(AOkName);
    ok->setGeometry(AX + 186, 396, 38, 24);
    connect(ok, &QPushButton::clicked, this, Guarded([this, AOk](bool) { Command(AOk); }));
    return edit;
  };
  FTimeStart = field("TimeStart", tr("Set start time:"), 19, &TClipForm::StartFieldOkClick, "btnStartFieldOK");
  FTimeEnd = field("TimeEnd", tr("Set end time:"), 252, &TClipForm::EndFieldOkClick, "btnEndFieldOK");

  auto command = [this](const char* AName, const QString& ACaption, int AX, void (TClipForm::*AClick)()) {
    auto* b = new QPushButton(ACaption, this);
    b->setObjectName(AName);
    b->setGeometry(AX, 446, 85, 28);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, Guarded([this, AClick](bool) { Command(AClick); }));
    return b;
  };
  command("btnReset", tr("Reset"), 19, &TClipForm::ResetClick);
  FOkButton = command("btnOK", tr("OK"), 295, &TClipForm::OkClick);
  command("btnCancel", tr("Cancel"), 390, &TClipForm::CancelClick);

  connect(FSlider, &QSlider::sliderPressed, this, [this] { SliderGrabbed(); });
  connect(FSlider, &QSlider::sliderReleased, this, Guarded([this] { SliderSettled(); }));
  connect(FSlider, &QAbstractSlider::actionTriggered, this, [this](int AAction) {
    if (AAction == QAbstractSlider::SliderMove || AAction == QAbstractSlider::SliderNoAction) return;
    FPlayTrimmed = false;
    ShowButtons();
    QMetaObject::invokeMethod(this, [this] { RunGuarded([this] { SliderSettled(); }); }, Qt::QueuedConnection);
  });

  FPlayer->SetOnFileOpen([this](TObject*, int64_t ADuration, int, int, int& AWidth, int& AHeight) {
    FFPlayer2FileOpen(ADuration, AWidth, AHeight);
  });
  FPlayer->SetOnPosition([this](TObject*, int64_t APTS) { RunGuarded([&] { FFPlayer2Position(APTS); }); });
  FPlayer->SetOnState([this](TObject*, TPlayState AState) { RunGuarded([&] { FFPlayer2State(AState); }); });
  PlaceTrimLine();
}

TClipForm::~TClipForm() {
  FPlayer->SetOnPosition(nullptr);
  FPlayer->SetOnState(nullptr);
  FPlayer->Stop(true);
  FPlayer->SetOnFileOpen(nullptr);
}

void TClipForm::FormCreate(const TSkin& ASkin) {
  const QDir folder(ASkin.Folder());
  FStartHandle->setPixmap(QPixmap(folder.filePath(QStringLiteral("trim_left.bmp"))));
  FEndHandle->setPixmap(QPixmap(folder.filePath(QStringLiteral("trim_right.bmp"))));
  const struct {
    TImageButton* Button;
    const char* Picture;
  } images[] = {{FPlayButton, "play.png"},        {FPauseButton, "pause.png"},   {FStopButton, "stop.png"},
                {FSetStartButton, "setstart.png"}, {FSetEndButton, "setend.png"}, {FPlayTrimmedButton, "playpart.png"}};
  for (const auto& i : images) i.Button->SetImages(ASkin.Picture(QString::fromLatin1(i.Picture)), {});
}

QString TClipForm::SelectedSource() const {
  const int sel = FList.SelectedIndex();
  return sel >= 0 ? FList.AudioFiles()[static_cast<size_t>(sel)].Source : QString();
}

void TClipForm::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!AEvent->spontaneous()) RunGuarded([this] { FormShow(); });
}

void TClipForm::FormShow() {
  FClosing = false;
  FGate->Drop();
  // A knob or handle held when the dialog last closed (Esc before the
  // button came up) is not held now: its release went elsewhere.
  FSliderDragging = false;
  {
    const QSignalBlocker quiet(FSlider);
    FSlider->setSliderDown(false);
  }
  FOkButton->setFocus();
  const int sel = FList.SelectedIndex();
  if (sel < 0) return;
  const TAudioFile& row = FList.AudioFiles()[static_cast<size_t>(sel)];
  SetClipStart(row.TimeStart);
  SetClipEnd(row.TimeEnd);
  FPlayTrimmed = false;
  FStartDrag = {};
  FEndDrag = {};
  OpenFile(row.Source);
  int startLeft = HandleX(FClipStart);
  int endLeft = HandleX(FClipEnd);
  if (FDuration <= 0) {
    // Nothing to measure the points against: the whole slider.
    startLeft = kHandleOffset;
    endLeft = kSliderWidth + kHandleOffset;
  } else if (!EndKnown()) {
    endLeft = kSliderWidth + kHandleOffset;
  } else if (FClipStart >= FClipEnd) {
    // One point: the start handle on it, the end handle just right of it
    // (as Set end leaves them), so that neither leaves the dialog.
    startLeft = endLeft;
    endLeft += kHandleGap;
  }
  SetHandleLeft(FStartHandle, startLeft);
  SetHandleLeft(FEndHandle, endLeft);
  PlaceTrimLine();
}

void TClipForm::done(int AResult) {
  // Esc and the buttons during a wait: after it (a closing in progress
  // drops them).
  if (FGate->Held()) {
    if (!FClosing) FGate->RunWhenFree([this, AResult] { done(AResult); });
    return;
  }
  RunGuarded([this] { FormClose(); });
  QDialog::done(AResult);
}

void TClipForm::FormClose() {
  FClosing = true;
  FPlayTrimmed = false;
  StopButtonClick();
  // What was clicked while the player stopped belongs to this opening; a
  // button the click pressed comes up again.
  FGate->Drop();
  ReleaseButtons();
}

void TClipForm::Command(void (TClipForm::*AClick)()) {
  FGate->RunWhenFree([this, AClick] {
    if (!FClosing) (this->*AClick)();
  });
}

bool TClipForm::OpenFile(const QString& AFileName) {
  TReportSink& report = FLibraries.Report();
  if (!FLibraries.LoadAV(*FPlayer)) {
    const QString error = QString::fromStdString(FPlayer->LastErrMsg());
    report.ReportError("Error Loading AV Lib: " + error, QStringLiteral("CLM_FFPlayer2LoadAVLib"));
    report.AddLogLine("-> " + error);
    return false;
  }
  if (!FLibraries.LoadSdl(*FPlayer, 1)) return false;
  // A position of the file before must not become a point of this one, nor
  // its length the measure of the handles.
  FClipPosition = 0;
  FDuration = 0;
  FLoopRestarting = false;
  FActive = false;
  bool opened;
  {
    const TCommandGate::THold hold(*FGate);
    opened = FPlayer->Open(AFileName.toStdString(), FScreen, false);
  }
  if (!opened) {
    const QString error = QString::fromStdString(FPlayer->LastErrMsg());
    report.ReportError("Error open file: " + error, QStringLiteral("CLM_FFPlayer2Open"));
    report.AddLogLine("-> " + error);
    return false;
  }
  FActive = true;
  FPlayButton->setChecked(true);
  FPauseButton->setChecked(false);
  FPlayTrimmedButton->setChecked(false);
  return true;
}

void TClipForm::FFPlayer2FileOpen(int64_t ADuration, int& AScreenWidth, int& AScreenHeight) {
  AScreenWidth = FScreen->width();
  AScreenHeight = FScreen->height();
  FDuration = ADuration;
}

void TClipForm::FFPlayer2Position(int64_t APosition) {
  if (FPositionBusy) return;
  FPositionBusy = true;
  struct TClear {
    bool& Flag;
    ~TClear() { Flag = false; }
  } clear{FPositionBusy};
  if (APosition >= 0 && FDuration > 0 && !FSliderDragging)
    SetSlider(static_cast<int>(APosition * kSliderMax / FDuration));
  if (APosition > 0) {
    FPlayTime->setText(FormatMediaTime(APosition) + " / " + FormatMediaTime(FDuration));
    FClipPosition = APosition;
    // Without an end point the loop restarts at the file's end: any
    // position after that is the new pass.
    if (FLoopRestarting && (!EndKnown() || APosition < FClipEnd)) FLoopRestarting = false;
    // A point taken from the position stops at the other point: the
    // handles cannot pass each other, but the player may report a place
    // beyond the other point (a seek's landing, a point set from a knob
    // that stood elsewhere).
    if (FStartDrag.Moved || FStartDrag.Released) {
      SetClipStart(EndKnown() ? std::min(FClipPosition, FClipEnd) : FClipPosition);
      if (FStartDrag.Released) FStartDrag.Moved = FStartDrag.Released = false;
      PlaceTrimLine();
    }
    if (FEndDrag.Moved || FEndDrag.Released) {
      SetClipEnd(std::max(FClipPosition, FClipStart));
      if (FEndDrag.Released) FEndDrag.Moved = FEndDrag.Released = false;
      PlaceTrimLine();
    }
  }
  // Without an end point the part runs to the file's end (see the state).
  if (FPlayTrimmed && !FLoopRestarting && EndKnown() && APosition >= FClipEnd) RestartLoop(true);
}

bool TClipForm::RestartLoop(bool AWaitForSeek) {
  // Start and end at one point: the part is played, and nothing is left to
  // repeat. The loop ends as Stop ends it, not at the file's end.
  if (PartEmpty()) {
    StopButtonClick();
    return true;
  }
  bool sought;
  {
    const TCommandGate::THold hold(*FGate);
    sought = FPlayer->Seek(FClipStart, 0, AWaitForSeek);
  }
  if (sought) FLoopRestarting = true;
  return sought;
}

void TClipForm::FFPlayer2State(TPlayState AState) {
  FClipPlayState = AState;
  if (AState != psEnd) return;
  // An end point at the file's end (or none) is never passed by a position:
  // the end of the file restarts the loop instead of ending it. An end
  // queued from before a restart is not another end; a restart the player
  // takes no request for (nothing playing) ends the loop.
  if (FPlayTrimmed && !FClosing) {
    if (FLoopRestarting || RestartLoop(false) || FPlayer->Seeking()) return;
  }
  StopButtonClick();
}

void TClipForm::ReleaseButtons() {
  for (TImageButton* b : {FPlayTrimmedButton, FPlayButton, FPauseButton}) b->setChecked(false);
}

void TClipForm::ShowButtons() {
  const bool paused = FActive && FPlayer->Paused();
  const bool playing = FActive && !paused;
  FPauseButton->setChecked(paused);
  FPlayButton->setChecked(playing && !FPlayTrimmed);
  FPlayTrimmedButton->setChecked(playing && FPlayTrimmed);
}

void TClipForm::PlayButtonClick() {
  FPlayTrimmed = false;
  // Nothing to resume once stopped (the last state reported may still say
  // paused): the file opens again.
  if (FActive && (FClipPlayState == psPause || FPlayer->PlayState() == psPause)) {
    FPlayer->Resume();
    ShowButtons();
    return;
  }
  OpenFile(SelectedSource());
  ShowButtons();
}

void TClipForm::PauseButtonClick() {
  FPlayTrimmed = false;
  // A stopped player has nothing to pause (and calls itself paused).
  if (FActive) FPlayer->TogglePause();
  ShowButtons();
}

void TClipForm::StopButtonClick() {
  FPlayTrimmed = false;
  FActive = false;
  ReleaseButtons();
  {
    const TCommandGate::THold hold(*FGate);
    FPlayer->Stop(true);
  }
  SetSlider(kSliderMax);
  FScreen->update();
  FPlayTime->setText(FormatMediaTime(FDuration) + " / " + FormatMediaTime(FDuration));
}

void TClipForm::SetClipStart(int64_t ATime) {
  FClipStart = ATime;
  FTimeStart->setTime(TimeOfDay(ATime));
}

void TClipForm::SetClipEnd(int64_t ATime) {
  FClipEnd = ATime;
  FTimeEnd->setTime(TimeOfDay(ATime));
}

void TClipForm::SetHandleLeft(QLabel* AHandle, int ALeft) { AHandle->move(ALeft, AHandle->y()); }

void TClipForm::PlaceTrimLine() {
  const int half = FStartHandle->width() / 2;
  const int left = FStartHandle->x() + half + 6;
  const int width = FEndHandle->x() + half - left - 6;
  FTrimLine->setGeometry(left, FStartHandle->y(), std::max(width, 0), 1);
}

void TClipForm::SetStartClick() {
  SetClipStart(FClipPosition);
  const int x = kSliderWidth * FSlider->value() / kSliderMax + kHandleOffset;
  SetHandleLeft(FStartHandle, x);
  PlaceTrimLine();
  if (FClipStart >= FClipEnd) {
    SetClipEnd(FClipPosition);
    SetHandleLeft(FEndHandle, x);
    SetHandleLeft(FStartHandle, x - kHandleGap);
    FTrimLine->resize(0, 1);
  }
}

void TClipForm::SetEndClick() {
  SetClipEnd(FClipPosition);
  const int x = kSliderWidth * FSlider->value() / kSliderMax + kHandleOffset;
  SetHandleLeft(FEndHandle, x);
  PlaceTrimLine();
  if (FClipEnd <= FClipStart) {
    SetClipStart(FClipPosition);
    SetHandleLeft(FStartHandle, x);
    SetHandleLeft(FEndHandle, x + kHandleGap);
    FTrimLine->resize(0, 1);
  }
}

void TClipForm::PlayTrimmedClick() {
  if (PartEmpty()) {
    // No part between the points: nothing to loop.
    StopButtonClick();
    return;
  }
  FPlayTrimmed = true;
  FLoopRestarting = false;
  FPlayTrimmedButton->setChecked(true);
  FPlayButton->setChecked(false);
  FPauseButton->setChecked(false);
  switch (FPlayer->PlayState()) {
    case psPause:
      FPlayer->Resume();
      break;
    case psStop:
    case psEnd:
      if (OpenFile(SelectedSource()))
        FPlayer->Seek(FClipStart, 0, false);
      else
        FPlayTrimmed = false;
      break;
    case psPlay:
    case psResume:
      // Resumed after a pause, it plays as much as before.
      FPlayer->Seek(FClipStart, 0, false);
      break;
    default:
      break;
  }
  ShowButtons();
}

void TClipForm::StartFieldOkClick() {
  FClipStart = TextTimeToMediaTime(FTimeStart->time());
  SetHandleLeft(FStartHandle, HandleX(FClipStart));
  if (FClipStart >= FClipEnd) {
    SetClipEnd(FClipStart);
    SetHandleLeft(FEndHandle, FStartHandle->x());
    SetHandleLeft(FStartHandle, FStartHandle->x() - kHandleGap);
  }
  PlaceTrimLine();
}

void TClipForm::EndFieldOkClick() {
  FClipEnd = TextTimeToMediaTime(FTimeEnd->time());
  SetHandleLeft(FEndHandle, HandleX(FClipEnd));
  if (FClipEnd <= FClipStart) {
    SetClipStart(FClipEnd);
    SetHandleLeft(FStartHandle, FEndHandle->x());
    SetHandleLeft(FEndHandle, FEndHandle->x() + kHandleGap);
  }
  PlaceTrimLine();
}

void TClipForm::ResetClick() {
  const int top = FSlider->y() + FSlider->height();
  FStartHandle->move(kHandleOffset, top);
  FEndHandle->move(kSliderWidth + kHandleOffset, top);
  PlaceTrimLine();
  SetSlider(0);
  SetClipStart(0);
  SetClipEnd(FDuration);
}

void TClipForm::OkClick() {
  // Every way of setting the points keeps the end from coming before the
  // start; the row never gets such a pair.
  if (EndKnown() && FClipEnd < FClipStart) {
    QApplication::beep();
    return;
  }
  const int sel = FList.SelectedIndex();
  if (sel >= 0) {
    // Through the list: the trimmed length, the estimate, the Start and End
    // fields and the grid follow.
    FList.Rows().SetTrim(sel, FClipStart, FClipEnd);
    FList.UpdateEstimatedSize(sel);
    FList.RepaintRows(sel, sel);
  }
  accept();
}

void TClipForm::CancelClick() { reject(); }

// ---- the handles

int64_t TClipForm::HandleTime(int ALeft) const {
  const auto value = static_cast<int64_t>(std::lround((ALeft - kHandleOffset) * double(kSliderMax) / kSliderWidth));
  return FDuration * value / kSliderMax;
}

bool TClipForm::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (FGate->Held() && (AWatched == FSlider || AWatched == FStartHandle || AWatched == FEndHandle)) {
    // The mouse and the keys cannot be kept for later: refused while the
    // dialog waits for its player.
    if (IsUserInput(AEvent->type())) return true;
  }
  const bool start = AWatched == FStartHandle;
  if (!start && AWatched != FEndHandle) return QDialog::eventFilter(AWatched, AEvent);
  auto* mouse = dynamic_cast<QMouseEvent*>(AEvent);
  if (!mouse || mouse->button() == Qt::RightButton) return QDialog::eventFilter(AWatched, AEvent);
  const int x = static_cast<int>(mouse->position().x());
  switch (AEvent->type()) {
    case QEvent::MouseButtonPress:
      if (mouse->button() == Qt::LeftButton) RunGuarded([&] { HandleDown(start, x); });
      return true;
    case QEvent::MouseMove:
      RunGuarded([&] { HandleMove(start, x); });
      return true;
    case QEvent::MouseButtonRelease:
      if (mouse->button() == Qt::LeftButton) RunGuarded([&] { HandleUp(start); });
      return true;
    default:
      return QDialog::eventFilter(AWatched, AEvent);
  }
}

void TClipForm::HandleDown(bool AStart, int AX) {
  THandleDrag& drag = AStart ? FStartDrag : FEndDrag;
  FPlayTrimmed = false;
  FPlayTrimmedButton->setChecked(false);
  drag.Moved = true;
  drag.Dragging = true;
  drag.DragX = AX;
  FPlayer->Pause();
}

void TClipForm::HandleMove(bool AStart, int AX) {
  THandleDrag& drag = AStart ? FStartDrag : FEndDrag;
  if (!drag.Dragging) return;
  QLabel* handle = AStart ? FStartHandle : FEndHandle;
  const int n = handle->x() + AX - drag.DragX;
  const bool apart = AStart ? n < FEndHandle->x() : FStartHandle->x() < n;
  if (!apart || n <= kHandleOffset || n >= kSliderWidth + kHandleOffset) return;
  SetHandleLeft(handle, n);
  PlaceTrimLine();
  // The point follows the position the player reports from there; without
  // a known length there is nothing to seek to.
  if (FDuration > 0) FPlayer->Seek(HandleTime(n), 0, false);
}

void TClipForm::HandleUp(bool AStart) {
  THandleDrag& drag = AStart ? FStartDrag : FEndDrag;
  if (!drag.Dragging) return;
  drag.Dragging = false;
  {
    const TCommandGate::THold hold(*FGate);
    std::mutex lock;
    std::condition_variable never;
    std::unique_lock<std::mutex> guard(lock);
    WaitServing(guard, never, [this] { return !FPlayer->Seeking(); }, TMainThreadWait::QueuedCallsAndEvents);
  }
  // A move seeks only while no seek is pending, so the last one carried out
  // may be an earlier point than where the handle was let go: seek there.
  const QLabel* handle = AStart ? FStartHandle : FEndHandle;
  if (FDuration > 0) {
    const int64_t at = HandleTime(handle->x());
    const int64_t time = AStart ? (EndKnown() ? std::min(at, FClipEnd) : at) : std::max(at, FClipStart);
    {
      const TCommandGate::THold hold(*FGate);
      FPlayer->Seek(time, 0, true);
    }
    // The point is where the handle was let go: a position still queued from
    // before this seek would name an older place.
    if (AStart)
      SetClipStart(time);
    else
      SetClipEnd(time);
    drag.Moved = false;
    PlaceTrimLine();
  } else {
    drag.Released = true;
  }
  if (FActive && FPlayer->Paused()) FPlayer->Resume();
  ShowButtons();
}

// ---- the slider

void TClipForm::SliderGrabbed() {
  // Also a click on the track: the whole file plays on from where the
  // knob is let go.
  FSliderDragging = true;
  FPlayTrimmed = false;
  ShowButtons();
}

void TClipForm::SliderSettled() {
  if (FTrackChanging || FLeftButtonDown()) return;
  if (FDuration > 0) FPlayer->Seek(FDuration * FSlider->value() / kSliderMax, 0, false);
  FSliderDragging = false;
}

void TClipForm::SetSlider(int AValue) {
  FTrackChanging = true;
  FSlider->setValue(AValue);
  FTrackChanging = false;
}

}  // namespace quorvel
