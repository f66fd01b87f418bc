#include "cli/BatchRun.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>

#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

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

// "FILE: reason", without naming the file twice when the reason starts
// with it already.
std::string ErrorLine(const std::string& AFile, const std::string& AReason) {
  if (AReason.rfind(AFile + ":", 0) == 0) return "error: " + AReason;
  return "error: " + AFile + ": " + (AReason.empty() ? std::string("failed") : AReason);
}

// A file with only video or data streams opens fine, but the run would end
// with a message about output streams that tells a user nothing.
bool HasAudio(const TCustomEncoder& AEncoder, int ATask, int AInput) {
  const AVFormatContext* ctx = AEncoder.Tasks(ATask)->InputFile(AInput);
  if (!ctx) return false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
  return false;
}

const char kNoAudio[] = "the file has no audio to convert";

}  // namespace

int VolumeFromPercent(int APercent) { return static_cast<int>(std::lround(APercent * 256.0 / 100.0)); }

void FillOutputRecord(const TConversionSettings& ASettings, const TCliOptions& AOptions, TOutputOptions& ARecord) {
  ARecord.FileExt = ASettings.Ext;
  ARecord.ForceFormat = ASettings.Format;
  ARecord.AudioCodec = ASettings.Codec;
  ARecord.AudioChannels = ASettings.Channels;
  ARecord.AudioSampleRate = ASettings.SampleRate;
  ARecord.AudioBitrate = ASettings.Bitrate;
  ARecord.AudioVolume = VolumeFromPercent(AOptions.Volume);
  ARecord.DisableVideo = true;
  if (AOptions.Merge) {
    ARecord.Join = true;
    return;
  }
  // An end without a start counts from the beginning.
  if (AOptions.End != kNoTime) ARecord.TimeLength = AOptions.End - (AOptions.Start != kNoTime ? AOptions.Start : 0);
  ARecord.Info.TimeStamp = 0;  // stamped with the time of conversion
}

struct TBatchRun::TItem {
  std::vector<std::string> Inputs;
  std::string Output;
  std::string Name;  // shown in the bar
  int64_t Expected = 0;
  // Written by the events (workers, delivery threads) under the run's lock.
  bool Ended = false;
  bool Ok = false;
  bool Stopped = false;   // ended unfinished without an error
  int64_t Converted = 0;  // µs of output reached
};

TBatchRun::TBatchRun(const TCliOptions& AOptions, const TConversionSettings& ASettings, TProgressDisplay& ADisplay)
    : FOptions(AOptions), FSettings(ASettings), FDisplay(ADisplay) {}

int64_t TBatchRun::ExpectedDuration(const TCustomEncoder& AEncoder, int ATask) const {
  const TFFmpeg* job = AEncoder.Tasks(ATask);
  int64_t total = 0;
  for (int i = 0; i < job->nb_input_files(); ++i) {
    const AVFormatContext* ctx = job->InputFile(i);
    if (!ctx || ctx->duration <= 0) return 0;
    total += ctx->duration;
  }
  if (FOptions.Start != kNoTime) total = std::max<int64_t>(0, total - FOptions.Start);
  if (FOptions.End != kNoTime)
    total = std::min(total, FOptions.End - (FOptions.Start != kNoTime ? FOptions.Start : 0));
  return total;
}

bool TBatchRun::QueueFiles(TCustomEncoder& AEncoder, TOutputPlanner& APlanner, std::vector<TItem>& AItems) {
  bool allQueued = true;
  for (const std::string& file : FOptions.Files) {
    TInputOptions input;
    InitInputOptions(input);
    input.FileName = file;
    input.TimeStart = FOptions.Start;
    const int task = AEncoder.AddTask(file, &input);
    if (task < 0) {
      FDisplay.Error(ErrorLine(file, AEncoder.LastErrMsg()));
      allQueued = false;
      continue;
    }
    if (!HasAudio(AEncoder, task, 0)) {
      FDisplay.Error(ErrorLine(file, kNoAudio));
      AEncoder.RemoveTask(task);
      allQueued = false;
      continue;
    }
    TClaimedOutput claim;
    try {
      claim = APlanner.Claim(TOutputPlanner::Title(file), FSettings.Ext);
    } catch (const std::exception& e) {
      FDisplay.Error(ErrorLine(file, e.what()));
      AEncoder.RemoveTask(task);
      allQueued = false;
      continue;
    }
    TOutputOptions output;
    InitOutputOptions(output);
    FillOutputRecord(FSettings, FOptions, output);
    output.FileName = claim.Path;
    if (!AEncoder.SetOutputFile(task, claim.Path, &output)) {
      FDisplay.Error(ErrorLine(file, "cannot set output file " + claim.Path + ": " + AEncoder.LastErrMsg()));
      APlanner.Remove(claim.Path);
      AEncoder.RemoveTask(task);
      allQueued = false;
      continue;
    }
    if (!claim.Note.empty()) FDisplay.Line("note: " + claim.Note);
    TItem item;
    item.Inputs = {file};
    item.Output = claim.Path;
    item.Name = FileName(file);
    item.Expected = ExpectedDuration(AEncoder, task);
    AItems.push_back(std::move(item));
  }
  return allQueued;
}

bool TBatchRun::QueueMerge(TCustomEncoder& AEncoder, TOutputPlanner& APlanner, std::vector<TItem>& AItems) {
  // A joined file that silently lacks one of its parts would be a wrong
  // result, so any unreadable input cancels the joined file.
  bool ok = true;
  for (const std::string& file : FOptions.Files) {
    TInputOptions input;
    InitInputOptions(input);
    input.FileName = file;
    const bool added = AEncoder.TasksCount() == 0 ? AEncoder.AddTask(file, &input) >= 0
                                                  : AEncoder.AddInputFile(0, file, &input);
    if (!added) {
      FDisplay.Error(ErrorLine(file, AEncoder.LastErrMsg()));
      ok = false;
    } else if (!HasAudio(AEncoder, 0, AEncoder.Tasks(0)->nb_input_files() - 1)) {
      FDisplay.Error(ErrorLine(file, kNoAudio));
      ok = false;
    }
  }
  if (!ok) {
    FDisplay.Error("error: nothing joined: every input must be readable");
    return false;
  }
  TClaimedOutput claim;
  try {
    claim = APlanner.Claim("Joined", FSettings.Ext);
  } catch (const std::exception& e) {
    FDisplay.Error(std::string("error: ") + e.what());
    return false;
  }
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputRecord(FSettings, FOptions, output);
  output.FileName = claim.Path;
  if (!AEncoder.SetOutputFile(0, claim.Path, &output)) {
    FDisplay.Error("error: cannot set output file (merge) " + claim.Path + ": " + AEncoder.LastErrMsg());
    APlanner.Remove(claim.Path);
    return false;
  }
  if (!claim.Note.empty()) FDisplay.Line("note: " + claim.Note);
  TItem item;
  item.Inputs = FOptions.Files;
  item.Output = claim.Path;
  item.Name = FileName(claim.Path);
  item.Expected = ExpectedDuration(AEncoder, 0);
  AItems.push_back(std::move(item));
  return true;
}

int TBatchRun::Run() {
  std::error_code error;
  if (!std::filesystem::is_directory(FOptions.OutputDir, error)) {
    FDisplay.Error("error: output folder " + FOptions.OutputDir + " does not exist");
    return kExitUsage;
  }
  TOutputPlanner planner(FOptions.OutputDir, FOptions.Overwrite, FOptions.Files);
  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = false;
  encoder.SetProgressInterval(250);
  encoder.CustomMaxFiles = 20;

  std::vector<TItem> items;
  const bool allQueued = FOptions.Merge ? QueueMerge(encoder, planner, items) : QueueFiles(encoder, planner, items);
  const int setupFailures = FOptions.Merge ? (allQueued ? 0 : 1)
                                           : static_cast<int>(FOptions.Files.size() - items.size());

  // The events' state: items[].Ended/Ok/Converted and runEnded.
  std::mutex lock;
  std::condition_variable changed;
  bool runEnded = false;
  bool stopRequested = false;  // main thread only

  encoder.OnProgress = [&](TObject*, const TProgressInfo* AInfo) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (AInfo->TaskIndex >= 0 && static_cast<size_t>(AInfo->TaskIndex) < items.size()) {
        TItem& item = items[AInfo->TaskIndex];
        item.Converted = std::max(item.Converted, AInfo->CurrentDuration);
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
    if (static_cast<size_t>(AInfo.TaskIndex) >= items.size()) return;
    std::string inputs, output;
    bool ok = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      TItem& item = items[AInfo.TaskIndex];
      item.Ended = true;
      item.Ok = ok = AInfo.Finished && !AInfo.Exception;
      item.Stopped = !AInfo.Finished && !AInfo.Exception;
      inputs = FOptions.Merge ? Format("%zu files", item.Inputs.size()) : item.Inputs.front();
      output = item.Output;
    }
    FDisplay.TaskEnded(AInfo.TaskIndex);
    if (ok)
      FDisplay.Line("done: " + inputs + " -> " + output);
    else if (AInfo.Exception)
      FDisplay.Error(ErrorLine(inputs, AInfo.ExceptionMsg));
    else
      FDisplay.Line("stopped: " + inputs + " (unfinished output removed)");
  };

  std::vector<std::string> names;
  std::vector<int64_t> weights;
  for (const TItem& item : items) {
    names.push_back(item.Name);
    weights.push_back(item.Expected);
  }
  if (!items.empty())
    FDisplay.Line(Format("converting %zu file(s) to %s (%s, %d bit/s, %d Hz, %d channel(s)) with %d job(s)",
                         FOptions.Merge ? FOptions.Files.size() : items.size(), FSettings.Title.c_str(),
                         FSettings.Codec.c_str(), FSettings.Bitrate, FSettings.SampleRate, FSettings.Channels,
                         FOptions.Jobs));
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

  // Every event has been delivered: the items are the main thread's again.
  int done = 0, failed = setupFailures, stopped = 0;
  int64_t converted = 0;
  for (const TItem& item : items) {
    if (item.Ok) {
      ++done;
      converted += item.Converted;
    } else {
      ++(item.Stopped ? stopped : failed);
      planner.Remove(item.Output);
    }
  }
  const double seconds = FDisplay.ElapsedSeconds();
  const double speed = seconds > 0 ? static_cast<double>(converted) / 1e6 / seconds : 0;
  FDisplay.Line(Format("%d done, %d failed%s, %.1f s, %.1fx real time", done, failed,
                       stopped ? Format(", %d stopped", stopped).c_str() : "", seconds, speed));
  if (stopRequested) return kExitInterrupted;
  return failed == 0 && stopped == 0 ? kExitOk : kExitFailed;
}

}  // namespace quorvel::cli
