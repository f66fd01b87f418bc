// Percentiles of the player's timing histograms (a count per fixed step).
#pragma once

#include <cmath>
#include <cstdint>

namespace quorvel {

// The step, counted from 1, at which the counts reach the fraction AFraction
// of their total (the last step when rounding leaves them short); 0 when
// nothing was counted.
template <class TCounts>
int PercentileStep(const TCounts& ACounts, double AFraction) {
  uint64_t total = 0;
  for (const uint64_t n : ACounts) total += n;
  if (total == 0) return 0;
  const auto wanted = static_cast<uint64_t>(std::ceil(AFraction * static_cast<double>(total)));
  uint64_t seen = 0;
  int step = 0;
  for (const uint64_t n : ACounts) {
    ++step;
    seen += n;
    if (seen >= wanted) return step;
  }
  return step;
}

}  // namespace quorvel
