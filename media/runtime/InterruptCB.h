// The interrupt-callback registry: lets a component make a blocking
// media-library I/O call on one of its threads give up. Every format context
// and I/O context the components create gets MakeAVIOInterruptCB(); the
// library calls it on the blocked thread, which asks the registry for that
// thread's first registered callback.
//
// How stopping fits together:
// - This registry only routes the library's question "give up?" to the
//   component whose thread is blocked. A component registers a callback
//   for its own thread around its blocking calls (Add/Remove on that
//   thread); the library asks it on that same thread.
// - The answer comes from two things. A stop request (TCancelToken,
//   CancelToken.h) is raised by whoever stops the work (the owner's
//   thread, the encoder's Stop, a player's Stop) and read by the callback
//   and by the work's own loops; a parent token cancels its children (the
//   encoder's run stop cancels every job's). The read-timeout rule
//   (TReadTimeout, ReadTimeout.h) is kept by the blocked thread itself:
//   Begin/End around the call, Check from the callback.
// - A job's callbacks: broken_cb (its token) while it runs, read_timeout_cb
//   (token and rule) while it opens files. The decoder: the rule only (it
//   has no stop). The player's read thread: the rule and its opening's
//   token while it opens, then the playback's abort_request.
// - Waits that are not library calls never poll: they wait on a condition
//   that the stop signals (TCancelToken::WaitFor, the player's
//   continue_read and state_cond, the job's run condition).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

namespace quorvel {

class TObject;

// The calling thread's identifier (the kernel thread id).
uint32_t CurrentThreadID();

// A callback bound to an object: Code(Data, Sender). Two procs are "the same
// callback" when their Code is the same, whatever object they are bound to.
struct TInterruptProc {
  using TCode = bool (*)(void* AData, TObject* ASender);
  TCode Code = nullptr;
  void* Data = nullptr;

  bool operator()(TObject* ASender) const { return Code(Data, ASender); }

  // Binds a member function `bool C::M(TObject*)` to an object.
  template <class C, bool (C::*M)(TObject*)>
  static TInterruptProc Of(C* AObject) {
    return {[](void* data, TObject* sender) { return (static_cast<C*>(data)->*M)(sender); }, AObject};
  }
};

struct TInterruptItem {
  uint32_t ThreadID = 0;
  TInterruptProc Interrupt;
  TObject* Sender = nullptr;
};

class TInterruptCB {
public:
  void Add(uint32_t AThreadID, TObject* ASender, TInterruptProc AInterrupt);
  void Remove(uint32_t AThreadID, TObject* ASender, TInterruptProc AInterrupt);
  // The first item (in insertion order) of that thread decides; none: false.
  // The callback runs while the registry's lock is held.
  bool Interrupt(uint32_t AThreadID);
  void Clear();
  std::vector<TInterruptItem>& LockList();
  void UnlockList();

private:
  std::recursive_mutex FLock;  // guards FItems
  std::vector<TInterruptItem> FItems;
};

// The process-wide registry.
TInterruptCB& InterruptCB();

// The I/O interrupt callback handed to the media libraries: 1 when the
// registry says the calling thread's operation must give up, else 0.
int InterruptCallback(void* AOpaque);
AVIOInterruptCB MakeAVIOInterruptCB();

}  // namespace quorvel
