// The task queue: starting tasks on workers or on the calling thread,
// pausing, resuming and stopping them, and turning the jobs' callbacks into
// the encoder's events.
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "media/encoder/FFEncode.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"

namespace quorvel {

namespace {

TTerminateInfo EndInfo(int ATask, bool AFinished, bool AException, const std::string& AMessage) {
  TTerminateInfo info;
  info.TaskIndex = ATask;
  info.Finished = AFinished;
  info.Exception = AException;
  info.ExceptionMsg = AMessage;
  return info;
}

// The run's final event.
TTerminateInfo FinalInfo() { return EndInfo(-1, true, false, std::string()); }

}  // namespace

namespace {

// How deep the calling thread is inside events of an encoder. A wait for
// the run's end from inside one of them could wait for itself.
thread_local int tEventDepth = 0;

class TEventScope {
public:
  TEventScope() { ++tEventDepth; }
  ~TEventScope() { --tEventDepth; }
  TEventScope(const TEventScope&) = delete;
  TEventScope& operator=(const TEventScope&) = delete;
};

}  // namespace

TCustomEncoder::TCustomEncoder() : FDecoder(std::make_unique<TFFDecoder>(this)) {}

TCustomEncoder::~TCustomEncoder() {
  // Hooks and previews are not delivered any more; a run still going ends
  // and reports its end before the tasks go away. The handlers themselves
  // are not touched while workers may still test them: they go with this
  // object, after every worker has been joined.
  FEventsDetached = true;
  try {
    if (FWorking && !FTerminated) Stop(true);
    WaitForDeliveries();
    FTasks.Clear();
  } catch (const std::exception& e) {
    FFLogger().Log(this, llError, e.what());
  }
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  for (TDelivery& delivery : FDeliveries)
    if (delivery.Thread.joinable()) {
      if (delivery.Thread.get_id() == std::this_thread::get_id())
        delivery.Thread.detach();
      else
        delivery.Thread.join();
    }
}

// --- libraries ---

bool TCustomEncoder::AVLibLoaded() const { return quorvel::AVLibLoaded(kLibraries); }

bool TCustomEncoder::LoadAVLib(const TPathFileName& APath) {
  return quorvel::LoadAVLib(kLibraries, APath, FLastErrMsg);
}

void TCustomEncoder::UnloadAVLib() { quorvel::UnloadAVLib(kLibraries); }

// --- properties ---

void TCustomEncoder::SetPreview(bool AValue) {
  FPreview = AValue;
  std::lock_guard<std::mutex> lock(FPauseLock);
  FRunPreview = FPreview;
  FTasks.SetPreview(FPreview, FPreviewBitmap);
}

void TCustomEncoder::SetPreviewBitmap(bool AValue) {
  FPreviewBitmap = AValue;
  std::lock_guard<std::mutex> lock(FPauseLock);
  FRunPreviewBitmap = FPreviewBitmap;
  FTasks.SetPreview(FPreview, FPreviewBitmap);
}

// --- the list ---

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckNotWorking("Exchange");
  FTasks.Exchange(ATaskIndex1, ATaskIndex2);
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckNotWorking("RemoveTask");
  if (FConfigured == &FTasks.Task(ATaskIndex)) FConfigured = nullptr;
  FTasks.Delete(ATaskIndex);
}

void TCustomEncoder::ClearTasks() {
  if (FWorking && !FTerminated) throw Exception("Cannot ClearTasks while working.");
  // The final event may still be on its way; the tasks outlive it.
  WaitForDeliveries();
  FConfigured = nullptr;
  FTasks.Clear();
  FLastErrMsg.clear();
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    FCompleteTasks = 0;
    FCurrentTask = -1;
    FPendingTasks = 0;
    FThreadMode = false;
    FInlineRunActive = false;
    FFinalDecided = false;
    FEndedJobs.clear();
  }
  FTerminated = false;
  FWorking = false;
  FPaused = false;
}

// --- the run ---

void TCustomEncoder::Start(int AThreadCount) {
  CheckNotWorking("StartTask");
  WaitForDeliveries();  // a previous run's threads, long done
  // Every task is built again when it starts; the one being configured
  // gives its files back now.
  ReleaseConfigured();
  const bool threadMode = AThreadCount > 0;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    FCompleteTasks = 0;
    FCurrentTask = 0;
    FPendingTasks = FTasks.Count();
    FThreadMode = threadMode;
    FInlineRunActive = !threadMode;
    FFinalDecided = false;
    // Workers start the later tasks: they use this run's copy, never the
    // properties the owner may be changing meanwhile.
    FRunProgressInterval = FProgressInterval;
    FRunThreadPriority = ThreadPriority;
    FEndedJobs.clear();
  }
  {
    std::lock_guard<std::mutex> lock(FPauseLock);
    FRunPreview = FPreview;
    FRunPreviewBitmap = FPreviewBitmap;
  }
  {
    std::lock_guard<std::mutex> lock(FDeliveryLock);
    FRunEnded = false;
  }
  FTerminated = false;
  FRunStop.Reset();
  FWorking = true;
  FPaused = false;

  if (threadMode) {
    if (FTasks.Count() == 0) {
      // Nothing to run: the run has ended, and says so like any other, so
      // that nobody waits for a final event that never comes.
      std::lock_guard<std::mutex> lock(FTerminateLock);
      FFinalDecided = true;
      // Terminated before the final event is queued: its receiver may
      // clear the tasks at once.
      FTerminated = true;
      QueueDelivery(FinalInfo());
      return;
    }
    for (int started = 0; started < AThreadCount; ++started)
      if (!StartNextTask()) break;
    return;
  }

  while (StartNextTask()) {
  }
  bool deliverFinal = false;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    FInlineRunActive = false;
    if (!FFinalDecided && FCompleteTasks >= FTasks.Count()) FFinalDecided = deliverFinal = true;
  }
  // The final event comes after the last job's run has returned, so that
  // the handler may clear the tasks.
  if (deliverFinal) DeliverInline(FinalInfo());
}

bool TCustomEncoder::StartNextTask() {
  std::unique_lock<TStartLock> start(FStartLock);
  for (;;) {
    int index = 0;
    bool threadMode = false;
    int interval = 0;
    TThreadPriority priority = TThreadPriority::tpNormal;
    {
      std::lock_guard<std::mutex> lock(FTerminateLock);
      if (FPendingTasks <= 0) return false;
      --FPendingTasks;
      index = FCurrentTask;
      ++FCurrentTask;
      threadMode = FThreadMode;
      interval = FRunProgressInterval;
      priority = FRunThreadPriority;
    }
    ReapEndedJobs();
    TEncoderTask& task = FTasks.Task(index);
    // The job is made now: its inputs are opened and its outputs created
    // only when it runs.
    std::string error;
    std::unique_ptr<TFFmpeg> built;
    bool declined = false;
    if (task.Outputs.empty()) {
      error = "At least one output file must be specified";
    } else if (task.Inputs.empty()) {
      error = "At least one input file must be specified";
    } else {
      try {
        if (OnTaskStarting) OnTaskStarting(this, index);
        built = BuildJob(task, index, true, error);
      } catch (const ETaskDeclined&) {
        declined = true;
      } catch (const std::exception& e) {
        error = e.what();
      }
      // Its opening gave up on the run's stop: it ends as a task that
      // never started, not as a failure.
      if (!built && FRunStop.Cancelled()) declined = true;
    }
    if (declined) {
      // Ends as a task that never started, as after a stop.
      TaskEnded(EndInfo(index, false, false, std::string()), false);
      continue;
    }
    if (!built) {
      // Ends here with its reason; the loop, not a nested call, goes on
      // with the next, so that a long run of such tasks costs no stack.
      TaskEnded(EndInfo(index, false, true, error), false);
      continue;
    }
    TFFmpeg* job = built.get();
    {
      std::lock_guard<std::mutex> lock(FPauseLock);
      task.Job = std::move(built);
    }
    job->ApplyVerbose();
    job->ReportInterval = static_cast<int64_t>(interval) * 1000;
    if (!threadMode) {
      // The run takes as long as the conversion: Stop must not wait for this
      // lock meanwhile, and deals with this job by FInlineJob instead.
      FInlineJob = job;
      start.unlock();
      job->StartConvert(false);
      start.lock();
      FInlineJob = nullptr;
      return true;
    }
    // A job that cannot start has ended already (its termination ran here).
    TConvertThread* worker = job->StartConvert(true, priority);
    if (worker) {
      // A run started during a pause begins paused.
      {
        std::lock_guard<std::mutex> lock(FPauseLock);
        if (FPaused) job->Pause();
      }
      worker->Resume();
    }
    return true;
  }
}

void TCustomEncoder::ReapEndedJobs() {
  std::vector<TEncoderTask*> done;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    for (auto it = FEndedJobs.begin(); it != FEndedJobs.end();) {
      if ((*it)->RunReturned) {
        done.push_back(*it);
        it = FEndedJobs.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (TEncoderTask* task : done) {
    std::unique_ptr<TFFmpeg> job;
    {
      std::lock_guard<std::mutex> lock(FPauseLock);
      job = std::move(task->Job);
    }
    // Joins a thread that has only its exit left.
    job.reset();
  }
}

void TCustomEncoder::Pause() {
  std::lock_guard<std::mutex> lock(FPauseLock);
  if (!FWorking || FPaused) return;
  FTasks.PauseAll();
  FPaused = true;
}

void TCustomEncoder::Resume() {
  std::lock_guard<std::mutex> lock(FPauseLock);
  if (!FWorking || !FPaused) return;
  FTasks.ResumeAll();
  FPaused = false;
}

void TCustomEncoder::TStartLock::unlock() {
  FMutex.unlock();
  {
    // Under the waiter's lock: a LockServing between its try and its sleep
    // cannot miss this.
    std::lock_guard<std::mutex> lock(FFreedLock);
  }
  FFreed.notify_all();
}

void TCustomEncoder::TStartLock::LockServing() {
  std::unique_lock<std::mutex> lock(FFreedLock);
  WaitServing(lock, FFreed, [this] { return FMutex.try_lock(); }, TMainThreadWait::QueuedCalls);
}

void TCustomEncoder::Stop(bool AWaitForStop) {
  const bool wait = AWaitForStop && tEventDepth == 0;
  int started = 0, count = 0;  // tasks [started, count) never started
  {
    // From here on no task starts; each one is either running (told to
    // stop), never started (its end is reported below) or ended already.
    // A task being started holds the lock while its input is opened, and
    // the lines that logs wait for the main thread: the main thread serves
    // those calls (no window event) until it has the lock. The run's stop
    // comes first: an opening under way gives up instead of running into
    // its read limit.
    if (FWorking) FRunStop.Cancel();
    std::unique_lock<TStartLock> start(FStartLock, std::defer_lock);
    if (!IsMainThread()) {
      start.lock();
    } else {
      FStartLock.LockServing();
      start = std::unique_lock<TStartLock>(FStartLock, std::adopt_lock);
    }
    {
      std::lock_guard<std::mutex> lock(FTerminateLock);
      FPendingTasks = 0;
      if (FWorking) {
        started = std::max(FCurrentTask, 0);
        count = FTasks.Count();
        FCurrentTask = count;
      }
    }
    if (!FWorking) return;
    for (int i = 0; i < started; ++i) {
      TFFmpeg* job = FTasks.Items(i);
      if (job && job->Converting()) job->Stop(false);
    }
  }
  // Tasks that never started end without a job, in list order.
  for (int i = started; i < count; ++i) TaskEnded(EndInfo(i, false, false, std::string()), false);
  if (wait) WaitForRunEnd();
}

// --- the end of tasks and of the run ---

void TCustomEncoder::DoTerminate(TFFmpeg* AJob) {
  AJob->DetachDecoders();
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    FEndedJobs.push_back(&FTasks.Task(AJob->TaskIndex()));
  }
  TaskEnded(TTerminateInfo{AJob->TaskIndex(), AJob->Finished(), AJob->FatalException(), AJob->FatalMessage(),
                           AJob->MeasuredLoudness(), AJob->LimitedFrames(), AJob->DeepestCutDb(),
                           AJob->OutputWriteError()},
            true);
}

void TCustomEncoder::TaskEnded(const TTerminateInfo& AInfo, bool AStartNext) {
  if (OnTaskEnding) OnTaskEnding(this, AInfo);
  bool inline_ = false, startNext = false, finalInline = false;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    const bool threaded = FThreadMode || !FWorking;
    if (threaded)
      QueueDelivery(AInfo);
    else
      inline_ = true;
    ++FCompleteTasks;
    if (FPendingTasks > 0) {
      startNext = FThreadMode && AStartNext;
    } else if (FCompleteTasks >= FTasks.Count() && !FFinalDecided) {
      if (threaded) {
        FFinalDecided = true;
        FTerminated = true;  // before the final event, as above
        QueueDelivery(FinalInfo());
      } else if (!FInlineRunActive) {
        // Start(0) has returned already: a task stopped from elsewhere was
        // the last to end.
        FFinalDecided = finalInline = true;
      }
    }
  }
  if (inline_) DeliverInline(AInfo);
  if (startNext) StartNextTask();
  if (finalInline) DeliverInline(FinalInfo());
}

void TCustomEncoder::QueueDelivery(const TTerminateInfo& AInfo) {
  std::vector<std::thread> served;
  {
    std::lock_guard<std::mutex> lock(FDeliveryLock);
    // Threads whose delivery returned have only their exit left: joined
    // here, a long run does not keep one finished thread per task.
    for (auto it = FDeliveries.begin(); it != FDeliveries.end();) {
      if (it->Ticket < FServedTicket && it->Thread.get_id() != std::this_thread::get_id()) {
        served.push_back(std::move(it->Thread));
        it = FDeliveries.erase(it);
      } else {
        ++it;
      }
    }
    const uint64_t ticket = FNextTicket++;
    FDeliveries.push_back(TDelivery{ticket, std::thread([this, AInfo, ticket] { Deliver(AInfo, ticket); })});
  }
  for (std::thread& thread : served) thread.join();
}

void TCustomEncoder::Deliver(const TTerminateInfo& AInfo, uint64_t ATicket) {
  {
    // One after another, in the order the tasks ended.
    std::unique_lock<std::mutex> lock(FDeliveryLock);
    FDeliveryChanged.wait(lock, [&] { return FServedTicket == ATicket; });
  }
  CallTerminate(AInfo);
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  ++FServedTicket;
  if (AInfo.TaskIndex < 0) FRunEnded = true;
  FDeliveryChanged.notify_all();
}

void TCustomEncoder::DeliverInline(const TTerminateInfo& AInfo) {
  CallTerminate(AInfo);
  if (AInfo.TaskIndex < 0) {
    FTerminated = true;
    std::lock_guard<std::mutex> lock(FDeliveryLock);
    FRunEnded = true;
    FDeliveryChanged.notify_all();
  }
}

void TCustomEncoder::CallTerminate(const TTerminateInfo& AInfo) {
  if (!OnTerminate) return;
  TEventScope scope;
  try {
    OnTerminate(this, AInfo);
  } catch (const std::exception& e) {
    // Nobody above a delivery thread could take it.
    FFLogger().Log(this, llError, Format("Error occurs Terminate event: %s", e.what()));
  }
}

void TCustomEncoder::WaitForDeliveries() {
  std::vector<std::thread> done;
  {
    std::unique_lock<std::mutex> lock(FDeliveryLock);
    const std::thread::id self = std::this_thread::get_id();
    bool onDelivery = false;
    for (const TDelivery& delivery : FDeliveries) onDelivery = onDelivery || delivery.Thread.get_id() == self;
    // A delivery thread waits for those before its own, which have returned.
    if (!onDelivery)
      WaitServing(lock, FDeliveryChanged, [this] { return FServedTicket == FNextTicket; },
                  TMainThreadWait::QueuedCallsAndEvents);
    for (auto it = FDeliveries.begin(); it != FDeliveries.end();) {
      if (it->Thread.get_id() == self) {
        ++it;
        continue;
      }
      done.push_back(std::move(it->Thread));
      it = FDeliveries.erase(it);
    }
  }
  // Served threads only have their exit left.
  for (std::thread& thread : done) thread.join();
}

void TCustomEncoder::WaitForRunEnd() {
  // Nothing to repeat: a job that Start(0) was just beginning when Stop
  // came was made under the run's stop (FRunStop), raised before Stop
  // looked at the jobs, so its run sees the request however late it starts.
  std::unique_lock<std::mutex> lock(FDeliveryLock);
  WaitServing(lock, FDeliveryChanged, [this] { return FRunEnded; }, TMainThreadWait::QueuedCallsAndEvents);
}

// --- the jobs' callbacks ---

void TCustomEncoder::DoProgress(TFFmpeg* AJob, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                                float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration,
                                int64_t ATotalDuration) {
  if (!OnProgress) return;
  std::lock_guard<std::mutex> lock(FProgressLock);
  FProgressInfo = TProgressInfo{AJob->TaskIndex(), AFileIndex,    AFrameNumber,     AFPS,          AQuality,
                                ABitRate,           ACurrentSize, ACurrentDuration, ATotalDuration};
  auto call = [this] {
    TEventScope scope;
    OnProgress(this, &FProgressInfo);
  };
  if (TriggerEventInMainThread)
    CallInMainThread(call);
  else
    call();
}

void TCustomEncoder::DoPreviewBitmap(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS) {
  if (FEventsDetached || !OnPreviewBitmap) return;
  std::lock_guard<std::mutex> lock(FPreviewLock);
  FPreviewInfo = TPreviewInfo{AJob->TaskIndex(), &ABitmap, AFrameNumber, APTS};
  auto call = [this] {
    TEventScope scope;
    OnPreviewBitmap(this, FPreviewInfo);
  };
  if (TriggerEventInMainThread)
    CallInMainThread(call);
  else
    call();
}

void TCustomEncoder::DoVideoInputHook(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                      bool& AUpdate, bool& AStopHook) {
  if (FEventsDetached || !OnVideoInputHook) return;
  std::lock_guard<std::mutex> lock(FVideoHookLock);
  FVideoHookInfo = THookInfo{AJob->TaskIndex(), &ABitmap, AFrameNumber, APTS, AUpdate, AStopHook};
  TEventScope scope;
  OnVideoInputHook(this, &FVideoHookInfo);
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

void TCustomEncoder::DoVideoOutputHook(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                       bool& AUpdate, bool& AStopHook) {
  if (FEventsDetached || !OnVideoOutputHook) return;
  std::lock_guard<std::mutex> lock(FVideoHookLock);
  FVideoHookInfo = THookInfo{AJob->TaskIndex(), &ABitmap, AFrameNumber, APTS, AUpdate, AStopHook};
  TEventScope scope;
  OnVideoOutputHook(this, &FVideoHookInfo);
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

}  // namespace quorvel
