#include "app/BatchConversion.h"

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

#include <cmath>
#include <utility>

#include "app/ConvForm.h"
#include "app/Desktop.h"
#include "app/ExceptionGuard.h"
#include "app/PowerService.h"
#include "app/ProfilePanel.h"
#include "app/ReportSink.h"
#include "app/SourceList.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/Exception.h"

namespace quorvel {

namespace {

constexpr int kMaxMergedFiles = 20;

// A profile number as the conversion needs it; a text that is not one ends
// the command with the usual conversion message.
int ProfileInteger(const QString& AText) {
  bool ok = false;
  const int value = AText.trimmed().toInt(&ok);
  if (!ok) throw EConvertError("'" + AText.toStdString() + "' is not a valid integer value");
  return value;
}

// The same path, however it was spelled.
QString PathKey(const QString& APath) { return QDir::cleanPath(QFileInfo(APath).absoluteFilePath()); }

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
      FMerge(AMerge),
      FVolume(AVolume),
      FReport(AReport),
      FServices(AServices),
      FTempFolder(ATempFolder),
      FSaveSettings(std::move(ASaveSettings)) {
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

QString TBatchConversion::FreeOutputPath(const QString& AFolder, const QString& ABaseName, const QString& AExt,
                                  QStringList& ATaken) {
  // Writing over one of the batch's own sources would destroy it before (or
  // while) it is read, and two rows with the same name would leave only the
  // later one's file: such an output gets the first free "name (n)" instead.
  // A file left from an earlier run is neither, and is written over.
  QStringList sources;
  for (const TAudioFile& f : FSourceList.AudioFiles()) sources << PathKey(f.Source);
  const QString first = QDir(AFolder).filePath(ABaseName + AExt);
  QString path = first;
  for (int n = 2; sources.contains(PathKey(path)) || ATaken.contains(PathKey(path)); ++n)
    path = QDir(AFolder).filePath(ABaseName + QStringLiteral(" (%1)").arg(n) + AExt);
  if (path != first) FReport.AddLogLine("-> Output file " + first + " is taken in this batch; writing " + path);
  ATaken << PathKey(path);
  return path;
}

void TBatchConversion::ConvertButtonClick() {
  std::vector<TAudioFile>& files = FSourceList.AudioFiles();
  // 1.-2.
  if (files.empty()) return;
  const bool merge = FMerge.isChecked();
  if (merge && files.size() > static_cast<size_t>(kMaxMergedFiles)) {
    QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(), tr("Cannot merge more than 20 files."),
                         QMessageBox::Ok);
    return;
  }
  // 3.
  FOutputFolderInUse = FDestinationFolder.text();
  if (FOutputFolderInUse.isEmpty() || !QFileInfo(FOutputFolderInUse).isDir()) {
    const QString temp = QDir(FTempFolder.isEmpty() ? QDir::tempPath() : FTempFolder).filePath("Sabrivo_temp");
    QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(),
                         "Output folder does not exit. Converting to \"" + QDir::toNativeSeparators(temp) + "\".",
                         QMessageBox::Ok);
    if (!QFileInfo(temp).isDir() && !QDir().mkpath(temp)) {
      QMessageBox::warning(&FWindow, QApplication::applicationDisplayName(),
                           tr("Could not create temporary directory. Please choose another output folder."),
                           QMessageBox::Ok);
      return;
    }
    FOutputFolderInUse = temp;
  }
  // 4. SEAM (preview player): a playing preview is stopped here.

  // 5.
  TFFEncoder& encoder = FFFEncoder;
  encoder.ClearTasks();
  FInputOptionsList.assign(files.size(), TInputOptions{});
  FOutputOptionsList.assign(files.size(), TOutputOptions{});
  const int volume = static_cast<int>(std::lround(FVolume.value() * 256.0 / 100.0));
  const TProfiles& profiles = FProfilePanel.Profiles();
  auto profileOf = [&](const TAudioFile& AFile) -> const TProfile& {
    if (AFile.ProfileInd < 0 || AFile.ProfileInd >= static_cast<int>(profiles.size()))
      throw EConvertError("List index out of bounds (" + std::to_string(AFile.ProfileInd) + ")");
    return profiles[static_cast<size_t>(AFile.ProfileInd)];
  };
  auto fail = [this](const QString& AText, const char* AMark) {
    FReport.ReportError(AText, QString::fromLatin1(AMark));
    FReport.AddLogLine("-> " + AText);
  };

  // 6.
  QStringList taken;
  for (size_t i = 0; i < files.size(); ++i) {
    const TAudioFile& r = files[i];
    const TProfile& p = profileOf(r);
    TInputOptions& in = FInputOptionsList[i];
    TOutputOptions& out = FOutputOptionsList[i];
    InitInputOptions(in);
    in.FileName = r.Source.toStdString();
    InitOutputOptions(out);
    out.FileExt = p.FormatExt.toStdString();
    out.AudioCodec = p.AudioCodecName.toStdString();
    out.AudioChannels = ProfileInteger(p.Channel);
    out.AudioSampleRate = ProfileInteger(p.SampleRate);
    out.AudioBitrate = ProfileInteger(p.AudioBitRate);
    out.AudioVolume = volume;
    out.DisableVideo = true;
    if (merge) {
      if (encoder.TasksCount() == 0) {
        if (encoder.AddTask(r.Source.toStdString(), &in) < 0)
          return fail(QString::fromStdString(encoder.LastErrMsg()), "CLM_FFAddTaskToMerged");
      } else if (!encoder.AddInputFile(0, r.Source.toStdString(), &in)) {
        return fail(QString::fromStdString(encoder.LastErrMsg()), "CLM_FFAddInputFileToMerged");
      }
      continue;
    }
    const QString outName = FreeOutputPath(FOutputFolderInUse, r.DestinationTitle, p.FormatExt, taken);
    out.FileName = outName.toStdString();
    in.TimeStart = r.TimeStart;
    // A length the probe could not tell leaves the end open: the whole
    // source is converted rather than nothing.
    if (r.TimeEnd >= 0) out.TimeLength = r.TimeEnd - r.TimeStart;
    out.Info.TimeStamp = 0;
    const int task = encoder.AddTask(r.Source.toStdString(), &in);
    if (task < 0) return fail(QString::fromStdString(encoder.LastErrMsg()), "CLM_FFAddTaskToMerged");
    if (!encoder.SetOutputFile(task, out.FileName, &out))
      return fail("Cannot set output file: " + QString::fromStdString(encoder.LastErrMsg()), "CLM_SetOutputFile");
  }
  // 7.
  if (merge) {
    const int sel = std::max(FSourceList.SelectedIndex(), 0);
    TOutputOptions& out = FOutputOptionsList[static_cast<size_t>(sel)];
    out.Join = true;
    const QString outName =
        FreeOutputPath(FOutputFolderInUse, QStringLiteral("Joined"), profileOf(files[static_cast<size_t>(sel)]).FormatExt,
                       taken);
    if (!encoder.SetOutputFile(0, outName.toStdString(), &out))
      return fail("Cannot set output file (Merge): " + QString::fromStdString(encoder.LastErrMsg()),
                  "CLM_SetOutputFileMerge");
  }
  // 8.
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
  encoder.Start(1);
  form.ProgressCurrent->setValue(0);
  form.ProgressTotal->setValue(0);
  form.SetTitle(tr("Converting..."));
  form.exec();
}

void TBatchConversion::FFEncoderProgress(const TProgressInfo& AInfo) {
  TConvForm& form = ConvForm();
  const int n = FFFEncoder.TasksCount();
  // Nothing sensible to show without a length or a task: the bars stay.
  if (AInfo.TotalDuration != 0 && n != 0) {
    form.ProgressCurrent->setValue(static_cast<int>(AInfo.CurrentDuration * 100 / AInfo.TotalDuration));
    form.ProgressTotal->setValue(static_cast<int>(std::lround(
        100.0 / n * static_cast<double>(AInfo.CurrentDuration) / static_cast<double>(AInfo.TotalDuration) +
        100.0 / n * AInfo.TaskIndex)));
  }
  const std::vector<TAudioFile>& files = FSourceList.AudioFiles();
  if (AInfo.TaskIndex >= 0 && AInfo.TaskIndex < static_cast<int>(files.size())) {
    const TAudioFile& r = files[static_cast<size_t>(AInfo.TaskIndex)];
    const TProfile* p = FSourceList.ProfileOf(r);
    form.SetTitle("Converting \"" + r.SourceTitleExt + "\" to \"" + r.DestinationTitle +
                  (p ? p->FormatExt : QString()) + "\"");
  }
}

void TBatchConversion::FFEncoderTerminate(const TTerminateInfo& AInfo) {
  TConvForm& form = ConvForm();
  if (AInfo.TaskIndex < 0 && AInfo.Finished) {
    FInputOptionsList.clear();
    FOutputOptionsList.clear();
    // A batch the user stopped has not succeeded, and what he asked for at
    // its end (the folder, a shut-down) was meant for a finished batch: the
    // cancel line already says what happened.
    const bool shutDown = !FCancelled && form.cbShutdownPC->isChecked();
    if (shutDown) {
      FSaveSettings();
      ShutDownWindows();
    } else if (!FCancelled) {
      FReport.AddLogLine(QStringLiteral("-> Conversion successfully done."));
    }
    form.done(QDialog::Accepted);
    if (!FCancelled && form.cbOpenOutput->isChecked() && !shutDown) OpenFolder(FOutputFolderInUse);
  }
  if (AInfo.Exception) {
    const QString msg = QString::fromStdString(AInfo.ExceptionMsg);
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
  FInStop = true;
  try {
    FFFEncoder.Stop(true);
  } catch (...) {
    FInStop = false;
    throw;
  }
  FInStop = false;
  FReport.AddLogLine(QStringLiteral("-> Conversion cancelled by user"));
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
  const QString folder = FDestinationFolder.text();
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
