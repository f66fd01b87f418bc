#include "media/player/VideoState.h"
#include <algorithm>

#include "media/runtime/CodecLock.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

TVideoState::TVideoState()
    : audio_buf1(kSilenceBytes, 0), audio_buf2(kAudioBufferBytes, 0), sample_array(kSampleArraySize, 0) {}

TVideoState::~TVideoState() {
  // The player joins the threads and closes the streams before the record
  // goes; this only makes sure that nothing of a failed opening stays behind.
  if (audio_pkt && !IsFlushPacket(audioq, audio_pkt)) avcodec.av_packet_free(&audio_pkt);
  if (avutil.av_channel_layout_uninit) avutil.av_channel_layout_uninit(&reformat_in_layout);
  for (TQueuedSubtitle& sp : subpq)
    if (sp.valid && avcodec.avsubtitle_free) avcodec.avsubtitle_free(&sp.sub);
  if (rdft && avutil.av_tx_uninit) avutil.av_tx_uninit(&rdft);
  QueueEnd(audioq);
  QueueEnd(videoq);
  QueueEnd(subtitleq);
}

void ResetPtsCorrection(TPtsCorrectionContext& ctx) { ctx = TPtsCorrectionContext{}; }

int64_t GuessCorrectPts(TPtsCorrectionContext& ctx, int64_t reordered_pts, int64_t dts) {
  if (dts != AV_NOPTS_VALUE) {
    if (dts <= ctx.last_dts) ++ctx.num_faulty_dts;
    ctx.last_dts = dts;
  }
  if (reordered_pts != AV_NOPTS_VALUE) {
    if (reordered_pts <= ctx.last_pts) ++ctx.num_faulty_pts;
    ctx.last_pts = reordered_pts;
  }
  if ((ctx.num_faulty_pts <= ctx.num_faulty_dts || dts == AV_NOPTS_VALUE) && reordered_pts != AV_NOPTS_VALUE)
    return reordered_pts;
  return dts;
}

// Monotonic: a change of the system's clock during playback must not move
// the pictures' due times, the pause bookkeeping or the audio anchor.
int64_t NowUs(const TVideoState& is) { return is.clock_us ? is.clock_us() : avutil.av_gettime_relative(); }

double GetHandedAudioClock(const TVideoState& is) {
  const int bytesPerSecond = is.audio_st.load() ? is.audio_out.BytesPerSecond() : 0;
  const double clock = is.audio_clock.load();
  if (bytesPerSecond <= 0 || is.audio_buf_silent) return clock;
  const double unplayed = static_cast<double>(is.audio_buf_size.load()) - is.audio_buf_index.load();
  return clock - unplayed / bytesPerSecond;
}

void AnchorAudioClock(TVideoState& is, int AHandedBytes) {
  const int bytesPerSecond = is.audio_out.BytesPerSecond();
  if (bytesPerSecond <= 0 || is.audio_buf_silent) {
    is.audio_clock_anchored = 0;
    return;
  }
  const double end = GetHandedAudioClock(is);
  const double start = end - static_cast<double>(AHandedBytes) / bytesPerSecond;
  is.audio_clock_end = end;
  is.audio_clock_origin = start - NowUs(is) / 1000000.0;
  is.audio_clock_anchored = 1;
}

double GetAudioClock(const TVideoState& is) {
  if (is.audio_clock_anchored && is.audio_st.load() && !is.audio_buf_silent)
    return std::min(NowUs(is) / 1000000.0 + is.audio_clock_origin, is.audio_clock_end.load());
  return GetHandedAudioClock(is);
}

double GetVideoClock(const TVideoState& is) {
  if (is.paused) return is.video_current_pts;
  const double drift = is.video_current_pts_drift;
  if (drift != 0) return NowUs(is) / 1000000.0 + drift;
  return is.StartTime / 1000000.0;
}

double GetExternalClock(const TVideoState& is) {
  return is.external_clock + (NowUs(is) - is.external_clock_time) * 0.000001;
}

double GetMasterClock(const TVideoState& is) {
  switch (is.av_sync_type) {
    case AV_SYNC_VIDEO_MASTER:
      return is.video_st.load() ? GetVideoClock(is) : GetAudioClock(is);
    case AV_SYNC_AUDIO_MASTER:
      return is.audio_st.load() ? GetAudioClock(is) : GetVideoClock(is);
    case AV_SYNC_EXTERNAL_CLOCK:
    default:
      return GetExternalClock(is);
  }
}

}  // namespace quorvel
