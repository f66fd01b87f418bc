// The profile choice and the five choices that show and edit the current
// profile (Quality, Sample, Bit rate, Channels, Codec), with "Apply to All".
// Owns the profile set and the indexes that follow the choice.
#pragma once

#include <QObject>

#include "profiles/Profile.h"

class QCheckBox;
class QComboBox;
class QWidget;

namespace quorvel {

class TCloseUpComboBox;
class TReportSink;
class TSourceList;

class TProfilePanel : public QObject {
  Q_OBJECT
public:
  // The controls are created as children of AParent; the window lays them out.
  TProfilePanel(TSourceList& AList, TReportSink& AReport, QWidget* AParent);

  TProfiles& Profiles() { return FProfiles; }
  const TProfiles& Profiles() const { return FProfiles; }
  int CurProfile() const { return FCurProfile; }
  int RecentProfile() const { return FRecentProfile; }
  void SetRecentProfile(int AValue) { FRecentProfile = AValue; }
  int LastEditedProfile() const { return FLastEditedProfile; }
  void SetLastEditedProfile(int AValue) { FLastEditedProfile = AValue; }
  bool AddedByDialog() const { return FAddedByDialog; }
  void SetAddedByDialog(bool AValue) { FAddedByDialog = AValue; }

  // Fills the profile choice with every title and selects RecentProfile.
  // A stored index outside the set selects the first profile; an empty set
  // leaves the choices empty.
  void FillProfileList();
  // Selecting by code raises the click handling, as the user's choice does.
  void SelectProfile(int AIndex);

  void cmbProfileClick();
  void FillProfileChoices();
  void StoreProfileChoices();
  void cmbQualityCloseUp();
  void chApplyToAllClick();

  QComboBox* cmbProfile = nullptr;
  QCheckBox* chApplyToAll = nullptr;
  TCloseUpComboBox* cmbQuality = nullptr;
  TCloseUpComboBox* cmbSampleRate = nullptr;
  TCloseUpComboBox* cmbAudioBitRate = nullptr;
  TCloseUpComboBox* cmbChannel = nullptr;
  TCloseUpComboBox* cmbAudioEncoder = nullptr;

private:
  bool ValidProfile(int AIndex) const { return AIndex >= 0 && AIndex < static_cast<int>(FProfiles.size()); }
  void ReestimateAndRepaint();

  TSourceList& FList;
  TReportSink& FReport;
  TProfiles FProfiles;
  int FCurProfile = 0;
  int FRecentProfile = 0;
  int FLastEditedProfile = -1;
  bool FAddedByDialog = false;
};

}  // namespace quorvel
