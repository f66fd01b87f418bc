#include "app/shell/DesktopNotifier.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <QWidget>

#include <cmath>

#include "app/conversion/BatchConversion.h"
#include "media/batch/Batch.h"

namespace quorvel {

namespace {

const char* const kNotifyService = "org.freedesktop.Notifications";
const char* const kNotifyPath = "/org/freedesktop/Notifications";
const char* const kNotifyInterface = "org.freedesktop.Notifications";
const char* const kLauncherInterface = "com.canonical.Unity.LauncherEntry";
// Any path of ours: the docks read the application from the first argument.
const char* const kLauncherPath = "/io/sabrivo/quorvel/LauncherEntry";

}  // namespace

const char* const TDesktopNotifier::kDesktopEntry = "quorvel.desktop";

TDesktopNotifier::TDesktopNotifier(QWidget& AWindow, QDBusConnection ABus)
    : QObject(&AWindow), FWindow(AWindow), FBus(std::move(ABus)) {
  if (FBus.isConnected())
    FBus.connect(QString(), kNotifyPath, kNotifyInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(ActionInvoked(uint, QString)));
}

void TDesktopNotifier::Follow(TBatchConversion& AConversion) {
  connect(&AConversion, &TBatchConversion::Progressed, this, &TDesktopNotifier::ShowProgress);
  connect(&AConversion, &TBatchConversion::Ended, this, &TDesktopNotifier::BatchEnded);
}

QString TDesktopNotifier::SummaryText(const TBatchOutcome& AOutcome) {
  QString text = tr("%1 converted").arg(AOutcome.Done);
  if (AOutcome.Skipped) text += tr(", %1 skipped").arg(AOutcome.Skipped);
  if (AOutcome.Failed) text += tr(", %1 failed").arg(AOutcome.Failed);
  if (AOutcome.Stopped) text += tr(", %1 stopped").arg(AOutcome.Stopped);
  return text;
}

void TDesktopNotifier::ShowProgress(double AFraction) {
  // A dock redraws on every signal: one a percent is enough.
  const int percent = static_cast<int>(std::lround(std::clamp(AFraction, 0.0, 1.0) * 100));
  if (percent == FShownPercent) return;
  FShownPercent = percent;
  SendLauncherEntry(true, percent / 100.0);
}

void TDesktopNotifier::BatchEnded(const TBatchOutcome& AOutcome, bool AStoppedByUser) {
  FShownPercent = -1;
  SendLauncherEntry(false, 0);
  // A batch the user stopped, or one ending before his eyes, needs no word.
  if (AStoppedByUser || WindowActive() || !FBus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyInterface, "Notify");
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvel"));
  call << QStringLiteral("Quorvel") << uint(0) << QStringLiteral("quorvel") << tr("Conversion finished")
       << SummaryText(AOutcome) << QStringList{QStringLiteral("default"), tr("Show Quorvel")} << hints
       << int(-1);
  // Without a service the answer is an error, which nobody waits for.
  auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* AWatcher) {
    const QDBusPendingReply<uint> reply = *AWatcher;
    if (!reply.isError()) FLastId = reply.value();
    AWatcher->deleteLater();
  });
}

void TDesktopNotifier::ActionInvoked(uint AId, const QString& AAction) {
  // Other programs' notifications raise this signal too.
  if (AId == 0 || AId != FLastId) return;
  if (AAction == QLatin1String("default")) BringWindowToFront();
}

bool TDesktopNotifier::WindowActive() const {
  for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
    if (w == &FWindow) return true;
  return false;
}

void TDesktopNotifier::SendLauncherEntry(bool AVisible, double AProgress) {
  if (!FBus.isConnected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kLauncherPath, kLauncherInterface, QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"), AProgress);
  properties.insert(QStringLiteral("progress-visible"), AVisible);
  signal << QStringLiteral("application://") + kDesktopEntry << properties;
  FBus.send(signal);
}

void TDesktopNotifier::BringWindowToFront() {
  FWindow.setWindowState(FWindow.windowState() & ~Qt::WindowMinimized);
  FWindow.show();
  FWindow.raise();
  FWindow.activateWindow();
}

}  // namespace quorvel
