#include "media/engine/AudioFit.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "media/runtime/CodecLock.h"
#include "media/runtime/Format.h"
#include "media/runtime/LibHandles.h"

namespace quorvel {

namespace {

// Encoders whose lists say "anything" but that refuse more when opened.
struct TEncoderLimit {
  const char* Name;
  int MaxChannels;
  int MaxRate;  // 0: no limit
};

constexpr TEncoderLimit kLimits[] = {
    {"wmav1", 2, 48000}, {"wmav2", 2, 48000}, {"flac", 8, 0}, {"libopus", 8, 0}, {"libvorbis", 8, 0}, {"aac", 8, 0},
};

// Vorbis and Opus store more than two channels in the Vorbis order, one
// layout per count; libopus refuses any other.
const char* const kVorbisLayouts[] = {"mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};

bool VorbisOrder(const AVCodec* ACodec) {
  return ACodec && ACodec->name && (std::strcmp(ACodec->name, "libopus") == 0 || std::strcmp(ACodec->name, "libvorbis") == 0);
}

const TEncoderLimit* LimitOf(const AVCodec* ACodec) {
  if (!ACodec || !ACodec->name) return nullptr;
  for (const TEncoderLimit& limit : kLimits)
    if (std::strcmp(limit.Name, ACodec->name) == 0) return &limit;
  return nullptr;
}

// The bit rates FitBitRate settled on, by encoder and settings. The answer
// depends on the encoder alone, and finding it opens the encoder at least
// once: in a batch of short files, as long as converting one. Process-wide,
// like the loaded library it describes; any thread, under FLock.
class TBitRateMemo {
public:
  static TBitRateMemo& Instance() {
    static TBitRateMemo memo;
    return memo;
  }
  bool Find(const std::string& AKey, int64_t& ARate) {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FRates.find(AKey);
    if (found == FRates.end()) return false;
    ARate = found->second;
    return true;
  }
  void Keep(const std::string& AKey, int64_t ARate) {
    std::lock_guard<std::mutex> guard(FLock);
    FRates[AKey] = ARate;
  }

private:
  std::mutex FLock;
  std::map<std::string, int64_t> FRates;
};

}  // namespace

std::string SourceDepthPcm(const AVOutputFormat* AFormat, int ASourceBits) {
  const bool bigEndian = AFormat && AFormat->audio_codec == AV_CODEC_ID_PCM_S16BE;
  const bool wide = ASourceBits > 16;
  return std::string("pcm_s") + (wide ? "24" : "16") + (bigEndian ? "be" : "le");
}

int NearestSampleRate(const AVCodec* ACodec, int AWanted) {
  if (!ACodec || AWanted <= 0) return AWanted;
  int best = AWanted;
  if (ACodec->supported_samplerates) {
    best = ACodec->supported_samplerates[0];
    for (const int* r = ACodec->supported_samplerates; *r; ++r)
      if (std::abs(*r - AWanted) < std::abs(best - AWanted)) best = *r;
  }
  const TEncoderLimit* limit = LimitOf(ACodec);
  if (limit && limit->MaxRate > 0 && best > limit->MaxRate) best = limit->MaxRate;
  return best;
}

void FitChannelLayout(const AVCodec* ACodec, const AVChannelLayout& AWanted, AVChannelLayout& AFit) {
  AFit = AVChannelLayout{};
  const int wanted = AWanted.nb_channels;
  if (ACodec && ACodec->ch_layouts) {
    const AVChannelLayout* same = nullptr;
    const AVChannelLayout* below = nullptr;
    const AVChannelLayout* smallest = nullptr;
    for (const AVChannelLayout* l = ACodec->ch_layouts; l->nb_channels; ++l) {
      if (avutil.av_channel_layout_compare(l, &AWanted) == 0) {
        avutil.av_channel_layout_copy(&AFit, &AWanted);
        return;
      }
      if (l->nb_channels == wanted && !same) same = l;
      if (l->nb_channels < wanted && (!below || l->nb_channels > below->nb_channels)) below = l;
      if (!smallest || l->nb_channels < smallest->nb_channels) smallest = l;
    }
    const AVChannelLayout* chosen = same ? same : below ? below : smallest;
    if (chosen) {
      avutil.av_channel_layout_copy(&AFit, chosen);
      return;
    }
  }
  const TEncoderLimit* limit = LimitOf(ACodec);
  const int count = limit && wanted > limit->MaxChannels ? limit->MaxChannels : wanted;
  if (VorbisOrder(ACodec) && count >= 1 && count <= 8) {
    if (avutil.av_channel_layout_from_string(&AFit, kVorbisLayouts[count - 1]) >= 0) return;
    AFit = AVChannelLayout{};
  }
  if (count != wanted) {
    avutil.av_channel_layout_default(&AFit, count);
    return;
  }
  avutil.av_channel_layout_copy(&AFit, &AWanted);
}

int64_t FitBitRate(const AVCodec* ACodec, const AVCodecContext& AEncoder) {
  const int64_t asked = AEncoder.bit_rate;
  if (!ACodec || asked <= 0) return asked;
  const auto opens = [&](int64_t ARate) {
    TCodecContextPtr probe(avcodec.avcodec_alloc_context3(ACodec));
    if (!probe) return false;
    probe->sample_fmt = AEncoder.sample_fmt;
    probe->sample_rate = AEncoder.sample_rate;
    probe->time_base = AVRational{1, AEncoder.sample_rate > 0 ? AEncoder.sample_rate : 1};
    probe->flags = AEncoder.flags;
    probe->global_quality = AEncoder.global_quality;
    probe->strict_std_compliance = AEncoder.strict_std_compliance;
    if (avutil.av_channel_layout_copy(&probe->ch_layout, &AEncoder.ch_layout) < 0) return false;
    probe->bit_rate = ARate;
    TCodecLock lock;
    return avcodec.avcodec_open2(probe.get(), ACodec, nullptr) >= 0;
  };
  // The codec's address tells one loaded library from another.
  const std::string key =
      Format("%p %s %d %d %s %d %d %d %lld", static_cast<const void*>(ACodec), ACodec->name, AEncoder.sample_fmt,
             AEncoder.sample_rate, LayoutName(AEncoder.ch_layout).c_str(), AEncoder.flags, AEncoder.global_quality,
             AEncoder.strict_std_compliance, static_cast<long long>(asked));
  int64_t fit = asked;
  if (TBitRateMemo::Instance().Find(key, fit)) return fit;
  fit = asked;
  static const int64_t kBitRates[] = {256000, 224000, 192000, 160000, 128000, 112000, 96000,
                                      80000,  64000,  56000,  48000,  40000,  32000,  0};
  if (!opens(asked))
    for (const int64_t rate : kBitRates)
      if ((rate < asked || rate == 0) && opens(rate)) {
        fit = rate;
        break;
      }
  TBitRateMemo::Instance().Keep(key, fit);
  return fit;
}

std::string LayoutName(const AVChannelLayout& ALayout) {
  char text[128] = {};
  if (avutil.av_channel_layout_describe(&ALayout, text, sizeof(text)) < 0) return std::to_string(ALayout.nb_channels) + " channels";
  return text;
}

}  // namespace quorvel
