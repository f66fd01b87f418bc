// The main window as a desktop window: resized and maximised with its shape
// kept, the list's columns, several rows chosen at once, the menus' keys,
// Clear's question and the list kept between sessions. Driven with real
// mouse and key events offscreen.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QScrollBar>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <map>

#include "AppTestSupport.h"
#include "MainFormFixture.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/ProfilePanel.h"
#include "app/preview/PreviewPanel.h"
#include "app/report/LogForm.h"
#include "app/shell/AppWindows.h"
#include "app/shell/Widgets.h"
#include "app/sources/SourceList.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

// Closes every modal window that opens while it lives (a dialog a command
// opened), counting them.
class TModalCloser {
public:
  TModalCloser() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) return;
      ++Closed;
      if (auto* d = qobject_cast<QDialog*>(modal))
        d->reject();
      else
        modal->close();
    });
    FTimer.start(10);
  }
  int Closed = 0;

private:
  QTimer FTimer;
};

class DesktopWindowTest : public test::TMainFormFixture {
protected:
  QString Tone(const QString& AName, double ASeconds) { return test::MakeSine(FDir + "/" + AName, ASeconds); }
  void Add(const QString& APath) { ASSERT_TRUE(FForm->AddMediaFile(APath)) << APath.toStdString(); }
  TSourceList& List() { return FForm->SourceList(); }
  QTableWidget* Grid() { return List().Grid(); }
  QStringList Titles() {
    QStringList t;
    for (const TAudioFile& f : List().AudioFiles()) t << f.DestinationTitle;
    return t;
  }
  void ShowActive() {
    FForm->show();
    FForm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
  }
  void ClickRow(int ARow, Qt::KeyboardModifiers AModifiers = {}) {
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, AModifiers,
                      Grid()->visualItemRect(Grid()->item(ARow, 0)).center());
  }
  // Closes the window as the user does and starts a new one on the same
  // settings store.
  void Restart() {
    FForm->close();
    FForm.reset();
    FForm = std::make_unique<TMainForm>(TAppServices{FProgram, {}, &FDesktop}, FSink);
    FForm->FormCreate();
  }
};

// ------------------------------------------------------------ the shape

TEST_F(DesktopWindowTest, ResizingGrowsTheListAndTheShapeAndColumnWidthsComeBack) {
  ShowActive();
  const TMainFormUi& ui = FForm->Ui();
  // The first start: the smallest window, as the window always was.
  EXPECT_EQ(FForm->size(), FForm->minimumSize());
  EXPECT_EQ(FForm->centralWidget()->size(), QSize(737, 452));
  EXPECT_TRUE(FForm->windowFlags() & Qt::WindowMaximizeButtonHint);
  const QSize listBefore = ui.stkList->size();
  const int playerBefore = ui.pnlPlayer->width();
  EXPECT_GE(listBefore.width(), 446);
  EXPECT_GE(listBefore.height(), 180);

  FForm->resize(1100, 760);
  QTRY_VERIFY_WITH_TIMEOUT(ui.stkList->width() > listBefore.width(), 10000);
  // The list takes the room the window gained; the player keeps its width.
  EXPECT_EQ(ui.stkList->width() - listBefore.width(), 1100 - FForm->minimumWidth());
  // The smallest window squeezes the controls below the list by a few
  // pixels; they get those back first.
  EXPECT_GE(ui.stkList->height() - listBefore.height(), 760 - FForm->minimumHeight() - 8);
  EXPECT_EQ(ui.pnlPlayer->width(), playerBefore);
  // Smaller than the smallest is refused.
  FForm->resize(300, 200);
  QTRY_COMPARE_WITH_TIMEOUT(FForm->size(), FForm->minimumSize(), 10000);
  FForm->resize(1100, 760);
  QTRY_COMPARE_WITH_TIMEOUT(FForm->size(), QSize(1100, 760), 10000);

  // The Source column widened by dragging its right edge in the header.
  QHeaderView* header = Grid()->horizontalHeader();
  const int before = Grid()->columnWidth(colSource);
  const int edge = header->sectionViewportPosition(colSource) + header->sectionSize(colSource) - 1;
  const int y = header->height() / 2;
  QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
  QTest::mouseMove(header->viewport(), QPoint(edge + 30, y));
  QTest::mouseMove(header->viewport(), QPoint(edge + 60, y));
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 60, y));
  ASSERT_EQ(Grid()->columnWidth(colSource), before + 60);
  std::vector<int> widths;
  for (int c = 0; c < kListColumnCount; ++c) widths.push_back(Grid()->columnWidth(c));

  Restart();
  ShowActive();
  EXPECT_EQ(FForm->size(), QSize(1100, 760));
  for (int c = 0; c < kListColumnCount; ++c) EXPECT_EQ(FForm->SourceList().Grid()->columnWidth(c), widths[c]) << c;

  // Maximised is kept as such, also when the program starts with files
  // (which brings the window to the front).
  FForm->showMaximized();
  QTRY_VERIFY_WITH_TIMEOUT(FForm->isMaximized(), 10000);
  FForm->close();
  FForm.reset();
  TAppWindows windows({FProgram, {}, &FDesktop});
  windows.Main().show();
  windows.OpenFiles({Tone("front.wav", 0.2)});
  QTRY_COMPARE_WITH_TIMEOUT(windows.Main().SourceList().RowCount(), 1, 10000);
  QTRY_VERIFY_WITH_TIMEOUT(windows.Main().isMaximized(), 10000);
  windows.Main().showMinimized();
  windows.OpenFiles({});
  QTRY_VERIFY_WITH_TIMEOUT(windows.Main().isMaximized() && !windows.Main().isMinimized(), 10000);
}

// Two files of one name from two folders: the Folder column and the
// Source cell's tooltip tell them apart; Duration is the whole file's.
TEST_F(DesktopWindowTest, FolderAndDurationColumnsAndTheFullPathAsTheSourcesTooltip) {
  const QString a = Tone("take one/steps.wav", 1.5);
  const QString b = Tone("take two/steps.wav", 61.2);
  Add(a);
  Add(b);
  QStringList captions;
  for (int c = 0; c < Grid()->columnCount(); ++c) captions << Grid()->horizontalHeaderItem(c)->text();
  EXPECT_EQ(captions, (QStringList{"Source", "Estimated Size", "Destination File", "Format", "Status", "Duration",
                                   "Folder"}));
  const struct {
    int Row;
    QString Path, Folder, Duration;
  } rows[] = {{0, a, FDir + "/take one", "00:00:01"}, {1, b, FDir + "/take two", "00:01:01"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Row);
    EXPECT_EQ(Grid()->item(r.Row, colSource)->text(), "steps.wav");
    EXPECT_EQ(Grid()->item(r.Row, colSource)->toolTip(), r.Path);
    EXPECT_EQ(Grid()->item(r.Row, colFolder)->text(), r.Folder);
    EXPECT_EQ(Grid()->item(r.Row, colDuration)->text(), r.Duration);
  }
}

// ------------------------------------------------------- several rows

TEST_F(DesktopWindowTest, ShiftAndCtrlClicksChooseRowsThatDeleteRemovesTogether) {
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  for (int i = 0; i < 6; ++i) Add(Tone(QString("r%1.wav").arg(i), 0.2));
  // Each row its own profile, to see which one the choices show.
  for (int i = 0; i < 6; ++i) List().Rows().SetProfile(i, i);
  ShowActive();

  ClickRow(1);
  ClickRow(2, Qt::ShiftModifier);
  ClickRow(4, Qt::ControlModifier);
  EXPECT_EQ(List().SelectedIndexes(), (std::vector<int>{1, 2, 4}));
  // The profile choices follow the row clicked last (the current row).
  EXPECT_EQ(List().SelectedIndex(), 4);
  EXPECT_EQ(FForm->ProfilePanel().cmbProfile->currentIndex(), 4);
  QTest::keyClick(Grid(), Qt::Key_Delete);
  EXPECT_EQ(Titles(), (QStringList{"r0", "r3", "r5"}));
  EXPECT_EQ(Grid()->rowCount(), 3);
  // The row now in the first removed row's place is chosen, with its profile.
  EXPECT_EQ(List().SelectedIndexes(), (std::vector<int>{1}));
  EXPECT_EQ(FForm->ProfilePanel().cmbProfile->currentIndex(), 3);

  // Ctrl+A then Delete: every row goes, without Clear's question.
  TModalCloser modals;
  QTest::keyClick(Grid(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(List().SelectedIndexes(), (std::vector<int>{0, 1, 2}));
  QTest::keyClick(Grid(), Qt::Key_Delete);
  EXPECT_EQ(List().RowCount(), 0);
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_EQ(modals.Closed, 0);
}

TEST_F(DesktopWindowTest, ClearAsksBeforeEmptyingTheList) {
  for (int i = 0; i < 3; ++i) Add(Tone(QString("c%1.wav").arg(i), 0.2));
  ShowActive();
  QString asked;
  test::OnNextModal([&](QWidget* AModal) {
    if (auto* box = qobject_cast<QMessageBox*>(AModal)) asked = box->text();
    AModal->findChild<QAbstractButton*>("btnClearCancel")->click();
  });
  QTest::mouseClick(FForm->Ui().btnClear, Qt::LeftButton);
  EXPECT_EQ(asked, "Remove all 3 file(s) from the list?");
  EXPECT_EQ(List().RowCount(), 3);

  test::ClickOnNextModal("btnClearConfirm");
  QTest::mouseClick(FForm->Ui().btnClear, Qt::LeftButton);
  EXPECT_EQ(List().RowCount(), 0);

  // An empty list is cleared without a question.
  TModalCloser modals;
  QTest::mouseClick(FForm->Ui().btnClear, Qt::LeftButton);
  FForm->Ui().actClearAll->trigger();
  EXPECT_EQ(modals.Closed, 0);
}

// ------------------------------------------------------------- the keys

TEST_F(DesktopWindowTest, EachMenuKeyIsShownInItsMenuAndRunsItsCommand) {
  // The window with every dialog bound, as the program makes it.
  FForm.reset();
  TAppWindows windows({FProgram, {}, &FDesktop});
  TMainForm& main = windows.Main();
  main.Ui().edDestinationFolder->setText(FDir + "/out");
  ASSERT_TRUE(main.AddMediaFile(Tone("k0.wav", 0.4)));
  ASSERT_TRUE(main.AddMediaFile(Tone("k1.wav", 0.4)));
  ASSERT_TRUE(main.AddMediaFile(Tone("k2.wav", 0.4)));
  main.SourceList().SelectIndex(0);
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  QTableWidget* grid = main.SourceList().Grid();
  grid->setFocus();

  std::map<QString, QAction*> items;  // the menus' items by caption
  for (QAction* m : main.menuBar()->actions())
    for (QAction* a : m->menu()->actions()) items[a->text()] = a;
  auto modalsOwner = std::make_unique<TModalCloser>();
  TModalCloser& modals = *modalsOwner;
  const struct {
    const char* Item;
    const char* Keys;
    std::function<void()> Check;  // what the command did
  } keys[] = {
      {"Events Log", "Ctrl+L", [&] { EXPECT_EQ(modals.Closed, 1); }},
      {"File Information", "Ctrl+I", [&] { EXPECT_EQ(modals.Closed, 2); }},
      {"Trim Audio...", "Ctrl+T", [&] { EXPECT_EQ(modals.Closed, 3); }},
      {"Play/Pause Preview", "Space",
       [&] { QTRY_VERIFY_WITH_TIMEOUT(main.Ui().btnPlay->isChecked(), 10000); }},
      {"Play/Pause Preview", "Space",
       [&] {
         QTRY_VERIFY_WITH_TIMEOUT(main.Ui().btnPause->isChecked(), 10000);
         main.Preview().StopButtonClick();
       }},
      {"Select All", "Ctrl+A", [&] { EXPECT_EQ(main.SourceList().SelectedIndexes().size(), 3u); }},
      {"Add audio files", "Ctrl+O", [&] { EXPECT_EQ(modals.Closed, 4); }},
      {"Add folder...", "Ctrl+Shift+O", [&] { EXPECT_EQ(modals.Closed, 5); }},
      {"Remove", "Del", [&] { EXPECT_EQ(main.SourceList().RowCount(), 0); }},
  };
  for (const auto& k : keys) {
    SCOPED_TRACE(k.Keys);
    ASSERT_TRUE(items.count(k.Item)) << k.Item;
    QAction* action = items[k.Item];
    // The menu shows the key beside the item.
    EXPECT_EQ(action->shortcut().toString(), k.Keys);
    QSignalSpy triggered(action, &QAction::triggered);
    // Back in the window after the dialog the key before opened (the
    // closed dialog may keep the keyboard for a moment).
    main.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == &main, 10000);
    grid->setFocus();
    const QKeySequence seq(QString::fromLatin1(k.Keys));
    QTest::keySequence(grid, seq);
    EXPECT_EQ(triggered.count(), 1);
    k.Check();
  }

  modalsOwner.reset();  // the batch's own dialogs run their course
  // Ctrl+Return converts: a row again, and the batch writes it.
  ASSERT_TRUE(main.AddMediaFile(Tone("k3.wav", 0.4)));
  main.SourceList().SelectIndex(0);
  ASSERT_TRUE(items.count("Start Conversion"));
  EXPECT_EQ(items["Start Conversion"]->shortcut().toString(), "Ctrl+Return");
  QSignalSpy converted(items["Start Conversion"], &QAction::triggered);
  main.activateWindow();
  QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == &main, 10000);
  QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(converted.count(), 1);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(FDir + "/out/k3.mp3"), 60000);
  main.close();
}

// ---------------------------------------------------- the kept list

TEST_F(DesktopWindowTest, TheListComesBackAfterARestartWithoutVanishedFiles) {
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  const QString a = Tone("kept/a.wav", 3);
  const QString gone = Tone("kept/gone.wav", 1);
  const QString b = Tone("other/b.wav", 2);
  for (const QString& f : {a, gone, b}) Add(f);
  List().Rows().SetProfile(2, 2);
  List().Rows().SetTitle(0, "renamed");
  // Trims typed into the fields, Enter.
  List().SelectIndex(2);
  FForm->sgListClick();
  FForm->Ui().edTimeStart->setTime(QTime(0, 0, 0, 250));
  FForm->Ui().edTimeEnd->setTime(QTime(0, 0, 1, 500));
  QTest::keyClick(FForm->Ui().edTimeEnd, Qt::Key_Return);
  const std::vector<TAudioFile> before = List().AudioFiles();
  ASSERT_EQ(before[2].TimeStart, 250'000);

  FForm->close();
  ASSERT_TRUE(QFile::remove(gone));
  FSink.Log.clear();
  Restart();
  ASSERT_EQ(List().RowCount(), 2);
  EXPECT_EQ(FForm->Ui().stkList->currentWidget(), Grid());
  // Rows of several profiles: Apply to All starts off, so that a click on
  // a row does not give every row its profile.
  EXPECT_FALSE(FForm->ProfilePanel().chApplyToAll->isChecked());
  const struct {
    int Row, Was;
  } kept[] = {{0, 0}, {1, 2}};
  for (const auto& k : kept) {
    SCOPED_TRACE(k.Row);
    const TAudioFile& now = List().Rows().At(k.Row);
    const TAudioFile& was = before[static_cast<size_t>(k.Was)];
    EXPECT_EQ(now.Source, was.Source);
    EXPECT_EQ(now.DestinationTitle, was.DestinationTitle);
    EXPECT_EQ(now.TimeStart, was.TimeStart);
    EXPECT_EQ(now.TimeEnd, was.TimeEnd);
    EXPECT_EQ(now.Duration, was.Duration);
    EXPECT_EQ(now.ProfileInd, was.ProfileInd);
    EXPECT_EQ(now.SourceAudio.SampleRate, 44100);
    EXPECT_EQ(now.SourceAudio.Channels, 2);
    EXPECT_DOUBLE_EQ(now.EstimatedSize, was.EstimatedSize);
    EXPECT_EQ(Grid()->item(k.Row, colSource)->toolTip(), was.Source);
  }
  EXPECT_EQ(FSink.Log.filter("no longer found").size(), 1) << FSink.Log.join('\n').toStdString();
  EXPECT_EQ(FSink.Log.filter(gone).size(), 1);

  // The setting off (Tools): the next start has an empty list.
  QAction* keep = FForm->Ui().actKeepList;
  EXPECT_TRUE(keep->isChecked());
  keep->trigger();
  EXPECT_FALSE(keep->isChecked());
  Restart();
  EXPECT_EQ(List().RowCount(), 0);
  EXPECT_FALSE(FForm->Ui().actKeepList->isChecked());
  // Still off after a session with rows; on again, the rows of the session
  // that turned it on come back.
  Add(a);
  Restart();
  EXPECT_EQ(List().RowCount(), 0);
  Add(b);
  FForm->Ui().actKeepList->trigger();
  Restart();
  ASSERT_EQ(List().RowCount(), 1);
  EXPECT_EQ(List().Rows().At(0).Source, b);
}


// ------------------------------------------------------ milliseconds

TEST_F(DesktopWindowTest, MillisecondTrimsRoundTripThroughTheFieldsAndTheBatch) {
  constexpr int kWav = 6;  // the shipped set's WAV profile: the length as cut
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  Add(Tone("ms-a.wav", 3));
  Add(Tone("ms-b.wav", 3));
  QTimeEdit* start = FForm->Ui().edTimeStart;
  QTimeEdit* end = FForm->Ui().edTimeEnd;
  const struct {
    int Row;
    QTime Start, End;
    const char* StartText;
  } trims[] = {{0, QTime(0, 0, 0, 250), QTime(0, 0, 1, 500), "00:00:00.250"},
               {1, QTime(0, 0, 0), QTime(0, 0, 1), "00:00:00.000"}};
  for (const auto& t : trims) {
    List().SelectIndex(t.Row);
    FForm->sgListClick();
    List().Rows().SetProfile(t.Row, kWav);
    start->setTime(t.Start);
    end->setTime(t.End);
    QTest::keyClick(end, Qt::Key_Return);
  }
  EXPECT_EQ(List().Rows().At(0).TimeStart, 250'000);
  EXPECT_EQ(List().Rows().At(0).TimeEnd, 1'500'000);
  // Back on the first row: the fields show its milliseconds.
  List().SelectIndex(0);
  FForm->sgListClick();
  EXPECT_EQ(start->time(), QTime(0, 0, 0, 250));
  EXPECT_EQ(start->text(), "00:00:00.250");
  EXPECT_EQ(end->text(), "00:00:01.500");
  // The estimate follows the exact length: 1.25 s against 1 s.
  EXPECT_NEAR(List().Rows().At(0).EstimatedSize / List().Rows().At(1).EstimatedSize, 1.25, 1e-9);

  FForm->Conversion().ConvertButtonClick();  // returns when the batch has ended
  const struct {
    QString File;
    double Seconds;
  } outputs[] = {{FDir + "/out/ms-a.wav", 1.25}, {FDir + "/out/ms-b.wav", 1.0}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.File.toStdString());
    const test::TDecodedAudio d = test::DecodeAudio(o.File.toStdString());
    ASSERT_TRUE(d.Ok);
    EXPECT_NEAR(d.Seconds, o.Seconds, 0.010);
  }
}

// ------------------------------------------------------- sorting

// A click on a caption sorts the rows (natural order of names, lengths by
// value; a second click the other way). The selection stays on its rows,
// and the batch joins the rows in the order shown.
TEST_F(DesktopWindowTest, AHeaderClickSortsTheRowsAndTheBatchFollowsTheOrderShown) {
  const QString tenth = test::MakeSine(FDir + "/track 10.wav", 1.0, "vol 0.1");
  const QString second = test::MakeSine(FDir + "/track 2.wav", 3.0, "vol 0.6");
  const QString first = test::MakeSine(FDir + "/Track 1.wav", 2.0, "vol 0.3");
  ShowActive();
  ASSERT_TRUE(test::DropFiles(FForm.get(), {tenth, second, first}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return List().RowCount() == 3; }, 60000));
  ASSERT_EQ(Titles(), (QStringList{"track 10", "track 2", "Track 1"}));
  FForm->ProfilePanel().chApplyToAll->setChecked(false);
  List().Rows().SetProfile(1, 2);
  ClickRow(1);  // "track 2"
  ClickRow(0, Qt::ControlModifier);

  QHeaderView* header = Grid()->horizontalHeader();
  auto clickCaption = [&](int AColumn) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(AColumn) + header->sectionSize(AColumn) / 2,
                             header->height() / 2));
  };
  const struct {
    const char* Name;
    int Column;
    QStringList Order;
    Qt::SortOrder Arrow;
  } clicks[] = {
      {"by name", colSource, {"Track 1", "track 2", "track 10"}, Qt::AscendingOrder},
      {"by name again", colSource, {"track 10", "track 2", "Track 1"}, Qt::DescendingOrder},
      {"by length", colDuration, {"track 10", "Track 1", "track 2"}, Qt::AscendingOrder},
      {"by length again", colDuration, {"track 2", "Track 1", "track 10"}, Qt::DescendingOrder},
  };
  for (const auto& c : clicks) {
    SCOPED_TRACE(c.Name);
    clickCaption(c.Column);
    EXPECT_EQ(Titles().join(", ").toStdString(), c.Order.join(", ").toStdString());
    for (int r = 0; r < 3; ++r)
      EXPECT_EQ(Grid()->item(r, colDestination)->text().toStdString(), c.Order[r].toStdString()) << "grid row " << r;
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), c.Column);
    EXPECT_EQ(header->sortIndicatorOrder(), c.Arrow);
    // The same two rows chosen, "track 2" still the current one with its
    // profile.
    QStringList chosen;
    for (const int r : List().SelectedIndexes()) chosen << Titles()[r];
    chosen.sort();
    EXPECT_EQ(chosen.join(", ").toStdString(), "track 10, track 2");
    ASSERT_GE(List().SelectedIndex(), 0);
    EXPECT_EQ(Titles()[List().SelectedIndex()].toStdString(), "track 10");
  }

  // Joined in the order shown: 3 s at 0.6, 2 s at 0.3, then 1 s at 0.1.
  constexpr int kWav = 6;  // the shipped set's WAV profile
  List().SelectIndex(0);
  FForm->sgListClick();
  List().Rows().SetProfile(0, kWav);
  FForm->Ui().chMerge->setChecked(true);
  FForm->Conversion().ConvertButtonClick();
  const std::string joined = (FDir + "/out/Joined.wav").toStdString();
  const struct {
    double From, To, Level;
  } parts[] = {{0.2, 2.8, 0.6}, {3.2, 4.8, 0.3}, {5.2, 5.8, 0.1}};
  for (const auto& p : parts) {
    const test::TDecodedAudio d = test::DecodeAudio(joined, false, p.From, p.To);
    ASSERT_TRUE(d.Ok) << d.Error;
    EXPECT_NEAR(d.Seconds, 6.0, 0.05);
    EXPECT_NEAR(d.Rms, p.Level / std::sqrt(2.0), 0.02) << p.From << " to " << p.To << " s";
  }

  // A row moved by hand: the list is no longer in the caption's order.
  ClickRow(1);
  FForm->Ui().popMoveDown->trigger();
  EXPECT_FALSE(header->isSortIndicatorShown());
}

// ------------------------------------------------------- the output folder

// The output folder field takes typing: what cannot be a folder is shown as
// it is typed and refused at Convert; a folder still missing is made after
// asking (No converts to the temporary folder, as an empty field does;
// Cancel converts nothing).
TEST_F(DesktopWindowTest, ATypedOutputFolderIsCheckedAndAMissingOneMadeAfterAsking) {
  const QString tone = Tone("typed.wav", 0.3);
  Add(tone);
  QFile file(FDir + "/a file");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  QLineEdit* field = FForm->Ui().edDestinationFolder;
  EXPECT_FALSE(field->isReadOnly());
  const QString temp = test::TestHome() + "/tmp/Sabrivo_temp";
  QDir(temp).removeRecursively();
  const struct {
    const char* Name;
    QString Typed;
    bool Problem;                    // the field says what is wrong as it is typed
    QMessageBox::StandardButton Answer;  // to the question, when one comes
    QString Output;                  // where the output lands; empty: none
    int Boxes;                       // message boxes shown
  } cases[] = {
      {"a relative path", "out/here", true, QMessageBox::NoButton, "", 1},
      {"beneath a file", FDir + "/a file/out", true, QMessageBox::NoButton, "", 1},
      {"missing, made", FDir + "/new/deeper", false, QMessageBox::Yes, FDir + "/new/deeper/typed.mp3", 1},
      {"missing, cancelled", FDir + "/never", false, QMessageBox::Cancel, "", 1},
      {"missing, not made", FDir + "/not made", false, QMessageBox::No, temp + "/typed.mp3", 2},
      {"typed with blanks around", "  " + FDir + "/out  ", false, QMessageBox::NoButton, FDir + "/out/typed.mp3", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    field->selectAll();
    QTest::keyClicks(field, c.Typed);
    ASSERT_EQ(field->text(), c.Typed);
    EXPECT_EQ(!field->property("problem").toString().isEmpty(), c.Problem) << field->toolTip().toStdString();
    test::TMessageCatcher boxes(c.Answer);
    FForm->Conversion().ConvertButtonClick();
    const QStringList texts = boxes.Texts;
    EXPECT_EQ(texts.size(), c.Boxes) << texts.join(" | ").toStdString();
    if (c.Answer != QMessageBox::NoButton) {
      ASSERT_FALSE(texts.isEmpty());
      EXPECT_TRUE(texts[0].startsWith("The output folder \"" + QDir::cleanPath(c.Typed.trimmed()) + "\" does not exist."))
          << texts[0].toStdString();
    }
    if (c.Output.isEmpty()) {
      EXPECT_FALSE(QFileInfo::exists(c.Typed.trimmed())) << "nothing made";
    } else {
      EXPECT_TRUE(test::DecodeAudio(c.Output.toStdString()).Ok) << c.Output.toStdString();
      QFile::remove(c.Output);
    }
  }
}

// ------------------------------------------------------- events log

TEST_F(DesktopWindowTest, TheEventsLogOpensAtTheStartOfItsLinesAndCopiesAndSavesThem) {
  TLogForm log(FForm.get());
  QStringList lines;
  for (int i = 0; i < 60; ++i)
    lines << QString("[12:00:%1] -> Added file %2/a very long folder name that goes on and on/and on/file %1.wav")
                 .arg(i, 2, 10, QChar('0'))
                 .arg(FDir);
  for (const QString& l : lines) log.AppendLine(l);
  const QString saved = FDir + "/events.txt";
  int horizontal = -1, vertical = -1, verticalMax = -1;
  QSize size;
  test::OnNextModal([&](QWidget* AModal) {
    auto* form = qobject_cast<TLogForm*>(AModal);
    ASSERT_NE(form, nullptr);
    horizontal = form->mmoLog->horizontalScrollBar()->value();
    vertical = form->mmoLog->verticalScrollBar()->value();
    verticalMax = form->mmoLog->verticalScrollBar()->maximum();
    size = form->size();
    QTest::mouseClick(form->btnCopyAll, Qt::LeftButton);
    // Save as...: the file's name typed into the save dialog, Enter.
    auto* timer = new QTimer(form);
    QObject::connect(timer, &QTimer::timeout, [timer, saved] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      timer->stop();
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      name->setFocus();
      name->setText(saved);  // as pasted: typing would open the completer's list
      QTest::keyClick(name, Qt::Key_Return);
    });
    timer->start(10);
    QTest::mouseClick(form->btnSaveAs, Qt::LeftButton);
    form->accept();
  });
  log.Execute();
  EXPECT_EQ(horizontal, 0);
  EXPECT_EQ(vertical, verticalMax);  // the newest lines in view
  EXPECT_GE(size.width(), 700);
  EXPECT_GE(size.height(), 450);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join('\n') + '\n');
  QFile file(saved);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()), lines.join('\n') + '\n');
}

}  // namespace
}  // namespace quorvel
