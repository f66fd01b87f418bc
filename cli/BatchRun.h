// One batch: the files turned into the task manager's tasks (one per file,
// or one joined task), run with N workers, watched until the end, and
// summed up. Ctrl-C is caught for the run's lifetime.
#pragma once

#include <cstdio>
#include <mutex>
#include <set>
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
TBatchRow BatchRow(const TConversionSettings& ASettings, const TCliOptions& AOptions, const std::string& AFile,
                   const std::string& ARoot = {});
// The output record of one file, filled by the batch rules the window
// program uses too.
void FillOutputRecord(const TConversionSettings& ASettings, const TCliOptions& AOptions, TOutputOptions& ARecord);

class TBatchRun {
public:
  // AJson: where the --json objects go (the standard output); AInput: the
  // standard input (--files-from -, the --delete-extra question).
  TBatchRun(const TCliOptions& AOptions, const TConversionSettings& ASettings, TProgressDisplay& ADisplay,
            std::FILE* AJson = stdout, std::FILE* AInput = stdin);
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
  // One --json object (any thread).
  void Json(const std::string& ASource, const std::string& AOutput, const char* AStatus, double ASeconds,
            const std::string& AReason);
  // --delete-extra: the files of the profile's type under the output
  // folder that none of AKept names; listed, and removed when allowed.
  // False when one could not be removed.
  bool DeleteExtra(const std::set<std::string>& AKept);

  const TCliOptions& FOptions;
  const TConversionSettings& FSettings;
  TProgressDisplay& FDisplay;
  std::FILE* FJson;
  std::FILE* FInput;
  std::mutex FJsonLock;  // one object a line, whole
};

}  // namespace quorvel::cli
