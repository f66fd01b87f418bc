// Measures a file's loudness by decoding its first audio stream (or the part
// of it a row's trim keeps), for `--analyse` and for normalising, whose gain
// must be known before the conversion writes its first sample.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/loudness/Loudness.h"

namespace quorvel {

struct TLoudnessAnalysis {
  std::shared_ptr<TLoudnessMeter> Meter;  // null when the file could not be read
  std::string Error;
};

// AStart and ALength in µs (ALength <= 0: to the end). Runs on the calling
// thread; the media libraries must be loaded.
TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, int64_t AStart = 0, int64_t ALength = 0);

}  // namespace quorvel
