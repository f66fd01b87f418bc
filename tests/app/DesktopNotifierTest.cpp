// The desktop hears of a batch: a notification at its end when the user is
// in another program, whose action brings the window back, and the progress
// signal the docks read. Run on a private session bus (dbus-run-session, see
// the CTest entry) with a stand-in notification service on a connection of
// its own; elsewhere these tests are skipped, so that they never take the
// name of the desktop's own notification service.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QVariantMap>

#include <memory>
#include <vector>

#include "AppTestSupport.h"
#include "MainFormFixture.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/ConvForm.h"
#include "app/conversion/ProfilePanel.h"
#include "app/shell/DesktopNotifier.h"
#include "media/batch/Batch.h"
#include "support/TestPaths.h"

namespace quorvel::test {

// org.freedesktop.Notifications as a desktop offers it, recording what it
// is asked to show; also hears the docks' progress signal.
class TStandInNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
  struct TShown {
    QString App, Summary, Body;
    QStringList Actions;
    QVariantMap Hints;
  };
  struct TLauncher {
    QString App;
    double Progress;
    bool Visible;
  };
  std::vector<TShown> Shown;
  std::vector<TLauncher> Launcher;

public Q_SLOTS:
  uint Notify(const QString& AApp, uint, const QString&, const QString& ASummary, const QString& ABody,
              const QStringList& AActions, const QVariantMap& AHints, int) {
    Shown.push_back({AApp, ASummary, ABody, AActions, AHints});
    return static_cast<uint>(Shown.size()) + 40;  // ids as a service gives them, not from 1
  }
  QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
  QString GetServerInformation() { return QStringLiteral("stand-in"); }
  void Update(const QString& AApp, const QVariantMap& AProperties) {
    Launcher.push_back({AApp, AProperties.value("progress").toDouble(), AProperties.value("progress-visible").toBool()});
  }
};

}  // namespace quorvel::test

namespace quorvel {
namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";

class DesktopNotifierTest : public test::TMainFormFixture {
protected:
  void SetUp() override {
    if (qEnvironmentVariable("QUORVEL_PRIVATE_BUS") != "1") GTEST_SKIP() << "needs the private bus of its CTest entry";
    test::TMainFormFixture::SetUp();
    FStandIn = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("quorvel-stand-in")));
    ASSERT_TRUE(FStandIn->isConnected());
    ASSERT_TRUE(FStandIn->registerObject(kPath, &FService, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(FStandIn->connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                  QStringLiteral("Update"), &FService, SLOT(Update(QString, QVariantMap))));
    Offer(true);
    FForm->ProfilePanel().chApplyToAll->setChecked(true);
    FForm->show();
    FForm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
  }
  void TearDown() override {
    FOther.reset();
    if (FStandIn) {
      FStandIn->unregisterService(kService);
      FStandIn->unregisterObject(kPath);
      FStandIn.reset();
      QDBusConnection::disconnectFromBus(QStringLiteral("quorvel-stand-in"));
    }
    test::TMainFormFixture::TearDown();
  }
  // The notification service runs, or not.
  void Offer(bool AOn) {
    if (AOn)
      ASSERT_TRUE(FStandIn->registerService(kService));
    else
      ASSERT_TRUE(FStandIn->unregisterService(kService));
  }
  QString Tone(const QString& AName, double ASeconds) { return test::MakeSine(FDir + "/" + AName, ASeconds); }
  // Converts the list; with AElsewhere, once the conversion dialog shows,
  // the user goes to another program's window (a window of the test's that
  // takes the keyboard) and stays there until the batch has ended.
  void Convert(bool AElsewhere) {
    if (AElsewhere) {
      test::OnNextModal([this](QWidget*) {
        FOther = std::make_unique<QWidget>();
        FOther->setWindowTitle("another program");
        FOther->setWindowModality(Qt::ApplicationModal);
        FOther->show();
        FOther->activateWindow();
      });
    }
    FForm->Conversion().ConvertButtonClick();  // returns when the batch has ended
  }
  // Everything the window sent on the bus before this has reached the
  // stand-in: a call of the window's own connection and its answer.
  void Settle() {
    const QDBusMessage ping = QDBusMessage::createMethodCall(kService, kPath, kService, "GetServerInformation");
    const QDBusPendingCall reply = QDBusConnection::sessionBus().asyncCall(ping);
    QTRY_VERIFY_WITH_TIMEOUT(reply.isFinished(), 20000);
  }

  test::TStandInNotifications FService;
  std::unique_ptr<QDBusConnection> FStandIn;
  std::unique_ptr<QWidget> FOther;
};

TEST_F(DesktopNotifierTest, ABatchEndingWhileTheUserIsElsewhereIsNotifiedAndTheActionBringsTheWindowBack) {
  for (const char* n : {"n1.wav", "n2.wav"}) ASSERT_TRUE(FForm->AddMediaFile(Tone(n, 4)));
  Convert(true);
  ASSERT_NE(FOther, nullptr);
  QTRY_COMPARE_WITH_TIMEOUT(FService.Shown.size(), size_t{1}, 20000);
  const auto& shown = FService.Shown[0];
  EXPECT_EQ(shown.App, "Quorvel");
  EXPECT_EQ(shown.Summary, "Conversion finished");
  EXPECT_EQ(shown.Body, "2 converted");
  EXPECT_TRUE(shown.Actions.contains("default"));
  EXPECT_EQ(shown.Hints.value("desktop-entry").toString(), "quorvel");

  // The docks saw the batch go and end.
  ASSERT_GE(FService.Launcher.size(), 2u);
  bool progressed = false;
  for (const auto& l : FService.Launcher) {
    EXPECT_EQ(l.App, "application://quorvel.desktop");
    progressed = progressed || (l.Visible && l.Progress > 0 && l.Progress <= 1);
  }
  EXPECT_TRUE(progressed);
  EXPECT_FALSE(FService.Launcher.back().Visible);

  // Another program's notification's action is not ours; ours raises the window.
  QTRY_COMPARE_WITH_TIMEOUT(FForm->Notifier().LastNotification(), 41u, 20000);
  FOther->hide();
  for (uint id : {7u, 41u}) {
    QDBusMessage action = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
    action << id << QStringLiteral("default");
    FStandIn->send(action);
  }
  QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == FForm.get(), 20000);
}

TEST_F(DesktopNotifierTest, NothingWhileTheWindowIsActiveOrWithoutAService) {
  ASSERT_TRUE(FForm->AddMediaFile(Tone("a1.wav", 1)));
  Convert(false);
  Settle();
  EXPECT_TRUE(FService.Shown.empty());
  ASSERT_FALSE(FService.Launcher.empty());
  EXPECT_FALSE(FService.Launcher.back().Visible);

  // No notification service: the batch ends as ever, nothing is reported.
  Offer(false);
  ASSERT_TRUE(QFile::remove(FDir + "/out/a1.mp3"));  // no question about the first batch's output
  FForm->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
  Convert(true);
  ASSERT_NE(FOther, nullptr);
  Offer(true);
  Settle();
  EXPECT_TRUE(FService.Shown.empty());
  EXPECT_TRUE(FSink.Reports.empty());
  EXPECT_TRUE(FSink.Log.contains("[t]-> Conversion successfully done.")) << FSink.Log.join('\n').toStdString();
}

TEST(DesktopNotifierText, SummaryNamesTheCountsThatAreNotZero) {
  const struct {
    int Done, Skipped, Failed, Stopped;
    const char* Text;
  } cases[] = {{12, 0, 1, 0, "12 converted, 1 failed"},
               {3, 0, 0, 0, "3 converted"},
               {0, 2, 0, 1, "0 converted, 2 skipped, 1 stopped"}};
  for (const auto& c : cases) {
    TBatchOutcome o;
    o.Done = c.Done;
    o.Skipped = c.Skipped;
    o.Failed = c.Failed;
    o.Stopped = c.Stopped;
    EXPECT_EQ(TDesktopNotifier::SummaryText(o), c.Text);
  }
}

}  // namespace
}  // namespace quorvel

#include "DesktopNotifierTest.moc"
