#include "media/batch/LoudnessAnalysis.h"

#include <algorithm>

#include "media/decoder/FFDecode.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, int64_t AStart, int64_t ALength) {
  TLoudnessAnalysis result;
  TFFDecoder decoder;
  if (!decoder.LoadFile(AFileName)) {
    result.Error = decoder.LastErrMsg();
    return result;
  }
  const int stream = decoder.FirstAudioStreamIndex();
  TAudioStreamInfo info;
  if (stream < 0 || !decoder.GetAudioStreamInfo(stream, info) || info.Channels <= 0 || info.SampleRate <= 0) {
    result.Error = "the file has no audio to measure";
    return result;
  }
  // The stream's own rate and channels: the meter weighs the channels by
  // their places, so they must stay as they are.
  decoder.SetDesireAudioChannels(info.Channels);
  decoder.SetDesireAudioSampleRate(info.SampleRate);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_FLT);
  AVChannelLayout layout{};
  const AVStream* st = decoder.FileHandle()->streams[stream];
  if (st->codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE &&
      st->codecpar->ch_layout.nb_channels == info.Channels)
    avutil.av_channel_layout_copy(&layout, &st->codecpar->ch_layout);
  else
    avutil.av_channel_layout_default(&layout, info.Channels);
  auto meter = std::make_shared<TLoudnessMeter>(layout, info.SampleRate);
  avutil.av_channel_layout_uninit(&layout);

  if (AStart > 0 && !decoder.Seek(AStart, sfBackward)) {
    result.Error = decoder.LastErrMsg();
    return result;
  }
  const int64_t end = ALength > 0 ? AStart + ALength : INT64_MAX;
  const size_t frameBytes = sizeof(float) * static_cast<size_t>(info.Channels);
  while (decoder.DecodeAudio(stream)) {
    const TWaveInfo& wave = decoder.WaveInfo();
    if (!wave.Ready || wave.Size <= 0) continue;
    const auto* data = reinterpret_cast<const float*>(wave.Buffer);
    int64_t frames = static_cast<int64_t>(static_cast<size_t>(wave.Size) / frameBytes);
    int64_t skip = 0;
    // Only the trimmed window counts, to the sample.
    if (wave.PTS != AV_NOPTS_VALUE) {
      if (wave.PTS < AStart) skip = std::min<int64_t>(frames, (AStart - wave.PTS) * info.SampleRate / 1000000);
      if (end != INT64_MAX) {
        const int64_t keep = (end - wave.PTS) * info.SampleRate / 1000000;
        frames = std::clamp<int64_t>(keep, 0, frames);
      }
    }
    if (frames > skip)
      meter->AddInterleaved(data + skip * info.Channels, static_cast<size_t>(frames - skip));
    if (end != INT64_MAX && wave.PTS != AV_NOPTS_VALUE && wave.PTS + wave.Duration >= end) break;
  }
  if (!decoder.Eof() && meter->Frames() == 0 && !decoder.LastErrMsg().empty()) {
    result.Error = decoder.LastErrMsg();
    return result;
  }
  result.Meter = std::move(meter);
  return result;
}

}  // namespace quorvel
