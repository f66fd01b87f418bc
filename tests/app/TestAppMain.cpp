// The window tests' main. Every test process gets its own home below the
// temporary folder: settings, documents, music and the temporary folder of
// the program live there, so no test touches the user's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "app/shell/QtMainThreadHost.h"
#include "media/runtime/MediaRuntime.h"

namespace {

void Isolate(const QString& AHome) {
  for (const char* sub : {"config", "data", "cache", "runtime", "Documents", "Music", "tmp"})
    QDir().mkpath(AHome + "/" + sub);
  QFile dirs(AHome + "/config/user-dirs.dirs");
  if (dirs.open(QIODevice::WriteOnly)) {
    dirs.write(QStringLiteral("XDG_DOCUMENTS_DIR=\"%1/Documents\"\nXDG_MUSIC_DIR=\"%1/Music\"\n").arg(AHome).toUtf8());
  }
  QFile::setPermissions(AHome + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("QUORVEL_TEST_HOME", AHome.toUtf8());
  qputenv("XDG_CONFIG_HOME", (AHome + "/config").toUtf8());
  qputenv("XDG_DATA_HOME", (AHome + "/data").toUtf8());
  qputenv("XDG_CACHE_HOME", (AHome + "/cache").toUtf8());
  qputenv("XDG_RUNTIME_DIR", (AHome + "/runtime").toUtf8());
  qputenv("TMPDIR", (AHome + "/tmp").toUtf8());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, AHome + "/config");
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, AHome + "/config");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home(QDir::tempPath() + "/quorvel-app-test-XXXXXX");
  if (!home.isValid()) return 1;
  Isolate(home.path());
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  quorvel::QtMainThreadHost mainThread;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
