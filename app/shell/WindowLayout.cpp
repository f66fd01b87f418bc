#include "app/shell/WindowLayout.h"

#include <QSettings>
#include <QStringList>
#include <QTableWidget>
#include <QWidget>

namespace quorvel {

namespace {

const char* const kGeometryKey = "windowgeometry";
const char* const kColumnsKey = "listcolumnwidths";

// A column narrower than this cannot be found again to widen it; wider
// than this it is an edited value, not a drag.
constexpr int kNarrowestColumn = 16;
constexpr int kWidestColumn = 4000;

}  // namespace

void TWindowLayout::Save(QSettings& AStore, const QWidget& AWindow, const QTableWidget& AGrid) {
  AStore.setValue(kGeometryKey, AWindow.saveGeometry());
  QStringList widths;
  for (int c = 0; c < AGrid.columnCount(); ++c) widths << QString::number(AGrid.columnWidth(c));
  AStore.setValue(kColumnsKey, widths.join(u','));
}

void TWindowLayout::Restore(QSettings& AStore, QWidget& AWindow, QTableWidget& AGrid) {
  if (AStore.contains(kGeometryKey)) AWindow.restoreGeometry(AStore.value(kGeometryKey).toByteArray());
  if (!AStore.contains(kColumnsKey)) return;
  // Stored by a version with fewer columns: the new ones keep their width.
  const QStringList widths = AStore.value(kColumnsKey).toString().split(u',');
  for (int c = 0; c < widths.size() && c < AGrid.columnCount(); ++c) {
    bool ok = false;
    const int w = widths.at(c).trimmed().toInt(&ok);
    if (ok && w >= kNarrowestColumn && w <= kWidestColumn) AGrid.setColumnWidth(c, w);
  }
}

}  // namespace quorvel
