#include "app/shell/AppWindows.h"
#include "app/shell/Application.h"
#include "app/shell/Desktop.h"
#include "app/shell/MainForm.h"
#include "app/shell/QtMainThreadHost.h"
#include "app/shell/ShellFolders.h"
#include "media/runtime/MediaRuntime.h"

int main(int argc, char** argv) {
  quorvel::MediaRuntime runtime;
  quorvel::TApplication app(argc, argv);
  quorvel::QtMainThreadHost mainThread;
  quorvel::TDesktop desktop;
  const QString folder = quorvel::ProgramFolder();
  quorvel::TAppWindows windows({folder, quorvel::LoadEndpoints(folder), &desktop});
  windows.Main().show();
  return app.exec();
}
