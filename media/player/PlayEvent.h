// The player's event ring: positions and states waiting for the event thread
// to deliver them. Any thread posts (the event loop, decode threads,
// callers); only the event thread takes. Posting never blocks on delivery.
//
// Coalescing: a new item replaces the newest undelivered item of the same
// kind, so two positions queued before delivery arrive as one with the later
// value. When the ring is full, the oldest position is dropped to make room;
// states (and the end-thread item) are never dropped, so psEnd and psStop
// always arrive.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorvel {

enum TPlayEventKind : int32_t { pekNone = 0, pekPosition = 1, pekState = 2, pekEndThread = 3 };

struct TPlayEventItem {
  int32_t Kind = pekNone;
  int64_t Value = 0;
};

class TPlayEvent {
public:
  static constexpr int kSlots = 10;

  void Post(const TPlayEventItem& AItem);
  // The oldest item, or kind pekNone when the ring is empty.
  TPlayEventItem Take();
  // Waits up to AMilliseconds for the ring to hold an item.
  bool WaitFor(int AMilliseconds);
  // Wakes a waiter without posting (used to end the event thread).
  void Wake();
  int Count() const;

private:
  int CountLocked() const { return (FTailer - FHeader + kSlots) % kSlots; }

  mutable std::mutex FLock;  // guards everything below
  std::condition_variable FEvent;
  int FHeader = 0;  // slot of the oldest undelivered item
  int FTailer = 0;  // slot after the newest item
  TPlayEventItem FEvents[kSlots];
  bool FWoken = false;
};

}  // namespace quorvel
