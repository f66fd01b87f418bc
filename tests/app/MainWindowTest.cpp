#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "app/MainWindow.h"
#include "app/QtMainThreadHost.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/MediaRuntime.h"

#include <atomic>
#include <thread>

namespace quorvel {
namespace {

TEST(MainWindowTest, OpensOnTheMediaRuntimeAndCloses) {
  auto window = std::make_unique<MainWindow>();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  EXPECT_EQ(window->windowTitle(), "Quorvel");
  EXPECT_TRUE(window->MediaLoaded()) << window->MediaStatusText().toStdString();
  EXPECT_TRUE(FFLoader().Loaded(kEncoderLibraries));
  EXPECT_TRUE(window->close());
}

// A worker's main-thread call is run by Qt's event loop, without the test
// pumping the queue itself.
TEST(MainWindowTest, WorkerCallsRunOnTheQtMainThread) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    CallInMainThread([&] { ranOnMain = IsMainThread(); });
    done = true;
  });
  QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
  worker.join();
  EXPECT_TRUE(ranOnMain);
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  // The window tests need no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  quorvel::QtMainThreadHost mainThread;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
