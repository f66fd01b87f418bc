// Calls that must run on the main thread, and the message pump of the main
// thread's waits.
//
// Components deliver their user-facing events on the main thread: the calling
// thread queues the call and blocks until the main thread has run it. The
// main thread runs queued calls when the host wakes it up (the application
// posts a queued invocation) and from every wait that pumps messages
// (ProcessMessages). A wait of the main thread on a media worker that does
// not pump can deadlock against such a call.
#pragma once

#include <functional>

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

}  // namespace quorvel
