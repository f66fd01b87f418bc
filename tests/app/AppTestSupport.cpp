#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "media/runtime/MainThread.h"
#include "profiles/Decryptor.h"
#include "support/TestPaths.h"

namespace quorvel::test {

QString MakeSine(const QString& APath, double ASeconds, const QString& ALevel, int AFrequency, int ARate,
                 int AChannels) {
  QDir().mkpath(QFileInfo(APath).absolutePath());
  const std::string cmd = QString("sox -n -r %1 -c %2 -b 16 '%3' synth %4 sine %5 %6")
                              .arg(ARate)
                              .arg(AChannels)
                              .arg(APath)
                              .arg(ASeconds)
                              .arg(AFrequency)
                              .arg(ALevel)
                              .toStdString();
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return APath;
}

bool DropFiles(QWidget* AWindow, const QStringList& APaths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : APaths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(AWindow, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(AWindow, &drop);
  return true;
}


QString BuiltProgramFolder() { return QStringLiteral(QUORVEL_APP_DIR) + "/"; }

QString TestHome() { return qEnvironmentVariable("QUORVEL_TEST_HOME"); }

QString MakeProgramFolder() {
  const QString dir = QString::fromStdString(ScratchDir()) + "/program/";
  QDir().mkpath(dir + "skin-aqua");
  QDir().mkpath(dir + "mp3-converter-profiles");
  const QDir skin(BuiltProgramFolder() + "skin-aqua");
  for (const QString& f : skin.entryList(QDir::Files)) QFile::copy(skin.filePath(f), dir + "skin-aqua/" + f);
  QFile::copy(BuiltProgramFolder() + "mp3-converter-profiles/formats.dat", dir + "mp3-converter-profiles/formats.dat");
  return dir;
}

void WriteProfileSet(const QString& AProgramFolder, const QByteArray& AText) {
  QDir().mkpath(AProgramFolder + "mp3-converter-profiles");
  QFile f(AProgramFolder + "mp3-converter-profiles/formats.dat");
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  f.write(ComplementBytes(AText));
}

void ResetUserState() {
  const QString home = TestHome();
  for (const char* sub : {"config/Sabrivo", "Documents", "Music", "tmp"}) QDir(home + "/" + sub).removeRecursively();
  for (const char* sub : {"Documents", "Music", "tmp"}) QDir().mkpath(home + "/" + sub);
}

TMessageCatcher::TMessageCatcher(QMessageBox::StandardButton AAnswer) {
  QObject::connect(&FTimer, &QTimer::timeout, [this, AAnswer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Texts << box->text();
      if (QAbstractButton* button = AAnswer != QMessageBox::NoButton ? box->button(AAnswer) : nullptr)
        button->click();
      else
        box->accept();
    }
  });
  FTimer.start(5);
}

void OnNextModal(std::function<void(QWidget*)> AAction) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, AAction] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    AAction(modal);
  });
  timer->start();
}

void ClickOnNextModal(const QString& AObjectName) {
  OnNextModal([AObjectName](QWidget* AModal) {
    if (auto* b = AModal->findChild<QAbstractButton*>(AObjectName)) b->click();
  });
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

TLocalSmtpServer::TLocalSmtpServer(int APort, QString AUser, QString APassword) {
  FOutFile = QString::fromStdString(ScratchDir()) + "/smtp-received.txt";
  FProcess.setProcessChannelMode(QProcess::SeparateChannels);
  FProcess.start("/usr/bin/python3", {QString::fromStdString(TestData("app/smtp_server.py")), QString::number(APort),
                                      FOutFile, AUser, APassword});
  if (!FProcess.waitForStarted(10000)) return;
  while (FProcess.state() == QProcess::Running && !FProcess.canReadLine()) FProcess.waitForReadyRead(200);
  FStarted = FProcess.readLine().trimmed() == "READY";
}

TLocalSmtpServer::~TLocalSmtpServer() {
  if (FProcess.state() == QProcess::NotRunning) return;
  FProcess.closeWriteChannel();  // the server stops when its input ends
  if (!FProcess.waitForFinished(10000)) {
    FProcess.kill();
    FProcess.waitForFinished(5000);
  }
}

QString TLocalSmtpServer::Received() const {
  QFile f(FOutFile);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

void SaveScreenshot(QWidget& AWidget, const QString& AName, bool AFromScreen) {
  const QString dir = QStringLiteral(QUORVEL_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  QApplication::processEvents();
  // Scaled (QT_SCALE_FACTOR=2): the same picture's name with "-200".
  const double scale = AWidget.devicePixelRatioF();
  const QString suffix = scale > 1.01 ? QStringLiteral("-%1").arg(qRound(scale * 100)) : QString();
  const QString path = dir + "/" + AName + suffix + ".png";
  const QPixmap picture = AFromScreen ? AWidget.screen()->grabWindow(AWidget.winId()) : AWidget.grab();
  EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

bool PaintFromAJob(TPreviewWindow& APreview, const TBitmap& ABitmap, int64_t APTS) {
  std::atomic<int> result{-1};
  std::thread job([&] { result = APreview.PaintFrame(ABitmap, 1, APTS) ? 1 : 0; });
  while (result < 0) {
    QCoreApplication::processEvents();
    ProcessMainThreadCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  job.join();
  return result == 1;
}

}  // namespace quorvel::test
