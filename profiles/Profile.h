// Conversion profiles: one output format with the codecs, bit rates, sample
// rates and channel counts it offers and the one of each currently chosen.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace quorvel {

struct TProfile {
  QString Title;
  QString FormatExt;  // with its leading dot
  QString Description;
  QString AudioBitRates;  // choice lists: "value$caption,value$caption"
  QString SampleRates;
  QString Channels;
  QString AudioCodecs;
  QString AudioCodecName;  // the chosen values
  QString SampleRate;
  QString AudioBitRate;
  QString StandardAudioBitRate;  // AudioBitRate as the file gave it: Quality "Standard"
  QString Channel;
  QString ExtraParam;
};

using TProfiles = std::vector<TProfile>;

// Key and value of a key line: the key runs from after the first "<" to the
// first space after it, the value between the first two double quotes. Both
// stay empty when the line has no such part.
void ParseProfileLine(const QString& ALine, QString& AKey, QString& AValue);

// Parses the profile set's lines into AProfiles (appended). Throws Exception
// for a known key before the first "<Profile>"; the profiles read up to
// there stay in AProfiles.
void ParseProfiles(const QStringList& ALines, TProfiles& AProfiles);

// The values (AValues true) or the captions of a choice list.
QStringList SplitChoiceList(const QString& AList, bool AValues);

// The container the profile names among its extra parameters ("format=NAME"),
// for an extension the media libraries do not know (".m4r"); empty when none.
QString ProfileContainer(const TProfile& AProfile);

// A source's own audio values: what a profile's "Original" choices (sample
// rate or channels 0, codec "original") stand for. 0: unknown.
struct TSourceAudio {
  int SampleRate = 0;
  int Channels = 0;
  int Bits = 0;  // once decoded
};

// The bit rate (bit/s) of the profile's output for a source, for the size
// estimate: uncompressed PCM is exact (rate x channels x depth of the
// output); another lossless codec scales the profile's figure, which is for
// 16-bit stereo at 44.1 kHz, to the output's values; a lossy codec takes the
// profile's bit rate. Unknown source values count as 16-bit stereo at
// 44.1 kHz. -1 when the profile's numbers are unusable.
double ProfileOutputBitRate(const TProfile& AProfile, const TSourceAudio& ASource);

// Position of AValue among the values of AList, letter case ignored; -1 when absent.
int ChoiceValueIndex(const QString& AList, const QString& AValue);

}  // namespace quorvel
