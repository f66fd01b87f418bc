// Helpers for the window tests: a program folder to start from, recorders
// for the error path and the desktop, a hand for modal dialogs and a local
// SMTP server.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <utility>
#include <vector>

#include "app/shell/Desktop.h"
#include "app/report/ReportSink.h"
#include "app/conversion/PreviewWindow.h"

class QWidget;

namespace quorvel::test {

// A 16-bit sine made by sox at APath (its folder made first): ASeconds
// long, at ARate with AChannels; ALevel is sox's level effect ("vol 0.5",
// "gain -23"). Returns APath; a failing sox fails the test.
QString MakeSine(const QString& APath, double ASeconds, const QString& ALevel = QStringLiteral("vol 0.5"),
                 int AFrequency = 440, int ARate = 44100, int AChannels = 2);

// APaths dropped on AWindow as a file manager drops them: false when the
// window refused the drag (then nothing is dropped).
bool DropFiles(QWidget* AWindow, const QStringList& APaths);

// The folder of the built program (skin and profile set beside it).
QString BuiltProgramFolder();

// A scratch program folder: the built skin and profile set copied in,
// ending with "/".
QString MakeProgramFolder();
// Writes ATextLines complemented as the program folder's profile set.
void WriteProfileSet(const QString& AProgramFolder, const QByteArray& AText);

// The per-process root of the tests' home: settings, documents, music and
// the temporary folder all live below it (see the test main).
QString TestHome();
// Forgets the settings, documents and music of earlier tests.
void ResetUserState();

class TRecordingDesktop : public TDesktop {
public:
  bool OpenUrl(const QUrl& AUrl) override {
    Opened.push_back(AUrl);
    return Succeeds;
  }
  std::vector<QUrl> Opened;
  bool Succeeds = true;  // false: as without a browser or file manager
};

class TRecordingSink : public TReportSink {
public:
  void ReportError(const QString& AErrorText, const QString& AMark) override {
    Reports.emplace_back(AErrorText, AMark);
    // Stands for the time the error dialog is open.
    if (WhileReporting) WhileReporting();
  }
  std::function<void()> WhileReporting;
  void AddLogLine(const QString& AText) override { Log << "[t]" + AText; }
  void AppendLogText(const QString& AText) override { Log << AText; }
  void FFLoggerLog(uint32_t, TLogLevel, const std::string& AMessage) override {
    History << QString::fromStdString(AMessage);
  }
  std::vector<std::pair<QString, QString>> Reports;
  QStringList Log;
  QStringList History;
};

// Answers every message box while it lives, keeping their texts: with
// AAnswer where the box has that button, else as Enter would.
class TMessageCatcher {
public:
  explicit TMessageCatcher(QMessageBox::StandardButton AAnswer = QMessageBox::NoButton);
  QStringList Texts;

private:
  QTimer FTimer;
};

// Runs AAction on the next modal dialog once it is shown (polling the event
// loop); the dialog's exec() then returns as AAction decides.
// Writes a picture of AWidget, as it is drawn now, to the build's
// screenshots folder as AName.png (scripts/screenshots collects them);
// AName-200.png at 200 % scale (QT_SCALE_FACTOR=2).
// AFromScreen: what the window system shows of its window (under X11, the
// players' drawing included, which the widgets' own rendering leaves out).
void SaveScreenshot(QWidget& AWidget, const QString& AName, bool AFromScreen = false);

void OnNextModal(std::function<void(QWidget*)> AAction);

// APreview.PaintFrame on a thread of its own (as a conversion job calls it)
// while this, the main thread, serves; what it returned.
bool PaintFromAJob(TPreviewWindow& APreview, const TBitmap& ABitmap, int64_t APTS);
// Clicks the push button named AObjectName on the next modal dialog.
void ClickOnNextModal(const QString& AObjectName);

// A free TCP port on 127.0.0.1.
int FreePort();

// aiosmtpd on 127.0.0.1, requiring login; stopped by the destructor.
class TLocalSmtpServer {
public:
  TLocalSmtpServer(int APort, QString AUser, QString APassword);
  ~TLocalSmtpServer();
  bool Started() const { return FStarted; }
  // What the server received so far.
  QString Received() const;

private:
  QProcess FProcess;
  QString FOutFile;
  bool FStarted = false;
};

}  // namespace quorvel::test
