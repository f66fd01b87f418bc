// The "Loudness" choice beside the volume: Off, "ReplayGain tags" (each
// output measured as it is written and tagged; the audio untouched) or
// "Normalise to" a target loudness (presets -14, -16, -18, -23 LUFS, or a
// typed value), and the album switch (the files of one source folder share
// their album figure, or their normalising gain). Normalising replaces the
// volume: the volume box is disabled then, and says why. The window stores
// the choice with its settings. Owner: the user-interface thread.
#pragma once

#include <QWidget>

#include "media/batch/Batch.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace quorvel {

// The choice as stored: the mode's index (0 off, 1 tags, 2 normalise),
// the target and the album switch.
struct TLoudnessSetting {
  int Mode = 0;
  double Target = -18;
  bool Album = false;
};

class TLoudnessChoice : public QWidget {
  Q_OBJECT
public:
  // AVolume is the volume box this choice replaces while normalising.
  TLoudnessChoice(QSpinBox& AVolume, QWidget* AParent);

  // What a batch started now gets.
  TBatchLoudness Value() const;
  TLoudnessSetting Setting() const;
  void SetSetting(const TLoudnessSetting& ASetting);

  QComboBox* Mode() const { return FMode; }
  QComboBox* Target() const { return FTarget; }
  QCheckBox* Album() const { return FAlbum; }
  QLabel* Note() const { return FNote; }

private:
  void Update();
  // The typed or chosen target (LUFS), within -70 ... 0.
  double TargetLufs() const;

  QSpinBox& FVolume;
  QString FVolumeToolTip;  // the volume box's own, back when not normalising
  QComboBox* FMode = nullptr;
  QComboBox* FTarget = nullptr;
  QLabel* FUnit = nullptr;
  QCheckBox* FAlbum = nullptr;
  QLabel* FNote = nullptr;  // shown while normalising: the volume is not used
};

}  // namespace quorvel
