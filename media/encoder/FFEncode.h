// The encoder task manager: the component through which the application
// queues conversion tasks described by option records, runs them on worker
// threads (or one after another on the calling thread), pauses, resumes or
// stops them, and hears of their progress and their end.
//
// Threads. Every operation is the owner's (the main thread's). Progress and
// preview events come on the main thread (TriggerEventInMainThread) through
// CallInMainThread; the hook events on the job's worker. OnTerminate never
// runs on a job's worker: in thread mode each event has its own short-lived
// delivery thread, and the deliveries are strictly one after another in the
// order the tasks ended, the final one (TaskIndex -1) last. With Start(0)
// they run on the thread that called Start. Assign the events while the
// encoder is not working.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/loudness/Loudness.h"
#include "media/encoder/EncoderOptions.h"
#include "media/encoder/FFmpegTask.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFBaseComponent.h"
#include "media/runtime/FFLoad.h"

namespace quorvel {

struct TProgressInfo {
  int TaskIndex = 0;
  int FileIndex = 0;  // the input being read; -1 in a job's last report
  int FrameNumber = 0;
  int FPS = 0;
  float Quality = 0;
  float BitRate = 0;  // kbit/s so far
  int64_t CurrentSize = 0;
  int64_t CurrentDuration = 0;  // µs of output reached
  int64_t TotalDuration = 0;    // µs expected
};

// Thrown by OnTaskStarting: the task is not to start, and is no failure of
// its own (its batch cannot go on where it writes).
class ETaskDeclined : public Exception {
public:
  ETaskDeclined() : Exception("task declined") {}
};

struct TTerminateInfo {
  int TaskIndex = 0;  // -1: the whole run ended
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
  // What the task's first audio output measured (when asked to), and how
  // much of it the normalising limiter touched.
  std::shared_ptr<const TLoudnessMeter> Loudness;
  int64_t LimitedFrames = 0;
  double DeepestCutDb = 0;
  // The system's error (errno) of a write to the task's output that ended
  // it (ENOSPC: the disk is full, EFBIG: the file is too large), 0 when the
  // task did not end so.
  int WriteError = 0;
};

struct TPreviewInfo {
  int TaskIndex = 0;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;
};

struct THookInfo {
  int TaskIndex = 0;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;
  bool Update = false;    // in and out
  bool StopHook = false;  // in and out
};

// The engine's own callbacks carry the job; these carry the encoder and the
// task's records.
using TEncoderProgressEvent = std::function<void(TObject* Sender, const TProgressInfo* AProgressInfo)>;
using TEncoderTerminateEvent = std::function<void(TObject* Sender, const TTerminateInfo& ATerminateInfo)>;
using TEncoderPreviewBitmapEvent = std::function<void(TObject* Sender, const TPreviewInfo& APreviewInfo)>;
using TEncoderVideoHookEvent = std::function<void(TObject* Sender, THookInfo* AHookInfo)>;
using TEncoderAudioHookEvent =
    std::function<void(TObject* Sender, int ATaskIndex, int64_t APTS, uint8_t* ASample, int ASize, int ASampleRate,
                       int AChannels, AVSampleFormat ASampleFormat)>;

// A stream object an application reads or writes a task through; its
// identity goes into the name "stream:%d:%s".
using TStreamHandle = const void*;

class TCustomEncoder : public TFFBaseComponent {
public:
  TCustomEncoder();
  ~TCustomEncoder() override;
  TCustomEncoder(const TCustomEncoder&) = delete;
  TCustomEncoder& operator=(const TCustomEncoder&) = delete;

  // --- task options ---
  // The new task's index, or -1 with LastErrMsg. Raise "Cannot %s while
  // working." while working (from Start until ClearTasks).
  int AddTask(const std::string& AFileName, TInputOptions* AOptions = nullptr);
  int AddTask(const std::string& AFileName, const std::string& AExtOptions);
  int AddTask(TStreamHandle AStream, const std::string& APrivateData, TInputOptions* AOptions = nullptr);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, TInputOptions* AOptions = nullptr);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, TOutputOptions* AOptions = nullptr);
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputStream(int ATaskIndex, TStreamHandle AStream, const std::string& APrivateData,
                       TOutputOptions* AOptions = nullptr);

  // --- the run ---
  // AThreadCount > 0: that many tasks at once, each on its own worker, a
  // finished worker replaced at once. 0: every task in turn on this thread,
  // returning when all have ended. An empty list ends the run at once with
  // the final event.
  void Start(int AThreadCount);
  void Pause();
  void Resume();
  // No task starts any more; running tasks stop, pending ones report their
  // end. Every task gives exactly one OnTerminate, then the final one.
  // AWaitForStop: returns after the final event has been delivered (the
  // main thread keeps running queued main-thread calls meanwhile); inside
  // one of this encoder's events it does not wait.
  void Stop(bool AWaitForStop);
  // Fails with "Cannot ClearTasks while working." while a run is going.
  void ClearTasks();
  void Exchange(int ATaskIndex1, int ATaskIndex2);
  void RemoveTask(int ATaskIndex);
  int GetTaskIndex(const TFFmpeg* AFFmpeg) const { return FTasks.IndexOf(AFFmpeg); }
  // A queued task holds no job: its inputs were probed and closed again,
  // its outputs checked but not created. Its job is built again (inputs
  // opened, outputs created) when it starts, and destroyed soon after it
  // ended. Tasks(i) is the job of the task being configured (the one last
  // added or changed) or running, null otherwise.
  TFFmpeg* Tasks(int AIndex) const { return FTasks.Items(AIndex); }
  // What the probe found of the inputs of a task (owner's thread).
  int TaskInputCount(int ATaskIndex) const { return static_cast<int>(FTasks.Task(ATaskIndex).Inputs.size()); }
  const TTaskInputInfo& TaskInput(int ATaskIndex, int AInputIndex) const {
    return FTasks.Task(ATaskIndex).Inputs.at(static_cast<size_t>(AInputIndex)).Info;
  }

  static constexpr TLibraries kLibraries = kEncoderLibraries;
  bool AVLibLoaded() const;
  bool LoadAVLib(const TPathFileName& APath);
  void UnloadAVLib();

  // --- properties ---
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  void* UserData = nullptr;
  int CustomMaxFiles = 20;  // slots of a task created from now on (1 ... 512)
  bool HaltOnInvalidOption = true;
  bool Preview() const { return FPreview; }
  void SetPreview(bool AValue);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool AValue);
  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int AMilliseconds) { FProgressInterval = AMilliseconds <= 100 ? 100 : AMilliseconds; }
  int ReadTimeout = 10000;  // ms, handed to each job
  // Read when a run starts; a change during a run applies to the next one.
  TThreadPriority ThreadPriority = TThreadPriority::tpNormal;
  std::atomic<bool> TriggerEventInMainThread{true};
  int Verbose = 1;
  TFFDecoder& Decoder() { return *FDecoder; }
  int TasksCount() const { return FTasks.Count(); }
  bool Working() const { return FWorking.load(); }
  bool Paused() const { return FPaused.load(); }
  bool Terminated() const { return FTerminated.load(); }

  TEncoderProgressEvent OnProgress;
  TEncoderTerminateEvent OnTerminate;
  TEncoderPreviewBitmapEvent OnPreviewBitmap;
  TEncoderAudioHookEvent OnAudioHook;
  TEncoderVideoHookEvent OnVideoInputHook;
  TEncoderVideoHookEvent OnVideoOutputHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;
  // Makes a running job's preview window (the application installs its
  // own; none: previews go nowhere). Handed to each job as it starts.
  TPreviewerFactory PreviewerFactory;
  // A task is about to start: called on the thread that starts it, before
  // its job opens its files. An exception ends the task with its message
  // (as an OnTerminate with Exception) instead of starting it; an
  // ETaskDeclined ends it as one that never started (neither finished nor
  // failed, as after a stop).
  std::function<void(TObject* Sender, int ATaskIndex)> OnTaskStarting;
  // A task has ended: called on the thread where it ended, before the next
  // task is started and before its OnTerminate is delivered, so that what
  // its end means for the tasks still waiting (a full output folder) holds
  // for them. Must not call the encoder; what it does delays the next task
  // on that thread, so only work that belongs to the task ended goes here
  // (the batch checks a lossless output where it was written).
  std::function<void(TObject* Sender, const TTerminateInfo& AInfo)> OnTaskEnding;

protected:
  // Where the jobs' callbacks land.
  virtual void DoVideoInputHook(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                                bool& AStopHook);
  virtual void DoVideoOutputHook(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                                 bool& AStopHook);
  virtual void DoPreviewBitmap(TFFmpeg* AJob, TBitmap& ABitmap, int AFrameNumber, int64_t APTS);
  virtual void DoProgress(TFFmpeg* AJob, int AFileIndex, int AFrameNumber, int AFPS, float AQuality, float ABitRate,
                          int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration);
  virtual void DoTerminate(TFFmpeg* AJob);

private:
  void CheckNotWorking(const char* AOperation) const;
  // The record-to-job rules of the task options. Each fails with AError.
  std::unique_ptr<TFFmpeg> MakeJob(const TEncoderTask& ATask, int AIndex, bool AForRun);
  void ApplyInputRecord(TFFmpeg& AJob, const TInputOptions& ARecord);
  bool OpenInput(TFFmpeg& AJob, const TEncoderTask& ATask, const TEncoderTask::TInput& AInput, std::string& AError);
  bool ConfigureOutput(TFFmpeg& AJob, const TEncoderTask& ATask, const TEncoderTask::TOutput& AOutput,
                       std::string& AError);
  // The job of a task built from its plan: every input opened, every
  // output set up (created only AForRun). Null with AError.
  std::unique_ptr<TFFmpeg> BuildJob(const TEncoderTask& ATask, int AIndex, bool AForRun, std::string& AError);
  // Makes task AIndex the one being configured: the previous one's job
  // goes (closing its files), this one's is built when it has none.
  TFFmpeg* Configure(int AIndex);
  void ReleaseConfigured();
  void RouteVideoHook(TFFmpeg& AJob, bool AInput);
  void RouteAudioHook(TFFmpeg& AJob);

  // Starts the task at FCurrentTask; false when none is pending.
  bool StartNextTask();
  // One task's end with AInfo: delivered, counted, the next task started
  // (AStartNext) or the run ended.
  void TaskEnded(const TTerminateInfo& AInfo, bool AStartNext);
  // Destroys the jobs whose runs have returned (FStartLock held).
  void ReapEndedJobs();
  // The end of the run, decided under FTerminateLock.
  void QueueDelivery(const TTerminateInfo& AInfo);  // FTerminateLock held
  void Deliver(const TTerminateInfo& AInfo, uint64_t ATicket);
  void DeliverInline(const TTerminateInfo& AInfo);
  void CallTerminate(const TTerminateInfo& AInfo);
  void MarkRunEnded();
  // Waits (pumping on the main thread) until every queued delivery has
  // returned, then joins the delivery threads (not the calling one).
  void WaitForDeliveries();
  void WaitForRunEnd();

  TFFmpegList FTasks;  // owner's thread; not changed while working (each task's Job: see there)
  TEncoderTask* FConfigured = nullptr;  // owner's thread: the task whose job is being configured
  std::string FLastErrMsg;  // owner's thread
  std::unique_ptr<TFFDecoder> FDecoder;
  bool FPreview = false, FPreviewBitmap = false;
  int FProgressInterval = 500;  // owner's thread; a run uses its copy below
  // Set by the destructor: the jobs' hook and preview callbacks deliver
  // nothing from then on (the handlers stay untouched until the workers
  // are gone).
  std::atomic<bool> FEventsDetached{false};

  // The run's counters and flags, guarded by FTerminateLock once the run
  // is going (Start writes them before any task starts).
  mutable std::mutex FTerminateLock;
  int FCompleteTasks = 0;
  int FCurrentTask = -1;
  int FPendingTasks = 0;
  bool FThreadMode = false;
  bool FInlineRunActive = false;  // Start(0) is still running its loop
  bool FFinalDecided = false;     // the final event was queued or is being delivered
  int FRunProgressInterval = 500;  // ProgressInterval and ThreadPriority as
  TThreadPriority FRunThreadPriority = TThreadPriority::tpNormal;  // the run began with
  bool FRunPreview = false, FRunPreviewBitmap = false;            // (FPauseLock after Start)
  // Tasks whose job ended and waits to be destroyed (FTerminateLock).
  std::vector<TEncoderTask*> FEndedJobs;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FWorking{false};  // written by the owner's thread
  // The run's stop: the parent of every run job's stop request. Stop
  // raises it before it waits for FStartLock, so that a task opening its
  // input meanwhile gives up at once; withdrawn by Start.
  TCancelToken FRunStop;

  // Held while a task is being started, and by Stop while it decides what
  // to do with each task, so that a task is never started and stopped at
  // once. Recursive: a task that cannot start ends at once, and its end
  // may start the next. Its release wakes the main thread waiting for it in
  // Stop, which serves the queued main-thread calls meanwhile (a task being
  // started may wait for one: a log line).
  class TStartLock {
  public:
    void lock() { FMutex.lock(); }
    bool try_lock() { return FMutex.try_lock(); }
    void unlock();
    // On the main thread: takes the lock, serving queued calls (no window
    // event) until it is free.
    void LockServing();

  private:
    std::recursive_mutex FMutex;
    std::mutex FFreedLock;  // pairs with FFreed
    std::condition_variable FFreed;
  };
  TStartLock FStartLock;
  // The task Start(0) is running on its thread (set under FStartLock).
  std::atomic<TFFmpeg*> FInlineJob{nullptr};

  // Pause state; held around the fan-outs to the jobs and while a task's
  // job is set or dropped during a run.
  std::mutex FPauseLock;
  std::atomic<bool> FPaused{false};

  // Termination deliveries: tickets in the order the tasks ended.
  std::mutex FDeliveryLock;
  std::condition_variable FDeliveryChanged;
  uint64_t FNextTicket = 0;    // FDeliveryLock
  uint64_t FServedTicket = 0;  // FDeliveryLock: deliveries that returned
  bool FRunEnded = false;      // FDeliveryLock: the final event returned
  struct TDelivery {
    uint64_t Ticket;
    std::thread Thread;
  };
  std::vector<TDelivery> FDeliveries;  // FDeliveryLock

  // The event records; each is read only during its event.
  std::mutex FProgressLock;
  TProgressInfo FProgressInfo;  // FProgressLock
  std::mutex FPreviewLock;
  TPreviewInfo FPreviewInfo;  // FPreviewLock
  std::mutex FVideoHookLock;
  THookInfo FVideoHookInfo;  // FVideoHookLock
  std::mutex FAudioHookLock;
};

class TFFEncoder : public TCustomEncoder {
public:
  using TCustomEncoder::TCustomEncoder;
};

}  // namespace quorvel
