// Real runs of tasks: order and threads of the events, parallel workers,
// the calling-thread mode, stop, pause, refusals while working, and a
// stop/restart stress run.
#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "EncoderTestSupport.h"
#include "media/runtime/MainThread.h"

namespace quorvel {
namespace {

// What the encoder reported. Filled from delivery threads, workers and the
// main thread alike.
struct TEvents {
  std::mutex Lock;
  std::vector<TTerminateInfo> Ends;          // Lock
  std::vector<std::thread::id> EndThreads;   // Lock
  std::vector<int> HookTasks;                // Lock: task of every audio block, in order
  std::vector<std::thread::id> ProgressThreads;  // Lock
  std::vector<TProgressInfo> Progress;       // Lock: every report, in order
  bool FinalSeen = false;                    // Lock
  bool OverlapSeen = false;                  // Lock: an event started while another ran
  int InEvent = 0;                           // Lock

  std::vector<int> EndIndexes() {
    std::lock_guard<std::mutex> lock(Lock);
    std::vector<int> r;
    for (const auto& e : Ends) r.push_back(e.TaskIndex);
    return r;
  }
  size_t HookCount() {
    std::lock_guard<std::mutex> lock(Lock);
    return HookTasks.size();
  }
};

class EncoderRunTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEncoderLibraries(); }
  void SetUp() override {
    InstallMainThread(nullptr);
    mainThread = std::this_thread::get_id();
    dir = test::ScratchDir();
    input = test::MakeWav(dir, "in.wav", 1.0);
    encoder.OnTerminate = [this](TObject* ASender, const TTerminateInfo& AInfo) {
      EXPECT_EQ(ASender, &encoder);
      {
        std::lock_guard<std::mutex> lock(events.Lock);
        if (events.InEvent++ > 0) events.OverlapSeen = true;
      }
      // Long enough for a concurrent delivery to show.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      std::lock_guard<std::mutex> lock(events.Lock);
      --events.InEvent;
      events.Ends.push_back(AInfo);
      events.EndThreads.push_back(std::this_thread::get_id());
      if (AInfo.TaskIndex == -1) events.FinalSeen = true;
    };
    encoder.OnProgress = [this](TObject*, const TProgressInfo* AInfo) {
      EXPECT_GE(AInfo->TaskIndex, 0);
      std::lock_guard<std::mutex> lock(events.Lock);
      events.ProgressThreads.push_back(std::this_thread::get_id());
      events.Progress.push_back(*AInfo);
    };
    encoder.OnAudioHook = [this](TObject*, int ATaskIndex, int64_t, uint8_t*, int, int, int, AVSampleFormat) {
      {
        std::lock_guard<std::mutex> lock(events.Lock);
        events.HookTasks.push_back(ATaskIndex);
      }
      // Slows every block down so that parallel tasks interleave and a
      // stop or pause lands while a task runs.
      std::this_thread::sleep_for(std::chrono::milliseconds(hookDelayMs));
    };
    encoder.SetProgressInterval(100);
  }
  void TearDown() override {
    if (encoder.Working() && !encoder.Terminated()) encoder.Stop(true);
    encoder.ClearTasks();
    UninstallMainThread();
  }

  void AddTasks(int ACount, const std::string& AInput) {
    for (int i = 0; i < ACount; ++i) {
      const int t = encoder.AddTask(AInput);
      ASSERT_GE(t, 0) << encoder.LastErrMsg();
      TOutputOptions o;
      o.AudioCodec = "libmp3lame";
      o.AudioHook = true;
      ASSERT_TRUE(encoder.SetOutputFile(t, dir + "/out" + std::to_string(serial++) + ".mp3", &o))
          << encoder.LastErrMsg();
    }
  }
  void AddTasks(int ACount) { AddTasks(ACount, input); }

  // Pumps the main thread until APredicate holds; false after a generous
  // guard time (a hang, not a speed limit).
  bool PumpUntil(const std::function<bool()>& APredicate) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!APredicate()) {
      if (std::chrono::steady_clock::now() > guard) return false;
      ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  bool WaitFinal() {
    return PumpUntil([this] {
      std::lock_guard<std::mutex> lock(events.Lock);
      return events.FinalSeen;
    });
  }
  // Every task ended exactly once, the final event came last and once.
  void ExpectOneEndPerTask(int ACount) {
    std::vector<int> ends = events.EndIndexes();
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back(), -1);
    ends.pop_back();
    std::sort(ends.begin(), ends.end());
    std::vector<int> expected(static_cast<size_t>(ACount));
    for (int i = 0; i < ACount; ++i) expected[static_cast<size_t>(i)] = i;
    EXPECT_EQ(ends, expected);
  }

  std::thread::id mainThread;
  std::string dir, input;
  int serial = 0;
  int hookDelayMs = 1;
  TEvents events;
  TFFEncoder encoder;
};

TEST_F(EncoderRunTest, OneWorkerRunsTasksInTurnAndEndsWithTheFinalEvent) {
  AddTasks(3);
  encoder.Start(1);
  ASSERT_TRUE(WaitFinal());
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{0, 1, 2, -1}));
  std::lock_guard<std::mutex> lock(events.Lock);
  for (const auto& e : events.Ends) {
    EXPECT_TRUE(e.Finished) << e.TaskIndex << " " << e.ExceptionMsg;
    EXPECT_FALSE(e.Exception) << e.ExceptionMsg;
  }
  for (const auto& id : events.EndThreads) EXPECT_NE(id, mainThread);
  EXPECT_FALSE(events.OverlapSeen);
  ASSERT_FALSE(events.ProgressThreads.empty());
  for (const auto& id : events.ProgressThreads) EXPECT_EQ(id, mainThread);
  EXPECT_TRUE(std::is_sorted(events.HookTasks.begin(), events.HookTasks.end()));
  // Each task reports its own conversion: the output position grows to
  // the input's second, with the bytes written, and the task's last report
  // says it is the last.
  const auto& p = events.Progress;
  EXPECT_TRUE(std::is_sorted(p.begin(), p.end(), [](const auto& a, const auto& b) { return a.TaskIndex < b.TaskIndex; }));
  for (int task = 0; task < 3; ++task) {
    SCOPED_TRACE(task);
    std::vector<TProgressInfo> own;
    std::copy_if(p.begin(), p.end(), std::back_inserter(own), [&](const auto& i) { return i.TaskIndex == task; });
    ASSERT_FALSE(own.empty());
    for (size_t i = 1; i < own.size(); ++i) {
      EXPECT_GE(own[i].CurrentDuration, own[i - 1].CurrentDuration);
      EXPECT_GE(own[i].CurrentSize, own[i - 1].CurrentSize);
    }
    const TProgressInfo& last = own.back();
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(std::count_if(own.begin(), own.end(), [](const auto& i) { return i.FileIndex == -1; }), 1);
    EXPECT_EQ(last.TotalDuration, 1000000);
    EXPECT_NEAR(static_cast<double>(last.CurrentDuration) / 1e6, 1.0, 0.05);
    EXPECT_GT(last.CurrentSize, 10000);  // 1 s of MP3 at its default rate
    EXPECT_GT(last.BitRate, 0.0f);
  }
  EXPECT_TRUE(encoder.Terminated());
  EXPECT_TRUE(encoder.Working());
}

TEST_F(EncoderRunTest, TwoWorkersRunTwoTasksAtOnceAndTheThirdAfterOneEnds) {
  AddTasks(3);
  encoder.Start(2);
  ASSERT_TRUE(WaitFinal());
  ExpectOneEndPerTask(3);
  std::lock_guard<std::mutex> lock(events.Lock);
  const auto& h = events.HookTasks;
  const auto first = [&](int t) { return std::find(h.begin(), h.end(), t) - h.begin(); };
  const auto last = [&](int t) { return h.rend() - std::find(h.rbegin(), h.rend(), t) - 1; };
  // Both first tasks were converting before either had finished...
  EXPECT_LT(first(1), last(0));
  EXPECT_LT(first(0), last(1));
  // ...and the third began only after one of them had ended.
  EXPECT_GT(first(2), std::min(last(0), last(1)));
  EXPECT_FALSE(events.OverlapSeen);
}

TEST_F(EncoderRunTest, ZeroThreadsRunsEverythingOnTheCallingThread) {
  AddTasks(3);
  encoder.Start(0);
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{0, 1, 2, -1}));
  std::lock_guard<std::mutex> lock(events.Lock);
  for (const auto& id : events.EndThreads) EXPECT_EQ(id, mainThread);
  for (const auto& e : events.Ends) EXPECT_TRUE(e.Finished);
  EXPECT_TRUE(encoder.Terminated());
}

TEST_F(EncoderRunTest, StopWithOneRunningAndTwoPendingEndsEveryTaskOnce) {
  hookDelayMs = 5;
  AddTasks(3);
  encoder.Start(1);
  ASSERT_TRUE(PumpUntil([this] { return events.HookCount() > 3; }));
  encoder.Stop(true);
  // Stop(true) returns after the final event.
  ExpectOneEndPerTask(3);
  std::lock_guard<std::mutex> lock(events.Lock);
  for (const auto& e : events.Ends) EXPECT_EQ(e.Finished, e.TaskIndex == -1) << e.TaskIndex;
  EXPECT_FALSE(events.OverlapSeen);
}

// Open descriptors of this process.
size_t OpenFiles() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

// A queued task holds no open file and has made no output: its input is
// opened and its output created when it starts, so a stopped run leaves
// nothing for the tasks that never started, and an output that could not
// be made is still refused when it is set.
TEST_F(EncoderRunTest, AQueuedTaskHoldsNoFileAndMakesItsOutputWhenItStarts) {
  namespace fs = std::filesystem;
  const size_t before = OpenFiles();
  hookDelayMs = 5;
  AddTasks(30);
  // At most the task being configured keeps its input open.
  EXPECT_LE(OpenFiles(), before + 1);
  for (int i = 0; i < 30; ++i) EXPECT_FALSE(fs::exists(dir + "/out" + std::to_string(i) + ".mp3")) << i;
  const int bad = encoder.AddTask(input);
  ASSERT_GE(bad, 0) << encoder.LastErrMsg();
  EXPECT_FALSE(encoder.SetOutputFile(bad, dir + "/no/such/folder/out.mp3"));
  EXPECT_EQ(encoder.LastErrMsg(), dir + "/no/such/folder/out.mp3: No such file or directory");
  encoder.RemoveTask(bad);

  encoder.Start(2);
  ASSERT_TRUE(PumpUntil([this] { return events.EndIndexes().size() >= 3; }));
  encoder.Stop(true);
  ExpectOneEndPerTask(30);
  // Tasks start in list order: the outputs are those of a first few tasks,
  // every finished one among them, and none of the rest.
  int made = 0;
  while (made < 30 && fs::exists(dir + "/out" + std::to_string(made) + ".mp3")) ++made;
  EXPECT_LT(made, 30);
  for (int i = made; i < 30; ++i) EXPECT_FALSE(fs::exists(dir + "/out" + std::to_string(i) + ".mp3")) << i;
  {
    std::lock_guard<std::mutex> lock(events.Lock);
    for (const auto& e : events.Ends)
      if (e.Finished) EXPECT_LT(e.TaskIndex, made);
  }
  encoder.ClearTasks();
  EXPECT_LE(OpenFiles(), before);
}

TEST_F(EncoderRunTest, PauseHoldsTheRunAndResumeFinishesIt) {
  hookDelayMs = 3;
  AddTasks(1);
  encoder.Start(1);
  ASSERT_TRUE(PumpUntil([this] { return events.HookCount() > 2; }));
  encoder.Pause();
  EXPECT_TRUE(encoder.Paused());
  ASSERT_TRUE(PumpUntil([this] { return encoder.Tasks(0)->Paused(); }));
  const size_t held = events.HookCount();
  for (int i = 0; i < 20; ++i) {
    ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(events.HookCount(), held);
  encoder.Resume();
  EXPECT_FALSE(encoder.Paused());
  ASSERT_TRUE(WaitFinal());
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{0, -1}));
  std::lock_guard<std::mutex> lock(events.Lock);
  EXPECT_TRUE(events.Ends[0].Finished);
}

TEST_F(EncoderRunTest, ChangesAreRefusedWhileWorkingAndAfterTheRunUntilCleared) {
  AddTasks(2);
  hookDelayMs = 3;
  encoder.Start(1);
  const std::pair<const char*, std::function<void()>> refused[] = {
      {"Cannot AddTask while working.", [&] { encoder.AddTask(input); }},
      {"Cannot AddInputFile while working.", [&] { encoder.AddInputFile(0, input); }},
      {"Cannot SetOutputFile while working.", [&] { encoder.SetOutputFile(0, dir + "/x.mp3"); }},
      {"Cannot SetOutputFile while working.", [&] { encoder.SetOutputStream(0, this, "x"); }},
      {"Cannot Exchange while working.", [&] { encoder.Exchange(0, 1); }},
      {"Cannot RemoveTask while working.", [&] { encoder.RemoveTask(0); }},
      {"Cannot StartTask while working.", [&] { encoder.Start(1); }},
      {"Cannot ClearTasks while working.", [&] { encoder.ClearTasks(); }},
  };
  const auto expectRefusals = [&](bool AClearRefused) {
    for (const auto& [text, call] : refused) {
      if (!AClearRefused && std::string(text).find("ClearTasks") != std::string::npos) continue;
      try {
        call();
        ADD_FAILURE() << "not refused: " << text;
      } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), text);
      }
    }
  };
  expectRefusals(true);
  ASSERT_TRUE(WaitFinal());
  expectRefusals(false);
  encoder.ClearTasks();
  EXPECT_FALSE(encoder.Working());
  EXPECT_EQ(encoder.TasksCount(), 0);
  EXPECT_GE(encoder.AddTask(input), 0);
}

TEST_F(EncoderRunTest, AnEmptyListEndsTheRunAtOnce) {
  for (const int threads : {1, 0}) {
    events.FinalSeen = false;
    encoder.Start(threads);
    ASSERT_TRUE(WaitFinal());
    EXPECT_TRUE(encoder.Terminated());
    encoder.ClearTasks();
  }
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{-1, -1}));
}

TEST_F(EncoderRunTest, ATaskThatCannotStartReportsItsErrorAndTheRunGoesOn) {
  ASSERT_EQ(encoder.AddTask(input), 0);  // no output
  AddTasks(1);
  encoder.Start(1);
  ASSERT_TRUE(WaitFinal());
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{0, 1, -1}));
  std::lock_guard<std::mutex> lock(events.Lock);
  EXPECT_TRUE(events.Ends[0].Exception);
  EXPECT_FALSE(events.Ends[0].Finished);
  EXPECT_EQ(events.Ends[0].ExceptionMsg, "At least one output file must be specified");
  EXPECT_TRUE(events.Ends[1].Finished);
}

// Twenty short tasks on two workers, stopped at varying points and started
// again: never a hang, never a lost or doubled event.
TEST_F(EncoderRunTest, StoppingAndRestartingNeverLosesOrDoublesAnEvent) {
  const std::string shortInput = test::MakeWav(dir, "short.wav", 0.2);
  hookDelayMs = 0;
  for (int round = 0; round < 4; ++round) {
    {
      std::lock_guard<std::mutex> lock(events.Lock);
      events.Ends.clear();
      events.FinalSeen = false;
    }
    AddTasks(20, shortInput);
    encoder.Start(2);
    if (round < 3) {
      const size_t after = static_cast<size_t>(round * 6);
      ASSERT_TRUE(PumpUntil([&] { return events.EndIndexes().size() >= after; }));
      encoder.Stop(true);
    }
    ASSERT_TRUE(WaitFinal()) << round;
    ExpectOneEndPerTask(20);
    encoder.ClearTasks();
  }
}

// --- races between the owner's thread and the workers ---

// The owner pauses, resumes and changes the properties while workers end
// tasks and start the next ones on their own threads. (A ThreadSanitizer
// build reports any unguarded access to what both sides use.)
TEST_F(EncoderRunTest, OwnerCallsDuringARunNeverRaceTheWorkersStartingTasks) {
  const std::string shortInput = test::MakeWav(dir, "short.wav", 0.2);
  hookDelayMs = 0;
  AddTasks(8, shortInput);
  encoder.Start(1);
  int round = 0;
  ASSERT_TRUE(PumpUntil([&] {
    ++round;
    encoder.Pause();
    encoder.SetProgressInterval(100 + round % 7);
    encoder.ThreadPriority = round % 2 ? TThreadPriority::tpLower : TThreadPriority::tpNormal;
    encoder.Resume();
    std::lock_guard<std::mutex> lock(events.Lock);
    return events.FinalSeen;
  }));
  EXPECT_EQ(events.EndIndexes(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, -1}));
  std::lock_guard<std::mutex> lock(events.Lock);
  for (const auto& e : events.Ends) EXPECT_TRUE(e.Finished) << e.TaskIndex << " " << e.ExceptionMsg;
}

// Destroying the encoder in the middle of a run: its hooks and previews
// stop being delivered, and nothing the workers still test is changed
// under them.
TEST_F(EncoderRunTest, DestroyingTheEncoderDuringARunDetachesItsHooksSafely) {
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    std::atomic<int> hooked{0};
    std::atomic<int> ended{0};
    {
      auto doomed = std::make_unique<TFFEncoder>();
      doomed->OnAudioHook = [&](TObject*, int, int64_t, uint8_t*, int, int, int, AVSampleFormat) { ++hooked; };
      doomed->OnPreviewBitmap = [](TObject*, const TPreviewInfo&) {};
      doomed->OnTerminate = [&](TObject*, const TTerminateInfo&) { ++ended; };
      for (int i = 0; i < 3; ++i) {
        const int t = doomed->AddTask(input);
        ASSERT_GE(t, 0) << doomed->LastErrMsg();
        TOutputOptions o;
        o.AudioCodec = "libmp3lame";
        o.AudioHook = true;
        ASSERT_TRUE(doomed->SetOutputFile(t, dir + "/doomed" + std::to_string(serial++) + ".mp3", &o));
      }
      doomed->Start(threads);
      ASSERT_TRUE(PumpUntil([&] { return hooked.load() > 5; }));
    }
    // Every task and the run reported their end before the encoder went.
    EXPECT_EQ(ended.load(), 4);
  }
}

}  // namespace
}  // namespace quorvel
