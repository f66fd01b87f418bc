// The desktop's "open this address" service (web pages, mailto: texts,
// folders). The program uses the system's; tests put a recorder in its place
// so that no browser or mail program starts.
#pragma once

#include <QString>
#include <QUrl>

namespace quorvel {

class TReportSink;

class TDesktop {
public:
  virtual ~TDesktop() = default;
  virtual bool OpenUrl(const QUrl& AUrl);
};

// Opens AUrl with ADesktop (when there is one). Without a file manager or
// browser the user would get no word at all: a failure goes to the events
// log, naming AWhat ("the folder ...", "the address ...").
void OpenOrLog(TDesktop* ADesktop, const QUrl& AUrl, const QString& AWhat, TReportSink& AReport);

}  // namespace quorvel
