// Tools › "Simultaneous conversions": how many rows the conversion runs at
// once, 1 up to the number of cores (the default). The choice is the
// conversion's worker count; the window stores it with the settings.
#pragma once

#include <QObject>

#include <vector>

class QAction;
class QActionGroup;
class QMenu;

namespace quorvel {

class TBatchConversion;

class TSimultaneousChoice : public QObject {
  Q_OBJECT
public:
  // Adds the submenu to AToolsMenu with ACores items and chooses ACores.
  TSimultaneousChoice(QMenu& AToolsMenu, TBatchConversion& AConversion, int ACores);

  int Value() const;
  int Cores() const { return static_cast<int>(FActions.size()); }
  // A value outside 1 ... Cores() (a stored one from a larger machine)
  // takes the nearest.
  void SetValue(int AValue);
  QMenu* Menu() const { return FMenu; }
  QAction* Action(int AValue) const;

private:
  TBatchConversion& FConversion;
  QMenu* FMenu = nullptr;
  QActionGroup* FGroup = nullptr;
  std::vector<QAction*> FActions;  // item n is FActions[n - 1]
};

}  // namespace quorvel
