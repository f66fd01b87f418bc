// The main window: start-up (skin, open filter, profile set, data folders,
// settings, media runtime), the commands of its menus and buttons, and the
// settings written at close. The list, the profile choices, the batch
// conversion and the error path are their own classes; this window wires
// them together.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

#include "media/encoder/EncoderOptions.h"

#include "app/shell/AppServices.h"
#include "app/shell/MainFormUi.h"
#include "app/shell/Skin.h"

namespace quorvel {

class TAboutForm;
class TBatchConversion;
class TClipForm;
class TCommandGate;
class TPlayerLibraries;
class TPreviewPanel;
class TConvForm;
class TDesktopNotifier;
class TFFEncoder;
class TFileInfoForm;
class TFFLogger;
class TLogForm;
class TProfilePanel;
class TReportSink;
class TSimultaneousChoice;
class TSourceList;

// The open dialog's filter: "All Supported Formats|" + every pattern and
// ";", then "|description (pattern)|pattern;" for every source format.
QString BuildOpenFilter();
// The same filter in Qt's "description (pattern pattern)" form.
QStringList QtNameFilters(const QString& AOpenFilter);
// The names typed into the open dialog's name field: one name, or several
// each in double quotes. Patterns are no names.
QStringList TypedFileNames(const QString& AText);

class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  TMainForm(const TAppServices& AServices, TReportSink& AReport, QWidget* AParent = nullptr);
  ~TMainForm() override;

  // The windows the menus show; set before FormCreate.
  void BindForms(TLogForm* ALogForm, TAboutForm* AAboutForm);
  // The conversion and file information dialogs; without them each is made
  // on first use.
  void BindDialogs(TConvForm* AConvForm, TFileInfoForm* AFileInfoForm);
  // The trim dialog; without one it is made on first use.
  void BindClipForm(TClipForm* AClipForm) { FClipForm = AClipForm; }

  // The start-up steps. Throws when a skin file is missing: the caller
  // shows that and the window stays usable without the later steps.
  void FormCreate();
  void FormClose();
  void SaveSettings();
  // Prepares the runtime the list needs and shows the list; false when a
  // library could not be loaded (reported).
  bool PrepareSourceList();
  // Runs the open dialog in its folder with the filter; the chosen files,
  // also remembered for the settings.
  QStringList ExecuteOpenDialog();

  const QString& TempFolder() const { return FTempFolder; }
  const QString& OpenFilter() const { return FOpenFilter; }
  const QString& OpenDialogFolder() const { return FOpenDialogFolder; }
  const QString& ProgramFolder() const { return FServices.ProgramFolder; }
  const TSkin& Skin() const { return FSkin; }
  TProfilePanel& ProfilePanel() { return *FProfilePanel; }
  TSourceList& SourceList() { return *FSourceList; }
  const TMainFormUi& Ui() const { return FUi; }
  TFFEncoder& FFEncoder() { return *FFFEncoder; }
  TBatchConversion& Conversion() { return *FConversion; }
  TSimultaneousChoice& Simultaneous() { return *FSimultaneous; }
  TDesktopNotifier& Notifier() { return *FNotifier; }
  // Holds the commands back while an add serves the event loop.
  TCommandGate& Gate() { return *FGate; }
  TFileInfoForm& FileInfoForm();
  TPreviewPanel& Preview() { return *FPreview; }
  const TPlayerLibraries& PlayerLibraries() const { return *FPlayerLibraries; }
  TClipForm& ClipForm();

  // --- the source list's commands
  bool AddMediaFile(const QString& AMediaFile);
  // Many files: probed off the user-interface thread, refusals told once.
  // False when the add was given up (the window closed meanwhile).
  bool AddMediaFiles(const QStringList& AFiles);
  void AddButtonClick();
  // "Add folder...": every file beneath the chosen folder, as a drop of it.
  void AddFolderClick();
  // Adds files as the open dialog's choice is added (probing each, the same
  // refusals): the files named at start-up or handed over by a later start.
  void AddChosenFiles(const QStringList& AFiles);
  // Dropped files and folders, in the order given.
  void DropFiles(const QStringList& AFiles);
  void sgListClick();
  void Remove1Click();
  // Clear: asks first when the list has rows.
  void ClearAll1Click();
  // Empties the list without asking (the last row removed, a confirmed Clear).
  void ClearList();
  // Ctrl+A: every row, for Remove.
  void SelectAllClick();
  void MoveUp1Click();
  void MoveDown1Click();
  void Rename1Click();
  void FileInformation1Click();
  void ConvertAgain1Click();
  // The Trim command: the preview falls silent and the trim dialog opens
  // on the selected row (the first when none is).
  void TrimClick();

protected:
  void closeEvent(QCloseEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
  void ApplySkinPictures();
  void ConnectCommands();
  void OpenAddress(const QUrl& AUrl);
  bool LoadProfiles();
  void ReadStoredSettings();
  // The rows kept at the last close, when the user keeps the list.
  void RestoreKeptList();

  TAppServices FServices;
  TReportSink& FReport;
  std::unique_ptr<TFFLogger> FLogger;
  // False once the window is being destroyed (the log handler's copies look).
  std::shared_ptr<std::atomic<bool>> FLogReceiving;
  TSourceList* FSourceList = nullptr;
  TProfilePanel* FProfilePanel = nullptr;
  TMainFormUi FUi;
  TSkin FSkin;
  TLogForm* FLogForm = nullptr;
  TAboutForm* FAboutForm = nullptr;
  QString FTempFolder;
  QString FOpenFilter;
  QString FOpenDialogFolder;
  QStringList FOpenDialogFiles;  // the files the open dialog last returned this run
  bool FClosed = false;
  TCommandGate* FGate = nullptr;  // a child of the window

  // The task manager: its probe decoder serves the list, its runs the
  // conversion.
  std::unique_ptr<TFFEncoder> FFFEncoder;
  TFileInfoForm* FFileInfoForm = nullptr;
  std::unique_ptr<TPlayerLibraries> FPlayerLibraries;
  TPreviewPanel* FPreview = nullptr;  // a child of the window
  TClipForm* FClipForm = nullptr;
  bool FClipFormCreated = false;  // its pictures are loaded
  std::unique_ptr<TBatchConversion> FConversion;
  TSimultaneousChoice* FSimultaneous = nullptr;  // a child of the Tools menu
  TDesktopNotifier* FNotifier = nullptr;          // a child of the window
};

}  // namespace quorvel
