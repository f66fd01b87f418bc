// The events log, the report history and the error report with its mail.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QUrlQuery>

#include "AppTestSupport.h"
#include "app/shell/AppWindows.h"
#include "app/report/ErrorForm.h"
#include "app/report/ErrorReport.h"
#include "app/report/LogForm.h"
#include "app/report/MailTransport.h"
#include "app/shell/MainForm.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

TEST(LogTimeTest, FollowsTheLocalesLongTimeFormatWithoutTimeZone) {
  struct TCase {
    QLocale Locale;
    QTime Time;
    const char* Expected;
  };
  const TCase cases[] = {
      {QLocale(QLocale::English, QLocale::UnitedStates), QTime(9, 5, 7), "9:05:07 AM"},
      {QLocale(QLocale::English, QLocale::UnitedStates), QTime(21, 5, 7), "9:05:07 PM"},
      {QLocale(QLocale::German, QLocale::Germany), QTime(9, 5, 7), "09:05:07"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(LongTimeText(c.Time, c.Locale), QString::fromLatin1(c.Expected)) << c.Locale.name().toStdString();
}

// A reporter on its own log and error windows.
class ErrorReportTest : public ::testing::Test {
protected:
  void SetUp() override {
    FEndpoints.Account = "reports@quorvel.test";
    FEndpoints.Password = "s3cret!8";
    FEndpoints.SupportAddress = "support@quorvel.test";
    Rebind();
  }
  void Rebind() {
    FReporter = std::make_unique<TErrorReporter>(FEndpoints, FDesktop);
    FReporter->Bind(&FLogForm, &FErrorForm);
  }
  // Reports with the user choosing AButton.
  void Report(const char* AButton, const QString& AText, const QString& AMark) {
    test::ClickOnNextModal(AButton);
    FReporter->ReportError(AText, AMark);
  }

  TEndpoints FEndpoints;
  test::TRecordingDesktop FDesktop;
  TLogForm FLogForm;
  TErrorForm FErrorForm;
  std::unique_ptr<TErrorReporter> FReporter;
};

TEST_F(ErrorReportTest, LogLinesCarryTheTimeInFront) {
  FReporter->AddLogLine("-> File added");
  FReporter->AppendLogText("raw");
  ASSERT_EQ(FLogForm.Lines().size(), 2);
  const QString line = FLogForm.Lines()[0];
  EXPECT_TRUE(line.endsWith("-> File added"));
  EXPECT_TRUE(line.at(0).isDigit()) << line.toStdString();
  EXPECT_EQ(FLogForm.Lines()[1], "raw");
  EXPECT_EQ(FLogForm.mmoLog->toPlainText(), FLogForm.Lines().join('\n'));
}

TEST_F(ErrorReportTest, CancelSendsNothingAndKeepsTheHistory) {
  const QStringList before = FReporter->ReportHistory();
  Report("btnCancel", "Error loading profiles", "CLM_LoadProfiles");
  EXPECT_EQ(FErrorForm.lblErrorText->text(), "Error loading profiles");
  EXPECT_EQ(FReporter->ReportHistory(), before);
  EXPECT_TRUE(FDesktop.Opened.empty());
}

TEST_F(ErrorReportTest, WithoutARelayTheMailProgramGetsTheReport) {
  FReporter->AddLogLine("-> Something happened");
  Report("btnSend", "Error setting profile", "CLM_SettingProfile");
  const QStringList h = FReporter->ReportHistory();
  ASSERT_GE(h.size(), 7);
  EXPECT_EQ(h.mid(h.size() - 6, 2), (QStringList{"-------------------------", "ACTION HISTORY:"}));
  EXPECT_TRUE(h[h.size() - 4].endsWith("-> Something happened"));
  EXPECT_EQ(h.mid(h.size() - 3), (QStringList{"-------------------------", "LAST ERROR MESSAGE: Error setting profile",
                                              "CODE LINE MARK: CLM_SettingProfile"}));
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  const QUrl url = FDesktop.Opened[0];
  EXPECT_EQ(url.scheme(), "mailto");
  EXPECT_EQ(url.path(), "support@quorvel.test");
  const QUrlQuery q(url);
  EXPECT_EQ(q.queryItemValue("subject", QUrl::FullyDecoded), "ERROR REPORT | Quorvel");
  EXPECT_EQ(q.queryItemValue("body", QUrl::FullyDecoded),
            "Error setting profile ;CODE LINE MARK:CLM_SettingProfile;  YOUR COMMENT (DETAILS):");
}

TEST_F(ErrorReportTest, AnErrorTextWithAddressCharactersStaysWhole) {
  Report("btnSend", "Cannot set output file: a&b #1 ?x=50%", "CLM_SetOutputFile");
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_TRUE(QUrlQuery(FDesktop.Opened[0])
                  .queryItemValue("body", QUrl::FullyDecoded)
                  .startsWith("Cannot set output file: a&b #1 ?x=50% ;CODE LINE MARK:CLM_SetOutputFile;"));
}

TEST_F(ErrorReportTest, AServerThatIsDownFallsBackToTheMailProgram) {
  FEndpoints.Relay = "127.0.0.1";
  FEndpoints.Port = test::FreePort();
  Rebind();
  Report("btnSend", "Conversion terminated with error: x", "CLM_Terminate");
  EXPECT_FALSE(FReporter->LastSendError().isEmpty());
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_EQ(QUrlQuery(FDesktop.Opened[0]).queryItemValue("subject", QUrl::FullyDecoded), "ERROR REPORT | Quorvel");
  EXPECT_TRUE(QUrlQuery(FDesktop.Opened[0])
                  .queryItemValue("body", QUrl::FullyDecoded)
                  .startsWith("Conversion terminated with error: x"));
}

TEST_F(ErrorReportTest, ReportsAreMailedAndTheSecondCarriesTheFirst) {
  FEndpoints.Relay = "127.0.0.1";
  FEndpoints.Port = test::FreePort();
  test::TLocalSmtpServer server(FEndpoints.Port, FEndpoints.Account, FEndpoints.Password);
  ASSERT_TRUE(server.Started());
  Rebind();
  FReporter->FFLoggerLog(4242, llWarning, "media says hello");
  FReporter->AddLogLine("-> first action");
  Report("btnSend", "First failure", "CLM_First");
  EXPECT_EQ(FReporter->LastSendError(), "");
  FReporter->AddLogLine("-> second action");
  Report("btnSend", "Second failure", "CLM_Second");
  EXPECT_EQ(FReporter->LastSendError(), "");
  EXPECT_TRUE(FDesktop.Opened.empty());

  const QStringList mails = server.Received().split("=== END ===\n", Qt::SkipEmptyParts);
  ASSERT_EQ(mails.size(), 2) << server.Received().toStdString();
  for (const QString& m : mails) {
    EXPECT_TRUE(m.contains("MAIL FROM: reports@quorvel.test"));
    EXPECT_TRUE(m.contains("RCPT TO: support@quorvel.test"));
    EXPECT_TRUE(m.contains("Subject: ERROR REPORT | Quorvel"));
    EXPECT_TRUE(m.contains("FFLOGGER HISTORY:\r\n#4242.4: media says hello\r\n"));
  }
  const QString second = mails[1];
  const qsizetype firstBlock = second.indexOf("LAST ERROR MESSAGE: First failure\r\nCODE LINE MARK: CLM_First\r\n");
  const qsizetype ownBlock = second.indexOf("LAST ERROR MESSAGE: Second failure\r\nCODE LINE MARK: CLM_Second");
  ASSERT_GE(firstBlock, 0);
  ASSERT_GE(ownBlock, 0);
  EXPECT_LT(firstBlock, ownBlock);
  EXPECT_TRUE(second.contains("-> second action"));
  EXPECT_FALSE(mails[0].contains("Second failure"));
}

TEST_F(ErrorReportTest, AWrongPasswordFallsBackToTheMailProgram) {
  FEndpoints.Relay = "127.0.0.1";
  FEndpoints.Port = test::FreePort();
  test::TLocalSmtpServer server(FEndpoints.Port, FEndpoints.Account, "another!");
  ASSERT_TRUE(server.Started());
  Rebind();
  Report("btnSend", "Error loading profiles", "CLM_LoadProfiles");
  EXPECT_TRUE(FReporter->LastSendError().contains("(67)")) << FReporter->LastSendError().toStdString();
  EXPECT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_TRUE(server.Received().isEmpty());
}

TEST(MailTransportTest, ComposesHeadersAndBodyLines) {
  TMailMessage m{"a@b.test", {"c@d.test"}, "ERROR REPORT | Quorvel", {"line one", "two\nparts", "caf\u00E9"}};
  const QByteArray text = ComposeMessage(m);
  EXPECT_TRUE(text.contains("From: <a@b.test>\r\n"));
  EXPECT_TRUE(text.contains("To: <c@d.test>\r\n"));
  EXPECT_TRUE(text.contains("Subject: ERROR REPORT | Quorvel\r\n"));
  EXPECT_TRUE(text.endsWith("\r\n\r\nline one\r\ntwo parts\r\ncaf\xC3\xA9\r\n"));
}

// The windows as the program creates them: the media log reaches the
// report history through the main window's collector.
TEST(AppWindowsTest, MediaLogLinesReachTheReportHistory) {
  test::ResetUserState();
  test::TRecordingDesktop desktop;
  TAppWindows windows({test::MakeProgramFolder(), {}, &desktop});
  EXPECT_EQ(windows.Reporter().ReportHistory().value(0), "FFLOGGER HISTORY:");
  FFLogger().Log(nullptr, llError, "from the test");
  ProcessMainThreadCalls();
  const QString expected = QStringLiteral("#%1.3: from the test").arg(CurrentThreadID());
  EXPECT_TRUE(windows.Reporter().ReportHistory().contains(expected))
      << windows.Reporter().ReportHistory().join('\n').toStdString();
}

}  // namespace
}  // namespace quorvel
