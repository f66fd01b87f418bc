// The read-timeout rule every component that reads media applies (the
// conversion job, the decoder, the player): a blocking library call (an
// open, a stream probe, a read, a seek) gives up when its owner stopped it,
// or when it has been under way for longer than the limit without its input
// giving anything.
//
// The component registers a callback with the interrupt-callback registry
// (InterruptCB.h) for the thread that makes the call; the library asks it
// while it waits, and the callback asks Check(). Begin and End bracket the
// call on that thread; a component that can see its input's byte count
// passes it as the progress, and data arriving starts the clock again.
//
// Threads: SetLimit from any thread (it takes effect at the next Begin or
// Check); Begin, End and Check on the thread that makes the call (the
// library runs the callback there).
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

namespace quorvel {

class TReadTimeout {
public:
  enum class TVerdict { Wait, Cancelled, TimedOut };
  // The progress of a component that does not count its input's bytes.
  static constexpr int64_t kNoProgress = -1;

  explicit TReadTimeout(int ALimitMs = 10000) : FLimitMs(ALimitMs) {}

  // The limit in ms; 0 or less: no limit (a stop still ends the call).
  void SetLimit(int AMilliseconds) { FLimitMs.store(AMilliseconds); }
  int Limit() const { return FLimitMs.load(); }

  // A blocking call starts at ANow (µs of the monotonic clock), its input
  // having given AProgress bytes so far.
  void Begin(int64_t ANow, int64_t AProgress = kNoProgress);
  // No call is under way: the limit holds nothing until the next Begin.
  void End() { FStart.store(kIdle); }
  bool Running() const { return FStart.load() != kIdle; }

  // Whether the call under way gives up at ANow: Cancelled when AStopped
  // (also with no limit and between calls), TimedOut when more than the
  // limit has passed since Begin or since the progress last changed.
  TVerdict Check(int64_t ANow, bool AStopped, int64_t AProgress = kNoProgress);

  // µs of the monotonic clock (the clock av_gettime_relative reads): a wall
  // clock set back or forward while a read waits would make the limit never
  // fire, or fire at once.
  static int64_t Now();

private:
  static constexpr int64_t kIdle = INT64_MAX;
  std::atomic<int> FLimitMs;
  std::atomic<int64_t> FStart{kIdle};  // the call's clock start (µs); kIdle: none
  int64_t FProgress = kNoProgress;     // the calling thread's only
};

}  // namespace quorvel
