#include "app/shell/PowerService.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

#include <sys/utsname.h>

namespace quorvel {

QString TPowerService::VersionText() {
  utsname u{};
  if (uname(&u) != 0) return {};
  return QString::fromLocal8Bit(u.sysname) + " Version " + QString::fromLocal8Bit(u.release) + "\r\n (Build " +
         QString::fromLocal8Bit(u.version) + ": )";
}

bool TPowerService::PowerOff(QString& AError) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    AError = QStringLiteral("OpenProcessToken() Failed");
    return false;
  }
  QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                         QStringLiteral("org.freedesktop.login1.Manager"), bus);
  if (!manager.isValid()) {
    AError = QStringLiteral("LookupPrivilegeValue() Failed");
    return false;
  }
  // Not interactive: there is nobody to ask for a password once the batch
  // has finished unattended.
  const QDBusMessage reply = manager.call(QStringLiteral("PowerOff"), false);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    AError = QStringLiteral("AdjustTokenPrivileges() Failed");
    return false;
  }
  return true;
}

}  // namespace quorvel
