// A stop request that one side raises and the other side tests or waits on:
// the program's one way to stop work besides the interrupt-callback
// registry (InterruptCB.h, which says how the two fit). A conversion job's
// run, the encoder's batch of jobs, an opening of the player and the
// application's folder walks each hold one.
//
// Cancelled() is a lock-free test for loops and the I/O interrupt callback.
// A thread that sleeps between steps sleeps through WaitFor, which returns at
// once when the request comes. A thread blocked on a condition of its own
// (a queue, a pause) keeps Cancelled() in that wait's predicate, and the side
// that cancels notifies that condition after Cancel() under its mutex.
//
// A token may have a parent (SetParent): cancelling the parent cancels the
// token (the encoder's stop cancels every job it made), never the other way
// round. A parent outlives its children, or the children are detached
// first (a child detaches itself when it is destroyed).
//
// Threads: Cancel, Cancelled and WaitFor from any thread; SetParent and
// Reset by the owner while nobody waits (before a run).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace quorvel {

class TCancelToken {
public:
  TCancelToken() = default;
  ~TCancelToken();
  TCancelToken(const TCancelToken&) = delete;
  TCancelToken& operator=(const TCancelToken&) = delete;

  // Raises the request, wakes every WaitFor and cancels the children.
  void Cancel();
  // Withdraws the request, for the next run (it stays while the parent's
  // is raised).
  void Reset();
  bool Cancelled() const noexcept { return FCancelled.load(); }
  // Sleeps for ATimeout or until the request comes; true when it came.
  bool WaitFor(std::chrono::steady_clock::duration ATimeout) const;
  // Links the token under AParent (nullptr: none); a parent cancelled
  // already cancels it at once.
  void SetParent(TCancelToken* AParent);

private:
  void AddChild(TCancelToken* AChild);
  void RemoveChild(TCancelToken* AChild);

  std::atomic<bool> FCancelled{false};
  mutable std::mutex FLock;  // pairs with FRaised; the flag is set under it; guards FParent, FChildren
  mutable std::condition_variable FRaised;
  TCancelToken* FParent = nullptr;
  std::vector<TCancelToken*> FChildren;
};

}  // namespace quorvel
