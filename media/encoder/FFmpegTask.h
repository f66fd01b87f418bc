// One task of the encoder task manager: a conversion job that keeps, per
// input and per output index, its own copy of the option record it was
// given, and a probe decoder per opened input that reads the job's own
// opened input instead of opening the file again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/encoder/EncoderOptions.h"
#include "media/engine/CustomFFmpeg.h"

namespace quorvel {

class TFFmpeg : public TCustomFFmpeg {
public:
  explicit TFFmpeg(int AMaxFiles);
  // Ends a run still under way and waits for the job's threads before the
  // callbacks (which point into the task manager) go away.
  ~TFFmpeg() override;

  // The records as stored; an index without a record holds the defaults.
  TInputOptions& InputOptions(int AIndex) { return FInputOptions.at(static_cast<size_t>(AIndex)); }
  TOutputOptions& OutputOptions(int AIndex) { return FOutputOptions.at(static_cast<size_t>(AIndex)); }
  // The probe decoder of an opened input (null for an index not opened).
  TFFDecoder* InputDecoder(int AIndex) const;
  // Binds a decoder to the input just opened at AIndex.
  void AttachDecoder(int AIndex);
  // The job releases its inputs when its run ends: the decoders must not
  // keep pointing at them. Called on the thread that ends the run.
  void DetachDecoders();

  // The task's place in the list, set when the job is built (the list
  // does not change while jobs run).
  int TaskIndex() const { return FTaskIndex; }
  void SetTaskIndex(int AIndex) { FTaskIndex = AIndex; }

  // The verbosity the task was created with; applied again at every start.
  int Verbose() const { return FVerbose; }
  void SetVerbose(int AValue);
  void ApplyVerbose() { Fverbose = FVerbose; }

  // The post hooks the preview flags stand for.
  void SetPreviewFlags(bool APreview, bool APreviewBitmap);

private:
  int FVerbose = 1;  // owner's thread
  int FTaskIndex = -1;  // set before the job starts
  std::vector<TInputOptions> FInputOptions;
  std::vector<TOutputOptions> FOutputOptions;
  // One per input slot, made when the input opened. Owner's thread while
  // configuring; DetachDecoders runs when the run has ended.
  std::vector<std::unique_ptr<TFFDecoder>> FDecoders;
};

// What the probe found of one input of a queued task: enough for the
// owner to plan with once the file is closed again.
struct TTaskInputInfo {
  std::string FileName;
  int64_t Duration = 0;  // µs; 0 when the container does not tell
  bool HasAudio = false;
  // The probe looked into the data for another codec and found none (PCM
  // in WAV): when the task starts, its first packet is enough to say so
  // again.
  bool CodecsSettled = false;
};

// One queued task: its inputs and outputs as they were given (names and
// copies of the records, replayed in the same order when the task starts),
// and the job while it is being configured, runs or has just ended. A task
// that waits holds no job, no open file and no library context.
class TEncoderTask {
public:
  struct TInput {
    std::string FileName;
    bool HasRecord = false;
    TInputOptions Options;
    TTaskInputInfo Info;
  };
  struct TOutput {
    std::string FileName;
    bool HasRecord = false;
    TOutputOptions Options;
  };
  std::vector<TInput> Inputs;
  std::vector<TOutput> Outputs;
  // The encoder's settings as the task's last operation found them.
  int MaxFiles = 20;  // CustomMaxFiles when the task was added
  int Verbose = 1;
  bool HaltOnInvalidOption = true;
  int ReadTimeout = 10000;
  // The job's run has returned from its termination callback: what is left
  // of its thread is its exit, so the job may be destroyed from elsewhere.
  mutable std::atomic<bool> RunReturned{false};
  // Owner's thread while configuring; during a run set and dropped under
  // the encoder's start lock and pause lock. Last, so that it goes first:
  // its worker (joined by its destructor) may still be setting RunReturned.
  std::unique_ptr<TFFmpeg> Job;
};

// The tasks of an encoder in list order, owning them. An index out of
// range raises "List index out of bounds (%d)".
class TFFmpegList {
public:
  int Add(std::unique_ptr<TEncoderTask> ATask);
  void Delete(int AIndex);
  void Clear();
  void Exchange(int AIndex1, int AIndex2);
  TEncoderTask& Task(int AIndex) const;
  // The task's job; null while the task waits.
  TFFmpeg* Items(int AIndex) const { return Task(AIndex).Job.get(); }
  int IndexOf(const TFFmpeg* AJob) const;
  int Count() const { return static_cast<int>(FItems.size()); }

  // Fan-outs to the jobs there are.
  void PauseAll();
  void ResumeAll();
  void SetPreview(bool APreview, bool APreviewBitmap);

private:
  void Check(int AIndex) const;
  std::vector<std::unique_ptr<TEncoderTask>> FItems;
};

}  // namespace quorvel
