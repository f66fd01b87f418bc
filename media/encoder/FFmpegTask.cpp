#include "media/encoder/FFmpegTask.h"

#include <utility>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace quorvel {

TFFmpeg::TFFmpeg(int AMaxFiles)
    : TCustomFFmpeg(AMaxFiles),
      FInputOptions(static_cast<size_t>(AMaxFiles)),
      FOutputOptions(static_cast<size_t>(AMaxFiles)),
      FDecoders(static_cast<size_t>(AMaxFiles)) {}

TFFmpeg::~TFFmpeg() {
  // The base destructor would stop and join too, but only after this
  // object's callbacks are gone; a worker still inside one of them would
  // then run a destroyed function object.
  Stop(true);
  FThread.reset();
  if (FTermThread.joinable()) FTermThread.join();
  OnAudioHook = nullptr;
  OnProgress = nullptr;
  OnInputVideoHook = nullptr;
  OnOutputVideoHook = nullptr;
  OnPreviewBitmap = nullptr;
  OnTerminate = nullptr;
  OnBeforeFindStreamInfo = nullptr;
}

TFFDecoder* TFFmpeg::InputDecoder(int AIndex) const {
  if (AIndex < 0 || AIndex >= static_cast<int>(FDecoders.size())) return nullptr;
  return FDecoders[static_cast<size_t>(AIndex)].get();
}

void TFFmpeg::AttachDecoder(int AIndex) {
  auto decoder = std::make_unique<TFFDecoder>(this);
  decoder->SetFileHandle(InputFile(AIndex));
  FDecoders.at(static_cast<size_t>(AIndex)) = std::move(decoder);
}

void TFFmpeg::DetachDecoders() {
  for (auto& decoder : FDecoders)
    if (decoder) decoder->SetFileHandle(nullptr);
}

void TFFmpeg::SetVerbose(int AValue) {
  FVerbose = AValue;
  Fverbose = AValue;
}

void TFFmpeg::SetPreviewFlags(bool APreview, bool APreviewBitmap) {
  set_post_hooks((APreview ? phPreview : 0u) | (APreviewBitmap ? phBitmap : 0u));
}

// --- the list ---

void TFFmpegList::Check(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw Exception(Format("List index out of bounds (%d)", AIndex));
}

int TFFmpegList::Add(std::unique_ptr<TEncoderTask> ATask) {
  FItems.push_back(std::move(ATask));
  return Count() - 1;
}

void TFFmpegList::Delete(int AIndex) {
  Check(AIndex);
  FItems.erase(FItems.begin() + AIndex);
}

void TFFmpegList::Clear() {
  // One by one in list order, so that a job's destruction never overlaps
  // another's.
  for (auto& task : FItems) task.reset();
  FItems.clear();
}

void TFFmpegList::Exchange(int AIndex1, int AIndex2) {
  Check(AIndex1);
  Check(AIndex2);
  std::swap(FItems[static_cast<size_t>(AIndex1)], FItems[static_cast<size_t>(AIndex2)]);
}

TEncoderTask& TFFmpegList::Task(int AIndex) const {
  Check(AIndex);
  return *FItems[static_cast<size_t>(AIndex)];
}

int TFFmpegList::IndexOf(const TFFmpeg* AJob) const {
  if (!AJob) return -1;
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->Job.get() == AJob) return static_cast<int>(i);
  return -1;
}

void TFFmpegList::PauseAll() {
  for (auto& task : FItems)
    if (task->Job) task->Job->Pause();
}

void TFFmpegList::ResumeAll() {
  for (auto& task : FItems)
    if (task->Job) task->Job->Resume();
}

void TFFmpegList::SetPreview(bool APreview, bool APreviewBitmap) {
  for (auto& task : FItems)
    if (task->Job) task->Job->SetPreviewFlags(APreview, APreviewBitmap);
}

}  // namespace quorvel
