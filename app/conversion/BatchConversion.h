// The batch conversion of the source list: the window's front end of the
// batch rules (TBatch). It hands the rows to them, runs the tasks behind the
// conversion dialog (progress, pause, cancel, shut-down or opening the
// output folder at the end), and serves the output folder's Browse and Find
// target commands. Outputs that exist already are replaced, kept beside
// the new one or skipped as the user answers (asked once a batch, unless
// told not to ask again); every output a cancelled, failed or never-started
// task leaves is removed and logged.
//
// It owns the conversion state: the batch being run, the output folder in use, the termination events waiting for
// their handling, the power service for the shut-down and the conversion
// dialog's wiring. The window keeps owning the task manager (its probe
// decoder serves the source list), the list, the profile panel and the
// controls; this class gets them by reference. All of its state lives on the
// user-interface thread: the task manager's termination events are handed
// over to it.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>

#include <functional>
#include <memory>
#include <vector>

#include "media/batch/Batch.h"

#include "app/conversion/ExistingOutputsQuestion.h"
#include "app/conversion/RowStatusTracker.h"
#include "app/shell/AppServices.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;
class QWidget;

namespace quorvel {

class TConvForm;
class TFFEncoder;
class TLoudnessChoice;
class TOutputFolderField;
class TOutputNamesField;
class TPowerService;
class TProfilePanel;
class TReportSink;
class TSourceList;
struct TProgressInfo;
struct TTerminateInfo;

class TBatchConversion : public QObject {
  Q_OBJECT
public:
  // AWindow parents the dialogs and message boxes; ATempFolder is read when
  // a run starts; ASaveSettings writes the window's settings before a
  // shut-down.
  TBatchConversion(QWidget& AWindow, TFFEncoder& AEncoder, TSourceList& ASourceList, TProfilePanel& AProfilePanel,
                   QLineEdit& ADestinationFolder, QCheckBox& AMerge, QSpinBox& AVolume, TReportSink& AReport,
                   const TAppServices& AServices, const QString& ATempFolder, std::function<void()> ASaveSettings);
  ~TBatchConversion() override;

  // The conversion dialog; without one the class makes its own on first use.
  void BindDialog(TConvForm* AConvForm) { FConvForm = AConvForm; }
  // The "Verify lossless outputs" box read when a run starts.
  void BindVerifyBox(QCheckBox* ABox) { FVerify = ABox; }
  // The loudness choice read when a run starts.
  void BindLoudnessChoice(TLoudnessChoice* AChoice) { FLoudness = AChoice; }
  // The "File names" field whose pattern names the outputs, read when a run
  // starts.
  void BindNameField(TOutputNamesField* AField) { FNames = AField; }
  TConvForm& ConvForm();
  const QString& OutputFolderInUse() const { return FOutputFolderInUse; }
  // A batch has been started and its end not handled yet.
  bool Running() const { return FBatch != nullptr; }
  // What happens to outputs that exist already (asked, or stored).
  TExistingOutputsQuestion& ExistingOutputs() { return FExisting; }
  // How many rows convert at once (at least 1); read when a batch starts.
  int WorkerCount() const { return FWorkers; }
  void SetWorkerCount(int ACount) { FWorkers = std::max(ACount, 1); }

  // What Convert and "Convert again" tell while rows of the last batch still
  // run (an error closed its dialog): nothing new starts until its end.
  static const QString kStillConvertingText;

  void ConvertButtonClick();
  // The list pop-up's "Convert again": the row alone (its statuses are the
  // only ones reset). A joined file needs every row: with "Merge to one
  // file" checked the whole batch runs again.
  void ConvertAgain(int AListRow);
  // The window closes: rows still converting stop (the wait keeps the event
  // loop running), their unfinished outputs go and the log says so, before
  // this returns. Nothing is opened or shut down.
  void StopForClose();
  void FFEncoderProgress(const TProgressInfo& AInfo);
  void FFEncoderTerminate(const TTerminateInfo& AInfo);
  void CancelButtonClick();
  void PauseButtonClick();
  void BrowseClick();
  void FindTargetClick();
  // Powers the computer off when the batch ends and the user asked for it:
  // through logind (TPowerService), never by ending processes itself.
  void ShutDownWindows();

signals:
  // A batch is about to be queued: whatever plays must fall silent.
  void Starting();
  // The running batch is AFraction (0 to 1) done, as its dialog's lower bar.
  void Progressed(double AFraction);
  // The batch's run ended; AStoppedByUser: Cancel or the window's close.
  void Ended(const TBatchOutcome& AOutcome, bool AStoppedByUser);

private:
  // The rows as the batch rules read them; throws EConvertError for a row
  // whose profile is missing or holds a number that is not one.
  std::vector<TBatchRow> BatchRows(const std::vector<int>& AListRows) const;
  // Queues AListRows and runs them behind the dialog.
  void ConvertRows(const std::vector<int>& AListRows, bool AMerge);
  // The output folder, or the temporary one when it is missing; false when
  // there is none to write to.
  bool ChooseOutputFolder();
  // Tells the user why a row could not be queued; the batch does not start.
  bool QueueFailed(const TQueueFailure& AFailure);
  // The run has ended (or never started): outputs left unfinished go, and
  // the log names each. What became of the tasks.
  TBatchOutcome FinishBatch();
  // Tells the user and returns true while a batch still runs.
  bool RefusedWhileRunning();
  void HandlePendingTerminations();
  // Opens AFolder in the file manager; a failure is logged.
  void OpenFolder(const QString& AFolder);

  QWidget& FWindow;
  TFFEncoder& FFFEncoder;
  TSourceList& FSourceList;
  TProfilePanel& FProfilePanel;
  QLineEdit& FDestinationFolder;
  TOutputFolderField* FFolderField;  // checks what is typed there; a child of the field
  QCheckBox& FMerge;
  QCheckBox* FVerify = nullptr;  // "Verify lossless outputs", when the window has it
  TOutputNamesField* FNames = nullptr;  // "File names", when the window has it
  QSpinBox& FVolume;
  TLoudnessChoice* FLoudness = nullptr;
  TReportSink& FReport;
  const TAppServices& FServices;
  const QString& FTempFolder;
  std::function<void()> FSaveSettings;

  std::unique_ptr<TPowerService> FOwnPower;  // when the services bring none
  TPowerService* FPower = nullptr;
  TConvForm* FConvForm = nullptr;
  QString FOutputFolderInUse;
  std::unique_ptr<TBatch> FBatch;  // the batch being run, until its end is handled
  // Termination events waiting for their handling, in arrival order. Held
  // back while Cancel waits in Stop (which keeps the event loop running), so
  // that the cancel is logged before the run's end.
  std::vector<TTerminateInfo> FPendingTerminations;
  // Stops every running row and waits (FInStop set meanwhile).
  void StopEncoder();
  bool FInStop = false;
  bool FHandlingTermination = false;  // one termination is handled at a time
  bool FCancelled = false;            // the user stopped the running batch
  bool FClosing = false;              // the window closed: the batch was stopped for it
  int FWorkers = 1;
  int FRunWorkers = 1;  // the running batch's
  TRowStatusTracker FStatus;
  TExistingOutputsQuestion FExisting;
};

}  // namespace quorvel
