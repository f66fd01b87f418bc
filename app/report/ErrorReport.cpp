#include "app/report/ErrorReport.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include "app/shell/Desktop.h"
#include "app/report/ErrorForm.h"
#include "app/report/LogForm.h"
#include "app/report/MailTransport.h"

namespace quorvel {

namespace {

const QString kSeparator = QStringLiteral("-------------------------");

// The characters that would end a value early inside a mailto: address.
QString MailtoValue(const QString& AText) {
  return QString::fromLatin1(QUrl::toPercentEncoding(AText, " :;|()'!*,/@-_.~"));
}

}  // namespace

QString LongTimeText(const QTime& ATime, const QLocale& ALocale) {
  QString format = ALocale.timeFormat(QLocale::LongFormat);
  // Qt's long format carries the time zone ("t"); the log shows time only.
  format.replace(QRegularExpression(QStringLiteral("\\s*t+\\s*")), QStringLiteral(" "));
  return ALocale.toString(ATime, format.trimmed());
}

QUrl ReportMailtoUrl(const QString& ASupportAddress, const QString& AErrorText, const QString& AMark) {
  const QString body = AErrorText + " ;CODE LINE MARK:" + AMark + ";  YOUR COMMENT (DETAILS):";
  const QString text = "mailto:" + ASupportAddress + "?subject=" + MailtoValue(QString::fromLatin1(kReportSubject)) +
                       "&body=" + MailtoValue(body);
  return QUrl(text, QUrl::StrictMode);
}

TErrorReporter::TErrorReporter(const TEndpoints& AEndpoints, TDesktop& ADesktop)
    : FEndpoints(AEndpoints), FDesktop(ADesktop) {}

void TErrorReporter::Bind(TLogForm* ALogForm, TErrorForm* AErrorForm) {
  FLogForm = ALogForm;
  FErrorForm = AErrorForm;
}

void TErrorReporter::AddLogLine(const QString& AText) {
  AppendLogText(LongTimeText(QTime::currentTime(), QLocale::system()) + AText);
}

void TErrorReporter::AppendLogText(const QString& AText) {
  if (FLogForm) FLogForm->AppendLine(AText);
}

void TErrorReporter::FFLoggerLog(uint32_t AThreadID, TLogLevel ALevel, const std::string& AMessage) {
  FReportHistory << QStringLiteral("#%1.%2: %3")
                        .arg(AThreadID)
                        .arg(static_cast<int>(ALevel))
                        .arg(QString::fromUtf8(AMessage.data(), static_cast<qsizetype>(AMessage.size())));
}

void TErrorReporter::ReportError(const QString& AErrorText, const QString& AMark) {
  if (!FErrorForm || FErrorForm->Execute(AErrorText) != TErrorForm::mrSend) return;

  FReportHistory << kSeparator << QStringLiteral("ACTION HISTORY:");
  if (FLogForm) FReportHistory << FLogForm->Lines();
  FReportHistory << kSeparator << "LAST ERROR MESSAGE: " + AErrorText << "CODE LINE MARK: " + AMark;

  TMailMessage message;
  message.From = FEndpoints.Account;
  message.Recipients = {FEndpoints.SupportAddress};
  message.Subject = QString::fromLatin1(kReportSubject);
  message.BodyLines = FReportHistory;

  if (FEndpoints.Relay.isEmpty() || FEndpoints.SupportAddress.isEmpty()) {
    FLastSendError = QStringLiteral("No mail relay configured");
  } else {
    const TMailServer server{FEndpoints.Relay, FEndpoints.Port, FEndpoints.Account, FEndpoints.Password};
    if (SendMail(server, message, FLastSendError)) return;
  }
  // Whatever failed, the user's own mail program gets a short report; its
  // own failure has nowhere left to be reported.
  FDesktop.OpenUrl(ReportMailtoUrl(FEndpoints.SupportAddress, AErrorText, AMark));
}

}  // namespace quorvel
