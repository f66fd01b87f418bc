// The task queue: starting tasks on workers or on the calling thread,
// pausing, resuming and stopping them, and turning the jobs' callbacks into
// the encoder's events.
#include <utility>

#include "media/encoder/FFEncode.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"

namespace quorvel {

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
  // and reports its end before the tasks go away.
  OnAudioHook = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnPreviewBitmap = nullptr;
  try {
    if (FWorking && !FTerminated) Stop(true);
    WaitForDeliveries();
    FTasks.Clear();
  } catch (const std::exception& e) {
    FFLogger().Log(this, llError, e.what());
  }
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  for (std::thread& thread : FDeliveries)
    if (thread.joinable()) {
      if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
      else
        thread.join();
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
  FTasks.SetPreview(FPreview, FPreviewBitmap);
}

void TCustomEncoder::SetPreviewBitmap(bool AValue) {
  FPreviewBitmap = AValue;
  FTasks.SetPreview(FPreview, FPreviewBitmap);
}

// --- the list ---

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckNotWorking("Exchange");
  FTasks.Exchange(ATaskIndex1, ATaskIndex2);
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckNotWorking("RemoveTask");
  FTasks.Delete(ATaskIndex);
}

void TCustomEncoder::ClearTasks() {
  if (FWorking && !FTerminated) throw Exception("Cannot ClearTasks while working.");
  // The final event may still be on its way; the tasks outlive it.
  WaitForDeliveries();
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
  }
  FTerminated = false;
  FWorking = false;
  FPaused = false;
}

// --- the run ---

void TCustomEncoder::Start(int AThreadCount) {
  CheckNotWorking("StartTask");
  WaitForDeliveries();  // a previous run's threads, long done
  const bool threadMode = AThreadCount > 0;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    FCompleteTasks = 0;
    FCurrentTask = 0;
    FPendingTasks = FTasks.Count();
    FThreadMode = threadMode;
    FInlineRunActive = !threadMode;
    FFinalDecided = false;
  }
  {
    std::lock_guard<std::mutex> lock(FDeliveryLock);
    FRunEnded = false;
  }
  FTerminated = false;
  FWorking = true;
  FPaused = false;

  if (threadMode) {
    if (FTasks.Count() == 0) {
      // Nothing to run: the run has ended, and says so like any other, so
      // that nobody waits for a final event that never comes.
      std::lock_guard<std::mutex> lock(FTerminateLock);
      FFinalDecided = true;
      QueueDelivery(TTerminateInfo{-1, true, false, std::string()});
      FTerminated = true;
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
  if (deliverFinal) DeliverInline(TTerminateInfo{-1, true, false, std::string()});
}

bool TCustomEncoder::StartNextTask() {
  std::unique_lock<std::recursive_mutex> start(FStartLock);
  TFFmpeg* job = nullptr;
  bool threadMode = false;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    if (FPendingTasks <= 0) return false;
    --FPendingTasks;
    job = FTasks.Items(FCurrentTask);
    ++FCurrentTask;
    threadMode = FThreadMode;
  }
  job->ApplyVerbose();
  job->ReportInterval = static_cast<int64_t>(FProgressInterval) * 1000;
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
  TConvertThread* worker = job->StartConvert(true, ThreadPriority);
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

void TCustomEncoder::Stop(bool AWaitForStop) {
  const bool wait = AWaitForStop && tEventDepth == 0;
  {
    // From here on no task starts; each one is either running (told to
    // stop), never started (told to report its end) or ended already.
    std::lock_guard<std::recursive_mutex> start(FStartLock);
    {
      std::lock_guard<std::mutex> lock(FTerminateLock);
      FPendingTasks = 0;
    }
    if (!FWorking) return;
    for (int i = 0; i < FTasks.Count(); ++i) {
      TFFmpeg* job = FTasks.Items(i);
      if (job == FInlineJob.load()) {
        // Being run by Start(0) on another thread: it may not have begun
        // yet, so it must not be terminated from here (see WaitForRunEnd).
        if (job->Converting()) job->Stop(false);
      } else if (job->Converting())
        job->Stop(false);
      else if (!job->Terminated())
        job->stop_or_terminate(false);
    }
  }
  if (!wait) return;
  // The waits happen outside the start lock: a worker that ends meanwhile
  // passes through it.
  for (int i = 0; i < FTasks.Count(); ++i)
    if (FTasks.Items(i) != FInlineJob.load()) FTasks.Items(i)->stop_or_terminate(true);
  WaitForRunEnd();
}

// --- the end of tasks and of the run ---

void TCustomEncoder::DoTerminate(TFFmpeg* AJob) {
  AJob->DetachDecoders();
  TTerminateInfo info{GetTaskIndex(AJob), AJob->Finished(), AJob->FatalException(), AJob->FatalMessage()};
  bool inline_ = false, startNext = false, finalInline = false;
  {
    std::lock_guard<std::mutex> lock(FTerminateLock);
    const bool threaded = FThreadMode || !FWorking;
    if (threaded)
      QueueDelivery(info);
    else
      inline_ = true;
    ++FCompleteTasks;
    if (FPendingTasks > 0) {
      startNext = FThreadMode;
    } else if (FCompleteTasks >= FTasks.Count() && !FFinalDecided) {
      if (threaded) {
        FFinalDecided = true;
        QueueDelivery(TTerminateInfo{-1, true, false, std::string()});
        FTerminated = true;
      } else if (!FInlineRunActive) {
        // Start(0) has returned already: a task stopped from elsewhere was
        // the last to end.
        FFinalDecided = finalInline = true;
      }
    }
  }
  if (inline_) DeliverInline(info);
  if (startNext) StartNextTask();
  if (finalInline) DeliverInline(TTerminateInfo{-1, true, false, std::string()});
}

void TCustomEncoder::QueueDelivery(const TTerminateInfo& AInfo) {
  std::lock_guard<std::mutex> lock(FDeliveryLock);
  const uint64_t ticket = FNextTicket++;
  FDeliveries.emplace_back([this, AInfo, ticket] { Deliver(AInfo, ticket); });
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
    for (const std::thread& thread : FDeliveries) onDelivery = onDelivery || thread.get_id() == self;
    // A delivery thread waits for those before its own, which have returned.
    if (!onDelivery)
      WaitServing(lock, FDeliveryChanged, [this] { return FServedTicket == FNextTicket; },
                  TMainThreadWait::QueuedCallsAndEvents);
    for (auto it = FDeliveries.begin(); it != FDeliveries.end();) {
      if (it->get_id() == self) {
        ++it;
        continue;
      }
      done.push_back(std::move(*it));
      it = FDeliveries.erase(it);
    }
  }
  // Served threads only have their exit left.
  for (std::thread& thread : done) thread.join();
}

void TCustomEncoder::WaitForRunEnd() {
  // A job that Start(0) was just beginning resets its stop request when it
  // starts converting: repeat the request until the run has ended.
  std::unique_lock<std::mutex> lock(FDeliveryLock);
  WaitServing(lock, FDeliveryChanged, [this] { return FRunEnded; }, TMainThreadWait::QueuedCallsAndEvents, [this] {
    TFFmpeg* job = FInlineJob.load();
    if (job && job->Converting()) job->Stop(false);
  });
}

// --- the jobs' callbacks ---

void TCustomEncoder::DoProgress(TFFmpeg* AJob, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                                float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration,
                                int64_t ATotalDuration) {
  if (!OnProgress) return;
  std::lock_guard<std::mutex> lock(FProgressLock);
  FProgressInfo = TProgressInfo{GetTaskIndex(AJob), AFileIndex,    AFrameNumber,     AFPS,          AQuality,
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
  if (!OnPreviewBitmap) return;
  std::lock_guard<std::mutex> lock(FPreviewLock);
  FPreviewInfo = TPreviewInfo{GetTaskIndex(AJob), &ABitmap, AFrameNumber, APTS};
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
  if (!OnVideoInputHook) return;
  std::lock_guard<std::mutex> lock(FVideoHookLock);
  FVideoHookInfo = THookInfo{GetTaskIndex(AJob), &ABitmap, AFrameNumber, APTS, AUpdate, AStopHook};
  TEventScope scope;
  OnVideoInputHook(this, &FVideoHookInfo);
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

void TCustomEncoder::DoVideoOutputHook(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                       bool& AUpdate, bool& AStopHook) {
  if (!OnVideoOutputHook) return;
  std::lock_guard<std::mutex> lock(FVideoHookLock);
  FVideoHookInfo = THookInfo{GetTaskIndex(AJob), &ABitmap, AFrameNumber, APTS, AUpdate, AStopHook};
  TEventScope scope;
  OnVideoOutputHook(this, &FVideoHookInfo);
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

}  // namespace quorvel
