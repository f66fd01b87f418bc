#include "media/batch/Batch.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <map>
#include <utility>

#include "media/batch/LosslessCheck.h"
#include "media/batch/LoudnessAnalysis.h"
#include "media/batch/LoudnessTagWriter.h"
#include "media/batch/NormalisingPlan.h"
#include "media/batch/NamePattern.h"
#include "media/batch/SourceTags.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"

namespace quorvel {

const char kNoAudioReason[] = "the file has no audio to convert";

namespace {

bool HasAudio(const TCustomEncoder& AEncoder, int ATask, int AInput) {
  return AEncoder.TaskInput(ATask, AInput).HasAudio;
}

// What the encoder could not take of the row's choices, and what it uses
// instead, for the front end to show with the row.
void TellAudioFit(const TCustomEncoder& AEncoder, int ATask, const std::string& AName,
                  const TBatch::TNoteHandler& AOnNote) {
  for (const std::string& note : AEncoder.Tasks(ATask)->AudioFitNotes()) AOnNote(AName + ": " + note);
}

// Why the row's trim leaves nothing to convert: its start at or past the
// end of a source whose length (µs, 0 unknown) the probe found; empty when
// it does not. Converting it would give a file with no sound, said to be
// done.
std::string StartPastEnd(const TBatchRow& ARow, int64_t ADuration) {
  if (ARow.TimeStart == kNoTime || ADuration <= 0 || ARow.TimeStart < ADuration) return {};
  return Format("%s: the start %s is at or past the end of the file (%s)", ARow.Source.c_str(),
                TimeText(ARow.TimeStart).c_str(), TimeText(ADuration).c_str());
}

std::string FolderOf(const std::string& APath) {
  const std::string folder = std::filesystem::path(APath).parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

// A write that failed for want of room where the output goes.
bool IsFolderFull(int AError) { return AError == ENOSPC || AError == EFBIG || AError == EDQUOT; }

std::vector<std::string> Sources(const std::vector<TBatchRow>& ARows) {
  std::vector<std::string> sources;
  for (const TBatchRow& row : ARows) sources.push_back(row.Source);
  return sources;
}

std::string Figure(double AValue) { return std::isfinite(AValue) ? Format("%.1f", AValue) : std::string("-inf"); }

}  // namespace

std::string LoudnessSummary(const TBatchItem& AItem, bool ANormalised) {
  if (!AItem.Loudness) return {};
  const TLoudness r = AItem.Loudness->Result();
  std::string text = Figure(r.Integrated) + " LUFS, LRA " + Figure(r.Range) + " LU, true peak " + Figure(r.TruePeak) +
                     " dBTP";
  if (ANormalised) {
    text += Format(", gain %+.2f dB", AItem.GainDb);
    if (AItem.LimitedFrames > 0)
      text += Format("; the target needed its peaks limited by up to %.1f dB over %.3f s", -AItem.DeepestCutDb,
                     static_cast<double>(AItem.LimitedFrames) / std::max(AItem.Loudness->Rate(), 1));
  }
  if (!AItem.LoudnessNote.empty()) text += "; " + AItem.LoudnessNote;
  return text;
}

TBatch::TBatch(TBatchSettings ASettings, std::vector<TBatchRow> ARows)
    : FSettings(std::move(ASettings)),
      FRows(std::move(ARows)),
      FPlanner(FSettings.Folder, FSettings.EarlierOutputs, Sources(FRows)) {}

bool TBatch::TooManyToJoin() const { return FSettings.Merge && FRows.size() > static_cast<size_t>(kMaxMergedFiles); }

std::string PatternOutputTitle(const std::string& APattern, bool APosixNames, const TBatchRow& ARow) {
  TNameFields fields = PathFields(ARow.Source, ARow.Root);
  // The row's own title is its name: a row the user renamed keeps it.
  if (!ARow.Title.empty()) fields.Name = ARow.Title;
  if (PatternUsesTags(APattern)) fields.Tags = ARow.TagsKnown ? ARow.Tags : ReadSourceTags(ARow.Source);
  return ExpandNamePattern(APattern, fields, APosixNames);
}

std::string TBatch::OutputTitle(const TBatchRow& ARow) const {
  if (FSettings.NamePattern.empty()) return ARow.Title;
  return PatternOutputTitle(FSettings.NamePattern, FSettings.PosixNames, ARow);
}

int TBatch::ExistingOutputs() const {
  if (FSettings.Merge) return FRows.empty() ? 0 : FPlanner.PlainExists("Joined", FRows[0].Format.Ext) ? 1 : 0;
  int existing = 0;
  for (const TBatchRow& row : FRows) existing += FPlanner.PlainExists(OutputTitle(row), row.Format.Ext) ? 1 : 0;
  return existing;
}

bool TBatch::Queue(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote,
                   const TSkipHandler& AOnSkip) {
  if (FSettings.VerifyLossless) {
    bool lossy = false;
    for (const TBatchRow& row : FRows) lossy = lossy || !IsLosslessCodec(row.Format.Codec);
    if (FSettings.Merge)
      AOnNote("a joined file is not verified (it has no one source to compare with)");
    else if (FSettings.VolumePercent != 100 || FSettings.Loudness.Action == TLoudnessAction::Normalise)
      AOnNote("outputs are not verified when the volume is changed");
    else if (lossy)
      AOnNote("lossy outputs are not verified");
  }
  // Part files a killed run left in the folder are no one's any more.
  for (const std::string& leftover : RemoveLeftoverParts(FSettings.Folder))
    AOnNote("removed " + leftover + ", left by a conversion that was interrupted");
  if (FSettings.Loudness.Action == TLoudnessAction::Normalise) PlanNormalising();
  FEncoder = &AEncoder;
  AEncoder.OnTaskStarting = [this](TObject*, int ATaskIndex) {
    if (ATaskIndex < 0 || static_cast<size_t>(ATaskIndex) >= FItems.size()) return;
    TBatchItem& item = FItems[static_cast<size_t>(ATaskIndex)];
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FFullFolders.count(FolderOf(item.Output))) throw ETaskDeclined();
      item.Started = true;
      item.StartedAt = std::chrono::steady_clock::now();
    }
    // The output's part file is made now (see TOutputPlanner::Create); the
    // output path is not changed once queued.
    FPlanner.Create(item.Output);
  };
  // On the thread where the task ended: for a task that ran, its worker.
  AEncoder.OnTaskEnding = [this](TObject*, const TTerminateInfo& AInfo) {
    if (AInfo.TaskIndex < 0 || static_cast<size_t>(AInfo.TaskIndex) >= FItems.size()) return;
    TBatchItem& item = FItems[static_cast<size_t>(AInfo.TaskIndex)];
    if (IsFolderFull(AInfo.WriteError)) {
      // Noted before the next task starts, which would write there too.
      std::lock_guard<std::mutex> guard(FLock);
      FFullFolders.insert(FolderOf(item.Output));
    }
    // The check of a lossless output here, where the output was written:
    // the thread that handles the end (the window's user-interface thread)
    // then only publishes. The item's rows and output do not change once
    // queued.
    if (AInfo.Finished && !AInfo.Exception && Verified(item)) {
      std::string error = CheckOutput(item);
      std::lock_guard<std::mutex> guard(FLock);
      item.Checked = true;
      item.CheckError = std::move(error);
    }
  };
  return FSettings.Merge ? QueueJoined(AEncoder, AOnFailure, AOnNote)
                         : QueueRows(AEncoder, AOnFailure, AOnNote, AOnSkip);
}

bool TBatch::QueueRows(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote,
                       const TSkipHandler& AOnSkip) {
  bool all = true;
  // Each row that fails is undone before the handler decides whether to go on.
  auto failed = [&](int ARow, TQueueStep AStep, std::string AMessage, std::string AOutput = {}) {
    all = false;
    return AOnFailure({ARow, AStep, std::move(AMessage), std::move(AOutput)});
  };
  for (int i = 0; i < static_cast<int>(FRows.size()); ++i) {
    const TBatchRow& row = FRows[static_cast<size_t>(i)];
    // The name first: a row whose newer output stands for it is not even
    // opened, so a mirror run over a converted library costs a look at
    // each pair of files, whatever their size.
    TClaimedOutput claim;
    try {
      claim = FPlanner.Claim(OutputTitle(row), row.Format.Ext, row.Source);
    } catch (const std::exception& e) {
      if (!failed(i, TQueueStep::ClaimOutput, e.what())) return false;
      continue;
    }
    if (claim.Skip) {
      FSkipped.push_back({i, claim.Path});
      if (AOnSkip) AOnSkip(FSkipped.back());
      continue;
    }
    TInputOptions input;
    FillInputRecord(row, false, input);
    const int task = AEncoder.AddTask(row.Source, &input);
    if (task < 0) {
      FPlanner.Unclaim(claim.Path);
      if (!failed(i, TQueueStep::AddTask, AEncoder.LastErrMsg())) return false;
      continue;
    }
    if (FSettings.RequireAudio && !HasAudio(AEncoder, task, 0)) {
      FPlanner.Unclaim(claim.Path);
      AEncoder.RemoveTask(task);
      if (!failed(i, TQueueStep::NoAudio, kNoAudioReason)) return false;
      continue;
    }
    if (const std::string late = StartPastEnd(row, AEncoder.TaskInput(task, 0).Duration); !late.empty()) {
      FPlanner.Unclaim(claim.Path);
      AEncoder.RemoveTask(task);
      if (!failed(i, TQueueStep::AddTask, late)) return false;
      continue;
    }
    TOutputOptions output;
    FillOutputRecord(row, FSettings.VolumePercent, false, output);
    SetLoudness(output, static_cast<size_t>(i));
    output.FileName = claim.Path;
    output.WriteTo = TOutputPlanner::WritePath(claim.Path);
    std::string folderError;
    try {
      FPlanner.MakeFolders(claim.Path);
    } catch (const std::exception& e) {
      folderError = e.what();
    }
    if (!folderError.empty() || !AEncoder.SetOutputFile(task, claim.Path, &output)) {
      const std::string message = folderError.empty() ? AEncoder.LastErrMsg() : folderError;
      FPlanner.Remove(claim.Path);
      FPlanner.Unclaim(claim.Path);
      AEncoder.RemoveTask(task);
      if (!failed(i, TQueueStep::SetOutput, message, claim.Path)) return false;
      continue;
    }
    if (!claim.Note.empty()) AOnNote(claim.Note);
    TellAudioFit(AEncoder, task, row.Source, AOnNote);
    TBatchItem item;
    item.Rows = {i};
    item.Output = claim.Path;
    FItems.push_back(std::move(item));
  }
  return all;
}

bool TBatch::QueueJoined(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote) {
  // A joined file that silently lacks one of its parts would be a wrong
  // result, so any unreadable input cancels the joined file.
  bool complete = true;
  for (int i = 0; i < static_cast<int>(FRows.size()); ++i) {
    const TBatchRow& row = FRows[static_cast<size_t>(i)];
    TInputOptions input;
    FillInputRecord(row, true, input);
    const bool first = AEncoder.TasksCount() == 0;
    const bool added = first ? AEncoder.AddTask(row.Source, &input) >= 0 : AEncoder.AddInputFile(0, row.Source, &input);
    if (!added) {
      complete = false;
      if (!AOnFailure({i, first ? TQueueStep::AddTask : TQueueStep::AddInput, AEncoder.LastErrMsg(), {}})) return false;
    } else if (FSettings.RequireAudio && !HasAudio(AEncoder, 0, AEncoder.TaskInputCount(0) - 1)) {
      complete = false;
      if (!AOnFailure({i, TQueueStep::NoAudio, kNoAudioReason, {}})) return false;
    }
  }
  if (!complete) {
    AOnFailure({-1, TQueueStep::JoinIncomplete, "every input must be readable", {}});
    return false;
  }
  const size_t formatRow =
      FSettings.JoinedFormatRow >= 0 && static_cast<size_t>(FSettings.JoinedFormatRow) < FRows.size()
          ? static_cast<size_t>(FSettings.JoinedFormatRow)
          : 0;
  const TBatchRow& row = FRows[formatRow];
  TClaimedOutput claim;
  try {
    claim = FPlanner.Claim("Joined", row.Format.Ext);
  } catch (const std::exception& e) {
    AOnFailure({-1, TQueueStep::ClaimOutput, e.what(), {}});
    return false;
  }
  TOutputOptions output;
  FillOutputRecord(row, FSettings.VolumePercent, true, output);
  // A joined file is one output: its gain is that of all its sources.
  SetLoudness(output, 0);
  output.FileName = claim.Path;
  output.WriteTo = TOutputPlanner::WritePath(claim.Path);
  if (!AEncoder.SetOutputFile(0, claim.Path, &output)) {
    const std::string message = AEncoder.LastErrMsg();
    FPlanner.Remove(claim.Path);
    AOnFailure({-1, TQueueStep::SetOutput, message, claim.Path});
    return false;
  }
  if (!claim.Note.empty()) AOnNote(claim.Note);
  TellAudioFit(AEncoder, 0, claim.Path, AOnNote);
  TBatchItem item;
  for (int i = 0; i < static_cast<int>(FRows.size()); ++i) item.Rows.push_back(i);
  item.Output = claim.Path;
  FItems.push_back(std::move(item));
  return true;
}

std::string TBatch::TaskEnded(const TTerminateInfo& AInfo) {
  if (AInfo.TaskIndex < 0 || static_cast<size_t>(AInfo.TaskIndex) >= FItems.size()) return {};
  const size_t index = static_cast<size_t>(AInfo.TaskIndex);
  const bool finished = AInfo.Finished && !AInfo.Exception;
  // The item's rows and output are not changed once queued.
  std::string error;
  const TBatchItem& ended = FItems[index];
  if (finished && Verified(ended)) {
    // Checked before it has its name: an output that fails never appears.
    bool checked = false;
    {
      std::lock_guard<std::mutex> guard(FLock);
      checked = ended.Checked;
      error = ended.CheckError;
    }
    if (!checked) error = CheckOutput(ended);
  }
  if (finished && error.empty()) {
    try {
      FPlanner.Publish(ended.Output);
    } catch (const EPartFile& e) {
      error = FolderFull(ended, e.Code);
      if (error.empty()) error = e.what();
    } catch (const std::exception& e) {
      error = e.what();
    }
  } else if (AInfo.Exception) {
    error = FolderFull(ended, AInfo.WriteError);
  }
  // Tags go into the published output: an album's are written when its
  // last task ends, into outputs that have had their names for a while.
  std::vector<TTagJob> tagging;
  {
    std::lock_guard<std::mutex> guard(FLock);
    TBatchItem& item = FItems[index];
    item.Ended = true;
    item.Ok = finished && error.empty();
    item.Stopped = !AInfo.Finished && !AInfo.Exception;
    item.Error = error;
    item.Loudness = AInfo.Loudness;
    item.LimitedFrames = AInfo.LimitedFrames;
    item.DeepestCutDb = AInfo.DeepestCutDb;
    if (FPlan && !item.Rows.empty()) {
      item.GainDb = FPlan->GroupGain(static_cast<size_t>(item.Rows[0]));
      item.LoudnessNote = FPlan->GroupNote(static_cast<size_t>(item.Rows[0]));
    }
    tagging = TagJobsAfter(index);
  }
  return TagOutputs(tagging, index, error);
}

std::string TBatch::AlbumKey(size_t AItem) const {
  const TBatchItem& item = FItems[AItem];
  if (!FSettings.Loudness.Album || FSettings.Merge || item.Rows.size() != 1) return "item " + std::to_string(AItem);
  return "folder " + std::filesystem::path(FRows[static_cast<size_t>(item.Rows[0])].Source).parent_path().string();
}

std::vector<TBatch::TTagJob> TBatch::TagJobsAfter(size_t AItem) {
  std::vector<TTagJob> jobs;
  if (FSettings.Loudness.Action != TLoudnessAction::Measure) return jobs;
  // An album's tags need all its outputs: they are written when its last
  // task ends, for every output of it at once.
  if (FAlbumOf.size() != FItems.size()) {
    // Once per batch: a library of thousands of rows would otherwise compare
    // every row's folder at every task's end.
    std::map<std::string, size_t> albums;
    FAlbumOf.clear();
    FAlbumMembers.clear();
    for (size_t i = 0; i < FItems.size(); ++i) {
      const auto [at, added] = albums.emplace(AlbumKey(i), FAlbumMembers.size());
      if (added) FAlbumMembers.emplace_back();
      FAlbumOf.push_back(at->second);
      FAlbumMembers[at->second].push_back(i);
    }
  }
  const std::vector<size_t>& members = FAlbumMembers[FAlbumOf[AItem]];
  for (const size_t i : members)
    if (!FItems[i].Ended) return jobs;
  std::vector<const TLoudnessMeter*> meters;
  for (const size_t i : members)
    if (FItems[i].Ok && FItems[i].Loudness) meters.push_back(FItems[i].Loudness.get());
  const bool album = FSettings.Loudness.Album && !FSettings.Merge;
  const TLoudness albumFigure = album ? TLoudnessMeter::Album(meters) : TLoudness{};
  for (const size_t i : members) {
    TBatchItem& item = FItems[i];
    if (!item.Ok || !item.Loudness || item.Tagged) continue;
    item.Tagged = true;
    jobs.push_back(TTagJob{i, item.Output, item.Loudness->Result(), album, albumFigure});
  }
  return jobs;
}

std::string TBatch::TagOutputs(const std::vector<TTagJob>& AJobs, size_t AItem, std::string AError) {
  // Outside the lock: each may rewrite a whole file. The outputs are
  // complete and no task writes them any more.
  for (const TTagJob& job : AJobs) {
    const std::string failure = WriteLoudnessTags(job.Output, job.Track, job.HasAlbum ? &job.Album : nullptr);
    if (failure.empty()) continue;
    const std::string reason = "the loudness tags could not be written: " + failure;
    {
      std::lock_guard<std::mutex> guard(FLock);
      FItems[job.Item].Ok = false;
      FItems[job.Item].Error = reason;
    }
    // An album member that ended earlier is named: its own line has gone.
    const std::string text = job.Item == AItem ? reason : job.Output + ": " + reason;
    AError += (AError.empty() ? "" : "; ") + text;
  }
  return AError;
}

void TBatch::SetLoudness(TOutputOptions& AOutput, size_t ARow) const {
  const TBatchLoudness& l = FSettings.Loudness;
  AOutput.MeasureLoudness = l.Action != TLoudnessAction::Off;
  AOutput.Normalise = l.Action == TLoudnessAction::Normalise;
  if (AOutput.Normalise && FPlan) AOutput.NormaliseGain = FPlan->GainFor(ARow);
  AOutput.TruePeakCeiling = l.TruePeak;
  // Normalising replaces the volume.
  if (AOutput.Normalise) AOutput.AudioVolume = 256;
}

void TBatch::PlanNormalising() {
  const TBatchLoudness& l = FSettings.Loudness;
  std::vector<TNormalisingPlan::TSource> sources;
  for (size_t i = 0; i < FRows.size(); ++i) {
    const TBatchRow& row = FRows[i];
    TNormalisingPlan::TSource s;
    s.File = row.Source;
    // A joined file reads its inputs whole.
    s.Start = !FSettings.Merge && row.TimeStart != kNoTime ? row.TimeStart : 0;
    s.Length = !FSettings.Merge && row.TimeEnd != kNoTime && row.TimeEnd >= 0 ? row.TimeEnd - s.Start : 0;
    // The groups that share a gain: everything when joined, the rows of
    // one folder in album mode, otherwise each row alone.
    s.Group = FSettings.Merge ? std::string("joined")
              : l.Album       ? "folder " + std::filesystem::path(row.Source).parent_path().string()
                              : "row " + std::to_string(i);
    sources.push_back(std::move(s));
  }
  FPlan = std::make_shared<TNormalisingPlan>(std::move(sources), l.TargetLufs, l.TruePeak);
}

std::string TBatch::FolderFull(const TBatchItem& AItem, int AError) {
  if (!IsFolderFull(AError)) return {};
  const std::string folder = FolderOf(AItem.Output);
  // The half-written file goes now: it holds space the other conversions
  // into the folder may need.
  FPlanner.Remove(AItem.Output);
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FFullFolders.insert(folder);
    first = FFullFoldersTold.insert(folder).second;
  }
  std::string text = AError == EFBIG
                         ? Format("File too large: no file this large can be written in the output folder %s", folder.c_str())
                         : AError == EDQUOT
                               ? Format("Disk quota exceeded in the output folder %s", folder.c_str())
                               : Format("No space left on device in the output folder %s", folder.c_str());
  text += "; the unfinished output was removed";
  if (first) text += ", and the files still waiting to be written there are not converted";
  return text;
}

bool TBatch::TaskStarted(int ATask) {
  if (ATask < 0 || static_cast<size_t>(ATask) >= FItems.size()) return false;
  std::lock_guard<std::mutex> guard(FLock);
  return FItems[static_cast<size_t>(ATask)].Started;
}

std::chrono::steady_clock::time_point TBatch::StartedAt(int ATask) {
  if (ATask < 0 || static_cast<size_t>(ATask) >= FItems.size()) return {};
  std::lock_guard<std::mutex> guard(FLock);
  return FItems[static_cast<size_t>(ATask)].StartedAt;
}

bool TBatch::Verified(const TBatchItem& AItem) const {
  // One row, converted whole or trimmed: a joined file has no one source.
  if (!FSettings.VerifyLossless || AItem.Rows.size() != 1 || FSettings.VolumePercent != 100 ||
      FSettings.Loudness.Action == TLoudnessAction::Normalise)
    return false;
  return IsLosslessCodec(FRows[static_cast<size_t>(AItem.Rows[0])].Format.Codec);
}

std::string TBatch::CheckOutput(const TBatchItem& AItem) const {
  const std::string written = TOutputPlanner::WritePath(AItem.Output);
  if (FSettings.BeforeVerify) FSettings.BeforeVerify(written);
  const TBatchRow& row = FRows[static_cast<size_t>(AItem.Rows[0])];
  int64_t length = kNoTime;
  if (row.TimeEnd != kNoTime && row.TimeEnd >= 0) length = row.TimeEnd - (row.TimeStart != kNoTime ? row.TimeStart : 0);
  const TLosslessCheck check = CheckLossless(row.Source, row.TimeStart, length, written);
  return check.Same ? std::string() : "verification failed: " + check.Reason;
}

TBatchOutcome TBatch::Finish() {
  if (FEncoder) {
    FEncoder->OnTaskStarting = nullptr;
    FEncoder->OnTaskEnding = nullptr;
  }
  FEncoder = nullptr;
  std::lock_guard<std::mutex> guard(FLock);
  TBatchOutcome outcome;
  outcome.Skipped = static_cast<int>(FSkipped.size());
  for (TBatchItem& item : FItems) {
    if (item.Ok) {
      ++outcome.Done;
      continue;
    }
    const bool stopped = item.Stopped || !item.Ended;
    ++(stopped ? outcome.Stopped : outcome.Failed);
    if (stopped && !item.Started) ++outcome.NotStarted;
    if (FPlanner.Remove(item.Output)) outcome.Removed.push_back(item.Output);
  }
  return outcome;
}

}  // namespace quorvel
