// The main of the host-widget test programs: a Qt application (offscreen or
// on X11, as the test's environment says) and the media runtime, without the
// window tests' isolated home (these programs start no window of the
// program).
#include <gtest/gtest.h>

#include <QApplication>

#include "media/runtime/MediaRuntime.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  quorvel::MediaRuntime runtime;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
