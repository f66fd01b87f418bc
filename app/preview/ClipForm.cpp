#include "app/preview/ClipForm.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTimeEdit>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "app/preview/PlayerScreen.h"
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

QTime TimeOfDay(int64_t ATime) {
  return QTime::fromString(FormatMediaTime(std::max<int64_t>(ATime, 0)), QStringLiteral("HH:mm:ss"));
}

}  // namespace

int TrimHandleX(int ASliderWidth, int64_t ATime, int64_t ADuration) {
  if (ADuration <= 0) return kHandleOffset;
  const int64_t value = std::clamp<int64_t>(ATime, 0, ADuration) * kSliderMax / ADuration;
  return static_cast<int>(ASliderWidth * value / kSliderMax + kHandleOffset);
}

TClipForm::TClipForm(TSourceList& AList, const TPlayerLibraries& ALibraries, QWidget* AParent)
    : QDialog(AParent), FList(AList), FLibraries(ALibraries), FPlayer(std::make_unique<TFFPlayer>()) {
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
    connect(b, &QAbstractButton::clicked, this, Guarded([this, AClick](bool) { (this->*AClick)(); }));
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
    caption->setGeometry(AX, 398, 95, 22);
    auto* edit = new QTimeEdit(this);
    edit->setObjectName(AName);
    edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    edit->setGeometry(AX + 95, 396, 80, 24);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(AOkName);
    ok->setGeometry(AX + 180, 396, 40, 24);
    connect(ok, &QPushButton::clicked, this, Guarded([this, AOk](bool) { (this->*AOk)(); }));
    return edit;
  };
  FTimeStart = field("TimeStart", tr("Set start time:"), 19, &TClipForm::StartFieldOkClick, "btnStartFieldOK");
  FTimeEnd = field("TimeEnd", tr("Set end time:"), 252, &TClipForm::EndFieldOkClick, "btnEndFieldOK");

  auto command = [this](const char* AName, const QString& ACaption, int AX, void (TClipForm::*AClick)()) {
    auto* b = new QPushButton(ACaption, this);
    b->setObjectName(AName);
    b->setGeometry(AX, 446, 85, 28);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, Guarded([this, AClick](bool) { (this->*AClick)(); }));
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
  } else if (FClipStart >= FClipEnd) {
    endLeft = startLeft;
    startLeft -= kHandleGap;
  }
  SetHandleLeft(FStartHandle, startLeft);
  SetHandleLeft(FEndHandle, endLeft);
  PlaceTrimLine();
}

void TClipForm::done(int AResult) {
  RunGuarded([this] { FormClose(); });
  QDialog::done(AResult);
}

void TClipForm::FormClose() {
  FClosing = true;
  FPlayTrimmed = false;
  StopButtonClick();
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
  if (!FPlayer->Open(AFileName.toStdString(), FScreen, false)) {
    const QString error = QString::fromStdString(FPlayer->LastErrMsg());
    report.ReportError("Error open file: " + error, QStringLiteral("CLM_FFPlayer2Open"));
    report.AddLogLine("-> " + error);
    return false;
  }
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
    if (FLoopRestarting && APosition < FClipEnd) FLoopRestarting = false;
    if (FStartDrag.Moved || FStartDrag.Released) {
      SetClipStart(FClipPosition);
      if (FStartDrag.Released) FStartDrag.Moved = FStartDrag.Released = false;
      PlaceTrimLine();
    }
    if (FEndDrag.Moved || FEndDrag.Released) {
      SetClipEnd(FClipPosition);
      if (FEndDrag.Released) FEndDrag.Moved = FEndDrag.Released = false;
      PlaceTrimLine();
    }
  }
  if (FPlayTrimmed && !FLoopRestarting && APosition >= FClipEnd && FPlayer->Seek(FClipStart, 0, true))
    FLoopRestarting = true;
}

void TClipForm::FFPlayer2State(int AState) {
  FClipPlayState = AState;
  if (AState != psEnd) return;
  // An end point at the file's end is never passed by a position: the end
  // of the file restarts the loop instead of ending it.
  if (FPlayTrimmed && !FClosing) {
    if (!FLoopRestarting && FPlayer->Seek(FClipStart, 0, false)) FLoopRestarting = true;
    return;
  }
  StopButtonClick();
}

void TClipForm::ReleaseButtons() {
  for (TImageButton* b : {FPlayTrimmedButton, FPlayButton, FPauseButton}) b->setChecked(false);
}

void TClipForm::PlayButtonClick() {
  FPlayTrimmed = false;
  FPlayTrimmedButton->setChecked(false);
  if (FClipPlayState == psPause || FPlayer->PlayState() == psPause) {
    FPlayer->Resume();
    FPlayButton->setChecked(true);
    FPauseButton->setChecked(false);
    return;
  }
  if (!OpenFile(SelectedSource())) FPlayButton->setChecked(false);
}

void TClipForm::PauseButtonClick() {
  FPlayTrimmed = false;
  FPlayer->TogglePause();
  const bool paused = FPlayer->Paused();
  FPauseButton->setChecked(paused);
  FPlayButton->setChecked(!paused);
  FPlayTrimmedButton->setChecked(false);
}

void TClipForm::StopButtonClick() {
  FPlayTrimmed = false;
  ReleaseButtons();
  FPlayer->Stop(true);
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
      if (OpenFile(SelectedSource())) {
        FPlayTrimmedButton->setChecked(true);
        FPlayButton->setChecked(false);
        FPlayer->Seek(FClipStart, 0, false);
      }
      break;
    case psPlay:
    case psResume:
      // Resumed after a pause, it plays as much as before.
      FPlayer->Seek(FClipStart, 0, false);
      break;
    default:
      break;
  }
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
    std::mutex lock;
    std::condition_variable never;
    std::unique_lock<std::mutex> guard(lock);
    WaitServing(guard, never, [this] { return !FPlayer->Seeking(); }, TMainThreadWait::QueuedCallsAndEvents);
  }
  // A move seeks only while no seek is pending, so the last one carried out
  // may be an earlier point than where the handle was let go: seek there.
  const QLabel* handle = AStart ? FStartHandle : FEndHandle;
  if (FDuration > 0) {
    const int64_t time = HandleTime(handle->x());
    FPlayer->Seek(time, 0, true);
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
  if (FPlayer->Paused()) FPlayer->Resume();
  FPlayButton->setChecked(FPlayer->PlayState() != psStop && FPlayer->PlayState() != psEnd);
}

// ---- the slider

void TClipForm::SliderGrabbed() {
  FSliderDragging = true;
  FPlayTrimmed = false;
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
