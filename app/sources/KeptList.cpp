#include "app/sources/KeptList.h"

#include <QFileInfo>
#include <QSettings>

namespace quorvel {

namespace {

const char* const kEnabledKey = "keeplist";
const char* const kArray = "keptlist";

}  // namespace

bool TKeptList::Enabled(QSettings& AStore) { return AStore.value(kEnabledKey, true).toBool(); }

void TKeptList::SetEnabled(QSettings& AStore, bool AValue) { AStore.setValue(kEnabledKey, AValue); }

void TKeptList::Forget(QSettings& AStore) { AStore.remove(kArray); }

void TKeptList::Save(QSettings& AStore, const std::vector<TAudioFile>& ARows) {
  // A shorter list than last time must not leave the old tail behind.
  Forget(AStore);
  AStore.beginWriteArray(kArray, static_cast<int>(ARows.size()));
  for (size_t i = 0; i < ARows.size(); ++i) {
    const TAudioFile& f = ARows[i];
    AStore.setArrayIndex(static_cast<int>(i));
    AStore.setValue("source", f.Source);
    AStore.setValue("root", f.Root);
    AStore.setValue("title", f.DestinationTitle);
    AStore.setValue("start", static_cast<qlonglong>(f.TimeStart));
    AStore.setValue("end", static_cast<qlonglong>(f.TimeEnd));
    AStore.setValue("duration", static_cast<qlonglong>(f.Duration));
    AStore.setValue("profile", f.ProfileInd);
    AStore.setValue("rate", f.SourceAudio.SampleRate);
    AStore.setValue("channels", f.SourceAudio.Channels);
    AStore.setValue("bits", f.SourceAudio.Bits);
    AStore.setValue("pictures", f.HasPictures);
  }
  AStore.endArray();
}

std::vector<TAudioFile> TKeptList::Load(QSettings& AStore, QStringList& AVanished) {
  std::vector<TAudioFile> rows;
  const int count = AStore.beginReadArray(kArray);
  for (int i = 0; i < count; ++i) {
    AStore.setArrayIndex(i);
    TAudioFile f;
    f.Source = AStore.value("source").toString();
    if (f.Source.isEmpty()) continue;  // an edited store: nothing to find again
    if (!QFileInfo(f.Source).isFile()) {
      AVanished << f.Source;
      continue;
    }
    f.Root = AStore.value("root").toString();
    f.SourceTitleExt = QFileInfo(f.Source).fileName();
    f.DestinationTitle = AStore.value("title").toString();
    f.Duration = AStore.value("duration").toLongLong();
    f.TimeStart = std::max<qlonglong>(AStore.value("start").toLongLong(), 0);
    f.TimeEnd = AStore.value("end").toLongLong();
    // Trim points that make no part (an edited store) give the whole file.
    if (f.TimeEnd < f.TimeStart) {
      f.TimeStart = 0;
      f.TimeEnd = f.Duration;
    }
    f.ProfileInd = AStore.value("profile").toInt();
    f.SourceAudio.SampleRate = std::max(AStore.value("rate").toInt(), 0);
    f.SourceAudio.Channels = std::max(AStore.value("channels").toInt(), 0);
    f.SourceAudio.Bits = std::max(AStore.value("bits").toInt(), 0);
    f.HasPictures = AStore.value("pictures").toBool();  // false in lists kept before it was stored
    rows.push_back(std::move(f));
  }
  AStore.endArray();
  return rows;
}

}  // namespace quorvel
