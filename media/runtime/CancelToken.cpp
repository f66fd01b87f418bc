#include "media/runtime/CancelToken.h"

namespace quorvel {

void TCancelToken::Cancel() {
  {
    // Set under the lock: a WaitFor between its test and its sleep cannot
    // miss the wake-up.
    std::lock_guard<std::mutex> lock(FLock);
    FCancelled.store(true);
  }
  FRaised.notify_all();
}

void TCancelToken::Reset() {
  std::lock_guard<std::mutex> lock(FLock);
  FCancelled.store(false);
}

bool TCancelToken::WaitFor(std::chrono::steady_clock::duration ATimeout) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FRaised.wait_for(lock, ATimeout, [this] { return FCancelled.load(); });
}

}  // namespace quorvel
