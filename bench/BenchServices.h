// The window's services for the window benchmarks: nothing is opened and
// nothing shown, so that the figures are the work's; errors are printed and
// counted.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <algorithm>
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

// A 10 ms timer on the user-interface thread while it lives: the longest
// time between two of its ticks is the longest the thread was kept from its
// events (a click waits that long), and how many gaps were over 30 ms.
class TTickGaps {
public:
  TTickGaps() {
    FClock.start();
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const qint64 now = FClock.nsecsElapsed();
      if ((now - FLast) / 1e6 > Longest) {
        Longest = (now - FLast) / 1e6;
        LongestEnd = now / 1e9;
      }
      Over30 += now - FLast > 30'000'000 ? 1 : 0;
      FLast = now;
    });
    FTimer.start(10);
  }
  // From now on the figures count anew; the gap under way when this is
  // called (the ticks missed before it) goes into Before.
  void Mark() {
    const qint64 now = FClock.nsecsElapsed();
    Before = std::max(Longest, (now - FLast) / 1e6);
    Longest = 0;
    LongestEnd = 0;
    Over30 = 0;
    FLast = now;
  }
  double Before = 0;      // ms, the longest gap before Mark
  double Longest = 0;     // ms
  double LongestEnd = 0;  // s after the start, where the longest gap ended
  int Over30 = 0;

private:
  QElapsedTimer FClock;
  qint64 FLast = 0;
  QTimer FTimer;
};

}  // namespace quorvel::bench
