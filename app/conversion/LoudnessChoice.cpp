#include "app/conversion/LoudnessChoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr int kOff = 0, kTags = 1, kNormalise = 2;
constexpr double kDefaultTarget = -18;

QString TargetText(double ALufs) { return QString::number(ALufs, 'f', std::fmod(ALufs, 1.0) == 0 ? 0 : 1); }

}  // namespace

TLoudnessChoice::TLoudnessChoice(QSpinBox& AVolume, QWidget* AParent)
    : QWidget(AParent), FVolume(AVolume), FVolumeToolTip(AVolume.toolTip()) {
  setObjectName("pnlLoudness");
  auto* g = new QGridLayout(this);
  g->setContentsMargins(0, 0, 0, 0);
  g->setHorizontalSpacing(4);
  g->setVerticalSpacing(4);
  g->addWidget(new QLabel(tr("Loudness:"), this), 0, 0);
  FMode = new QComboBox(this);
  FMode->setObjectName("cmbLoudness");
  FMode->addItems({tr("Off"), tr("ReplayGain tags"), tr("Normalise to")});
  FMode->setToolTip(tr("ReplayGain tags: measure each output (EBU R128) and tag it, the sound untouched.\n"
                       "Normalise to: one constant gain per file (or album) to the target loudness, "
                       "peaks kept under -1 dBTP."));
  g->addWidget(FMode, 0, 1);
  FTarget = new QComboBox(this);
  FTarget->setObjectName("cmbLoudnessTarget");
  FTarget->setEditable(true);
  FTarget->setInsertPolicy(QComboBox::NoInsert);
  FTarget->setMinimumContentsLength(5);  // "-23.5" whole, also at 200 %
  for (const double preset : {-14.0, -16.0, -18.0, -23.0}) FTarget->addItem(TargetText(preset));
  FTarget->setCurrentText(TargetText(kDefaultTarget));
  auto* validator = new QDoubleValidator(-70, 0, 1, FTarget);
  validator->setNotation(QDoubleValidator::StandardNotation);
  FTarget->setValidator(validator);
  FTarget->setToolTip(tr("Target loudness: -14 (streaming), -16 (podcasts), -18 (ReplayGain), -23 (broadcast), "
                         "or a typed value"));
  g->addWidget(FTarget, 0, 2);
  FUnit = new QLabel(tr("LUFS"), this);
  g->addWidget(FUnit, 0, 3);
  FAlbum = new QCheckBox(tr("Albums by folder"), this);
  FAlbum->setObjectName("chLoudnessAlbum");
  FAlbum->setToolTip(tr("The files of one source folder form an album: album tags, or one gain for all of them"));
  // One line: the window gives the choice a row of its own.
  g->addWidget(FAlbum, 0, 4);
  FNote = new QLabel(tr("replaces the volume"), this);
  FNote->setObjectName("lblLoudnessNote");
  g->addWidget(FNote, 0, 5);
  g->setColumnStretch(6, 1);
  connect(FMode, &QComboBox::currentIndexChanged, this, [this] { Update(); });
  Update();
}

double TLoudnessChoice::TargetLufs() const {
  bool ok = false;
  const double value = FTarget->currentText().trimmed().toDouble(&ok);
  return ok && std::isfinite(value) ? std::clamp(value, -70.0, 0.0) : kDefaultTarget;
}

TBatchLoudness TLoudnessChoice::Value() const {
  TBatchLoudness l;
  const int mode = FMode->currentIndex();
  l.Action = mode == kTags ? TLoudnessAction::Measure : mode == kNormalise ? TLoudnessAction::Normalise
                                                                           : TLoudnessAction::Off;
  l.TargetLufs = TargetLufs();
  l.Album = FAlbum->isChecked();
  return l;
}

TLoudnessSetting TLoudnessChoice::Setting() const { return {FMode->currentIndex(), TargetLufs(), FAlbum->isChecked()}; }

void TLoudnessChoice::SetSetting(const TLoudnessSetting& ASetting) {
  FMode->setCurrentIndex(std::clamp(ASetting.Mode, kOff, kNormalise));
  FTarget->setCurrentText(TargetText(std::clamp(ASetting.Target, -70.0, 0.0)));
  FAlbum->setChecked(ASetting.Album);
  Update();
}

void TLoudnessChoice::Update() {
  const int mode = FMode->currentIndex();
  const bool normalise = mode == kNormalise;
  FTarget->setEnabled(normalise);
  FUnit->setEnabled(normalise);
  FAlbum->setEnabled(mode != kOff);
  // The volume and the normalising gain never stack: the gain replaces it.
  FVolume.setEnabled(!normalise);
  FNote->setVisible(normalise);
  FVolume.setToolTip(normalise ? tr("Normalising replaces the volume") : FVolumeToolTip);
}

}  // namespace quorvel
