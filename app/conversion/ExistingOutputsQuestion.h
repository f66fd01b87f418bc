// What the window does with outputs that stand in the output folder
// already (a user's own file, or an earlier run's): it asks once per batch
// ("N outputs already exist": Replace / Keep both / Skip existing), unless
// the user said "Don't ask again", and the answer is kept with the settings.
// Owner: the user-interface thread.
#pragma once

#include <QString>

#include <optional>

#include "media/batch/OutputPlanner.h"

class QWidget;

namespace quorvel {

class TExistingOutputsQuestion {
public:
  // The stored answer's text ("replace", "rename", "skip"), or none: ask.
  static std::optional<TEarlierOutputs> FromText(const QString& AText);
  static QString Text(TEarlierOutputs APolicy);

  // The stored answer (none: ask), as read from and written to the settings.
  std::optional<TEarlierOutputs> Stored() const { return FStored; }
  void SetStored(std::optional<TEarlierOutputs> APolicy) { FStored = APolicy; }

  // The policy for a batch whose plain names AExisting outputs hold already;
  // none when the user closed the question (nothing converts).
  std::optional<TEarlierOutputs> Ask(QWidget* AParent, int AExisting);

private:
  std::optional<TEarlierOutputs> FStored;
};

}  // namespace quorvel
