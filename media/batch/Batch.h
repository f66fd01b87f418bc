// One batch, as both programs run it: the rows queued on the task manager
// (one task per row, or one task joining every row), each task's output
// planned by TOutputPlanner, the end of each task noted, and after the run
// every output that was not finished removed, so that a stopped, failed or
// never-started task leaves nothing behind that looks like a result.
//
// Threads: made, queued and finished on the owner's thread; TaskEnded and
// TaskStarted may come from any thread (the task manager's delivery
// threads) and take the batch's lock. Queue sets the encoder's
// OnTaskStarting and OnTaskEnding until Finish: it notes which tasks started (a task stopped
// before it started wrote nothing) and creates each output's part file as
// its task starts, on the thread that starts it. A task that fails because
// its folder is full (no space left, or a file too large for it) has its
// part removed at once, and the tasks not yet started that would write into
// that folder end unstarted: the failed task's message says so, once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "media/batch/BatchRules.h"
#include "media/batch/OutputPlanner.h"
#include "media/loudness/Loudness.h"

namespace quorvel {

class TCustomEncoder;
class TNormalisingPlan;
struct TTerminateInfo;

// The loudness of the outputs.
enum class TLoudnessAction { Off, Measure, Normalise };
struct TBatchLoudness {
  TLoudnessAction Action = TLoudnessAction::Off;
  double TargetLufs = -18;
  double TruePeak = -1;  // dBTP
  // The rows of one source folder share one gain (a joined file is one
  // output whatever its sources).
  bool Album = false;
};

struct TBatchSettings {
  std::string Folder;
  TEarlierOutputs EarlierOutputs = TEarlierOutputs::Keep;
  // The outputs' names beneath Folder (see NamePattern.h); empty: each
  // output is named by its row's Title as it stands, in Folder itself.
  std::string NamePattern;
  bool PosixNames = false;  // names need not suit other systems' file systems
  bool Merge = false;
  int VolumePercent = 100;
  int JoinedFormatRow = 0;  // the row whose format the joined file takes
  // Refuse a source with no audio stream when it is queued, with a plain
  // reason, rather than let its run end with a message about output streams.
  bool RequireAudio = false;
  // Decode each lossless output when its task has ended and compare it with
  // its source; a difference fails the task (and its output goes).
  bool VerifyLossless = false;
  // Called with the file just before it is verified: the output under its
  // part file's name (tests change it).
  std::function<void(const std::string&)> BeforeVerify;
  // Measuring each output while it is encoded, or normalising it: the
  // normalising gain comes from a measuring pass over the sources that each
  // task (or the first of an album's) makes on its worker thread before it
  // encodes its first sample (see TNormalisingPlan).
  TBatchLoudness Loudness;
};

// The output name (beneath the folder, without extension) APattern gives
// ARow (see NamePattern.h): the row's own title is its {name}, so a row the
// user renamed keeps it; tags are read from the source when the row does
// not carry them. The window's example of a pattern uses it too, so what it
// shows is what the batch writes.
std::string PatternOutputTitle(const std::string& APattern, bool APosixNames, const TBatchRow& ARow);

// What could not be queued, and where it went wrong.
enum class TQueueStep {
  AddTask,      // the row's input could not be opened as a task, or its trim
                // starts at or past the end the probe found
  AddInput,     // a joined file's further input could not be opened
  ClaimOutput,  // no output name could be had
  SetOutput,    // the task manager refused the output
  JoinIncomplete,  // a joined file lacks one of its inputs: nothing is joined
  NoAudio,      // the source has no audio stream (only with RequireAudio)
};

extern const char kNoAudioReason[];
struct TQueueFailure {
  int Row = -1;  // -1 for the joined file as a whole
  TQueueStep Step = TQueueStep::AddTask;
  std::string Message;  // the task manager's or the system's reason
  std::string Output;   // the planned output, when there was one
};

struct TBatchItem {
  std::vector<int> Rows;  // the rows it reads: one, or every row of a joined file
  std::string Output;
  // Written by TaskEnded under the batch's lock; the owner reads them once
  // the run has ended.
  bool Ended = false;
  bool Started = false;  // the task manager began it (set as it starts, under the lock)
  std::chrono::steady_clock::time_point StartedAt;  // when it began (under the lock)
  bool Ok = false;
  bool Stopped = false;  // ended unfinished without an error
  std::string Error;     // why the batch failed a task its run finished (verification)
  // Loudness: the normalising gain given to the task (dB), and what the
  // output measured as it was encoded, with the frames the limiter lowered;
  // a note when a source could not be measured.
  double GainDb = 0;
  std::string LoudnessNote;
  std::shared_ptr<const TLoudnessMeter> Loudness;
  int64_t LimitedFrames = 0;
  double DeepestCutDb = 0;
  bool Tagged = false;  // its loudness tags were written (or tried)
  // The lossless check of a finished output, made on the worker that wrote
  // it as its task ended (under the lock); TaskEnded uses it.
  bool Checked = false;
  std::string CheckError;  // why the output is not the source's samples; empty: it is
};

// What an output measured as it was written: "-16.0 LUFS, LRA 5.2 LU, true
// peak -1.2 dBTP", and for a normalised one its gain and, when its peaks
// had to be limited to stay under the ceiling, by how much and how long;
// empty when nothing was measured.
std::string LoudnessSummary(const TBatchItem& AItem, bool ANormalised);

// A row not converted because its earlier output is newer (SkipNewer).
struct TSkippedRow {
  int Row = -1;
  std::string Output;
};

struct TBatchOutcome {
  int Done = 0;
  int Skipped = 0;  // rows whose earlier output stood for them (not tasks)
  int Failed = 0;   // tasks that ended with an error
  int Stopped = 0;  // tasks stopped, or never started
  int NotStarted = 0;  // of Stopped, those that never started: they wrote nothing
  std::vector<std::string> Removed;  // the unfinished outputs taken away
};

class TBatch {
public:
  TBatch(TBatchSettings ASettings, std::vector<TBatchRow> ARows);
  TBatch(const TBatch&) = delete;
  TBatch& operator=(const TBatch&) = delete;

  const TBatchSettings& Settings() const { return FSettings; }
  const std::vector<TBatchRow>& Rows() const { return FRows; }
  // More rows than one joined file can read.
  bool TooManyToJoin() const;

  // AOnFailure hears each row that cannot be queued and answers whether to
  // go on with the next; AOnNote hears why an output does not have its
  // plain name. A row that fails leaves no task and no output behind.
  // Returns whether every row was queued. The encoder's task list must be
  // empty.
  using TFailureHandler = std::function<bool(const TQueueFailure&)>;
  using TNoteHandler = std::function<void(const std::string&)>;
  // AOnSkip hears each row that is not converted because its output is
  // newer (SkipNewer); such a row makes no task.
  using TSkipHandler = std::function<void(const TSkippedRow&)>;
  bool Queue(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote,
             const TSkipHandler& AOnSkip = {});

  // The output name (beneath the folder, without extension) a row gets
  // before the rules that keep outputs apart: the pattern's, or its Title.
  std::string OutputTitle(const TBatchRow& ARow) const;
  // How many rows' plain output names stand in the folder already (before
  // queueing: what the window asks about). A joined file is one name.
  int ExistingOutputs() const;
  const std::vector<TSkippedRow>& Skipped() const { return FSkipped; }

  // The queued tasks, by task index.
  const std::vector<TBatchItem>& Items() const { return FItems; }
  // The end of one task (any thread); the run's final event is ignored.
  // A finished output is published under its name here (on the calling
  // thread, outside the batch's lock), after, with VerifyLossless, a
  // lossless one was checked (on the worker that wrote it, as its task
  // ended: the decode of source and output is that worker's work, not the
  // caller's; here only when the task ended elsewhere); with loudness
  // tags, the output gets them once published (an album's outputs all at
  // once, at the end of its last task).
  // Returns why a finished task failed after all (the check, a file that
  // took its name meanwhile, or tags that could not be written), empty when
  // it did not.
  std::string TaskEnded(const TTerminateInfo& AInfo);
  // Whether task ATask has started (any thread): a task that ends without
  // having started was never written.
  bool TaskStarted(int ATask);
  // When task ATask started (any thread); the clock's zero when it did not.
  std::chrono::steady_clock::time_point StartedAt(int ATask);
  // After the run, or instead of it: counts the ends and removes every
  // output whose task did not finish. Call once no task runs.
  TBatchOutcome Finish();

private:
  bool QueueRows(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote,
                 const TSkipHandler& AOnSkip);
  bool Verified(const TBatchItem& AItem) const;
  // Decodes a finished item's source and written output and compares them;
  // why they differ, empty when they do not.
  std::string CheckOutput(const TBatchItem& AItem) const;
  bool QueueJoined(TCustomEncoder& AEncoder, const TFailureHandler& AOnFailure, const TNoteHandler& AOnNote);
  // The normalising gains: which rows share one, measured later by the
  // tasks themselves.
  void PlanNormalising();
  void SetLoudness(TOutputOptions& AOutput, size_t ARow) const;
  std::shared_ptr<TNormalisingPlan> FPlan;  // set by Queue; shared with the tasks
  // Loudness tags: an output's, with its album's figure in album mode.
  struct TTagJob {
    size_t Item = 0;
    std::string Output;
    TLoudness Track;
    bool HasAlbum = false;
    TLoudness Album;
  };
  // The outputs of the album of item AItem, once all of its tasks have
  // ended (under FLock); in album mode an album is the rows of one source
  // folder, otherwise each output is its own.
  std::vector<TTagJob> TagJobsAfter(size_t AItem);
  std::string AlbumKey(size_t AItem) const;
  // Each item's album, and each album's items: made by the first
  // TagJobsAfter (under FLock), once every task is queued.
  std::vector<size_t> FAlbumOf;
  std::vector<std::vector<size_t>> FAlbumMembers;
  // Writes the tags (outside FLock); AError with the failures added.
  std::string TagOutputs(const std::vector<TTagJob>& AJobs, size_t AItem, std::string AError);

  const TBatchSettings FSettings;
  const std::vector<TBatchRow> FRows;
  TOutputPlanner FPlanner;
  // The encoder whose OnTaskStarting and OnTaskEnding this batch set (until Finish).
  TCustomEncoder* FEncoder = nullptr;
  // The text of a task that failed because its folder is full (or takes no
  // file that large), and the folder noted as such; empty for other ends.
  std::string FolderFull(const TBatchItem& AItem, int AError);

  std::mutex FLock;  // guards the start and end fields of FItems, and FFullFolders
  std::vector<TBatchItem> FItems;
  // Output folders where a write failed for want of space: the tasks that
  // would write there next are not started (they cannot succeed).
  std::set<std::string> FFullFolders;  // FLock
  std::set<std::string> FFullFoldersTold;  // FLock; those a message named already
  std::vector<TSkippedRow> FSkipped;  // the owner's thread
};

}  // namespace quorvel
