#include "app/shell/QtMainThreadHost.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quorvel {

QtMainThreadHost::QtMainThreadHost() { InstallMainThread(this); }

QtMainThreadHost::~QtMainThreadHost() { UninstallMainThread(); }

void QtMainThreadHost::WakeUp() {
  // Any thread: the invocation runs on this object's (the main) thread.
  QMetaObject::invokeMethod(this, [] { ProcessMainThreadCalls(); }, Qt::QueuedConnection);
}

void QtMainThreadHost::PumpEvents() { QCoreApplication::processEvents(); }

}  // namespace quorvel
