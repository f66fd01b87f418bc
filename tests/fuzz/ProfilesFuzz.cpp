// The profile set reader: the packed file (complemented bytes, any of the
// byte-order marks) through to the profiles and their choice lists.
#include <QString>

#include <algorithm>

#include "media/runtime/Exception.h"
#include "profiles/Decryptor.h"
#include "profiles/Profile.h"
#include "tests/fuzz/FuzzFile.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static const QString path = QString::fromStdString(fuzz::ScratchFolder() + "/formats.dat");
  fuzz::WriteFile(path.toStdString(), AData, ASize);
  QStringList lines;
  try {
    lines = LoadProfileFile(path);
  } catch (const std::exception&) {
    return 0;
  }
  // The plain text too: a reader of the complemented file sees the other
  // half of the byte values.
  lines += BytesToLines(QByteArray(reinterpret_cast<const char*>(AData), static_cast<int>(ASize)));
  TProfiles profiles;
  try {
    ParseProfiles(lines, profiles);
  } catch (const Exception&) {
    // A key before the first profile: refused; the profiles before it stay.
  }
  for (const TProfile& p : profiles) {
    for (const QString* list : {&p.AudioBitRates, &p.SampleRates, &p.Channels, &p.AudioCodecs}) {
      const QStringList values = SplitChoiceList(*list, true);
      SplitChoiceList(*list, false);
      // A few look-ups: each splits the list again, and all of a long
      // list's would spend the run in the harness.
      for (qsizetype i = 0; i < std::min<qsizetype>(values.size(), 4); ++i) ChoiceValueIndex(*list, values[i]);
    }
    ProfileContainer(p);
    ProfileOutputBitRate(p, TSourceAudio{});
    ProfileOutputBitRate(p, TSourceAudio{96000, 6, 24});
  }
  return 0;
}
