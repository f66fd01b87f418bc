// The error path: the events log's time-stamped lines, the report history
// fed by the media log collector, and the error report with its mail.
#pragma once

#include <QLocale>
#include <QObject>
#include <QStringList>
#include <QTime>
#include <QUrl>

#include <cstdint>
#include <string>

#include "app/shell/Endpoints.h"
#include "app/report/ReportSink.h"
#include "media/runtime/FFLog.h"

namespace quorvel {

class TDesktop;
class TErrorForm;
class TLogForm;

// ATime in ALocale's long time format, without a time-zone part: the events
// log shows the time of day only.
QString LongTimeText(const QTime& ATime, const QLocale& ALocale);

// The mail program's prepared message, used when the mail cannot be sent.
QUrl ReportMailtoUrl(const QString& ASupportAddress, const QString& AErrorText, const QString& AMark);

inline constexpr const char* kReportSubject = "ERROR REPORT | Quorvel";

class TErrorReporter : public TReportSink {
public:
  TErrorReporter(const TEndpoints& AEndpoints, TDesktop& ADesktop);

  // The windows the reporter writes to; both must be set before the first report.
  void Bind(TLogForm* ALogForm, TErrorForm* AErrorForm);

  void ReportError(const QString& AErrorText, const QString& AMark) override;
  void AddLogLine(const QString& AText) override;
  void AppendLogText(const QString& AText) override;

  // The log collector's OnLog: one history line per collected line.
  void FFLoggerLog(uint32_t AThreadID, TLogLevel ALevel, const std::string& AMessage) override;

  const QStringList& ReportHistory() const { return FReportHistory; }
  // What the last report's sending said: empty after a delivered mail.
  const QString& LastSendError() const { return FLastSendError; }

private:
  TEndpoints FEndpoints;
  TDesktop& FDesktop;
  TLogForm* FLogForm = nullptr;
  TErrorForm* FErrorForm = nullptr;
  QStringList FReportHistory{QStringLiteral("FFLOGGER HISTORY:")};  // only grows
  QString FLastSendError;
};

}  // namespace quorvel
