// A terminal's Ctrl-C, a kill or the end of the session (SIGINT, SIGTERM,
// SIGHUP) closes the main window as its close button does, so the settings
// are written instead of lost with the process.
//
// The signal handler only writes a byte to a socket pair; the window is
// closed from the event loop. One instance at a time (signals are the
// process's); it restores the previous handlers when it goes.
#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;
class QWidget;

namespace quorvel {

class TQuitSignals : public QObject {
  Q_OBJECT
public:
  explicit TQuitSignals(QWidget& AWindow);
  ~TQuitSignals() override;

private:
  QWidget& FWindow;
  int FFds[2] = {-1, -1};
  QSocketNotifier* FNotifier = nullptr;
  struct sigaction FOld[3] {};
};

}  // namespace quorvel
