#include "app/preview/PreviewPanel.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/preview/PlayerScreen.h"
#include "app/preview/PositionSlider.h"
#include "app/report/ExceptionGuard.h"
#include "app/report/ReportSink.h"
#include "app/sources/SourceList.h"
#include "media/player/FFPlay.h"

namespace quorvel {

namespace {

// The header keeps the states as numbers.
static_assert(psPlay == 0 && psStop == 4);
constexpr int kSliderMax = 1000;
}

TPreviewPanel::TPreviewPanel(const TControls& AControls, TSourceList& AList, const TPlayerLibraries& ALibraries,
                             QObject* AParent)
    : QObject(AParent), FUi(AControls), FList(AList), FLibraries(ALibraries), FPlayer(std::make_unique<TFFPlayer>()) {
  FPreviewState = psPlay;
  FUi.Play->setCheckable(true);
  FUi.Pause->setCheckable(true);
  FUi.Slider->setRange(0, kSliderMax);
  FUi.Slider->setPageStep(50);
  JumpToClickedPoint(FUi.Slider);
  FUi.PlayTime->setAlignment(Qt::AlignCenter);
  FUi.PlayTime->setText(QStringLiteral("00:00:00 / 00:00:00"));

  FPlayer->SetDisableDisplay(true);
  FPlayer->SetOnFileOpen([this](TObject*, int64_t ADuration, int, int, int& AWidth, int& AHeight) {
    FFPlayerFileOpen(ADuration, AWidth, AHeight);
  });
  FPlayer->SetOnPosition([this](TObject*, int64_t APTS) { RunGuarded([&] { FFPlayerPosition(APTS); }); });
  FPlayer->SetOnState([this](TObject*, TPlayState AState) { RunGuarded([&] { FFPlayerState(AState); }); });

  connect(FUi.Play, &QAbstractButton::clicked, this, Guarded([this](bool) { PlayButtonClick(); }));
  connect(FUi.Pause, &QAbstractButton::clicked, this, Guarded([this](bool) { PauseButtonClick(); }));
  connect(FUi.Stop, &QAbstractButton::clicked, this, Guarded([this](bool) { StopButtonClick(); }));
  connect(FUi.Slider, &QSlider::sliderPressed, this, [this] { SliderGrabbed(); });
  connect(FUi.Slider, &QSlider::sliderReleased, this, Guarded([this] { SliderSettled(); }));
  // A step by key settles once the slider took its new value (a click on
  // the track grabs the knob at the clicked point: it settles when let go).
  connect(FUi.Slider, &QAbstractSlider::actionTriggered, this, [this](int AAction) {
    if (AAction == QAbstractSlider::SliderMove || AAction == QAbstractSlider::SliderNoAction) return;
    QMetaObject::invokeMethod(this, [this] { RunGuarded([this] { SliderSettled(); }); }, Qt::QueuedConnection);
  });
  connect(FList.Grid(), &QTableWidget::currentCellChanged, this, Guarded([this](int, int, int, int) { RowChanged(); }));
  connect(&FList.Rows(), &TSourceRows::Changed, this, Guarded([this](int, int) { RowChanged(); }));
}

TPreviewPanel::~TPreviewPanel() {
  // The handlers talk to this panel: none may run once it goes.
  FPlayer->SetOnPosition(nullptr);
  FPlayer->SetOnState(nullptr);
  FPlayer->Stop(true);
  FPlayer->SetOnFileOpen(nullptr);
}

bool TPreviewPanel::PrepareSdl() { return FLibraries.LoadSdl(*FPlayer, 0); }

QString TPreviewPanel::SelectedSource() const {
  const int sel = FList.SelectedIndex();
  return sel >= 0 ? FList.AudioFiles()[static_cast<size_t>(sel)].Source : QString();
}

void TPreviewPanel::RowChanged() {
  // A file playing or paused keeps its label: it still plays, whatever
  // row is chosen.
  if (FActive || SelectedSource() == FShownSource) return;
  ShowNoLength();
}

void TPreviewPanel::ShowNoLength() {
  FDuration = 0;
  FShownSource.clear();
  SetSlider(0);
  FUi.PlayTime->setText(QStringLiteral("00:00:00 / 00:00:00"));
}

void TPreviewPanel::PlayButtonClick() {
  // The player's own state: the event saying so may still be on its way.
  if (FActive && (FPreviewState == psPause || FPlayer->PlayState() == psPause)) {
    FPlayer->Resume();
    FUi.Play->setChecked(true);
    FUi.Pause->setChecked(false);
    return;
  }
  const QString source = SelectedSource();
  if (source.isEmpty() || !QFileInfo(source).isFile()) {
    FUi.Play->setChecked(false);
    return;
  }
  OpenAudio(source);
}

void TPreviewPanel::PauseButtonClick() {
  if (!FActive) {
    FUi.Pause->setChecked(false);
    return;
  }
  FPlayer->TogglePause();
  // One of the two at most stays down: the one that says what plays.
  const bool paused = FPlayer->Paused();
  FUi.Pause->setChecked(paused);
  FUi.Play->setChecked(!paused);
}

void TPreviewPanel::PlayPauseClick() {
  const bool playing = FActive && FPreviewState != psPause && FPlayer->PlayState() != psPause && !FPlayer->Paused();
  if (playing)
    PauseButtonClick();
  else
    PlayButtonClick();
}

void TPreviewPanel::StopButtonClick() {
  FUi.Play->setChecked(false);
  FUi.Pause->setChecked(false);
  FPlayer->Stop(true);
  FActive = false;
  ShowScreen(false);
  SetSlider(kSliderMax);
  FUi.Slider->update();
  FUi.PlayTime->setText(FormatMediaTime(FDuration) + " / " + FormatMediaTime(FDuration));
  // Played while another row was chosen: that row's file has no length here.
  RowChanged();
}

void TPreviewPanel::StopIfActive() {
  // Opened and neither stopped nor at its end since (the end runs Stop):
  // playing or paused. The state events may still be on their way.
  if (FActive) StopButtonClick();
}

void TPreviewPanel::OpenAudio(const QString& AFileName) {
  TReportSink& report = FLibraries.Report();
  if (!FLibraries.LoadAV(*FPlayer)) {
    const QString error = QString::fromStdString(FPlayer->LastErrMsg());
    report.AddLogLine("-> " + error);
    report.ReportError(error, QStringLiteral("CLM_LoadAVLib"));
    FUi.Play->setChecked(false);
    return;
  }
  // Also when the list's preparation could not load it: the next play
  // tries again (a failure is reported there).
  if (!PrepareSdl()) {
    FUi.Play->setChecked(false);
    return;
  }
  FActive = false;
  // A knob held when the last playback ended (its release went to a dialog
  // that opened meanwhile) is not held now.
  FTrackDragging = false;
  {
    const QSignalBlocker quiet(FUi.Slider);
    FUi.Slider->setSliderDown(false);
  }
  // The length of the file before is not this one's, also when this one
  // does not open.
  ShowNoLength();
  // Pictures in the box; a sound alone needs no surface (and without a host
  // a video mode would open SDL's own window). Turning the display off
  // also turns the pictures off, so both are set for each file.
  FShowsPictures = FUi.Box && HasPictures(AFileName);
  FPlayer->SetDisableDisplay(!FShowsPictures);
  if (FShowsPictures) FPlayer->SetDisableVideo(false);
  ShowScreen(FShowsPictures);
  if (!FPlayer->Open(AFileName.toStdString(), FShowsPictures ? FScreen : nullptr, false)) {
    ShowScreen(false);
    const QString error = QString::fromStdString(FPlayer->LastErrMsg());
    report.AddLogLine("-> " + error);
    report.ReportError(error, QStringLiteral("CLM_FFPlayerOpen"));
    FUi.Play->setChecked(false);
    return;
  }
  FActive = true;
  FShownSource = AFileName;
  FUi.Play->setChecked(true);
  FUi.Pause->setChecked(false);
}

void TPreviewPanel::FFPlayerFileOpen(int64_t ADuration, int& AScreenWidth, int& AScreenHeight) {
  if (FShowsPictures && FScreen) {
    AScreenWidth = FScreen->width();
    AScreenHeight = FScreen->height();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // No drawing surface: the desktop's size.
    AScreenWidth = screen->size().width();
    AScreenHeight = screen->size().height();
  }
  FDuration = ADuration;
}

void TPreviewPanel::FFPlayerPosition(int64_t APosition) {
  if (APosition >= 0 && FDuration > 0 && !FLeftButtonDown() && !FTrackDragging)
    SetSlider(static_cast<int>(APosition * kSliderMax / FDuration));
  if (APosition > 0) FUi.PlayTime->setText(FormatMediaTime(APosition) + " / " + FormatMediaTime(FDuration));
}

void TPreviewPanel::FFPlayerState(TPlayState AState) {
  FPreviewState = AState;
  if (AState == psEnd) StopButtonClick();
}

bool TPreviewPanel::HasPictures(const QString& AFileName) const {
  // Rows of one file were probed alike: the first says it.
  for (const TAudioFile& row : FList.AudioFiles())
    if (row.Source == AFileName) return row.HasPictures;
  return false;
}

void TPreviewPanel::ShowScreen(bool AShow) {
  if (!FUi.Box || (!FScreen && !AShow)) return;
  if (!FScreen) {
    // Made when first needed: a native window inside the main window costs
    // its drawing something, and most rows are sounds.
    FScreen = new TPlayerScreen(FUi.Box);
    FScreen->setObjectName("scrPreview");
    auto* layout = new QVBoxLayout(FUi.Box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FScreen);
  }
  FScreen->setVisible(AShow);
  // Its size now: the player asks for it as soon as the file opens.
  if (AShow) FUi.Box->layout()->activate();
}

void TPreviewPanel::SliderGrabbed() { FTrackDragging = true; }

void TPreviewPanel::SliderSettled() {
  if (FTrackChanging || FLeftButtonDown()) return;
  // A length the player could not tell gives no point to seek to.
  if (FActive && FDuration > 0) FPlayer->Seek(FDuration * FUi.Slider->value() / kSliderMax, 0, false);
  FTrackDragging = false;
}

void TPreviewPanel::SetSlider(int AValue) {
  FTrackChanging = true;
  FUi.Slider->setValue(AValue);
  FTrackChanging = false;
}

}  // namespace quorvel
