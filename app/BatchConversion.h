// The batch conversion of the source list: it turns the rows into the task
// manager's tasks, runs them behind the conversion dialog (progress, pause,
// cancel, shut-down or opening the output folder at the end), and serves the
// output folder's Browse and Find target commands.
//
// It owns the conversion state: the options handed to the task manager for
// the run, the output folder in use, the termination events waiting for
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

#include <functional>
#include <memory>
#include <vector>

#include "media/encoder/EncoderOptions.h"

#include "app/AppServices.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;
class QWidget;

namespace quorvel {

class TConvForm;
class TFFEncoder;
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
  TConvForm& ConvForm();
  const QString& OutputFolderInUse() const { return FOutputFolderInUse; }

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

private:
  void HandlePendingTerminations();
  // Opens AFolder in the file manager; a failure is logged.
  void OpenFolder(const QString& AFolder);

  QWidget& FWindow;
  TFFEncoder& FFFEncoder;
  TSourceList& FSourceList;
  TProfilePanel& FProfilePanel;
  QLineEdit& FDestinationFolder;
  QCheckBox& FMerge;
  QSpinBox& FVolume;
  TReportSink& FReport;
  const TAppServices& FServices;
  const QString& FTempFolder;
  std::function<void()> FSaveSettings;

  std::unique_ptr<TPowerService> FOwnPower;  // when the services bring none
  TPowerService* FPower = nullptr;
  TConvForm* FConvForm = nullptr;
  QString FOutputFolderInUse;
  std::vector<TInputOptions> FInputOptionsList;
  std::vector<TOutputOptions> FOutputOptionsList;
  // Termination events waiting for their handling, in arrival order. Held
  // back while Cancel waits in Stop (which keeps the event loop running), so
  // that the cancel is logged before the run's end.
  std::vector<TTerminateInfo> FPendingTerminations;
  bool FInStop = false;
  bool FHandlingTermination = false;  // one termination is handled at a time
  bool FCancelled = false;            // the user stopped the running batch
};

}  // namespace quorvel
