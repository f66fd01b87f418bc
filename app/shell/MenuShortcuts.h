// The main window's keyboard shortcuts, set on the menu items so that each
// menu shows its key beside the command.
#pragma once

#include <QKeySequence>

#include <vector>

class QAction;

namespace quorvel {

struct TMainFormUi;

struct TMenuShortcut {
  QAction* Action;
  QKeySequence Keys;
};

// Every menu item with a key, in the order of the menus.
std::vector<TMenuShortcut> MenuShortcuts(const TMainFormUi& AUi);
// Sets each of MenuShortcuts on its item.
void AssignMenuShortcuts(const TMainFormUi& AUi);

}  // namespace quorvel
