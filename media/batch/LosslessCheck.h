// The check of a lossless output against its source: both decoded (the
// source from the row's trim start, at the output's rate, channel count and
// sample format) and compared sample for sample, so that a file damaged
// between encoding and the end of the batch is caught while the source is
// still at hand.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// Whether a codec of a profile writes the source's samples unchanged
// (FLAC, ALAC, PCM, the source-depth PCM choice).
bool IsLosslessCodec(const std::string& ACodec);

struct TLosslessCheck {
  bool Same = false;
  // When not the same: why, naming the time of the first differing sample
  // in the output ("the output differs from the source at 00:00:01.250").
  std::string Reason;
};

// Compares AOutput with ASource from AStart (µs; kNoTime or 0: the
// beginning) for ALength µs (kNoTime or negative: to the source's end).
// Runs on the caller's thread; reads both files once.
TLosslessCheck CheckLossless(const std::string& ASource, int64_t AStart, int64_t ALength, const std::string& AOutput);

}  // namespace quorvel
