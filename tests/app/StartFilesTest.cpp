// Files given to the program: on its command line at start, and by a later
// start, which hands them over to the running window and ends. The later
// start is the built program itself, run as a child process.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QMimeDatabase>
#include <QProcess>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "AppTestSupport.h"
#include "app/shell/AppWindows.h"
#include "app/shell/InstanceChannel.h"
#include "app/shell/MainForm.h"
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
    const QString path = FDir + "/" + AName;
    const std::string cmd =
        QString("sox -n -r 44100 -c 2 -b 16 '%1' synth %2 sine 440").arg(path).arg(ASeconds).toStdString();
    EXPECT_EQ(test::Run(cmd), 0) << cmd;
    return path;
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

}  // namespace
}  // namespace quorvel
