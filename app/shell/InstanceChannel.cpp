#include "app/shell/InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/shell/ShellFolders.h"

namespace quorvel {

namespace {

constexpr char kTaken = 'k';

// A socket's path has room for about a hundred bytes.
bool FitsSocket(const QString& APath) { return QFile::encodeName(APath).size() < 100; }

// Whether the socket's name may be used: nothing has it yet, or it is a
// socket (or a file a program left) of this user's, and no link. Never
// followed: lstat.
bool UsableEntry(const QString& AName) {
  if (!QDir::isAbsolutePath(AName)) return !AName.isEmpty();
  struct stat st {};
  if (::lstat(QFile::encodeName(AName).constData(), &st) != 0) return errno == ENOENT;
  return st.st_uid == ::getuid() && (S_ISSOCK(st.st_mode) || S_ISREG(st.st_mode));
}

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
  // Whoever can make the socket's name first receives every file a later
  // start hands over, or blocks the starts: it lives only in a folder no one
  // else can enter. The session's runtime folder is such a folder when it is
  // there and is this user's own; otherwise this user's private folder in
  // the temporary folder (made 0700, and refused when another user or a
  // link holds its name).
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime) && IsPrivateFolder(QDir::cleanPath(runtime))) {
    const QString path =
        QDir(QDir::cleanPath(runtime)).filePath(QStringLiteral("quorvel-%1.socket").arg(qEnvironmentVariable("USER")));
    if (FitsSocket(path)) return path;
  }
  QString error;
  const QString folder = PrivateTempFolder(SystemTempFolder(), error);
  if (!folder.isEmpty() && FitsSocket(folder + "instance.socket")) return folder + "instance.socket";
  if (!error.isEmpty()) qWarning("quorvel: %s; later starts open windows of their own", qPrintable(error));
  return {};
}

TInstanceChannel::TInstanceChannel(QString AName, QObject* AParent) : QObject(AParent), FName(std::move(AName)) {}

TInstanceChannel::~TInstanceChannel() = default;

bool TInstanceChannel::HandOver(const QStringList& AFiles, int ATimeoutMs) {
  if (!UsableEntry(FName)) return false;
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
  if (!UsableEntry(FName)) {
    // Someone else's, or a link: neither used nor taken away.
    if (!FName.isEmpty()) qWarning("quorvel: %s is not this user's: later starts cannot reach this window", qPrintable(FName));
    return false;
  }
  // A program that answers on the socket runs already (two starts at once):
  // its socket is not taken away.
  {
    QLocalSocket probe;
    probe.connectToServer(FName);
    if (probe.waitForConnected(1000)) return false;
  }
  FServer = new QLocalServer(this);
  // Only this user may connect, wherever the socket is.
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
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
