// Files given to the program: on its command line at start, and by a later
// start, which hands them over to the running window and ends. The later
// start is the built program itself, run as a child process.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QLocalServer>
#include <QMimeDatabase>
#include <QProcess>
#include <QStackedWidget>
#include <QFileInfo>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <thread>

#include "AppTestSupport.h"
#include "app/shell/AppWindows.h"
#include "app/shell/InstanceChannel.h"
#include "app/shell/MainForm.h"
#include "app/shell/MainFormUi.h"
#include "app/shell/QuitSignals.h"
#include "app/shell/Widgets.h"
#include "app/sources/SourceList.h"
#include "profiles/ShippedFiles.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

TEST(CommandLineFiles, AreMadeAbsoluteAgainstTheWorkingFolder) {
  const QStringList args = {"quorvel", "a.wav", "/music/b.mp3", "../up/c.flac", "file:///music/d%20e.ogg", "",
                            "sub/./f.wav"};
  EXPECT_EQ(CommandLineFiles(args, "/home/user/work"),
            (QStringList{"/home/user/work/a.wav", "/music/b.mp3", "/home/user/up/c.flac", "/music/d e.ogg",
                         "/home/user/work/sub/f.wav"}));
  EXPECT_TRUE(CommandLineFiles({"quorvel"}, "/x").isEmpty());
}

TEST(ShippedFiles, BesideTheProgramOrInTheInstallationsShareFolder) {
  const QString root = QString::fromStdString(test::ScratchDir()) + "/shipped";
  QDir(root).removeRecursively();
  auto profileSet = [](const QString& AFolder) {
    QDir().mkpath(AFolder + "/mp3-converter-profiles");
    QFile f(AFolder + "/mp3-converter-profiles/formats.dat");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  };
  QDir().mkpath(root + "/build/app");
  profileSet(root + "/build/app");
  QDir().mkpath(root + "/usr/bin");
  profileSet(root + "/usr/share/quorvel");
  QDir().mkpath(root + "/bare/bin");
  EXPECT_EQ(ShippedFilesFolder(root + "/build/app"), root + "/build/app/");
  EXPECT_EQ(ShippedFilesFolder(root + "/usr/bin"), root + "/usr/share/quorvel/");
  EXPECT_EQ(ShippedFilesFolder(root + "/bare/bin"), root + "/bare/bin/");  // reported missing later
}

TEST(DesktopEntry, NamesTheMimeTypeOfEveryFormatTheOpenDialogOffers) {
  QFile entry(QStringLiteral(QUORVEL_TEST_DATA_DIR) + "/../../resources/desktop/quorvel.desktop");
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  QStringList listed;
  for (const QByteArray& line : entry.readAll().split('\n'))
    if (line.startsWith("MimeType=")) listed = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
  ASSERT_FALSE(listed.isEmpty());
  const QMimeDatabase mime;
  int known = 0;
  for (const QString& part : BuildOpenFilter().split('|')) {
    if (part.contains('(') || !part.contains('*')) continue;  // a description
    for (QString pattern : part.split(';', Qt::SkipEmptyParts)) {
      pattern = pattern.trimmed();
      if (pattern == "*") continue;
      // "*m2ts" and "*.h.264" are patterns too: a file name that fits them.
      const QString name = "file" + pattern.mid(pattern.indexOf('*') + 1);
      const QList<QMimeType> types = mime.mimeTypesForFileName(name);
      if (types.isEmpty()) continue;  // the desktop knows no type for it
      ++known;
      bool found = false;
      for (const QMimeType& t : types) {
        found = found || listed.contains(t.name());
        for (const QString& alias : t.aliases()) found = found || listed.contains(alias);
      }
      EXPECT_TRUE(found) << name.toStdString() << " is " << types.first().name().toStdString();
    }
  }
  EXPECT_GT(known, 40);
}

class StartFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::ResetUserState();
    FProgram = test::MakeProgramFolder();
    FDir = QDir::cleanPath(FProgram + "../start");
    QDir(FDir).removeRecursively();
    QDir().mkpath(FDir);
  }
  QString Tone(const QString& AName, double ASeconds) {
    return test::MakeSine(FDir + "/" + AName, ASeconds, QString());
  }
  QStringList Sources(TAppWindows& AWindows) {
    QStringList s;
    for (const TAudioFile& f : AWindows.Main().SourceList().AudioFiles()) s << f.Source;
    return s;
  }

  QString FProgram;
  QString FDir;
  test::TRecordingDesktop FDesktop;
};

TEST_F(StartFilesTest, StartsWithItsFilesAndTakesALaterStartsFiles) {
  const QString a = Tone("a.wav", 0.5);
  const QString b = QString::fromStdString(test::SharedMedia("emacspeak__emacspeak.mp3"));
  const QString c = Tone("c.flac", 0.5);
  QFile bad(FDir + "/notes.mp3");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("only text");
  bad.close();

  TAppWindows windows({FProgram, {}, &FDesktop});
  windows.Main().show();
  {
    // As the open dialog's files: probed, the same refusal for a file that
    // is no media.
    test::TMessageCatcher messages;
    windows.OpenFiles(CommandLineFiles({"quorvel", "a.wav", b, "notes.mp3"}, FDir));
    EXPECT_EQ(messages.Texts,
              QStringList{"File notes.mp3 is not a valid media file or its format is not supported."});
  }
  EXPECT_EQ(Sources(windows), (QStringList{a, b}));
  EXPECT_EQ(windows.Main().SourceList().SelectedIndex(), 0);
  EXPECT_EQ(windows.Main().Ui().stkList->currentWidget(), windows.Main().SourceList().Grid());

  // This process's runtime folder is its own (see the test main), and the
  // child started below inherits it: both meet at the default socket.
  TInstanceChannel channel;
  windows.ServeLaterStarts(channel);
  QProcess later;
  later.setWorkingDirectory(FDir);
  later.setProcessChannelMode(QProcess::MergedChannels);
  later.start(test::BuiltProgramFolder() + "quorvel", {"c.flac"});
  ASSERT_TRUE(later.waitForStarted(10000));
  // The event loop runs meanwhile: this window answers the later start.
  QTRY_VERIFY_WITH_TIMEOUT(later.state() == QProcess::NotRunning, 60000);
  EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(later.exitCode(), 0) << later.readAll().toStdString();
  QTRY_COMPARE_WITH_TIMEOUT(Sources(windows), (QStringList{a, b, c}), 10000);

  // Rows from the command line and from a later start each get their own
  // status in a conversion.
  QDir().mkpath(FDir + "/out");
  windows.Main().Ui().edDestinationFolder->setText(FDir + "/out");
  windows.Main().Ui().btnConvert->click();
  QTableWidget* grid = windows.Main().SourceList().Grid();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(grid->item(i, 4)->text(), "done") << i;
  for (const char* out : {"a.mp3", "emacspeak__emacspeak.mp3", "c.mp3"})
    EXPECT_TRUE(QFileInfo::exists(FDir + "/out/" + out)) << out;
}

// 300 copies of a short tone, named out of their name order.
QStringList ManyCopies(const QString& ATone, const QString& AFolder) {
  QDir().mkpath(AFolder);
  QStringList files;
  for (int i = 0; i < 300; ++i) {
    const QString copy = AFolder + QString("/n%1.wav").arg(299 - i, 3, 10, QChar('0'));
    if (!QFile::exists(copy)) QFile::copy(ATone, copy);
    files << copy;
  }
  return files;
}

// The window closed 100 ms into adding 300 files named on the command line
// (before the progress dialog shows), by its close button or by a signal,
// while the program's event loop runs: the add gives up at once, the
// program ends, and no row is left half-added.
TEST_F(StartFilesTest, ClosingWhileManyFilesAreAddedGivesTheAddUp) {
  const QStringList files = ManyCopies(Tone("t.wav", 0.2), FDir + "/many");
  const struct {
    const char* Name;
    int Signal;  // 0: the close button
  } cases[] = {{"close button", 0}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TAppWindows windows({FProgram, {}, &FDesktop});
    windows.Main().show();
    TQuitSignals quit(windows.Main());
    bool returned = false;
    // As main does: the command line's files, then the event loop.
    QTimer::singleShot(0, [&] {
      windows.OpenFiles(files);
      returned = true;
    });
    QTimer::singleShot(100, [&] {
      if (c.Signal)
        ::raise(c.Signal);
      else
        windows.Main().close();
    });
    // Only against a hang: the closed window ends the loop.
    QTimer hang;
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    hang.start(120000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(returned);
    EXPECT_FALSE(windows.Main().isVisible());
    // Nothing of the add went in: no row, no grid row.
    EXPECT_EQ(windows.Main().SourceList().RowCount(), 0);
    EXPECT_EQ(windows.Main().SourceList().Grid()->rowCount(), 0);
  }
}

// While files are being added (the probing serves the event loop) the
// window's commands wait: a click on Convert or Clear and a second drop are
// refused, and a later start's files are added after the add in progress.
TEST_F(StartFilesTest, WhileFilesAreAddedTheWindowsCommandsWait) {
  const QString first = Tone("first.wav", 0.3);
  const QString dropped = Tone("dropped.wav", 0.3);
  const QString later = Tone("later.wav", 0.3);
  const QStringList files = ManyCopies(Tone("t.wav", 0.2), FDir + "/many");
  TAppWindows windows({FProgram, {}, &FDesktop});
  TMainForm& main = windows.Main();
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  QDir().mkpath(FDir + "/out");
  main.Ui().edDestinationFolder->setText(FDir + "/out");
  windows.OpenFiles({first});
  ASSERT_EQ(Sources(windows), QStringList{first});
  auto drop = [&](const QStringList& APaths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : APaths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &enter);
    QDropEvent event(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &event);
  };
  bool acted = false;
  // The first event the loop serves comes while the 300 files are probed.
  QTimer::singleShot(0, [&] {
    acted = true;
    QTest::mouseClick(main.Ui().btnConvert, Qt::LeftButton);
    QTest::mouseClick(main.Ui().btnClear, Qt::LeftButton);
    drop({dropped});
    windows.OpenFiles({later});
  });
  drop(files);
  ASSERT_TRUE(acted);
  // The later start's file comes once the add has returned.
  EXPECT_TRUE(QTest::qWaitFor([&] { return main.SourceList().Grid()->rowCount() == 302; }, 120000));
  QStringList expected{first};
  expected << files << later;
  EXPECT_EQ(Sources(windows), expected);
  EXPECT_EQ(main.SourceList().Grid()->rowCount(), 302);
  EXPECT_EQ(QDir(FDir + "/out").entryList(QDir::Files), QStringList{});  // nothing was converted
}

TEST_F(StartFilesTest, AStartFindsNoProgramAndAStaleSocketIsTakenOver) {
  // A socket's path must be short: the test home's runtime folder is.
  const QString name = test::TestHome() + "/runtime/stale.socket";
  QFile::remove(name);
  TInstanceChannel first(name);
  EXPECT_FALSE(first.HandOver({"/x.wav"}, 2000));  // nobody listens
  // A socket file left by a program that died.
  QFile left(name);
  ASSERT_TRUE(left.open(QIODevice::WriteOnly));
  left.close();
  ASSERT_TRUE(first.Listen());
  QStringList received;
  QObject::connect(&first, &TInstanceChannel::FilesReceived, [&](const QStringList& AFiles) { received = AFiles; });
  // Two programs may not both listen: the second hands over instead.
  TInstanceChannel second(name);
  EXPECT_FALSE(second.Listen());
  // As a later start does, but on a thread: this one's event loop answers.
  std::atomic<bool> handed{false};
  std::thread later([&] { handed = second.HandOver({"/x.wav", "/y z.mp3"}, 20000); });
  QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), 20000);
  later.join();
  EXPECT_TRUE(handed);
  EXPECT_EQ(received, (QStringList{"/x.wav", "/y z.mp3"}));
}

// Without a runtime folder the socket lives in this user's private folder
// in the temporary folder. Whatever another user (or anyone, through a
// link) put under the names beforehand is never used, never followed and
// never taken away: the start then runs alone instead.
TEST(InstanceSocket, WithoutARuntimeFolderPlantedNamesAreNeverUsedNorFollowed) {
  char pattern[] = "/tmp/qv-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const QString temp = pattern;
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedTmp = qgetenv("TMPDIR");
  qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", temp.toUtf8());
  const QString folder = temp + QStringLiteral("/quorvel-%1").arg(::getuid());
  const QString socket = folder + "/instance.socket";
  // Somewhere else a link may lead, with a listener of its own there.
  const QString elsewhere = temp + "/elsewhere";
  const bool root = ::geteuid() == 0;  // only root can give a file to another user
  const uid_t other = 65534;

  enum class TPlant { Nothing, FolderLink, OpenFolder, OthersFolder, SocketLink, OthersSocket, RuntimeOfOthers };
  const struct {
    const char* Name;
    TPlant Plant;
    bool Used;  // whether the channel works
  } cases[] = {
      {"nothing there", TPlant::Nothing, true},
      {"the folder's name is a link", TPlant::FolderLink, false},
      {"the folder is open to others", TPlant::OpenFolder, false},
      {"the folder is another user's", TPlant::OthersFolder, false},
      {"the socket's name is a link", TPlant::SocketLink, false},
      {"the socket is another user's", TPlant::OthersSocket, false},
      {"a runtime folder of another user", TPlant::RuntimeOfOthers, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!root && (c.Plant == TPlant::OthersFolder || c.Plant == TPlant::OthersSocket ||
                  c.Plant == TPlant::RuntimeOfOthers))
      continue;
    QDir(folder).removeRecursively();
    QFile::remove(folder);
    QDir(elsewhere).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    QFile::setPermissions(elsewhere, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // A listener in the other place: what a planted link would lead to.
    QLocalServer trap;
    ASSERT_TRUE(trap.listen(elsewhere + "/instance.socket"));
    qunsetenv("XDG_RUNTIME_DIR");
    switch (c.Plant) {
      case TPlant::Nothing:
        break;
      case TPlant::FolderLink:
        ASSERT_TRUE(QFile::link(elsewhere, folder));
        break;
      case TPlant::OpenFolder:
        ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        break;
      case TPlant::OthersFolder:
        ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), other, other), 0);
        break;
      case TPlant::SocketLink:
        ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
        ASSERT_TRUE(QFile::link(elsewhere + "/instance.socket", socket));
        break;
      case TPlant::OthersSocket:
        ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
        {
          QFile planted(socket);
          ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        }
        ASSERT_EQ(::chown(QFile::encodeName(socket).constData(), other, other), 0);
        break;
      case TPlant::RuntimeOfOthers:
        // Set, but not this user's: the private folder stands in.
        ASSERT_EQ(::chown(QFile::encodeName(elsewhere).constData(), other, other), 0);
        qputenv("XDG_RUNTIME_DIR", elsewhere.toUtf8());
        break;
    }
    const QString name = TInstanceChannel::DefaultName();
    if (c.Plant == TPlant::Nothing || c.Plant == TPlant::SocketLink || c.Plant == TPlant::OthersSocket ||
        c.Plant == TPlant::RuntimeOfOthers)
      EXPECT_EQ(name, socket);
    else
      EXPECT_EQ(name, QString());
    TInstanceChannel running(name);
    EXPECT_EQ(running.Listen(), c.Used);
    TInstanceChannel later(name);
    EXPECT_FALSE(later.Listen());
    QStringList received;
    QObject::connect(&running, &TInstanceChannel::FilesReceived, [&](const QStringList& AFiles) { received = AFiles; });
    std::atomic<bool> handed{false};
    std::thread start([&] { handed = later.HandOver({"/x.wav"}, 5000); });
    if (c.Used) QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), 20000);
    start.join();
    EXPECT_EQ(handed.load(), c.Used);
    // Nothing went to the other place, and what was planted is still there.
    QCoreApplication::processEvents();
    EXPECT_FALSE(trap.hasPendingConnections());
    EXPECT_TRUE(QFileInfo::exists(elsewhere + "/instance.socket"));
    struct stat st {};
    if (c.Used) {
      ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &st), 0);
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0700u);
      EXPECT_EQ(st.st_uid, ::getuid());
    }
    if (c.Plant == TPlant::SocketLink) EXPECT_TRUE(QFileInfo(socket).isSymLink());
    if (c.Plant == TPlant::OthersSocket) {
      ASSERT_EQ(::lstat(QFile::encodeName(socket).constData(), &st), 0);
      EXPECT_EQ(st.st_uid, other);
    }
    if (c.Plant == TPlant::RuntimeOfOthers) ASSERT_EQ(::chown(QFile::encodeName(elsewhere).constData(), ::getuid(), ::getgid()), 0);
  }
  qputenv("XDG_RUNTIME_DIR", savedRuntime);
  if (savedTmp.isNull()) qunsetenv("TMPDIR"); else qputenv("TMPDIR", savedTmp);
  QDir(temp).removeRecursively();
}

}  // namespace
}  // namespace quorvel
