#include "app/Desktop.h"

#include <QDesktopServices>

#include "app/ReportSink.h"

namespace quorvel {

bool TDesktop::OpenUrl(const QUrl& AUrl) { return QDesktopServices::openUrl(AUrl); }

void OpenOrLog(TDesktop* ADesktop, const QUrl& AUrl, const QString& AWhat, TReportSink& AReport) {
  if (ADesktop && !AUrl.isEmpty() && !ADesktop->OpenUrl(AUrl)) AReport.AddLogLine("-> Could not open " + AWhat);
}

}  // namespace quorvel
