// The trim, conversion and file information dialogs. They are created with
// the other windows so that start-up keeps its order; their controls and
// behaviour come with the trim dialog, the conversion and the file
// information work (SEAMS: nothing opens them yet).
#pragma once

#include <QDialog>

namespace quorvel {

class TClipForm : public QDialog {
  Q_OBJECT
public:
  explicit TClipForm(QWidget* AParent = nullptr);
};

class TConvForm : public QDialog {
  Q_OBJECT
public:
  explicit TConvForm(QWidget* AParent = nullptr);
};

class TFileInfoForm : public QDialog {
  Q_OBJECT
public:
  explicit TFileInfoForm(QWidget* AParent = nullptr);
};

}  // namespace quorvel
