#include "media/batch/LoudnessAnalysis.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

// Feeds the meter through the normalising gain and limiter, which looks a
// little ahead of the frames it changes: the last Lookahead() frames wait
// for the next block.
class TLimitedFeed {
 public:
  TLimitedFeed(TLoudnessMeter& AMeter, int AChannels, int ARate, double AGainDb, double ACeilingDb)
      : FMeter(AMeter), FChannels(AChannels), FLimiter(AChannels, ARate, AGainDb, ACeilingDb) {}
  void Add(const float* AData, size_t AFrames) {
    FPending.insert(FPending.end(), AData, AData + AFrames * static_cast<size_t>(FChannels));
    const int frames = static_cast<int>(FPending.size() / static_cast<size_t>(FChannels));
    if (frames > FLimiter.Lookahead()) Flush(frames - FLimiter.Lookahead(), FLimiter.Lookahead());
  }
  void Finish() {
    const int frames = static_cast<int>(FPending.size() / static_cast<size_t>(FChannels));
    if (frames > 0) Flush(frames, 0);
  }

 private:
  void Flush(int ACount, int ALook) {
    FLimiter.Process(FPending.data(), ACount, ALook);
    const size_t n = static_cast<size_t>(ACount) * static_cast<size_t>(FChannels);
    FOut.assign(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(n));
    FMeter.AddInterleaved(FOut.data(), static_cast<size_t>(ACount));
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(n));
  }
  TLoudnessMeter& FMeter;
  const int FChannels;
  TPeakLimiter FLimiter;
  std::vector<double> FPending;
  std::vector<float> FOut;
};

}  // namespace

TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, int64_t AStart, int64_t ALength) {
  TAnalysisOptions options;
  options.Start = AStart;
  options.Length = ALength;
  return AnalyseLoudness(AFileName, options);
}

TLoudnessAnalysis AnalyseLoudness(const std::string& AFileName, const TAnalysisOptions& AOptions) {
  const int64_t AStart = AOptions.Start;
  const int64_t ALength = AOptions.Length;
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
  // The stream's own rate and channels (the meter weighs the channels by
  // their places, so they stay as they are), or the fold-down asked for.
  const int channels = AOptions.Channels > 0 ? AOptions.Channels : info.Channels;
  decoder.SetDesireAudioChannels(channels);
  decoder.SetDesireAudioSampleRate(info.SampleRate);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_FLT);
  AVChannelLayout layout{};
  const AVStream* st = decoder.FileHandle()->streams[stream];
  if (st->codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && st->codecpar->ch_layout.nb_channels == channels)
    avutil.av_channel_layout_copy(&layout, &st->codecpar->ch_layout);
  else
    avutil.av_channel_layout_default(&layout, channels);
  auto meter = std::make_shared<TLoudnessMeter>(layout, info.SampleRate);
  avutil.av_channel_layout_uninit(&layout);
  std::unique_ptr<TLimitedFeed> limited;
  if (AOptions.Limit)
    limited = std::make_unique<TLimitedFeed>(*meter, channels, info.SampleRate, AOptions.GainDb, AOptions.CeilingDb);

  if (AStart > 0 && !decoder.Seek(AStart, sfBackward)) {
    result.Error = decoder.LastErrMsg();
    return result;
  }
  const int64_t end = ALength > 0 ? AStart + ALength : INT64_MAX;
  const size_t frameBytes = sizeof(float) * static_cast<size_t>(channels);
  while (decoder.DecodeAudio(stream)) {
    if (AOptions.Stopped && AOptions.Stopped()) break;
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
    if (frames > skip) {
      const float* first = data + skip * channels;
      if (limited)
        limited->Add(first, static_cast<size_t>(frames - skip));
      else
        meter->AddInterleaved(first, static_cast<size_t>(frames - skip));
    }
    if (end != INT64_MAX && wave.PTS != AV_NOPTS_VALUE && wave.PTS + wave.Duration >= end) break;
  }
  if (limited) limited->Finish();
  if (!decoder.Eof() && meter->Frames() == 0 && !decoder.LastErrMsg().empty()) {
    result.Error = decoder.LastErrMsg();
    return result;
  }
  result.Meter = std::move(meter);
  return result;
}

}  // namespace quorvel
