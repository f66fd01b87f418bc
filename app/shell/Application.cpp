#include "app/shell/Application.h"

#include "app/report/ExceptionGuard.h"

namespace quorvel {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QStringLiteral("Sabrivo"));
  setApplicationName(QStringLiteral("Quorvel"));
}

bool TApplication::notify(QObject* AReceiver, QEvent* AEvent) {
  bool handled = false;
  RunGuarded([&] { handled = QApplication::notify(AReceiver, AEvent); });
  return handled;
}

}  // namespace quorvel
