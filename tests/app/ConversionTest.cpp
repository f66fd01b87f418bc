// The source list, the batch conversion and the file information dialog,
// driven through the real main window offscreen. Inputs are short files made
// with sox at test time plus the shared sample media; every output is
// decoded again to check what was written.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "AppTestSupport.h"
#include "app/shell/AppWindows.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/OutputFolderField.h"
#include "app/conversion/ConvForm.h"
#include "app/conversion/OutputNamesField.h"
#include "app/sources/FileAdder.h"
#include "app/sources/FileInfoForm.h"
#include "app/shell/MainForm.h"
#include "app/shell/PowerService.h"
#include "app/shell/Settings.h"
#include "app/conversion/ProfilePanel.h"
#include "app/conversion/SimultaneousChoice.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"
#include "media/encoder/FFEncode.h"
#include "support/DecodeBack.h"
#include "support/LibraryTree.h"
#include "media/batch/NamePattern.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::SharedMedia;
using test::TMessageCatcher;

// Profiles of the shipped set used below.
constexpr int kMp3 = 0;
constexpr int kOgg = 2;
constexpr int kWav = 6;

// ------------------------------------------------------------ pure helpers

TEST(MediaTimeText, FormatsWholeSecondsWithUnlimitedHours) {
  const struct {
    int64_t Time;
    const char* Text;
  } cases[] = {{0, "00:00:00"},         {90'500'000, "00:01:30"},      {3'599'999'999, "00:59:59"},
               {90'000'000'000, "25:00:00"}, {-1, "00:00:00"}};
  for (const auto& c : cases) EXPECT_EQ(FormatMediaTime(c.Time), c.Text) << c.Time;
}

TEST(MediaTimeText, TimeOfDayToMicroseconds) {
  EXPECT_EQ(TextTimeToMediaTime(QTime(1, 2, 3, 4)), ((3600LL + 120 + 3) * 1000 + 4) * 1000);
  EXPECT_EQ(TextTimeToMediaTime(QTime(23, 59, 59)), 86'399'000'000LL);
}

TEST(ListTexts, ExtensionAndBitRate) {
  const struct {
    const char* Name;
    const char* Title;
  } names[] = {{"song.mp3", "song"}, {"a.b.flac", "a.b"}, {"noext", "noext"}, {".hidden", ""}};
  for (const auto& n : names) EXPECT_EQ(RemoveExtension(n.Name), n.Title) << n.Name;
  const struct {
    int64_t Rate;
    const char* Text;
  } rates[] = {{128000, "128 Kb"}, {999, "0 Kb"}, {0, "is not preseted"}, {-1, "is not preseted"}};
  for (const auto& r : rates) EXPECT_EQ(BitRateText(r.Rate), r.Text) << r.Rate;
}

// --------------------------------------------------------------- fixtures

class TRecordingPower : public TPowerService {
public:
  QString VersionText() override { return "Linux Version test"; }
  bool PowerOff(QString&) override {
    ++Calls;
    return true;
  }
  int Calls = 0;
};

// A file's bytes.
QByteArray Bytes(const QString& APath) {
  QFile f(APath);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

// What a file decodes to, at its own rate and channel count.
test::TDecodedAudio DecodeFile(const QString& APath) { return test::DecodeAudio(APath.toStdString()); }

class ListWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::ResetUserState();
    FProgram = test::MakeProgramFolder();  // clears the scratch folder first
    FDir = QDir::cleanPath(FProgram + "../media");
    QDir(FDir).removeRecursively();
    QDir().mkpath(FDir + "/out");
    FForm = std::make_unique<TMainForm>(TAppServices{FProgram, {}, &FDesktop, &FPower}, FSink);
    FForm->FormCreate();
    FForm->Ui().edDestinationFolder->setText(FDir + "/out");
    ASSERT_TRUE(FForm->PrepareSourceList());
  }
  void TearDown() override { FForm.reset(); }

  // A sine made by sox: ASeconds long, at ARate with AChannels.
  QString Tone(const QString& AName, double ASeconds, int ARate = 44100, int AChannels = 2) {
    return test::MakeSine(FDir + "/" + AName, ASeconds, QStringLiteral("vol 0.5"), 440, ARate, AChannels);
  }
  void Add(const QString& APath) { ASSERT_TRUE(FForm->AddMediaFile(APath)) << APath.toStdString(); }
  TSourceList& List() { return FForm->SourceList(); }
  const TAudioFile& Row(int AIndex) { return List().Rows().At(AIndex); }
  QString Cell(int ARow, int AColumn) { return List().Grid()->item(ARow, AColumn)->text(); }
  void Select(int AIndex) {
    List().SelectIndex(AIndex);
    FForm->sgListClick();
  }
  // Types the trim times into the fields and presses Enter.
  void Trim(int AIndex, QTime AStart, QTime AEnd) {
    Select(AIndex);
    FForm->Ui().edTimeStart->setTime(AStart);
    FForm->Ui().edTimeEnd->setTime(AEnd);
    QTest::keyClick(FForm->Ui().edTimeEnd, Qt::Key_Return);
  }
  bool Logged(const QString& ALine) const { return FSink.Log.contains("[t]" + ALine); }
  QString Out(const QString& AName) const { return FDir + "/out/" + AName; }

  // The files as the user chooses them: the Add button, then the names
  // typed into the open dialog's name field (several, each in quotes) in
  // the media folder, and Enter.
  void AddThroughTheOpenDialog(const QStringList& APaths) {
    QStringList quoted;
    for (const QString& p : APaths) quoted << "\"" + QFileInfo(p).fileName() + "\"";
    test::OnNextModal([&](QWidget* AModal) {
      auto* dialog = qobject_cast<QFileDialog*>(AModal);
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(FDir);
      // Once the dialog has read the folder, as the user sees it.
      auto* view = dialog->findChild<QListView*>("listView");
      ASSERT_NE(view, nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(view->model()->rowCount(view->rootIndex()) >= APaths.size(), 10000);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      dialog->activateWindow();
      name->setFocus();
      QTRY_VERIFY_WITH_TIMEOUT(name->hasFocus(), 5000);
      name->clear();
      QTest::keyClicks(name, quoted.join(' '));
      QTest::keyClick(name, Qt::Key_Return);
      if (dialog->isVisible()) dialog->reject();  // the dialog refused the names
    });
    FForm->Ui().btnAdd->click();
  }
  // Files dropped on the window.
  void Drop(const QStringList& APaths) { test::DropFiles(FForm.get(), APaths); }

  QString FProgram;
  QString FDir;
  test::TRecordingSink FSink;
  test::TRecordingDesktop FDesktop;
  TRecordingPower FPower;
  std::unique_ptr<TMainForm> FForm;
};

// ------------------------------------------------------------ the list

TEST_F(ListWindowTest, AddsProbedFilesAndRefusesOthersWithAMessage) {
  const QString tone = Tone("two.dots.tone.wav", 1.5);
  const QString bad = FDir + "/broken.mp3";
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("this is not audio at all, only some text pretending to be one");
  f.close();
  TMessageCatcher messages;
  Add(tone);
  Add(QString::fromStdString(SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")));
  EXPECT_FALSE(FForm->AddMediaFile(bad));
  Add(tone);  // the same file again is a row of its own
  ASSERT_EQ(List().RowCount(), 3);
  EXPECT_EQ(List().Grid()->rowCount(), 3);
  EXPECT_EQ(messages.Texts,
            QStringList{"File broken.mp3 is not a valid media file or its format is not supported."});
  EXPECT_TRUE(Logged("-> Added file " + tone));
  EXPECT_TRUE(FSink.Log.filter("-> File load error: ").size() == 1);
  EXPECT_EQ(Cell(0, 0), "two.dots.tone.wav");
  EXPECT_EQ(Cell(0, 2), "two.dots.tone");
  EXPECT_EQ(Cell(0, 3), ".mp3");
  EXPECT_EQ(Row(0).TimeStart, 0);
  EXPECT_NEAR(Row(0).TimeEnd, 1'500'000, 20'000);
  EXPECT_EQ(Row(0).TrimmedLength, Row(0).TimeEnd);
  EXPECT_NEAR(Row(1).TrimmedLength, 5'600'000, 100'000);
  EXPECT_EQ(Cell(1, 2), "golang-github-gabriel-vasile-mimetype-dev__mp4");
  EXPECT_EQ(Row(0).Status, "-");
}

TEST_F(ListWindowTest, EstimatesFromTheProfileBitRate) {
  Add(Tone("a.wav", 0.5));
  TProfile& p = FForm->ProfilePanel().Profiles()[static_cast<size_t>(Row(0).ProfileInd)];
  const struct {
    int64_t Length;
    const char* Rate;
    const char* Shown;
  } cases[] = {{90'500'000, "128000", "1.41 MB"}, {0, "128000", "0.00 MB"}, {-1, "128000", "0.00 MB"},
               {90'500'000, "not a number", "0.00 MB"}};  // the estimate before stays
  for (const auto& c : cases) {
    p.AudioBitRate = c.Rate;
    List().Rows().SetTrim(0, 0, c.Length);
    List().UpdateEstimatedSize(0);
    List().Repaint();
    EXPECT_EQ(Cell(0, 1), c.Shown) << c.Length << " " << c.Rate;
  }
}

TEST_F(ListWindowTest, TrimFieldsTakeEffectOnEnter) {
  Add(Tone("a.wav", 3));
  Trim(0, QTime(0, 0, 1), QTime(0, 0, 2));
  EXPECT_EQ(Row(0).TimeStart, 1'000'000);
  EXPECT_EQ(Row(0).TimeEnd, 2'000'000);
  EXPECT_EQ(Row(0).TrimmedLength, 1'000'000);
  Trim(0, QTime(0, 0, 2), QTime(0, 0, 1));  // end before start: ignored
  EXPECT_EQ(Row(0).TimeStart, 1'000'000);
  EXPECT_EQ(Row(0).TimeEnd, 2'000'000);
  Trim(0, QTime(0, 0, 2), QTime(0, 0, 2));  // equal: an empty part
  EXPECT_EQ(Row(0).TrimmedLength, 0);
  EXPECT_EQ(Cell(0, 1), "0.00 MB");
  // Without Enter nothing is taken.
  FForm->Ui().edTimeStart->setTime(QTime(0, 0, 0));
  EXPECT_EQ(Row(0).TimeStart, 2'000'000);
}

TEST_F(ListWindowTest, RenameRemoveAndReorder) {
  const QString tone = Tone("a.wav", 0.3);
  for (int i = 0; i < 4; ++i) Add(tone);
  auto titles = [this] {
    QStringList t;
    for (const TAudioFile& f : List().AudioFiles()) t << f.DestinationTitle;
    return t;
  };
  for (int i = 0; i < 4; ++i) {
    Select(i);
    FForm->Rename1Click();
    ASSERT_FALSE(List().NameEditor()->isHidden());
    EXPECT_EQ(List().NameEditor()->selectedText(), "a");
    List().NameEditor()->setText(QString("r%1").arg(i));
    QTest::keyClick(List().NameEditor(), Qt::Key_Return);
    EXPECT_TRUE(List().NameEditor()->isHidden());
  }
  EXPECT_EQ(titles(), (QStringList{"r0", "r1", "r2", "r3"}));
  Select(0);
  FForm->MoveUp1Click();  // first row: nothing
  Select(3);
  FForm->MoveDown1Click();  // last row: nothing
  EXPECT_EQ(titles(), (QStringList{"r0", "r1", "r2", "r3"}));
  FForm->MoveUp1Click();
  EXPECT_EQ(titles(), (QStringList{"r0", "r1", "r3", "r2"}));
  EXPECT_EQ(List().SelectedIndex(), 2);
  FForm->MoveDown1Click();
  EXPECT_EQ(titles(), (QStringList{"r0", "r1", "r2", "r3"}));
  Select(1);
  FForm->Remove1Click();
  EXPECT_EQ(titles(), (QStringList{"r0", "r2", "r3"}));
  EXPECT_EQ(List().Grid()->rowCount(), 3);
  Select(2);
  FForm->Remove1Click();
  EXPECT_EQ(titles(), (QStringList{"r0", "r2"}));
  // An empty name is taken as typed.
  Select(0);
  FForm->Rename1Click();
  List().NameEditor()->clear();
  QTest::keyClick(List().NameEditor(), Qt::Key_Return);
  EXPECT_EQ(Row(0).DestinationTitle, "");
  FForm->Remove1Click();
  FForm->Remove1Click();  // the only row left: the list is cleared
  EXPECT_EQ(List().RowCount(), 0);
  EXPECT_EQ(List().Grid()->rowCount(), 0);
  EXPECT_FALSE(FForm->Ui().popRemove->isEnabled());
  EXPECT_TRUE(FForm->Ui().btnConvert->isEnabled());
}

// A dropped folder brings every file beneath it (hidden ones left out), in
// its place among the other dropped files; what is not media is refused in
// the one message.
TEST_F(ListWindowTest, DroppedFoldersAreWalkedInPlace) {
  const QString tone = Tone("a.wav", 0.3);
  QDir().mkpath(FDir + "/folder1/sub 2");
  QDir().mkpath(FDir + "/folder1/sub 10");
  QDir().mkpath(FDir + "/folder2");
  ASSERT_TRUE(QFile::copy(tone, FDir + "/folder1/sub 10/c.wav"));
  ASSERT_TRUE(QFile::copy(tone, FDir + "/folder1/sub 2/b.wav"));
  ASSERT_TRUE(QFile::copy(tone, FDir + "/folder1/.hidden.wav"));
  QFile notes(FDir + "/folder1/notes.txt");
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  notes.write("liner notes");
  notes.close();
  TMessageCatcher messages;
  FForm->DropFiles({FDir + "/folder1", tone, FDir + "/folder2", tone});
  ASSERT_EQ(List().RowCount(), 4);
  EXPECT_EQ(Row(0).Source, FDir + "/folder1/sub 2/b.wav");
  EXPECT_EQ(Row(1).Source, FDir + "/folder1/sub 10/c.wav");
  EXPECT_EQ(Row(0).Root, FDir + "/folder1");
  EXPECT_EQ(Row(2).Source, tone);
  EXPECT_EQ(Row(2).Root, QString());
  EXPECT_EQ(messages.Texts, QStringList{TFileAdder::RefusalText({"notes.txt"})});
  EXPECT_EQ(FSink.Log.filter("-> File load error: ").size(), 1);
  EXPECT_EQ(List().SelectedIndex(), 0);
}

// Hundreds of files at once: probed off the window's thread, the rows in
// the order given, each refused file logged as a single add logs it and all
// of them told in one message.
TEST_F(ListWindowTest, ManyFilesComeInOrderWithTheRefusalsToldOnce) {
  const QString tone = Tone("t.wav", 0.2, 48000, 1);
  const QString bad = FDir + "/broken.mp3";
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("not audio, only text");
  f.close();
  QStringList files, expected;
  for (int i = 0; i < 300; ++i) {
    if (i == 100) files << bad;
    if (i == 250) files << FDir + "/gone.wav";
    const QString copy = FDir + QString("/n%1.wav").arg(299 - i, 3, 10, QChar('0'));  // not in name order
    ASSERT_TRUE(QFile::copy(tone, copy));
    files << copy;
    expected << QFileInfo(copy).fileName();
  }
  TMessageCatcher messages;
  FForm->DropFiles(files);
  ASSERT_EQ(List().RowCount(), 300);
  ASSERT_EQ(List().Grid()->rowCount(), 300);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(Row(i).SourceTitleExt, expected[i]) << i;
    ASSERT_EQ(Cell(i, 0), expected[i]) << i;
    EXPECT_NEAR(Row(i).TimeEnd, 200'000, 30'000) << i;
    // What "Original" keeps, for the size estimate.
    ASSERT_EQ(Row(i).SourceAudio.SampleRate, 48000) << i;
    ASSERT_EQ(Row(i).SourceAudio.Channels, 1) << i;
    ASSERT_EQ(Row(i).SourceAudio.Bits, 16) << i;
  }
  EXPECT_EQ(messages.Texts, QStringList{TFileAdder::RefusalText({"broken.mp3", "gone.wav"})});
  EXPECT_EQ(FSink.Log.filter("-> File load error: ").size(), 2);
  // The log names the files in the list's order, however many threads
  // probed them.
  const QStringList added = FSink.Log.filter("-> Added file ");
  ASSERT_EQ(added.size(), 300);
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(added[i].endsWith("/" + expected[i])) << added[i].toStdString();
  EXPECT_EQ(TFileAdder::RefusalText({"x.mp3"}), "File x.mp3 is not a valid media file or its format is not supported.");
}

// ------------------------------------------------------- the conversion

TEST_F(ListWindowTest, ConvertsEachRowWithItsOwnProfileTrimAndVolume) {
  const QString tone = Tone("tone.wav", 2, 48000, 2);
  const QString video = QString::fromStdString(SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4"));
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  Add(tone);
  Add(tone);
  Add(video);
  List().Rows().SetTitle(1, "trimmed");
  List().Rows().SetProfile(1, kOgg);
  List().Rows().SetProfile(2, kWav);
  Trim(1, QTime(0, 0, 0), QTime(0, 0, 1));
  Trim(2, QTime(0, 0, 1), QTime(0, 0, 2));
  FForm->Ui().edVolume->setValue(50);
  FForm->Conversion().ConvertButtonClick();  // returns when the dialog closes

  EXPECT_TRUE(Logged("-> Started conversion"));
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  EXPECT_TRUE(FSink.Reports.empty());
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_EQ(FDesktop.Opened[0], QUrl::fromLocalFile(FDir + "/out"));
  const test::TDecodedAudio source = DecodeFile(tone);
  const struct {
    QString File;
    const char* Format;
    int Rate, Channels;
    double Seconds;
  } outputs[] = {{Out("tone.mp3"), "mp3", 44100, 2, 2.0},
                 {Out("trimmed.ogg"), "ogg", 44100, 2, 1.0},
                 // WAV keeps the source's rate and channels: the video's 48 kHz mono.
                 {Out("golang-github-gabriel-vasile-mimetype-dev__mp4.wav"), "wav", 48000, 1, 1.0}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.File.toStdString());
    const test::TDecodedAudio d = DecodeFile(o.File);
    ASSERT_TRUE(d.Ok);
    EXPECT_EQ(d.Format, o.Format);
    EXPECT_EQ(d.SampleRate, o.Rate);
    EXPECT_EQ(d.Channels, o.Channels);
    EXPECT_NEAR(d.Seconds, o.Seconds, 0.1);
  }
  // Half the volume: the sine's level halves.
  EXPECT_NEAR(DecodeFile(Out("tone.mp3")).Rms / source.Rms, 0.5, 0.05);
  EXPECT_NEAR(DecodeFile(Out("trimmed.ogg")).Rms / source.Rms, 0.5, 0.05);
  EXPECT_EQ(FForm->Conversion().ConvForm().ProgressCurrent->value(), 100);
}

TEST_F(ListWindowTest, MergesAllRowsWithTheSelectedRowsProfile) {
  for (const char* n : {"m1.wav", "m2.wav", "m3.wav"}) Add(Tone(n, 1));
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  List().Rows().SetProfile(1, kWav);
  Trim(0, QTime(0, 0, 0), QTime(0, 0, 0));  // ignored when merging
  Select(1);
  FForm->Ui().chMerge->setChecked(true);
  FForm->Conversion().ConvertButtonClick();
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  const test::TDecodedAudio d = DecodeFile(Out("Joined.wav"));
  ASSERT_TRUE(d.Ok);
  EXPECT_EQ(d.Format, "wav");
  EXPECT_NEAR(d.Seconds, 3.0, 0.1);
  EXPECT_FALSE(QFileInfo::exists(Out("Joined.mp3")));
}

TEST_F(ListWindowTest, RefusesToMergeMoreThanTwentyFiles) {
  const QString tone = Tone("a.wav", 0.2);
  for (int i = 0; i < 21; ++i) Add(tone);
  FForm->Ui().chMerge->setChecked(true);
  TMessageCatcher messages;
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(messages.Texts, QStringList{"Cannot merge more than 20 files."});
  EXPECT_FALSE(Logged("-> Started conversion"));
}

TEST_F(ListWindowTest, ACancelledBatchIsNoSuccessAndDoesNothingAtItsEnd) {
  const QString tone = Tone("long.wav", 4);
  constexpr int kRows = 6;
  for (int i = 0; i < kRows; ++i) Add(tone);
  for (int i = 0; i < kRows; ++i) List().Rows().SetTitle(i, QString("c%1").arg(i));
  TConvForm& form = FForm->Conversion().ConvForm();
  form.cbOpenOutput->setChecked(true);
  form.cbShutdownPC->setChecked(true);
  test::ClickOnNextModal("CancelButton");
  FForm->Conversion().ConvertButtonClick();
  // Cancel waited for the run's end; what it held back is handled next.
  ASSERT_TRUE(FForm->FFEncoder().Terminated());
  QCoreApplication::processEvents();
  EXPECT_EQ(FSink.Log.filter("-> Conversion").join("\n"), "[t]-> Conversion cancelled by user");
  EXPECT_EQ(FPower.Calls, 0);
  EXPECT_TRUE(FDesktop.Opened.empty());
  // Less than the whole batch was written.
  double written = 0;
  for (int i = 0; i < kRows; ++i) written += DecodeFile(Out(QString("c%1.mp3").arg(i))).Seconds;
  EXPECT_LT(written, kRows * 4.0 - 1.0);

  // The next batch that runs to its end is a success again.
  test::ClickOnNextModal("btnClearConfirm");  // Clear asks first
  FForm->ClearAll1Click();
  Add(Tone("short.wav", 0.3));
  form.cbShutdownPC->setChecked(false);
  FForm->Conversion().ConvertButtonClick();
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_EQ(FDesktop.Opened[0], QUrl::fromLocalFile(FDir + "/out"));
}

TEST_F(ListWindowTest, AnErrorEndIsHandledWholeBeforeTheRunsEnd) {
  // The output's part file is there already (another conversion writes
  // it): the task ends with an error as it starts, and the run's final
  // event follows at once.
  Add(Tone("a.wav", 2));
  ASSERT_TRUE(QFile::link("/dev/full", Out(".a.mp3.quorvel-part")));
  TConvForm& form = FForm->Conversion().ConvForm();
  QStringList logWhileReporting;
  size_t openedWhileReporting = 0;
  bool dialogOpenWhileReporting = false;
  FSink.WhileReporting = [&] {
    // The user reads the report while the run ends behind it.
    FForm->FFEncoder().Stop(true);
    QCoreApplication::processEvents();
    logWhileReporting = FSink.Log;
    openedWhileReporting = FDesktop.Opened.size();
    dialogOpenWhileReporting = form.isVisible();
  };
  // The output's name stands (the link): written over, as the user says.
  test::ClickOnNextModal("btnReplace");
  FForm->Conversion().ConvertButtonClick();
  QCoreApplication::processEvents();
  FSink.WhileReporting = nullptr;
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_EQ(FSink.Reports[0].second, "CLM_Terminate");
  EXPECT_TRUE(FSink.Reports[0].first.startsWith("Conversion terminated with error: "));
  EXPECT_FALSE(logWhileReporting.contains("[t]-> Conversion successfully done."));
  EXPECT_EQ(openedWhileReporting, 0u);
  EXPECT_TRUE(dialogOpenWhileReporting);
  // Afterwards, in order: the error line, then the run's end, which counts
  // the failure.
  EXPECT_FALSE(FSink.Log.contains("[t]-> Conversion successfully done."));
  const qsizetype error = FSink.Log.indexOf("[t]-> " + FSink.Reports[0].first);
  const qsizetype done = FSink.Log.indexOf("[t]-> Conversion ended with errors: 0 done, 1 failed.");
  ASSERT_GE(error, 0);
  EXPECT_GT(done, error);
  EXPECT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_FALSE(form.isVisible());
}

TEST_F(ListWindowTest, KeyboardAndRemoveShowTheNewRowsProfileAndTrim) {
  const QString tone = Tone("a.wav", 3);
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  const struct {
    int Profile;
    QTime Start, End;
  } rows[] = {{kMp3, QTime(0, 0, 0), QTime(0, 0, 1)},
              {kOgg, QTime(0, 0, 1), QTime(0, 0, 2)},
              {kWav, QTime(0, 0, 2), QTime(0, 0, 3)}};
  for (int i = 0; i < 3; ++i) {
    Add(tone);
    List().Rows().SetProfile(i, rows[i].Profile);
    List().Rows().SetTitle(i, QString("r%1").arg(i));
    Trim(i, rows[i].Start, rows[i].End);
  }
  // What the window shows for the row of the original index ARow.
  auto expectShows = [&](int AOriginal, const char* AWhen) {
    SCOPED_TRACE(AWhen);
    EXPECT_EQ(FForm->ProfilePanel().cmbProfile->currentIndex(), rows[AOriginal].Profile);
    EXPECT_EQ(FForm->Ui().edTimeStart->time(), rows[AOriginal].Start);
    EXPECT_EQ(FForm->Ui().edTimeEnd->time(), rows[AOriginal].End);
  };
  Select(0);
  QTableWidget* grid = List().Grid();
  const struct {
    Qt::Key Key;
    int Shown;
  } keys[] = {{Qt::Key_Down, 1}, {Qt::Key_Down, 2}, {Qt::Key_Up, 1}};
  for (const auto& k : keys) {
    QTest::keyClick(grid, k.Key);
    ASSERT_EQ(List().SelectedIndex(), k.Shown);
    expectShows(k.Shown, k.Key == Qt::Key_Down ? "Down" : "Up");
  }
  // Enter now keeps the row's own times.
  QTest::keyClick(FForm->Ui().edTimeEnd, Qt::Key_Return);
  EXPECT_EQ(Row(1).TimeStart, 1'000'000);
  EXPECT_EQ(Row(1).TimeEnd, 2'000'000);
  EXPECT_EQ(Row(1).ProfileInd, kOgg);

  // Removing row 0: row r1 moves into the selected place.
  Select(0);
  FForm->Remove1Click();
  ASSERT_EQ(List().SelectedIndex(), 0);
  ASSERT_EQ(Row(0).DestinationTitle, "r1");
  expectShows(1, "Remove moved a row into the selection");
  // Removing the last row: the selection moves up to r1.
  Select(1);
  expectShows(2, "select r2");
  FForm->Remove1Click();
  ASSERT_EQ(List().SelectedIndex(), 0);
  expectShows(1, "Remove of the last row");
}

TEST_F(ListWindowTest, PauseAndResumeToggleTheRun) {
  Add(Tone("a.wav", 2));
  QStringList captions;
  bool pausedSeen = false;
  test::OnNextModal([&](QWidget* AModal) {
    auto* form = static_cast<TConvForm*>(AModal);
    form->PauseButton->click();
    captions << form->PauseButton->text();
    pausedSeen = FForm->FFEncoder().Paused();
    QTest::qWait(100);
    form->PauseButton->click();
    captions << form->PauseButton->text();
    form->PauseButton->click();
    captions << form->PauseButton->text();
    form->PauseButton->click();
  });
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(captions, (QStringList{"Resume", "Pause", "Resume"}));
  EXPECT_TRUE(pausedSeen);
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  EXPECT_NEAR(DecodeFile(Out("a.mp3")).Seconds, 2.0, 0.1);
}

TEST_F(ListWindowTest, OutputsNeverReplaceSourcesOrEachOther) {
  // A source in the output folder with the name its output would get, two
  // rows with one name, and a file left from an earlier run.
  const QString inOut = FDir + "/out/same.wav";
  ASSERT_TRUE(QFile::copy(Tone("same.wav", 1), inOut));
  const QByteArray sourceBytes = Bytes(inOut);
  QFile old(Out("dup.wav"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("left over from an earlier run");
  old.close();
  FForm->ProfilePanel().SelectProfile(kWav);
  Add(inOut);
  Add(Tone("d1.wav", 0.5));
  Add(Tone("d2.wav", 1.0));
  List().Rows().SetTitle(1, "dup");
  List().Rows().SetTitle(2, "dup");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Row(i).ProfileInd, kWav);
  // The earlier run's file is replaced only because the user says so.
  test::ClickOnNextModal("btnReplace");
  FForm->Conversion().ConvertButtonClick();
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  QFile src(inOut);
  ASSERT_TRUE(src.open(QIODevice::ReadOnly));
  EXPECT_EQ(src.readAll(), sourceBytes);
  EXPECT_NEAR(DecodeFile(Out("same (2).wav")).Seconds, 1.0, 0.05);
  EXPECT_NEAR(DecodeFile(Out("dup.wav")).Seconds, 0.5, 0.05);  // the earlier run's file is replaced
  EXPECT_NEAR(DecodeFile(Out("dup (2).wav")).Seconds, 1.0, 0.05);
  EXPECT_EQ(FSink.Log.filter(", writing ").size(), 2);
}

TEST_F(ListWindowTest, AnOutputNeverEmptiesAnotherRowsInput) {
  // The first row's source lies in the output folder but is added through a
  // link to that folder; both rows would write "b.wav" there.
  const QString source = Out("b.wav");
  ASSERT_TRUE(QFile::copy(Tone("first.wav", 1), source));
  const QByteArray sourceBytes = Bytes(source);
  ASSERT_TRUE(QFile::link(FDir + "/out", FDir + "/link"));
  FForm->ProfilePanel().SelectProfile(kWav);
  Add(FDir + "/link/b.wav");
  Add(Tone("second.wav", 0.5));
  List().Rows().SetTitle(1, "b");
  FForm->Conversion().ConvertButtonClick();
  EXPECT_TRUE(Logged("-> Conversion successfully done.")) << FSink.Log.join("\n").toStdString();
  QFile src(source);
  ASSERT_TRUE(src.open(QIODevice::ReadOnly));
  EXPECT_EQ(src.readAll(), sourceBytes);
  EXPECT_TRUE(Logged("-> " + source + " is an input, writing " + Out("b (2).wav")));
  EXPECT_NEAR(DecodeFile(Out("b (2).wav")).Seconds, 1.0, 0.05);
  EXPECT_NEAR(DecodeFile(Out("b (3).wav")).Seconds, 0.5, 0.05);
}

TEST_F(ListWindowTest, ACancelledBatchLeavesNoUnfinishedOrEmptyOutput) {
  FForm->Simultaneous().SetValue(1);
  const QString tone = Tone("long.wav", 4);
  constexpr int kRows = 4;
  for (int i = 0; i < kRows; ++i) Add(tone);
  for (int i = 0; i < kRows; ++i) List().Rows().SetTitle(i, QString("c%1").arg(i));
  test::ClickOnNextModal("CancelButton");
  FForm->Conversion().ConvertButtonClick();
  QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 20000);
  const QStringList removed = FSink.Log.filter("-> Removed unfinished output ");
  // One worker: the last row had not started when Cancel came.
  EXPECT_TRUE(Logged("-> Removed unfinished output " + Out("c3.mp3"))) << FSink.Log.join("\n").toStdString();
  for (int i = 0; i < kRows; ++i) {
    const QString path = Out(QString("c%1.mp3").arg(i));
    SCOPED_TRACE(path.toStdString());
    if (QFileInfo::exists(path)) {
      EXPECT_GT(QFileInfo(path).size(), 0);
      EXPECT_NEAR(DecodeFile(path).Seconds, 4.0, 0.1);
      EXPECT_TRUE(removed.filter(path).isEmpty());
    } else {
      EXPECT_EQ(removed.filter(path).size(), 1);
    }
  }
}

// A batch of fifty rows cancelled while its first row converts: a row that
// has not started has no file on disk, neither while it waits nor after.
TEST_F(ListWindowTest, ACancelledBatchOfFiftyRowsLeavesNoFileForRowsNeverStarted) {
  const QString tone = Tone("long.wav", 4);
  constexpr int kRows = 50;
  QStringList files;
  for (int i = 0; i < kRows; ++i) files << tone;
  FForm->DropFiles(files);
  ASSERT_EQ(List().RowCount(), kRows);
  for (int i = 0; i < kRows; ++i) List().Rows().SetTitle(i, QString("c%1").arg(i));
  QStringList waiting;  // outputs on disk while the dialog was up, past the first two rows
  test::OnNextModal([&](QWidget* AModal) {
    for (int i = 2; i < kRows; ++i)
      if (QFileInfo::exists(Out(QString("c%1.mp3").arg(i)))) waiting << QString("c%1").arg(i);
    if (auto* b = AModal->findChild<QAbstractButton*>("CancelButton")) b->click();
  });
  FForm->Conversion().ConvertButtonClick();
  QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 20000);
  EXPECT_TRUE(waiting.isEmpty()) << waiting.join(" ").toStdString();
  // What is left is a few finished rows from the top, and nothing else.
  int kept = 0;
  while (kept < kRows && QFileInfo::exists(Out(QString("c%1.mp3").arg(kept)))) {
    EXPECT_NEAR(DecodeFile(Out(QString("c%1.mp3").arg(kept))).Seconds, 4.0, 0.1) << kept;
    ++kept;
  }
  EXPECT_LT(kept, kRows);
  EXPECT_EQ(QDir(FDir + "/out").entryList(QDir::Files).size(), kept);
}

TEST_F(ListWindowTest, MissingOutputFolderUsesTheTemporaryOne) {
  Add(Tone("a.wav", 0.3));
  FForm->Ui().edDestinationFolder->setText(FDir + "/gone");
  // Asked whether to make it first: not made, the temporary folder serves.
  TMessageCatcher messages(QMessageBox::No);
  FForm->Conversion().ConvertButtonClick();
  const QString temp = test::TestHome() + "/tmp/Sabrivo_temp";
  EXPECT_EQ(messages.Texts, (QStringList{TOutputFolderField::CreateQuestion(FDir + "/gone"),
                                         "Output folder does not exit. Converting to \"" + temp + "\"."}));
  EXPECT_TRUE(DecodeFile(temp + "/a.mp3").Ok);
  ASSERT_EQ(FDesktop.Opened.size(), 1u);
  EXPECT_EQ(FDesktop.Opened[0], QUrl::fromLocalFile(temp));
}

TEST_F(ListWindowTest, AnOutputThatCannotBeCreatedStopsBeforeStarting) {
  Add(Tone("a.wav", 0.3));
  // A folder where the output file should go: not even root can create it.
  ASSERT_TRUE(QDir().mkpath(Out("a.mp3")));
  FForm->Conversion().ConvertButtonClick();
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_TRUE(FSink.Reports[0].first.startsWith("Cannot set output file: "));
  EXPECT_EQ(FSink.Reports[0].second, "CLM_SetOutputFile");
  EXPECT_TRUE(Logged("-> " + FSink.Reports[0].first));
  EXPECT_FALSE(Logged("-> Started conversion"));
}

TEST_F(ListWindowTest, ShutDownInsteadOfOpeningTheFolder) {
  Add(Tone("a.wav", 0.3));
  FForm->Conversion().ConvForm().cbShutdownPC->setChecked(true);
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(FPower.Calls, 1);
  EXPECT_FALSE(Logged("-> Conversion successfully done."));
  EXPECT_TRUE(FDesktop.Opened.empty());
}

// --------------------------------------- several rows at once, row status

// Every status each row passed through, in order (repeats folded), taken
// from the list's own change notices; rows are told apart by their ids.
class TStatusRecorder {
public:
  explicit TStatusRecorder(TSourceRows& ARows) : FRows(ARows) {
    QObject::connect(&ARows, &TSourceRows::Changed, &FContext, [this](int AFirst, int ALast) {
      for (int i = std::max(AFirst, 0); i <= ALast && i < FRows.Count(); ++i) Note(i);
    });
  }
  std::vector<TRowState> Of(int AIndex) const {
    const auto it = FSeen.find(FRows.At(AIndex).Id);
    return it == FSeen.end() ? std::vector<TRowState>{} : it->second;
  }
  // Rows (by index) in the order they began converting, and ended.
  std::vector<int> Started, Ended;

private:
  void Note(int AIndex) {
    std::vector<TRowState>& seen = FSeen[FRows.At(AIndex).Id];
    const TRowState s = FRows.At(AIndex).Conversion.State;
    if (!seen.empty() && seen.back() == s) return;
    seen.push_back(s);
    if (s == TRowState::Converting) Started.push_back(AIndex);
    if (s == TRowState::Done || s == TRowState::Failed || s == TRowState::Stopped) Ended.push_back(AIndex);
  }
  TSourceRows& FRows;
  QObject FContext;
  std::map<uint64_t, std::vector<TRowState>> FSeen;
};

TEST_F(ListWindowTest, TwoAtOnceWriteWhatOneAtATimeWrites) {
  // Six rows that differ in length, rate and channels, so that a row's
  // output written from another row's task would show.
  constexpr int kRows = 6;
  for (int i = 0; i < kRows; ++i) {
    Add(Tone(QString("p%1.wav").arg(i), 1.0 + 0.5 * i, i % 2 ? 48000 : 44100, i % 3 ? 2 : 1));
    List().Rows().SetTitle(i, QString("p%1").arg(i));
  }
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  List().Rows().SetProfile(4, kWav);
  ASSERT_TRUE(QDir().mkpath(FDir + "/one") && QDir().mkpath(FDir + "/two"));
  const struct {
    int Workers;
    const char* Folder;
  } runs[] = {{1, "/one"}, {2, "/two"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.Folder);
    FForm->Simultaneous().Action(run.Workers)->trigger();
    ASSERT_EQ(FForm->Conversion().WorkerCount(), run.Workers);
    FForm->Ui().edDestinationFolder->setText(FDir + run.Folder);
    TStatusRecorder statuses(List().Rows());
    FForm->Conversion().ConvertButtonClick();
    EXPECT_TRUE(Logged("-> Conversion successfully done."));
    EXPECT_TRUE(FSink.Reports.empty());
    // The second batch first takes the first one's statuses away.
    std::vector<TRowState> expected{TRowState::Waiting, TRowState::Converting, TRowState::Done};
    if (run.Workers == 2) expected.insert(expected.begin(), TRowState::None);
    for (int i = 0; i < kRows; ++i) {
      EXPECT_EQ(statuses.Of(i), expected) << "row " << i;
      EXPECT_EQ(Cell(i, 4), "done");
    }
    EXPECT_EQ(FForm->Conversion().ConvForm().ProgressTotal->value(), 100);
    if (run.Workers == 1) {
      EXPECT_EQ(statuses.Started, (std::vector<int>{0, 1, 2, 3, 4, 5}));
      EXPECT_EQ(statuses.Ended, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
  }
  for (int i = 0; i < kRows; ++i) {
    const QString name = QString("p%1").arg(i) + (i == 4 ? ".wav" : ".mp3");
    SCOPED_TRACE(name.toStdString());
    const test::TDecodedAudio one = test::DecodeAudio((FDir + "/one/" + name).toStdString(), true);
    const test::TDecodedAudio two = test::DecodeAudio((FDir + "/two/" + name).toStdString(), true);
    ASSERT_TRUE(one.Ok && two.Ok);
    EXPECT_EQ(two.Format, one.Format);
    EXPECT_EQ(two.SampleRate, one.SampleRate);
    EXPECT_EQ(two.Channels, one.Channels);
    EXPECT_EQ(two.Samples, one.Samples);
    EXPECT_TRUE(two.Raw == one.Raw);
    EXPECT_NEAR(one.Seconds, 1.0 + 0.5 * i, 0.1);
  }
}

TEST_F(ListWindowTest, OneAtATimeKeepsTheLogAndTheOrderOfEvents) {
  FForm->Simultaneous().SetValue(1);
  const QString tone = Tone("a.wav", 1.5);
  for (int i = 0; i < 3; ++i) Add(tone);
  for (int i = 0; i < 3; ++i) List().Rows().SetTitle(i, QString("o%1").arg(i));
  TStatusRecorder statuses(List().Rows());
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(FSink.Log, (QStringList{"[t]-> Added file " + tone, "[t]-> Added file " + tone, "[t]-> Added file " + tone,
                                    "[t]-> Started conversion", "[t]-> Conversion successfully done."}));
  // One row after another, each ended in the order they began.
  EXPECT_EQ(statuses.Started, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(statuses.Ended, (std::vector<int>{0, 1, 2}));
}

TEST_F(ListWindowTest, ABadRowFailsWithItsReasonWhileTheOthersFinishAndConvertsAgain) {
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  FForm->Simultaneous().SetValue(2);
  constexpr int kRows = 4;
  for (int i = 0; i < kRows; ++i) {
    Add(Tone(QString("b%1.wav").arg(i), 1));
    List().Rows().SetTitle(i, QString("b%1").arg(i));
  }
  // Row 1's part file is there already (another conversion writes it): row
  // 1 ends with an error as it starts.
  ASSERT_TRUE(QFile::link("/dev/full", Out(".b1.mp3.quorvel-part")));
  FForm->Conversion().ConvertButtonClick();
  // The dialog closes at the error; the others go on behind it.
  QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 30000);
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_EQ(FSink.Reports[0].second, "CLM_Terminate");
  EXPECT_TRUE(FSink.Reports[0].first.startsWith("Conversion terminated with error: b1.wav: "))
      << FSink.Reports[0].first.toStdString();
  EXPECT_TRUE(Logged("-> " + FSink.Reports[0].first));
  // The batch's end counts the failure; it is no success.
  EXPECT_TRUE(Logged("-> Conversion ended with errors: 3 done, 1 failed."));
  EXPECT_FALSE(Logged("-> Conversion successfully done."));
  for (int i = 0; i < kRows; ++i) {
    SCOPED_TRACE(i);
    if (i == 1) {
      EXPECT_EQ(Row(i).Conversion.State, TRowState::Failed);
      EXPECT_EQ(Cell(i, 4), "failed");
      EXPECT_FALSE(Row(i).Conversion.Reason.isEmpty());
      EXPECT_TRUE(FSink.Reports[0].first.endsWith(Row(i).Conversion.Reason));
      EXPECT_EQ(List().Grid()->item(i, 4)->toolTip(), Row(i).Conversion.Reason);
      continue;
    }
    EXPECT_EQ(Row(i).Conversion.State, TRowState::Done);
    EXPECT_TRUE(List().Grid()->item(i, 4)->toolTip().isEmpty());
    EXPECT_NEAR(DecodeFile(Out(QString("b%1.mp3").arg(i))).Seconds, 1.0, 0.1);
  }

  // "Convert again" is offered on the failed row only, and runs it alone.
  Select(0);
  EXPECT_FALSE(FForm->Ui().popConvertAgain->isEnabled());
  Select(1);
  ASSERT_TRUE(FForm->Ui().popConvertAgain->isEnabled());
  QFile::remove(Out(".b1.mp3.quorvel-part"));
  FSink.Log.clear();
  FForm->Ui().popConvertAgain->trigger();
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  EXPECT_EQ(Row(1).Conversion.State, TRowState::Done);
  EXPECT_FALSE(FForm->Ui().popConvertAgain->isEnabled());
  EXPECT_NEAR(DecodeFile(Out("b1.mp3")).Seconds, 1.0, 0.1);
  // The other rows keep their outputs and their status; nothing else was written.
  for (int i : {0, 2, 3}) EXPECT_EQ(Row(i).Conversion.State, TRowState::Done);
  EXPECT_FALSE(QFileInfo::exists(Out("b0 (2).mp3")));
  // The next Convert starts every row afresh.
  TStatusRecorder statuses(List().Rows());
  test::ClickOnNextModal("btnReplace");  // the last run's outputs stand
  FForm->Conversion().ConvertButtonClick();
  for (int i = 0; i < kRows; ++i) EXPECT_EQ(statuses.Of(i).front(), TRowState::None) << i;
  // The column lies beyond the list's width: a conversion brings it into view.
  QTableWidget* grid = List().Grid();
  const QRect status = grid->visualRect(grid->model()->index(0, 4));
  EXPECT_TRUE(grid->viewport()->rect().contains(status)) << "status column not shown";
  EXPECT_EQ(grid->horizontalHeaderItem(4)->text(), "Status");
}

TEST_F(ListWindowTest, CancelStopsEveryRunningRowAndLeavesNoUnfinishedOutput) {
  FForm->Simultaneous().SetValue(2);
  const QString tone = Tone("long.wav", 30);
  constexpr int kRows = 6;
  for (int i = 0; i < kRows; ++i) {
    Add(tone);
    List().Rows().SetTitle(i, QString("s%1").arg(i));
  }
  bool bothPaused = false;
  test::OnNextModal([&](QWidget* AModal) {
    auto* form = static_cast<TConvForm*>(AModal);
    // Paused, the two running rows cannot end before Cancel comes.
    form->PauseButton->click();
    bothPaused = FForm->FFEncoder().Paused();
    form->CancelButton->click();
  });
  FForm->Conversion().ConvertButtonClick();
  QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 30000);
  EXPECT_TRUE(bothPaused);
  EXPECT_EQ(FSink.Log.filter("-> Conversion").join("\n"), "[t]-> Conversion cancelled by user");
  const QStringList removed = FSink.Log.filter("-> Removed unfinished output ");
  for (int i = 0; i < kRows; ++i) {
    const QString path = Out(QString("s%1.mp3").arg(i));
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(Row(i).Conversion.State, TRowState::Stopped);
    EXPECT_EQ(Cell(i, 4), "stopped");
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(removed.filter(path).size(), 1);
  }
  // Both rows that were running had begun their outputs.
  EXPECT_EQ(removed.size(), kRows);
}

// Calls AOnEvent for each event of AType that AWatched receives.
class TEventWatch : public QObject {
public:
  TEventWatch(QObject* AWatched, QEvent::Type AType, std::function<void()> AOnEvent)
      : FWatched(AWatched), FType(AType), FOnEvent(std::move(AOnEvent)) {
    FWatched->installEventFilter(this);
  }
  ~TEventWatch() override { FWatched->removeEventFilter(this); }

protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override {
    if (AObject == FWatched && AEvent->type() == FType) FOnEvent();
    return false;
  }

private:
  QObject* FWatched;
  QEvent::Type FType;
  std::function<void()> FOnEvent;
};

// Rows added as a user adds them (several files chosen in the open dialog
// at once), converted two at a time with one row failing: every row ends
// with its own status, the batch's last line counts the failure, and
// "Convert again" converts the failed row's own file and touches no other
// output.
TEST_F(ListWindowTest, RowsFromTheOpenDialogEachGetTheirOwnStatusAndConvertAgainTakesTheFailedRow) {
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  FForm->Simultaneous().SetValue(2);
  constexpr int kRows = 4;
  QStringList files;
  // Lengths that tell the outputs apart.
  for (int i = 0; i < kRows; ++i) files << Tone(QString("f%1.wav").arg(i), 1.0 + 0.5 * i);
  AddThroughTheOpenDialog(files);
  ASSERT_EQ(List().RowCount(), kRows);
  // Row 1's part file is there already (another conversion writes it): row
  // 1 ends with an error as it starts.
  ASSERT_TRUE(QFile::link("/dev/full", Out(".f1.mp3.quorvel-part")));
  FForm->Ui().btnConvert->click();
  QTRY_VERIFY_WITH_TIMEOUT(!FForm->Conversion().Running(), 30000);
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_TRUE(FSink.Reports[0].first.startsWith("Conversion terminated with error: f1.wav: "))
      << FSink.Reports[0].first.toStdString();
  for (int i = 0; i < kRows; ++i) {
    SCOPED_TRACE(i);
    if (i == 1) {
      EXPECT_EQ(Cell(i, 4), "failed");
      EXPECT_FALSE(Row(i).Conversion.Reason.isEmpty());
      EXPECT_TRUE(FSink.Reports[0].first.endsWith(Row(i).Conversion.Reason));
      EXPECT_EQ(List().Grid()->item(i, 4)->toolTip(), Row(i).Conversion.Reason);
      continue;
    }
    EXPECT_EQ(Cell(i, 4), "done");
    EXPECT_TRUE(List().Grid()->item(i, 4)->toolTip().isEmpty());
    EXPECT_NEAR(DecodeFile(Out(QString("f%1.mp3").arg(i))).Seconds, 1.0 + 0.5 * i, 0.1);
  }
  // A failure is not called a success: the last line counts it.
  EXPECT_FALSE(Logged("-> Conversion successfully done.")) << FSink.Log.join("\n").toStdString();
  EXPECT_EQ(FSink.Log.last(), "[t]-> Conversion ended with errors: 3 done, 1 failed.");

  std::map<int, QByteArray> kept;
  for (int i : {0, 2, 3}) kept[i] = Bytes(Out(QString("f%1.mp3").arg(i)));
  QFile::remove(Out(".f1.mp3.quorvel-part"));
  FSink.Log.clear();
  Select(1);
  ASSERT_TRUE(FForm->Ui().popConvertAgain->isEnabled());
  FForm->Ui().popConvertAgain->trigger();
  EXPECT_EQ(FSink.Log.last(), "[t]-> Conversion successfully done.");
  EXPECT_EQ(Cell(1, 4), "done");
  // Row 1's own file: its length, not another row's.
  EXPECT_NEAR(DecodeFile(Out("f1.mp3")).Seconds, 1.5, 0.1);
  for (const auto& [row, bytes] : kept) {
    EXPECT_EQ(Cell(row, 4), "done") << row;
    EXPECT_TRUE(Bytes(Out(QString("f%1.mp3").arg(row))) == bytes) << "output of row " << row << " was written again";
  }
  EXPECT_EQ(QDir(FDir + "/out").entryList(QDir::Files).size(), kRows);
}

// Rows dropped on the window, converted one and two at a time with a Pause
// in the middle: the dialog's title names the row being converted (with
// several at once, the one that reported last), and the whole batch's bar
// never moves back.
TEST_F(ListWindowTest, DroppedRowsAreNamedInTheTitleAndTheLowerBarNeverMovesBack) {
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  QStringList files;
  for (int i = 0; i < 3; ++i) files << Tone(QString("d%1.wav").arg(i), 8.0 + 4 * i, i % 2 ? 48000 : 44100);
  // Sources whose stated length is not what their run reports.
  for (const char* m : {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", "sonic-pi-samples__loop_tabla.flac",
                        "emacspeak__emacspeak.mp3"})
    files << QString::fromStdString(SharedMedia(m));
  const int kRows = static_cast<int>(files.size());
  Drop(files);
  ASSERT_EQ(List().RowCount(), kRows);
  TConvForm& form = FForm->Conversion().ConvForm();
  for (const int workers : {1, 2}) {
    SCOPED_TRACE(workers);
    FForm->Simultaneous().SetValue(workers);
    FSink.Log.clear();
    // The first round's outputs go, so that the window has nothing to ask
    // before the second round (its question would be the next modal).
    for (const QString& name : QDir(Out("")).entryList(QDir::Files)) QFile::remove(Out(name));
    std::vector<int> totals;
    const QMetaObject::Connection recording =
        QObject::connect(form.ProgressTotal, &QProgressBar::valueChanged, [&](int AValue) { totals.push_back(AValue); });
    // Each title as it is set (every change of the label's tool tip), with
    // the rows converting at that moment.
    QStringList wrong;
    std::set<QString> named;
    TEventWatch watch(form.lblConvertingTitle, QEvent::ToolTipChange, [&] {
      if (!form.Title().startsWith("Converting \"")) return;
      std::vector<int> converting;
      for (int i = 0; i < kRows; ++i)
        if (Row(i).Conversion.State == TRowState::Converting) converting.push_back(i);
      for (int i = 0; i < kRows; ++i)
        if (form.Title().startsWith("Converting \"" + Row(i).SourceTitleExt + "\" to \"" + Row(i).DestinationTitle))
          named.insert(Row(i).SourceTitleExt);
      if (workers == 1 && (converting.size() != 1 ||
                           !form.Title().startsWith("Converting \"" + Row(converting[0]).SourceTitleExt + "\"")))
        wrong << form.Title();
    });
    bool paused = false;
    test::OnNextModal([&](QWidget*) {
      // Pause in the middle of the batch, then go on.
      QTRY_VERIFY_WITH_TIMEOUT(form.ProgressTotal->value() >= 40 || !form.isVisible(), 60000);
      if (!form.isVisible()) return;
      form.PauseButton->click();
      paused = FForm->FFEncoder().Paused();
      // The dialog takes in what the pause sends (the bars' values) before
      // the run goes on.
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
      form.PauseButton->click();
    });
    FForm->Ui().btnConvert->click();
    QObject::disconnect(recording);
    EXPECT_TRUE(paused);
    EXPECT_TRUE(Logged("-> Conversion successfully done."));
    QStringList shown;
    for (const int v : totals) shown << QString::number(v);
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end())) << shown.join(" ").toStdString();
    EXPECT_EQ(form.ProgressTotal->value(), 100);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join("\n").toStdString();
    // Every row was named while it converted, not only the first.
    EXPECT_EQ(named.size(), static_cast<size_t>(kRows));
    for (int i = 0; i < kRows; ++i) EXPECT_EQ(Cell(i, 4), "done") << i;
  }
}

// An error closes the dialog while other rows still convert: Convert and
// "Convert again" are refused with a plain sentence (the task manager is
// still theirs), and closing the window stops the rows, removes their
// unfinished outputs and logs it.
TEST_F(ListWindowTest, WhileRowsStillRunAfterAnErrorConvertIsRefusedAndClosingLeavesNoPartialOutput) {
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  FForm->Simultaneous().SetValue(2);
  const QString tone = Tone("long.wav", 60);
  Drop({Tone("bad.wav", 1), tone, tone});
  ASSERT_EQ(List().RowCount(), 3);
  List().Rows().SetTitle(1, "long1");
  List().Rows().SetTitle(2, "long2");
  ASSERT_TRUE(QFile::link("/dev/full", Out(".bad.mp3.quorvel-part")));
  // The other rows are held while the user reads the error, so that they
  // still run afterwards however fast this machine converts.
  FSink.WhileReporting = [&] { FForm->FFEncoder().Pause(); };
  FForm->Ui().btnConvert->click();
  FSink.WhileReporting = nullptr;
  ASSERT_EQ(FSink.Reports.size(), 1u);
  ASSERT_TRUE(FForm->Conversion().Running());
  {
    TMessageCatcher messages;
    FForm->Ui().btnConvert->click();
    Select(0);
    ASSERT_TRUE(FForm->Ui().popConvertAgain->isEnabled());
    FForm->Ui().popConvertAgain->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(messages.Texts.size(), 2, 10000);
    EXPECT_EQ(messages.Texts, QStringList(2, TBatchConversion::kStillConvertingText));
  }
  EXPECT_EQ(FSink.Reports.size(), 1u);  // nothing more went wrong
  EXPECT_TRUE(FForm->Conversion().Running());
  FSink.Log.clear();
  FForm->close();
  EXPECT_FALSE(FForm->Conversion().Running());
  EXPECT_TRUE(Logged("-> Removed unfinished output " + Out("long1.mp3"))) << FSink.Log.join("\n").toStdString();
  EXPECT_TRUE(Logged("-> Removed unfinished output " + Out("long2.mp3")));
  ASSERT_FALSE(FSink.Log.isEmpty());
  EXPECT_TRUE(FSink.Log.last().startsWith("[t]-> Conversion stopped as the window closed: ")) << FSink.Log.last().toStdString();
  // Only the link this test made is left.
  EXPECT_EQ(QDir(FDir + "/out").entryList(QDir::Files | QDir::System | QDir::Hidden),
            QStringList{".bad.mp3.quorvel-part"});
  for (int i = 1; i < 3; ++i) EXPECT_EQ(Cell(i, 4), "stopped") << i;
}

// ------------------------------------------------- the file information

TEST_F(ListWindowTest, FileInformationShowsTheAudioStream) {
  Add(QString::fromStdString(SharedMedia("emacspeak__emacspeak.mp3")));
  Add(Tone("gone.wav", 0.3));
  QStringList shown;
  test::OnNextModal([&](QWidget* AModal) {
    auto* f = static_cast<TFileInfoForm*>(AModal);
    for (QLabel* l : {f->spSkinLabel2, f->spSkinLabel3, f->spSkinLabel6, f->spSkinLabel7}) shown << l->text();
    EXPECT_TRUE(f->spSkinLabel8->text().endsWith(" Kb")) << f->spSkinLabel8->text().toStdString();
    f->findChild<QPushButton*>("OKButton")->click();
  });
  Select(0);
  FForm->FileInformation1Click();
  EXPECT_EQ(shown, (QStringList{"emacspeak__emacspeak.mp3", "00:00:03", "44100 Hz", "2 channel"}));

  QFile::remove(Row(1).Source);
  Select(1);
  FForm->FileInformation1Click();
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_TRUE(FSink.Reports[0].first.startsWith("Error getting file info! "));
  EXPECT_EQ(FSink.Reports[0].second, "CLM_ProbeLoadFile");
}

// ------------------------------------------------------------ pictures

int ColourDistance(const QColor& A, const QColor& B) {
  return std::max({std::abs(A.red() - B.red()), std::abs(A.green() - B.green()), std::abs(A.blue() - B.blue())});
}

TEST_F(ListWindowTest, DrawsTheSkinsRowPictureFilmIconAndBlackCaptions) {
  const QString tone = Tone("a.wav", 0.3);
  Add(tone);
  Add(tone);
  FForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
  Select(0);
  QTableWidget* grid = List().Grid();
  const QImage shot = grid->viewport()->grab().toImage();
  const QImage rowPicture = FForm->Skin().Picture("tablerow.bmp").toImage();
  const QImage film = FForm->Skin().Picture("filmicon.bmp").toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(rowPicture.isNull());
  ASSERT_FALSE(film.isNull());
  for (int r = 0; r < 2; ++r) {
    SCOPED_TRACE(r == 0 ? "selected row" : "other row");
    // Between the centred size text and the column's right edge only the
    // background shows: the row picture stretched over the cell, or white.
    const QRect cell = grid->visualRect(grid->model()->index(r, 1));
    for (int y = 0; y < cell.height(); y += 3) {
      const QColor want = r == 0 ? rowPicture.pixelColor(rowPicture.width() / 2, y * rowPicture.height() / cell.height())
                                 : QColor(Qt::white);
      EXPECT_LE(ColourDistance(shot.pixelColor(cell.right() - 3, cell.top() + y), want), 8) << "y " << y;
    }
    const QRect first = grid->visualRect(grid->model()->index(r, 0));
    EXPECT_TRUE(shot.copy(first.left() + 2, first.top() + 1, film.width(), film.height())
                    .convertToFormat(QImage::Format_RGB32) == film)
        << "the film icon";
  }
  // The captions are written in black over the caption picture.
  const QImage header = grid->horizontalHeader()->grab().toImage();
  int black = 0;
  for (int y = 0; y < header.height(); ++y)
    for (int x = 0; x < header.width(); ++x) black += ColourDistance(header.pixelColor(x, y), Qt::black) < 40;
  EXPECT_GT(black, 0);
}

// ------------------------------------------------------------ whole libraries

// The "File names" field as the user types into it: the example follows each
// key, the presets fill it in, the batch writes the outputs where the
// example said (folders made beneath the output folder, the names made safe
// the same way), and the pattern is kept with the settings.
TEST_F(ListWindowTest, FileNamesFieldShowsTheFirstRowsNameAsTypedAndTheBatchWritesThere) {
  const QString lib = FDir + "/lib";
  QDir().mkpath(lib + "/Band/Live");
  test::MakeTone((lib + "/Band/Live/10 - Ten.flac").toStdString(),
                 {"ARTIST=Band", "ALBUM=Live: Vol?", "TITLE=Ten Song", "TRACKNUMBER=10"}, 0.5);
  test::MakeTone((lib + "/Band/Live/2 - Two.flac").toStdString(),
                 {"ARTIST=Band", "ALBUM=Live: Vol?", "TITLE=Two Song", "TRACKNUMBER=2"}, 0.3);
  TOutputNamesField& field = *FForm->Ui().fldNames;
  QLineEdit* editor = field.Editor();
  EXPECT_EQ(field.Example()->text(), QString());  // no rows, nothing to show
  FForm->ProfilePanel().SelectProfile(kWav);
  Drop({lib});
  ASSERT_EQ(List().RowCount(), 2);
  ASSERT_EQ(Row(0).Source, lib + "/Band/Live/2 - Two.flac");
  // An empty field names the outputs as the window always did.
  EXPECT_EQ(field.Example()->text(), "e.g. 2 - Two.wav");

  editor->setFocus();
  // What the example shows after each piece typed (the keys go one by one:
  // half a field stands as typed until its brace closes).
  const std::pair<QString, QString> steps[] = {
      {"{fold", "e.g. {fold.wav"},
      {"er}/", "e.g. Band/Live/2 - Two.wav"},  // folders alone: the file keeps its name
      {"{track:02} {title}", "e.g. Band/Live/02 Two Song.wav"},
      {" [{album}]", "e.g. Band/Live/02 Two Song [Live_ Vol_].wav"},
  };
  QString typed;
  for (const auto& [keys, example] : steps) {
    QTest::keyClicks(editor, keys);
    typed += keys;
    EXPECT_EQ(editor->text(), typed);
    EXPECT_EQ(field.Example()->text(), example) << keys.toStdString();
  }
  // Backspace takes the album off again.
  for (int i = 0; i < QString(" [{album}]").size(); ++i) QTest::keyClick(editor, Qt::Key_Backspace);
  EXPECT_EQ(field.Example()->text(), "e.g. Band/Live/02 Two Song.wav");

  // A preset chosen from the keyboard replaces the pattern.
  QTest::keyClick(field.Presets(), Qt::Key_End);
  EXPECT_EQ(field.Pattern(), QString::fromLatin1(kArtistAlbumPattern));
  EXPECT_EQ(field.Example()->text(), "e.g. Band/Live_ Vol_/02 Two Song.wav");
  // ... and the field can still be edited after it.
  editor->selectAll();
  QTest::keyClicks(editor, "{artist}/{album}/{track:02} {title}");
  EXPECT_EQ(field.Example()->text(), "e.g. Band/Live_ Vol_/02 Two Song.wav");

  FForm->Conversion().ConvertButtonClick();
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  EXPECT_NEAR(DecodeFile(Out("Band/Live_ Vol_/02 Two Song.wav")).Seconds, 0.3, 0.05);
  EXPECT_NEAR(DecodeFile(Out("Band/Live_ Vol_/10 Ten Song.wav")).Seconds, 0.5, 0.05);
  EXPECT_EQ(QDir(FDir + "/out").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Band"});

  // The pattern comes back with the next start.
  FForm->SaveSettings();
  FForm.reset();
  FForm = std::make_unique<TMainForm>(TAppServices{FProgram, {}, &FDesktop, &FPower}, FSink);
  FForm->FormCreate();
  EXPECT_EQ(FForm->Ui().fldNames->Pattern(), "{artist}/{album}/{track:02} {title}");
}

// The tags a pattern names are read once, where each file is probed as it
// is added, and kept with its row: counting the outputs that exist already,
// the example and the batch's names all use them, and none of them opens a
// source on the user-interface thread. Proved by taking the tags out of the
// sources after the add: names made from the files on disk would fall back
// to "Nobody", miss the output that stands, and ask nothing.
TEST_F(ListWindowTest, TagsAreReadWhenRowsAreAddedAndNotAgainWhenConverting) {
  const QString lib = FDir + "/tagged";
  QDir().mkpath(lib);
  const QString one = lib + "/1.flac", two = lib + "/2.flac";
  test::MakeTone(one.toStdString(), {"ARTIST=Band", "TITLE=One"}, 0.5);
  test::MakeTone(two.toStdString(), {"ARTIST=Band", "TITLE=Two"}, 0.3);
  FForm->ProfilePanel().SelectProfile(kWav);
  Drop({lib});
  ASSERT_EQ(List().RowCount(), 2);
  // The same sounds without their tags from now on.
  test::MakeTone(one.toStdString(), {}, 0.5);
  test::MakeTone(two.toStdString(), {}, 0.3);
  QDir().mkpath(Out("Band"));
  QFile own(Out("Band/One.wav"));
  ASSERT_TRUE(own.open(QIODevice::WriteOnly));
  own.write("the user's own file, not audio");
  own.close();

  TOutputNamesField& field = *FForm->Ui().fldNames;
  field.Editor()->setFocus();
  QTest::keyClicks(field.Editor(), "{artist|Nobody}/{title}");
  EXPECT_EQ(field.Example()->text(), "e.g. Band/One.wav");

  QString asked;
  test::OnNextModal([&asked](QWidget* AModal) {
    auto* box = qobject_cast<QMessageBox*>(AModal);
    ASSERT_NE(box, nullptr);
    asked = box->text();
    auto* button = box->findChild<QAbstractButton*>("btnKeepBoth");
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  });
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(asked, "1 output already exists.");
  EXPECT_TRUE(Logged("-> Conversion successfully done.")) << FSink.Log.join("\n").toStdString();
  EXPECT_EQ(Bytes(Out("Band/One.wav")), QByteArray("the user's own file, not audio"));
  EXPECT_NEAR(DecodeFile(Out("Band/One (2).wav")).Seconds, 0.5, 0.05);
  EXPECT_NEAR(DecodeFile(Out("Band/Two.wav")).Seconds, 0.3, 0.05);
  EXPECT_FALSE(QFileInfo::exists(Out("Nobody")));
}

// The 60-file tree as the user adds it, once through "Add folder..." and its
// dialog and once dropped on the window: exactly its media files in natural
// order, each with the folder it was added from, and what was refused
// (the text file, the link loop, the folder that cannot be read) named in
// one message.
TEST_F(ListWindowTest, AddFolderAndADroppedFolderAddExactlyTheTreesMediaInNaturalOrder) {
  const test::TLibraryTree tree(FDir.toStdString());
  const QString root = QString::fromStdString(tree.Root());
  std::vector<QString> expected;
  for (const std::string& file : tree.ExpectedFiles()) expected.push_back(QString::fromStdString(file));
  QStringList refused = {QString::fromStdString(tree.LoopLink()) + " (symbolic link loop)",
                         QFileInfo(QString::fromStdString(tree.NotMedia())).fileName()};
  if (!tree.LockedReadable()) refused << QString::fromStdString(tree.LockedFolder()) + " (Permission denied)";

  enum class TWay { AddFolderDialog, Drop };
  for (const TWay way : {TWay::AddFolderDialog, TWay::Drop}) {
    SCOPED_TRACE(way == TWay::AddFolderDialog ? "Add folder..." : "dropped");
    if (List().RowCount() > 0) test::ClickOnNextModal("btnClearConfirm");  // Clear asks first
    FForm->ClearAll1Click();
    ASSERT_EQ(List().RowCount(), 0);
    TMessageCatcher messages;
    if (way == TWay::AddFolderDialog) {
      // The folder dialog: the library's folder typed into its name field
      // in the folder above it, then Enter.
      test::OnNextModal([&](QWidget* AModal) {
        auto* dialog = qobject_cast<QFileDialog*>(AModal);
        ASSERT_NE(dialog, nullptr);
        dialog->setDirectory(FDir);
        auto* view = dialog->findChild<QListView*>("listView");
        ASSERT_NE(view, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(view->model()->rowCount(view->rootIndex()) >= 1, 10000);
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        dialog->activateWindow();
        name->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(name->hasFocus(), 5000);
        name->clear();
        QTest::keyClicks(name, QFileInfo(root).fileName());
        QTest::keyClick(name, Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();  // the dialog refused the name
      });
      FForm->Ui().actAddFolder->trigger();
    } else {
      Drop({root});
    }
    ASSERT_EQ(List().RowCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < List().RowCount(); ++i) {
      ASSERT_EQ(Row(i).Source, expected[static_cast<size_t>(i)]) << i;
      ASSERT_EQ(Row(i).Root, root) << i;
    }
    ASSERT_EQ(messages.Texts.size(), 1) << messages.Texts.join("\n---\n").toStdString();
    const QString& text = messages.Texts[0];
    EXPECT_TRUE(text.startsWith(QString("%1 files are not valid media files").arg(refused.size())))
        << text.toStdString();
    for (const QString& r : refused) EXPECT_TRUE(text.contains("\n" + r)) << r.toStdString() << "\n" << text.toStdString();
  }
}

// A file of the user's own under an output's name: the question asks once,
// "Keep both" keeps it beside the new output, "Skip existing" with "Don't ask
// again" skips the rows whose outputs are newer than their sources (each
// row says "skipped", the log says why and counts them) and is not asked
// again: the next batch converts only the source changed since.
TEST_F(ListWindowTest, ExistingOutputsAreKeptOrSkippedAsAnsweredAndTheAnswerIsKept) {
  const QString a = Tone("a.wav", 0.5);
  const QString b = Tone("b.wav", 0.7);
  QFile own(Out("a.wav"));
  ASSERT_TRUE(own.open(QIODevice::WriteOnly));
  own.write("the user's own file, not audio");
  own.close();
  FForm->ProfilePanel().SelectProfile(kWav);
  Add(a);
  Add(b);

  QString asked;
  const auto answer = [&asked](const QString& AButton, bool ADontAskAgain) {
    test::OnNextModal([&asked, AButton, ADontAskAgain](QWidget* AModal) {
      auto* box = qobject_cast<QMessageBox*>(AModal);
      ASSERT_NE(box, nullptr);
      asked = box->text();
      if (ADontAskAgain) {
        auto* again = box->findChild<QCheckBox*>("chDontAskAgain");
        ASSERT_NE(again, nullptr);
        QTest::mouseClick(again, Qt::LeftButton, {}, QPoint(5, again->height() / 2));
        ASSERT_TRUE(again->isChecked());
      }
      auto* button = box->findChild<QAbstractButton*>(AButton);
      ASSERT_NE(button, nullptr);
      QTest::mouseClick(button, Qt::LeftButton);
    });
  };

  // Keep both: the user's file stays as it was, the output takes the next name.
  answer("btnKeepBoth", false);
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(asked, "1 output already exists.");
  EXPECT_TRUE(Logged("-> Conversion successfully done."));
  EXPECT_EQ(Bytes(Out("a.wav")), QByteArray("the user's own file, not audio"));
  EXPECT_NEAR(DecodeFile(Out("a (2).wav")).Seconds, 0.5, 0.05);
  EXPECT_NEAR(DecodeFile(Out("b.wav")).Seconds, 0.7, 0.05);

  // Skip existing, not to be asked again: both plain names stand and are
  // newer than their sources, so nothing converts.
  asked.clear();
  FSink.Log.clear();
  answer("btnSkipExisting", true);
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(asked, "2 outputs already exist.");
  EXPECT_EQ(Row(0).Conversion.State, TRowState::Skipped);
  EXPECT_EQ(Row(1).Conversion.State, TRowState::Skipped);
  EXPECT_EQ(RowStatusText(Row(1).Conversion), "skipped");
  EXPECT_EQ(FSink.Log.filter("-> Skipped ").size(), 2);
  EXPECT_TRUE(Logged("-> Conversion successfully done: 0 done, 2 skipped.")) << FSink.Log.join("\n").toStdString();
  EXPECT_EQ(Bytes(Out("a.wav")), QByteArray("the user's own file, not audio"));
  EXPECT_FALSE(QFileInfo::exists(Out("a (3).wav")));
  EXPECT_FALSE(QFileInfo::exists(Out("b (2).wav")));

  // A source changed since its output: the next batch asks nothing and
  // converts that one alone.
  const QByteArray bBefore = Bytes(Out("b.wav"));
  // The same length (the row keeps its trim), a tenth of full scale now.
  ASSERT_TRUE(QFile::remove(b));
  ASSERT_EQ(test::Run(("sox -n -r 44100 -c 2 -b 16 '" + b + "' synth 0.7 sine 440 vol 0.1").toStdString()), 0);
  QFile bSource(b);
  ASSERT_TRUE(bSource.open(QIODevice::ReadWrite));
  ASSERT_TRUE(bSource.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
  bSource.close();
  FSink.Log.clear();
  TMessageCatcher messages;
  FForm->Conversion().ConvertButtonClick();
  EXPECT_EQ(messages.Texts.filter("already exist").size(), 0) << messages.Texts.join("\n").toStdString();
  EXPECT_EQ(Row(0).Conversion.State, TRowState::Skipped);
  EXPECT_EQ(Row(1).Conversion.State, TRowState::Done);
  EXPECT_NE(Bytes(Out("b.wav")), bBefore);
  const test::TDecodedAudio reconverted = DecodeFile(Out("b.wav"));
  EXPECT_NEAR(reconverted.Seconds, 0.7, 0.05);
  EXPECT_NEAR(reconverted.Rms, 0.1 / std::sqrt(2.0), 0.01);
  EXPECT_TRUE(Logged("-> Conversion successfully done: 1 done, 1 skipped."));

  // The answer is kept with the settings.
  FForm->SaveSettings();
  EXPECT_EQ(OpenSettings()->value("existingoutputs").toString(), "skip");
}

TEST(Screenshots, ListAndConversionDialog) {
  test::ResetUserState();
  test::TRecordingDesktop desktop;
  TAppWindows windows({test::MakeProgramFolder(), {}, &desktop});
  TMainForm& main = windows.Main();
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  const QString dir = QDir::tempPath() + "/quorvel-tests/Screenshots-media";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir + "/out");
  main.Ui().edDestinationFolder->setText(dir + "/out");
  QStringList files;
  for (const char* m : {"emacspeak__emacspeak.mp3", "sonic-pi-samples__loop_tabla.flac",
                        "golang-github-gabriel-vasile-mimetype-dev__mp4.mp4"})
    files << QString::fromStdString(SharedMedia(m));
  main.DropFiles(files);
  test::SaveScreenshot(main, "main-window-filled");
  test::OnNextModal([&](QWidget* AModal) {
    auto* form = static_cast<TConvForm*>(AModal);
    QTRY_VERIFY_WITH_TIMEOUT(form->ProgressTotal->value() > 0 || !form->isVisible(), 10000);
    form->PauseButton->click();
    if (form->isVisible()) test::SaveScreenshot(*form, "conversion-dialog");
    form->PauseButton->click();
  });
  main.Conversion().ConvertButtonClick();
  main.close();
}

}  // namespace
}  // namespace quorvel
