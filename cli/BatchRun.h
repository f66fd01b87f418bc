// One batch: the files turned into the task manager's tasks (one per file,
// or one joined task), run with N workers, watched until the end, and
// summed up. Ctrl-C is caught for the run's lifetime.
#pragma once

#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ProfileChoice.h"
#include "cli/ProgressDisplay.h"
#include "media/batch/Batch.h"
#include "media/encoder/FFEncode.h"

namespace quorvel::cli {

// One file of the command line as a row of the batch: the profile's
// codec, rates and channels and the command line's trims.
TBatchRow BatchRow(const TConversionSettings& ASettings, const TCliOptions& AOptions, const std::string& AFile);
// The output record of one file, filled by the batch rules the window
// program uses too.
void FillOutputRecord(const TConversionSettings& ASettings, const TCliOptions& AOptions, TOutputOptions& ARecord);

class TBatchRun {
public:
  TBatchRun(const TCliOptions& AOptions, const TConversionSettings& ASettings, TProgressDisplay& ADisplay);
  // Converts everything; returns the exit status.
  int Run();

private:
  struct TTaskView;
  // The output folder, created with its parents when missing (said on a
  // line); false after telling why it cannot be had.
  bool MakeOutputFolder();
  // Reports a file that could not be queued; the batch goes on without it.
  bool QueueFailed(const TBatch& ABatch, const TQueueFailure& AFailure);
  int64_t ExpectedDuration(const TCustomEncoder& AEncoder, int ATask) const;

  const TCliOptions& FOptions;
  const TConversionSettings& FSettings;
  TProgressDisplay& FDisplay;
};

}  // namespace quorvel::cli
