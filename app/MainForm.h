// The main window: start-up (skin, open filter, profile set, data folders,
// settings, media runtime), the commands of its menus and buttons, and the
// settings written at close. The list, the profile choices and the error
// path are their own classes; this window wires them together.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <vector>

#include "media/encoder/EncoderOptions.h"

#include "app/AppServices.h"
#include "app/MainFormUi.h"
#include "app/Skin.h"

namespace quorvel {

class TAboutForm;
class TConvForm;
class TFFEncoder;
class TFileInfoForm;
class TPowerService;
struct TTerminateInfo;
struct TProgressInfo;
class TFFLogger;
class TLogForm;
class TProfilePanel;
class TReportSink;
class TSourceList;

// The open dialog's filter: "All Supported Formats|" + every pattern and
// ";", then "|description (pattern)|pattern;" for every source format.
QString BuildOpenFilter();
// The same filter in Qt's "description (pattern pattern)" form.
QStringList QtNameFilters(const QString& AOpenFilter);

class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  TMainForm(const TAppServices& AServices, TReportSink& AReport, QWidget* AParent = nullptr);
  ~TMainForm() override;

  // The windows the menus show; set before FormCreate.
  void BindForms(TLogForm* ALogForm, TAboutForm* AAboutForm);
  // The conversion and file information dialogs; without them the window
  // makes its own on first use.
  void BindDialogs(TConvForm* AConvForm, TFileInfoForm* AFileInfoForm);

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
  TConvForm& ConvForm();
  TFileInfoForm& FileInfoForm();
  const QString& OutputFolderInUse() const { return FOutputFolderInUse; }

  // --- the source list's commands
  bool AddMediaFile(const QString& AMediaFile);
  void AddButtonClick();
  // Dropped files and folders, in the order given.
  void DropFiles(const QStringList& AFiles);
  void sgListClick();
  void Remove1Click();
  void ClearAll1Click();
  void MoveUp1Click();
  void MoveDown1Click();
  void Rename1Click();
  void FileInformation1Click();

  // --- the conversion
  void ConvertButtonClick();
  void FFEncoderProgress(const TProgressInfo& AInfo);
  void FFEncoderTerminate(const TTerminateInfo& AInfo);
  void CancelButtonClick();
  void PauseButtonClick();
  void BrowseClick();
  void FindTargetClick();
  void ShutDownWindows();
  // The output path of a row, made free of the batch's sources and of the
  // outputs taken before it; ATaken gets the path.
  QString FreeOutputPath(const QString& AFolder, const QString& ABaseName, const QString& AExt,
                         QStringList& ATaken);

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

  TAppServices FServices;
  TReportSink& FReport;
  std::unique_ptr<TFFLogger> FLogger;
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

  // Conversion state; all on the user-interface thread (the task manager's
  // termination events are handed over to it).
  std::unique_ptr<TFFEncoder> FFFEncoder;
  std::unique_ptr<TPowerService> FOwnPower;  // when the services bring none
  TPowerService* FPower = nullptr;
  TConvForm* FConvForm = nullptr;
  TFileInfoForm* FFileInfoForm = nullptr;
  QString FOutputFolderInUse;
  std::vector<TInputOptions> FInputOptionsList;
  std::vector<TOutputOptions> FOutputOptionsList;
  // Termination events waiting for their handling, in arrival order. Held
  // back while Cancel waits in Stop (which keeps the event loop running), so
  // that the cancel is logged before the run's end.
  std::vector<TTerminateInfo> FPendingTerminations;
  bool FInStop = false;
  void HandlePendingTerminations();
};

}  // namespace quorvel
