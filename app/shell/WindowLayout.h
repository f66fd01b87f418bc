// The shape the user gave the main window: its place, size and maximised
// state, and the widths of the list's columns. Kept with the settings and
// given back at the next start, so a window widened for long names stays so.
#pragma once

class QSettings;
class QTableWidget;
class QWidget;

namespace quorvel {

class TWindowLayout {
public:
  // Writes AWindow's geometry and AGrid's column widths into AStore (not
  // synced: the caller writes the other settings with them).
  static void Save(QSettings& AStore, const QWidget& AWindow, const QTableWidget& AGrid);
  // Gives AWindow and AGrid what Save wrote; what is absent or unusable
  // (a width of 0 or a screen's worth, an edited geometry) leaves them as
  // they are.
  static void Restore(QSettings& AStore, QWidget& AWindow, QTableWidget& AGrid);
};

}  // namespace quorvel
