// A stop request that one side raises and the other side tests or waits on:
// the stop of a conversion run today, of the player's threads tomorrow.
//
// Cancelled() is a lock-free test for loops and the I/O interrupt callback.
// A thread that sleeps between steps sleeps through WaitFor, which returns at
// once when the request comes. A thread blocked on a condition of its own
// (a queue, a pause) keeps Cancelled() in that wait's predicate, and the side
// that cancels notifies that condition after Cancel() under its mutex.
//
// Threads: Cancel, Cancelled and WaitFor from any thread; Reset by the owner
// while nobody waits (before a new run).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quorvel {

class TCancelToken {
public:
  TCancelToken() = default;
  TCancelToken(const TCancelToken&) = delete;
  TCancelToken& operator=(const TCancelToken&) = delete;

  // Raises the request and wakes every WaitFor.
  void Cancel();
  // Withdraws the request, for the next run.
  void Reset();
  bool Cancelled() const noexcept { return FCancelled.load(); }
  // Sleeps for ATimeout or until the request comes; true when it came.
  bool WaitFor(std::chrono::steady_clock::duration ATimeout) const;

private:
  std::atomic<bool> FCancelled{false};
  mutable std::mutex FLock;                // pairs with FRaised; the flag is set under it
  mutable std::condition_variable FRaised;
};

}  // namespace quorvel
