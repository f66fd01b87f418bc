#include "app/PendingForms.h"

namespace quorvel {

TClipForm::TClipForm(QWidget* AParent) : QDialog(AParent) {
  setObjectName("ClipForm");
  setWindowTitle(tr("Trim"));
}

TConvForm::TConvForm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("ConvForm");
  setWindowTitle(tr("Conversion"));
}

TFileInfoForm::TFileInfoForm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("FileInfoForm");
  setWindowTitle(tr("File Information"));
}

}  // namespace quorvel
