// A manual-reset event: stays signalled until reset, wakes every waiter.
// The player's handshakes between the caller, the read thread and the event
// loop (seek done, picture queued, playback stopped) use it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "media/runtime/MainThread.h"

namespace quorvel {

class TManualEvent {
public:
  explicit TManualEvent(bool ASignalled) : FSignalled(ASignalled) {}

  void Set() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FSignalled = true;
    }
    FCond.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(FLock);
    FSignalled = false;
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSignalled;
  }
  // Waits until signalled. On the main thread it serves the queued
  // main-thread calls and the window events meanwhile (WaitServing), so a
  // delivery to the main thread cannot deadlock against it; AStep runs about
  // every 20 ms (any thread), without the event's lock.
  void Wait(const std::function<void()>& AStep = nullptr) {
    std::unique_lock<std::mutex> lock(FLock);
    WaitServing(lock, FCond, [this] { return FSignalled; }, TMainThreadWait::QueuedCallsAndEvents, AStep);
  }
  // True when signalled within AMilliseconds (no serving: for short waits
  // off the main thread).
  bool WaitFor(int AMilliseconds) {
    std::unique_lock<std::mutex> lock(FLock);
    return FCond.wait_for(lock, std::chrono::milliseconds(AMilliseconds), [this] { return FSignalled; });
  }
  // The same through WaitServing: on the main thread it serves what AMode
  // says meanwhile (the limit is kept to about 20 ms).
  bool WaitFor(int AMilliseconds, TMainThreadWait AMode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
    std::unique_lock<std::mutex> lock(FLock);
    WaitServing(
        lock, FCond, [&] { return FSignalled || std::chrono::steady_clock::now() >= deadline; }, AMode, [] {});
    return FSignalled;
  }

private:
  mutable std::mutex FLock;  // guards FSignalled
  std::condition_variable FCond;
  bool FSignalled;
};

}  // namespace quorvel
