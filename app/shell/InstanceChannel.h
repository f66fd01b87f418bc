// One window per user: a later start of the program hands the files it was
// given to the window that runs already, over a local socket in a folder only
// the user can enter, and ends. The running program listens on that socket;
// a name that another user or a link holds is never used.
//
// The message is the list of absolute file names (QDataStream); the running
// program answers with one byte once it has taken them, so the later start
// ends only when its files are safe. Everything runs on the user-interface
// thread.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace quorvel {

// The files of a command line: each argument after the program's name, made
// absolute against AWorkingFolder ("file:" addresses are taken as their
// local files).
QStringList CommandLineFiles(const QStringList& AArguments, const QString& AWorkingFolder);

class TInstanceChannel : public QObject {
  Q_OBJECT
public:
  // The socket of this user's running program, in a folder only this user
  // can enter: the runtime folder, or this user's private folder in the
  // temporary folder. Empty when there is no such place (each start then
  // opens its own window).
  static QString DefaultName();
  explicit TInstanceChannel(QString AName = DefaultName(), QObject* AParent = nullptr);
  ~TInstanceChannel() override;

  // Gives AFiles to a running program; true when one took them (then this
  // start has nothing more to do). False at once when none runs.
  bool HandOver(const QStringList& AFiles, int ATimeoutMs = 10000);
  // Becomes the running program; false when the socket cannot be made
  // (the program then runs alone, as a second window would).
  bool Listen();

signals:
  // A later start's files, on the user-interface thread.
  void FilesReceived(const QStringList& AFiles);

private:
  void Accept();

  QString FName;
  QLocalServer* FServer = nullptr;
};

}  // namespace quorvel
