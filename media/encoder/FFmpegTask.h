// One task of the encoder task manager: a conversion job that keeps, per
// input and per output index, its own copy of the option record it was
// given, and a probe decoder per opened input that reads the job's own
// opened input instead of opening the file again.
#pragma once

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

  // The verbosity the task was created with; applied again at every start.
  int Verbose() const { return FVerbose; }
  void SetVerbose(int AValue);
  void ApplyVerbose() { Fverbose = FVerbose; }

  // The post hooks the preview flags stand for.
  void SetPreviewFlags(bool APreview, bool APreviewBitmap);

private:
  int FVerbose = 1;  // owner's thread
  std::vector<TInputOptions> FInputOptions;
  std::vector<TOutputOptions> FOutputOptions;
  // One per input slot, made when the input opened. Owner's thread while
  // configuring; DetachDecoders runs when the run has ended.
  std::vector<std::unique_ptr<TFFDecoder>> FDecoders;
};

// The tasks of an encoder in list order, owning their jobs. An index out of
// range raises "List index out of bounds (%d)".
class TFFmpegList {
public:
  int Add(std::unique_ptr<TFFmpeg> AJob);
  void Delete(int AIndex);
  void Clear();
  void Exchange(int AIndex1, int AIndex2);
  TFFmpeg* Items(int AIndex) const;
  int IndexOf(const TFFmpeg* AJob) const;
  int Count() const { return static_cast<int>(FItems.size()); }

  void PauseAll();
  void ResumeAll();
  void StopAll(bool AWaitForStop);
  void SetPreview(bool APreview, bool APreviewBitmap);

private:
  void Check(int AIndex) const;
  std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

}  // namespace quorvel
