// The main window's start-up, settings and commands.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

#include "AppTestSupport.h"
#include "app/conversion/BatchConversion.h"
#include "app/report/ExceptionGuard.h"
#include "app/shell/MainForm.h"
#include "app/conversion/ProfilePanel.h"
#include "app/conversion/SimultaneousChoice.h"
#include "app/shell/ShellFolders.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::TestHome;

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::ResetUserState();
    FProgram = test::MakeProgramFolder();
  }
  std::unique_ptr<TMainForm> NewForm(const TEndpoints& AEndpoints = {}) {
    return std::make_unique<TMainForm>(TAppServices{FProgram, AEndpoints, &FDesktop}, FSink);
  }
  static QSettings Stored() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Sabrivo", "Quorvel");
  }
  QString OutputFolder() const { return TestHome() + "/Documents/Sabrivo/Quorvel/Output"; }

  QString FProgram;
  test::TRecordingSink FSink;
  test::TRecordingDesktop FDesktop;
};

TEST_F(MainFormTest, FirstRunUsesTheDefaults) {
  auto form = NewForm();
  form->FormCreate();
  EXPECT_TRUE(FSink.Reports.empty());
  EXPECT_EQ(form->Ui().edDestinationFolder->text(), OutputFolder());
  EXPECT_TRUE(QFileInfo(OutputFolder()).isDir());
  EXPECT_EQ(form->OpenDialogFolder(), TestHome() + "/Music");
  EXPECT_EQ(form->ProfilePanel().cmbProfile->currentIndex(), 0);
  EXPECT_EQ(form->ProfilePanel().CurProfile(), 0);
  EXPECT_GE(form->ProfilePanel().Profiles().size(), 12u);
  EXPECT_EQ(form->TempFolder(), TestHome() + "/tmp/");
  EXPECT_EQ(form->windowTitle(), "Quorvel");
  EXPECT_EQ(form->centralWidget()->size(), QSize(737, 452));
  EXPECT_TRUE(form->Skin().Loaded());
  EXPECT_TRUE(FFLoader().Loaded(kEncoderLibraries));
  const QTableWidget* grid = form->SourceList().Grid();
  EXPECT_EQ(grid->columnWidth(0), 150);
  EXPECT_EQ(grid->columnWidth(1), 87);
  EXPECT_EQ(grid->columnWidth(2), 150);
  EXPECT_EQ(grid->columnWidth(3), 55);
}

TEST_F(MainFormTest, ClosingWithoutEditsWritesOnlyWhatWasUsed) {
  auto form = NewForm();
  form->FormCreate();
  form->Ui().edDestinationFolder->setText("/somewhere/else");
  form->close();
  QSettings s = Stored();
  EXPECT_EQ(s.value("OutputPath").toString(), "/somewhere/else");
  EXPECT_EQ(s.value("recentprofileind").toInt(), 0);
  for (const char* absent :
       {"OpenAudioDialogPath", "lasteditedprofileind", "audiocodecname", "audiobitrate", "samplerate", "channels"})
    EXPECT_FALSE(s.contains(absent)) << absent;
}

TEST_F(MainFormTest, SimultaneousConversionsAreChosenInToolsAndKeptWithTheSettings) {
  const int cores = QThread::idealThreadCount();
  {
    auto form = NewForm();
    form->FormCreate();
    TSimultaneousChoice& choice = form->Simultaneous();
    EXPECT_EQ(choice.Cores(), cores);
    EXPECT_EQ(choice.Value(), cores);  // the default: one per core
    EXPECT_TRUE(choice.Action(cores)->isChecked());
    EXPECT_EQ(choice.Menu()->title(), "Simultaneous conversions");
    EXPECT_TRUE(form->Ui().mnuTools->actions().contains(choice.Menu()->menuAction()));
    choice.Action(1)->trigger();
    EXPECT_EQ(form->Conversion().WorkerCount(), 1);
    form->close();
  }
  EXPECT_EQ(Stored().value("simultaneousconversions").toInt(), 1);
  {
    auto form = NewForm();
    form->FormCreate();
    EXPECT_EQ(form->Simultaneous().Value(), 1);
    EXPECT_TRUE(form->Simultaneous().Action(1)->isChecked());
  }
  // A count stored on a larger machine becomes what this one has.
  Stored().setValue("simultaneousconversions", cores + 7);
  auto form = NewForm();
  form->FormCreate();
  EXPECT_EQ(form->Simultaneous().Value(), cores);
  EXPECT_EQ(form->Conversion().WorkerCount(), cores);
}

TEST_F(MainFormTest, SettingsWrittenAtCloseAreReadAtTheNextStart) {
  const QString picked = TestHome() + "/Music/albums";
  QDir().mkpath(picked);
  QFile(picked + "/song.mp3").open(QIODevice::WriteOnly);
  {
    auto form = NewForm();
    form->FormCreate();
    TProfilePanel& panel = form->ProfilePanel();
    panel.SelectProfile(2);
    form->SourceList().Rows().Append(TAudioFile{});
    panel.cmbAudioBitRate->setCurrentIndex(0);
    panel.StoreProfileChoices();
    test::OnNextModal([&](QWidget* AModal) {
      auto* dialog = qobject_cast<QFileDialog*>(AModal);
      ASSERT_NE(dialog, nullptr);
      dialog->selectFile(picked + "/song.mp3");
      static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(form->ExecuteOpenDialog(), QStringList{picked + "/song.mp3"});
    form->close();
  }
  QSettings s = Stored();
  EXPECT_EQ(s.value("OpenAudioDialogPath").toString(), picked);
  EXPECT_EQ(s.value("recentprofileind").toInt(), 2);
  EXPECT_EQ(s.value("lasteditedprofileind").toInt(), 2);
  EXPECT_FALSE(s.value("audiobitrate").toString().isEmpty());
  EXPECT_FALSE(s.value("audiocodecname").toString().isEmpty());

  auto next = NewForm();
  next->FormCreate();
  EXPECT_EQ(next->ProfilePanel().cmbProfile->currentIndex(), 2);
  EXPECT_EQ(next->ProfilePanel().LastEditedProfile(), 2);
  EXPECT_EQ(next->OpenDialogFolder(), picked);
  EXPECT_EQ(next->ProfilePanel().Profiles()[2].AudioBitRate, next->ProfilePanel().Profiles()[2].StandardAudioBitRate)
      << "the stored profile values are not applied";
}

TEST_F(MainFormTest, StoredValuesThatNoLongerFit) {
  {
    QSettings s = Stored();
    s.setValue("OutputPath", "/no/such/output");
    s.setValue("OpenAudioDialogPath", "/no/such/folder");
    s.setValue("recentprofileind", 99);
    s.setValue("lasteditedprofileind", 98);
  }
  auto form = NewForm();
  form->FormCreate();
  EXPECT_EQ(form->Ui().edDestinationFolder->text(), "/no/such/output") << "shown even when missing";
  EXPECT_EQ(form->OpenDialogFolder(), "") << "a missing folder gives an empty start";
  EXPECT_EQ(form->ProfilePanel().cmbProfile->currentIndex(), 0);
  EXPECT_EQ(form->ProfilePanel().LastEditedProfile(), -1);
  form->close();
  EXPECT_FALSE(Stored().contains("audiobitrate"));
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(MainFormTest, AMissingSkinFileEndsTheStartUp) {
  QFile::remove(FProgram + "skin-aqua/convert_over.png");
  auto form = NewForm();
  try {
    form->FormCreate();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("convert_over.png"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(form->ProfilePanel().Profiles().empty());
  EXPECT_FALSE(QFileInfo::exists(TestHome() + "/Documents/Sabrivo"));
  form->close();  // still usable: closing saves what there is
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(MainFormTest, WithoutTheBackgroundPictureTheGettingStartedPanelIsHidden) {
  QFile::remove(FProgram + "skin-aqua/gettingstarted.bmp");
  auto form = NewForm();
  form->FormCreate();
  form->show();
  EXPECT_FALSE(form->Ui().pnlGettingStarted->isVisible());
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(MainFormTest, AnUnloadableProfileSetSkipsTheRestOfTheStartUp) {
  struct TCase {
    const char* Name;
    const char* Text;  // nullptr: no file
  };
  for (const TCase& c : {TCase{"missing", nullptr},
                         TCase{"known key first", "<profilename v=\"x\"/>\n<Profile>\n<profilename v=\"y\"/>\n"}}) {
    SetUp();
    if (c.Text)
      test::WriteProfileSet(FProgram, c.Text);
    else
      QFile::remove(FProgram + "mp3-converter-profiles/formats.dat");
    FSink.Reports.clear();
    auto form = NewForm();
    form->FormCreate();
    ASSERT_EQ(FSink.Reports.size(), 1u) << c.Name;
    EXPECT_EQ(FSink.Reports[0], std::make_pair(QString("Error loading profiles"), QString("CLM_LoadProfiles")));
    EXPECT_FALSE(QFileInfo::exists(TestHome() + "/Documents/Sabrivo")) << c.Name;
    EXPECT_EQ(form->ProfilePanel().cmbProfile->count(), 0) << c.Name;
    EXPECT_TRUE(form->Ui().edDestinationFolder->text().isEmpty()) << c.Name;
  }
}

TEST_F(MainFormTest, AnEmptyProfileSetKeepsTheProgramUsable) {
  test::WriteProfileSet(FProgram, "<ProfileSet>\n</ProfileSet>\n");
  auto form = NewForm();
  form->FormCreate();
  EXPECT_TRUE(FSink.Reports.empty());
  EXPECT_EQ(form->ProfilePanel().cmbProfile->count(), 0);
  form->SourceList().Rows().Append(TAudioFile{});
  form->ProfilePanel().StoreProfileChoices();
  form->ProfilePanel().cmbProfileClick();
  form->close();
  EXPECT_EQ(Stored().value("recentprofileind").toInt(), 0);
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(MainFormTest, AFailedRuntimeLoadIsReportedAndStartUpCompletes) {
  FFLoader().Unload(kAllLibraries);
  TLibraryStatus& avutil = TFFLoader::Status(TLibrary::avUtil);
  avutil.Name = "libavutil-missing.so.57";
  auto form = NewForm();
  form->FormCreate();
  avutil.Name.clear();
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_EQ(FSink.Reports[0].second, "CLM_FFAVLibLoad");
  EXPECT_FALSE(FSink.Reports[0].first.isEmpty());
  EXPECT_EQ(FSink.Log.value(0), "[t]-> " + FSink.Reports[0].first);
  EXPECT_EQ(form->ProfilePanel().cmbProfile->currentIndex(), 0) << "the steps before it ran";
}

TEST_F(MainFormTest, SettingsThatCannotBeWrittenAreReported) {
  auto form = NewForm();
  form->FormCreate();
  QFile blocker(TestHome() + "/blocker");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, TestHome() + "/blocker/config");
  form->close();
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, TestHome() + "/config");
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_EQ(FSink.Reports[0],
            std::make_pair(QString("Error writing data to Registry"), QString("CLM_RegDataWrite")));
}

TEST_F(MainFormTest, PreparingTheListShowsItAndEnablesItsCommands) {
  auto form = NewForm();
  form->FormCreate();
  const TMainFormUi& ui = form->Ui();
  EXPECT_EQ(ui.stkList->currentWidget(), ui.pnlGettingStarted);
  EXPECT_FALSE(ui.btnConvert->isEnabled());
  EXPECT_FALSE(ui.popRemove->isEnabled());
  ASSERT_TRUE(form->PrepareSourceList());
  EXPECT_EQ(ui.stkList->currentWidget(), form->SourceList().Grid());
  for (QWidget* w : {static_cast<QWidget*>(ui.btnClear), static_cast<QWidget*>(ui.btnTrim),
                     static_cast<QWidget*>(ui.btnConvert)})
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  for (QAction* a : {ui.popRemove, ui.popClearAll, ui.popRename, ui.popMoveUp, ui.popMoveDown, ui.popTrimAudio,
                     ui.popFileInformation})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
}

TEST_F(MainFormTest, MenusCarryTheirCaptions) {
  auto form = NewForm();
  QStringList menus, items;
  for (QAction* m : form->menuBar()->actions()) {
    menus << m->text().remove('&');
    for (QAction* a : m->menu()->actions())
      if (!a->isSeparator()) items << a->text();
  }
  EXPECT_EQ(menus, (QStringList{"File", "Edit", "Tools", "Help"}));
  for (const char* item : {"Add audio files", "Start Conversion", "File Information", "Exit", "Remove", "Clear All",
                           "Rename", "Move Up", "Move Down", "Trim Audio...", "Events Log", "Online Guide", "Support",
                           "More Freeware", "Tell a Friend", "About"})
    EXPECT_TRUE(items.contains(item)) << item;
  EXPECT_EQ(form->Ui().btnConvert->toolTip(), "Convert all");
}

TEST_F(MainFormTest, ShareButtonsNeedTheirAddresses) {
  TEndpoints homeOnly;
  homeOnly.HomePage = "https://home.example/q";
  TEndpoints both = homeOnly;
  both.FacebookShare = "https://share.example/fb";
  both.TwitterShare = "https://share.example/tw";
  const struct {
    const char* Name;
    TEndpoints Endpoints;
    bool Enabled;
  } cases[] = {{"nothing configured", {}, false}, {"no share pages", homeOnly, false}, {"both", both, true}};
  QImage looks[2][2];  // [enabled][Like, Tweet]
  for (const auto& c : cases) {
    auto form = NewForm(c.Endpoints);
    form->FormCreate();
    form->show();
    const QWidget* buttons[] = {form->Ui().btnLike, form->Ui().btnTweet};
    for (int b = 0; b < 2; ++b) {
      EXPECT_EQ(buttons[b]->isEnabled(), c.Enabled) << c.Name << " " << buttons[b]->objectName().toStdString();
      looks[c.Enabled][b] = const_cast<QWidget*>(buttons[b])->grab().toImage();
    }
    EXPECT_EQ(form->Ui().actOnTwitter->isEnabled(), c.Enabled) << c.Name;
  }
  // A greyed button looks unlike an active one.
  for (int b = 0; b < 2; ++b) EXPECT_FALSE(looks[0][b] == looks[1][b]) << b;
}

TEST_F(MainFormTest, AnAddressOrFolderThatCannotBeOpenedIsLogged) {
  TEndpoints e;
  e.OnlineGuide = "https://home.example/guide";
  auto form = NewForm(e);
  form->FormCreate();
  FDesktop.Succeeds = false;  // no browser, no file manager
  form->Ui().actOnlineGuide->trigger();
  form->Conversion().FindTargetClick();
  EXPECT_EQ(FSink.Log, (QStringList{"[t]-> Could not open the address https://home.example/guide",
                                    "[t]-> Could not open the folder " + OutputFolder()}));
}

TEST_F(MainFormTest, HelpLinksOpenTheConfiguredAddresses) {
  TEndpoints e;
  e.HomePage = "https://home.example/q";
  e.OnlineGuide = "https://home.example/guide";
  e.FacebookShare = "https://share.example/fb";
  e.TwitterShare = "https://share.example/tw";
  auto form = NewForm(e);
  EXPECT_FALSE(form->Ui().actSupport->isEnabled()) << "no contact page configured";
  form->Ui().actOnlineGuide->trigger();
  form->Ui().btnLike->click();
  form->Ui().btnTweet->click();
  ASSERT_EQ(FDesktop.Opened.size(), 3u);
  EXPECT_EQ(FDesktop.Opened[0], QUrl(e.OnlineGuide));
  EXPECT_EQ(QUrlQuery(FDesktop.Opened[1]).queryItemValue("u", QUrl::FullyDecoded), e.HomePage);
  const QUrlQuery tweet(FDesktop.Opened[2]);
  EXPECT_EQ(tweet.queryItemValue("original_referer", QUrl::FullyDecoded), e.HomePage);
  EXPECT_EQ(tweet.queryItemValue("text"), "Quorvel");
}

TEST(OpenFilterTest, IsBuiltFromTheSourceFormats) {
  const QString filter = BuildOpenFilter();
  EXPECT_TRUE(filter.startsWith("All Supported Formats|*.mod;*.mts; *.ts; *m2ts; *.tp;*.avi;")) << filter.toStdString();
  // The video rows come first, as they always did.
  EXPECT_TRUE(filter.contains(
      "|MOD files (*.mod)|*.mod;|High-definition files (*.mts; *.ts; *m2ts; *.tp)|*.mts; *.ts; *m2ts; *.tp;|"
      "AVI files (*.avi)|*.avi;|MPEG-4 files (*.mp4; *.m4v)|*.mp4; *.m4v;|MPEG files (*.mpg; *.mpeg)|*.mpg; *.mpeg;|"
      "3GP files (*.3gp; *.3g2)|*.3gp; *.3g2;|Windows Media Video (*.wmv; *.asf)|*.wmv; *.asf;|"
      "Real Media files (*.rm; *.rmvb)|*.rm; *.rmvb;|Video CD files (*.dat)|*.dat;|Quick Time files (*.mov)|*.mov;|"
      "Flash Video files (*.flv; *.f4v)|*.flv; *.f4v;|Matroska files (*.mkv)|*.mkv;|Digital Video files (*.dv)|*.dv;|"
      "NUT files (*.nut)|*.nut;|Raw h.264 video files (*.h.264)|*.h.264;|Nullsoft Stream Video (*.nsv)|*.nsv;|"
      "Video Object files (*.vob)|*.vob;|"))
      << filter.toStdString();
  EXPECT_TRUE(filter.endsWith("|All files (*)|*;"));
  const QStringList qt = QtNameFilters(filter);
  ASSERT_GT(qt.size(), 19);
  EXPECT_TRUE(qt[0].startsWith("All Supported Formats (*.mod *.mts *.ts *m2ts *.tp *.avi "));
  EXPECT_EQ(qt[2], "High-definition files (*.mts *.ts *m2ts *.tp)");
  EXPECT_EQ(qt[17], "Video Object files (*.vob)");
  EXPECT_EQ(qt.last(), "All files (*)");
  // The default entry matches every row's patterns (and not "*", which
  // would make it no filter).
  QStringList rowPatterns;
  for (qsizetype i = 1; i + 1 < qt.size(); ++i) {
    const QString& row = qt[i];
    const qsizetype open = row.lastIndexOf(u'(');
    rowPatterns << row.mid(open + 1, row.size() - open - 2).split(u' ');
  }
  const QString all = qt[0].mid(qt[0].indexOf(u'(') + 1).chopped(1);
  EXPECT_EQ(all.split(u' '), rowPatterns);
  for (const char* audio : {"*.wav", "*.mp3", "*.flac", "*.ogg", "*.oga", "*.opus", "*.m4a", "*.wma", "*.aiff", "*.au"})
    EXPECT_TRUE(rowPatterns.contains(audio)) << audio;
}

TEST(OpenFilterTest, TypedNames) {
  const struct {
    const char* Text;
    QStringList Names;
  } cases[] = {{"", {}},
               {"song.wav", {"song.wav"}},
               {"  my song.wav ", {"my song.wav"}},
               {"\"a.wav\" \"b c.xyz\"", {"a.wav", "b c.xyz"}},
               {"\"a.wav\" \"\"", {"a.wav"}},
               {"*.xyz", {}},
               {"/abs/path/x.mp3", {"/abs/path/x.mp3"}}};
  for (const auto& c : cases) EXPECT_EQ(TypedFileNames(c.Text), c.Names) << c.Text;
}

class OpenDialogTest : public MainFormTest {
protected:
  void SetUp() override {
    MainFormTest::SetUp();
    FFolder = TestHome() + "/Music/mixed";
    QDir().mkpath(FFolder);
    // The shared media under other names: a WAV, an MP3, a FLAC, a video,
    // one the filter does not know, and a text.
    const struct {
      const char* Shared;
      const char* Name;
    } files[] = {{"linphone-common__hello16000.wav", "speech.wav"},
                 {"emacspeak__emacspeak.mp3", "voice.mp3"},
                 {"sonic-pi-samples__loop_tabla.flac", "tabla.flac"},
                 {"golang-github-gabriel-vasile-mimetype-dev__mp4.mp4", "clip.mp4"},
                 {"linphone-common__hello16000.wav", "speech-copy.xyz"}};
    for (const auto& f : files)
      ASSERT_TRUE(QFile::copy(QString::fromStdString(test::SharedMedia(f.Shared)), FFolder + "/" + f.Name));
    QFile notes(FFolder + "/notes.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  }
  // The names the dialog's list shows, once it has read the folder.
  static QStringList Shown(QFileDialog* ADialog, const QStringList& AWaitFor) {
    auto* view = ADialog->findChild<QListView*>("listView");
    QStringList names;
    auto read = [&] {
      names.clear();
      const QModelIndex root = view->rootIndex();
      for (int r = 0; r < view->model()->rowCount(root); ++r) names << view->model()->index(r, 0, root).data().toString();
      for (const QString& n : AWaitFor)
        if (!names.contains(n)) return false;
      return true;
    };
    [&] { QTRY_VERIFY_WITH_TIMEOUT(read(), 10000); }();
    names.sort();
    return names;
  }
  QString FFolder;
};

TEST_F(OpenDialogTest, ShowsAudioFilesUnderItsDefaultEntry) {
  auto form = NewForm();
  form->FormCreate();
  QString title, filter;
  QStringList shown;
  test::OnNextModal([&](QWidget* AModal) {
    auto* dialog = qobject_cast<QFileDialog*>(AModal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    filter = dialog->selectedNameFilter();
    dialog->setDirectory(FFolder);
    shown = Shown(dialog, {"speech.wav", "voice.mp3", "tabla.flac", "clip.mp4"});
    dialog->reject();
  });
  EXPECT_TRUE(form->ExecuteOpenDialog().isEmpty());
  EXPECT_EQ(title, "Open file");
  EXPECT_TRUE(filter.startsWith("All Supported Formats (")) << filter.toStdString();
  EXPECT_EQ(shown, (QStringList{"clip.mp4", "speech.wav", "tabla.flac", "voice.mp3"}));
}

TEST_F(OpenDialogTest, TypedNamesTheFilterDoesNotMatchAreTaken) {
  auto form = NewForm();
  form->FormCreate();
  const struct {
    const char* Typed;
    QStringList Files;
  } cases[] = {{"speech-copy.xyz", {FFolder + "/speech-copy.xyz"}},
               {"\"speech.wav\" \"speech-copy.xyz\"", {FFolder + "/speech.wav", FFolder + "/speech-copy.xyz"}},
               {"\"clip.mp4\" \"speech-copy.xyz\"", {FFolder + "/clip.mp4", FFolder + "/speech-copy.xyz"}}};
  for (const auto& c : cases) {
    test::OnNextModal([&](QWidget* AModal) {
      auto* dialog = qobject_cast<QFileDialog*>(AModal);
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(FFolder);
      Shown(dialog, {"clip.mp4"});
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      // Typed as the user does, in the focused name field.
      dialog->activateWindow();
      name->setFocus();
      [&] { QTRY_VERIFY_WITH_TIMEOUT(name->hasFocus(), 5000); }();
      name->clear();
      QTest::keyClicks(name, c.Typed);
      EXPECT_EQ(name->text(), c.Typed);
      QTest::keyClick(name, Qt::Key_Return);
      if (dialog->isVisible()) dialog->reject();  // the dialog refused the names
    });
    EXPECT_EQ(form->ExecuteOpenDialog().join(u'|'), c.Files.join(u'|')) << c.Typed;
  }
}

TEST_F(OpenDialogTest, AddAfterAFailedRuntimeLoadKeepsTheGettingStartedPanel) {
  auto form = NewForm();
  form->FormCreate();
  FFLoader().Unload(kAllLibraries);
  TLibraryStatus& avutil = TFFLoader::Status(TLibrary::avUtil);
  avutil.Name = "libavutil-missing.so.57";
  test::OnNextModal([&](QWidget* AModal) {
    auto* dialog = qobject_cast<QFileDialog*>(AModal);
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(FFolder + "/speech.wav");
    static_cast<QDialog*>(dialog)->accept();
  });
  test::TMessageCatcher messages;
  form->AddButtonClick();
  avutil.Name.clear();
  ASSERT_FALSE(FSink.Reports.empty());
  EXPECT_EQ(FSink.Reports[0].second, "CLM_FFLoadAVLib2");
  EXPECT_EQ(form->Ui().stkList->currentWidget(), form->Ui().pnlGettingStarted);
  // The add went on: the file could not be read without the libraries.
  EXPECT_EQ(messages.Texts, QStringList{"File speech.wav is not a valid media file or its format is not supported."});
  EXPECT_EQ(form->SourceList().RowCount(), 0);
}

TEST(SdlCopyTest, PrivateFolderWholeCopiesRefreshedWhenTheLibraryChanges) {
  const QString dir = QString::fromStdString(test::ScratchDir());
  const QString program = dir + "/program/", temp = dir + "/temp/";
  QDir().mkpath(program + "LibAV");
  QDir().mkpath(temp);
  const QString library = program + "LibAV/" + kSdlLibraryName;
  auto writeLibrary = [&](const QByteArray& AText, const QDateTime& ATime) {
    QFile lib(library);
    ASSERT_TRUE(lib.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lib.write(AText);
    lib.flush();
    lib.setFileTime(ATime, QFileDevice::FileModificationTime);
  };
  auto content = [](const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  };
  auto inode = [](const QString& APath) {
    struct stat st {};
    return ::stat(QFile::encodeName(APath).constData(), &st) == 0 ? st.st_ino : ino_t{0};
  };
  const QDateTime t0 = QDateTime::currentDateTime().addSecs(-100);
  writeLibrary("first", t0);
  const QString folder = temp + QStringLiteral("quorvel-%1/").arg(::getuid());

  TSdlCopy copy = PrepareSdlCopy(1, program, temp);
  EXPECT_EQ(copy.Error, "");
  EXPECT_EQ(copy.Folder, folder);
  EXPECT_EQ(copy.Name, "SDL_1.so");
  EXPECT_EQ(content(folder + "SDL_1.so"), "first");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const ino_t first = inode(folder + "SDL_1.so");

  // Each step: the library as it is now, and whether the copy is made again.
  const struct {
    const char* Text;
    int SecondsAfter;
    bool Copied;
    const char* Why;
  } steps[] = {
      {"first", 0, false, "unchanged: the copy is reused"},
      {"second", 0, true, "another size"},
      {"third!", 0, false, "same size and time as the copy: only these are compared"},
      {"third!", 5, true, "same size, another time"},
  };
  ino_t last = first;
  for (const auto& step : steps) {
    writeLibrary(step.Text, t0.addSecs(step.SecondsAfter));
    copy = PrepareSdlCopy(1, program, temp);
    EXPECT_EQ(copy.Error, "") << step.Why;
    const ino_t now = inode(folder + "SDL_1.so");
    EXPECT_EQ(now != last, step.Copied) << step.Why;
    if (step.Copied) {
      EXPECT_EQ(content(folder + "SDL_1.so"), step.Text) << step.Why;
    }
    last = now;
  }
  // Written under another name and renamed: nothing else is left there.
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"SDL_1.so"});

  // A folder others can write to, or a link planted under its name, is
  // not used.
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
  copy = PrepareSdlCopy(0, program, temp);
  EXPECT_NE(copy.Error, "");
  EXPECT_FALSE(QFileInfo::exists(folder + "SDL_0.so"));
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
  const QString otherTemp = dir + "/temp2/";
  QDir().mkpath(otherTemp);
  ASSERT_TRUE(QFile::link(folder, otherTemp + QStringLiteral("quorvel-%1").arg(::getuid())));
  copy = PrepareSdlCopy(0, program, otherTemp);
  EXPECT_NE(copy.Error, "");
  EXPECT_FALSE(QFileInfo::exists(folder + "SDL_0.so"));
}

TEST(CatchAllTest, AnExceptionInAHandlerIsShownAndTheProgramGoesOn) {
  QString shown;
  test::OnNextModal([&](QWidget* AModal) {
    if (auto* label = AModal->findChild<QLabel*>("qt_msgbox_label")) shown = label->text();
    AModal->close();
  });
  auto handler = Guarded([] { throw Exception("Cannot open file \"x.png\"."); });
  handler();
  EXPECT_EQ(shown, "Cannot open file \"x.png\".");
}

}  // namespace
}  // namespace quorvel
