// Decoded pictures on their way to the encoder: the input hooks (the
// owner's hook or the frame-hook modules), scaling to the encoder's size and
// pixel format, frame-rate synchronisation (repeating or dropping
// pictures), the output hook and the post hooks (bitmaps for the owner, the
// preview window).
#include <algorithm>
#include <cmath>
#include <mutex>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

// One lock for the post hooks of every job: the owner changes the set while
// runs read it.
std::mutex& PostHookLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

void TCustomFFmpeg::set_post_hooks(TPostHooks AHooks) {
  std::shared_ptr<TPreviewer> dropped;  // freed after the lock is let go
  std::lock_guard<std::mutex> lock(PostHookLock());
  if (!(AHooks & phPreview)) dropped = std::move(FPreviewer);
  FPostHooks = AHooks;
  FPostHooksChanged = true;
}

void TCustomFFmpeg::set_hook_bits_pixel(int ABits) {
  FInputVideoHookConv.SetBitsPixel(ABits);
  FOutputVideoHookConv.SetBitsPixel(ABits);
}

bool TCustomFFmpeg::call_video_hook(TVideoHookEvent& AHook, TFormatConverter& AConverter, AVFrame* frame,
                                    int AFrameNumber, int64_t APTS) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  if (!AConverter.PictureToRGB(TPicture::FromFrame(*frame), format, true, frame->height, frame->width)) {
    FFLogger().Log(this, llError, AConverter.LastErrMsg());
    return false;
  }
  bool update = true, stop = false;
  try {
    AHook(this, AConverter.Bitmap(), AFrameNumber, APTS, update, stop);
  } catch (const std::exception& e) {
    FFLogger().Log(this, llError, std::string("Error occurs VideoHook event: ") + e.what());
    update = false;
  }
  if (update) {
    try {
      AConverter.BitmapToRGB();
      if (!AConverter.RGBToPicture(TPicture::FromFrame(*frame), format, frame->height, frame->width)) {
        FFLogger().Log(this, llError, AConverter.LastErrMsg());
        stop = true;
      }
    } catch (const std::exception& e) {
      FFLogger().Log(this, llError, e.what());
      stop = true;
    }
  }
  if (stop) AHook = nullptr;
  return true;
}

void TCustomFFmpeg::run_input_video_hooks(TAVInputStream& ist, AVFrame* frame) {
  if (!OnInputVideoHook && FFirstHook.Empty()) return;
  if (avutil.av_frame_make_writable(frame) < 0) {
    FFLogger().Log(this, llError, "hook buf malloc error.");
    return;
  }
  if (OnInputVideoHook) {
    call_video_hook(OnInputVideoHook, FInputVideoHookConv, frame, static_cast<int>(ist.decoded_blocks), ist.pts);
    return;
  }
  TFrameHookPicture picture{};
  for (int i = 0; i < 4; ++i) {
    picture.data[i] = frame->data[i];
    picture.linesize[i] = frame->linesize[i];
  }
  for (const TFrameHookEntry& entry : FFirstHook.Entries())
    entry.Process(entry.ctx, &picture, frame->format, frame->width, frame->height, ist.pts);
}

void TCustomFFmpeg::run_post_hooks(AVFrame* frame, int AFrameNumber, int64_t APTS, bool AConverted) {
  // The lock guards the hook set only: the preview window paints on the
  // main thread while this thread waits, and the main thread may be the one
  // changing the set (set_post_hooks) meanwhile, so nothing is delivered
  // while the lock is held.
  TPostHooks hooks;
  {
    std::lock_guard<std::mutex> lock(PostHookLock());
    if (FPostHooks == 0) return;
    const int64_t now = avutil.av_gettime_relative();
    if (now - Fpreview_last_time <= PreviewInterval) return;
    Fpreview_last_time = now;
    hooks = FPostHooks;
    FPostHooksChanged = false;
  }
  const auto convert = [&]() {
    if (AConverted) return true;
    if (FOutputVideoHookConv.PictureToRGB(TPicture::FromFrame(*frame), static_cast<AVPixelFormat>(frame->format), true,
                                          frame->height, frame->width))
      return true;
    FFLogger().Log(this, llError, FOutputVideoHookConv.LastErrMsg());
    return false;
  };
  TPostHooks failed = 0;
  if ((hooks & phBitmap) && OnPreviewBitmap) {
    if (convert())
      OnPreviewBitmap(this, FOutputVideoHookConv.Bitmap(), AFrameNumber, APTS);
    else
      failed |= phBitmap;
  } else if (hooks & phPreview) {
    std::shared_ptr<TPreviewer> previewer;
    {
      std::lock_guard<std::mutex> lock(PostHookLock());
      previewer = FPreviewer;
    }
    if (!previewer) {
      // Made outside the lock: a window may need the main thread.
      std::shared_ptr<TPreviewer> made =
          PreviewerFactory ? std::shared_ptr<TPreviewer>(PreviewerFactory()) : std::make_shared<TNullPreviewer>();
      std::lock_guard<std::mutex> lock(PostHookLock());
      if (!FPreviewer && (FPostHooks & phPreview)) FPreviewer = std::move(made);
      previewer = FPreviewer;
    }
    if (previewer && (!convert() || !previewer->PaintFrame(FOutputVideoHookConv.Bitmap(), AFrameNumber, APTS)))
      failed |= phPreview;
  }
  std::shared_ptr<TPreviewer> dropped;  // freed after the lock is let go
  {
    std::lock_guard<std::mutex> lock(PostHookLock());
    FPostHooks &= ~failed;
    if (!(FPostHooks & phPreview)) dropped = std::move(FPreviewer);
  }
}

void TCustomFFmpeg::run_output_video_hooks(TAVOutputStream& ost, AVFrame* frame) {
  bool converted = false;
  if (OnOutputVideoHook) {
    if (avutil.av_frame_make_writable(frame) < 0) {
      FFLogger().Log(this, llError, "hook buf malloc error.");
    } else {
      converted = call_video_hook(OnOutputVideoHook, FOutputVideoHookConv, frame, ost.frame_number,
                                  ost.source ? ost.source->pts : 0);
    }
  }
  run_post_hooks(frame, ost.frame_number, ost.source ? ost.source->pts : 0, converted);
}

void TCustomFFmpeg::handle_decoded_video(TAVInputStream& ist, AVFrame* frame) {
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
    ist.pts = avutil.av_rescale_q(frame->best_effort_timestamp, ist.st->time_base, kMicroseconds);
  else
    ist.pts = ist.next_pts;
  AVRational rate = ist.st->avg_frame_rate.num ? ist.st->avg_frame_rate : ist.st->r_frame_rate;
  ist.next_pts = ist.pts + (rate.num > 0 && rate.den > 0
                                ? avutil.av_rescale_q(1, AVRational{rate.den, rate.num}, kMicroseconds)
                                : 40000);
  if (Frecording_time != INT64_MAX && ist.pts >= Fstart_time + Frecording_time) {
    ist.is_past_recording_time = true;
    return;
  }
  if (Fstart_time != 0 && ist.pts < Fstart_time) return;
  run_input_video_hooks(ist, frame);
  for (TAVOutputStream* ost : FTables.ostreams)
    if (ost->source == &ist && ost->encoding_needed) encode_video_frame(encoder_record(*ost), ist, frame);
}

void TCustomFFmpeg::encode_video_frame(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* frame) {
  AVCodecContext* enc = ost.Encoder();
  // Where the picture belongs in the output, in frames.
  const double target = static_cast<double>(ist.pts - Fstart_time) / 1000000.0 / av_q2d(enc->time_base);
  int copies = 1;
  if (Fvideo_sync_method != 0) {
    const double delta = target - static_cast<double>(ost.video_next_pts);
    const bool variable = Foutput_files[static_cast<size_t>(ost.file_index)].ctx->oformat->flags & AVFMT_VARIABLE_FPS;
    const double dropLimit = (Fvideo_sync_method == 2 || (Fvideo_sync_method < 0 && variable)) ? -0.6 : -1.1;
    if (delta < dropLimit) {
      copies = 0;
    } else if (delta > 1.1) {
      copies = static_cast<int>(std::lrint(delta + 1));
    }
    if (Fvideo_sync_method < 0 && variable && delta > 0.6) {
      ost.video_next_pts = std::lrint(target);
      copies = 1;
    }
  }
  copies = std::min(copies, Fmax_frames[0] - ost.frame_number);
  if (copies == 0) {
    ++Fnb_frames_drop;
    FShowDupOrDrop = true;
    if (Fverbose > 2) FFLogger().Log(this, llVerbose, "*** drop!");
    return;
  }
  if (copies > 1) {
    Fnb_frames_dup += copies - 1;
    FShowDupOrDrop = true;
    if (Fverbose > 2) FFLogger().Log(this, llVerbose, "*** %d dup!", copies - 1);
  }

  // Scaling to the encoder's picture.
  AVFrame* picture = frame;
  if (frame->width != enc->width || frame->height != enc->height || frame->format != enc->pix_fmt) {
    if (frame->width != ost.resample_width || frame->height != ost.resample_height ||
        frame->format != ost.resample_pix_fmt || !ost.img_resample_ctx) {
      if (ost.img_resample_ctx)
        FFLogger().Log(this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.file_index, ist.index,
                       frame->width, frame->height,
                       avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format)));
      ost.resample_width = frame->width;
      ost.resample_height = frame->height;
      ost.resample_pix_fmt = frame->format;
      ost.img_resample_ctx.reset(swscale.sws_getContext(frame->width, frame->height,
                                                        static_cast<AVPixelFormat>(frame->format), enc->width,
                                                        enc->height, enc->pix_fmt, static_cast<int>(Fsws_flags),
                                                        nullptr, nullptr, nullptr));
      if (!ost.img_resample_ctx) throw FFmpegException("Cannot get resampling context");
    }
    if (!ost.pict_tmp) {
      ost.pict_tmp.reset(avutil.av_frame_alloc());
      if (!ost.pict_tmp) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
      ost.pict_tmp->format = enc->pix_fmt;
      ost.pict_tmp->width = enc->width;
      ost.pict_tmp->height = enc->height;
      if (avutil.av_frame_get_buffer(ost.pict_tmp.get(), 0) < 0)
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    if (avutil.av_frame_make_writable(ost.pict_tmp.get()) < 0)
      throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    swscale.sws_scale(ost.img_resample_ctx.get(), frame->data, frame->linesize, 0, frame->height, ost.pict_tmp->data,
                      ost.pict_tmp->linesize);
    picture = ost.pict_tmp.get();
  }
  if (!ost.hooks_stopped) run_output_video_hooks(ost, picture);

  for (int i = 0; i < copies && !FBroken.Cancelled(); ++i) {
    picture->pts = ost.video_next_pts++;
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec.avcodec_send_frame(enc, picture) < 0) throw FFmpegException("Video encoding failed");
    receive_packets(ost);
  }
  ost.quality = frame->quality > 0 ? static_cast<float>(frame->quality) / FF_QP2LAMBDA : ost.quality;
}

}  // namespace quorvel
