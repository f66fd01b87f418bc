// The trim dialog, created with the other windows so that start-up keeps its
// order; its controls and behaviour come with the trim work (SEAM: nothing
// opens it yet).
#pragma once

#include <QDialog>

namespace quorvel {

class TClipForm : public QDialog {
  Q_OBJECT
public:
  explicit TClipForm(QWidget* AParent = nullptr);
};

}  // namespace quorvel
