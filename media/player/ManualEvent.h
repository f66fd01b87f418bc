// A manual-reset event: stays signalled until reset, wakes every waiter.
// The player's handshakes between the caller, the read thread and the event
// loop (seek done, picture queued, playback stopped) use it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

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
  // True when signalled within AMilliseconds.
  bool WaitFor(int AMilliseconds) {
    std::unique_lock<std::mutex> lock(FLock);
    return FCond.wait_for(lock, std::chrono::milliseconds(AMilliseconds), [this] { return FSignalled; });
  }

private:
  mutable std::mutex FLock;  // guards FSignalled
  std::condition_variable FCond;
  bool FSignalled;
};

}  // namespace quorvel
