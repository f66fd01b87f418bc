#include "media/player/PlayEvent.h"

namespace quorvel {

void TPlayEvent::Post(const TPlayEventItem& AItem) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    const int newest = (FTailer + kSlots - 1) % kSlots;
    if (CountLocked() > 0 && FEvents[newest].Kind == AItem.Kind) {
      FEvents[newest] = AItem;
    } else {
      // One slot stays free to tell a full ring from an empty one.
      if (CountLocked() == kSlots - 1) {
        // Full: drop the oldest position; with none queued, the oldest
        // state item makes room only if it is repeated later in the ring.
        int drop = -1;
        for (int i = FHeader; i != FTailer; i = (i + 1) % kSlots)
          if (FEvents[i].Kind == pekPosition) {
            drop = i;
            break;
          }
        if (drop < 0) {
          for (int i = FHeader; i != FTailer && drop < 0; i = (i + 1) % kSlots)
            for (int j = (i + 1) % kSlots; j != FTailer; j = (j + 1) % kSlots)
              if (FEvents[j].Kind == FEvents[i].Kind && FEvents[j].Value == FEvents[i].Value) {
                drop = i;
                break;
              }
        }
        if (drop < 0) drop = FHeader;  // only distinct states: cannot happen with six states in nine slots
        for (int i = drop; (i + 1) % kSlots != FTailer; i = (i + 1) % kSlots)
          FEvents[i] = FEvents[(i + 1) % kSlots];
        FTailer = (FTailer + kSlots - 1) % kSlots;
      }
      FEvents[FTailer] = AItem;
      FTailer = (FTailer + 1) % kSlots;
    }
  }
  FEvent.notify_all();
}

TPlayEventItem TPlayEvent::Take() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FHeader == FTailer) return {};
  const TPlayEventItem item = FEvents[FHeader];
  FHeader = (FHeader + 1) % kSlots;
  return item;
}

bool TPlayEvent::WaitFor(int AMilliseconds) {
  std::unique_lock<std::mutex> lock(FLock);
  const bool ready = FEvent.wait_for(lock, std::chrono::milliseconds(AMilliseconds),
                                     [this] { return FHeader != FTailer || FWoken; });
  FWoken = false;
  return ready;
}

void TPlayEvent::Wake() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FWoken = true;
  }
  FEvent.notify_all();
}

int TPlayEvent::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return CountLocked();
}

}  // namespace quorvel
