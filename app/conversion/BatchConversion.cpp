#include "app/conversion/BatchConversion.h"
#include "app/conversion/LoudnessChoice.h"

#include "app/conversion/PreviewWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include <utility>

#include "app/conversion/ConvForm.h"
#include "app/conversion/OutputFolderField.h"
#include "app/conversion/OutputNamesField.h"
#include "app/shell/Desktop.h"
#include "app/report/ExceptionGuard.h"
#include "app/shell/PowerService.h"
#include "app/conversion/ProfilePanel.h"
#include "app/report/ReportSink.h"
#include "app/sources/SourceList.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/Exception.h"

namespace quorvel {

namespace {

// A profile number as the conversion needs it; a text that is not one ends
// the command with the usual conversion message.
int ProfileInteger(const QString& AText) {
  bool ok = false;
  const int value = AText.trimmed().toInt(&ok);
  if (!ok) throw EConvertError("'" + AText.toStdString() + "' is not a valid integer value");
  return value;
}

// The batch's last log line: what became of it as a whole.
QString BatchEndLine(const TBatchOutcome& AOutcome, bool ACancelled, bool AClosing) {
  const QString counts = QStringLiteral("%1 done").arg(AOutcome.Done) +
                         (AOutcome.Skipped ? QStringLiteral(", %1 skipped").arg(AOutcome.Skipped) : QString()) +
                         (AOutcome.Failed ? QStringLiteral(", %1 failed").arg(AOutcome.Failed) : QString()) +
                         (AOutcome.Stopped ? QStringLiteral(", %1 stopped").arg(AOutcome.Stopped) : QString());
  if (AClosing) return "-> Conversion stopped as the window closed: " + counts + ".";
  if (ACancelled) return QStringLiteral("-> Conversion cancelled by user");
  if (AOutcome.Failed == 0 && AOutcome.Stopped == 0)
    return AOutcome.Skipped ? "-> Conversion successfully done: " + counts + "."
                            : QStringLiteral("-> Conversion successfully done.");
  if (AOutcome.Failed == 0) return "-> Conversion stopped: " + counts + ".";
  return "-> Conversion ended with errors: " + counts + ".";
}

}  // namespace

TBatchConversion::TBatchConversion(QWidget& AWindow, TFFEncoder& AEncoder, TSourceList& ASourceList,
                                   TProfilePanel& AProfilePanel, QLineEdit& ADestinationFolder, QCheckBox& AMerge,
                                   QSpinBox& AVolume, TReportSink& AReport, const TAppServices& AServices,
                                   const QString& ATempFolder, std::function<void()> ASaveSettings)
    : FWindow(AWindow),
      FFFEncoder(AEncoder),
      FSourceList(ASourceList),
      FProfilePanel(AProfilePanel),
      FDestinationFolder(ADestinationFolder),
      FFolderField(new TOutputFolderField(ADestinationFolder)),
      FMerge(AMerge),
      FVolume(AVolume),
      FReport(AReport),
      FServices(AServices),
      FTempFolder(ATempFolder),
      FSaveSettings(std::move(ASaveSettings)),
      FStatus(ASourceList.Rows()) {
  // A conversion's previews (when switched on) show in a window of their own.
  FFFEncoder.PreviewerFactory = [] { return std::make_unique<TPreviewWindow>(); };
  if (AServices.Power) {
    FPower = AServices.Power;
  } else {
    FOwnPower = std::make_unique<TPowerService>();
    FPower = FOwnPower.get();
  }
}

TBatchConversion::~TBatchConversion() = default;

TConvForm& TBatchConversion::ConvForm() {
  if (!FConvForm) FConvForm = new TConvForm(&FWindow);
  return *FConvForm;
}

std::vector<TBatchRow> TBatchConversion::BatchRows(const std::vector<int>& AListRows) const {
  const TProfiles& profiles = FProfilePanel.Profiles();
  std::vector<TBatchRow> rows;
  for (const int index : AListRows) {
    const TAudioFile& file = FSourceList.Rows().At(index);
    if (file.ProfileInd < 0 || file.ProfileInd >= static_cast<int>(profiles.size()))
      throw EConvertError("List index out of bounds (" + std::to_string(file.ProfileInd) + ")");
    const TProfile& p = profiles[static_cast<size_t>(file.ProfileInd)];
    TBatchRow row;
    row.Source = file.Source.toStdString();
    row.Root = file.Root.toStdString();
    row.Title = file.DestinationTitle.toStdString();
    // Read when the row was added: a pattern of tags opens no source here.
    row.Tags = file.Tags;
    row.TagsKnown = file.TagsKnown;
    row.Format = {p.FormatExt.toStdString(), p.AudioCodecName.toStdString(), ProfileInteger(p.Channel),
                  ProfileInteger(p.SampleRate), ProfileInteger(p.AudioBitRate),
                  ProfileContainer(p).toStdString()};
    row.TimeStart = file.TimeStart;
    row.TimeEnd = file.TimeEnd;
    rows.push_back(std::move(row));
  }
  return rows;
}

bool TBatchConversion::ChooseOutputFolder() {
  if (!FDestinationFolder.text().trimmed().isEmpty()) {
    bool declined = false;
    FOutputFolderInUse = FFolderField->FolderForConvert(FWindow, declined);
    if (!FOutputFolderInUse.isEmpty()) return true;
    if (!declined) return false;
  }
  const QString temp = QDir(FTempFolder.isEmpty() ? QDir::tempPath() : FTempFolder).filePath("Sabrivo_temp");
  QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(),
                       "Output folder does not exit. Converting to \"" + QDir::toNativeSeparators(temp) + "\".",
                       QMessageBox::Ok);
  if (!QFileInfo(temp).isDir() && !QDir().mkpath(temp)) {
    QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(),
                         tr("Could not create temporary directory. Please choose another output folder."),
                         QMessageBox::Ok);
    return false;
  }
  FOutputFolderInUse = temp;
  return true;
}

bool TBatchConversion::QueueFailed(const TQueueFailure& AFailure) {
  const QString message = QString::fromStdString(AFailure.Message);
  FStatus.QueueFailed(AFailure.Row, message);
  QString text = message;
  QString mark = QStringLiteral("CLM_FFAddTaskToMerged");
  switch (AFailure.Step) {
    case TQueueStep::AddTask:
    case TQueueStep::NoAudio:  // not asked for: the window keeps the run's own texts
      break;
    case TQueueStep::AddInput:
      mark = QStringLiteral("CLM_FFAddInputFileToMerged");
      break;
    case TQueueStep::ClaimOutput:
    case TQueueStep::SetOutput:
      if (AFailure.Row < 0) {
        text = "Cannot set output file (Merge): " + message;
        mark = QStringLiteral("CLM_SetOutputFileMerge");
      } else {
        text = "Cannot set output file: " + message;
        mark = QStringLiteral("CLM_SetOutputFile");
      }
      break;
    case TQueueStep::JoinIncomplete:
      return false;  // its input's failure has been told already
  }
  FReport.ReportError(text, mark);
  FReport.AddLogLine("-> " + text);
  return false;  // the window converts all rows or none
}

TBatchOutcome TBatchConversion::FinishBatch() {
  if (!FBatch) return {};
  const TBatchOutcome outcome = FBatch->Finish();
  FBatch.reset();
  for (const std::string& path : outcome.Removed)
    FReport.AddLogLine("-> Removed unfinished output " + QString::fromStdString(path));
  return outcome;
}

bool TBatchConversion::RefusedWhileRunning() {
  if (!Running()) return false;
  // An error closed the dialog while other rows go on: the task manager is
  // still theirs until the batch's end.
  QMessageBox::information(&FWindow, QApplication::applicationDisplayName(), kStillConvertingText, QMessageBox::Ok);
  return true;
}

void TBatchConversion::StopEncoder() {
  // The run's end events that arrive while Stop waits are held until it has
  // returned (see the pending terminations), also when it throws.
  FInStop = true;
  try {
    FFFEncoder.Stop(true);
  } catch (...) {
    FInStop = false;
    throw;
  }
  FInStop = false;
}

void TBatchConversion::StopForClose() {
  if (!FBatch) return;
  FClosing = true;
  StopEncoder();
  // Stop returned once the run's last event was handed over; its handling
  // (posted to this object) runs now, while the window still exists, so
  // that the unfinished outputs go and the log says so.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  HandlePendingTerminations();
}

void TBatchConversion::ConvertButtonClick() {
  const std::vector<TAudioFile>& files = FSourceList.AudioFiles();
  if (files.empty() || RefusedWhileRunning()) return;
  const bool merge = FMerge.isChecked();
  if (merge && files.size() > static_cast<size_t>(kMaxMergedFiles)) {
    QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(), tr("Cannot merge more than 20 files."),
                         QMessageBox::Ok);
    return;
  }
  std::vector<int> rows;
  for (int i = 0; i < static_cast<int>(files.size()); ++i) rows.push_back(i);
  ConvertRows(rows, merge);
}

void TBatchConversion::ConvertAgain(int AListRow) {
  if (AListRow < 0 || AListRow >= FSourceList.RowCount() || RefusedWhileRunning()) return;
  if (FMerge.isChecked()) {
    ConvertButtonClick();
    return;
  }
  ConvertRows({AListRow}, false);
}

const QString TBatchConversion::kStillConvertingText = QStringLiteral(
    "Files of the last conversion are still being converted. Please wait until they are done, then convert again.");

void TBatchConversion::ConvertRows(const std::vector<int>& AListRows, bool AMerge) {
  if (!ChooseOutputFolder()) return;
  emit Starting();

  TFFEncoder& encoder = FFFEncoder;
  encoder.ClearTasks();
  TBatchSettings settings;
  settings.Folder = FOutputFolderInUse.toStdString();
  // Outputs in folders beneath it when the pattern makes them; the
  // planner's rules (never an input, never two outputs on one path) hold
  // for those names as for plain ones.
  if (FNames) settings.NamePattern = FNames->Pattern().toStdString();
  settings.Merge = AMerge;
  settings.VolumePercent = FVolume.value();
  settings.VerifyLossless = FVerify && FVerify->isChecked();
  if (FLoudness) settings.Loudness = FLoudness->Value();
  settings.JoinedFormatRow = std::max(FSourceList.SelectedIndex(), 0);
  std::vector<TBatchRow> rows = BatchRows(AListRows);
  // A file that stands under an output's name (the user's own, or an
  // earlier run's) is never replaced without the user's word.
  settings.EarlierOutputs = TEarlierOutputs::Replace;
  const int existing = TBatch(settings, rows).ExistingOutputs();
  const std::optional<TEarlierOutputs> policy = FExisting.Ask(&FWindow, existing);
  if (!policy) return;
  settings.EarlierOutputs = *policy;
  if (AMerge && *policy == TEarlierOutputs::SkipNewer) settings.EarlierOutputs = TEarlierOutputs::Keep;
  FStatus.Begin(AListRows, AListRows.size() == static_cast<size_t>(FSourceList.RowCount()));
  FBatch = std::make_unique<TBatch>(settings, std::move(rows));
  const bool queued = FBatch->Queue(
      encoder, [this](const TQueueFailure& AFailure) { return QueueFailed(AFailure); },
      [this](const std::string& ANote) { FReport.AddLogLine("-> " + QString::fromStdString(ANote)); },
      [this](const TSkippedRow& ASkipped) {
        FStatus.Skipped(ASkipped.Row);
        FReport.AddLogLine("-> Skipped " + QString::fromStdString(FBatch->Rows()[ASkipped.Row].Source) + ": " +
                           QString::fromStdString(ASkipped.Output) + " is newer than its source");
      });
  if (!queued) {
    // The rows queued before the failure made their outputs already.
    FinishBatch();
    encoder.ClearTasks();
    return;
  }
  FStatus.Queued(FBatch->Items());
  if (FBatch->Items().empty()) {
    // Every row was skipped: there is nothing to run, and the batch ends here.
    const TBatchOutcome outcome = FinishBatch();
    FReport.AddLogLine(BatchEndLine(outcome, false, false));
    encoder.ClearTasks();
    return;
  }
  // Which rows are done or failed is seen there once the dialog closes.
  FSourceList.ShowStatusColumn();
  encoder.OnProgress = [this](TObject*, const TProgressInfo* AInfo) {
    if (AInfo) RunGuarded([&] { FFEncoderProgress(*AInfo); });
  };
  // The end of a task may come on a delivery thread of the task manager:
  // its handling is queued to the user-interface thread, in arrival order.
  encoder.OnTerminate = [this](TObject*, const TTerminateInfo& AInfo) {
    QMetaObject::invokeMethod(
        this,
        [this, info = AInfo] {
          FPendingTerminations.push_back(info);
          HandlePendingTerminations();
        },
        Qt::QueuedConnection);
  };
  FCancelled = false;
  FReport.AddLogLine(QStringLiteral("-> Started conversion"));
  TConvForm& form = ConvForm();
  if (!form.property("wired").toBool()) {
    form.setProperty("wired", true);
    connect(form.CancelButton, &QPushButton::clicked, this, Guarded([this](bool) { CancelButtonClick(); }));
    connect(form.PauseButton, &QPushButton::clicked, this, Guarded([this](bool) { PauseButtonClick(); }));
  }
  FRunWorkers = AMerge ? 1 : FWorkers;  // a joined file is one task
  form.ProgressCurrent->setValue(0);
  form.ProgressTotal->setValue(0);
  form.SetTitle(tr("Converting..."));
  encoder.Start(FRunWorkers);
  form.exec();
}

void TBatchConversion::FFEncoderProgress(const TProgressInfo& AInfo) {
  TConvForm& form = ConvForm();
  const int n = FFFEncoder.TasksCount();
  FStatus.Progress(AInfo.TaskIndex, AInfo.CurrentDuration, AInfo.TotalDuration);
  // Nothing sensible to show without a length or a task: the bars stay.
  if (AInfo.TotalDuration != 0 && n != 0) {
    form.ProgressCurrent->setValue(static_cast<int>(AInfo.CurrentDuration * 100 / AInfo.TotalDuration));
    // One at a time, the tasks before the current one are the finished
    // ones; with several at once only the durations tell how far it is.
    const int total =
        FRunWorkers > 1
            ? static_cast<int>(std::lround(100.0 * FStatus.BatchFraction()))
            : static_cast<int>(std::lround(100.0 / n * static_cast<double>(AInfo.CurrentDuration) /
                                               static_cast<double>(AInfo.TotalDuration) +
                                           100.0 / n * AInfo.TaskIndex));
    // The whole batch's bar never moves back: a report of a task's time
    // that stepped back (a pause, a row whose length was a guess) is no
    // work undone.
    if (total > form.ProgressTotal->value()) form.ProgressTotal->setValue(std::min(total, 100));
    emit Progressed(form.ProgressTotal->value() / 100.0);
  }
  const std::vector<TAudioFile>& files = FSourceList.AudioFiles();
  const int row = FStatus.ListRow(AInfo.TaskIndex);
  if (row >= 0) {
    const TAudioFile& r = files[static_cast<size_t>(row)];
    const TProfile* p = FSourceList.ProfileOf(r);
    form.SetTitle("Converting \"" + r.SourceTitleExt + "\" to \"" + r.DestinationTitle +
                  (p ? p->FormatExt : QString()) + "\"");
  }
}

void TBatchConversion::FFEncoderTerminate(const TTerminateInfo& AInfo) {
  TConvForm& form = ConvForm();
  // The row named before its status changes: a failed row's name goes into
  // the message when several ran at once.
  const int row = FStatus.ListRow(AInfo.TaskIndex);
  // A finished lossless output that fails its check is a failed task.
  TTerminateInfo info = AInfo;
  // What a finished output measured, when loudness is on: in its row's
  // tooltip and in the log.
  QString loudness;
  if (AInfo.TaskIndex >= 0 && FBatch) {
    const std::string failure = FBatch->TaskEnded(AInfo);
    const size_t task = static_cast<size_t>(AInfo.TaskIndex);
    if (!failure.empty()) {
      const std::string output = task < FBatch->Items().size() ? FBatch->Items()[task].Output : std::string();
      info.Exception = true;
      info.ExceptionMsg = output + ": " + failure;
    } else if (AInfo.Finished && !AInfo.Exception && task < FBatch->Items().size()) {
      const bool normalised = FBatch->Settings().Loudness.Action == TLoudnessAction::Normalise;
      loudness = QString::fromStdString(LoudnessSummary(FBatch->Items()[task], normalised));
      if (!loudness.isEmpty() && row >= 0)
        FReport.AddLogLine("-> " + FSourceList.Rows().At(row).SourceTitleExt + ": " + loudness);
    }
  }
  if (AInfo.TaskIndex >= 0) FStatus.TaskEnded(info, loudness);
  TBatchOutcome outcome;
  if (AInfo.TaskIndex < 0) {
    outcome = FinishBatch();
    FStatus.RunEnded();
    emit Ended(outcome, FCancelled || FClosing);
  }
  if (AInfo.TaskIndex < 0 && AInfo.Finished) {
    // A batch the user stopped (Cancel, closing the window) has not
    // succeeded, and what he asked for at its end (the folder, a shut-down)
    // was meant for a finished batch.
    const bool stopped = FCancelled || FClosing;
    const bool shutDown = !stopped && form.cbShutdownPC->isChecked();
    const bool success = outcome.Failed == 0 && outcome.Stopped == 0;
    // The last line says how the batch ended; a shut-down says that it
    // succeeded by itself.
    if (!(shutDown && success)) FReport.AddLogLine(BatchEndLine(outcome, FCancelled, FClosing));
    if (shutDown) {
      FSaveSettings();
      ShutDownWindows();
    }
    form.done(QDialog::Accepted);
    if (!stopped && form.cbOpenOutput->isChecked() && !shutDown) OpenFolder(FOutputFolderInUse);
  }
  if (info.Exception) {
    QString msg = QString::fromStdString(info.ExceptionMsg);
    // With several rows at once the message alone does not say which failed.
    if (FRunWorkers > 1 && row >= 0 && !msg.contains(FSourceList.Rows().At(row).SourceTitleExt))
      msg = FSourceList.Rows().At(row).SourceTitleExt + ": " + msg;
    FReport.ReportError("Conversion terminated with error: " + msg, QStringLiteral("CLM_Terminate"));
    FReport.AddLogLine("-> Conversion terminated with error: " + msg);
    form.done(QDialog::Rejected);
  }
}

void TBatchConversion::HandlePendingTerminations() {
  // The handling of one termination may wait in a dialog (the error report,
  // a shut-down message), whose event loop delivers the next queued events:
  // those wait here until the one in hand is done, so that nothing (the
  // success line, closing the dialog, opening the folder) happens behind it.
  if (FHandlingTermination) return;
  FHandlingTermination = true;
  while (!FInStop && !FPendingTerminations.empty()) {
    const TTerminateInfo info = FPendingTerminations.front();
    FPendingTerminations.erase(FPendingTerminations.begin());
    RunGuarded([&] { FFEncoderTerminate(info); });
  }
  FHandlingTermination = false;
}

void TBatchConversion::CancelButtonClick() {
  FCancelled = true;
  StopEncoder();
  // The cancel is logged as the batch's last line, once its end (and the
  // removal of what it left) has been handled.
  ConvForm().done(QDialog::Rejected);
  // What arrived during the wait is handled from the event loop, after this.
  QMetaObject::invokeMethod(this, [this] { HandlePendingTerminations(); }, Qt::QueuedConnection);
}

void TBatchConversion::PauseButtonClick() {
  QPushButton* b = ConvForm().PauseButton;
  if (b->text() == tr("Pause")) {
    FFFEncoder.Pause();
    b->setText(tr("Resume"));
  } else {
    FFFEncoder.Resume();
    b->setText(tr("Pause"));
  }
}

void TBatchConversion::BrowseClick() {
  const QString folder = QFileDialog::getExistingDirectory(&FWindow, tr("Select folder"), FDestinationFolder.text(),
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (!folder.isEmpty()) FDestinationFolder.setText(QDir::toNativeSeparators(folder));
}

void TBatchConversion::FindTargetClick() {
  const QString folder = TypedOutputFolder(FDestinationFolder.text());
  if (QFileInfo(folder).isDir()) OpenFolder(folder);
}

void TBatchConversion::OpenFolder(const QString& AFolder) {
  OpenOrLog(FServices.Desktop, QUrl::fromLocalFile(AFolder), "the folder " + QDir::toNativeSeparators(AFolder),
            FReport);
}

void TBatchConversion::ShutDownWindows() {
  try {
    QString error;
    if (!FPower->PowerOff(error)) QMessageBox::critical(&FWindow, error, QStringLiteral("Exit Error"));
  } catch (const std::exception&) {
    FReport.ReportError(QStringLiteral("Error trying shut down the Windows"), QStringLiteral("CLM_Shut"));
  }
}

}  // namespace quorvel
