#include "app/shell/MainForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QCheckBox>
#include <QSettings>
#include <QStackedWidget>
#include <QTableWidget>
#include <QThread>

#include "app/shell/AboutForm.h"
#include "app/preview/ClipForm.h"
#include "app/preview/PlayerLibraries.h"
#include "app/preview/PreviewPanel.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/LoudnessChoice.h"
#include "app/conversion/OutputNamesField.h"
#include "app/shell/CommandGate.h"
#include "app/sources/FileAdder.h"
#include "app/sources/FileInfoForm.h"
#include "app/sources/KeptList.h"
#include "profiles/Decryptor.h"
#include "app/shell/Desktop.h"
#include "app/shell/DesktopNotifier.h"
#include "app/shell/MenuShortcuts.h"
#include "app/shell/WindowLayout.h"
#include "app/report/ExceptionGuard.h"
#include "app/report/LogForm.h"
#include "app/conversion/ProfilePanel.h"
#include "app/conversion/SimultaneousChoice.h"
#include "app/report/ReportSink.h"
#include "app/shell/Settings.h"
#include "app/shell/ShellFolders.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"

namespace quorvel {

namespace {

struct TSourceFormat {
  const char* Description;
  const char* Pattern;
};

// The media the open dialog offers, in the order it lists them: the video
// containers first, then the audio formats the decoder opens.
constexpr TSourceFormat kSourceFormats[] = {
    {"MOD files", "*.mod"},
    {"High-definition files", "*.mts; *.ts; *m2ts; *.tp"},
    {"AVI files", "*.avi"},
    {"MPEG-4 files", "*.mp4; *.m4v"},
    {"MPEG files", "*.mpg; *.mpeg"},
    {"3GP files", "*.3gp; *.3g2"},
    {"Windows Media Video", "*.wmv; *.asf"},
    {"Real Media files", "*.rm; *.rmvb"},
    {"Video CD files", "*.dat"},
    {"Quick Time files", "*.mov"},
    {"Flash Video files", "*.flv; *.f4v"},
    {"Matroska files", "*.mkv"},
    {"Digital Video files", "*.dv"},
    {"NUT files", "*.nut"},
    {"Raw h.264 video files", "*.h.264"},
    {"Nullsoft Stream Video", "*.nsv"},
    {"Video Object files", "*.vob"},
    // The program's main job is audio: without these rows the default entry
    // would hide every audio file.
    {"WAV files", "*.wav; *.w64"},
    {"MP3 files", "*.mp3"},
    {"FLAC files", "*.flac"},
    {"Ogg files", "*.ogg; *.oga"},
    {"Opus files", "*.opus"},
    {"MPEG-4 Audio files", "*.m4a; *.m4b; *.aac"},
    {"Windows Media Audio", "*.wma"},
    {"AIFF files", "*.aif; *.aiff; *.aifc"},
    {"Sun Audio files", "*.au; *.snd"},
    {"Matroska Audio files", "*.mka"},
    {"WebM files", "*.webm"},
    {"MPEG Audio files", "*.mp2; *.mpa"},
    {"AC-3 and DTS files", "*.ac3; *.dts"},
    {"Monkey's Audio files", "*.ape"},
    {"WavPack files", "*.wv"},
    {"AMR files", "*.amr"},
    {"Musepack files", "*.mpc"},
    {"Core Audio files", "*.caf"},
    {"Real Audio files", "*.ra"},
    {"True Audio files", "*.tta"},
    {"Creative Voice files", "*.voc"},
};

// Asks before Clear empties a list of ACount rows.
bool ConfirmClear(QWidget* AParent, int ACount) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QObject::tr("Remove all %n file(s) from the list?", nullptr, ACount), QMessageBox::NoButton,
                  AParent);
  QPushButton* clear = box.addButton(QObject::tr("Clear All"), QMessageBox::AcceptRole);
  clear->setObjectName("btnClearConfirm");
  QPushButton* keep = box.addButton(QMessageBox::Cancel);
  keep->setObjectName("btnClearCancel");
  box.setDefaultButton(keep);
  box.exec();
  return box.clickedButton() == clear;
}

const char* const kProfileFolder = "mp3-converter-profiles";
const char* const kSkinFolder = "skin-aqua";

}  // namespace

QString BuildOpenFilter() {
  QString filter = QStringLiteral("All Supported Formats|");
  for (const TSourceFormat& f : kSourceFormats) filter += QLatin1String(f.Pattern) + u';';
  for (const TSourceFormat& f : kSourceFormats)
    filter += u'|' + QLatin1String(f.Description) + " (" + QLatin1String(f.Pattern) + ")|" +
              QLatin1String(f.Pattern) + u';';
  // The decoder may open what no row names; the user can still pick it.
  filter += QStringLiteral("|All files (*)|*;");
  return filter;
}

QStringList QtNameFilters(const QString& AOpenFilter) {
  const QStringList parts = AOpenFilter.split(u'|');
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts.at(i).trimmed();
    // The description may carry its patterns already; Qt wants them once,
    // space-separated, in the last brackets.
    const qsizetype bracket = name.lastIndexOf(QStringLiteral(" ("));
    if (bracket > 0 && name.endsWith(u')')) name.truncate(bracket);
    QStringList patterns;
    for (const QString& p : parts.at(i + 1).split(u';'))
      if (!p.trimmed().isEmpty()) patterns << p.trimmed();
    result << name + " (" + patterns.join(u' ') + ")";
  }
  return result;
}

QStringList TypedFileNames(const QString& AText) {
  QStringList names;
  const QString text = AText.trimmed();
  if (text.contains(u'"')) {
    // "a.wav" "b.mp3": the quoted parts
    const QStringList parts = text.split(u'"');
    for (qsizetype i = 1; i < parts.size(); i += 2) names << parts.at(i);
  } else if (!text.isEmpty()) {
    names << text;
  }
  QStringList result;
  // A pattern there is a filter the dialog applied, not a file.
  for (const QString& n : names)
    if (!n.trimmed().isEmpty() && !n.contains(u'*') && !n.contains(u'?')) result << n;
  return result;
}

// ---------------------------------------------------------------- the list

bool TMainForm::AddMediaFile(const QString& AMediaFile) {
  return FSourceList->AddMediaFile(AMediaFile, FFFEncoder->Decoder(), FProfilePanel->CurProfile(), FReport);
}

void TMainForm::AddButtonClick() {
  const QStringList files = ExecuteOpenDialog();
  if (files.isEmpty()) return;
  AddChosenFiles(files);
}

void TMainForm::AddFolderClick() {
  const QString folder = QFileDialog::getExistingDirectory(this, tr("Add folder"), FOpenDialogFolder,
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (folder.isEmpty()) return;
  AddChosenFiles({folder});
}

void TMainForm::AddChosenFiles(const QStringList& AFiles) {
  const QStringList& files = AFiles;
  if (files.isEmpty()) return;
  // Without its runtime the list cannot be shown: the getting-started panel
  // stays in front (with its Add button) and the next add tries again.
  const bool prepared = PrepareSourceList();
  if (!AddMediaFiles(files)) return;
  if (prepared) FUi.stkList->setCurrentWidget(FSourceList->Grid());
  if (FSourceList->RowCount() > 0) {
    FProfilePanel->SetAddedByDialog(true);
    if (FSourceList->SelectedIndex() < 0) FSourceList->SelectIndex(0);
    sgListClick();
  }
}

bool TMainForm::AddMediaFiles(const QStringList& AFiles) {
  // The probing serves the event loop: the window's commands wait meanwhile,
  // and closing the window gives the add up.
  const TCommandGate::THold hold(*FGate);
  return !TFileAdder::Add(this, AFiles, *FSourceList, FProfilePanel->CurProfile(), FReport, {},
                          [this] { return FGate->Closing(); })
              .Abandoned;
}

void TMainForm::DropFiles(const QStringList& AFiles) {
  if (!AddMediaFiles(AFiles) || FSourceList->RowCount() == 0) return;
  PrepareSourceList();
  if (FSourceList->SelectedIndex() < 0) FSourceList->SelectIndex(0);
  sgListClick();
}

void TMainForm::sgListClick() {
  const int sel = FSourceList->SelectedIndex();
  if (sel < 0) return;
  FProfilePanel->SelectProfile(FSourceList->AudioFiles()[static_cast<size_t>(sel)].ProfileInd);
}

void TMainForm::Remove1Click() {
  if (!FSourceList->Remove()) {
    ClearList();
    return;
  }
  // The selected row number may stay while another file moved into it.
  sgListClick();
}

void TMainForm::ClearAll1Click() {
  // Clear empties the whole list at one click: rows gathered over an hour
  // are not lost to a slip of the mouse.
  if (FSourceList->RowCount() > 0 && !ConfirmClear(this, FSourceList->RowCount())) return;
  ClearList();
}

void TMainForm::SelectAllClick() { FSourceList->Grid()->selectAll(); }

void TMainForm::ClearList() {
  FSourceList->ClearAll();
  for (QAction* a : {FUi.popRemove, FUi.popClearAll, FUi.popRename, FUi.popMoveUp, FUi.popMoveDown,
                     FUi.popTrimAudio, FUi.popFileInformation})
    a->setEnabled(false);
}

void TMainForm::MoveUp1Click() { FSourceList->MoveUp(); }
void TMainForm::MoveDown1Click() { FSourceList->MoveDown(); }
void TMainForm::Rename1Click() { FSourceList->BeginRename(); }

void TMainForm::FileInformation1Click() {
  const int sel = FSourceList->SelectedIndex();
  if (sel < 0) return;
  const QString source = FSourceList->AudioFiles()[static_cast<size_t>(sel)].Source;
  TFFDecoder& decoder = FFFEncoder->Decoder();
  if (!decoder.LoadFile(source.toStdString())) {
    const QString error = QString::fromStdString(decoder.LastErrMsg());
    FReport.AppendLogText(QString());
    FReport.AddLogLine("-> File load error: " + error);
    FReport.AppendLogText(QString());
    FReport.ReportError("Error getting file info! " + error, QStringLiteral("CLM_ProbeLoadFile"));
    return;
  }
  TFileInfoForm& form = FileInfoForm();
  form.spSkinLabel2->setText(QFileInfo(source).fileName());
  form.spSkinLabel3->setText(FormatMediaTime(std::max<int64_t>(decoder.FileStreamInfo().Duration, 0)));
  try {
    for (int i = 0; i < decoder.StreamCount(); ++i) {
      if (decoder.IsVideoStream(i) || !decoder.IsAudioStream(i)) continue;
      TAudioStreamInfo info;
      if (!decoder.GetAudioStreamInfo(i, info)) throw Exception(decoder.LastErrMsg());
      form.spSkinLabel6->setText(QString::number(info.SampleRate) + " Hz");
      form.spSkinLabel7->setText(QString::number(info.Channels) + " channel");
      form.spSkinLabel8->setText(BitRateText(info.BitRate));
    }
  } catch (const std::exception&) {
    FReport.ReportError(tr("Error writing file info"), QStringLiteral("CLM_WriteFileInfo"));
  }
  form.exec();
}

void TMainForm::TrimClick() {
  if (FSourceList->RowCount() == 0) return;
  FPreview->StopIfActive();
  if (FSourceList->SelectedIndex() < 0) FSourceList->SelectIndex(0);
  ClipForm().exec();
}

TClipForm& TMainForm::ClipForm() {
  if (!FClipForm) FClipForm = new TClipForm(*FSourceList, *FPlayerLibraries, this);
  if (!FClipFormCreated && FSkin.Loaded()) {
    FClipForm->FormCreate(FSkin);
    FClipFormCreated = true;
  }
  return *FClipForm;
}

void TMainForm::ConvertAgain1Click() {
  const int sel = FSourceList->SelectedIndex();
  if (sel < 0 || FSourceList->Rows().At(sel).Conversion.State != TRowState::Failed) return;
  FConversion->ConvertAgain(sel);
}

TMainForm::TMainForm(const TAppServices& AServices, TReportSink& AReport, QWidget* AParent)
    : QMainWindow(AParent), FServices(AServices), FReport(AReport) {
  setObjectName("MainForm");
  // The collector must exist before the media libraries are loaded, so that
  // their first lines already reach the report history.
  FLogger = std::make_unique<TFFLogger>();
  // A thread that delivers posted lines copies the handler first and may
  // run the copy on this thread later, even while the window is being torn
  // down: the copy asks whether the window still stands.
  FLogReceiving = std::make_shared<std::atomic<bool>>(true);
  FLogger->SetOnLog([this, receiving = FLogReceiving](TObject*, uint32_t AThreadID, TLogLevel ALevel,
                                                      const std::string& AMsg) {
    if (receiving->load()) FReport.FFLoggerLog(AThreadID, ALevel, AMsg);
  });

  FGate = new TCommandGate(this, this);
  FSourceList = new TSourceList(this);
  FProfilePanel = new TProfilePanel(*FSourceList, FReport, this);
  FSourceList->SetProfiles(&FProfilePanel->Profiles());
  FUi.Setup(this, *FSourceList, *FProfilePanel);
  FSourceList->SetTimeFields(FUi.edTimeStart, FUi.edTimeEnd);
  FUi.edTimeStart->installEventFilter(this);
  FUi.edTimeEnd->installEventFilter(this);
  FFFEncoder = std::make_unique<TFFEncoder>();
  FConversion = std::make_unique<TBatchConversion>(*this, *FFFEncoder, *FSourceList, *FProfilePanel,
                                                   *FUi.edDestinationFolder, *FUi.chMerge, *FUi.edVolume, FReport,
                                                   FServices, FTempFolder, [this] { SaveSettings(); });
  FConversion->BindVerifyBox(FUi.chVerify);
  FConversion->BindLoudnessChoice(FUi.loudness);
  FConversion->BindNameField(FUi.fldNames);
  FPlayerLibraries = std::make_unique<TPlayerLibraries>(
      FServices.ProgramFolder, [this] { return FTempFolder; }, FReport);
  FPreview = new TPreviewPanel({FUi.btnPlay, FUi.btnPause, FUi.btnStop, FUi.sldPosition, FUi.lblPlayTime, FUi.pnlPreview},
                               *FSourceList, *FPlayerLibraries, this);
  FSimultaneous = new TSimultaneousChoice(*FUi.mnuTools, *FConversion, QThread::idealThreadCount());
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Quorvel"));
  // The first start's size is the smallest: every control fits there, and
  // a larger window gives the room to the list.
  centralWidget()->setMinimumSize(TMainFormUi::kMinimumWidth, TMainFormUi::kMinimumHeight);
  setMinimumSize(TMainFormUi::kMinimumWidth, TMainFormUi::kMinimumHeight + menuBar()->sizeHint().height());
  resize(minimumSize());
  AssignMenuShortcuts(FUi);

  // Until the list is prepared, the commands that need rows are off.
  for (QWidget* w : {static_cast<QWidget*>(FUi.btnClear), static_cast<QWidget*>(FUi.btnTrim),
                     static_cast<QWidget*>(FUi.btnConvert)})
    w->setEnabled(false);
  for (QAction* a : {FUi.popRemove, FUi.popClearAll, FUi.popRename, FUi.popMoveUp, FUi.popMoveDown, FUi.popTrimAudio,
                     FUi.popFileInformation})
    a->setEnabled(false);
  FUi.stkList->setCurrentWidget(FUi.pnlGettingStarted);
  ConnectCommands();
}

TMainForm::~TMainForm() {
  FLogReceiving->store(false);
  // A video row's pictures are drawn into the preview box, which goes with
  // the window's widgets after this: the playback ends first.
  if (FPreview) FPreview->StopIfActive();
  // A run still going ends here, before the conversion its events talk to;
  // the termination events it posts meanwhile die with the conversion.
  if (FFFEncoder) {
    FFFEncoder->OnProgress = nullptr;
    FFFEncoder.reset();
  }
  if (FLogger) FLogger->SetOnLog(nullptr);
}

void TMainForm::BindDialogs(TConvForm* AConvForm, TFileInfoForm* AFileInfoForm) {
  FConversion->BindDialog(AConvForm);
  FFileInfoForm = AFileInfoForm;
}

TFileInfoForm& TMainForm::FileInfoForm() {
  if (!FFileInfoForm) FFileInfoForm = new TFileInfoForm(this);
  return *FFileInfoForm;
}

bool TMainForm::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if ((AWatched == FUi.edTimeStart || AWatched == FUi.edTimeEnd) && AEvent->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(AEvent)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      RunGuarded([this] { FSourceList->ApplyTimeFields(); });
      return true;
    }
  }
  return QMainWindow::eventFilter(AWatched, AEvent);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (AEvent->mimeData()->hasUrls()) AEvent->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* AEvent) {
  QStringList files;
  for (const QUrl& url : AEvent->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  AEvent->acceptProposedAction();
  RunGuarded([&] { DropFiles(files); });
}

void TMainForm::BindForms(TLogForm* ALogForm, TAboutForm* AAboutForm) {
  FLogForm = ALogForm;
  FAboutForm = AAboutForm;
}

void TMainForm::FormCreate() {
  // Files may be dropped on the window (their handling comes with the list).
  setAcceptDrops(true);

  // The skin; a missing file ends the start-up here.
  FSkin.Load(QDir(FServices.ProgramFolder).filePath(kSkinFolder));
  ApplySkinPictures();

  // The temporary folder and the program's name.
  FTempFolder = SystemTempFolder();
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
  setWindowTitle(QStringLiteral("Quorvel"));

  // The open dialog starts in the music folder; the report history
  // already holds its first line.
  FOpenDialogFolder = GetShellFolder(TShellFolder::Music);

  // The list's columns.
  QTableWidget* grid = FSourceList->Grid();
  const int widths[] = {150, 87, 150, 55};
  for (int c = 0; c < 4; ++c) grid->setColumnWidth(c, widths[c]);
  grid->horizontalHeader()->setFixedHeight(20);

  FOpenFilter = BuildOpenFilter();

  // Without the profile set there is nothing to convert to: the start-up ends here.
  if (!LoadProfiles()) return;

  // The data folders; the last is the default output folder.
  const QStringList folders = DataFolders(GetShellFolder(TShellFolder::Documents));
  CreateDataFolders(folders);
  if (!folders.isEmpty() && QFileInfo(folders.last()).isDir())
    FUi.edDestinationFolder->setText(QDir::toNativeSeparators(folders.last()));

  ReadStoredSettings();

  FProfilePanel->FillProfileList();

  // The task manager's libraries; the players' wait for the first files.
  if (!AVLibLoaded(kEncoderLibraries)) {
    std::string error;
    if (!LoadAVLib(kEncoderLibraries, (FServices.ProgramFolder + "LibAV").toStdString(), error)) {
      const QString text = QString::fromStdString(error);
      FReport.ReportError(text, QStringLiteral("CLM_FFAVLibLoad"));
      FReport.AddLogLine("-> " + text);
    }
  }
  RestoreKeptList();
}

bool TMainForm::LoadProfiles() {
  const QString path = QDir(FServices.ProgramFolder).filePath(QString(kProfileFolder) + "/formats.dat");
  try {
    ParseProfiles(LoadProfileFile(path), FProfilePanel->Profiles());
  } catch (const std::exception& e) {
    // The reason goes to the events log, so that a sent report carries it.
    FReport.AddLogLine("-> Error loading profiles: " + QString::fromUtf8(e.what()));
    FReport.ReportError(tr("Error loading profiles"), QStringLiteral("CLM_LoadProfiles"));
    return false;
  }
  return true;
}

void TMainForm::ReadStoredSettings() {
  FProfilePanel->SetRecentProfile(0);
  const TStoredSettings s = ReadSettings(*OpenSettings());
  if (s.OutputPath) FUi.edDestinationFolder->setText(*s.OutputPath);
  if (s.OpenAudioDialogPath)
    FOpenDialogFolder = QFileInfo(*s.OpenAudioDialogPath).isDir() ? *s.OpenAudioDialogPath : QString();
  if (s.RecentProfile) FProfilePanel->SetRecentProfile(*s.RecentProfile);
  if (s.VerifyLossless) FUi.chVerify->setChecked(*s.VerifyLossless);
  // An index the profile set no longer has would name a missing profile at close.
  if (s.LastEditedProfile && *s.LastEditedProfile < static_cast<int>(FProfilePanel->Profiles().size()))
    FProfilePanel->SetLastEditedProfile(*s.LastEditedProfile);
  if (s.SimultaneousConversions) FSimultaneous->SetValue(*s.SimultaneousConversions);
  TLoudnessSetting loudness;
  loudness.Mode = s.LoudnessMode.value_or(loudness.Mode);
  loudness.Target = s.LoudnessTarget.value_or(loudness.Target);
  loudness.Album = s.LoudnessAlbum.value_or(loudness.Album);
  FUi.loudness->SetSetting(loudness);
  if (s.ExistingOutputs)
    FConversion->ExistingOutputs().SetStored(TExistingOutputsQuestion::FromText(*s.ExistingOutputs));
  if (s.NamePattern) FUi.fldNames->SetPattern(*s.NamePattern);
  const std::unique_ptr<QSettings> store = OpenSettings();
  TWindowLayout::Restore(*store, *this, *FSourceList->Grid());
  FUi.actKeepList->setChecked(TKeptList::Enabled(*store));
}

void TMainForm::RestoreKeptList() {
  if (!FUi.actKeepList->isChecked()) return;
  QStringList vanished;
  std::vector<TAudioFile> rows = TKeptList::Load(*OpenSettings(), vanished);
  // Moved or deleted since: one line for all of them, no message at start.
  if (!vanished.isEmpty())
    FReport.AddLogLine("-> Files of the last session's list no longer found, left out: " + vanished.join(", "));
  if (rows.empty()) return;
  const int profiles = static_cast<int>(FProfilePanel->Profiles().size());
  for (TAudioFile& f : rows)
    if (f.ProfileInd < 0 || f.ProfileInd >= profiles) f.ProfileInd = FProfilePanel->CurProfile();
  if (!PrepareSourceList()) return;
  // Rows of several profiles came from a session with Apply to All off;
  // left on, the first click on a row would give every row its profile.
  for (const TAudioFile& f : rows)
    if (f.ProfileInd != rows.front().ProfileInd) FProfilePanel->chApplyToAll->setChecked(false);
  FSourceList->AppendRows(std::move(rows));
  FProfilePanel->SetAddedByDialog(true);
  FSourceList->SelectIndex(0);
  sgListClick();
}

void TMainForm::ApplySkinPictures() {
  const TSkin& s = FSkin;
  FUi.btnAdd->SetImages(s.Picture("open2.png"), s.Picture("open_over2.png"));
  FUi.btnClear->SetImages(s.Picture("remove2.png"), s.Picture("remove_over2.png"));
  FUi.btnTrim->SetImages(s.Picture("trim2.png"), s.Picture("trim_over2.png"));
  FUi.btnConvert->SetImages(s.Picture("convert.png"), s.Picture("convert_over.png"));
  FUi.btnPlay->SetImages(s.Picture("play.png"), {});
  FUi.btnPause->SetImages(s.Picture("pause.png"), {});
  FUi.btnStop->SetImages(s.Picture("stop.png"), {});
  FUi.btnLike->SetImages(s.Picture("like.png"), s.Picture("like_over.png"));
  FUi.btnTweet->SetImages(s.Picture("tweet.png"), s.Picture("tweet_over.png"));
  FSourceList->SetPictures(s.Picture("tablerow.bmp"), s.Picture("filmicon.bmp"));
  FUi.imgDragDrop->setPixmap(s.Picture("dragdrop2.png"));
  FUi.btnOpenForGs->SetImages(s.Picture("open_for_gs2.png"), {});
  FUi.lblGettingStarted->setText(tr("Drag & drop your movies here"));
  if (s.HasPicture(TSkin::kOptionalBackground)) {
    FUi.pnlGettingStarted->setStyleSheet(
        QStringLiteral("#pnlGettingStarted { border-image: url(\"%1\") 0 0 0 0 stretch stretch; }")
            .arg(QDir(s.Folder()).filePath(TSkin::kOptionalBackground)));
  } else {
    FUi.pnlGettingStarted->hide();
  }
  s.Apply();
}

void TMainForm::ConnectCommands() {
  const TEndpoints& e = FServices.Endpoints;
  connect(FUi.actExit, &QAction::triggered, this, &QWidget::close);
  connect(FUi.actEventsLog, &QAction::triggered, this, Guarded([this](bool) {
            if (FLogForm) FLogForm->Execute();
          }));
  connect(FUi.actAbout, &QAction::triggered, this, Guarded([this](bool) {
            if (FAboutForm) FAboutForm->Execute(this);
          }));
  struct TLink {
    QAction* Action;
    QUrl Url;
  };
  const TLink links[] = {
      {FUi.actOnlineGuide, e.OnlineGuide.isEmpty() ? QUrl() : QUrl(e.OnlineGuide)},
      {FUi.actSupport, e.ContactPage.isEmpty() ? QUrl() : QUrl(e.ContactPage)},
      {FUi.actMoreFreeware, e.HomePage.isEmpty() ? QUrl() : QUrl(e.HomePage)},
      {FUi.actOnFacebook, FacebookShareUrl(e)},
      {FUi.actOnTwitter, TwitterShareUrl(e, QStringLiteral("Quorvel"))},
  };
  for (const TLink& l : links) {
    l.Action->setEnabled(!l.Url.isEmpty());
    connect(l.Action, &QAction::triggered, this, Guarded([this, url = l.Url](bool) { OpenAddress(url); }));
  }
  FUi.btnLike->setEnabled(FUi.actOnFacebook->isEnabled());
  FUi.btnTweet->setEnabled(FUi.actOnTwitter->isEnabled());
  connect(FUi.btnLike, &QPushButton::clicked, FUi.actOnFacebook, &QAction::trigger);
  connect(FUi.btnTweet, &QPushButton::clicked, FUi.actOnTwitter, &QAction::trigger);

  struct TCommand {
    QObject* Sender;
    void (TMainForm::*Handler)();
  };
  const TCommand commands[] = {
      {FUi.actAddFiles, &TMainForm::AddButtonClick},      {FUi.popAddFiles, &TMainForm::AddButtonClick},
      {FUi.actAddFolder, &TMainForm::AddFolderClick},     {FUi.popAddFolder, &TMainForm::AddFolderClick},
      {FUi.addMenuFiles, &TMainForm::AddButtonClick},     {FUi.addMenuFolder, &TMainForm::AddFolderClick},
      {FUi.btnAdd, &TMainForm::AddButtonClick},           {FUi.btnOpenForGs, &TMainForm::AddButtonClick},
      {FUi.actRemove, &TMainForm::Remove1Click},          {FUi.popRemove, &TMainForm::Remove1Click},
      {FUi.actClearAll, &TMainForm::ClearAll1Click},      {FUi.popClearAll, &TMainForm::ClearAll1Click},
      {FUi.btnClear, &TMainForm::ClearAll1Click},         {FUi.actRename, &TMainForm::Rename1Click},
      {FUi.popRename, &TMainForm::Rename1Click},          {FUi.actMoveUp, &TMainForm::MoveUp1Click},
      {FUi.popMoveUp, &TMainForm::MoveUp1Click},          {FUi.actMoveDown, &TMainForm::MoveDown1Click},
      {FUi.popMoveDown, &TMainForm::MoveDown1Click},      {FUi.actFileInformation, &TMainForm::FileInformation1Click},
      {FUi.popFileInformation, &TMainForm::FileInformation1Click},
      {FUi.popConvertAgain, &TMainForm::ConvertAgain1Click},
  };
  for (const TCommand& c : commands) {
    auto run = Guarded([this, h = c.Handler] { (this->*h)(); });
    if (auto* a = qobject_cast<QAction*>(c.Sender))
      connect(a, &QAction::triggered, this, [run](bool) { run(); });
    else if (auto* b = qobject_cast<QAbstractButton*>(c.Sender))
      connect(b, &QAbstractButton::clicked, this, [run](bool) { run(); });
  }
  // The conversion's commands go straight to it.
  TBatchConversion* conversion = FConversion.get();
  connect(FUi.actStartConversion, &QAction::triggered, conversion,
          Guarded([conversion](bool) { conversion->ConvertButtonClick(); }));
  connect(FUi.btnConvert, &QAbstractButton::clicked, conversion,
          Guarded([conversion](bool) { conversion->ConvertButtonClick(); }));
  connect(FUi.btnBrowse, &QAbstractButton::clicked, conversion,
          Guarded([conversion](bool) { conversion->BrowseClick(); }));
  connect(FUi.btnFindTarget, &QAbstractButton::clicked, conversion,
          Guarded([conversion](bool) { conversion->FindTargetClick(); }));
  connect(FSourceList->Grid(), &QTableWidget::cellClicked, this, Guarded([this](int, int) { sgListClick(); }));
  // A new current row, however it came (arrow keys, Move, Remove), shows
  // its own profile and trim points: Enter in Start/End must not write the
  // previous row's times into it.
  connect(FSourceList->Grid(), &QTableWidget::currentCellChanged, this, [this](int ARow, int, int APreviousRow, int) {
    if (ARow == APreviousRow) return;
    // The grid also moves the current row from inside setRowCount, while
    // it removes rows: the handling, which repaints the list, waits until
    // the grid and the rows agree again.
    if (FSourceList->Grid()->rowCount() == FSourceList->RowCount())
      RunGuarded([this] { sgListClick(); });
    else
      QMetaObject::invokeMethod(this, [this] { RunGuarded([this] { sgListClick(); }); }, Qt::QueuedConnection);
  });
  // "Convert again" is offered on a failed row only.
  auto offerConvertAgain = [this] {
    const int sel = FSourceList->SelectedIndex();
    FUi.popConvertAgain->setEnabled(sel >= 0 &&
                                    FSourceList->Rows().At(sel).Conversion.State == TRowState::Failed);
  };
  offerConvertAgain();
  connect(&FSourceList->Rows(), &TSourceRows::Changed, this, offerConvertAgain);
  connect(FSourceList->Grid(), &QTableWidget::currentCellChanged, this, offerConvertAgain);
  // The trim command; the list pop-up's item too, which the user finds
  // beside the others that act on the row.
  connect(FUi.actSelectAll, &QAction::triggered, this, Guarded([this](bool) { SelectAllClick(); }));
  connect(FUi.actPlayPause, &QAction::triggered, FPreview, Guarded([this](bool) { FPreview->PlayPauseClick(); }));
  for (QAction* a : {FUi.actTrimAudio, FUi.popTrimAudio})
    connect(a, &QAction::triggered, this, Guarded([this](bool) { TrimClick(); }));
  connect(FUi.btnTrim, &QAbstractButton::clicked, this, Guarded([this](bool) { TrimClick(); }));
  // A conversion silences the preview before it starts.
  connect(conversion, &TBatchConversion::Starting, FPreview, [this] { FPreview->StopIfActive(); });
  // The desktop hears of the batch: progress on the dock, a notification
  // at the end when the user is elsewhere.
  FNotifier = new TDesktopNotifier(*this);
  FNotifier->Follow(*conversion);
}

void TMainForm::OpenAddress(const QUrl& AUrl) {
  OpenOrLog(FServices.Desktop, AUrl, "the address " + AUrl.toString(), FReport);
}

QStringList TMainForm::ExecuteOpenDialog() {
  QFileDialog dialog(this, tr("Open file"), FOpenDialogFolder);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(QtNameFilters(FOpenFilter));
  if (dialog.exec() != QDialog::Accepted) return {};
  QStringList files = dialog.selectedFiles();
  // When some typed names are shown in the list, the dialog returns only
  // those and drops the others (names the filter hides) without a word:
  // they are taken too, and a name that is no media file gets the list's
  // usual message.
  const QLineEdit* typed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QDir folder = dialog.directory();
  for (const QString& name : TypedFileNames(typed ? typed->text() : QString())) {
    const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
    bool known = false;
    for (const QString& f : files) known = known || QDir::cleanPath(f) == path;
    if (!known && !QFileInfo(path).isDir()) files << path;
  }
  if (!files.isEmpty()) {
    FOpenDialogFiles = files;
    FOpenDialogFolder = QFileInfo(files.first()).absolutePath();
  }
  return files;
}

bool TMainForm::PrepareSourceList() {
  // The player's set is the task manager's: one load serves both.
  if (!AVLibLoaded(kPlayerLibraries)) {
    std::string error;
    if (!LoadAVLib(kEncoderLibraries, (FServices.ProgramFolder + "LibAV").toStdString(), error)) {
      const QString text = QString::fromStdString(error);
      FReport.ReportError(text, QStringLiteral("CLM_FFLoadAVLib2"));
      FReport.AddLogLine("-> " + text);
      return false;
    }
  }
  // The preview's own SDL copy.
  if (!FPreview->PrepareSdl()) return false;

  // The list replaces the getting-started panel.
  FUi.stkList->setCurrentWidget(FSourceList->Grid());
  for (QWidget* w : {static_cast<QWidget*>(FUi.btnClear), static_cast<QWidget*>(FUi.btnTrim),
                     static_cast<QWidget*>(FUi.btnConvert)})
    w->setEnabled(true);
  for (QAction* a : {FUi.popRemove, FUi.popClearAll, FUi.popRename, FUi.popMoveUp, FUi.popMoveDown, FUi.popTrimAudio,
                     FUi.popFileInformation})
    a->setEnabled(true);
  return true;
}

void TMainForm::SaveSettings() {
  TSettingsToWrite v;
  v.OutputPath = FUi.edDestinationFolder->text();
  if (!FOpenDialogFiles.isEmpty())
    v.OpenAudioDialogPath = QDir::toNativeSeparators(QFileInfo(FOpenDialogFiles.first()).absolutePath());
  v.RecentProfile = FProfilePanel->RecentProfile();
  v.VerifyLossless = FUi.chVerify->isChecked();
  v.LastEditedProfile = FProfilePanel->LastEditedProfile();
  const TProfiles& profiles = FProfilePanel->Profiles();
  if (v.LastEditedProfile >= 0 && v.LastEditedProfile < static_cast<int>(profiles.size()))
    v.LastEdited = &profiles[static_cast<size_t>(v.LastEditedProfile)];
  v.SimultaneousConversions = FSimultaneous->Value();
  const TLoudnessSetting loudness = FUi.loudness->Setting();
  v.LoudnessMode = loudness.Mode;
  v.LoudnessTarget = loudness.Target;
  v.LoudnessAlbum = loudness.Album;
  if (const auto existing = FConversion->ExistingOutputs().Stored())
    v.ExistingOutputs = TExistingOutputsQuestion::Text(*existing);
  v.NamePattern = FUi.fldNames->Pattern();
  bool written = false;
  try {
    const std::unique_ptr<QSettings> store = OpenSettings();
    TWindowLayout::Save(*store, *this, *FSourceList->Grid());
    TKeptList::SetEnabled(*store, FUi.actKeepList->isChecked());
    if (FUi.actKeepList->isChecked()) {
      std::vector<TAudioFile> kept;
      for (const TAudioFile& row : FSourceList->AudioFiles())
        if (!FSourceList->Rows().IsOfAddInProgress(row)) kept.push_back(row);
      TKeptList::Save(*store, kept);
    }
    else
      TKeptList::Forget(*store);
    written = WriteSettings(*store, v);
  } catch (const std::exception&) {
    written = false;
  }
  if (!written) FReport.ReportError(tr("Error writing data to Registry"), QStringLiteral("CLM_RegDataWrite"));
}

void TMainForm::FormClose() {
  if (FClosed) return;
  FClosed = true;
  setAcceptDrops(false);
  // An add in progress gives up; rows still converting stop, and what they
  // left unfinished goes (the stop serves the event loop: commands wait).
  FGate->SetClosing();
  {
    const TCommandGate::THold hold(*FGate);
    FConversion->StopForClose();
  }
  FPreview->StopButtonClick();
  SaveSettings();
}

void TMainForm::closeEvent(QCloseEvent* AEvent) {
  RunGuarded([this] { FormClose(); });
  AEvent->accept();
}

}  // namespace quorvel
