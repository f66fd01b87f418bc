// The error dialog: says what failed and offers to send the error report.
#pragma once

#include <QDialog>

class QLabel;

namespace quorvel {

class TErrorForm : public QDialog {
  Q_OBJECT
public:
  enum TResult { mrSend = 1, mrCancel = 2 };

  explicit TErrorForm(QWidget* AParent = nullptr);
  // Shows AErrorText modally; mrSend or mrCancel.
  int Execute(const QString& AErrorText);

  QLabel* lblErrorText = nullptr;
};

}  // namespace quorvel
