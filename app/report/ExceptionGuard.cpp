#include "app/report/ExceptionGuard.h"

#include <QApplication>
#include <QMessageBox>

namespace quorvel {

void ShowExceptionMessage(const QString& AMessage) {
  QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationName(), AMessage);
}

}  // namespace quorvel
