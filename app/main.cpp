#include <QApplication>

#include "app/MainWindow.h"
#include "app/QtMainThreadHost.h"
#include "media/runtime/MediaRuntime.h"

int main(int argc, char** argv) {
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  quorvel::QtMainThreadHost mainThread;
  quorvel::MainWindow window;
  window.show();
  return app.exec();
}
