#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "media/runtime/CancelToken.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

// A host that wakes the test's main thread through a condition variable, as
// the application's queued invocation would.
class TTestHost : public TMainThreadHost {
public:
  void WakeUp() override {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FWoken = true;
      ++FWakeUps;
    }
    FCond.notify_all();
  }
  void PumpEvents() override { ++FPumps; }

  // Waits for a wake-up (or a short while: the caller re-checks its state).
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FCond.wait_for(lock, std::chrono::milliseconds(20), [&] { return FWoken; });
    FWoken = false;
  }
  int WakeUps() {
    std::lock_guard<std::mutex> lock(FLock);
    return FWakeUps;
  }
  std::atomic<int> FPumps{0};

private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FWoken = false;
  int FWakeUps = 0;
};

class MainThreadTest : public ::testing::Test {
protected:
  void SetUp() override { InstallMainThread(&FHost); }
  void TearDown() override { UninstallMainThread(); }

  // The main thread's wait for workers: it keeps running their calls.
  void PumpUntil(const std::atomic<bool>& ADone) {
    while (!ADone) {
      FHost.Wait();
      ProcessMainThreadCalls();
    }
    ProcessMainThreadCalls();
  }

  // Runs AWork on a worker while the main thread pumps, then joins it.
  template <class F>
  void RunWorker(F AWork) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      AWork();
      done = true;
      FHost.WakeUp();
    });
    PumpUntil(done);
    worker.join();
  }

  TTestHost FHost;
};

TEST_F(MainThreadTest, CallFromWorkerRunsOnMainThread) {
  const std::thread::id mainID = std::this_thread::get_id();
  EXPECT_TRUE(IsMainThread());
  std::thread::id ranOn;
  bool workerIsMain = true;
  bool callIsMain = false;
  RunWorker([&] {
    workerIsMain = IsMainThread();
    CallInMainThread([&] {
      ranOn = std::this_thread::get_id();
      callIsMain = IsMainThread();
    });
  });
  EXPECT_FALSE(workerIsMain);
  EXPECT_TRUE(callIsMain);
  EXPECT_EQ(ranOn, mainID);
  EXPECT_GE(FHost.WakeUps(), 1);
}

TEST_F(MainThreadTest, CallOnMainThreadRunsAtOnce) {
  bool ran = false;
  CallInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(FHost.WakeUps(), 0);
}

TEST(MainThreadNoneTest, WithoutMainThreadCallsRunOnCaller) {
  EXPECT_FALSE(IsMainThread());
  std::thread worker([] {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id ranOn;
    CallInMainThread([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, self);
  });
  worker.join();
}

struct TCustomError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST_F(MainThreadTest, ExceptionIsRethrownInCaller) {
  std::string caught;
  RunWorker([&] {
    try {
      CallInMainThread([] { throw TCustomError("from the main thread"); });
    } catch (const TCustomError& e) {
      caught = e.what();
    }
  });
  EXPECT_EQ(caught, "from the main thread");
  // The main thread goes on serving calls after a failing one.
  int value = 0;
  RunWorker([&] { CallInMainThread([&] { value = 7; }); });
  EXPECT_EQ(value, 7);
}

TEST_F(MainThreadTest, ExceptionOnMainThreadPropagatesDirectly) {
  EXPECT_THROW(CallInMainThread([] { throw TCustomError("direct"); }), TCustomError);
}

TEST_F(MainThreadTest, NestedCallsAndReentrantPumping) {
  std::vector<std::string> trace;  // written on the main thread only
  RunWorker([&] {
    CallInMainThread([&] {
      trace.push_back("outer");
      // A call made from a call already on the main thread runs at once.
      CallInMainThread([&] { trace.push_back("inner"); });
      // A queued call that waits for another worker's call pumps meanwhile.
      std::atomic<bool> done{false};
      std::thread second([&] {
        CallInMainThread([&] { trace.push_back("second worker"); });
        done = true;
        FHost.WakeUp();
      });
      while (!done) {
        FHost.Wait();
        ProcessMessages();
      }
      second.join();
      trace.push_back("outer end");
    });
  });
  EXPECT_EQ(trace, (std::vector<std::string>{"outer", "inner", "second worker", "outer end"}));
  EXPECT_GT(FHost.FPumps.load(), 0);
}

TEST_F(MainThreadTest, ManyThreadsKeepTheirOrder) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::vector<std::vector<int>> seen(kThreads);  // written on the main thread only
  long total = 0;                                 // no atomics: only the main thread touches it
  std::atomic<int> finished{0};
  std::atomic<bool> allDone{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        CallInMainThread([&, t, i] {
          ASSERT_TRUE(IsMainThread());
          seen[t].push_back(i);
          ++total;
        });
      }
      if (++finished == kThreads) allDone = true;
      FHost.WakeUp();
    });
  }
  PumpUntil(allDone);
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(total, long{kThreads} * kCalls);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST_F(MainThreadTest, ProcessMessagesRunsCallsThenPumpsEvents) {
  ProcessMessages();
  EXPECT_EQ(FHost.FPumps.load(), 1);
  // Off the main thread it neither runs calls nor pumps.
  std::thread([] { ProcessMessages(); }).join();
  EXPECT_EQ(FHost.FPumps.load(), 1);
}

// The main thread's wait for a worker runs the worker's queued call in both
// modes; the host's events only when asked to.
TEST_F(MainThreadTest, WaitServingRunsQueuedCallsAndPumpsOnlyWhenAsked) {
  const struct {
    TMainThreadWait Mode;
    bool Pumps;
  } cases[] = {{TMainThreadWait::QueuedCalls, false}, {TMainThreadWait::QueuedCallsAndEvents, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Pumps ? "calls and events" : "calls only");
    FHost.FPumps = 0;
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;  // guarded by lock
    bool callRan = false;  // main thread only
    std::thread worker([&] {
      // Ends only after the main thread ran its call: a wait that did not
      // serve it would never return.
      CallInMainThread([&] { callRan = IsMainThread(); });
      std::lock_guard<std::mutex> guard(lock);
      done = true;
      changed.notify_all();
    });
    {
      std::unique_lock<std::mutex> guard(lock);
      WaitServing(guard, changed, [&] { return done; }, c.Mode);
      EXPECT_TRUE(guard.owns_lock());
    }
    worker.join();
    EXPECT_TRUE(callRan);
    EXPECT_EQ(FHost.FPumps.load() > 0, c.Pumps);
  }
}

// A wait whose request may be missed repeats it (AStep) until it is taken
// up, on the main thread and on any other.
TEST_F(MainThreadTest, WaitServingRepeatsItsStep) {
  for (const bool onMain : {true, false}) {
    SCOPED_TRACE(onMain ? "main thread" : "other thread");
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<int> requests{0};
    bool done = false;  // guarded by lock
    std::thread answerer([&] {
      // Answers only the third request.
      while (requests.load() < 3) std::this_thread::yield();
      std::lock_guard<std::mutex> guard(lock);
      done = true;
      changed.notify_all();
    });
    const auto wait = [&] {
      std::unique_lock<std::mutex> guard(lock);
      WaitServing(guard, changed, [&] { return done; }, TMainThreadWait::QueuedCalls, [&] { ++requests; });
    };
    if (onMain)
      wait();
    else
      std::thread(wait).join();
    answerer.join();
    EXPECT_GE(requests.load(), 3);
  }
}

TEST(CancelTokenTest, CancelWakesSleepersAndResetWithdraws) {
  TCancelToken token;
  EXPECT_FALSE(token.Cancelled());
  EXPECT_FALSE(token.WaitFor(std::chrono::milliseconds(1)));
  std::atomic<bool> woke{false};
  std::thread sleeper([&] { woke = token.WaitFor(std::chrono::hours(1)); });
  token.Cancel();
  sleeper.join();  // an hour's sleep ends with the request
  EXPECT_TRUE(woke);
  EXPECT_TRUE(token.Cancelled());
  EXPECT_TRUE(token.WaitFor(std::chrono::hours(1)));  // raised already: no sleep at all
  token.Reset();
  EXPECT_FALSE(token.Cancelled());
  EXPECT_FALSE(token.WaitFor(std::chrono::milliseconds(1)));
}

TEST(MainThreadUninstallTest, QueuedCallRunsWhenMainThreadGoes) {
  InstallMainThread(nullptr);
  std::atomic<bool> queued{false};
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    queued = true;
    CallInMainThread([&] { ran = true; });
  });
  // The main thread never pumps; uninstalling must still release the worker.
  while (!queued) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  UninstallMainThread();
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(IsMainThread());
}

TEST(MainThreadUninstallTest, CallsRacingWithUninstallNeverHang) {
  for (int round = 0; round < 50; ++round) {
    InstallMainThread(nullptr);
    std::atomic<int> ran{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
      workers.emplace_back([&] {
        for (int i = 0; i < 20; ++i) CallInMainThread([&] { ++ran; });
      });
    ProcessMainThreadCalls();
    UninstallMainThread();
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(ran.load(), 80);
  }
}

TEST(MainThreadUninstallTest, AfterUninstallCallsRunOnCaller) {
  InstallMainThread(nullptr);
  UninstallMainThread();
  std::thread([] {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id ranOn;
    CallInMainThread([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, self);
  }).join();
}

}  // namespace
}  // namespace quorvel
