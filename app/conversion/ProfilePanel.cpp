#include "app/conversion/ProfilePanel.h"

#include <QCheckBox>

#include "app/report/ExceptionGuard.h"
#include "app/report/ReportSink.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"

namespace quorvel {

namespace {

enum { kQualityLow = 0, kQualityStandard = 1, kQualityHigh = 2 };

TCloseUpComboBox* NewChoice(const char* AName, QWidget* AParent) {
  auto* c = new TCloseUpComboBox(AParent);
  c->setObjectName(AName);
  return c;
}

// Captions as items, the chosen value's position selected (none when absent).
void FillChoice(QComboBox* AChoice, const QString& AList, const QString& AValue) {
  AChoice->addItems(SplitChoiceList(AList, false));
  AChoice->setCurrentIndex(ChoiceValueIndex(AList, AValue));
}

}  // namespace

TProfilePanel::TProfilePanel(TSourceList& AList, TReportSink& AReport, QWidget* AParent)
    : QObject(AParent), FList(AList), FReport(AReport) {
  cmbProfile = new QComboBox(AParent);
  cmbProfile->setObjectName("cmbProfile");
  chApplyToAll = new QCheckBox(tr("Apply to All"), AParent);
  chApplyToAll->setObjectName("chApplyToAll");
  chApplyToAll->setChecked(true);
  cmbQuality = NewChoice("cmbQuality", AParent);
  cmbQuality->addItems({tr("Low"), tr("Standard"), tr("High")});
  cmbQuality->setCurrentIndex(kQualityStandard);
  cmbSampleRate = NewChoice("cmbSampleRate", AParent);
  cmbAudioBitRate = NewChoice("cmbAudioBitRate", AParent);
  cmbChannel = NewChoice("cmbChannel", AParent);
  cmbAudioEncoder = NewChoice("cmbAudioEncoder", AParent);

  connect(cmbProfile, &QComboBox::activated, this, Guarded([this](int) { cmbProfileClick(); }));
  connect(chApplyToAll, &QCheckBox::clicked, this, Guarded([this](bool) { chApplyToAllClick(); }));
  connect(cmbQuality, &TCloseUpComboBox::closedUp, this, Guarded([this] { cmbQualityCloseUp(); }));
  for (TCloseUpComboBox* c : {cmbSampleRate, cmbChannel, cmbAudioEncoder, cmbAudioBitRate})
    connect(c, &TCloseUpComboBox::closedUp, this, Guarded([this] { StoreProfileChoices(); }));
}

void TProfilePanel::FillProfileList() {
  cmbProfile->clear();
  for (const TProfile& p : FProfiles) cmbProfile->addItem(p.Title);
  if (FProfiles.empty()) {
    cmbProfile->setCurrentIndex(-1);
    FillProfileChoices();
    return;
  }
  SelectProfile(ValidProfile(FRecentProfile) ? FRecentProfile : 0);
}

void TProfilePanel::SelectProfile(int AIndex) {
  cmbProfile->setCurrentIndex(AIndex);
  cmbProfileClick();
}

void TProfilePanel::cmbProfileClick() {
  if (FAddedByDialog && FList.RowCount() == 0) return;
  const int chosen = cmbProfile->currentIndex();
  if (!ValidProfile(chosen)) return;
  const int selected = FList.SelectedIndex();
  if (selected >= 0) FList.Rows().SetProfile(selected, chosen);
  FCurProfile = chosen;
  FRecentProfile = FCurProfile;
  if (chApplyToAll->isChecked()) FList.Rows().SetProfileOfAll(FCurProfile);
  FillProfileChoices();
  ReestimateAndRepaint();
}

void TProfilePanel::FillProfileChoices() {
  for (QComboBox* c : {static_cast<QComboBox*>(cmbAudioBitRate), static_cast<QComboBox*>(cmbSampleRate),
                       static_cast<QComboBox*>(cmbAudioEncoder), static_cast<QComboBox*>(cmbChannel)})
    c->clear();
  if (!ValidProfile(FCurProfile)) return;
  const TProfile& p = FProfiles[static_cast<size_t>(FCurProfile)];
  FillChoice(cmbSampleRate, p.SampleRates, p.SampleRate);
  FillChoice(cmbChannel, p.Channels, p.Channel);
  FillChoice(cmbAudioEncoder, p.AudioCodecs, p.AudioCodecName);
  FillChoice(cmbAudioBitRate, p.AudioBitRates, p.AudioBitRate);
  const int pos = cmbAudioBitRate->currentIndex();
  if (pos == 0)
    cmbQuality->setCurrentIndex(kQualityLow);
  else if (pos == cmbAudioBitRate->count() - 1)
    cmbQuality->setCurrentIndex(kQualityHigh);
  else
    cmbQuality->setCurrentIndex(kQualityStandard);
}

void TProfilePanel::StoreProfileChoices() {
  if (FList.RowCount() == 0 || !ValidProfile(FCurProfile)) return;
  FLastEditedProfile = FCurProfile;
  TProfile& p = FProfiles[static_cast<size_t>(FCurProfile)];
  struct TChoiceField {
    QComboBox* Choice;
    const QString& List;
    QString& Value;
  };
  const TChoiceField fields[] = {
      {cmbSampleRate, p.SampleRates, p.SampleRate},
      {cmbChannel, p.Channels, p.Channel},
      {cmbAudioEncoder, p.AudioCodecs, p.AudioCodecName},
      {cmbAudioBitRate, p.AudioBitRates, p.AudioBitRate},
  };
  for (const TChoiceField& f : fields) {
    if (!f.Choice->isEnabled()) continue;
    const QStringList values = SplitChoiceList(f.List, true);
    const int pos = f.Choice->currentIndex();
    if (pos < 0 || pos >= values.size()) {
      FReport.ReportError(tr("Error setting profile"), QStringLiteral("CLM_SettingProfile"));
      break;
    }
    f.Value = values.at(pos);
  }
  ReestimateAndRepaint();
}

void TProfilePanel::cmbQualityCloseUp() {
  switch (cmbQuality->currentIndex()) {
    case kQualityLow:
      cmbAudioBitRate->setCurrentIndex(cmbAudioBitRate->count() > 0 ? 0 : -1);
      break;
    case kQualityStandard:
      if (ValidProfile(FCurProfile)) {
        const TProfile& p = FProfiles[static_cast<size_t>(FCurProfile)];
        cmbAudioBitRate->setCurrentIndex(ChoiceValueIndex(p.AudioBitRates, p.StandardAudioBitRate));
      }
      break;
    case kQualityHigh:
      cmbAudioBitRate->setCurrentIndex(cmbAudioBitRate->count() - 1);
      break;
    default:
      break;
  }
  StoreProfileChoices();
}

void TProfilePanel::chApplyToAllClick() {
  if (!chApplyToAll->isChecked()) return;
  FList.Rows().SetProfileOfAll(FCurProfile);
}

void TProfilePanel::ReestimateAndRepaint() {
  FList.UpdateAllEstimatedSizes();
  FList.Repaint();
}

}  // namespace quorvel
