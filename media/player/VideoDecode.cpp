// The picture path's producer side: the video thread decodes pictures,
// passes them through the filter graph (buffer -> the VideoFilters text ->
// [yadif] -> format=yuv420p -> buffersink), copies them into the overlays
// of the picture queue, offers them to the video hook and stamps each with
// the wall-clock time at which it is due. The subtitle thread decodes
// bitmap subtitles into a queue of four with YUVA palettes.
//
// Overlays are made and freed only by the event loop (the thread that owns
// the SDL surface): the video thread asks for one with the allocation event
// and waits. Every wait here ends when the stream's packet queue is aborted
// (CloseStreamComponent signals the conditions).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "media/player/FFPlay.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

// The scaler flags the graph's own scalers use (bicubic).
constexpr int kGraphScalerFlags = 4;

}  // namespace

// ---- the filter graph ----

// One graph of the video thread, made for the pictures' size and format and
// made again when they change.
struct TCustomPlayer::TVideoGraph {
  TFilterGraphPtr graph;
  AVFilterContext* src = nullptr;
  AVFilterContext* sink = nullptr;
  int width = 0, height = 0, format = -1;
  AVRational sar{0, 1};
  AVRational time_base{0, 1};

  bool Matches(const AVFrame* AFrame) const {
    return graph && AFrame->width == width && AFrame->height == height && AFrame->format == format &&
           av_cmp_q(AFrame->sample_aspect_ratio, sar) == 0;
  }
};

int TCustomPlayer::ConfigureVideoGraph(TVideoState* is, TVideoGraph& AGraph, const AVFrame* AFrame,
                                       bool ADeinterlace) {
  AGraph = TVideoGraph{};
  AVStream* st = is->video_st;
  AGraph.graph.reset(avfilter.avfilter_graph_alloc());
  AVFilterGraph* graph = AGraph.graph.get();
  if (!graph) return AVERROR(ENOMEM);
  graph->scale_sws_opts = avutil.av_strdup(Format("flags=%d", kGraphScalerFlags).c_str());
  // The filters work on the video thread alone, as the decoder does.
  graph->nb_threads = 1;
  AGraph.width = AFrame->width;
  AGraph.height = AFrame->height;
  AGraph.format = AFrame->format;
  AGraph.sar = AFrame->sample_aspect_ratio;
  AGraph.time_base = st->time_base;
  const AVRational sar = AGraph.sar.num > 0 ? AGraph.sar : AVRational{0, 1};
  const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", AFrame->width,
                                   AFrame->height, AFrame->format, st->time_base.num, st->time_base.den, sar.num,
                                   sar.den ? sar.den : 1);
  int result = avfilter.avfilter_graph_create_filter(&AGraph.src, avfilter.avfilter_get_by_name("buffer"), "src",
                                                     args.c_str(), nullptr, graph);
  if (result < 0) return result;
  result = avfilter.avfilter_graph_create_filter(&AGraph.sink, avfilter.avfilter_get_by_name("buffersink"), "out",
                                                 nullptr, nullptr, graph);
  if (result < 0) return result;
  // The overlays are planar YUV 4:2:0 whatever the filters give out.
  AVFilterContext* format = nullptr;
  result = avfilter.avfilter_graph_create_filter(&format, avfilter.avfilter_get_by_name("format"), "format",
                                                 "pix_fmts=yuv420p", nullptr, graph);
  if (result < 0) return result;
  result = avfilter.avfilter_link(format, 0, AGraph.sink, 0);
  if (result < 0) return result;
  AVFilterContext* last = format;
  if (ADeinterlace) {
    AVFilterContext* yadif = nullptr;
    result = avfilter.avfilter_graph_create_filter(&yadif, avfilter.avfilter_get_by_name("yadif"), "deinterlace",
                                                   nullptr, nullptr, graph);
    if (result < 0) return result;
    result = avfilter.avfilter_link(yadif, 0, last, 0);
    if (result < 0) return result;
    last = yadif;
  }
  const std::string filters = VideoFilters();
  if (filters.empty()) {
    result = avfilter.avfilter_link(AGraph.src, 0, last, 0);
  } else {
    AVFilterInOut* outputs = avfilter.avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter.avfilter_inout_alloc();
    if (!outputs || !inputs) {
      avfilter.avfilter_inout_free(&outputs);
      avfilter.avfilter_inout_free(&inputs);
      return AVERROR(ENOMEM);
    }
    outputs->name = avutil.av_strdup("in");
    outputs->filter_ctx = AGraph.src;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = avutil.av_strdup("out");
    inputs->filter_ctx = last;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    result = avfilter.avfilter_graph_parse_ptr(graph, filters.c_str(), &inputs, &outputs, nullptr);
    avfilter.avfilter_inout_free(&outputs);
    avfilter.avfilter_inout_free(&inputs);
  }
  if (result < 0) return result;
  return avfilter.avfilter_graph_config(graph, nullptr);
}

bool TCustomPlayer::EnsureVideoGraph(TVideoState* is, TVideoGraph& AGraph, const AVFrame* AFrame) {
  if (AGraph.Matches(AFrame)) return true;
  int result = ConfigureVideoGraph(is, AGraph, AFrame, FDeinterlace);
  if (result < 0 && FDeinterlace) {
    // The deinterlacer refused the pictures: play them as decoded.
    LogLine(llError, "deinterlacing failed.");
    FDeinterlace = false;
    result = ConfigureVideoGraph(is, AGraph, AFrame, false);
  }
  if (result < 0) {
    const std::string filters = VideoFilters();
    LogLine(llError, "%s: the video filters could not be set up (%s): %s", is->filename.c_str(),
            filters.empty() ? "none" : filters.c_str(), ErrorMessage(result).c_str());
    AGraph = TVideoGraph{};
    return false;
  }
  return true;
}

int TCustomPlayer::PullFilteredFrame(AVFilterContext* ASink, AVFrame* AFrame, AVRational& ATimeBase) {
  const int result = avfilter.av_buffersink_get_frame(ASink, AFrame);
  if (result < 0) return result;
  ATimeBase = avfilter.av_buffersink_get_time_base(ASink);
  return 1;
}

// ---- the video thread ----

void TCustomPlayer::VideoThreadProc(TVideoState* is) {
  NameThisThread("player-video");
  SetRealTimeThread(true);
  TFramePtr decoded(avutil.av_frame_alloc());
  TFramePtr filtered(avutil.av_frame_alloc());
  if (!decoded || !filtered) {
    LogLine(llError, "av_frame_alloc() failed.");
    VideoFailed(is);
    return;
  }
  TVideoGraph graph;
  AVStream* st = is->video_st;
  AVCodecContext* dec = is->video_dec.get();
  bool ended = false;
  bool failed = false;  // no picture can be made: the video path closes (VideoFailed)
  bool timeBaseLogged = false;
  // Opened paused, or sought while paused, the thread still makes the
  // pictures that show the new place; otherwise a pause holds it before
  // the next picture, and so does a frame step whose picture is queued
  // until the event loop has paused again (so a step shows exactly one).
  const auto waitWhilePaused = [this, is] {
    is->WaitWhile([&] {
      return (is->paused || StepTaken(is)) && !is->videoq.abort_request && !is->seek_paused && !is->open_paused;
    });
  };

  // Every picture the graph holds goes to the queue; false: the playback
  // is closing, or the filters failed (failed).
  const auto drainGraph = [&]() -> bool {
    if (!graph.sink) return true;
    for (;;) {
      waitWhilePaused();
      if (is->videoq.abort_request) return false;
      AVRational tb{0, 1};
      const int pulled = PullFilteredFrame(graph.sink, filtered.get(), tb);
      if (pulled == AVERROR(EAGAIN) || pulled == AVERROR_EOF) return true;
      if (pulled < 0) {
        LogLine(llError, "%s: the video filters failed: %s", is->filename.c_str(), ErrorMessage(pulled).c_str());
        failed = true;
        return false;
      }
      int64_t pts = filtered->pts;
      if (pts != AV_NOPTS_VALUE && av_cmp_q(tb, st->time_base) != 0) {
        pts = avutil.av_rescale_q(pts, tb, st->time_base);
        if (!timeBaseLogged)
          LogLine(llDebug, "video frame changed from time base %d/%d to %d/%d", tb.num, tb.den, st->time_base.num,
                  st->time_base.den);
        timeBaseLogged = true;
      }
      if (is->seek_done && is->seek_flushed) {
        is->seek_done = 0;
        is->seek_paused = 0;
      }
      const double seconds = (pts == AV_NOPTS_VALUE ? 0 : pts) * av_q2d(st->time_base);
      const int output = OutputPicture(is, filtered.get(), seconds, filtered->pkt_pos);
      avutil.av_frame_unref(filtered.get());
      if (output < 0) return false;
      PictureOutput(is);
    }
  };

  while (!ended) {
    waitWhilePaused();
    AVPacket* pkt = nullptr;
    if (QueueGet(is->videoq, &pkt, true) < 0) break;
    if (IsFlushPacket(is->videoq, pkt)) {
      FlushVideo(is);
      // Pictures the graph still holds belong before the seek.
      graph = TVideoGraph{};
      continue;
    }
    const bool endOfInput = pkt->size == 0 && !pkt->data;
    const int sent = avcodec.avcodec_send_packet(dec, endOfInput ? nullptr : pkt);
    FreeQueuedPacket(is->videoq, &pkt);
    if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN))
      LogLine(llDebug, "video packet refused by the decoder: %s", ErrorMessage(sent).c_str());
    for (;;) {
      waitWhilePaused();
      if (is->videoq.abort_request) {
        ended = true;
        break;
      }
      const int received = avcodec.avcodec_receive_frame(dec, decoded.get());
      if (received < 0) break;
      int64_t pts;
      if (Fdecoder_reorder_pts == -1)
        pts = GuessCorrectPts(is->pts_ctx, decoded->pts, decoded->pkt_dts);
      else if (Fdecoder_reorder_pts > 0)
        pts = decoded->pts;
      else
        pts = decoded->pkt_dts;
      if (pts == AV_NOPTS_VALUE) pts = 0;
      is->skip_frames_index += 1;
      const double skip = is->skip_frames;
      if (is->skip_frames_index < skip) {
        avutil.av_frame_unref(decoded.get());
        continue;
      }
      is->skip_frames_index -= std::max(skip, 1.0);
      decoded->pts = pts;
      if (!EnsureVideoGraph(is, graph, decoded.get())) {
        avutil.av_frame_unref(decoded.get());
        failed = true;
        ended = true;
        break;
      }
      const int added = avfilter.av_buffersrc_add_frame_flags(graph.src, decoded.get(), 0);
      avutil.av_frame_unref(decoded.get());
      if (added < 0) {
        LogLine(llError, "video filter input failed: %s", ErrorMessage(added).c_str());
        failed = true;
      }
      if (added < 0 || !drainGraph()) {
        ended = true;
        break;
      }
    }
    if (endOfInput && !ended && graph.src) {
      // The last pictures a filter holds back (the deinterlacer keeps one).
      if (avfilter.av_buffersrc_add_frame_flags(graph.src, nullptr, 0) >= 0 && !drainGraph()) ended = true;
      graph = TVideoGraph{};
    }
  }
  if (failed && !is->videoq.abort_request) VideoFailed(is);
}

void TCustomPlayer::VideoFailed(TVideoState* is) {
  // No picture can be made: the read thread closes the video stream (its
  // packets would pile up unread and hold back the sound's) and the
  // playback goes on as a sound-only one, its clock and position from the
  // audio.
  is->video_failed = 1;
  is->continue_read.Set();
}

void TCustomPlayer::FlushVideo(TVideoState* is) {
  avcodec.avcodec_flush_buffers(is->video_dec.get());
  {
    std::unique_lock lock(is->pictq_mutex);
    for (TQueuedPicture& vp : is->pictq) vp.target_time = 0;
    is->pictq_cond.wait(lock, [is] { return is->pictq_size == 0 || is->videoq.abort_request; });
  }
  is->video_current_pos = -1;
  ResetPtsCorrection(is->pts_ctx);
  is->frame_last_pts = static_cast<double>(AV_NOPTS_VALUE);
  is->frame_last_delay = 0;
  is->frame_timer = NowUs(*is) / 1000000.0;
  is->skip_frames = 1;
  is->skip_frames_index = 0;
  is->seek_flushed = 1;
  is->first_picture_pending = 1;
}

void TCustomPlayer::PictureOutput(TVideoState* is) {
  // Seeking before the event: a caller woken by it sees it false already.
  if (FSeeking && !is->seek_req) FSeeking = false;
  FPictEvent.Set();
  is->EventEOF = 0;
  // Opened paused: two pictures are made ready, then the pause settles.
  if (is->open_paused == 1) {
    is->open_paused = 2;
  } else if (is->open_paused == 2) {
    is->open_paused = 0;
    SetState(psPause);
  }
  // A step's picture is queued: the event loop pauses again at its next
  // refresh (EndFrameStep); this thread holds back meanwhile.
  if (StepTaken(is)) RefreshNow(is);
}

int TCustomPlayer::OutputPicture(TVideoState* is, AVFrame* AFrame, double APts, int64_t APos) {
  if (APts != 0)
    is->video_clock = APts;
  else
    APts = is->video_clock;
  is->video_clock += is->frame_delay + AFrame->repeat_pict * is->frame_delay * 0.5;
  return QueuePicture(is, AFrame, APts, APos);
}

int TCustomPlayer::QueuePicture(TVideoState* is, AVFrame* AFrame, double APts, int64_t APos) {
  {
    std::unique_lock lock(is->pictq_mutex);
    if (is->pictq_size >= kPictureQueueSize && is->refresh != 1)
      is->skip_frames = std::max(0.95, is->skip_frames * 0.95);
    is->pictq_cond.wait(lock, [is] { return is->pictq_size < kPictureQueueSize || is->videoq.abort_request; });
    if (is->videoq.abort_request) return -1;
  }
  TQueuedPicture* vp = &is->pictq[is->pictq_windex];
  // Overlays have even sizes: an odd last row or column is left out.
  const int width = AFrame->width & ~1;
  const int height = AFrame->height & ~1;
  if (!vp->bmp || vp->width != width || vp->height != height) {
    is->out_width = width;
    is->out_height = height;
    {
      std::lock_guard lock(is->pictq_mutex);
      vp->allocated = 0;
    }
    PushUserEvent(kAllocEvent, is);
    std::unique_lock lock(is->pictq_mutex);
    is->pictq_cond.wait(lock, [is, vp] { return vp->allocated || is->videoq.abort_request; });
    if (is->videoq.abort_request) return -1;
  }
  is->pictures_queued.fetch_add(1, std::memory_order_relaxed);
  if (!vp->bmp) return 0;  // no overlay of this size could be made: the picture is dropped

  uint8_t* dst[4] = {};
  int dstLines[4] = {};
  {
    std::lock_guard lock(is->overlay_lock);
    SDL_Overlay* overlay = vp->bmp;
    FSDL.SDL_LockYUVOverlay(overlay);
    dst[0] = overlay->pixels[0];
    dst[1] = overlay->pixels[2];  // YV12: V before U
    dst[2] = overlay->pixels[1];
    dstLines[0] = overlay->pitches[0];
    dstLines[1] = overlay->pitches[2];
    dstLines[2] = overlay->pitches[1];
    const uint8_t* src[4] = {AFrame->data[0], AFrame->data[1], AFrame->data[2], nullptr};
    int srcLines[4] = {AFrame->linesize[0], AFrame->linesize[1], AFrame->linesize[2], 0};
    if (FVerticalFlip) {
      src[0] += static_cast<ptrdiff_t>(height - 1) * srcLines[0];
      src[1] += static_cast<ptrdiff_t>(height / 2 - 1) * srcLines[1];
      src[2] += static_cast<ptrdiff_t>(height / 2 - 1) * srcLines[2];
      for (int i = 0; i < 3; ++i) srcLines[i] = -srcLines[i];
    }
    avutil.av_image_copy(dst, dstLines, src, srcLines, AV_PIX_FMT_YUV420P, width, height);
    FSDL.SDL_UnlockYUVOverlay(overlay);
    // New pixels carry no subtitle yet.
    vp->subtitle_serial = 0;
  }
  TPicture target;
  for (int i = 0; i < 3; ++i) {
    target.data[i] = dst[i];
    target.linesize[i] = dstLines[i];
  }
  CallVideoHook(is, target, APts, height, width);

  {
    // Under the overlay lock, as the pixels: while nothing is queued a
    // redraw (DisplayImage) and CurrentFrame read the slot shown last or,
    // with none (after a flush), the queue's head, which is this slot.
    std::lock_guard lock(is->overlay_lock);
    vp->pts = APts;
    vp->pos = APos;
    vp->sar = AFrame->sample_aspect_ratio;
  }
  is->pictq_windex = (is->pictq_windex + 1) % kPictureQueueSize;
  {
    std::lock_guard lock(is->pictq_mutex);
    vp->target_time = ComputeTargetTime(*is, APts);
    is->pictq_size = is->pictq_size + 1;
  }
  // The refresh thread sleeps until the head picture is due: it learns of
  // this one (the head, when the queue was empty).
  WakeRefresh(is);
  return 0;
}

double TCustomPlayer::ComputeTargetTime(TVideoState& is, double APts) {
  double delay = APts - is.frame_last_pts;
  if (delay <= 0 || delay >= 10.0)
    delay = is.frame_last_delay;
  else
    is.frame_last_delay = delay;
  is.frame_last_pts = APts;
  if ((is.av_sync_type == AV_SYNC_AUDIO_MASTER && is.audio_st.load()) || is.av_sync_type == AV_SYNC_EXTERNAL_CLOCK) {
    const double diff = GetVideoClock(is) - GetMasterClock(is);
    const double threshold = std::max(kSyncThreshold, delay);
    if (std::fabs(diff) < kNoSyncThreshold) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
      else
        // Within a frame of the master: close a tenth of the gap with each
        // picture, so that a sound device whose clock runs apart from the
        // system's is followed smoothly instead of a frame at a time.
        delay += diff * kSyncGain;
    }
  }
  is.frame_timer = is.frame_timer + delay;
  return is.frame_timer;
}

void TCustomPlayer::AllocPicture(TVideoState* is) {
  TQueuedPicture* vp;
  {
    std::lock_guard lock(is->pictq_mutex);
    vp = &is->pictq[is->pictq_windex];
  }
  const int width = is->out_width;
  const int height = is->out_height;
  SDL_Overlay* overlay = nullptr;
  {
    std::lock_guard lock(is->overlay_lock);
    if (vp->bmp) FSDL.SDL_FreeYUVOverlay(vp->bmp);
    vp->bmp = nullptr;
    if (is->pictq_shown == vp - is->pictq) is->pictq_shown = -1;
    if (FScreen) overlay = FSDL.SDL_CreateYUVOverlay(width, height, SDL_YV12_OVERLAY, FScreen);
    vp->bmp = overlay;
    vp->width = width;
    vp->height = height;
  }
  if (!overlay) {
    LogLine(llFatal,
            "Error: the video system does not support an image size of %dx%d pixels. Try using -lowres or -vf "
            "\"scale=w:h\" to reduce the image size.",
            width, height);
    // The playback ends; the waiting video thread is released by the
    // closing's abort.
    CloseAll();
    return;
  }
  std::lock_guard lock(is->pictq_mutex);
  vp->allocated = 1;
  is->pictq_cond.notify_all();
}

void TCustomPlayer::FreePictures(TVideoState* is) {
  std::lock_guard lock(is->overlay_lock);
  for (TQueuedPicture& vp : is->pictq) {
    if (vp.bmp && FSDL.SDL_FreeYUVOverlay) FSDL.SDL_FreeYUVOverlay(vp.bmp);
    vp.bmp = nullptr;
  }
  is->pictq_shown = -1;
}

// ---- the video hook ----

void TCustomPlayer::CallVideoHook(TVideoState* is, const TPicture& ADest, double APts, int AHeight, int AWidth) {
  if (!FVideoHook) return;
  std::lock_guard<std::mutex> call(FVideoHookCallLock);
  TPlayerVideoHookEvent handler;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    handler = FOnVideoHook;
  }
  if (!handler) return;
  // The hook sees the picture as it will be shown (flipped or not), so
  // that what it draws is not turned over again.
  {
    std::lock_guard lock(is->overlay_lock);
    if (!FHookConverter.PictureToRGB(ADest, AV_PIX_FMT_YUV420P, true, AHeight, AWidth)) {
      LogLine(llError, "%s", FHookConverter.LastErrMsg().c_str());
      return;
    }
  }
  bool update = true;
  try {
    handler(this, FHookConverter.Bitmap(), std::llround(APts * 1000000) - is->StartTime, update);
  } catch (const std::exception& e) {
    LogLine(llError, "Error occurs OnVideoHook: %s", e.what());
    return;
  }
  if (!update) return;
  try {
    FHookConverter.BitmapToRGB();
    std::lock_guard lock(is->overlay_lock);
    if (!FHookConverter.RGBToPicture(ADest, AV_PIX_FMT_YUV420P, AHeight, AWidth))
      LogLine(llError, "%s", FHookConverter.LastErrMsg().c_str());
  } catch (const std::exception& e) {
    LogLine(llError, "%s", e.what());
  }
}

int TCustomPlayer::VideoHookBitsPixel() const {
  std::lock_guard<std::mutex> call(FVideoHookCallLock);
  std::lock_guard<std::mutex> frame(FCurrentFrameLock);
  if (FHookConverter.BitsPixel() != FRGBConverter.BitsPixel())
    throw Exception("the hook's and the current frame's bit depths differ");
  return FHookConverter.BitsPixel();
}

void TCustomPlayer::SetVideoHookBitsPixel(int AValue) {
  std::lock_guard<std::mutex> call(FVideoHookCallLock);
  std::lock_guard<std::mutex> frame(FCurrentFrameLock);
  FHookConverter.SetBitsPixel(AValue);
  FRGBConverter.SetBitsPixel(AValue);
}

void TCustomPlayer::SetOnVideoHook(TPlayerVideoHookEvent AValue) {
  std::lock_guard<std::mutex> call(FVideoHookCallLock);
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FOnVideoHook = std::move(AValue);
}

// ---- subtitles ----

uint32_t TCustomPlayer::PaletteToYUVA(uint32_t ARGBA) {
  const int a = static_cast<int>((ARGBA >> 24) & 0xff);
  const int r = static_cast<int>((ARGBA >> 16) & 0xff);
  const int g = static_cast<int>((ARGBA >> 8) & 0xff);
  const int b = static_cast<int>(ARGBA & 0xff);
  // BT.601 studio range in 10 fractional bits; >> 10 floors negative
  // values too (arithmetic shift).
  const int y = ((263 * r + 517 * g + 101 * b + 512) >> 10) + 16;
  const int u = ((-152 * r - 298 * g + 450 * b + 511) >> 10) + 128;
  const int v = ((450 * r - 377 * g - 74 * b + 511) >> 10) + 128;
  return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(y & 0xff) << 16) |
         (static_cast<uint32_t>(u & 0xff) << 8) | static_cast<uint32_t>(v & 0xff);
}

void TCustomPlayer::SubtitleThreadProc(TVideoState* is) {
  NameThisThread("player-subs");
  SetRealTimeThread(true);
  AVCodecContext* dec = is->subtitle_dec.get();
  for (;;) {
    is->WaitWhile([&] { return is->paused && !is->subtitleq.abort_request && !is->seek_paused; });
    AVPacket* pkt = nullptr;
    if (QueueGet(is->subtitleq, &pkt, true) < 0) break;
    if (IsFlushPacket(is->subtitleq, pkt)) {
      avcodec.avcodec_flush_buffers(dec);
      // A seek: what was decoded for the old place is not shown at the new
      // (the read thread let go of what was queued at the seek; this is
      // what was decoded since from packets read before it).
      std::lock_guard lock(is->subpq_mutex);
      DropQueuedSubtitles(is);
      continue;
    }
    {
      std::unique_lock lock(is->subpq_mutex);
      is->subpq_cond.wait(lock,
                          [is] { return is->subpq_size < kSubPictureQueueSize || is->subtitleq.abort_request; });
    }
    if (is->subtitleq.abort_request) {
      FreeQueuedPacket(is->subtitleq, &pkt);
      break;
    }
    TQueuedSubtitle* sp = &is->subpq[is->subpq_windex];
    const AVStream* st = is->subtitle_st;
    const double pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts * av_q2d(st->time_base) : 0;
    int got = 0;
    AVSubtitle sub{};
    const bool endOfInput = pkt->size == 0 && !pkt->data;
    if (!endOfInput) avcodec.avcodec_decode_subtitle2(dec, &sub, &got, pkt);
    FreeQueuedPacket(is->subtitleq, &pkt);
    if (!got) continue;
    if (sub.format != 0) {
      // Only bitmap subtitles are shown; a text one is let go at once.
      avcodec.avsubtitle_free(&sub);
      continue;
    }
    for (unsigned i = 0; i < sub.num_rects; ++i) {
      AVSubtitleRect* rect = sub.rects[i];
      if (!rect->data[1]) continue;
      auto* palette = reinterpret_cast<uint32_t*>(rect->data[1]);
      const int colours = std::clamp(rect->nb_colors, 0, 256);
      for (int j = 0; j < colours; ++j) palette[j] = PaletteToYUVA(palette[j]);
    }
    sp->sub = sub;
    sp->pts = pts;
    sp->valid = true;
    sp->serial = ++is->subtitles_decoded;
    is->subpq_windex = (is->subpq_windex + 1) % kSubPictureQueueSize;
    std::lock_guard lock(is->subpq_mutex);
    is->subpq_size = is->subpq_size + 1;
  }
}

void TCustomPlayer::FreeSubtitle(TQueuedSubtitle& ASub) {
  if (ASub.valid) avcodec.avsubtitle_free(&ASub.sub);
  ASub.sub = AVSubtitle{};
  ASub.valid = false;
}

void TCustomPlayer::DropQueuedSubtitles(TVideoState* is) {
  while (is->subpq_size > 0) {
    FreeSubtitle(is->subpq[is->subpq_rindex]);
    is->subpq_rindex = (is->subpq_rindex + 1) % kSubPictureQueueSize;
    is->subpq_size = is->subpq_size - 1;
  }
  is->subpq_cond.notify_all();
}

}  // namespace quorvel
