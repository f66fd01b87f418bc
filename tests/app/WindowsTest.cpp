// The windows as the program creates them, and pictures of them for review.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "AppTestSupport.h"
#include "app/shell/AboutForm.h"
#include "app/shell/AppWindows.h"
#include "app/report/ErrorForm.h"
#include "app/report/LogForm.h"
#include "app/shell/MainForm.h"
#include "app/conversion/ProfilePanel.h"
#include "app/sources/SourceList.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

TEST(AppWindowsTest, StartUpShowsTheMainWindowWithoutErrors) {
  test::ResetUserState();
  test::TRecordingDesktop desktop;
  TAppWindows windows({test::MakeProgramFolder(), {}, &desktop});
  windows.Main().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&windows.Main()));
  EXPECT_EQ(windows.Main().windowTitle(), "Quorvel");
  EXPECT_TRUE(windows.Log().Lines().isEmpty()) << windows.Log().Lines().join('\n').toStdString();
  EXPECT_FALSE(windows.Main().isMaximized());
  EXPECT_TRUE(windows.Main().windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(windows.Main().close());
}

// A worker's main-thread call is run by Qt's event loop, without the test
// pumping the queue itself.
TEST(AppWindowsTest, WorkerCallsRunOnTheQtMainThread) {
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

// While a worker holds the codec lock, the main thread waiting for it runs
// the worker's queued media call (the worker waits for it and would never
// let go otherwise) but no window event: a click queued meanwhile comes only
// after the main thread got the lock, not in the middle of its codec open.
TEST(AppWindowsTest, CodecLockWaitRunsMediaCallsButNoClick) {
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec)) << FFLoader().LastErrMsg();
  QPushButton button("Convert");
  button.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
  std::atomic<bool> clicked{false};
  QObject::connect(&button, &QPushButton::clicked, [&] { clicked = true; });

  std::mutex lock;
  std::condition_variable changed;
  bool holding = false;  // guarded by lock
  std::atomic<bool> mediaCallRan{false};
  std::atomic<bool> clickedBeforeMediaCall{false};
  std::thread worker([&] {
    TCodecLock codec;
    {
      std::lock_guard<std::mutex> guard(lock);
      holding = true;
    }
    changed.notify_all();
    // A line of the codec being opened, delivered on the main thread.
    CallInMainThread([&] {
      clickedBeforeMediaCall = clicked.load();
      mediaCallRan = true;
    });
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return holding; });
  }
  // A click queued while the worker holds the lock.
  QMetaObject::invokeMethod(&button, &QPushButton::click, Qt::QueuedConnection);
  bool clickedInsideTheWait;
  {
    TCodecLock codec;  // waits for the worker
    EXPECT_TRUE(codec.Ok());
    clickedInsideTheWait = clicked.load();
  }
  worker.join();
  EXPECT_TRUE(mediaCallRan);
  EXPECT_FALSE(clickedBeforeMediaCall);
  EXPECT_FALSE(clickedInsideTheWait);
  // Nothing is lost: the click comes with the next round of the event loop.
  QTRY_VERIFY_WITH_TIMEOUT(clicked.load(), 10000);
}

void SaveShot(QWidget& AWidget, const QString& AName) {
  AWidget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&AWidget));
  test::SaveScreenshot(AWidget, AName);
}

TEST(Screenshots, WritesPicturesOfTheWindows) {
  test::ResetUserState();
  test::TRecordingDesktop desktop;
  TEndpoints e;
  e.HomePage = "https://quorvel.example";
  e.SupportAddress = "support@quorvel.example";
  TAppWindows windows({test::MakeProgramFolder(), e, &desktop});
  TMainForm& main = windows.Main();
  SaveShot(main, "main-window");

  // The list as it will look with rows (rows added by hand here).
  ASSERT_TRUE(main.PrepareSourceList());
  for (const char* name : {"interview.mp4", "concert.mkv", "voice memo.wav"}) {
    TAudioFile f;
    f.SourceTitleExt = name;
    f.DestinationTitle = QString(name).section('.', 0, 0);
    f.TimeEnd = 222'000'000;  // about 3.4 MB at 128 kbit/s
    main.SourceList().Rows().Append(f);
  }
  main.SourceList().Repaint();
  main.SourceList().Grid()->selectRow(1);
  SaveShot(main, "main-window-list");

  windows.Reporter().AddLogLine("-> Profile set loaded");
  windows.Reporter().AddLogLine("-> File added: interview.mp4");
  windows.Reporter().AddLogLine("-> Conversion successfully done.");
  SaveShot(windows.Log(), "events-log");
  windows.Log().hide();

  windows.Error().lblErrorText->setText("Cannot set output file: Permission denied");
  SaveShot(windows.Error(), "error-dialog");
  windows.Error().hide();

  SaveShot(windows.About(), "about");
  windows.About().hide();
  main.close();
}

}  // namespace
}  // namespace quorvel
