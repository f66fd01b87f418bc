#include "cli/BatchRun.h"
#include "cli/LoudnessReport.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>

#include "cli/JsonText.h"
#include "cli/SourceFiles.h"
#include "media/batch/FolderWalk.h"
#include "media/decoder/StatedLength.h"
#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

// A sample rate or channel count of the settings: 0 is the source's own.
std::string OriginalOr(int AValue) { return AValue > 0 ? std::to_string(AValue) : std::string("original"); }

// Ctrl-C presses since the handler was installed. Signals are the
// process's, so this is too; the handler only touches this lock-free
// counter and async-signal-safe calls.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  if (gInterrupts.fetch_add(1) >= 1) {
    static const char kText[] = "\nquorvel-convert: stopped at once\n";
    (void)!::write(STDERR_FILENO, kText, sizeof(kText) - 1);
    ::_exit(kExitInterrupted);
  }
}

// Catches SIGINT and SIGTERM while it lives, restoring the old handlers.
class TInterruptGuard {
public:
  TInterruptGuard() {
    gInterrupts = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &FOldInt);
    ::sigaction(SIGTERM, &action, &FOldTerm);
  }
  ~TInterruptGuard() {
    ::sigaction(SIGINT, &FOldInt, nullptr);
    ::sigaction(SIGTERM, &FOldTerm, nullptr);
  }
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;
  bool Interrupted() const { return gInterrupts.load() > 0; }

private:
  struct sigaction FOldInt {}, FOldTerm {};
};

std::string FileName(const std::string& APath) { return std::filesystem::path(APath).filename().string(); }

// What the output measured as it was written (with the loudness options).
std::string LoudnessNote(const TBatchItem& AItem, const TCliOptions& AOptions) {
  const std::string summary = LoudnessSummary(AItem, AOptions.Loudness == TLoudnessMode::Normalise);
  return summary.empty() ? summary : " (" + summary + ")";
}

// "FILE: reason", without naming the file twice when the reason starts
// with it already.
std::string ErrorLine(const std::string& AFile, const std::string& AReason) {
  if (AReason.rfind(AFile + ":", 0) == 0) return "error: " + AReason;
  return "error: " + AFile + ": " + (AReason.empty() ? std::string("failed") : AReason);
}



double SecondsSince(std::chrono::steady_clock::time_point AStart) {
  if (AStart == std::chrono::steady_clock::time_point()) return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - AStart).count();
}

std::string Lower(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

}  // namespace

TBatchRow BatchRow(const TConversionSettings& ASettings, const TCliOptions& AOptions, const std::string& AFile,
                   const std::string& ARoot) {
  TBatchRow row;
  row.Source = AFile;
  row.Root = ARoot;
  row.Title = TOutputPlanner::Title(AFile);
  row.Format = {ASettings.Ext, ASettings.Codec, ASettings.Channels, ASettings.SampleRate, ASettings.Bitrate,
                ASettings.Format};
  row.TimeStart = AOptions.Start;
  row.TimeEnd = AOptions.End;
  return row;
}

void FillOutputRecord(const TConversionSettings& ASettings, const TCliOptions& AOptions, TOutputOptions& ARecord) {
  quorvel::FillOutputRecord(BatchRow(ASettings, AOptions, std::string()), AOptions.Volume, AOptions.Merge, ARecord);
}

// What the display shows of a task.
struct TBatchRun::TTaskView {
  std::string Inputs;  // the file, or "N files" of a joined one
  std::string Name;    // shown in the bar
  int64_t Expected = 0;
  int64_t Converted = 0;  // µs of output reached; written by the events under the run's lock
};

TBatchRun::TBatchRun(const TCliOptions& AOptions, const TConversionSettings& ASettings, TProgressDisplay& ADisplay,
                     std::FILE* AJson, std::FILE* AInput)
    : FOptions(AOptions), FSettings(ASettings), FDisplay(ADisplay), FJson(AJson), FInput(AInput) {}

void TBatchRun::Json(const std::string& ASource, const std::string& AOutput, const char* AStatus, double ASeconds,
                     const std::string& AReason) {
  if (!FOptions.Json) return;
  const std::string line = Format("{\"source\": %s, \"output\": %s, \"status\": \"%s\", \"seconds\": %.3f, \"reason\": %s}\n",
                                  JsonText(ASource).c_str(), JsonText(AOutput).c_str(), AStatus, ASeconds,
                                  JsonText(AReason).c_str());
  std::lock_guard<std::mutex> guard(FJsonLock);
  std::fputs(line.c_str(), FJson);
  std::fflush(FJson);
}

bool TBatchRun::DeleteExtra(const std::set<std::string>& AKept) {
  namespace fs = std::filesystem;
  const TWalkResult outputs = WalkFolder(FOptions.OutputDir);
  std::vector<std::string> extra;
  const std::string ext = Lower(FSettings.Ext);
  for (const TFoundFile& f : outputs.Files) {
    // Only what this profile writes: a user's other files are never touched.
    if (Lower(fs::path(f.Path).extension().string()) != ext) continue;
    if (!AKept.count(fs::path(f.Path).lexically_normal().string())) extra.push_back(f.Path);
  }
  for (const std::string& path : extra) FDisplay.Line("extra: " + path);
  if (extra.empty()) return true;
  bool remove = FOptions.Yes;
  if (!remove && ::isatty(::fileno(FInput)) == 1) {
    FDisplay.Error(Format("remove these %zu file(s)? [y/N] ", extra.size()));
    char answer[16] = {};
    remove = std::fgets(answer, sizeof answer, FInput) && (answer[0] == 'y' || answer[0] == 'Y');
  }
  if (!remove) {
    FDisplay.Line(Format("%zu extra file(s) kept (--yes removes them)", extra.size()));
    return true;
  }
  bool all = true;
  for (const std::string& path : extra) {
    std::error_code error;
    if (fs::remove(path, error)) {
      FDisplay.Line("removed: " + path);
    } else {
      FDisplay.Error("error: cannot remove " + path + ": " + error.message());
      all = false;
    }
  }
  return all;
}

int64_t TBatchRun::ExpectedDuration(const TCustomEncoder& AEncoder, int ATask) const {
  int64_t total = 0;
  for (int i = 0; i < AEncoder.TaskInputCount(ATask); ++i) {
    const TTaskInputInfo& input = AEncoder.TaskInput(ATask, i);
    // What the header says counts: for a file cut short the libraries only
    // estimate the length from the bytes left, and the loss would go unseen.
    const int64_t duration = std::max(input.Duration, StatedLength(input.FileName));
    if (duration <= 0) return 0;
    total += duration;
  }
  if (FOptions.Start != kNoTime) total = std::max<int64_t>(0, total - FOptions.Start);
  if (FOptions.End != kNoTime)
    total = std::min(total, FOptions.End - (FOptions.Start != kNoTime ? FOptions.Start : 0));
  return total;
}

bool TBatchRun::QueueFailed(const TBatch& ABatch, const TQueueFailure& AFailure) {
  const std::string file = AFailure.Row >= 0 ? ABatch.Rows()[static_cast<size_t>(AFailure.Row)].Source : std::string();
  if (AFailure.Step != TQueueStep::JoinIncomplete) Json(file, AFailure.Output, "failed", 0, AFailure.Message);
  switch (AFailure.Step) {
    case TQueueStep::AddTask:
    case TQueueStep::AddInput:
    case TQueueStep::NoAudio:
      FDisplay.Error(ErrorLine(file, AFailure.Message));
      break;
    case TQueueStep::ClaimOutput:
      FDisplay.Error(file.empty() ? "error: " + AFailure.Message : ErrorLine(file, AFailure.Message));
      break;
    case TQueueStep::SetOutput:
      if (file.empty())
        FDisplay.Error("error: cannot set output file (merge) " + AFailure.Output + ": " + AFailure.Message);
      else
        FDisplay.Error(ErrorLine(file, "cannot set output file " + AFailure.Output + ": " + AFailure.Message));
      break;
    case TQueueStep::JoinIncomplete:
      FDisplay.Error("error: nothing joined: " + AFailure.Message);
      break;
  }
  return true;
}

bool TBatchRun::MakeOutputFolder() {
  namespace fs = std::filesystem;
  const std::string& folder = FOptions.OutputDir;
  std::error_code error;
  if (fs::is_directory(folder, error)) return true;
  if (fs::exists(fs::symlink_status(folder, error))) {
    FDisplay.Error("error: cannot create output folder " + folder + ": it exists and is not a folder");
    return false;
  }
  error.clear();
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder, error)) {
    FDisplay.Error("error: cannot create output folder " + folder + ": " +
                   (error ? error.message() : std::string("it is not a folder")));
    return false;
  }
  FDisplay.Line("note: created output folder " + folder);
  return true;
}

int TBatchRun::Run() {
  TWalkResult sources;
  try {
    sources = GatherSources(FOptions, FInput);
  } catch (const EUsage& e) {
    FDisplay.Error(std::string("quorvel-convert: ") + e.what());
    return kExitUsage;
  }
  if (!MakeOutputFolder()) return kExitUsage;
  // What the walk could not do: a folder not read loses files (the run
  // fails); a loop loses nothing (its files are walked once).
  int walkFailures = 0;
  for (const TWalkProblem& problem : sources.Problems) {
    if (problem.Reason == "symbolic link loop") {
      FDisplay.Error("warning: " + problem.Path + ": symbolic link loop (not followed)");
      continue;
    }
    ++walkFailures;
    if (problem.Reason == "is a folder")
      FDisplay.Error("error: " + problem.Path + ": is a folder (--recursive converts the files beneath it)");
    else
      FDisplay.Error("error: " + problem.Path + ": cannot read the folder: " + problem.Reason);
    Json(problem.Path, "", "failed", 0, problem.Reason);
  }
  std::vector<TBatchRow> rows;
  for (const TFoundFile& file : sources.Files) rows.push_back(BatchRow(FSettings, FOptions, file.Path, file.Root));
  const size_t rowCount = rows.size();
  TBatchSettings settings;
  settings.Folder = FOptions.OutputDir;
  switch (FOptions.Existing) {
    case TCliOptions::TExisting::Rename: settings.EarlierOutputs = TEarlierOutputs::Keep; break;
    case TCliOptions::TExisting::Replace: settings.EarlierOutputs = TEarlierOutputs::Replace; break;
    case TCliOptions::TExisting::Skip: settings.EarlierOutputs = TEarlierOutputs::SkipNewer; break;
  }
  settings.NamePattern = FOptions.NamePattern.value_or(std::string());
  settings.PosixNames = FOptions.PosixNames;
  settings.Merge = FOptions.Merge;
  settings.VolumePercent = FOptions.Volume;
  settings.RequireAudio = true;
  settings.VerifyLossless = FOptions.Verify;
  settings.Loudness.Action = FOptions.Loudness == TLoudnessMode::Off    ? TLoudnessAction::Off
                             : FOptions.Loudness == TLoudnessMode::Tags ? TLoudnessAction::Measure
                                                                        : TLoudnessAction::Normalise;
  settings.Loudness.TargetLufs = FOptions.TargetLufs;
  settings.Loudness.TruePeak = FOptions.TruePeak;
  settings.Loudness.Album = FOptions.Album;
  TBatch batch(settings, std::move(rows));

  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = false;
  encoder.SetProgressInterval(250);
  encoder.CustomMaxFiles = kMaxMergedFiles;

  const bool allQueued = rowCount == 0 || batch.Queue(
      encoder, [&](const TQueueFailure& AFailure) { return QueueFailed(batch, AFailure); },
      [&](const std::string& ANote) { FDisplay.Line("note: " + ANote); },
      [&](const TSkippedRow& ASkipped) {
        const std::string& source = batch.Rows()[static_cast<size_t>(ASkipped.Row)].Source;
        FDisplay.Line("skipped: " + source + " -> " + ASkipped.Output + " (newer than its source)");
        Json(source, ASkipped.Output, "skipped", 0, "the output is newer than its source");
      });
  const std::vector<TBatchItem>& items = batch.Items();
  const int setupFailures =
      walkFailures + (FOptions.Merge ? (allQueued ? 0 : 1)
                                     : static_cast<int>(rowCount - items.size() - batch.Skipped().size()));
  std::vector<TTaskView> views;
  for (size_t task = 0; task < items.size(); ++task) {
    TTaskView view;
    view.Inputs = FOptions.Merge ? Format("%zu files", items[task].Rows.size()) : batch.Rows()[items[task].Rows[0]].Source;
    view.Name = FileName(FOptions.Merge ? items[task].Output : view.Inputs);
    view.Expected = ExpectedDuration(encoder, static_cast<int>(task));
    views.push_back(std::move(view));
  }

  // The events' state: views[].Converted and runEnded.
  std::mutex lock;
  std::condition_variable changed;
  bool runEnded = false;
  bool stopRequested = false;  // main thread only

  encoder.OnProgress = [&](TObject*, const TProgressInfo* AInfo) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (AInfo->TaskIndex >= 0 && static_cast<size_t>(AInfo->TaskIndex) < views.size()) {
        TTaskView& view = views[AInfo->TaskIndex];
        view.Converted = std::max(view.Converted, AInfo->CurrentDuration);
      }
    }
    FDisplay.Progress(AInfo->TaskIndex, AInfo->CurrentDuration, AInfo->TotalDuration);
  };
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& AInfo) {
    if (AInfo.TaskIndex < 0) {
      std::lock_guard<std::mutex> guard(lock);
      runEnded = true;
      changed.notify_all();
      return;
    }
    if (static_cast<size_t>(AInfo.TaskIndex) >= views.size()) return;
    const std::string failure = batch.TaskEnded(AInfo);
    // The views' texts and the items' outputs are not changed during the run.
    const std::string& inputs = views[AInfo.TaskIndex].Inputs;
    const std::string& output = items[AInfo.TaskIndex].Output;
    FDisplay.TaskEnded(AInfo.TaskIndex);
    const double seconds = SecondsSince(batch.StartedAt(AInfo.TaskIndex));
    if (!failure.empty()) {
      FDisplay.Error(ErrorLine(inputs, failure));
      Json(inputs, output, "failed", seconds, failure);
    } else if (AInfo.Finished && !AInfo.Exception) {
      FDisplay.Line("done: " + inputs + " -> " + output + LoudnessNote(items[AInfo.TaskIndex], FOptions));
      Json(inputs, output, "done", seconds, "");
      int64_t reached = 0;
      {
        // The job's last progress report came before its end.
        std::lock_guard<std::mutex> guard(lock);
        reached = views[AInfo.TaskIndex].Converted;
      }
      const std::string shortfall = ShortSourceWarning(views[AInfo.TaskIndex].Expected, reached);
      if (!shortfall.empty()) FDisplay.Error("warning: " + inputs + ": " + shortfall);
    } else if (AInfo.Exception) {
      FDisplay.Error(ErrorLine(inputs, AInfo.ExceptionMsg));
      Json(inputs, output, "failed", seconds, AInfo.ExceptionMsg);
    } else if (!batch.TaskStarted(AInfo.TaskIndex)) {
      FDisplay.Line("not started: " + inputs);
      Json(inputs, output, "failed", 0, "not started");
    } else {
      FDisplay.Line("stopped: " + inputs + " (unfinished output removed)");
      Json(inputs, output, "failed", seconds, "stopped");
    }
  };

  std::vector<std::string> names;
  std::vector<int64_t> weights;
  for (const TTaskView& view : views) {
    names.push_back(view.Name);
    weights.push_back(view.Expected);
  }
  if (!items.empty())
    FDisplay.Line(Format("converting %zu file(s) to %s (%s, %d bit/s, %s Hz, %s channel(s)) with %d job(s)",
                         FOptions.Merge ? rowCount : items.size(), FSettings.Title.c_str(),
                         FSettings.Codec.c_str(), FSettings.Bitrate, OriginalOr(FSettings.SampleRate).c_str(),
                         OriginalOr(FSettings.Channels).c_str(), FOptions.Jobs));
  FDisplay.Begin(names, weights);
  {
    TInterruptGuard interrupts;
    if (!items.empty()) {
      encoder.Start(FOptions.Jobs);
      std::unique_lock<std::mutex> guard(lock);
      while (!runEnded) {
        changed.wait_for(guard, std::chrono::milliseconds(200));
        if (runEnded) break;
        if (interrupts.Interrupted() && !stopRequested) {
          stopRequested = true;
          guard.unlock();
          FDisplay.Error("stopping (press Ctrl-C again to quit at once)");
          encoder.Stop(false);
          guard.lock();
          continue;
        }
        guard.unlock();
        FDisplay.Tick();
        guard.lock();
      }
    }
    stopRequested = stopRequested || interrupts.Interrupted();
  }
  FDisplay.End();
  try {
    encoder.ClearTasks();
  } catch (const std::exception&) {
    // The run has ended; the tasks go with the encoder.
  }

  // Every event has been delivered: what did not finish goes.
  const TBatchOutcome outcome = batch.Finish();
  int64_t converted = 0;
  for (size_t task = 0; task < items.size(); ++task)
    if (items[task].Ok) converted += views[task].Converted;
  const int failed = setupFailures + outcome.Failed;
  const double seconds = FDisplay.ElapsedSeconds();
  const double speed = seconds > 0 ? static_cast<double>(converted) / 1e6 / seconds : 0;
  const int stopped = outcome.Stopped - outcome.NotStarted;
  FDisplay.Line(Format("%d done, %s%d failed%s%s, %.1f s, %.1fx real time", outcome.Done,
                       outcome.Skipped ? Format("%d skipped, ", outcome.Skipped).c_str() : "", failed,
                       stopped ? Format(", %d stopped", stopped).c_str() : "",
                       outcome.NotStarted ? Format(", %d not started", outcome.NotStarted).c_str() : "", seconds,
                       speed));
  if (stopRequested) return kExitInterrupted;
  bool extrasGone = true;
  if (FOptions.DeleteExtra) {
    // Every name a source maps to stays, also a source that failed this
    // time: its earlier output is still its own.
    std::set<std::string> kept;
    auto keep = [&](const std::string& APath) {
      kept.insert(std::filesystem::path(APath).lexically_normal().string());
    };
    for (const TBatchItem& item : items) keep(item.Output);
    for (const TSkippedRow& skipped : batch.Skipped()) keep(skipped.Output);
    for (const TBatchRow& row : batch.Rows())
      keep((std::filesystem::path(FOptions.OutputDir) / (batch.OutputTitle(row) + row.Format.Ext)).string());
    extrasGone = DeleteExtra(kept);
  }
  return failed == 0 && outcome.Stopped == 0 && extrasGone ? kExitOk : kExitFailed;
}

}  // namespace quorvel::cli
