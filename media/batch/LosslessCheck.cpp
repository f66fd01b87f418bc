#include "media/batch/LosslessCheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/encoder/EncoderOptions.h"
#include "media/runtime/FFUtils.h"

namespace quorvel {

namespace {

// Fills ABuffer from the decoder as far as it goes; the bytes read.
size_t ReadAll(TFFDecoder& ADecoder, std::vector<uint8_t>& ABuffer) {
  size_t filled = 0;
  while (filled < ABuffer.size()) {
    const int got = ADecoder.ReadAudio(ABuffer.data() + filled, static_cast<int>(ABuffer.size() - filled));
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  return filled;
}

std::string At(int64_t AFrame, int ARate, int64_t AStart) {
  const int64_t micro = AStart + static_cast<int64_t>(std::llround(static_cast<double>(AFrame) * 1e6 / ARate));
  return TimeText(micro);
}

}  // namespace

bool IsLosslessCodec(const std::string& ACodec) {
  return ACodec == "flac" || ACodec == "alac" || ACodec == "original" || ACodec.rfind("pcm_", 0) == 0;
}

TLosslessCheck CheckLossless(const std::string& ASource, int64_t AStart, int64_t ALength, const std::string& AOutput) {
  TLosslessCheck result;
  const int64_t start = AStart == kNoTime || AStart < 0 ? 0 : AStart;
  TFFDecoder output, source;
  if (!output.LoadFile(AOutput)) {
    result.Reason = "the output cannot be read back: " + output.LastErrMsg();
    return result;
  }
  const TAudioStreamInfo info = output.FirstAudioStreamInfo();
  if (info.SampleRate <= 0 || info.Channels <= 0 || info.SampleFormat < 0) {
    result.Reason = "the output has no audio to compare";
    return result;
  }
  const AVSampleFormat format = avutil.av_get_packed_sample_fmt(static_cast<AVSampleFormat>(info.SampleFormat));
  for (TFFDecoder* d : {&output, &source}) {
    d->SetDesireAudioSampleRate(info.SampleRate);
    d->SetDesireAudioChannels(info.Channels);
    d->SetDesireAudioSampleFormat(format);
  }
  if (!source.LoadFile(ASource)) {
    result.Reason = "the source cannot be read again: " + source.LastErrMsg();
    return result;
  }
  const int frameBytes = avutil.av_get_bytes_per_sample(format) * info.Channels;
  // The source from the trim start: the block the seek lands in, less what
  // lies before the start.
  if (start > 0) {
    if (!source.Seek(start, sfBackward) || !source.DecodeAudio()) {
      result.Reason = "the source cannot be read from the start of the trim: " + source.LastErrMsg();
      return result;
    }
    const int64_t blockStart = source.WaveInfo().PTS == AV_NOPTS_VALUE ? start : source.WaveInfo().PTS;
    const int64_t skip = std::max<int64_t>(0, std::llround((start - blockStart) * info.SampleRate / 1e6)) * frameBytes;
    std::vector<uint8_t> scratch(static_cast<size_t>(skip));
    if (skip > 0 && ReadAll(source, scratch) != scratch.size()) {
      result.Reason = "the source ends before the start of the trim";
      return result;
    }
  }
  const int64_t limit = ALength == kNoTime || ALength < 0
                            ? INT64_MAX
                            : std::llround(ALength * info.SampleRate / 1e6) * frameBytes;
  std::vector<uint8_t> a(static_cast<size_t>(frameBytes) * 16384), b(a.size());
  int64_t compared = 0;  // bytes
  for (;;) {
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(a.size()), limit - compared));
    a.resize(wanted);
    b.resize(wanted);
    const size_t gotOut = ReadAll(output, a);
    const size_t gotSrc = ReadAll(source, b);
    const size_t common = std::min(gotOut, gotSrc);
    if (std::memcmp(a.data(), b.data(), common) != 0) {
      size_t i = 0;
      while (a[i] == b[i]) ++i;
      result.Reason = "the output differs from the source at " + At((compared + static_cast<int64_t>(i)) / frameBytes,
                                                                    info.SampleRate, start);
      return result;
    }
    compared += static_cast<int64_t>(common);
    if (gotOut != gotSrc) {
      result.Reason = std::string("the output ") + (gotOut < gotSrc ? "ends" : "goes on") + " where the source " +
                      (gotOut < gotSrc ? "goes on" : "ends") + ", at " + At(compared / frameBytes, info.SampleRate, start);
      return result;
    }
    if (gotOut < wanted || compared >= limit) break;
  }
  result.Same = true;
  return result;
}

}  // namespace quorvel
