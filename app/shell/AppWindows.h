// The program's seven windows, created in their fixed order (main window
// first), and the error path they share.
#pragma once

#include <QStringList>

#include <memory>

#include "app/shell/AppServices.h"
#include "app/report/ErrorReport.h"

namespace quorvel {

class TAboutForm;
class TClipForm;
class TConvForm;
class TErrorForm;
class TFileInfoForm;
class TInstanceChannel;
class TLogForm;
class TMainForm;

class TAppWindows {
public:
  // Creates the windows, then runs the main window's start-up. A start-up
  // failure is shown to the user; the windows stay usable.
  explicit TAppWindows(const TAppServices& AServices);
  ~TAppWindows();

  TMainForm& Main() { return *FMainForm; }
  TLogForm& Log() { return *FLogForm; }
  TAboutForm& About() { return *FAboutForm; }
  TErrorForm& Error() { return *FErrorForm; }
  TErrorReporter& Reporter() { return FReporter; }

  // Files named on the command line or handed over by a later start: added
  // to the list as the open dialog's are; the window comes to the front
  // (also for a later start without files).
  void OpenFiles(const QStringList& AFiles);
  // Listens on AChannel: a later start's files go to OpenFiles.
  void ServeLaterStarts(TInstanceChannel& AChannel);

private:
  TAppServices FServices;
  TErrorReporter FReporter;
  // Declaration order is creation order; they go in reverse.
  std::unique_ptr<TMainForm> FMainForm;
  std::unique_ptr<TClipForm> FClipForm;
  std::unique_ptr<TLogForm> FLogForm;
  std::unique_ptr<TConvForm> FConvForm;
  std::unique_ptr<TAboutForm> FAboutForm;
  std::unique_ptr<TFileInfoForm> FFileInfoForm;
  std::unique_ptr<TErrorForm> FErrorForm;
};

}  // namespace quorvel
