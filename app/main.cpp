#include "app/AppWindows.h"
#include "app/Application.h"
#include "app/Desktop.h"
#include "app/MainForm.h"
#include "app/QtMainThreadHost.h"
#include "app/ShellFolders.h"
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
