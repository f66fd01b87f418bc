#include "media/runtime/CodecLock.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include "media/runtime/FFLog.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/MediaRuntime.h"

namespace quorvel {

// The codec mutex. Recursive: a thread that already holds it (a codec opened
// inside another codec's open) must not deadlock on itself. It knows its
// owner, so that a release by any other thread is refused instead of undoing
// someone else's hold.
class TCodecMutex {
public:
  explicit TCodecMutex(int ANumber) : FNumber(ANumber) {}
  int Number() const { return FNumber; }

  void Lock() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(FLock);
    // A worker holding the mutex may be waiting for the main thread (a log
    // line of the codec it is opening): on the main thread the wait runs
    // such calls, and nothing else.
    WaitServing(lock, FFree, [&] { return FDepth == 0 || FOwner == self; }, TMainThreadWait::QueuedCalls);
    FOwner = self;
    ++FDepth;
  }

  // False when the calling thread does not hold the mutex.
  bool Unlock() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (FDepth == 0 || FOwner != std::this_thread::get_id()) return false;
      if (--FDepth > 0) return true;
      FOwner = std::thread::id();
    }
    FFree.notify_all();
    return true;
  }

private:
  const int FNumber;  // shown in the log lines in place of a handle value
  std::mutex FLock;   // guards FOwner and FDepth
  std::condition_variable FFree;
  std::thread::id FOwner;
  int FDepth = 0;
};

namespace {

// The process-wide mutex (the "handle"); null when none exists. Written by
// the loader's thread (create at load, destroy at unload), read by every
// thread that obtains it.
std::atomic<TCodecMutex*> g_handle{nullptr};
// The "library's" mutex pointer: &g_handle once created. Only the loader's
// thread touches it.
void* g_libraryPointer = nullptr;

// Every mutex ever created. A destroyed mutex may still be held by a thread
// that is about to release it, so none is freed before the process ends.
struct TMutexStore {
  std::mutex Lock;  // guards All and NextNumber
  std::vector<std::unique_ptr<TCodecMutex>> All;
  int NextNumber = 1;
};

TMutexStore& Store() {
  static TMutexStore store;
  return store;
}

TCodecMutex* NewMutex() {
  TMutexStore& s = Store();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.All.push_back(std::make_unique<TCodecMutex>(s.NextNumber++));
  return s.All.back().get();
}

// The lock manager's lines go to the log collector with no sender.
void LogLine(TLogLevel level, const std::string& text) { FFLogger().Log(nullptr, level, text); }

TCodecMutex* MutexOf(void** AMutex) {
  if (!AMutex || !*AMutex) return nullptr;
  return static_cast<std::atomic<TCodecMutex*>*>(*AMutex)->load();
}

int Obtain(TCodecMutex* AMutex) {
  if (!AMutex) {
    LogLine(llError, "error, codec mutex not available.");
    return -1;
  }
  // The line goes out before the wait: a log line may be delivered on the
  // main thread, which must never wait for it while this thread holds a
  // mutex the main thread may be waiting for.
  LogLine(llDebug, Format("obtain codec mutex [%d].", AMutex->Number()));
  AMutex->Lock();
  return 0;
}

int Release(TCodecMutex* AMutex) {
  if (!AMutex) {
    LogLine(llError, "error, codec mutex not available.");
    return -1;
  }
  if (!AMutex->Unlock()) {
    LogLine(llError, Format("error, could not release codec mutex [%d]: %s.", AMutex->Number(),
                            ErrorMessage(AVERROR(EPERM)).c_str()));
    return -1;
  }
  LogLine(llDebug, Format("release codec mutex [%d].", AMutex->Number()));
  return 0;
}

}  // namespace

int CodecLockManager(void** AMutex, int AOp) {
  if (Finalizing()) return 0;
  switch (AOp) {
    case lopCreate: {
      if (TCodecMutex* existing = MutexOf(AMutex)) {
        LogLine(llError, Format("error, codec mutex [%d] already exist.", existing->Number()));
        return -1;
      }
      if (TCodecMutex* old = g_handle.load()) {
        // Forgotten, not freed: a thread may still hold it.
        LogLine(llWarning, Format("warning, local codec mutex [%d] not destroyed.", old->Number()));
        g_handle.store(nullptr);
      }
      TCodecMutex* mutex = NewMutex();
      g_handle.store(mutex);
      LogLine(llDebug, Format("create codec mutex [%d].", mutex->Number()));
      *AMutex = &g_handle;
      return 0;
    }
    case lopObtain:
      return Obtain(MutexOf(AMutex));
    case lopRelease:
      return Release(MutexOf(AMutex));
    case lopDestroy: {
      if (TCodecMutex* mutex = MutexOf(AMutex)) {
        LogLine(llDebug, Format("destory codec mutex [%d].", mutex->Number()));
        g_handle.store(nullptr);
        *AMutex = nullptr;
      }
      return 0;
    }
    default:
      LogLine(llError, Format("error, invalid codec mutex operation %d.", AOp));
      return -1;
  }
}

void InstallCodecLock() {
  // A repeated load of avcodec finds the mutex in place; only the first
  // creates it (a second create would only log an error and fail).
  if (!MutexOf(&g_libraryPointer)) CodecLockManager(&g_libraryPointer, lopCreate);
}

void RemoveCodecLock() { CodecLockManager(&g_libraryPointer, lopDestroy); }

TCodecLock::TCodecLock() {
  if (Finalizing()) {
    FOk = false;
    return;
  }
  FMutex = g_handle.load();
  FOk = Obtain(FMutex) == 0;
}

TCodecLock::~TCodecLock() {
  if (FOk) Release(FMutex);
}

}  // namespace quorvel
