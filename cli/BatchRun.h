// One batch: the files turned into the task manager's tasks (one per file,
// or one joined task), run with N workers, watched until the end, and
// summed up. Ctrl-C is caught for the run's lifetime.
#pragma once

#include <string>
#include <vector>

#include "cli/BatchPlan.h"
#include "cli/CliOptions.h"
#include "cli/ProfileChoice.h"
#include "cli/ProgressDisplay.h"
#include "media/encoder/FFEncode.h"

namespace quorvel::cli {

// The option records of one file, filled as the window program fills them
// for a row: the profile's codec, rates and channels, the volume as
// 256ths, video off, and the trims.
void FillOutputRecord(const TConversionSettings& ASettings, const TCliOptions& AOptions, TOutputOptions& ARecord);
// Percent to the engine's volume (256 = unchanged), rounded to the nearest.
int VolumeFromPercent(int APercent);

class TBatchRun {
public:
  TBatchRun(const TCliOptions& AOptions, const TConversionSettings& ASettings, TProgressDisplay& ADisplay);
  // Converts everything; returns the exit status.
  int Run();

private:
  struct TItem;
  bool QueueFiles(TCustomEncoder& AEncoder, TOutputPlanner& APlanner, std::vector<TItem>& AItems);
  bool QueueMerge(TCustomEncoder& AEncoder, TOutputPlanner& APlanner, std::vector<TItem>& AItems);
  int64_t ExpectedDuration(const TCustomEncoder& AEncoder, int ATask) const;

  const TCliOptions& FOptions;
  const TConversionSettings& FSettings;
  TProgressDisplay& FDisplay;
};

}  // namespace quorvel::cli
