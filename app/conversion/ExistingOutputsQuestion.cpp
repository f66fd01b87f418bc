#include "app/conversion/ExistingOutputsQuestion.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace quorvel {

std::optional<TEarlierOutputs> TExistingOutputsQuestion::FromText(const QString& AText) {
  if (AText == "replace") return TEarlierOutputs::Replace;
  if (AText == "rename") return TEarlierOutputs::Keep;
  if (AText == "skip") return TEarlierOutputs::SkipNewer;
  return std::nullopt;
}

QString TExistingOutputsQuestion::Text(TEarlierOutputs APolicy) {
  switch (APolicy) {
    case TEarlierOutputs::Replace: return QStringLiteral("replace");
    case TEarlierOutputs::Keep: return QStringLiteral("rename");
    case TEarlierOutputs::SkipNewer: return QStringLiteral("skip");
  }
  return {};
}

std::optional<TEarlierOutputs> TExistingOutputsQuestion::Ask(QWidget* AParent, int AExisting) {
  // Nothing stands in the way: nothing to ask, and nothing is replaced.
  if (AExisting <= 0) return FStored.value_or(TEarlierOutputs::Replace);
  if (FStored) return FStored;
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  AExisting == 1 ? QObject::tr("1 output already exists.")
                                 : QObject::tr("%1 outputs already exist.").arg(AExisting),
                  QMessageBox::NoButton, AParent);
  box.setObjectName("ExistingOutputsQuestion");
  box.setInformativeText(QObject::tr("Replace them, keep both (the new output gets a free name such as "
                                     "\"NAME (2)\"), or skip the files whose output is newer than the source?"));
  QPushButton* replace = box.addButton(QObject::tr("Replace"), QMessageBox::DestructiveRole);
  QPushButton* keep = box.addButton(QObject::tr("Keep both"), QMessageBox::AcceptRole);
  QPushButton* skip = box.addButton(QObject::tr("Skip existing"), QMessageBox::AcceptRole);
  box.addButton(QMessageBox::Cancel);
  replace->setObjectName("btnReplace");
  keep->setObjectName("btnKeepBoth");
  skip->setObjectName("btnSkipExisting");
  box.setDefaultButton(keep);
  auto* again = new QCheckBox(QObject::tr("Don't ask again"), &box);
  again->setObjectName("chDontAskAgain");
  box.setCheckBox(again);
  box.exec();
  std::optional<TEarlierOutputs> policy;
  if (box.clickedButton() == replace) policy = TEarlierOutputs::Replace;
  if (box.clickedButton() == keep) policy = TEarlierOutputs::Keep;
  if (box.clickedButton() == skip) policy = TEarlierOutputs::SkipNewer;
  if (policy && again->isChecked()) FStored = policy;
  return policy;
}

}  // namespace quorvel
