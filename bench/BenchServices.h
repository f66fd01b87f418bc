// The window's services for the window benchmarks: nothing is opened and
// nothing shown, so that the figures are the work's; errors are printed and
// counted.
#pragma once

#include <QString>
#include <QUrl>

#include <cstdio>
#include <string>

#include "app/report/ReportSink.h"
#include "app/shell/Desktop.h"
#include "app/shell/PowerService.h"

namespace quorvel::bench {

class TQuietDesktop : public quorvel::TDesktop {
public:
  bool OpenUrl(const QUrl&) override { return true; }
};

class TQuietPower : public quorvel::TPowerService {
public:
  QString VersionText() override { return {}; }
  bool PowerOff(QString&) override { return true; }
};

class TCountingSink : public quorvel::TReportSink {
public:
  void ReportError(const QString& AText, const QString&) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(AText));
    ++Errors;
  }
  void AddLogLine(const QString&) override {}
  void AppendLogText(const QString&) override {}
  void FFLoggerLog(uint32_t, quorvel::TLogLevel, const std::string&) override {}
  int Errors = 0;
};

}  // namespace quorvel::bench
