// The conversion dialog: the current file's bar and the whole batch's bar,
// the title naming the file being converted, Pause/Resume and Cancel, and
// what to do when the batch is done. The main window drives it.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace quorvel {

class TConvForm : public QDialog {
  Q_OBJECT
public:
  explicit TConvForm(QWidget* AParent = nullptr);

  QLabel* lblConvertingTitle = nullptr;
  QProgressBar* ProgressCurrent = nullptr;
  QProgressBar* ProgressTotal = nullptr;
  QCheckBox* cbOpenOutput = nullptr;
  QCheckBox* cbShutdownPC = nullptr;
  QPushButton* PauseButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // The title, cut with an ellipsis when it does not fit.
  void SetTitle(const QString& AText);
  const QString& Title() const { return FTitle; }

protected:
  void showEvent(QShowEvent* AEvent) override;
  // Escape must not close the dialog behind the batch's back; Cancel does.
  void reject() override {}
  void resizeEvent(QResizeEvent* AEvent) override;

private:
  QString FTitle;
};

}  // namespace quorvel
