// The window's batch when the process dies or the output folder fills: a
// file under an output's name is always whole, the next batch into the
// folder removes what a killed one left (and the events log says so), and a
// full folder fails the row that met it plainly and stops the rows that
// would be written there next.
//
// The killed window is this test program itself, started again as a child
// that runs one batch through the window (WindowBatchChild below, which
// does nothing unless the parent gives it a batch).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <thread>

#include "AppTestSupport.h"
#include "MainFormFixture.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/ProfilePanel.h"
#include "app/conversion/SimultaneousChoice.h"
#include "app/shell/MainFormUi.h"
#include "app/sources/SourceList.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

// The batch a child window runs: output folder, profile (extension and
// codec), joined or not, and the files, one per line.
constexpr char kBatchOut[] = "QUORVEL_TEST_BATCH_OUT";
constexpr char kBatchExt[] = "QUORVEL_TEST_BATCH_EXT";
constexpr char kBatchCodec[] = "QUORVEL_TEST_BATCH_CODEC";
constexpr char kBatchMerge[] = "QUORVEL_TEST_BATCH_MERGE";
constexpr char kBatchFiles[] = "QUORVEL_TEST_BATCH_FILES";

class WindowBatchTest : public test::TMainFormFixture {
protected:
  // The first profile of the shipped set with that extension and codec.
  void ChooseProfile(const QString& AExt, const QString& ACodec) {
    const TProfiles& profiles = FForm->ProfilePanel().Profiles();
    for (size_t i = 0; i < profiles.size(); ++i)
      if (profiles[i].FormatExt == AExt && profiles[i].AudioCodecName == ACodec) {
        FForm->ProfilePanel().SelectProfile(static_cast<int>(i));
        return;
      }
    FAIL() << "no profile " << AExt.toStdString() << " " << ACodec.toStdString();
  }
  // Convert, as the button does; returns once every row has ended.
  void Convert() {
    FForm->Conversion().ConvertButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 600000);
  }
  QString Tone(const QString& AName, double ASeconds) { return test::MakeSine(FDir + "/" + AName, ASeconds); }
};

// The child's part: one batch through the window, its events log printed.
TEST_F(WindowBatchTest, ChildRunsTheBatchItIsGiven) {
  if (qEnvironmentVariableIsEmpty(kBatchOut)) GTEST_SKIP() << "run by WindowCrashSafety only";
  FForm->Ui().edDestinationFolder->setText(qEnvironmentVariable(kBatchOut));
  FForm->Simultaneous().SetValue(1);
  FForm->DropFiles(qEnvironmentVariable(kBatchFiles).split('\n', Qt::SkipEmptyParts));
  ChooseProfile(qEnvironmentVariable(kBatchExt), qEnvironmentVariable(kBatchCodec));
  FForm->Ui().chMerge->setChecked(qEnvironmentVariable(kBatchMerge) == "1");
  std::cout << "converting\n" << std::flush;
  Convert();
  for (const QString& line : FSink.Log) std::cout << line.toStdString() << "\n";
  std::cout << std::flush;
}

std::vector<QString> PartFiles(const QString& AFolder) {
  std::vector<QString> parts;
  for (const QString& name : QDir(AFolder).entryList({".*.quorvel-part"}, QDir::Files | QDir::Hidden))
    parts.push_back(QDir(AFolder).filePath(name));
  return parts;
}

// A window converting long files in every profile family killed with
// SIGKILL at ten moments drawn from a fixed seed over an uninterrupted
// batch's length: every file under an output's name decodes to its full
// length; the next batch into the folder removes the part files and the
// events log says so.
TEST_F(WindowBatchTest, KilledAtTenMomentsLeavesOnlyWholeOutputs) {
  constexpr double kSeconds = 90;
  const QStringList sources = {Tone("a.wav", kSeconds), Tone("b.wav", kSeconds), Tone("c.wav", kSeconds)};
  const QString shortTone = Tone("short.wav", 0.5);
  const QString out = FDir + "/out";
  const struct TFamily {
    const char* Name;
    const char* Ext;
    const char* Codec;
    bool Merge;
  } families[] = {
      {"MP3", ".mp3", "libmp3lame", false}, {"AAC", ".m4a", "aac", false},       {"FLAC", ".flac", "flac", false},
      {"Opus", ".opus", "libopus", false},  {"WAV", ".wav", "original", false}, {"joined MP3", ".mp3", "libmp3lame", true},
  };
  // A window of this program running one batch, as a child.
  auto start = [&](const TFamily& AFamily, const QStringList& AFiles) {
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kBatchOut, out);
    env.insert(kBatchExt, AFamily.Ext);
    env.insert(kBatchCodec, AFamily.Codec);
    env.insert(kBatchMerge, AFamily.Merge ? "1" : "0");
    env.insert(kBatchFiles, AFiles.join('\n'));
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start(QCoreApplication::applicationFilePath(),
                 {"--gtest_filter=WindowBatchTest.ChildRunsTheBatchItIsGiven"});
    EXPECT_TRUE(child->waitForStarted(30000));
    return child;
  };
  auto checkWhole = [&](const TFamily& AFamily) {
    int whole = 0;
    for (const QFileInfo& file : QDir(out).entryInfoList(QDir::Files)) {
      const test::TDecodedAudio d = test::DecodeAudio(file.filePath().toStdString());
      EXPECT_TRUE(d.Ok) << file.filePath().toStdString() << ": " << d.Error;
      EXPECT_NEAR(d.Seconds, AFamily.Merge ? 3 * kSeconds : kSeconds, 0.1) << file.filePath().toStdString();
      ++whole;
    }
    return whole;
  };

  std::vector<double> spans;
  for (const TFamily& family : families) {
    SCOPED_TRACE(family.Name);
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const auto begin = std::chrono::steady_clock::now();
    auto child = start(family, sources);
    ASSERT_TRUE(child->waitForFinished(600000));
    spans.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    const QString log = child->readAll();
    EXPECT_EQ(child->exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains("-> Conversion successfully done.")) << log.toStdString();
    EXPECT_EQ(checkWhole(family), family.Merge ? 1 : 3);
  }

  std::mt19937 random(20261211);
  int wholeTotal = 0, partsTotal = 0;
  for (int moment = 0; moment < 10; ++moment) {
    const size_t f = static_cast<size_t>(moment) % std::size(families);
    const TFamily& family = families[f];
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    auto child = start(family, sources);
    // From the moment the window starts converting.
    QByteArray said;
    auto converting = [&] {
      said += child->readAll();
      return said.contains("converting") || child->state() != QProcess::Running;
    };
    QTRY_VERIFY_WITH_TIMEOUT(converting(), 60000);
    const int delayMs = std::uniform_int_distribution<int>(0, static_cast<int>(spans[f] * 1000))(random);
    SCOPED_TRACE(std::string(family.Name) + " killed after " + std::to_string(delayMs) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const bool running = child->state() == QProcess::Running;
    ::kill(static_cast<pid_t>(child->processId()), SIGKILL);
    child->waitForFinished(60000);

    const int whole = checkWhole(family);
    const std::vector<QString> parts = PartFiles(out);
    std::cout << "[ kill ] window " << family.Name << " at " << delayMs << " ms of "
              << static_cast<int>(spans[f] * 1000) << ": " << whole << " whole output(s), " << parts.size()
              << " part file(s)" << (running ? "" : " (it had ended)") << "\n";
    wholeTotal += whole;
    partsTotal += static_cast<int>(parts.size());

    // The next batch into the folder.
    auto next = start(families[0], {shortTone});
    ASSERT_TRUE(next->waitForFinished(600000));
    const QString log = next->readAll();
    EXPECT_TRUE(log.contains("-> Conversion successfully done.")) << log.toStdString();
    for (const QString& part : parts)
      EXPECT_TRUE(log.contains("-> removed " + part + ", left by a conversion that was interrupted"))
          << part.toStdString() << "\n" << log.toStdString();
    EXPECT_TRUE(PartFiles(out).empty());
  }
  std::cout << "[ kill ] window, ten kills: " << wholeTotal << " whole outputs kept, " << partsTotal
            << " part files removed by the next batch\n";
}

// The output folder refuses more bytes (a file size limit of this process,
// with SIGXFSZ ignored so that the write fails with EFBIG instead of ending
// the process): the row that met it fails with a message naming the folder,
// said once, its output is gone, the row converted before stays whole, and
// the rows that would have been written there next are stopped.
TEST_F(WindowBatchTest, AFullFolderFailsItsRowPlainlyAndStopsTheRowsWrittenThere) {
  const QStringList rows = {Tone("small0.wav", 0.5), Tone("big.wav", 30), Tone("small1.wav", 0.5),
                            Tone("small2.wav", 0.5)};
  FForm->Simultaneous().SetValue(1);
  FForm->DropFiles(rows);
  ChooseProfile(".wav", "original");
  const QString out = FDir + "/out";
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  Convert();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);

  const QString log = FSink.Log.join('\n');
  const QString message = "File too large: no file this large can be written in the output folder " + out +
                          "; the unfinished output was removed, and the files still waiting to be written there "
                          "are not converted";
  ASSERT_EQ(FSink.Reports.size(), 1u) << log.toStdString();
  EXPECT_TRUE(FSink.Reports[0].first.contains(message)) << FSink.Reports[0].first.toStdString();
  EXPECT_EQ(log.count("not converted"), 1) << log.toStdString();
  EXPECT_TRUE(log.contains("-> Conversion ended with errors: 1 done, 1 failed, 2 stopped.")) << log.toStdString();
  EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"small0.wav"});
  const test::TDecodedAudio kept = test::DecodeAudio((out + "/small0.wav").toStdString());
  EXPECT_TRUE(kept.Ok) << kept.Error;
  EXPECT_NEAR(kept.Seconds, 0.5, 0.01);
}

}  // namespace
}  // namespace quorvel
