// The audio output path. SDL's audio thread pulls: whenever the device needs
// bytes the callback decodes packets from the audio queue, converts them to
// what the device granted (interleaved signed 16-bit, its channel count and
// rate), hands them to the audio hook, corrects their length when audio is
// not the master clock, and scales them by the volume.
//
// Everything here but OpenAudioDevice/CloseAudio runs on SDL's audio thread,
// which never waits for the main thread (its log lines are queued).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "media/player/FFPlay.h"
#include "media/player/Histogram.h"
#include "media/runtime/ChannelMix.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

void FreeConverter(TVideoState* is) {
  is->reformat_ctx.reset();
  avutil.av_channel_layout_uninit(&is->reformat_in_layout);
  is->reformat_in_format = -1;
  is->reformat_in_rate = 0;
}

}  // namespace

bool TCustomPlayer::OpenAudioDevice(TVideoState* is, const AVCodecContext* ACodec) {
  const int channels = ACodec->ch_layout.nb_channels;
  SDL_AudioSpec wanted{};
  wanted.freq = ACodec->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(channels == 1 || channels == 2 ? channels : 2);
  wanted.silence = 0;
  wanted.samples = kSDLAudioBufferSize;
  wanted.callback = &TCustomPlayer::AudioCallback;
  wanted.userdata = is;
  SDL_AudioSpec granted{};
  // SDL reads its driver settings from the environment here.
  std::lock_guard lock(SDLLock());
  if (FSDL.SDL_OpenAudio(&wanted, &granted) < 0) return false;
  if (granted.format != AUDIO_S16SYS) {
    // Another sample format: let SDL convert it, keeping the granted rate
    // and channel count (which our converter produces).
    FSDL.SDL_CloseAudio();
    wanted.freq = granted.freq;
    wanted.channels = granted.channels;
    if (FSDL.SDL_OpenAudio(&wanted, nullptr) < 0) return false;
    granted.size = static_cast<Uint32>(wanted.samples) * 2 * wanted.channels;
  }
  is->audio_out.Freq = granted.freq;
  is->audio_out.Channels = granted.channels;
  is->audio_hw_buf_size = static_cast<int>(granted.size);
  return true;
}

void TCustomPlayer::CloseAudio(TVideoState* is) {
  FSDL.SDL_CloseAudio();
  FreeConverter(is);
  avcodec.av_packet_free(&is->audio_pkt);
  is->audio_frame.reset();
}

void SDLCALL TCustomPlayer::AudioCallback(void* AUserData, Uint8* AStream, int ALen) {
  SetRealTimeThread(true);
  auto* is = static_cast<TVideoState*>(AUserData);
  is->Owner->FillAudio(is, AStream, ALen);
}

void TCustomPlayer::FillAudio(TVideoState* is, uint8_t* AStream, int ALen) {
  const int64_t start = avutil.av_gettime_relative();
  Faudio_callback_time = NowUs(*is);
  FillAudioBuffer(is, AStream, ALen);
  if (is->audio_ready.load(std::memory_order_acquire)) AnchorAudioClock(*is, ALen);
  const int64_t step = (avutil.av_gettime_relative() - start) / TCallbackStats::kStepMicroseconds;
  FCallbackDurations[std::min<int64_t>(step, TCallbackStats::kSteps - 1)].fetch_add(1, std::memory_order_relaxed);
  FCallbacks.fetch_add(1, std::memory_order_relaxed);
}

TCustomPlayer::TCallbackStats TCustomPlayer::CallbackStats() const {
  TCallbackStats stats;
  stats.Callbacks = FCallbacks.load(std::memory_order_relaxed);
  stats.Starved = FStarvedCallbacks.load(std::memory_order_relaxed);
  for (int i = 0; i < TCallbackStats::kSteps; ++i)
    stats.Durations[i] = FCallbackDurations[i].load(std::memory_order_relaxed);
  return stats;
}

int64_t TCustomPlayer::TCallbackStats::Percentile(double AFraction) const {
  return int64_t{PercentileStep(Durations, AFraction)} * kStepMicroseconds;
}

void TCustomPlayer::FillAudioBuffer(TVideoState* is, uint8_t* AStream, int ALen) {
  if (!is->audio_ready.load(std::memory_order_acquire)) {
    std::memset(AStream, 0, ALen);
    return;
  }
  // The callback that handed out the last samples has returned, so the
  // device has them.
  if (is->audio_tail_handed && !is->audio_tail_played) {
    is->audio_tail_played = 1;
    is->continue_read.Set();  // the reader announces the end
  }
  while (ALen > 0) {
    if (is->audio_buf_index >= static_cast<int>(is->audio_buf_size)) {
      double pts = 0;
      int size = DecodeAudioFrame(is, pts);
      if (is->audioq.abort_request) return;
      if (size < 0) {
        if (is->audio_drained)
          is->audio_tail_handed = true;
        else if (!is->paused && !is->eof_packet_queued && !is->audio_awaiting_packet)
          FStarvedCallbacks.fetch_add(1, std::memory_order_relaxed);
        is->audio_buf = is->audio_buf1.data();
        std::memset(is->audio_buf, 0, kSilenceBytes);
        is->audio_buf_size = kSilenceBytes;
        is->audio_buf_silent = 1;
      } else {
        is->audio_buf_silent = 0;
        CallAudioHook(is, is->audio_buf, size, pts);
        if (is->show_audio) StoreDisplaySamples(*is, is->audio_buf, size);
        size = SyncAudio(*is, is->audio_buf, size, static_cast<int>(is->audio_buf2.size()));
        is->audio_buf_size = static_cast<uint32_t>(size);
      }
      is->audio_buf_index = 0;
    }
    const int n = std::min(ALen, static_cast<int>(is->audio_buf_size) - is->audio_buf_index);
    const uint8_t* source = is->audio_buf + is->audio_buf_index;
    const int volume = FAudioVolume;
    if (FMute || volume == 0) {
      std::memset(AStream, 0, n);
    } else if (volume == SDL_MIX_MAXVOLUME) {
      std::memcpy(AStream, source, n);
    } else {
      // SDL mixes into the buffer: scaled samples over silence.
      std::memset(AStream, 0, n);
      FSDL.SDL_MixAudio(AStream, source, static_cast<Uint32>(n), volume);
    }
    is->audio_buf_index = is->audio_buf_index + n;
    AStream += n;
    ALen -= n;
  }
}

int TCustomPlayer::DecodeAudioFrame(TVideoState* is, double& APts) {
  AVCodecContext* dec = is->audio_dec.get();
  if (!is->audio_frame) is->audio_frame.reset(avutil.av_frame_alloc());
  if (!dec || !is->audio_frame) return -1;
  const int bytesPerSecond = is->audio_out.BytesPerSecond();
  for (;;) {
    if (is->paused || is->audioq.abort_request) return -1;
    if (!is->audio_drained) {
      const int received = avcodec.avcodec_receive_frame(dec, is->audio_frame.get());
      if (received >= 0) {
        const int64_t pts = is->audio_frame->pts;
        if (pts != AV_NOPTS_VALUE) {
          const AVStream* st = is->audio_st;
          is->audio_clock = pts * av_q2d(st->time_base);
        }
        const int size = ConvertAudioFrame(is, is->audio_frame.get(), false);
        avutil.av_frame_unref(is->audio_frame.get());
        if (size <= 0) continue;
        APts = is->audio_clock;
        is->audio_clock = is->audio_clock + static_cast<double>(size) / bytesPerSecond;
        return size;
      }
      if (received == AVERROR_EOF) {
        // Drained: what the converter still holds is the last of the audio.
        const int size = ConvertAudioFrame(is, nullptr, true);
        is->audio_drained = true;
        if (size > 0) {
          APts = is->audio_clock;
          is->audio_clock = is->audio_clock + static_cast<double>(size) / bytesPerSecond;
          return size;
        }
        return -1;
      }
      if (received != AVERROR(EAGAIN)) {
        LogLine(llInfo, "avcodec_decode_audio2() failed");
        avutil.av_frame_unref(is->audio_frame.get());
      }
    }
    // The audio thread never waits for packets: with none queued the device
    // gets silence. The first packet is decoded as soon as it is queued (at
    // the start and after a seek), so the sound and the clock start with it.
    avcodec.av_packet_free(&is->audio_pkt);
    if (QueueGet(is->audioq, &is->audio_pkt, false) != 1) return -1;
    if (IsFlushPacket(is->audioq, is->audio_pkt)) {
      is->audio_pkt = nullptr;  // the flush packet is not ours to free
      avcodec.avcodec_flush_buffers(dec);
      FreeConverter(is);
      is->audio_draining = false;
      is->audio_drained = false;
      is->audio_tail_handed = false;
      is->audio_tail_played = 0;
      is->audio_awaiting_packet = true;
      continue;
    }
    is->audio_awaiting_packet = false;
    if (is->audio_pkt->size == 0) {
      // The end of the input: the decoder gives out what it holds.
      if (!is->audio_draining && !is->audio_drained) avcodec.avcodec_send_packet(dec, nullptr);
      is->audio_draining = true;
      continue;
    }
    if (is->audio_draining || is->audio_drained) continue;  // nothing follows the end but a seek
    if (avcodec.avcodec_send_packet(dec, is->audio_pkt) < 0) LogLine(llInfo, "avcodec_decode_audio2() failed");
  }
}

int TCustomPlayer::ConvertAudioFrame(TVideoState* is, const AVFrame* AFrame, bool AFlush) {
  const int outChannels = is->audio_out.Channels;
  const int outRate = is->audio_out.Freq;
  const int bytesPerFrame = is->audio_out.BytesPerFrame();
  if (AFlush) {
    if (!is->reformat_ctx) return 0;
    const int outCount = avcore.swr_get_out_samples(is->reformat_ctx.get(), 0);
    if (outCount <= 0) return 0;
    const size_t needed = static_cast<size_t>(outCount) * bytesPerFrame;
    if (is->audio_buf2.size() < needed + needed / 8) is->audio_buf2.resize(needed + needed / 8);
    uint8_t* out = is->audio_buf2.data();
    const int converted = avcore.swr_convert(is->reformat_ctx.get(), &out, outCount, nullptr, 0);
    is->audio_buf = is->audio_buf2.data();
    return converted > 0 ? converted * bytesPerFrame : 0;
  }
  const int inChannels = AFrame->ch_layout.nb_channels;
  const auto inFormat = static_cast<AVSampleFormat>(AFrame->format);
  const int inRate = AFrame->sample_rate;
  if (AFrame->nb_samples <= 0) return 0;
  // Room for the frame and for the length correction's 10 % on top.
  const auto reserve = [&](int AFrames) {
    const size_t needed = static_cast<size_t>(AFrames) * bytesPerFrame;
    const size_t room = needed + needed * kSampleCorrectionPercentMax / 100 + bytesPerFrame;
    if (is->audio_buf2.size() < room) is->audio_buf2.resize(room);
  };

  if (inFormat == AV_SAMPLE_FMT_S16 && inChannels == outChannels && inRate == outRate && !is->reformat_ctx) {
    reserve(AFrame->nb_samples);
    const size_t bytes = static_cast<size_t>(AFrame->nb_samples) * bytesPerFrame;
    std::memcpy(is->audio_buf2.data(), AFrame->data[0], bytes);
    is->audio_buf = is->audio_buf2.data();
    return static_cast<int>(bytes);
  }

  AVChannelLayout inLayout{};
  if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !avutil.av_channel_layout_check(&AFrame->ch_layout) ||
      avutil.av_channel_layout_copy(&inLayout, &AFrame->ch_layout) < 0)
    avutil.av_channel_layout_default(&inLayout, inChannels);
  const bool same = is->reformat_ctx && is->reformat_in_format == inFormat && is->reformat_in_rate == inRate &&
                    avutil.av_channel_layout_compare(&is->reformat_in_layout, &inLayout) == 0;
  if (!same) {
    FreeConverter(is);
    AVChannelLayout outLayout{};
    avutil.av_channel_layout_default(&outLayout, outChannels);
    SwrContext* made = nullptr;
    int result = avcore.swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_S16, outRate, &inLayout, inFormat,
                                            inRate, 0, nullptr);
    TSwrPtr swr(made);
    if (result >= 0) result = KeepLevelWhenMixing(swr.get(), inLayout, outLayout);
    if (result >= 0) result = avcore.swr_init(swr.get());
    avutil.av_channel_layout_uninit(&outLayout);
    if (result < 0) {
      avutil.av_channel_layout_uninit(&inLayout);
      LogLine(llError, "Cannot convert %s sample format to %s sample format", avutil.av_get_sample_fmt_name(inFormat),
              avutil.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16));
      return -1;
    }
    is->reformat_ctx = std::move(swr);
    is->reformat_in_format = inFormat;
    is->reformat_in_rate = inRate;
    is->reformat_in_layout = inLayout;  // takes over the copy
  } else {
    avutil.av_channel_layout_uninit(&inLayout);
  }
  const int outCount = avcore.swr_get_out_samples(is->reformat_ctx.get(), AFrame->nb_samples);
  if (outCount < 0) return -1;
  reserve(outCount);
  uint8_t* out = is->audio_buf2.data();
  const int converted = avcore.swr_convert(is->reformat_ctx.get(), &out, outCount,
                                           const_cast<const uint8_t**>(AFrame->extended_data), AFrame->nb_samples);
  if (converted < 0) {
    LogLine(llError, "av_audio_convert() failed");
    return -1;
  }
  is->audio_buf = is->audio_buf2.data();
  return converted * bytesPerFrame;
}

void TCustomPlayer::CallAudioHook(TVideoState* is, uint8_t* ASamples, int ASize, double APts) {
  if (!FAudioHook) return;
  std::lock_guard<std::mutex> call(FHookCallLock);
  TPlayerAudioHookEvent handler;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    handler = FOnAudioHook;
  }
  if (!handler) return;
  const int64_t pts = std::llround(APts * 1000000) - is->StartTime;
  handler(this, pts, ASamples, ASize, is->audio_out.Freq, is->audio_out.Channels);
}

void TCustomPlayer::StoreDisplaySamples(TVideoState& is, const uint8_t* samples, int size) {
  std::lock_guard lock(is.sample_lock);
  int count = size / 2;
  const auto* values = reinterpret_cast<const int16_t*>(samples);
  while (count > 0) {
    const int k = std::min(count, kSampleArraySize - is.sample_array_index);
    std::memcpy(is.sample_array.data() + is.sample_array_index, values, static_cast<size_t>(k) * 2);
    values += k;
    is.sample_array_index += k;
    if (is.sample_array_index >= kSampleArraySize) is.sample_array_index = 0;
    count -= k;
  }
}

int TCustomPlayer::SyncAudio(TVideoState& is, uint8_t* samples, int size, int ACapacity) {
  const int n = is.audio_out.BytesPerFrame();
  if (n <= 0) return size;
  if (!((is.av_sync_type == AV_SYNC_VIDEO_MASTER && is.video_st.load()) ||
        is.av_sync_type == AV_SYNC_EXTERNAL_CLOCK))
    return size;
  const double diff = GetAudioClock(is) - GetMasterClock(is);
  // A difference this large in either direction is no drift to correct
  // (a seek, a gap in the stream): start averaging again.
  if (std::fabs(diff) >= kNoSyncThreshold) {
    is.audio_diff_avg_count = 0;
    is.audio_diff_cum = 0;
    return size;
  }
  is.audio_diff_cum = diff + is.audio_diff_avg_coef * is.audio_diff_cum;
  if (is.audio_diff_avg_count < kAudioDiffAvgNb) {
    ++is.audio_diff_avg_count;
    return size;
  }
  const double avg = is.audio_diff_cum * (1.0 - is.audio_diff_avg_coef);
  if (std::fabs(avg) < is.audio_diff_threshold) return size;
  int wanted = size + static_cast<int>(std::lround(diff * is.audio_out.Freq)) * n;
  const int frames = size / n;
  const int minSize = (frames * (100 - kSampleCorrectionPercentMax) / 100) * n;
  int maxSize = (frames * (100 + kSampleCorrectionPercentMax) / 100) * n;
  if (maxSize > ACapacity) maxSize = ACapacity / n * n;
  if (wanted < minSize)
    wanted = minSize;
  else if (wanted > maxSize)
    wanted = maxSize;
  if (wanted > size) {
    // Repeat the last sample frame.
    const uint8_t* last = samples + size - n;
    for (uint8_t* p = samples + size; p < samples + wanted; p += n) std::memcpy(p, last, n);
  }
  return wanted;
}

}  // namespace quorvel
