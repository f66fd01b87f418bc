// The job as its owner drives it: starting a run on the caller's thread or
// on a worker, stopping, pausing and resuming it, turning an error of the
// run into the job's fatal error, reporting the end exactly once, and
// releasing every file and codec afterwards.
#include <sys/stat.h>
#include <unistd.h>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

// --- the worker thread ---

TConvertThread::TConvertThread(TCustomFFmpeg& AOwner) : FOwner(AOwner) {
  FThread = std::thread([this] { Execute(); });
}

TConvertThread::~TConvertThread() {
  Resume();
  if (FThread.joinable()) FThread.join();
}

void TConvertThread::Resume() {
  std::lock_guard<std::mutex> lock(FLock);
  FStarted = true;
  FStart.notify_all();
}

void TConvertThread::Execute() {
  {
    std::unique_lock<std::mutex> lock(FLock);
    FStart.wait(lock, [this] { return FStarted; });
  }
  FOwner.run();
  std::lock_guard<std::mutex> lock(FOwner.FRunLock);
  FOwner.FRunning = false;
  FOwner.FRunChanged.notify_all();
}

// --- starting ---

TConvertThread* TCustomFFmpeg::StartConvert(bool AUseThread, TThreadPriority /*APriority*/) {
  if (FConverting || FTerminated) return nullptr;
  const char* missing = Fnb_output_files == 0  ? "At least one output file must be specified"
                        : Fnb_input_files == 0 ? "At least one input file must be specified"
                                               : nullptr;
  if (missing) {
    release();
    record_fatal(missing);
    do_terminate();
    return nullptr;
  }
  // A job runs once, so FBroken is still down unless a stop request has
  // come already: one made while this start is under way (seen as
  // converting by another thread) must survive it, so it is never withdrawn.
  FFinished = false;
  FTerminated = false;
  FReadTimeout.End();
  FConverting = true;
  if (!AUseThread) {
    run();
    return nullptr;
  }
  // Pause, Resume and Stop read FThread from other threads (the encoder
  // starts a task from the worker of the one that ended).
  std::lock_guard<std::mutex> lock(FRunLock);
  FRunning = true;
  FPauseRequested = false;
  FThread = std::make_unique<TConvertThread>(*this);
  return FThread.get();
}

void TCustomFFmpeg::record_fatal(const std::string& AMessage) {
  FFLogger().Log(this, llQuiet, AMessage);
  FFatalException = true;
  FFatalMessage = AMessage;
}

void TCustomFFmpeg::run() {
  FFinished = false;
  try {
    run_transcode();
  } catch (const std::exception& e) {
    record_fatal(e.what());
  }
  // A run that failed keeps no output that holds nothing but a header.
  std::vector<std::string> empty;
  FOutputWriteError = 0;
  if (FFatalException) {
    // Which output's file refused its bytes, and why: the front ends tell a
    // full disk apart from a broken input.
    const int outputs = FJoinMode ? std::min(Fnb_output_files, 1) : Fnb_output_files;
    for (int j = 0; j < outputs && FOutputWriteError == 0; ++j) {
      const AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
      if (oc && oc->pb && oc->pb->error < 0) FOutputWriteError = -oc->pb->error;
    }
  }
  if (FFatalException) {
    const int outputs = FJoinMode ? std::min(Fnb_output_files, 1) : Fnb_output_files;
    for (int j = 0; j < outputs; ++j) {
      const TAVOutputFileSlot& slot = Foutput_files[static_cast<size_t>(j)];
      if (!slot.ctx || (slot.ctx->oformat->flags & AVFMT_NOFILE)) continue;
      bool written = false;
      for (const auto& ost : slot.streams) written = written || ost->written_packets > 0;
      if (!written)
        empty.push_back(!slot.owned.get_deleter().WrittenAt.empty() ? slot.owned.get_deleter().WrittenAt
                                                                     : URLToFileName(slot.ctx->url ? slot.ctx->url : ""));
    }
  }
  try {
    release();
  } catch (const std::exception& e) {
    record_fatal(e.what());
  }
  for (const std::string& name : empty)
    if (!name.empty()) ::unlink(name.c_str());
  try {
    do_terminate();
  } catch (const std::exception& e) {
    record_fatal(e.what());
  }
}

void TCustomFFmpeg::do_terminate() {
  if (FTerminateDone.exchange(true)) return;
  FConverting = false;
  FTerminated = true;
  if (OnTerminate) OnTerminate(this);
}

// --- stopping, pausing ---

void TCustomFFmpeg::Stop(bool AWaitForStop) {
  // Also without a worker thread: whatever blocking call the job's thread
  // is in gives up (the read-timeout callback sees the request).
  FBroken.Cancel();
  TConvertThread* worker = nullptr;
  {
    std::lock_guard<std::mutex> lock(FRunLock);
    FPauseRequested = false;
    FRunChanged.notify_all();
    worker = FThread.get();  // once made, it lives as long as the job
  }
  if (!worker) return;
  worker->Resume();
  if (AWaitForStop && std::this_thread::get_id() != worker->Id()) {
    // On the main thread the window stays alive meanwhile.
    std::unique_lock<std::mutex> lock(FRunLock);
    WaitServing(lock, FRunChanged, [this] { return !FRunning; }, TMainThreadWait::QueuedCallsAndEvents);
  }
}

void TCustomFFmpeg::Pause() {
  std::lock_guard<std::mutex> lock(FRunLock);
  if (FThread && FRunning) FPauseRequested = true;
}

void TCustomFFmpeg::Resume() {
  std::lock_guard<std::mutex> lock(FRunLock);
  if (!FThread) return;
  FThread->Resume();
  FPauseRequested = false;
  FRunChanged.notify_all();
}

void TCustomFFmpeg::wait_while_paused() {
  std::unique_lock<std::mutex> lock(FRunLock);
  if (!FPauseRequested) return;
  FPauseHeld = true;
  FRunChanged.notify_all();
  FRunChanged.wait(lock, [this] { return !FPauseRequested || FBroken.Cancelled(); });
  FPauseHeld = false;
}

void TCustomFFmpeg::stop_or_terminate(bool AWaitForStop) {
  if (FConverting) {
    Stop(AWaitForStop);
    return;
  }
  std::thread::id termThread;
  {
    std::lock_guard<std::mutex> lock(FRunLock);
    if (FTerminated || FTermRunning || FTermThread.joinable()) {
      // Started already: only the wait remains.
    } else {
      FTermRunning = true;
      FTermThread = std::thread([this] {
        try {
          do_terminate();
        } catch (const std::exception& e) {
          record_fatal(e.what());
        }
        std::lock_guard<std::mutex> guard(FRunLock);
        FTermRunning = false;
        FRunChanged.notify_all();
      });
    }
    termThread = FTermThread.get_id();
  }
  if (AWaitForStop && std::this_thread::get_id() != termThread) {
    std::unique_lock<std::mutex> lock(FRunLock);
    WaitServing(lock, FRunChanged, [this] { return !FTermRunning; }, TMainThreadWait::QueuedCallsAndEvents);
  }
}

}  // namespace quorvel
