// What the windows need of the error path: the error report and the events
// log. The error reporter implements it; tests may record instead.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "media/runtime/FFLog.h"

namespace quorvel {

class TReportSink {
public:
  virtual ~TReportSink() = default;
  // Shows the error dialog and, when the user agrees, mails the report.
  virtual void ReportError(const QString& AErrorText, const QString& AMark) = 0;
  // One events-log line with the time stamp in front.
  virtual void AddLogLine(const QString& AText) = 0;
  // One events-log line as it stands.
  virtual void AppendLogText(const QString& AText) = 0;
  // One line the media log collector delivered, for the report history.
  virtual void FFLoggerLog(uint32_t AThreadID, TLogLevel ALevel, const std::string& AMessage) = 0;
};

}  // namespace quorvel
