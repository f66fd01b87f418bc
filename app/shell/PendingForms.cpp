#include "app/shell/PendingForms.h"

namespace quorvel {

TClipForm::TClipForm(QWidget* AParent) : QDialog(AParent) {
  setObjectName("ClipForm");
  setWindowTitle(tr("Trim"));
}

}  // namespace quorvel
