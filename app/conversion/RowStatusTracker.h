// Each row's part in the running conversion, kept in the row itself (the
// list's Status column) so that it outlives the conversion dialog: waiting,
// converting with its percentage, done, failed with the reason, stopped.
// It also knows which list rows each task reads, so the dialog can name the
// row a progress report is about, and sums the batch's progress by duration.
//
// Rows are followed by their id: a row moved or removed while a run goes on
// (the dialog closes early after an error) never receives another row's
// status. Owner: the user-interface thread (the batch's events are handed
// to it there).
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "app/sources/SourceRows.h"

namespace quorvel {

struct TBatchItem;
struct TTerminateInfo;

class TRowStatusTracker {
public:
  explicit TRowStatusTracker(TSourceRows& ARows) : FRows(ARows) {}

  // A new run over AListRows (list indexes, in the batch's row order). With
  // AResetAll every other row's status goes too (a whole new batch);
  // otherwise the others keep theirs (one row converted again). Throws
  // std::logic_error when a row cannot be found by its id (none, or one
  // another row holds too): a programming fault, reported, never guessed.
  void Begin(const std::vector<int>& AListRows, bool AResetAll);
  // The tasks as queued: each reads batch rows ATasks[t].Rows. Their rows
  // wait.
  void Queued(const std::vector<TBatchItem>& AItems);
  // A row was not queued because its output is newer than its source.
  void Skipped(int ABatchRow);
  // A row could not be queued: it failed with AReason; since nothing runs,
  // the others return to no status.
  void QueueFailed(int ABatchRow, const QString& AReason);
  // The list row the task reads first; -1 when it is gone.
  int ListRow(int ATask) const;

  void Progress(int ATask, int64_t ACurrent, int64_t ATotal);
  // ADoneNote: for a finished task, what its output measured (the row's
  // tooltip).
  void TaskEnded(const TTerminateInfo& AInfo, const QString& ADoneNote = {});
  // The run is over: a row still waiting or converting never will.
  void RunEnded();

  // The batch's fraction done by duration (0 ... 1): ended tasks count whole.
  double BatchFraction() const;

private:
  struct TTask {
    std::vector<uint64_t> Rows;  // row ids
    int64_t Expected = 0;        // µs, the rows' lengths (the run's when those are unknown)
    double Fraction = 0;
    bool Ended = false;
  };
  void SetTaskStatus(const TTask& ATask, const TRowStatus& AStatus);

  TSourceRows& FRows;
  std::vector<uint64_t> FBatchRows;  // batch row -> row id
  std::vector<TTask> FTasks;
};

}  // namespace quorvel
