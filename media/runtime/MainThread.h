// Calls that must run on the main thread, and the waits of the main thread.
//
// Components deliver their user-facing events on the main thread: the calling
// thread queues the call and blocks until the main thread has run it. The
// main thread runs queued calls when the host wakes it up (the application
// posts a queued invocation) and from every wait of its own (WaitServing). A
// wait of the main thread on a media worker that ran no queued calls could
// deadlock against such a call: every such wait goes through WaitServing.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace quorvel {

// What the platform offers the main thread. The application implements it
// with Qt; tests and command-line programs may install none.
class TMainThreadHost {
public:
  virtual ~TMainThreadHost() = default;
  // Asks the main thread to run ProcessMainThreadCalls() soon. Any thread may
  // call it; it must not block on the main thread nor call back into the
  // functions below.
  virtual void WakeUp() = 0;
  // The platform's event pump (the application: QCoreApplication::processEvents()).
  virtual void PumpEvents() {}
};

// The calling thread becomes the main thread. AHost may be null: then nobody
// wakes the main thread up, and its waits pump the queue themselves.
void InstallMainThread(TMainThreadHost* AHost);
// Runs what is queued and forgets the main thread: afterwards every call runs
// on its calling thread. A call that races with this never waits forever: it
// is either run here or runs on its own thread.
void UninstallMainThread();
bool IsMainThread();

// On the main thread, or with no main thread installed: runs ACall at once.
// Otherwise queues it and blocks until the main thread ran it; an exception
// thrown by ACall is rethrown here.
void CallInMainThread(const std::function<void()>& ACall);

// Main thread: runs all queued calls, in the order they were queued (also the
// calls queued while it runs). Re-entrant: a call may pump again. Does
// nothing on other threads.
void ProcessMainThreadCalls();

// The message pump of the main thread's waits: the queued calls, then the
// host's event pump.
void ProcessMessages();

// What a wait of the main thread serves while it waits.
enum class TMainThreadWait {
  // Only the queued main-thread calls of the media components: no user
  // input, timer or other window event can run inside the wait. For waits in
  // the middle of an operation the program must not be re-entered in (the
  // codec lock).
  QueuedCalls,
  // The queued calls and the host's event pump, so the window stays alive:
  // for waits that may last (a run or a player being stopped).
  QueuedCallsAndEvents,
};

// Blocks until ADone() is true; ADone is evaluated with ALock held, and
// whoever makes it true does so under ALock and then notifies ACondition.
//
// On the main thread the wait serves, with ALock released: the queued
// main-thread calls (a call queued meanwhile wakes the wait at once) and,
// with QueuedCallsAndEvents, the host's events at least every 20 ms. So a
// worker that hands a call to the main thread cannot deadlock against the
// main thread waiting for it. On any other thread it is a plain condition
// wait.
//
// AStep, when given, runs about every 20 ms on any thread, without ALock:
// for waits that must repeat a request until it is taken up. ALock must be
// locked on entry and is locked on return.
void WaitServing(std::unique_lock<std::mutex>& ALock, std::condition_variable& ACondition,
                 const std::function<bool()>& ADone, TMainThreadWait AMode,
                 const std::function<void()>& AStep = nullptr);

}  // namespace quorvel
