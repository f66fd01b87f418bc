// The job as its owner drives it: starting with and without a worker,
// stopping, pausing, terminating exactly once, and jobs that cannot start.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "RunTestSupport.h"
#include "media/runtime/InterruptCB.h"

namespace quorvel {
namespace {

using test::DecodeAudio;
using test::MakeTone;
using test::TDecodedAudio;

// Counts terminations and lets the test wait for the first progress
// report and for the end.
struct TRunWatch {
  std::mutex Lock;
  std::condition_variable Changed;
  int Terminations = 0;      // guarded by Lock
  int Reports = 0;           // guarded by Lock
  std::thread::id TerminateThread;  // guarded by Lock

  void Attach(TCustomFFmpeg& AJob) {
    AJob.ReportInterval = 0;
    AJob.OnProgress = [this](TObject*, int, int, int, float, float, int64_t, int64_t, int64_t) {
      std::lock_guard<std::mutex> lock(Lock);
      ++Reports;
      Changed.notify_all();
    };
    AJob.OnTerminate = [this](TObject*) {
      std::lock_guard<std::mutex> lock(Lock);
      ++Terminations;
      TerminateThread = std::this_thread::get_id();
      Changed.notify_all();
    };
  }
  void WaitForReports(int ACount) {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [&] { return Reports >= ACount || Terminations > 0; });
  }
  void WaitForEnd() {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [&] { return Terminations > 0; });
  }
  int TerminationCount() {
    std::lock_guard<std::mutex> lock(Lock);
    return Terminations;
  }
};

class RunControlTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override {
    dir = test::ScratchDir();
    out = dir + "/out.mp3";
    input = MakeTone(dir, "long.wav", 44100, 2, 20.0, 0.5);
  }
  // A 20 s conversion to MP3, long enough to be stopped or paused.
  std::unique_ptr<TCustomFFmpeg> LongJob() {
    auto job = std::make_unique<TCustomFFmpeg>(2);
    EXPECT_TRUE(job->open_input_file(input)) << job->LastErrMsg();
    job->SetExtOption("acodec", "libmp3lame");
    EXPECT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
    watch.Attach(*job);
    return job;
  }

  std::string dir, out, input;
  TRunWatch watch;
};

TEST(RunControlCreateTest, TheSlotCountMustBeOneTo512) {
  test::LoadEngineLibraries();
  EXPECT_THROW(TCustomFFmpeg(0), Exception);
  EXPECT_THROW(TCustomFFmpeg(513), Exception);
  EXPECT_NO_THROW(TCustomFFmpeg(512));
}

TEST_F(RunControlTest, AJobWithoutOutputOrInputEndsAtOnceAndOnlyOnce) {
  struct Case {
    bool input, output;
    const char* message;
  } cases[] = {{true, false, "At least one output file must be specified"},
               {false, true, "At least one input file must be specified"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TRunWatch w;
    auto job = std::make_unique<TCustomFFmpeg>(2);
    if (c.input) {
      ASSERT_TRUE(job->open_input_file(input));
    }
    if (c.output) {
      ASSERT_EQ(job->open_output_file(out, false), 1);
    }
    w.Attach(*job);
    EXPECT_EQ(job->StartConvert(true), nullptr);
    EXPECT_TRUE(job->FatalException());
    EXPECT_EQ(job->FatalMessage(), c.message);
    EXPECT_TRUE(job->Terminated());
    EXPECT_EQ(w.TerminationCount(), 1);
    EXPECT_EQ(job->StartConvert(true), nullptr);
    job->stop_or_terminate(true);
    job.reset();
    EXPECT_EQ(w.TerminationCount(), 1);
    // The output made for nothing is gone.
    EXPECT_FALSE(test::FileExists(out));
  }
}

TEST_F(RunControlTest, AWorkerRunsTheWholeJobOnceResumed) {
  auto job = LongJob();
  TConvertThread* thread = job->StartConvert(true);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(job->Converting());
  // Held until resumed: nothing is read yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(watch.TerminationCount(), 0);
  thread->Resume();
  watch.WaitForEnd();
  EXPECT_NE(watch.TerminateThread, std::this_thread::get_id());
  job->Stop(true);
  EXPECT_TRUE(job->Finished());
  EXPECT_FALSE(job->FatalException()) << job->FatalMessage();
  EXPECT_EQ(job->StartConvert(true), nullptr);
  job.reset();
  EXPECT_EQ(watch.TerminationCount(), 1);
  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok);
  EXPECT_NEAR(back.Seconds, 20.0, 0.03);
}

TEST_F(RunControlTest, StopEndsTheRunWithAValidShorterOutput) {
  auto job = LongJob();
  job->StartConvert(true)->Resume();
  watch.WaitForReports(3);
  job->Stop(true);
  EXPECT_FALSE(job->Converting());
  EXPECT_TRUE(job->Terminated());
  EXPECT_FALSE(job->Finished());
  EXPECT_FALSE(job->FatalException()) << job->FatalMessage();
  EXPECT_EQ(watch.TerminationCount(), 1);
  job->stop_or_terminate(true);
  job.reset();
  EXPECT_EQ(watch.TerminationCount(), 1);
  // The trailer was written: the file reads back to its end.
  const TDecodedAudio back = DecodeAudio(out);
  ASSERT_TRUE(back.Ok) << back.Error;
  EXPECT_GT(back.Seconds, 0.0);
  EXPECT_LT(back.Seconds, 20.0);
}

TEST_F(RunControlTest, PauseHoldsTheOutputStillUntilResume) {
  auto job = LongJob();
  job->StartConvert(true)->Resume();
  watch.WaitForReports(2);
  job->Pause();
  while (!job->Paused() && watch.TerminationCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(job->Paused());
  const int64_t held = test::FileSizeOf(out);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(test::FileSizeOf(out), held);
  EXPECT_TRUE(job->Converting());
  job->Resume();
  watch.WaitForEnd();
  job->Stop(true);
  EXPECT_TRUE(job->Finished());
  EXPECT_GT(test::FileSizeOf(out), held);
}

TEST_F(RunControlTest, StopWhilePausedResumesAndEnds) {
  auto job = LongJob();
  job->StartConvert(true)->Resume();
  watch.WaitForReports(1);
  job->Pause();
  while (!job->Paused() && watch.TerminationCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(job->Paused());
  job->Stop(true);
  EXPECT_FALSE(job->Paused());
  EXPECT_FALSE(job->Finished());
  EXPECT_EQ(watch.TerminationCount(), 1);
  job.reset();
  ASSERT_TRUE(DecodeAudio(out).Ok);
}

TEST_F(RunControlTest, StopOrTerminateEndsAJobThatNeverRanOnAThreadOfItsOwn) {
  auto job = LongJob();
  job->stop_or_terminate(true);
  EXPECT_TRUE(job->Terminated());
  EXPECT_EQ(watch.TerminationCount(), 1);
  EXPECT_NE(watch.TerminateThread, std::this_thread::get_id());
  job->stop_or_terminate(true);
  EXPECT_EQ(job->StartConvert(true), nullptr);
  job.reset();
  EXPECT_EQ(watch.TerminationCount(), 1);
}

TEST_F(RunControlTest, StopsAndTerminationsFromSeveralThreadsEndTheJobOnce) {
  // A running job, and one that never ran (ended by a termination thread
  // that the callers race to make and to wait for).
  for (const bool started : {true, false}) {
    SCOPED_TRACE(started ? "running" : "never started");
    TRunWatch runWatch;
    auto job = std::make_unique<TCustomFFmpeg>(2);
    ASSERT_TRUE(job->open_input_file(input)) << job->LastErrMsg();
    job->SetExtOption("acodec", "libmp3lame");
    ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
    runWatch.Attach(*job);
    if (started) {
      job->StartConvert(true)->Resume();
      runWatch.WaitForReports(1);
    }
    std::vector<std::thread> stoppers;
    for (int i = 0; i < 4; ++i)
      stoppers.emplace_back([&job, i, started] {
        if (i % 2 && started)
          job->Stop(true);
        else
          job->stop_or_terminate(true);
      });
    for (std::thread& t : stoppers) t.join();
    EXPECT_EQ(runWatch.TerminationCount(), 1);
    job.reset();
    EXPECT_EQ(runWatch.TerminationCount(), 1);
  }
}

TEST_F(RunControlTest, AStopRequestMadeAsTheRunStartsIsNotLost) {
  // The request comes before the start has cleared the job's flags (here:
  // before the start at all, the latest such moment being the same); the
  // run still stops at its first round and ends unfinished.
  for (const bool worker : {true, false}) {
    SCOPED_TRACE(worker ? "worker" : "caller's thread");
    TRunWatch runWatch;
    auto job = std::make_unique<TCustomFFmpeg>(2);
    ASSERT_TRUE(job->open_input_file(input)) << job->LastErrMsg();
    job->SetExtOption("acodec", "libmp3lame");
    ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
    runWatch.Attach(*job);
    job->Stop(false);
    if (worker) {
      TConvertThread* thread = job->StartConvert(true);
      ASSERT_NE(thread, nullptr);
      thread->Resume();
      runWatch.WaitForEnd();
    } else {
      EXPECT_EQ(job->StartConvert(false), nullptr);
    }
    job->Stop(true);
    EXPECT_FALSE(job->Finished());
    EXPECT_FALSE(job->FatalException()) << job->FatalMessage();
    EXPECT_EQ(runWatch.TerminationCount(), 1);
    job.reset();
    // The 20 s input was not converted to its end.
    const TDecodedAudio back = DecodeAudio(out);
    if (back.Ok) {
      EXPECT_LT(back.Seconds, 10.0);
    }
  }
}

TEST_F(RunControlTest, DestroyingARunningJobStopsItFirst) {
  auto job = LongJob();
  job->StartConvert(true)->Resume();
  watch.WaitForReports(1);
  job.reset();
  EXPECT_EQ(watch.TerminationCount(), 1);
  ASSERT_TRUE(DecodeAudio(out).Ok);
}

TEST_F(RunControlTest, ARunOnTheCallersThreadStopsWhenAskedFromAnother) {
  auto job = LongJob();
  std::thread stopper([&] {
    watch.WaitForReports(2);
    job->Stop(false);
  });
  EXPECT_EQ(job->StartConvert(false), nullptr);
  stopper.join();
  EXPECT_FALSE(job->Finished());
  EXPECT_EQ(watch.TerminationCount(), 1);
  ASSERT_TRUE(DecodeAudio(out).Ok);
}

TEST_F(RunControlTest, TheStopCallbackAnswersOnlyForItsOwnJobWhenStopped) {
  auto job = LongJob();
  auto other = std::make_unique<TCustomFFmpeg>(1);
  EXPECT_FALSE(job->broken_cb(job.get()));
  job->Stop(false);
  EXPECT_TRUE(job->broken_cb(job.get()));
  EXPECT_FALSE(job->broken_cb(other.get()));
}

}  // namespace
}  // namespace quorvel
