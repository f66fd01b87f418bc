// The source list kept between sessions: at close each row's file, the
// folder it was added from, its trim points, its profile and its output
// title go into the settings store, and come back at the next start. What
// the probe found (length, rate, channels, depth) is kept with them, so a
// long list comes back without opening every file again.
//
// Owner: the user-interface thread (the main window at start and close).
#pragma once

#include <QStringList>

#include <vector>

#include "app/sources/SourceRows.h"

class QSettings;

namespace quorvel {

class TKeptList {
public:
  // The setting "keep the list" (on when never set).
  static bool Enabled(QSettings& AStore);
  static void SetEnabled(QSettings& AStore, bool AValue);

  // Replaces what was kept with ARows (not synced: written with the other
  // settings).
  static void Save(QSettings& AStore, const std::vector<TAudioFile>& ARows);
  // Forgets the kept rows.
  static void Forget(QSettings& AStore);
  // The kept rows whose file is still there, in their order; the files
  // that are gone are named in AVanished. A row's profile index is kept as
  // stored: the caller checks it against its profile set.
  static std::vector<TAudioFile> Load(QSettings& AStore, QStringList& AVanished);
};

}  // namespace quorvel
