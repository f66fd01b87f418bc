#include "profiles/Profile.h"

#include <QRegularExpression>

#include <clocale>

#include "media/runtime/Exception.h"

namespace quorvel {

namespace {

// Spaces and control characters at both ends go, as the file's writers may
// indent and may leave stray control bytes.
QString TrimLine(const QString& ALine) {
  qsizetype begin = 0;
  qsizetype end = ALine.size();
  while (begin < end && ALine.at(begin).unicode() <= 0x20) ++begin;
  while (end > begin && ALine.at(end - 1).unicode() <= 0x20) --end;
  return ALine.mid(begin, end - begin);
}

QString* ProfileField(TProfile& P, const QString& AKey) {
  struct TKeyField {
    const char16_t* Key;
    QString TProfile::*Field;
  };
  static const TKeyField kFields[] = {
      {u"profilename", &TProfile::Title},           {u"formatext", &TProfile::FormatExt},
      {u"description", &TProfile::Description},     {u"audiobitrate", &TProfile::AudioBitRate},
      {u"samplerate", &TProfile::SampleRate},       {u"channel", &TProfile::Channel},
      {u"audiocodecname", &TProfile::AudioCodecName}, {u"samplerates", &TProfile::SampleRates},
      {u"channels", &TProfile::Channels},           {u"audiocodecs", &TProfile::AudioCodecs},
      {u"audiobitrates", &TProfile::AudioBitRates}, {u"extraparam", &TProfile::ExtraParam},
  };
  for (const TKeyField& f : kFields)
    if (AKey == QStringView(f.Key)) return &(P.*f.Field);
  return nullptr;
}

}  // namespace

void ParseProfileLine(const QString& ALine, QString& AKey, QString& AValue) {
  AKey.clear();
  AValue.clear();
  const qsizetype lt = ALine.indexOf(u'<');
  if (lt >= 0) {
    const qsizetype space = ALine.indexOf(u' ', lt + 1);
    if (space >= 0) AKey = ALine.mid(lt + 1, space - lt - 1);
  }
  const qsizetype q1 = ALine.indexOf(u'"');
  if (q1 >= 0) {
    const qsizetype q2 = ALine.indexOf(u'"', q1 + 1);
    if (q2 >= 0) AValue = ALine.mid(q1 + 1, q2 - q1 - 1);
  }
}

void ParseProfiles(const QStringList& ALines, TProfiles& AProfiles) {
  const size_t first = AProfiles.size();
  TProfile* current = nullptr;
  for (const QString& raw : ALines) {
    const QString line = TrimLine(raw);
    if (line == u"<Profile>") {
      AProfiles.emplace_back();
      current = &AProfiles.back();
      continue;
    }
    if (line == u"</ProfileSet>") break;
    QString key, value;
    ParseProfileLine(line, key, value);
    // From the first key line on, numbers are written and read with a
    // point, whatever the user's locale says: the media libraries' option
    // texts need it.
    if (!key.isEmpty()) std::setlocale(LC_NUMERIC, "C");
    key = key.toLower();
    TProfile scratch;
    if (!ProfileField(scratch, key)) continue;
    if (!current)
      throw Exception(QStringLiteral("Profile key \"%1\" before the first <Profile>").arg(key).toStdString());
    *ProfileField(*current, key) = value;
  }
  for (size_t i = first; i < AProfiles.size(); ++i) AProfiles[i].StandardAudioBitRate = AProfiles[i].AudioBitRate;
}

QStringList SplitChoiceList(const QString& AList, bool AValues) {
  QStringList values, captions;
  QString acc;
  for (const QChar c : AList) {
    if (c == u'$') {
      values << acc;
      acc.clear();
    } else if (c == u',') {
      captions << acc;
      acc.clear();
    } else {
      acc += c;
    }
  }
  // The tail is a caption; an empty tail only when a value is waiting for
  // it, so that an empty list gives no items and a trailing comma no blank one.
  if (!acc.isEmpty() || values.size() > captions.size()) captions << acc;
  return AValues ? values : captions;
}

int ChoiceValueIndex(const QString& AList, const QString& AValue) {
  const QStringList values = SplitChoiceList(AList, true);
  for (int i = 0; i < values.size(); ++i)
    if (values.at(i).compare(AValue, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

QString ProfileContainer(const TProfile& AProfile) {
  for (const QString& param : AProfile.ExtraParam.split(QRegularExpression("[\\s;,]+"), Qt::SkipEmptyParts))
    if (param.startsWith("format=", Qt::CaseInsensitive)) return param.mid(7).trimmed();
  return {};
}

double ProfileOutputBitRate(const TProfile& AProfile, const TSourceAudio& ASource) {
  bool ok = false;
  const double profileRate = AProfile.AudioBitRate.trimmed().toDouble(&ok);
  if (!ok) return -1;
  const QString codec = AProfile.AudioCodecName.trimmed().toLower();
  const bool pcm = codec.startsWith("pcm_") || codec == "original";
  if (!pcm && codec != "flac" && codec != "alac") return profileRate;
  const auto chosen = [](const QString& AValue, int ASource, int AUnknown) {
    bool valid = false;
    const int value = AValue.trimmed().toInt(&valid);
    if (valid && value > 0) return value;
    return ASource > 0 ? ASource : AUnknown;
  };
  const int rate = chosen(AProfile.SampleRate, ASource.SampleRate, 44100);
  const int channels = chosen(AProfile.Channel, ASource.Channels, 2);
  // The depth the output keeps: 16 or 24 bits as the source has, unless the
  // codec names one.
  int bits = ASource.Bits > 16 ? 24 : 16;
  if (codec.startsWith("pcm_s24")) bits = 24;
  if (codec.startsWith("pcm_s16")) bits = 16;
  const double output = static_cast<double>(rate) * channels * bits;
  return pcm ? output : profileRate * output / (44100.0 * 2 * 16);
}

}  // namespace quorvel
