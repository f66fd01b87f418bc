#include "app/conversion/SimultaneousChoice.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <algorithm>

#include "app/conversion/BatchConversion.h"

namespace quorvel {

TSimultaneousChoice::TSimultaneousChoice(QMenu& AToolsMenu, TBatchConversion& AConversion, int ACores)
    : QObject(&AToolsMenu), FConversion(AConversion) {
  FMenu = AToolsMenu.addMenu(tr("Simultaneous conversions"));
  FMenu->setObjectName("mnuSimultaneous");
  FGroup = new QActionGroup(this);
  FGroup->setExclusive(true);
  for (int n = 1; n <= std::max(ACores, 1); ++n) {
    QAction* a = FMenu->addAction(QString::number(n));
    a->setCheckable(true);
    FGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, n](bool) { SetValue(n); });
    FActions.push_back(a);
  }
  SetValue(Cores());
}

int TSimultaneousChoice::Value() const { return FConversion.WorkerCount(); }

void TSimultaneousChoice::SetValue(int AValue) {
  const int value = std::clamp(AValue, 1, Cores());
  FConversion.SetWorkerCount(value);
  FActions[static_cast<size_t>(value - 1)]->setChecked(true);
}

QAction* TSimultaneousChoice::Action(int AValue) const {
  if (AValue < 1 || AValue > Cores()) return nullptr;
  return FActions[static_cast<size_t>(AValue - 1)];
}

}  // namespace quorvel
