#include "app/shell/MenuShortcuts.h"

#include <QAction>

#include "app/shell/MainFormUi.h"

namespace quorvel {

std::vector<TMenuShortcut> MenuShortcuts(const TMainFormUi& AUi) {
  return {
      {AUi.actAddFiles, QKeySequence(Qt::CTRL | Qt::Key_O)},
      {AUi.actAddFolder, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
      {AUi.actStartConversion, QKeySequence(Qt::CTRL | Qt::Key_Return)},
      {AUi.actFileInformation, QKeySequence(Qt::CTRL | Qt::Key_I)},
      {AUi.actRemove, QKeySequence(Qt::Key_Delete)},
      {AUi.actTrimAudio, QKeySequence(Qt::CTRL | Qt::Key_T)},
      {AUi.actSelectAll, QKeySequence(Qt::CTRL | Qt::Key_A)},
      {AUi.actPlayPause, QKeySequence(Qt::Key_Space)},
      {AUi.actEventsLog, QKeySequence(Qt::CTRL | Qt::Key_L)},
  };
}

void AssignMenuShortcuts(const TMainFormUi& AUi) {
  for (const TMenuShortcut& s : MenuShortcuts(AUi)) {
    QList<QKeySequence> keys{s.Keys};
    // The keypad's Enter is the other Return key.
    if (s.Keys == QKeySequence(Qt::CTRL | Qt::Key_Return)) keys << QKeySequence(Qt::CTRL | Qt::Key_Enter);
    s.Action->setShortcuts(keys);
    // Only the window's own keys: a text field (the rename editor, the
    // output folder) keeps Delete, Space and Ctrl+A for its text, as Qt
    // lets a focused editor take them first.
    s.Action->setShortcutContext(Qt::WindowShortcut);
  }
}

}  // namespace quorvel
