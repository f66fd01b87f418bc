// The reader of the window's settings file (an ini file the user, or another
// program, may have edited).
#include <QCoreApplication>
#include <QSettings>

#include "app/shell/Settings.h"
#include "tests/fuzz/FuzzFile.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static const std::string path = fuzz::ScratchFolder() + "/Quorvel.conf";
  fuzz::WriteFile(path, AData, ASize);
  QSettings store(QString::fromStdString(path), QSettings::IniFormat);
  ReadSettings(store);
  return 0;
}
