// The gains of a normalising batch: one constant gain per output, or per
// album (the rows of one source folder) in album mode, or one for a joined
// file. A gain is measured when the first output that needs it starts
// encoding, on that task's worker thread (never on the thread that queued
// the batch, which may be a window's), from the sources as the encoder will
// get them (the output's channel count); the other outputs of its album
// wait for it. When the gain would push the true peak over the ceiling,
// the limiter takes some loudness with the peaks it lowers: a second pass
// measures the sources through gain and limiter, and the gain is raised
// once by what they lost.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/loudness/Loudness.h"

namespace quorvel {

class TNormalisingPlan : public std::enable_shared_from_this<TNormalisingPlan> {
 public:
  struct TSource {
    std::string File;
    int64_t Start = 0, Length = 0;  // µs; Length 0: to the end
    std::string Group;              // the sources of one group share a gain
  };
  TNormalisingPlan(std::vector<TSource> ASources, double ATargetLufs, double ACeilingDb);

  // What the output of source ASource asks for its gain.
  std::shared_ptr<TNormalisingGain> GainFor(size_t ASource);

  // Once the output of ASource ended: the gain its group got (dB) and a
  // note when something went wrong (a source that could not be measured).
  double GroupGain(size_t ASource);
  std::string GroupNote(size_t ASource);

 private:
  double Gain(size_t AGroup, int AChannels, const std::function<bool()>& AStopped);
  struct TGroup {
    std::vector<size_t> Sources;
    bool Busy = false, Done = false;
    double Gain = 0;
    std::string Note;
  };
  class TSourceGain;
  const std::vector<TSource> FSources;
  const double FTarget, FCeiling;
  std::vector<size_t> FGroupOf;  // by source
  std::mutex FLock;              // guards the groups' Busy, Done, Gain, Note
  std::condition_variable FMeasured;
  std::vector<TGroup> FGroups;
};

}  // namespace quorvel
