#include "app/shell/Settings.h"

#include <QSettings>

#include "profiles/Profile.h"

namespace quorvel {

namespace {

std::optional<QString> ReadText(QSettings& AStore, const char* AName) {
  if (!AStore.contains(AName)) return std::nullopt;
  return AStore.value(AName).toString();
}

std::optional<int> ReadInt(QSettings& AStore, const char* AName) {
  if (!AStore.contains(AName)) return std::nullopt;
  bool ok = false;
  const int v = AStore.value(AName).toInt(&ok);
  // A value edited into something that is not a number counts as absent.
  if (!ok) return std::nullopt;
  return v;
}

}  // namespace

std::unique_ptr<QSettings> OpenSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Sabrivo", "Quorvel");
}

TStoredSettings ReadSettings(QSettings& AStore) {
  TStoredSettings s;
  s.OutputPath = ReadText(AStore, "OutputPath");
  s.OpenAudioDialogPath = ReadText(AStore, "OpenAudioDialogPath");
  s.RecentProfile = ReadInt(AStore, "recentprofileind");
  s.LastEditedProfile = ReadInt(AStore, "lasteditedprofileind");
  if (AStore.contains("verifylossless")) s.VerifyLossless = AStore.value("verifylossless").toBool();
  s.SimultaneousConversions = ReadInt(AStore, "simultaneousconversions");
  s.LoudnessMode = ReadInt(AStore, "loudnessmode");
  if (AStore.contains("loudnesstarget")) {
    bool ok = false;
    const double target = AStore.value("loudnesstarget").toDouble(&ok);
    if (ok) s.LoudnessTarget = target;
  }
  if (AStore.contains("loudnessalbum")) s.LoudnessAlbum = AStore.value("loudnessalbum").toBool();
  if (AStore.contains("existingoutputs")) s.ExistingOutputs = AStore.value("existingoutputs").toString();
  if (AStore.contains("namepattern")) s.NamePattern = AStore.value("namepattern").toString();
  // "audiocodecname", "audiobitrate", "samplerate" and "channels" are kept
  // for the record only: the profile set's own values apply at start.
  return s;
}

bool WriteSettings(QSettings& AStore, const TSettingsToWrite& AValues) {
  if (!AStore.isWritable()) return false;
  AStore.setValue("OutputPath", AValues.OutputPath);
  if (AValues.OpenAudioDialogPath) AStore.setValue("OpenAudioDialogPath", *AValues.OpenAudioDialogPath);
  AStore.setValue("recentprofileind", AValues.RecentProfile);
  AStore.setValue("verifylossless", AValues.VerifyLossless);
  if (AValues.LastEditedProfile >= 0 && AValues.LastEdited) {
    AStore.setValue("lasteditedprofileind", AValues.LastEditedProfile);
    AStore.setValue("audiocodecname", AValues.LastEdited->AudioCodecName);
    AStore.setValue("audiobitrate", AValues.LastEdited->AudioBitRate);
    AStore.setValue("samplerate", AValues.LastEdited->SampleRate);
    AStore.setValue("channels", AValues.LastEdited->Channel);
  }
  if (AValues.SimultaneousConversions) AStore.setValue("simultaneousconversions", *AValues.SimultaneousConversions);
  AStore.setValue("loudnessmode", AValues.LoudnessMode);
  AStore.setValue("loudnesstarget", AValues.LoudnessTarget);
  AStore.setValue("loudnessalbum", AValues.LoudnessAlbum);
  if (AValues.ExistingOutputs)
    AStore.setValue("existingoutputs", *AValues.ExistingOutputs);
  else
    AStore.remove("existingoutputs");
  AStore.setValue("namepattern", AValues.NamePattern);
  AStore.sync();
  return AStore.status() == QSettings::NoError;
}

}  // namespace quorvel
