// Measures a file's loudness by decoding its first audio stream (or the part
// of it a row's trim keeps), for `--analyse` and for normalising, whose gain
// must be known before the conversion writes its first sample.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/loudness/Loudness.h"

namespace quorvel {

struct TLoudnessAnalysis {
  std::shared_ptr<TLoudnessMeter> Meter;  // null when the file could not be read
  std::string Error;
};

struct TAnalysisOptions {
  int64_t Start = 0, Length = 0;  // µs (Length <= 0: to the end)
  // The channel count to measure (0: the stream's own layout): a
  // conversion that folds the channels down is measured as it will sound.
  int Channels = 0;
  // Measures the audio as a normalising conversion writes it: with GainDb
  // and the true-peak limiter under CeilingDb (the limited peaks take some
  // loudness away, which the gain then makes up for).
  bool Limit = false;
  double GainDb = 0, CeilingDb = -1;
  // Asked between blocks: true ends the measuring early (its figure is then
  // of the part read).
  std::function<bool()> Stopped;
};

// Runs on the calling thread; the media libraries must be loaded.
TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, const TAnalysisOptions& AOptions);
// AStart and ALength in µs (ALength <= 0: to the end).
TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, int64_t AStart = 0, int64_t ALength = 0);

}  // namespace quorvel
