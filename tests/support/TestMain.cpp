// The tests' main: the media runtime lives for the whole test program, as
// it does for the application.
#include <gtest/gtest.h>

#include "media/runtime/MediaRuntime.h"

int main(int argc, char** argv) {
  quorvel::MediaRuntime runtime;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
