// Telling the desktop about a batch: a notification at its end when the user
// is in another program (org.freedesktop.Notifications; its action brings
// the window to the front), and the batch's progress on the docks that show
// one on the program's icon (the com.canonical.Unity.LauncherEntry signal).
// Without a session bus or a notification service nothing is shown and
// nothing waits: every call is sent without waiting for its answer.
//
// Owner: the user-interface thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;
class QWidget;

namespace quorvel {

class TBatchConversion;
struct TBatchOutcome;

class TDesktopNotifier : public QObject {
  Q_OBJECT
public:
  // AWindow is brought to the front by the notification's action.
  explicit TDesktopNotifier(QWidget& AWindow, QDBusConnection ABus = QDBusConnection::sessionBus());

  // Shows the batches of AConversion: progress while each runs, the
  // notification at its end.
  void Follow(TBatchConversion& AConversion);

  // "12 converted, 1 failed": the counts that are not 0 (converted always).
  static QString SummaryText(const TBatchOutcome& AOutcome);
  // The desktop entry the docks know the program by.
  static const char* const kDesktopEntry;

  // The batch is AFraction (0 to 1) done.
  void ShowProgress(double AFraction);
  // The batch ended: progress off the icon; a notification unless the
  // user stopped it or is in this program's windows.
  void BatchEnded(const TBatchOutcome& AOutcome, bool AStoppedByUser);

  // The id of the last notification sent (0: none answered yet).
  uint LastNotification() const { return FLastId; }

private Q_SLOTS:
  // The notification service's signal: the user chose an action.
  void ActionInvoked(uint AId, const QString& AAction);

private:
  // One of this program's windows (the main window or a dialog of it) has
  // the keyboard.
  bool WindowActive() const;
  void SendLauncherEntry(bool AVisible, double AProgress);
  void BringWindowToFront();

  QWidget& FWindow;
  QDBusConnection FBus;
  uint FLastId = 0;      // the service's id of the last notification
  int FShownPercent = -1;  // the progress last sent; -1: none shown
};

}  // namespace quorvel
