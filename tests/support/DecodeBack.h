// The one decode-back helper of every suite: what a file decodes to
// (container, codec, rate, channels, samples, length, level), read with the
// media libraries directly so that it does not depend on the components
// under test. The libraries must be loaded.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "media/runtime/Stubs.h"

namespace quorvel::test {

// What decoding a file back gives.
struct TDecodedAudio {
  bool Ok = false;
  std::string Error;
  std::string Format;  // demuxer name
  std::string Codec;   // decoder name
  AVCodecID CodecId = AV_CODEC_ID_NONE;
  int SampleRate = 0;
  int Channels = 0;
  std::string Layout;  // as the library names it: "stereo", "5.1(side)"
  int BitsPerRawSample = 0;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;  // packed form of the decoder's format
  int64_t Samples = 0;                               // per channel
  std::vector<uint8_t> Raw;                          // interleaved samples in SampleFormat (when kept)
  double Rms = 0;                                    // of all samples, 1.0 = full scale
  double Peak = 0;
  double Seconds = 0;                                // Samples / SampleRate
  double RmsDb() const { return Rms > 0 ? 20 * std::log10(Rms) : -1000; }
};

// Full-scale value of a sample of a packed format.
inline double SampleValue(const uint8_t* p, AVSampleFormat f) {
  switch (f) {
    case AV_SAMPLE_FMT_U8: return (static_cast<int>(*p) - 128) / 128.0;
    case AV_SAMPLE_FMT_S16: { int16_t v; std::memcpy(&v, p, 2); return v / 32768.0; }
    case AV_SAMPLE_FMT_S32: { int32_t v; std::memcpy(&v, p, 4); return v / 2147483648.0; }
    case AV_SAMPLE_FMT_FLT: { float v; std::memcpy(&v, p, 4); return v; }
    case AV_SAMPLE_FMT_DBL: { double v; std::memcpy(&v, p, 8); return v; }
    default: return 0;
  }
}

// Decodes the first audio stream of a file; AFrom/ATo (seconds) limit the
// level measurement to a window.
TDecodedAudio DecodeAudio(const std::string& APath, bool AKeepRaw = false, double AFrom = 0, double ATo = 1e9);

}  // namespace quorvel::test
