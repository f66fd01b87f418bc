#include <QDir>

#include "app/shell/AppWindows.h"
#include "app/shell/Application.h"
#include "app/shell/Desktop.h"
#include "app/shell/InstanceChannel.h"
#include "app/shell/MainForm.h"
#include "app/shell/QtMainThreadHost.h"
#include "app/shell/QuitSignals.h"
#include "app/shell/ShellFolders.h"
#include "media/runtime/MediaRuntime.h"

int main(int argc, char** argv) {
  quorvel::MediaRuntime runtime;
  quorvel::TApplication app(argc, argv);
  // A window runs already: it takes the files, and this start ends.
  const QStringList files = quorvel::CommandLineFiles(app.arguments(), QDir::currentPath());
  quorvel::TInstanceChannel channel;
  if (channel.HandOver(files)) return 0;
  quorvel::QtMainThreadHost mainThread;
  quorvel::TDesktop desktop;
  const QString folder = quorvel::ProgramFolder();
  quorvel::TAppWindows windows({folder, quorvel::LoadEndpoints(folder), &desktop});
  windows.Main().show();
  quorvel::TQuitSignals quit(windows.Main());
  windows.OpenFiles(files);
  windows.ServeLaterStarts(channel);
  return app.exec();
}
