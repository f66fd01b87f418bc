#include "media/runtime/CodecLock.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/MediaRuntime.h"

namespace quorvel {

namespace {

// The codec mutex. Recursive: a thread that already holds it (a codec opened
// inside another codec's open) must not deadlock on itself.
struct CodecMutex {
  std::recursive_mutex Mutex;
  int Number;  // shown in the log lines in place of a handle value
};

// Ownership: g_handle and g_libraryPointer are written by the loader on the
// main thread (create at load, destroy at unload); while a mutex exists the
// components only obtain and release it.
CodecMutex* g_handle = nullptr;      // the process-wide mutex
void* g_libraryPointer = nullptr;    // the "library's" mutex pointer: &g_handle once created
int g_nextNumber = 1;

// The lock manager's lines go to the log collector with no sender.
void LogLine(TLogLevel level, const std::string& text) { FFLogger().Log(nullptr, level, text); }

CodecMutex* MutexOf(void** AMutex) {
  if (!AMutex || !*AMutex) return nullptr;
  return *static_cast<CodecMutex**>(*AMutex);
}

}  // namespace

int CodecLockManager(void** AMutex, int AOp) {
  if (Finalizing()) return 0;
  switch (AOp) {
    case lopCreate: {
      if (CodecMutex* existing = MutexOf(AMutex)) {
        LogLine(llError, Format("error, codec mutex [%d] already exist.", existing->Number));
        return -1;
      }
      if (g_handle) {
        LogLine(llWarning, Format("warning, local codec mutex [%d] not destroyed.", g_handle->Number));
        delete g_handle;
        g_handle = nullptr;
      }
      g_handle = new CodecMutex{{}, g_nextNumber++};
      LogLine(llDebug, Format("create codec mutex [%d].", g_handle->Number));
      *AMutex = &g_handle;
      return 0;
    }
    case lopObtain: {
      CodecMutex* mutex = MutexOf(AMutex);
      if (!mutex) {
        LogLine(llError, "error, codec mutex not available.");
        return -1;
      }
      // The line goes out before the wait: a log line may be delivered on
      // the main thread, which must never wait for it while this thread
      // holds a mutex the main thread may be waiting for.
      LogLine(llDebug, Format("obtain codec mutex [%d].", mutex->Number));
      if (IsMainThread()) {
        // A worker holding the mutex may be waiting for the main thread (a
        // log line of the codec it is opening): keep serving it meanwhile.
        while (!mutex->Mutex.try_lock()) {
          ProcessMessages();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      } else {
        mutex->Mutex.lock();
      }
      return 0;
    }
    case lopRelease: {
      CodecMutex* mutex = MutexOf(AMutex);
      if (!mutex) {
        LogLine(llError, "error, codec mutex not available.");
        return -1;
      }
      mutex->Mutex.unlock();
      LogLine(llDebug, Format("release codec mutex [%d].", mutex->Number));
      return 0;
    }
    case lopDestroy: {
      if (CodecMutex* mutex = MutexOf(AMutex)) {
        LogLine(llDebug, Format("destory codec mutex [%d].", mutex->Number));
        delete mutex;
        g_handle = nullptr;
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

TCodecLock::TCodecLock() : FOk(CodecLockManager(&g_libraryPointer, lopObtain) == 0) {}

TCodecLock::~TCodecLock() {
  if (FOk) CodecLockManager(&g_libraryPointer, lopRelease);
}

}  // namespace quorvel
