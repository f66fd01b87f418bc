// The user's settings: the output folder, the open dialog's folder, the last
// chosen profile, the last edited profile's values and how many conversions
// run at once. Kept with QSettings
// under "Sabrivo" / "Quorvel".
#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace quorvel {

struct TProfile;

// The settings store, opened for reading and writing.
std::unique_ptr<QSettings> OpenSettings();

// The values found in the store; absent values stay empty.
struct TStoredSettings {
  std::optional<QString> OutputPath;
  std::optional<QString> OpenAudioDialogPath;
  std::optional<int> RecentProfile;
  std::optional<int> LastEditedProfile;
  std::optional<bool> VerifyLossless;
  std::optional<int> SimultaneousConversions;
  // The loudness choice: mode (0 off, 1 tags, 2 normalise), target LUFS, albums.
  std::optional<int> LoudnessMode;
  std::optional<double> LoudnessTarget;
  std::optional<bool> LoudnessAlbum;
  // What to do with outputs that exist already ("replace", "rename",
  // "skip"); absent: ask.
  std::optional<QString> ExistingOutputs;
  // The "File names" pattern of the outputs ("" or absent: named after
  // their rows in the output folder itself).
  std::optional<QString> NamePattern;
};

TStoredSettings ReadSettings(QSettings& AStore);

struct TSettingsToWrite {
  QString OutputPath;
  std::optional<QString> OpenAudioDialogPath;  // only when the dialog returned files this run
  int RecentProfile = 0;
  int LastEditedProfile = -1;
  const TProfile* LastEdited = nullptr;  // the profile LastEditedProfile names, when valid
  bool VerifyLossless = false;
  std::optional<int> SimultaneousConversions;
  int LoudnessMode = 0;
  double LoudnessTarget = -18;
  bool LoudnessAlbum = false;
  std::optional<QString> ExistingOutputs;  // none: ask (the entry goes)
  QString NamePattern;
};

// Writes and flushes; false when the store could not be written.
bool WriteSettings(QSettings& AStore, const TSettingsToWrite& AValues);

}  // namespace quorvel
