#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/runtime/CodecLock.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

// Collects the log collector's lines on the calling thread.
class CodecLockTest : public ::testing::Test {
protected:
  void SetUp() override {
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetLogLevel(llDebug);
    FFLogger().SetOnLog([this](TObject*, uint32_t, TLogLevel level, const std::string& msg) {
      std::lock_guard lock(FMutex);
      FLines.push_back({level, msg});
    });
  }
  void TearDown() override {
    FFLogger().SetOnLog(nullptr);
    FFLoader().Unload(kAllLibraries);
  }
  std::vector<std::pair<TLogLevel, std::string>> Lines() {
    std::lock_guard lock(FMutex);
    return FLines;
  }
  void ClearLines() {
    std::lock_guard lock(FMutex);
    FLines.clear();
  }
  std::mutex FMutex;
  std::vector<std::pair<TLogLevel, std::string>> FLines;
};

TEST_F(CodecLockTest, ManagerWithoutMutex) {
  void* mutex = nullptr;
  EXPECT_EQ(CodecLockManager(&mutex, lopDestroy), 0);
  EXPECT_EQ(CodecLockManager(&mutex, lopObtain), -1);
  EXPECT_EQ(CodecLockManager(&mutex, lopRelease), -1);
  EXPECT_EQ(CodecLockManager(&mutex, 7), -1);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::make_pair(llError, std::string("error, codec mutex not available.")));
  EXPECT_EQ(lines[1], std::make_pair(llError, std::string("error, codec mutex not available.")));
  EXPECT_EQ(lines[2], std::make_pair(llError, std::string("error, invalid codec mutex operation 7.")));
}

TEST_F(CodecLockTest, LifecycleLogsEachStep) {
  void* mutex = nullptr;
  ASSERT_EQ(CodecLockManager(&mutex, lopCreate), 0);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(CodecLockManager(&mutex, lopCreate), -1);  // the pointer already holds one
  EXPECT_EQ(CodecLockManager(&mutex, lopObtain), 0);
  EXPECT_EQ(CodecLockManager(&mutex, lopRelease), 0);
  EXPECT_EQ(CodecLockManager(&mutex, lopDestroy), 0);
  EXPECT_EQ(mutex, nullptr);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  const std::string n = lines[0].second.substr(lines[0].second.find('['));  // "[N]."
  EXPECT_EQ(lines[0], std::make_pair(llDebug, "create codec mutex " + n));
  EXPECT_EQ(lines[1], std::make_pair(llError, "error, codec mutex " + n.substr(0, n.size() - 1) + " already exist."));
  EXPECT_EQ(lines[2], std::make_pair(llDebug, "obtain codec mutex " + n));
  EXPECT_EQ(lines[3], std::make_pair(llDebug, "release codec mutex " + n));
  EXPECT_EQ(lines[4], std::make_pair(llDebug, "destory codec mutex " + n));
}

TEST_F(CodecLockTest, LoadingAvcodecCreatesTheMutexOnce) {
  TCodecLock before;  // nothing loaded yet: no mutex to hold
  EXPECT_FALSE(before.Ok());
  ClearLines();

  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec)) << FFLoader().LastErrMsg();
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));  // the hook runs again, harmlessly
  int creates = 0;
  for (const auto& [level, msg] : Lines()) {
    EXPECT_NE(level, llError) << msg;
    if (msg.rfind("create codec mutex", 0) == 0) ++creates;
  }
  EXPECT_EQ(creates, 1);
  {
    TCodecLock outer;
    EXPECT_TRUE(outer.Ok());
    TCodecLock inner;  // the same thread may nest
    EXPECT_TRUE(inner.Ok());
  }
  FFLoader().Unload(TLibrary::avCodec);
  TCodecLock after;
  EXPECT_FALSE(after.Ok());
}

TEST_F(CodecLockTest, SerialisesCodecOpensAcrossThreads) {
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  FFLogger().SetLogLevel(llInfo);
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        TCodecLock lock;
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::yield();
        inside.fetch_sub(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
}

TEST_F(CodecLockTest, OnlyTheHolderReleases) {
  void* mutex = nullptr;
  ASSERT_EQ(CodecLockManager(&mutex, lopCreate), 0);
  ASSERT_EQ(CodecLockManager(&mutex, lopObtain), 0);
  const std::string n = Lines()[0].second.substr(Lines()[0].second.find('['));  // "[N]."
  ClearLines();
  // Another thread's release is refused and leaves the hold as it was.
  int foreign = 0;
  std::thread([&] { foreign = CodecLockManager(&mutex, lopRelease); }).join();
  EXPECT_EQ(foreign, -1);
  // Still held: another thread cannot get in until the holder lets go.
  std::atomic<bool> entered{false};
  std::thread waiter([&] {
    CodecLockManager(&mutex, lopObtain);
    entered = true;
    CodecLockManager(&mutex, lopRelease);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);
  EXPECT_EQ(CodecLockManager(&mutex, lopRelease), 0);
  waiter.join();
  EXPECT_TRUE(entered);
  // Releasing what nobody holds is refused as well.
  EXPECT_EQ(CodecLockManager(&mutex, lopRelease), -1);
  EXPECT_EQ(CodecLockManager(&mutex, lopDestroy), 0);

  const auto lines = Lines();
  const std::string refused =
      "error, could not release codec mutex " + n.substr(0, n.size() - 1) + ": Operation not permitted.";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], std::make_pair(llError, refused));
  EXPECT_EQ(lines[lines.size() - 2], std::make_pair(llError, refused));
}

// Unloading avcodec destroys the mutex while a worker still holds it, and
// loading it again creates a new one: the worker's hold stays valid to its
// end (the sanitizers see any use of freed memory), and the new mutex is
// free for others meanwhile.
TEST_F(CodecLockTest, DestroyAndCreateNeverFreeAHeldMutex) {
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  FFLogger().SetLogLevel(llInfo);
  std::mutex m;
  std::condition_variable cv;
  bool holding = false, letGo = false;
  std::thread worker([&] {
    TCodecLock lock;
    EXPECT_TRUE(lock.Ok());
    std::unique_lock<std::mutex> guard(m);
    holding = true;
    cv.notify_all();
    cv.wait(guard, [&] { return letGo; });
  });
  {
    std::unique_lock<std::mutex> guard(m);
    cv.wait(guard, [&] { return holding; });
  }
  FFLoader().Unload(TLibrary::avCodec);
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  {
    TCodecLock fresh;  // the new mutex, not the one the worker holds
    EXPECT_TRUE(fresh.Ok());
  }
  {
    std::lock_guard<std::mutex> guard(m);
    letGo = true;
  }
  cv.notify_all();
  worker.join();
  for (const auto& line : Lines()) EXPECT_NE(line.first, llError) << line.second;
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A worker opening a codec logs while it holds the codec mutex, and its log
// line waits for the main thread; the main thread wanting the mutex at the
// same time must keep serving such calls instead of blocking.
TEST_F(CodecLockTest, MainThreadWaitingForTheMutexServesWorkerCalls) {
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  InstallMainThread(nullptr);
  FFLogger().SetTriggerEventInMainThread(true);
  FFLogger().SetLogLevel(llInfo);

  std::atomic<bool> holding{false};
  std::thread worker([&] {
    TCodecLock lock;
    holding = true;
    FFLogger().Log(nullptr, llInfo, std::string("opening a codec"));  // runs on the main thread
  });
  while (!holding) std::this_thread::yield();
  {
    TCodecLock lock;
    EXPECT_TRUE(lock.Ok());
  }
  worker.join();
  UninstallMainThread();
  bool delivered = false;
  for (const auto& line : Lines()) delivered |= line.second == "opening a codec";
  EXPECT_TRUE(delivered);
}

}  // namespace
}  // namespace quorvel
