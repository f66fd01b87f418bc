#include "media/runtime/ReadTimeout.h"

#include <chrono>

namespace quorvel {

void TReadTimeout::Begin(int64_t ANow, int64_t AProgress) {
  FProgress = AProgress;
  FStart.store(ANow);
}

TReadTimeout::TVerdict TReadTimeout::Check(int64_t ANow, bool AStopped, int64_t AProgress) {
  if (AStopped) return TVerdict::Cancelled;
  const int64_t start = FStart.load();
  const int limit = FLimitMs.load();
  if (start == kIdle || limit <= 0) return TVerdict::Wait;
  if (AProgress != FProgress) {
    // Data arrived since the last look: the input is alive.
    FProgress = AProgress;
    FStart.store(ANow);
    return TVerdict::Wait;
  }
  return ANow - start > static_cast<int64_t>(limit) * 1000 ? TVerdict::TimedOut : TVerdict::Wait;
}

int64_t TReadTimeout::Now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace quorvel
