// The Qt application object with the program's catch-all: an exception that
// reaches the event dispatch is shown in a message box, and the event loop
// goes on.
#pragma once

#include <QApplication>

namespace quorvel {

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* AReceiver, QEvent* AEvent) override;
};

}  // namespace quorvel
