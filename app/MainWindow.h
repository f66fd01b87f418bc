// The main window. For now it proves the shell starts on the media runtime:
// it loads the task manager's library set and says how that went.
#pragma once

#include <QMainWindow>

#include <string>

class QLabel;

namespace quorvel {

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  bool MediaLoaded() const { return FMediaLoaded; }
  QString MediaStatusText() const;

private:
  QLabel* FStatus = nullptr;
  bool FMediaLoaded = false;
  std::string FLastErrMsg;
};

}  // namespace quorvel
