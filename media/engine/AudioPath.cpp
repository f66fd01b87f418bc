// What happens to decoded audio on its way to the encoder: trimming to the
// output's time window, the audio hook, the volume, conversion to the
// encoder's sample format, rate and channels, synchronisation with the input
// clock, and the FIFO that cuts the stream into the encoder's frames.
//
// Samples stay in the decoder's own format until the converter: the volume
// works on that format, so a 24-bit source reaches a 24-bit encoder without
// passing through a narrower step.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/ChannelMix.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// The most channels a decoded block may have.
constexpr int kMaxChannels = 64;
// Chunk size for encoders that take frames of any size (PCM).
constexpr int kVariableFrameSamples = 4096;

template <class T, class W>
void ScaleIntegers(uint8_t* AData, size_t ACount, int AVolume, W AMin, W AMax, W ABias) {
  T* p = reinterpret_cast<T*>(AData);
  for (size_t i = 0; i < ACount; ++i) {
    const W s = static_cast<W>(p[i]) - ABias;
    W v = (s * AVolume + 128) >> 8;
    v = std::clamp(v, AMin, AMax);
    p[i] = static_cast<T>(v + ABias);
  }
}

template <class T>
void ScaleFloats(uint8_t* AData, size_t ACount, int AVolume) {
  T* p = reinterpret_cast<T*>(AData);
  const T scale = static_cast<T>(AVolume) / static_cast<T>(256);
  for (size_t i = 0; i < ACount; ++i) p[i] = std::clamp(p[i] * scale, static_cast<T>(-1), static_cast<T>(1));
}

// Scales ACount samples of one plane; 256 = unchanged, clamped to the
// format's full range. 16-bit keeps the classic rounding (s * v + 128) >> 8.
void ApplyVolume(uint8_t* AData, size_t ACount, AVSampleFormat APackedFormat, int AVolume) {
  switch (APackedFormat) {
    // 64-bit products: a volume of many thousand percent must not overflow.
    case AV_SAMPLE_FMT_U8:
      ScaleIntegers<uint8_t, int64_t>(AData, ACount, AVolume, -128, 127, 128);
      break;
    case AV_SAMPLE_FMT_S16:
      ScaleIntegers<int16_t, int64_t>(AData, ACount, AVolume, -32768, 32767, 0);
      break;
    case AV_SAMPLE_FMT_S32:
      ScaleIntegers<int32_t, int64_t>(AData, ACount, AVolume, INT32_MIN, INT32_MAX, 0);
      break;
    case AV_SAMPLE_FMT_S64:
      ScaleIntegers<int64_t, __int128>(AData, ACount, AVolume, static_cast<__int128>(INT64_MIN),
                                       static_cast<__int128>(INT64_MAX), 0);
      break;
    case AV_SAMPLE_FMT_FLT:
      ScaleFloats<float>(AData, ACount, AVolume);
      break;
    case AV_SAMPLE_FMT_DBL:
      ScaleFloats<double>(AData, ACount, AVolume);
      break;
    default:
      break;
  }
}

// A damaged floating-point file can hold NaN or infinite samples, or
// finite ones so far beyond full scale that an encoder's own arithmetic
// overflows (the MP3 encoder's checks then abort the process). Any value up
// to this many times full scale is a sample and stays, clipping being the
// output format's business; beyond it the sample is damage.
constexpr double kDamagedSampleLimit = 65536.0;

template <class T>
bool IsDamaged(T AValue) {
  return !(std::fabs(AValue) <= static_cast<T>(kDamagedSampleLimit));  // NaN compares false
}

template <class T>
bool AnyDamaged(const uint8_t* AData, size_t ACount) {
  const T* p = reinterpret_cast<const T*>(AData);
  for (size_t i = 0; i < ACount; ++i)
    if (IsDamaged(p[i])) return true;
  return false;
}

template <class T>
int64_t SilenceDamaged(uint8_t* AData, size_t ACount) {
  T* p = reinterpret_cast<T*>(AData);
  int64_t n = 0;
  for (size_t i = 0; i < ACount; ++i)
    if (IsDamaged(p[i])) {
      p[i] = 0;
      ++n;
    }
  return n;
}

// No encoder, and no resampler (which would smear them over their
// neighbours), may see such samples: they become silence.
bool HasDamagedSamples(const uint8_t* const* APlanes, int APlaneCount, size_t APerPlane, AVSampleFormat APacked) {
  for (int c = 0; c < APlaneCount; ++c) {
    if (APacked == AV_SAMPLE_FMT_FLT && AnyDamaged<float>(APlanes[c], APerPlane)) return true;
    if (APacked == AV_SAMPLE_FMT_DBL && AnyDamaged<double>(APlanes[c], APerPlane)) return true;
  }
  return false;
}

int64_t SilenceDamagedSamples(uint8_t* const* APlanes, int APlaneCount, size_t APerPlane, AVSampleFormat APacked) {
  int64_t n = 0;
  for (int c = 0; c < APlaneCount; ++c) {
    if (APacked == AV_SAMPLE_FMT_FLT) n += SilenceDamaged<float>(APlanes[c], APerPlane);
    if (APacked == AV_SAMPLE_FMT_DBL) n += SilenceDamaged<double>(APlanes[c], APerPlane);
  }
  return n;
}

bool IsFloatFormat(AVSampleFormat APacked) { return APacked == AV_SAMPLE_FMT_FLT || APacked == AV_SAMPLE_FMT_DBL; }

// A layout the converter can use: a layout that only tells the channel
// count becomes the usual one for that count.
AVChannelLayout UsableLayout(const AVChannelLayout& ALayout) {
  AVChannelLayout layout{};
  if (ALayout.order == AV_CHANNEL_ORDER_NATIVE || ALayout.order == AV_CHANNEL_ORDER_AMBISONIC)
    avutil.av_channel_layout_copy(&layout, &ALayout);
  if (layout.nb_channels <= 0 || layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    avutil.av_channel_layout_uninit(&layout);
    avutil.av_channel_layout_default(&layout, ALayout.nb_channels);
  }
  return layout;
}

// Makes AFrame hold at least ASamples samples of its format, growing only.
void EnsureSamples(TFramePtr& AFrame, const AVCodecContext* AEncoder, int ASamples) {
  if (AFrame && AFrame->nb_samples >= ASamples) return;
  const int capacity = std::max(ASamples, AFrame ? AFrame->nb_samples * 2 : 0);
  TFramePtr frame(avutil.av_frame_alloc());
  if (!frame) throw FFmpegException("Out of memory in do_audio_out");
  frame->format = AEncoder->sample_fmt;
  frame->sample_rate = AEncoder->sample_rate;
  if (avutil.av_channel_layout_copy(&frame->ch_layout, &AEncoder->ch_layout) < 0)
    throw FFmpegException("Out of memory in do_audio_out");
  frame->nb_samples = capacity;
  if (avutil.av_frame_get_buffer(frame.get(), 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
  AFrame = std::move(frame);
}

// Moves the samples the converter still holds into the output's FIFO.
void FlushConverter(TAVOutputStream& ost, const AVCodecContext* enc) {
  EnsureSamples(ost.conv_frame, enc, 4096);
  for (;;) {
    const int got =
        avcore.swr_convert(ost.resample.get(), ost.conv_frame->extended_data, ost.conv_frame->nb_samples, nullptr, 0);
    if (got <= 0) break;
    if (avutil.av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(ost.conv_frame->extended_data), got) < got)
      throw FFmpegException("av_fifo_realloc2() failed");
    ost.sync_opts += got;
  }
}

}  // namespace

void TCustomFFmpeg::handle_decoded_audio(TAVInputStream& ist, AVFrame* frame) {
  const int rate = frame->sample_rate > 0 ? frame->sample_rate : ist.dec->sample_rate;
  const int channels = frame->ch_layout.nb_channels;
  if (rate <= 0 || channels <= 0 || frame->nb_samples <= 0) return;
  if (channels > kMaxChannels) throw FFmpegException(Format("Unsupported channel count %d", channels));
  ist.pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                ? avutil.av_rescale_q(frame->best_effort_timestamp, ist.st->time_base, kMicroseconds)
                : ist.next_pts;
  ist.next_pts = ist.pts + static_cast<int64_t>(frame->nb_samples) * AV_TIME_BASE / rate;

  // Only samples inside the output's window go on: from the start time
  // (samples before the file's start, left over from seeking, included) to
  // the start plus the recording time.
  int first = 0, count = frame->nb_samples;
  if (ist.pts < Fstart_time)
    first = static_cast<int>(std::min<int64_t>(
        count, avutil.av_rescale_rnd(Fstart_time - ist.pts, rate, AV_TIME_BASE, AV_ROUND_NEAR_INF)));
  if (Frecording_time != INT64_MAX) {
    const int64_t keep =
        avutil.av_rescale_rnd(Fstart_time + Frecording_time - ist.pts, rate, AV_TIME_BASE, AV_ROUND_NEAR_INF);
    if (keep < count) {
      count = static_cast<int>(std::max<int64_t>(keep, 0));
      ist.is_past_recording_time = true;
    }
  }
  if (first >= count) return;

  AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
  const int bps = avutil.av_get_bytes_per_sample(format);
  const bool planar = avutil.av_sample_fmt_is_planar(format);
  const int planeCount = planar ? channels : 1;
  const int samples = count - first;
  const auto locate = [&](uint8_t** APlanes) {
    for (int c = 0; c < planeCount; ++c)
      APlanes[c] = frame->extended_data[c] + static_cast<size_t>(first) * bps * (planar ? 1 : channels);
  };
  uint8_t* planes[kMaxChannels] = {};
  locate(planes);
  const size_t perPlane = static_cast<size_t>(samples) * (planar ? 1 : channels);
  const bool floating = IsFloatFormat(avutil.av_get_packed_sample_fmt(format));

  const bool changes = OnAudioHook || Faudio_volume != 256;
  const bool damaged =
      floating && HasDamagedSamples(planes, planeCount, perPlane, avutil.av_get_packed_sample_fmt(format));
  if (changes || damaged) {
    if (avutil.av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
    locate(planes);
  }
  ist.pts += static_cast<int64_t>(first) * AV_TIME_BASE / rate;

  // Before the hook and the volume (whose clipping would pass such a value
  // on as full scale), and again after a hook, which may write some itself.
  const auto silence = [&] {
    const bool nowPlanar = avutil.av_sample_fmt_is_planar(format);
    const int64_t silenced =
        SilenceDamagedSamples(planes, nowPlanar ? channels : 1,
                              static_cast<size_t>(samples) * (nowPlanar ? 1 : channels),
                              avutil.av_get_packed_sample_fmt(format));
    if (silenced > 0 && !ist.warned_damaged) {
      ist.warned_damaged = true;
      const AVFormatContext* ic = Finput_files[static_cast<size_t>(ist.file_index)].ctx.get();
      FFLogger().Log(this, llWarning,
                     "Input stream #%d.%d of %s holds samples that are not numbers (NaN or infinite) or lie "
                     "far beyond full scale; they are converted as silence",
                     ist.file_index, ist.index, URLToFileName(ic && ic->url ? ic->url : "").c_str());
    }
  };
  if (damaged) silence();
  if (changes) audio_hook_and_volume(ist, planes, samples, format);
  if (OnAudioHook && floating) silence();

  for (TAVOutputStream* ost : FTables.ostreams)
    if (ost->source == &ist && ost->encoding_needed)
      do_audio_out(encoder_record(*ost), ist, ost->sync_ist ? *ost->sync_ist : ist, planes, samples, format);
}

void TCustomFFmpeg::audio_hook_and_volume(TAVInputStream& ist, uint8_t** AData, int ASamples,
                                          AVSampleFormat& AFormat) {
  const AVFrame* frame = ist.frame.get();
  const int channels = frame->ch_layout.nb_channels;
  const int bps = avutil.av_get_bytes_per_sample(AFormat);
  if (OnAudioHook) {
    // The hook sees interleaved samples; a planar block is interleaved
    // first (no sample changes its value).
    if (avutil.av_sample_fmt_is_planar(AFormat)) {
      ist.packed.resize(static_cast<size_t>(ASamples) * channels * bps);
      uint8_t* out = ist.packed.data();
      for (int i = 0; i < ASamples; ++i)
        for (int c = 0; c < channels; ++c, out += bps) std::memcpy(out, AData[c] + static_cast<size_t>(i) * bps, bps);
      AData[0] = ist.packed.data();
      AFormat = avutil.av_get_packed_sample_fmt(AFormat);
    }
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : ist.dec->sample_rate;
    OnAudioHook(this, ist.pts, AData[0], ASamples * channels * bps, rate, channels, AFormat);
  }
  if (Faudio_volume != 256) {
    const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
    const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(AFormat);
    if (planar)
      for (int c = 0; c < channels; ++c) ApplyVolume(AData[c], static_cast<size_t>(ASamples), packed, Faudio_volume);
    else
      ApplyVolume(AData[0], static_cast<size_t>(ASamples) * channels, packed, Faudio_volume);
  }
}

void TCustomFFmpeg::prepare_audio_converter(TAVOutputStream& ost, TAVInputStream& ist, AVSampleFormat AFormat) {
  const AVFrame* frame = ist.frame.get();
  AVCodecContext* enc = ost.Encoder();
  const int inRate = frame->sample_rate > 0 ? frame->sample_rate : ist.dec->sample_rate;
  AVChannelLayout inLayout = UsableLayout(frame->ch_layout);
  const bool same = ost.converter_ready && ost.converter_source == &ist && AFormat == ost.resample_sample_fmt &&
                    inRate == ost.resample_sample_rate &&
                    avutil.av_channel_layout_compare(&inLayout, &ost.resample_layout) == 0;
  if (same) {
    avutil.av_channel_layout_uninit(&inLayout);
    return;
  }
  if (ost.converter_ready && ost.converter_source == &ist)
    FFLogger().Log(this, llInfo, "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
                   ist.file_index, ist.index, ost.resample_sample_rate,
                   avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(ost.resample_sample_fmt)),
                   ost.resample_channels, inRate, avutil.av_get_sample_fmt_name(AFormat), inLayout.nb_channels);
  // What the old converter still holds belongs to the output.
  if (ost.resample) {
    FlushConverter(ost, enc);
    ost.resample.reset();
  }
  ost.resample_sample_fmt = AFormat;
  ost.resample_sample_rate = inRate;
  ost.resample_channels = inLayout.nb_channels;
  avutil.av_channel_layout_uninit(&ost.resample_layout);
  ost.resample_layout = inLayout;  // takes over the copy
  ost.converter_source = &ist;

  ost.audio_resample = inRate != enc->sample_rate || inLayout.nb_channels != enc->ch_layout.nb_channels ||
                       Faudio_sync_method > 1;
  ost.convert_needed = ost.audio_resample || AFormat != enc->sample_fmt ||
                       avutil.av_channel_layout_compare(&inLayout, &enc->ch_layout) != 0;
  if (ost.convert_needed) {
    SwrContext* swr = nullptr;
    int error = avcore.swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
                                           AFormat, inRate, 0, nullptr);
    ost.resample.reset(swr);
    if (error >= 0) error = KeepLevelWhenMixing(swr, inLayout, enc->ch_layout);
    // Drift compensation needs the resampler even at equal rates; made
    // later, it would start over and lose what it holds.
    if (error >= 0 && Faudio_sync_method > 1) error = avutil.av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0);
    if (error >= 0) error = avcore.swr_init(swr);
    if (error < 0)
      throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inLayout.nb_channels,
                                   inRate, enc->ch_layout.nb_channels, enc->sample_rate));
  }
  if (!ost.fifo) {
    ost.fifo.reset(avutil.av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels,
                                              std::max(enc->frame_size, 1024) * 2));
    if (!ost.fifo) throw FFmpegException("av_fifo_realloc2() failed");
  }
  ost.converter_ready = true;
}

void TCustomFFmpeg::do_audio_out(TAVOutputStream& ost, TAVInputStream& ist, const TAVInputStream& sync,
                                 const uint8_t* const* AData, int ASamples, AVSampleFormat AFormat) {
  AVCodecContext* enc = ost.Encoder();
  prepare_audio_converter(ost, ist, AFormat);
  const int inRate = ost.resample_sample_rate;
  const int encRate = enc->sample_rate;
  const int bps = avutil.av_get_bytes_per_sample(AFormat);
  const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
  const int channels = ost.resample_channels;

  const uint8_t* planes[kMaxChannels] = {};
  const int planeCount = planar ? channels : 1;
  for (int c = 0; c < planeCount; ++c) planes[c] = AData[c];
  int samples = ASamples;

  // Synchronisation with the clock of the sync stream (the feeding stream
  // unless a map names another): the output position is the samples that
  // went to the FIFO plus those the converter still holds.
  if (Faudio_sync_method != 0) {
    const int64_t buffered = ost.resample ? avcore.swr_get_delay(ost.resample.get(), encRate) : 0;
    const double delta = (static_cast<double>(sync.pts) - static_cast<double>(Fstart_time)) / 1000000.0 * encRate -
                         static_cast<double>(ost.sync_opts + buffered);
    if (std::fabs(delta) > 50) {
      if (ist.is_start || std::fabs(delta) > Faudio_drift_threshold * encRate) {
        if (delta < 0) {
          const int drop = static_cast<int>(std::min<double>(-delta * inRate / encRate, samples));
          for (int c = 0; c < planeCount; ++c) planes[c] += static_cast<size_t>(drop) * bps * (planar ? 1 : channels);
          samples -= drop;
          if (Fverbose > 2) FFLogger().Log(this, llVerbose, "discarding %lld audio samples", static_cast<long long>(-delta));
          ist.is_start = false;
          if (samples <= 0) return;
        } else {
          // Silence in the input's own format goes in ahead of this block,
          // behind whatever the converter still holds.
          const int64_t silence = static_cast<int64_t>(delta * inRate / encRate);
          const double bytes = (static_cast<double>(silence) + samples) * bps * channels;
          if (bytes > INT_MAX) throw FFmpegException("Buffer sizes too large in do_audio_out");
          push_silence(ost, AFormat, silence);
          ist.is_start = false;
          if (Fverbose > 2)
            FFLogger().Log(this, llVerbose, "adding %lld audio samples of silence", static_cast<long long>(delta));
        }
      } else if (Faudio_sync_method > 1 && ost.resample) {
        const int comp = static_cast<int>(std::clamp<double>(delta, -Faudio_sync_method, Faudio_sync_method));
        if (Fverbose > 2)
          FFLogger().Log(this, llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp,
                         encRate);
        if (avcore.swr_set_compensation(ost.resample.get(), comp, encRate) < 0)
          FFLogger().Log(this, llWarning, "audio timestamp drift compensation failed");
      }
    }
  }
  push_audio(ost, planes, samples);
  encode_audio_fifo(ost, false);
}

void TCustomFFmpeg::push_audio(TAVOutputStream& ost, const uint8_t* const* APlanes, int ASamples) {
  AVCodecContext* enc = ost.Encoder();
  if (ost.convert_needed) {
    const int room = avcore.swr_get_out_samples(ost.resample.get(), ASamples);
    EnsureSamples(ost.conv_frame, enc, std::max(room, 1));
    const int got = avcore.swr_convert(ost.resample.get(), ost.conv_frame->extended_data, ost.conv_frame->nb_samples,
                                       const_cast<const uint8_t**>(APlanes), ASamples);
    if (got < 0) {
      if (Fexit_on_error) throw FFmpegException("av_audio_convert() failed");
      FFLogger().Log(this, llError, "av_audio_convert() failed");
      return;
    }
    if (avutil.av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(ost.conv_frame->extended_data), got) < got)
      throw FFmpegException("av_fifo_realloc2() failed");
    ost.sync_opts += got;
  } else {
    void* data[kMaxChannels];
    const int planeCount = avutil.av_sample_fmt_is_planar(enc->sample_fmt) ? enc->ch_layout.nb_channels : 1;
    for (int c = 0; c < planeCount; ++c) data[c] = const_cast<uint8_t*>(APlanes[c]);
    if (avutil.av_audio_fifo_write(ost.fifo.get(), data, ASamples) < ASamples)
      throw FFmpegException("av_fifo_realloc2() failed");
    ost.sync_opts += ASamples;
  }
}

void TCustomFFmpeg::push_silence(TAVOutputStream& ost, AVSampleFormat AFormat, int64_t ASamples) {
  // In steps, each encoded before the next, so that a long gap needs no
  // more memory than a short one.
  constexpr int kStep = 16384;
  const int channels = ost.resample_channels;
  const bool planar = avutil.av_sample_fmt_is_planar(AFormat);
  const int bps = avutil.av_get_bytes_per_sample(AFormat);
  // One buffer serves every plane of a planar format (silence is the same
  // on all channels).
  const int perStep = kStep * (planar ? 1 : channels);
  if (ost.silence.size() < static_cast<size_t>(perStep) * bps) ost.silence.resize(static_cast<size_t>(perStep) * bps);
  uint8_t* fill = ost.silence.data();
  avutil.av_samples_set_silence(&fill, 0, perStep, 1, avutil.av_get_packed_sample_fmt(AFormat));
  const uint8_t* planes[kMaxChannels];
  for (int c = 0; c < (planar ? channels : 1); ++c) planes[c] = ost.silence.data();
  for (int64_t left = ASamples; left > 0;) {
    const int n = static_cast<int>(std::min<int64_t>(left, kStep));
    push_audio(ost, planes, n);
    encode_audio_fifo(ost, false);
    left -= n;
  }
}

void TCustomFFmpeg::encode_audio_fifo(TAVOutputStream& ost, bool AFinal) {
  AVCodecContext* enc = ost.Encoder();
  if (!ost.fifo) return;
  const bool variable = enc->frame_size <= 1 || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int frameSize = variable ? kVariableFrameSamples : enc->frame_size;
  const bool normalised = FNormalise && (!FLoudnessStream || FLoudnessStream == &ost);
  // The limiter looks this far past the frame it changes.
  const int lookahead = normalised ? std::max(1, enc->sample_rate * 3 / 2000) : 0;
  for (;;) {
    const int available = avutil.av_audio_fifo_size(ost.fifo.get());
    if (available <= 0) break;
    // The last frame may be short: the library pads it for encoders that
    // need whole frames, and the container learns its real length.
    if (available < frameSize && !AFinal && !variable) break;
    if (lookahead > 0 && available < std::min(available, frameSize) + lookahead && !AFinal) break;
    const int n = std::min(available, frameSize);
    EnsureSamples(ost.enc_frame, enc, frameSize);
    ost.enc_frame->nb_samples = frameSize;
    if (avutil.av_frame_make_writable(ost.enc_frame.get()) < 0) throw FFmpegException("Out of memory in do_audio_out");
    avutil.av_audio_fifo_read(ost.fifo.get(), reinterpret_cast<void**>(ost.enc_frame->extended_data), n);
    ost.enc_frame->nb_samples = n;
    if (FMeasureLoudness || normalised)
      loudness_on_frame(ost, ost.enc_frame.get(), std::min(lookahead, available - n));
    ost.enc_frame->pts = ost.enc_pts;
    ost.enc_pts += n;
    if (avcodec.avcodec_send_frame(enc, ost.enc_frame.get()) < 0) throw FFmpegException("Audio encoding failed");
    receive_packets(ost);
  }
}

void TCustomFFmpeg::loudness_on_frame(TAVOutputStream& ost, AVFrame* AFrame, int ALook) {
  const AVCodecContext* enc = ost.Encoder();
  // One stream's loudness: the first audio output's.
  if (!FLoudnessStream) {
    FLoudnessStream = &ost;
    if (FMeasureLoudness) FLoudnessMeter = std::make_shared<TLoudnessMeter>(enc->ch_layout, enc->sample_rate);
    if (FNormalise) {
      if (FGainSource)
        FGainDb = FGainSource->GainDb(enc->ch_layout.nb_channels, [this] { return FBroken.Cancelled(); });
      FLimiter = std::make_unique<TPeakLimiter>(enc->ch_layout.nb_channels, enc->sample_rate, FGainDb, FCeilingDb);
    }
  }
  if (FLoudnessStream != &ost) return;
  const AVSampleFormat format = enc->sample_fmt;
  const int channels = enc->ch_layout.nb_channels;
  const int n = AFrame->nb_samples;
  if (FLimiter) {
    if (ALook > 0) {
      EnsureSamples(FLookFrame, enc, ALook);
      avutil.av_audio_fifo_peek(ost.fifo.get(), reinterpret_cast<void**>(FLookFrame->extended_data), ALook);
    }
    FLoudnessWork.resize(static_cast<size_t>(n + ALook) * channels);
    SamplesToDoubles(AFrame->extended_data, format, channels, 0, n, FLoudnessWork.data());
    if (ALook > 0)
      SamplesToDoubles(FLookFrame->extended_data, format, channels, 0, ALook,
                       FLoudnessWork.data() + static_cast<size_t>(n) * channels);
    FLimiter->Process(FLoudnessWork.data(), n, ALook);
    DoublesToSamples(FLoudnessWork.data(), n, channels, format, AFrame->extended_data);
  }
  if (FLoudnessMeter) FLoudnessMeter->Add(AFrame->extended_data, format, n);
}

void TCustomFFmpeg::drain_audio_encoder(TAVOutputStream& ost) {
  if (ost.encoder_flushed) return;
  AVCodecContext* enc = ost.Encoder();
  // The converter's last samples, then the FIFO, then the encoder's delay.
  if (ost.resample && ost.fifo) FlushConverter(ost, enc);
  encode_audio_fifo(ost, true);
  if (avcodec.avcodec_send_frame(enc, nullptr) < 0) throw FFmpegException("Audio encoding failed");
  receive_packets(ost);
  ost.encoder_flushed = true;
}

}  // namespace quorvel
