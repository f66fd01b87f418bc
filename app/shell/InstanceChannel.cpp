#include "app/shell/InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>

namespace quorvel {

namespace {

constexpr char kTaken = 'k';

}  // namespace

QStringList CommandLineFiles(const QStringList& AArguments, const QString& AWorkingFolder) {
  QStringList files;
  const QDir folder(AWorkingFolder);
  for (qsizetype i = 1; i < AArguments.size(); ++i) {
    QString name = AArguments.at(i);
    if (name.isEmpty()) continue;
    if (name.startsWith(QStringLiteral("file:"))) name = QUrl(name).toLocalFile();
    files << QDir::cleanPath(folder.absoluteFilePath(name));
  }
  return files;
}

QString TInstanceChannel::DefaultName() {
  // The runtime folder is the user's own (and each session's); without one
  // the temporary folder stands in, with the user in the name.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  const QString name = QStringLiteral("quorvel-%1.socket").arg(qEnvironmentVariable("USER"));
  const QString path = QDir(folder).filePath(name);
  // A socket's path has room for about a hundred bytes; a longer one goes
  // where Qt puts plain names (the temporary folder).
  return path.toLocal8Bit().size() < 100 ? path : name;
}

TInstanceChannel::TInstanceChannel(QString AName, QObject* AParent) : QObject(AParent), FName(std::move(AName)) {}

TInstanceChannel::~TInstanceChannel() = default;

bool TInstanceChannel::HandOver(const QStringList& AFiles, int ATimeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(FName);
  if (!socket.waitForConnected(ATimeoutMs)) return false;
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out << AFiles;
  socket.write(message);
  if (!socket.waitForBytesWritten(ATimeoutMs)) return false;
  // Taken only when the running program says so: a program that hangs or
  // dies meanwhile leaves this start to open the files itself.
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(ATimeoutMs)) return false;
  char answer = 0;
  return socket.getChar(&answer) && answer == kTaken;
}

bool TInstanceChannel::Listen() {
  if (FServer) return true;
  // A program that answers on the socket runs already (two starts at once):
  // its socket is not taken away.
  {
    QLocalSocket probe;
    probe.connectToServer(FName);
    if (probe.waitForConnected(1000)) return false;
  }
  FServer = new QLocalServer(this);
  connect(FServer, &QLocalServer::newConnection, this, &TInstanceChannel::Accept);
  if (FServer->listen(FName)) return true;
  // A socket file left by a program that ended without removing it: no one
  // answers on it, so it may go.
  QLocalServer::removeServer(FName);
  if (FServer->listen(FName)) return true;
  qWarning("quorvel: later starts cannot reach this window (%s: %s)", qPrintable(FName),
           qPrintable(FServer->errorString()));
  delete FServer;
  FServer = nullptr;
  return false;
}

void TInstanceChannel::Accept() {
  while (QLocalSocket* socket = FServer->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // The list may come in pieces: each piece retries the whole read.
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      QDataStream in(socket);
      in.startTransaction();
      QStringList files;
      in >> files;
      if (!in.commitTransaction()) return;
      socket->putChar(kTaken);
      socket->flush();
      // Adding may show messages (each with its own event loop): not from
      // inside the socket's handler.
      QMetaObject::invokeMethod(this, [this, files] { emit FilesReceived(files); }, Qt::QueuedConnection);
    });
  }
}

}  // namespace quorvel
