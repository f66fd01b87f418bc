#include "app/shell/AppWindows.h"

#include "app/shell/AboutForm.h"
#include "app/shell/CommandGate.h"
#include "app/preview/ClipForm.h"
#include "app/shell/InstanceChannel.h"
#include "app/report/ErrorForm.h"
#include "app/report/ExceptionGuard.h"
#include "app/report/LogForm.h"
#include "app/shell/MainForm.h"
#include "app/conversion/ConvForm.h"
#include "app/sources/FileInfoForm.h"

namespace quorvel {

TAppWindows::TAppWindows(const TAppServices& AServices)
    : FServices(AServices), FReporter(FServices.Endpoints, *FServices.Desktop) {
  FMainForm = std::make_unique<TMainForm>(FServices, FReporter);
  FClipForm = std::make_unique<TClipForm>(FMainForm->SourceList(), FMainForm->PlayerLibraries(), FMainForm.get());
  FLogForm = std::make_unique<TLogForm>(FMainForm.get());
  FConvForm = std::make_unique<TConvForm>(FMainForm.get());
  FAboutForm = std::make_unique<TAboutForm>(FServices.Endpoints, *FServices.Desktop, FMainForm.get());
  FFileInfoForm = std::make_unique<TFileInfoForm>(FMainForm.get());
  FErrorForm = std::make_unique<TErrorForm>(FMainForm.get());
  FReporter.Bind(FLogForm.get(), FErrorForm.get());
  FMainForm->BindForms(FLogForm.get(), FAboutForm.get());
  FMainForm->BindDialogs(FConvForm.get(), FFileInfoForm.get());
  FMainForm->BindClipForm(FClipForm.get());
  // The start-up runs once every window exists: its failures need the
  // error dialog and the events log.
  RunGuarded([this] { FMainForm->FormCreate(); });
}

TAppWindows::~TAppWindows() {
  // The dialogs are children of the main window: they go before it, and the
  // main window's own destruction must not delete them a second time.
  FErrorForm.reset();
  FFileInfoForm.reset();
  FAboutForm.reset();
  FConvForm.reset();
  FLogForm.reset();
  FClipForm.reset();
  FMainForm.reset();
}

void TAppWindows::OpenFiles(const QStringList& AFiles) {
  // A window that is closing takes nothing more and is not shown again.
  if (FMainForm->Gate().Closing()) return;
  // A later start without files (the menu entry again) brings the window
  // to the front all the same. While an add is in progress the files wait
  // for its end.
  if (!AFiles.isEmpty())
    FMainForm->Gate().RunWhenFree([this, AFiles] { RunGuarded([&] { FMainForm->AddChosenFiles(AFiles); }); });
  if (FMainForm->Gate().Closing()) return;  // closed while the files were added
  // Out of the task bar when minimised, but a maximised window stays so.
  FMainForm->setWindowState(FMainForm->windowState() & ~Qt::WindowMinimized);
  FMainForm->show();
  FMainForm->raise();
  FMainForm->activateWindow();
}

void TAppWindows::ServeLaterStarts(TInstanceChannel& AChannel) {
  if (!AChannel.Listen()) return;
  QObject::connect(&AChannel, &TInstanceChannel::FilesReceived, FMainForm.get(),
                   [this](const QStringList& AFiles) { OpenFiles(AFiles); });
}

}  // namespace quorvel
