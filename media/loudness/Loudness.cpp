#include "media/loudness/Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "media/runtime/FFUtils.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

constexpr int kMode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK;
// Below this rate the true peak is found here (4x oversampled by the
// filter of BS.1770-4 annex 2); the library's own true peak costs twice the
// rest of its measuring together. Above it (2x or less oversampling) the
// library's is used.
constexpr int kOwnTruePeakBelow = 96000;

// BS.1770-4 annex 2: the 48-tap interpolating filter as four phases of 12.
constexpr int kTpTaps = 12;
constexpr float kTpPhases[4][kTpTaps] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f, 0.1373291015625f,
     0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f, 0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f, 0.4650878906250f,
     0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f, 0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f, 0.7797851562500f,
     0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f, 0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f, 0.9721679687500f,
     0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f, 0.0109863281250f, 0.0017089843750f},
};
constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
// Frames converted to floats at a time.
constexpr size_t kChunk = 4096;
// Frames per block handed to the meter's thread, and the blocks that may
// wait for it (about 1.5 s of audio at 44.1 kHz); the thread's spare blocks
// are kept, so that feeding allocates nothing once running.
constexpr size_t kBlock = 8192;
constexpr size_t kMaxBlocks = 8;

double Peak(ebur128_state* AState, int AChannels, int (*AGet)(ebur128_state*, unsigned int, double*));

double ToDb(double ALinear) { return ALinear > 0 ? 20 * std::log10(ALinear) : kMinusInfinity; }

// Where BS.1770 places a channel of a native layout.
int ChannelWeight(AVChannel AChannel) {
  switch (AChannel) {
    case AV_CHAN_FRONT_LEFT: return EBUR128_LEFT;
    case AV_CHAN_FRONT_RIGHT: return EBUR128_RIGHT;
    case AV_CHAN_FRONT_CENTER: return EBUR128_CENTER;
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2: return EBUR128_UNUSED;
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_SURROUND_DIRECT_LEFT: return EBUR128_LEFT_SURROUND;
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_SURROUND_DIRECT_RIGHT: return EBUR128_RIGHT_SURROUND;
    case AV_CHAN_BACK_CENTER: return EBUR128_Mp180;
    case AV_CHAN_FRONT_LEFT_OF_CENTER: return EBUR128_Mp030;
    case AV_CHAN_FRONT_RIGHT_OF_CENTER: return EBUR128_Mm030;
    default: return EBUR128_CENTER;  // weight 1, like the front channels
  }
}

// The channel index of bit ABit of a native layout's mask.
AVChannel NthChannel(uint64_t AMask, int AIndex) {
  for (int bit = 0; bit < 64; ++bit)
    if (AMask & (uint64_t{1} << bit)) {
      if (AIndex == 0) return static_cast<AVChannel>(bit);
      --AIndex;
    }
  return AV_CHAN_NONE;
}

// One sample as a float of full scale 1.
double SampleValue(const uint8_t* const* APlanes, bool planar, AVSampleFormat packed, int AChannels, size_t AFrame,
                   int AChannel) {
  const size_t index = planar ? AFrame : AFrame * AChannels + AChannel;
  const uint8_t* plane = APlanes[planar ? AChannel : 0];
  switch (packed) {
    case AV_SAMPLE_FMT_U8: return (static_cast<int>(plane[index]) - 128) / 128.0;
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(plane)[index] / 32768.0;
    case AV_SAMPLE_FMT_S32: return reinterpret_cast<const int32_t*>(plane)[index] / 2147483648.0;
    case AV_SAMPLE_FMT_S64: return static_cast<double>(reinterpret_cast<const int64_t*>(plane)[index]) / 9223372036854775808.0;
    case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float*>(plane)[index];
    case AV_SAMPLE_FMT_DBL: return reinterpret_cast<const double*>(plane)[index];
    default: return 0;
  }
}

}  // namespace

void SamplesToDoubles(const uint8_t* const* APlanes, AVSampleFormat AFormat, int AChannels, int AFirst, int ACount,
                      double* AOut) {
  const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
  const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(AFormat);
  for (int f = 0; f < ACount; ++f)
    for (int c = 0; c < AChannels; ++c)
      *AOut++ = SampleValue(APlanes, planar, packed, AChannels, static_cast<size_t>(AFirst + f), c);
}

namespace {

template <class T>
T ToInteger(double AValue, double AScale) {
  const double v = std::round(AValue * AScale);
  return static_cast<T>(std::clamp(v, static_cast<double>(std::numeric_limits<T>::min()),
                                   static_cast<double>(std::numeric_limits<T>::max())));
}

}  // namespace

void DoublesToSamples(const double* AData, int ACount, int AChannels, AVSampleFormat AFormat, uint8_t* const* APlanes) {
  const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
  const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(AFormat);
  for (int f = 0; f < ACount; ++f)
    for (int c = 0; c < AChannels; ++c) {
      const double v = *AData++;
      const size_t index = planar ? static_cast<size_t>(f) : static_cast<size_t>(f) * AChannels + c;
      uint8_t* plane = APlanes[planar ? c : 0];
      switch (packed) {
        case AV_SAMPLE_FMT_U8: plane[index] = static_cast<uint8_t>(ToInteger<int8_t>(v, 128.0) + 128); break;
        case AV_SAMPLE_FMT_S16: reinterpret_cast<int16_t*>(plane)[index] = ToInteger<int16_t>(v, 32768.0); break;
        case AV_SAMPLE_FMT_S32: reinterpret_cast<int32_t*>(plane)[index] = ToInteger<int32_t>(v, 2147483648.0); break;
        case AV_SAMPLE_FMT_S64:
          reinterpret_cast<int64_t*>(plane)[index] = static_cast<int64_t>(std::clamp(v, -1.0, 0.9999999999) * 9223372036854775808.0);
          break;
        case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(plane)[index] = static_cast<float>(std::clamp(v, -1.0, 1.0)); break;
        case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(plane)[index] = std::clamp(v, -1.0, 1.0); break;
        default: break;
      }
    }
}

bool TLoudness::HasIntegrated() const { return Valid && std::isfinite(Integrated); }

void TLoudnessMeter::TFree::operator()(ebur128_state* AState) const { ebur128_destroy(&AState); }

TLoudnessMeter::TLoudnessMeter(const AVChannelLayout& ALayout, int ARate)
    : FChannels(std::max(ALayout.nb_channels, 1)), FRate(std::max(ARate, 1)) {
  FOwnTruePeak = FRate < kOwnTruePeakBelow;
  FState.reset(ebur128_init(static_cast<unsigned>(FChannels), static_cast<unsigned long>(FRate),
                            FOwnTruePeak ? kMode : kMode | EBUR128_MODE_TRUE_PEAK));
  FTruePeaks.assign(static_cast<size_t>(FChannels), 0.0f);
  FTpLine.assign(static_cast<size_t>(FChannels), std::vector<float>(kTpTaps - 1, 0.0f));
  if (!FState) return;
  if (ALayout.order == AV_CHANNEL_ORDER_NATIVE && ALayout.nb_channels > 1)
    for (int c = 0; c < FChannels; ++c)
      ebur128_set_channel(FState.get(), static_cast<unsigned>(c), ChannelWeight(NthChannel(ALayout.u.mask, c)));
  // A mono file is one channel of weight 1 (BS.1770), the library's default.
}

TLoudnessMeter::~TLoudnessMeter() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  if (FFeeder.joinable()) FFeeder.join();
}

void TLoudnessMeter::AddInterleaved(const float* AData, size_t ACount) {
  if (!FState || ACount == 0) return;
  FFrames += static_cast<int64_t>(ACount);
  if (FOwnTruePeak) AddTruePeak(AData, ACount);
  const size_t channels = static_cast<size_t>(FChannels);
  for (size_t done = 0; done < ACount;) {
    if (FStaging.capacity() < kBlock * channels) FStaging.reserve(kBlock * channels);
    const size_t room = kBlock - FStaging.size() / channels;
    const size_t n = std::min(room, ACount - done);
    FStaging.insert(FStaging.end(), AData + done * channels, AData + (done + n) * channels);
    done += n;
    if (FStaging.size() == kBlock * channels) {
      std::vector<float> next;
      {
        std::lock_guard<std::mutex> guard(FLock);
        if (!FSpare.empty()) {
          next = std::move(FSpare.back());
          FSpare.pop_back();
        }
      }
      next.clear();
      HandOver(std::exchange(FStaging, std::move(next)));
    }
  }
}

void TLoudnessMeter::HandOver(std::vector<float>&& ABlock) {
  std::unique_lock<std::mutex> lock(FLock);
  if (!FFeeder.joinable()) {
    try {
      FFeeder = std::thread([this] { FeedLoop(); });
    } catch (const std::system_error&) {
      // No thread to be had: measure here.
      ebur128_add_frames_float(FState.get(), ABlock.data(), ABlock.size() / static_cast<size_t>(FChannels));
      return;
    }
  }
  FChanged.wait(lock, [this] { return FBlocks.size() < kMaxBlocks; });
  FBlocks.push_back(std::move(ABlock));
  lock.unlock();
  FChanged.notify_all();
}

void TLoudnessMeter::FeedLoop() {
  NameThisThread("loudness");
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FStop || !FBlocks.empty(); });
    if (FStop) return;  // the meter is going: what waits is not needed
    std::vector<float> block = std::move(FBlocks.front());
    FBlocks.pop_front();
    FBusy = true;
    lock.unlock();
    ebur128_add_frames_float(FState.get(), block.data(), block.size() / static_cast<size_t>(FChannels));
    lock.lock();
    FBusy = false;
    if (FSpare.size() <= kMaxBlocks) FSpare.push_back(std::move(block));
    FChanged.notify_all();
  }
}

void TLoudnessMeter::Drain() const {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FBlocks.empty() && !FBusy; });
  // Feeding has ended, and the thread is idle: the last part block is
  // measured here, under the lock, so that two readers cannot both do it.
  if (!FStaging.empty()) {
    ebur128_add_frames_float(FState.get(), FStaging.data(), FStaging.size() / static_cast<size_t>(FChannels));
    FStaging.clear();
  }
}

namespace {

// The most any interpolated value can exceed the largest sample it is made
// from: the largest sum of a phase's tap magnitudes.
float TpGainBound() {
  float bound = 0;
  for (const auto& phase : kTpPhases) {
    float sum = 0;
    for (const float tap : phase) sum += std::fabs(tap);
    bound = std::max(bound, sum);
  }
  return bound;
}

// Frames the true peak looks at, at most, in one go: a stretch whose
// samples cannot reach the peak found so far is skipped whole.
constexpr size_t kTpStretch = 512;

}  // namespace

void TLoudnessMeter::AddTruePeak(const float* AData, size_t ACount) {
  static const float bound = TpGainBound();
  const size_t channels = static_cast<size_t>(FChannels);
  FTpOut.resize(std::min(ACount, kTpStretch));
  for (size_t c = 0; c < channels; ++c) {
    // The channel's last 11 samples, then this block's.
    std::vector<float>& line = FTpLine[c];
    line.resize(kTpTaps - 1 + ACount);
    for (size_t f = 0; f < ACount; ++f) line[kTpTaps - 1 + f] = AData[f * channels + c];
    float peak = FTruePeaks[c];
    for (size_t first = 0; first < ACount; first += kTpStretch) {
      const size_t n = std::min(kTpStretch, ACount - first);
      const float* x0 = line.data() + first;
      // Nothing to find where even the loudest sample, times the filter's
      // largest gain, stays under the peak already found.
      float loudest = 0;
      for (size_t i = 0; i < n + kTpTaps - 1; ++i) loudest = std::max(loudest, std::fabs(x0[i]));
      if (loudest * bound <= peak) continue;
      // One phase at a time over the stretch, one tap at a time: the inner
      // loops run along the frames, so the compiler does several frames per
      // instruction without reordering any sum.
      float high = 0, low = 0;
      for (const auto& phase : kTpPhases) {
        float* y = FTpOut.data();
        std::fill(y, y + n, 0.0f);
        for (int k = 0; k < kTpTaps; ++k) {
          const float tap = phase[k];
          const float* x = x0 + k;
          for (size_t f = 0; f < n; ++f) y[f] += tap * x[f];
        }
        for (size_t f = 0; f < n; ++f) {
          high = std::max(high, y[f]);
          low = std::min(low, y[f]);
        }
      }
      peak = std::max(peak, std::max(high, -low));
    }
    FTruePeaks[c] = peak;
    std::copy(line.end() - (kTpTaps - 1), line.end(), line.begin());
    line.resize(kTpTaps - 1);
  }
}

double TLoudnessMeter::TruePeakLinear() const {
  if (!FOwnTruePeak) return Peak(FState.get(), FChannels, ebur128_true_peak);
  // Never under the sample peak: a sample is a point of the true signal.
  double peak = Peak(FState.get(), FChannels, ebur128_sample_peak);
  for (const float p : FTruePeaks) peak = std::max(peak, static_cast<double>(p));
  return peak;
}

void TLoudnessMeter::Add(const uint8_t* const* APlanes, AVSampleFormat AFormat, int ACount) {
  if (!FState || ACount <= 0) return;
  if (AFormat == AV_SAMPLE_FMT_FLT) {
    AddInterleaved(reinterpret_cast<const float*>(APlanes[0]), static_cast<size_t>(ACount));
    return;
  }
  const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
  const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(AFormat);
  const size_t channels = static_cast<size_t>(FChannels);
  FBuffer.resize(kChunk * channels);
  for (size_t done = 0; done < static_cast<size_t>(ACount);) {
    const size_t n = std::min(kChunk, static_cast<size_t>(ACount) - done);
    float* out = FBuffer.data();
    // The formats encoders take most get a loop of their own; the rest go
    // sample by sample.
    if (AFormat == AV_SAMPLE_FMT_FLTP) {
      for (size_t c = 0; c < channels; ++c) {
        const float* in = reinterpret_cast<const float*>(APlanes[c]) + done;
        for (size_t f = 0; f < n; ++f) out[f * channels + c] = in[f];
      }
    } else if (packed == AV_SAMPLE_FMT_S16) {
      for (size_t c = 0; c < channels; ++c) {
        const int16_t* in = reinterpret_cast<const int16_t*>(APlanes[planar ? c : 0]);
        for (size_t f = 0; f < n; ++f)
          out[f * channels + c] = in[planar ? done + f : (done + f) * channels + c] * (1.0f / 32768.0f);
      }
    } else {
      for (size_t f = 0; f < n; ++f)
        for (int c = 0; c < FChannels; ++c)
          *out++ = static_cast<float>(SampleValue(APlanes, planar, packed, FChannels, done + f, c));
    }
    AddInterleaved(FBuffer.data(), n);
    done += n;
  }
}

namespace {

double Peak(ebur128_state* AState, int AChannels, int (*AGet)(ebur128_state*, unsigned int, double*)) {
  double peak = 0;
  for (int c = 0; c < AChannels; ++c) {
    double v = 0;
    if (AGet(AState, static_cast<unsigned>(c), &v) == EBUR128_SUCCESS) peak = std::max(peak, v);
  }
  return peak;
}

}  // namespace

TLoudness TLoudnessMeter::Result() const {
  TLoudness r;
  if (!FState || FFrames == 0) return r;
  Drain();
  ebur128_state* st = FState.get();
  r.Valid = true;
  double v = 0;
  r.Integrated = ebur128_loudness_global(st, &v) == EBUR128_SUCCESS && std::isfinite(v) ? v : kMinusInfinity;
  r.Range = ebur128_loudness_range(st, &v) == EBUR128_SUCCESS && std::isfinite(v) ? v : 0;
  r.SamplePeak = ToDb(Peak(st, FChannels, ebur128_sample_peak));
  r.TruePeak = ToDb(TruePeakLinear());
  return r;
}

TLoudness TLoudnessMeter::Album(const std::vector<const TLoudnessMeter*>& AMeters) {
  std::vector<ebur128_state*> states;
  TLoudness r;
  double sample = 0, truePeak = 0;
  for (const TLoudnessMeter* m : AMeters) {
    if (!m || !m->FState || m->FFrames == 0) continue;
    m->Drain();
    states.push_back(m->FState.get());
    sample = std::max(sample, Peak(m->FState.get(), m->FChannels, ebur128_sample_peak));
    truePeak = std::max(truePeak, m->TruePeakLinear());
  }
  if (states.empty()) return r;
  r.Valid = true;
  double v = 0;
  r.Integrated = ebur128_loudness_global_multiple(states.data(), states.size(), &v) == EBUR128_SUCCESS &&
                         std::isfinite(v)
                     ? v
                     : kMinusInfinity;
  r.Range = ebur128_loudness_range_multiple(states.data(), states.size(), &v) == EBUR128_SUCCESS && std::isfinite(v)
                ? v
                : 0;
  r.SamplePeak = ToDb(sample);
  r.TruePeak = ToDb(truePeak);
  return r;
}

double ReplayGainDb(const TLoudness& ALoudness) {
  return ALoudness.HasIntegrated() ? kReplayGainReference - ALoudness.Integrated : 0.0;
}

std::string ReplayGainText(double AGainDb) {
  char text[32];
  // "-0.00" reads oddly; a gain that rounds to zero is "+0.00 dB".
  const double rounded = std::round(AGainDb * 100) / 100;
  std::snprintf(text, sizeof text, "%+.2f dB", rounded == 0 ? 0.0 : rounded);
  return text;
}

std::string ReplayPeakText(double APeakDb) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", std::isfinite(APeakDb) ? std::pow(10.0, APeakDb / 20) : 0.0);
  return text;
}

int OpusR128Gain(const TLoudness& ALoudness) {
  if (!ALoudness.HasIntegrated()) return 0;
  const double q = std::round((kOpusGainReference - ALoudness.Integrated) * 256);
  return static_cast<int>(std::clamp(q, -32768.0, 32767.0));
}

TLoudnessTags LoudnessTags(const TLoudness& ATrack, const TLoudness* AAlbum, bool AOpus) {
  TLoudnessTags tags;
  if (AOpus) {
    tags.emplace_back("R128_TRACK_GAIN", std::to_string(OpusR128Gain(ATrack)));
    if (AAlbum) tags.emplace_back("R128_ALBUM_GAIN", std::to_string(OpusR128Gain(*AAlbum)));
    return tags;
  }
  // The peak is the true peak: what a player's clipping prevention must
  // allow for once the audio is decoded and resampled.
  tags.emplace_back("REPLAYGAIN_TRACK_GAIN", ReplayGainText(ReplayGainDb(ATrack)));
  tags.emplace_back("REPLAYGAIN_TRACK_PEAK", ReplayPeakText(ATrack.TruePeak));
  if (AAlbum) {
    tags.emplace_back("REPLAYGAIN_ALBUM_GAIN", ReplayGainText(ReplayGainDb(*AAlbum)));
    tags.emplace_back("REPLAYGAIN_ALBUM_PEAK", ReplayPeakText(AAlbum->TruePeak));
  }
  return tags;
}

double NormalisingGainDb(const TLoudness& AMeasured, double ATargetLufs) {
  return AMeasured.HasIntegrated() ? ATargetLufs - AMeasured.Integrated : 0.0;
}

// ---- the limiter ----

namespace {

// Interpolation between samples at a quarter, a half and three quarters:
// an 8-tap windowed sinc per phase, taps at -3 .. +4 around the sample.
constexpr int kTaps = 8;
constexpr int kHistory = 3;
struct TPhases {
  double h[3][kTaps];
  TPhases() {
    for (int p = 0; p < 3; ++p) {
      const double frac = (p + 1) / 4.0;
      double sum = 0;
      for (int k = 0; k < kTaps; ++k) {
        const double t = frac - (k - kHistory);
        const double sinc = std::sin(M_PI * t) / (M_PI * t);
        const double w = 0.5 + 0.5 * std::cos(M_PI * t / (kTaps / 2.0 + 0.5));
        h[p][k] = sinc * w;
        sum += h[p][k];
      }
      for (double& v : h[p]) v /= sum;
    }
  }
};
const TPhases& Phases() {
  static const TPhases phases;
  return phases;
}

}  // namespace

TPeakLimiter::TPeakLimiter(int AChannels, int ARate, double AGainDb, double ACeilingDb)
    : FChannels(std::max(AChannels, 1)),
      FGain(std::pow(10.0, AGainDb / 20)),
      // The ceiling a little under the one asked for: the interpolation
      // above is shorter than a true-peak meter's, and the gain moves
      // between the samples it looked at.
      FCeiling(std::pow(10.0, (ACeilingDb - 0.2) / 20)),
      FLookahead(std::max(1, ARate * 3 / 2000)),
      FRelease(1.0 / std::max(1.0, ARate * 0.1)),
      FHistory(static_cast<size_t>(kHistory * std::max(AChannels, 1)), 0.0) {}

double TPeakLimiter::PeakAt(const double* AData, int AFrames, int AIndex) const {
  // AData starts kHistory frames before frame 0 of the block.
  const double* at = AData + static_cast<size_t>(AIndex + kHistory) * FChannels;
  double peak = 0;
  for (int c = 0; c < FChannels; ++c) {
    peak = std::max(peak, std::fabs(at[c]));
    for (const auto& phase : Phases().h) {
      double v = 0;
      for (int k = 0; k < kTaps; ++k) {
        const int frame = AIndex + k - kHistory;
        if (frame >= AFrames) break;  // past the end: silence
        v += phase[k] * AData[static_cast<size_t>(frame + kHistory) * FChannels + c];
      }
      peak = std::max(peak, std::fabs(v));
    }
  }
  return peak * FGain;
}

void TPeakLimiter::Process(double* AData, int ACount, int ALook) {
  const int total = ACount + ALook;
  if (ACount <= 0) return;
  const size_t ch = static_cast<size_t>(FChannels);
  FWork.assign(FHistory.begin(), FHistory.end());
  FWork.insert(FWork.end(), AData, AData + static_cast<size_t>(total) * ch);
  FNeed.resize(static_cast<size_t>(total));
  std::vector<int> over;  // frames that need less than the full gain
  for (int j = 0; j < total; ++j) {
    const double peak = PeakAt(FWork.data(), total, j);
    FNeed[static_cast<size_t>(j)] = peak > FCeiling ? FCeiling / peak : 1.0;
    if (FNeed[static_cast<size_t>(j)] < 1.0) over.push_back(j);
  }
  size_t first = 0;
  for (int i = 0; i < ACount; ++i) {
    while (first < over.size() && over[first] < i) ++first;
    double target = 1.0;
    for (size_t k = first; k < over.size() && over[k] <= i + FLookahead; ++k) {
      const double need = FNeed[static_cast<size_t>(over[k])];
      target = std::min(target, need + (1.0 - need) * (over[k] - i) / FLookahead);
    }
    FEnvelope = std::min(FEnvelope + FRelease, target);
    if (FEnvelope < 1.0) {
      ++FLimited;
      FDeepest = std::min(FDeepest, 20 * std::log10(FEnvelope));
    }
    const double g = FGain * FEnvelope;
    double* frame = AData + static_cast<size_t>(i) * ch;
    for (size_t c = 0; c < ch; ++c) frame[c] *= g;
  }
  // The input frames before the next block, as they were before the gain.
  for (int h = 0; h < kHistory; ++h) {
    const int frame = ACount - kHistory + h;
    for (size_t c = 0; c < ch; ++c)
      FHistory[static_cast<size_t>(h) * ch + c] = FWork[static_cast<size_t>(frame + kHistory) * ch + c];
  }
}

}  // namespace quorvel
