#include "app/conversion/RowStatusTracker.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "media/batch/Batch.h"
#include "media/batch/BatchRules.h"
#include "media/encoder/FFEncode.h"

namespace quorvel {

void TRowStatusTracker::Begin(const std::vector<int>& AListRows, bool AResetAll) {
  FBatchRows.clear();
  FTasks.clear();
  if (AResetAll)
    for (int i = 0; i < FRows.Count(); ++i)
      if (FRows.At(i).Conversion.State != TRowState::None) FRows.SetStatus(i, {});
  for (const int row : AListRows) {
    const uint64_t id = FRows.At(row).Id;
    // Each row must be found again by its id alone, before anything runs
    // (IndexOfId throws for id 0 and for an id two rows hold).
    if (FRows.IndexOfId(id) != row)
      throw std::logic_error("row status: list row " + std::to_string(row) + " is not found by its id");
    FBatchRows.push_back(id);
    if (FRows.At(row).Conversion.State != TRowState::None) FRows.SetStatus(row, {});
  }
}

void TRowStatusTracker::Queued(const std::vector<TBatchItem>& AItems) {
  FTasks.clear();
  for (const TBatchItem& item : AItems) {
    TTask task;
    for (const int batchRow : item.Rows) {
      if (batchRow < 0 || static_cast<size_t>(batchRow) >= FBatchRows.size()) continue;
      const uint64_t id = FBatchRows[static_cast<size_t>(batchRow)];
      task.Rows.push_back(id);
      const int index = FRows.IndexOfId(id);
      if (index >= 0) task.Expected += std::max<int64_t>(FRows.At(index).TrimmedLength, 0);
    }
    FTasks.push_back(std::move(task));
  }
  for (const TTask& task : FTasks) SetTaskStatus(task, {TRowState::Waiting, 0, {}});
}

void TRowStatusTracker::Skipped(int ABatchRow) {
  if (ABatchRow < 0 || static_cast<size_t>(ABatchRow) >= FBatchRows.size()) return;
  const int index = FRows.IndexOfId(FBatchRows[static_cast<size_t>(ABatchRow)]);
  if (index >= 0) FRows.SetStatus(index, {TRowState::Skipped, 0, {}});
}

void TRowStatusTracker::QueueFailed(int ABatchRow, const QString& AReason) {
  for (const uint64_t id : FBatchRows) {
    const int index = FRows.IndexOfId(id);
    if (index >= 0) FRows.SetStatus(index, {});
  }
  if (ABatchRow >= 0 && static_cast<size_t>(ABatchRow) < FBatchRows.size()) {
    const int index = FRows.IndexOfId(FBatchRows[static_cast<size_t>(ABatchRow)]);
    if (index >= 0) FRows.SetStatus(index, {TRowState::Failed, 0, AReason});
  }
}

int TRowStatusTracker::ListRow(int ATask) const {
  if (ATask < 0 || static_cast<size_t>(ATask) >= FTasks.size() || FTasks[static_cast<size_t>(ATask)].Rows.empty())
    return -1;
  return FRows.IndexOfId(FTasks[static_cast<size_t>(ATask)].Rows.front());
}

void TRowStatusTracker::Progress(int ATask, int64_t ACurrent, int64_t ATotal) {
  if (ATask < 0 || static_cast<size_t>(ATask) >= FTasks.size()) return;
  TTask& task = FTasks[static_cast<size_t>(ATask)];
  if (task.Ended) return;  // a late report does not undo the end
  if (ATotal > 0) {
    // The weights stay as queued while the run goes on: a weight changed
    // under the other tasks' fractions would move the batch's sum back.
    // Only a task whose rows' length was unknown takes the run's.
    if (task.Expected <= 0) task.Expected = ATotal;
    task.Fraction = std::clamp(static_cast<double>(ACurrent) / static_cast<double>(ATotal), 0.0, 1.0);
  }
  SetTaskStatus(task, {TRowState::Converting, static_cast<int>(task.Fraction * 100), {}});
}

void TRowStatusTracker::TaskEnded(const TTerminateInfo& AInfo, const QString& ADoneNote) {
  if (AInfo.TaskIndex < 0 || static_cast<size_t>(AInfo.TaskIndex) >= FTasks.size()) return;
  TTask& task = FTasks[static_cast<size_t>(AInfo.TaskIndex)];
  task.Ended = true;
  task.Fraction = 1;
  if (AInfo.Exception)
    SetTaskStatus(task, {TRowState::Failed, 0, QString::fromStdString(AInfo.ExceptionMsg)});
  else if (AInfo.Finished)
    SetTaskStatus(task, {TRowState::Done, 100, ADoneNote});
  else
    SetTaskStatus(task, {TRowState::Stopped, 0, {}});
}

void TRowStatusTracker::RunEnded() {
  for (TTask& task : FTasks) {
    if (task.Ended) continue;
    task.Ended = true;
    SetTaskStatus(task, {TRowState::Stopped, 0, {}});
  }
}

double TRowStatusTracker::BatchFraction() const {
  std::vector<int64_t> weights;
  std::vector<double> fractions;
  for (const TTask& task : FTasks) {
    weights.push_back(task.Expected);
    fractions.push_back(task.Fraction);
  }
  return quorvel::BatchFraction(weights, fractions);
}

void TRowStatusTracker::SetTaskStatus(const TTask& ATask, const TRowStatus& AStatus) {
  for (const uint64_t id : ATask.Rows) {
    const int index = FRows.IndexOfId(id);
    if (index < 0) continue;
    const TRowStatus& now = FRows.At(index).Conversion;
    // Progress comes every half second: an unchanged text is not redrawn.
    if (now.State == AStatus.State && now.Percent == AStatus.Percent && now.Reason == AStatus.Reason) continue;
    FRows.SetStatus(index, AStatus);
  }
}

}  // namespace quorvel
