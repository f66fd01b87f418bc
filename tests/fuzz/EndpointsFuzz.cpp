// The reader of endpoints.ini beside the program (the report's relay and the
// web links) and the share addresses made from it.
#include <QCoreApplication>

#include <cstdlib>

#include "app/shell/Endpoints.h"
#include "tests/fuzz/FuzzFile.h"

using namespace quorvel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The user's own settings (which override the file) are read too: they
  // come from an empty configuration folder of the fuzzer's.
  ::setenv("XDG_CONFIG_HOME", (fuzz::ScratchFolder() + "/config").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::WriteFile(fuzz::ScratchFolder() + "/endpoints.ini", AData, ASize);
  const TEndpoints endpoints = LoadEndpoints(QString::fromStdString(fuzz::ScratchFolder()));
  FacebookShareUrl(endpoints);
  TwitterShareUrl(endpoints, QStringLiteral("Quorvel"));
  return 0;
}
