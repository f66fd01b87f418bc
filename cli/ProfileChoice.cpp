#include "cli/ProfileChoice.h"

#include <QFile>

#include "profiles/Decryptor.h"
#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

std::string Std(const QString& AText) { return AText.toStdString(); }

// A choice list's values for a message; a sample rate or channel count of
// 0 is the source's own, typed as "original".
std::string ValuesText(const QString& AList) {
  QStringList values = SplitChoiceList(AList, true);
  for (QString& value : values)
    if (value.trimmed() == "0") value = QStringLiteral("original");
  return Std(values.join(", "));
}

// The profile value of AWhat (a choice value or a caption, or for a bit rate
// "<n>k"), or EUsage.
QString MatchChoice(const TProfile& AProfile, const QString& AList, const char* AOption, const std::string& AText,
                    bool AKilo) {
  const QString text = QString::fromStdString(AText).trimmed();
  const QStringList values = SplitChoiceList(AList, true), captions = SplitChoiceList(AList, false);
  if (values.isEmpty())
    throw EUsage(Format("%s: the profile \"%s\" offers no choice here", AOption, Std(AProfile.Title).c_str()));
  QString wanted = text;
  if (AKilo && text.endsWith(u'k', Qt::CaseInsensitive)) {
    bool ok = false;
    const int kilo = text.chopped(1).toInt(&ok);
    if (ok && kilo > 0 && kilo < 1000000) wanted = QString::number(kilo * 1000);
  }
  for (qsizetype i = 0; i < values.size(); ++i) {
    if (values[i].compare(wanted, Qt::CaseInsensitive) == 0) return values[i];
    if (i < captions.size() && captions[i].compare(text, Qt::CaseInsensitive) == 0) return values[i];
  }
  throw EUsage(Format("%s %s: the profile \"%s\" offers %s", AOption, AText.c_str(), Std(AProfile.Title).c_str(),
                      ValuesText(AList).c_str()));
}

// AOriginal: 0 is allowed and means the source's own value.
int ProfileNumber(const TProfile& AProfile, const QString& AValue, const char* AWhat, bool AOriginal = false) {
  bool ok = false;
  const int value = AValue.toInt(&ok, 10);
  if (!ok || value < 0 || (value == 0 && !AOriginal))
    throw EUsage(Format("profile \"%s\": %s \"%s\" is not a positive whole number", Std(AProfile.Title).c_str(), AWhat,
                        Std(AValue).c_str()));
  return value;
}

// A sample rate or channel count for the listing: 0 is the source's own.
std::string ValueText(const QString& AValue) { return AValue.trimmed() == "0" ? "original" : Std(AValue); }

std::string TitlesText(const TProfiles& AProfiles) {
  std::string text;
  for (const TProfile& p : AProfiles) text += "\n  " + Std(p.Title);
  return text;
}

}  // namespace

std::string ProfileSetPath(const std::string& AProgramFolder) {
  return AProgramFolder + "/mp3-converter-profiles/formats.dat";
}

TProfiles LoadProfileSet(const std::string& APath) {
  TProfiles profiles;
  try {
    ParseProfiles(LoadProfileFile(QString::fromStdString(APath)), profiles);
  } catch (const std::exception& e) {
    throw Exception(Format("cannot read the profile set %s: %s", APath.c_str(), e.what()));
  }
  if (profiles.empty()) throw Exception(Format("the profile set %s holds no profile", APath.c_str()));
  return profiles;
}

const TProfile& FindProfile(const TProfiles& AProfiles, const std::string& AName) {
  if (AProfiles.empty()) throw EUsage("the profile set holds no profile");
  if (AName.empty()) return AProfiles.front();
  const QString name = QString::fromStdString(AName).trimmed();
  QString ext = name;
  if (!ext.startsWith(u'.')) ext.prepend(u'.');
  using TTest = bool (*)(const TProfile&, const QString&, const QString&);
  const TTest tests[] = {
      [](const TProfile& p, const QString& n, const QString&) { return p.Title.compare(n, Qt::CaseInsensitive) == 0; },
      [](const TProfile& p, const QString& n, const QString&) { return p.Title.startsWith(n, Qt::CaseInsensitive); },
      [](const TProfile& p, const QString&, const QString& e) { return p.FormatExt.compare(e, Qt::CaseInsensitive) == 0; },
  };
  for (const TTest test : tests) {
    const TProfile* found = nullptr;
    int count = 0;
    for (const TProfile& p : AProfiles)
      if (test(p, name, ext)) {
        found = found ? found : &p;
        ++count;
      }
    if (count == 1) return *found;
    if (count > 1) {
      std::string matches;
      for (const TProfile& p : AProfiles)
        if (test(p, name, ext)) matches += "\n  " + Std(p.Title);
      throw EUsage(Format("--profile %s matches more than one profile:%s", AName.c_str(), matches.c_str()));
    }
  }
  throw EUsage(Format("--profile %s: no such profile; the profiles are:%s", AName.c_str(), TitlesText(AProfiles).c_str()));
}

TConversionSettings ResolveSettings(const TProfile& AProfile, const TCliOptions& AOptions) {
  TConversionSettings s;
  s.Title = Std(AProfile.Title);
  s.Ext = Std(AProfile.FormatExt);
  const QString codec =
      AOptions.Codec ? MatchChoice(AProfile, AProfile.AudioCodecs, "--codec", *AOptions.Codec, false) : AProfile.AudioCodecName;
  const QString bitrate = AOptions.Bitrate
                              ? MatchChoice(AProfile, AProfile.AudioBitRates, "--bitrate", *AOptions.Bitrate, true)
                              : AProfile.AudioBitRate;
  const QString rate = AOptions.SampleRate
                           ? MatchChoice(AProfile, AProfile.SampleRates, "--samplerate", *AOptions.SampleRate, false)
                           : AProfile.SampleRate;
  const QString channels = AOptions.Channels
                               ? MatchChoice(AProfile, AProfile.Channels, "--channels", *AOptions.Channels, false)
                               : AProfile.Channel;
  s.Codec = Std(codec);
  s.Bitrate = ProfileNumber(AProfile, bitrate, "bit rate");
  s.SampleRate = ProfileNumber(AProfile, rate, "sample rate", true);
  s.Channels = ProfileNumber(AProfile, channels, "channel count", true);
  s.Format = Std(ProfileContainer(AProfile));
  return s;
}

std::string ProfileListText(const TProfiles& AProfiles) {
  std::string text;
  for (size_t i = 0; i < AProfiles.size(); ++i) {
    const TProfile& p = AProfiles[i];
    text += Format("%s%s\n", Std(p.Title).c_str(), i == 0 ? "  (default)" : "");
    text += Format("    extension %s, codec %s, %s bit/s, sample rate %s, channels %s\n", Std(p.FormatExt).c_str(),
                   Std(p.AudioCodecName).c_str(), Std(p.AudioBitRate).c_str(), ValueText(p.SampleRate).c_str(),
                   ValueText(p.Channel).c_str());
    text += Format("    codecs: %s\n    bit rates: %s\n    sample rates: %s\n    channels: %s\n",
                   ValuesText(p.AudioCodecs).c_str(), ValuesText(p.AudioBitRates).c_str(),
                   ValuesText(p.SampleRates).c_str(), ValuesText(p.Channels).c_str());
  }
  return text;
}

}  // namespace quorvel::cli
