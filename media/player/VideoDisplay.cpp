// The picture path's consumer side, on the event loop: the refresh decides
// which queued picture is due (showing, keeping or dropping it), retires
// subtitles, and draws the picture (or the audio's wave or spectrum) on the
// SDL surface. Also the video mode, CurrentFrame and the display setters.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/player/FFPlay.h"
#include "media/player/Histogram.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

// ---- rules, public for their tables ----

TCustomPlayer::TRect TCustomPlayer::DisplayRect(float AAspectRatio, int ASurfaceWidth, int ASurfaceHeight,
                                                AVRational ASar, int APictureWidth, int APictureHeight) {
  double aspect;
  if (AAspectRatio < 0 && ASurfaceWidth > 0 && ASurfaceHeight > 0) {
    aspect = static_cast<double>(ASurfaceWidth) / ASurfaceHeight;
  } else if (AAspectRatio > 0) {
    aspect = AAspectRatio;
  } else {
    double pixel = ASar.num != 0 && ASar.den != 0 ? static_cast<double>(ASar.num) / ASar.den : 0;
    if (pixel <= 0) pixel = 1;
    aspect = APictureHeight > 0 ? pixel * APictureWidth / APictureHeight : 1;
  }
  if (aspect <= 0) aspect = 1;
  int h = ASurfaceHeight;
  int w = static_cast<int>(std::lround(h * aspect)) & ~1;
  if (w > ASurfaceWidth) {
    w = ASurfaceWidth;
    h = static_cast<int>(std::lround(w / aspect)) & ~1;
  }
  return TRect{(ASurfaceWidth - w) / 2, (ASurfaceHeight - h) / 2, w, h};
}

TCustomPlayer::TPictureVerdict TCustomPlayer::JudgePicture(double ANow, double ATarget, double ANextTarget,
                                                           bool ATwoQueued, bool AFrameDrop, bool AForced,
                                                           std::atomic<double>& ASkipFrames) {
  if (ANow < ATarget) return pvNotDue;
  if ((AFrameDrop && ANow > ANextTarget) || AForced) {
    ASkipFrames = ASkipFrames * 1.05;
    if (ATwoQueued || ANow > ANextTarget + 0.5 || AForced) return pvDrop;
  }
  return pvShow;
}

bool TCustomPlayer::SubtitleExpired(double AVideoPts, const TQueuedSubtitle& ASub, const TQueuedSubtitle* ANext) {
  // A DVD subtitle without a stop command decodes with an end of 0: taken
  // as an end it would retire the subtitle before its first picture.
  const bool hasEnd = ASub.sub.end_display_time > ASub.sub.start_display_time;
  if (hasEnd && AVideoPts > ASub.pts + ASub.sub.end_display_time / 1000.0) return true;
  return ANext && AVideoPts > ANext->pts + ANext->sub.start_display_time / 1000.0;
}

int TCustomPlayer::SubtitleForPicture(double APts, const TQueuedSubtitle* AQueue, int ARIndex, int ASize) {
  for (int i = 0; i < ASize; ++i) {
    const int index = (ARIndex + i) % kSubPictureQueueSize;
    const TQueuedSubtitle& sp = AQueue[index];
    const TQueuedSubtitle* next = i + 1 < ASize ? &AQueue[(index + 1) % kSubPictureQueueSize] : nullptr;
    if (sp.valid && APts >= sp.pts + sp.sub.start_display_time / 1000.0 && !SubtitleExpired(APts, sp, next))
      return index;
  }
  return -1;
}

void TCustomPlayer::BlendSubtitle(uint8_t* const APlanes[3], const int ALinesizes[3], const AVSubtitleRect& ARect,
                                  int APictureWidth, int APictureHeight) {
  const int w = std::clamp(ARect.w, 0, APictureWidth);
  const int h = std::clamp(ARect.h, 0, APictureHeight);
  const int x0 = std::clamp(ARect.x, 0, APictureWidth - w);
  const int y0 = std::clamp(ARect.y, 0, APictureHeight - h);
  if (w <= 0 || h <= 0 || !ARect.data[0] || !ARect.data[1]) return;
  const auto* palette = reinterpret_cast<const uint32_t*>(ARect.data[1]);
  const uint8_t* index = ARect.data[0];
  const int stride = ARect.linesize[0];
  // Luma, pixel by pixel.
  for (int y = 0; y < h; ++y) {
    uint8_t* row = APlanes[0] + static_cast<ptrdiff_t>(y0 + y) * ALinesizes[0] + x0;
    for (int x = 0; x < w; ++x) {
      const uint32_t c = palette[index[y * stride + x]];
      const int a = static_cast<int>(c >> 24);
      const int luma = static_cast<int>((c >> 16) & 0xff);
      row[x] = static_cast<uint8_t>(((255 - a) * row[x] + a * luma) / 255);
    }
  }
  // Chroma: each sample of the 4:2:0 planes takes the subtitle pixels that
  // fall on it (4 inside, 2 or 1 on an odd edge).
  const int cx0 = x0 >> 1, cy0 = y0 >> 1;
  const int cx1 = (x0 + w - 1) >> 1, cy1 = (y0 + h - 1) >> 1;
  for (int cy = cy0; cy <= cy1; ++cy) {
    for (int cx = cx0; cx <= cx1; ++cx) {
      int k = 0, sumA = 0, sumU = 0, sumV = 0;
      for (int py = 2 * cy; py < 2 * cy + 2; ++py) {
        if (py < y0 || py >= y0 + h) continue;
        for (int px = 2 * cx; px < 2 * cx + 2; ++px) {
          if (px < x0 || px >= x0 + w) continue;
          const uint32_t c = palette[index[(py - y0) * stride + (px - x0)]];
          ++k;
          sumA += static_cast<int>(c >> 24);
          sumU += static_cast<int>((c >> 8) & 0xff);
          sumV += static_cast<int>(c & 0xff);
        }
      }
      if (k == 0) continue;
      const int a = sumA >> 2;
      uint8_t* u = APlanes[1] + static_cast<ptrdiff_t>(cy) * ALinesizes[1] + cx;
      uint8_t* v = APlanes[2] + static_cast<ptrdiff_t>(cy) * ALinesizes[2] + cx;
      *u = static_cast<uint8_t>((*u * k * (255 - a) + a * sumU) / (255 * k));
      *v = static_cast<uint8_t>((*v * k * (255 - a) + a * sumV) / (255 * k));
    }
  }
}

// ---- the refresh ----

void TCustomPlayer::RefreshVideo(TVideoState* is, bool ADequeue) {
  if (is->video_st.load()) {
    bool dropped = false;
    for (;;) {
      const bool forced = is->seek_done != 0;
      if (is->pictq_size == 0) {
        if (!ADequeue) DisplayVideo(is);
        break;
      }
      const double now = NowUs(*is) / 1000000.0;
      TQueuedPicture* vp = &is->pictq[is->pictq_rindex];
      if (now < vp->target_time) return;
      is->video_current_pts = vp->pts;
      is->video_current_pts_drift = vp->pts - now;
      is->video_current_pos = vp->pos;
      const bool two = is->pictq_size > 1;
      double next;
      if (two) {
        next = is->pictq[(is->pictq_rindex + 1) % kPictureQueueSize].target_time;
      } else {
        next = vp->target_time + is->video_clock - vp->pts;
      }
      if (ADequeue &&
          JudgePicture(now, vp->target_time, next, two, Fframedrop != 0 && !is->IsDevice, forced, is->skip_frames) ==
              pvDrop) {
        DequeuePicture(is);
        dropped = true;
        std::lock_guard lock(FVideoStatsLock);
        ++FVideoStats.Dropped;
        continue;
      }
      RetireSubtitles(is);
      DisplayVideo(is);
      if (ADequeue) CountShownPicture(is, vp, now);
      if (ADequeue) DequeuePicture(is);
      break;
    }
    if (!dropped) UpdatePosition();
  } else if (is->audio_st.load()) {
    DisplayVideo(is);
    UpdatePosition();
  }
}

void TCustomPlayer::CountShownPicture(TVideoState* is, const TQueuedPicture* vp, double ANow) {
  std::lock_guard lock(FVideoStatsLock);
  TVideoStats& stats = FVideoStats;
  ++stats.Shown;
  if (ANow - vp->target_time > is->frame_delay) ++stats.Late;
  if (is->audio_st.load()) {
    const double error = vp->pts - GetAudioClock(*is);
    stats.ErrorSum += error;
    stats.AbsErrorSum += std::fabs(error);
    const auto step = static_cast<int64_t>(std::fabs(error) * 1000);
    ++stats.ErrorSteps[std::min<int64_t>(step, TVideoStats::kSteps - 1)];
  }
  if (is->first_picture_pending.exchange(0)) stats.FirstPicture = NowUs(*is);
}

TCustomPlayer::TVideoStats TCustomPlayer::VideoStats() const {
  std::lock_guard lock(FVideoStatsLock);
  return FVideoStats;
}

int64_t TCustomPlayer::TVideoStats::PercentileMs(double AFraction) const {
  return PercentileStep(ErrorSteps, AFraction);
}

void TCustomPlayer::DequeuePicture(TVideoState* is) {
  is->pictq_rindex = (is->pictq_rindex + 1) % kPictureQueueSize;
  std::lock_guard lock(is->pictq_mutex);
  is->pictq_size = is->pictq_size - 1;
  is->pictq_cond.notify_all();
}

void TCustomPlayer::RetireSubtitles(TVideoState* is) {
  if (!is->subtitle_st.load()) return;
  if (is->subtitle_stream_changed) {
    std::lock_guard lock(is->subpq_mutex);
    DropQueuedSubtitles(is);
    is->subtitle_stream_changed = 0;
    return;
  }
  const double now = is->video_current_pts;
  std::lock_guard lock(is->subpq_mutex);
  while (is->subpq_size > 0) {
    TQueuedSubtitle* sp = &is->subpq[is->subpq_rindex];
    TQueuedSubtitle* sp2 = is->subpq_size > 1 ? &is->subpq[(is->subpq_rindex + 1) % kSubPictureQueueSize] : nullptr;
    if (!SubtitleExpired(now, *sp, sp2)) break;
    FreeSubtitle(*sp);
    is->subpq_rindex = (is->subpq_rindex + 1) % kSubPictureQueueSize;
    is->subpq_size = is->subpq_size - 1;
    is->subpq_cond.notify_all();
  }
}

void TCustomPlayer::BlendPictureSubtitle(TVideoState* is, TQueuedPicture* vp) {
  if (!is->subtitle_st.load() || !vp->bmp) return;
  std::lock_guard lock(is->subpq_mutex);
  const int index = SubtitleForPicture(vp->pts, is->subpq, is->subpq_rindex, is->subpq_size);
  if (index < 0) return;
  TQueuedSubtitle* sp = &is->subpq[index];
  // Blending again would darken a see-through subtitle at every redraw.
  if (vp->subtitle_serial == sp->serial) return;
  FSDL.SDL_LockYUVOverlay(vp->bmp);
  uint8_t* planes[3] = {vp->bmp->pixels[0], vp->bmp->pixels[2], vp->bmp->pixels[1]};
  const int lines[3] = {vp->bmp->pitches[0], vp->bmp->pitches[2], vp->bmp->pitches[1]};
  for (unsigned i = 0; i < sp->sub.num_rects; ++i) BlendSubtitle(planes, lines, *sp->sub.rects[i], vp->width, vp->height);
  FSDL.SDL_UnlockYUVOverlay(vp->bmp);
  vp->subtitle_serial = sp->serial;
}

// ---- drawing ----

bool TCustomPlayer::HasSomethingToDraw(TVideoState* is) const {
  return is->video_st.load() || (is->audio_st.load() && is->show_audio != 0);
}

void TCustomPlayer::DisplayVideo(TVideoState* is) {
  // Nothing to draw, no surface: without a host window a video mode would
  // open SDL's own window for nothing.
  if (!HasSomethingToDraw(is)) return;
  if (!FScreen) OpenVideoMode(is, false);
  if (!FScreen) return;
  if (is->audio_st.load() && is->show_audio != 0) {
    // With pictures the refresh follows their times; the audio display
    // keeps its own pace (rdftspeed, a little early allowed for the
    // refresh's own lateness), or the spectrum would scroll with the
    // pictures' rate.
    const int64_t now = NowUs(*is);
    if (is->video_st.load() && now - is->audio_drawn_us < int64_t{Frdftspeed} * 1000 - 2000) return;
    is->audio_drawn_us = now;
    DisplayAudio(is);
  } else if (is->video_st.load()) {
    DisplayImage(is);
  }
}

int TCustomPlayer::OpenVideoMode(TVideoState* is, bool AForce) {
  int w, h;
  const int screenWidth = FScreenWidth, screenHeight = FScreenHeight;
  if (FIsFullScreen && FFullScreenWidth > 0) {
    w = FFullScreenWidth;
    h = FFullScreenHeight;
  } else if (!FIsFullScreen && screenWidth > 0) {
    w = screenWidth;
    h = screenHeight;
  } else if (is->out_width > 0) {
    w = is->out_width & ~1;
    h = is->out_height & ~1;
  } else {
    w = kFallbackScreenWidth;
    h = kFallbackScreenHeight;
  }
  if (!AForce && FScreen && is->width == FScreen->w && is->height == FScreen->h && FScreen->w == w &&
      FScreen->h == h)
    return 0;
  const Uint32 flags = SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_HWACCEL | (FIsFullScreen ? SDL_FULLSCREEN : SDL_RESIZABLE);
  // The dummy driver's default depth cannot hold an overlay.
  SDL_Surface* screen = FSDL.SDL_SetVideoMode(w, h, FDummyVideo ? 32 : 0, flags);
  if (!screen) {
    LogLine(llError, "SDL: could not set video mode.");
    return -1;
  }
  SetScreen(is, screen);
  return 0;
}

void TCustomPlayer::SetScreen(TVideoState* is, SDL_Surface* AScreen) {
  FScreen = AScreen;
  if (!FScreenHandle) FSDL.SDL_WM_SetCaption("FFPlayer", "FFPlayer");
  is->width = AScreen->w;
  is->height = AScreen->h;
  // SDL posts window events from now on (not under the dummy driver).
  if (!FDummyVideo) FWindowEvents = true;
}

void TCustomPlayer::DisplayImage(TVideoState* is) {
  std::lock_guard lock(is->overlay_lock);
  const int index = is->pictq_size > 0 ? is->pictq_rindex.load() : is->pictq_shown;
  if (index < 0) return;
  TQueuedPicture* vp = &is->pictq[index];
  if (!vp->bmp) return;
  BlendPictureSubtitle(is, vp);
  const TRect r = DisplayRect(FAspectRatio, is->width, is->height, vp->sar, vp->width, vp->height);
  is->no_background = 0;
  SDL_Rect rect{static_cast<Sint16>(r.x + is->xleft), static_cast<Sint16>(r.y + is->ytop),
                static_cast<Uint16>(std::max(r.w, 0)), static_cast<Uint16>(std::max(r.h, 0))};
  FSDL.SDL_DisplayYUVOverlay(vp->bmp, &rect);
  is->pictq_shown = index;
  is->displays_drawn.fetch_add(1, std::memory_order_relaxed);
}

void TCustomPlayer::FillRect(SDL_Surface* ASurface, int AX, int AY, int AW, int AH, uint32_t AColor) {
  SDL_Rect rect{static_cast<Sint16>(AX), static_cast<Sint16>(AY), static_cast<Uint16>(std::max(AW, 0)),
                static_cast<Uint16>(std::max(AH, 0))};
  FSDL.SDL_FillRect(ASurface, &rect, AColor);
}

void TCustomPlayer::DisplayAudio(TVideoState* is) {
  // The ring holds samples in the device's format: step by its channels.
  const int channels = std::max(1, is->audio_out.Channels);
  const int rate = is->audio_out.Freq;
  const bool wave = is->show_audio == saWave;
  int rdftBits = 1;
  while ((1 << rdftBits) < 2 * is->height) ++rdftBits;
  const int nbFreq = 1 << (rdftBits - 1);
  const int dataUsed = wave ? is->width : 2 * nbFreq;
  const auto wrap = [](int AIndex) { return ((AIndex % kSampleArraySize) + kSampleArraySize) % kSampleArraySize; };
  // The samples to draw, copied out of the ring under its lock.
  std::vector<int16_t> samples(static_cast<size_t>(std::max(dataUsed, 0)) * channels);
  {
    std::lock_guard lock(is->sample_lock);
    int start;
    if (!is->paused) {
      int delay = (static_cast<int>(is->audio_buf_size) - is->audio_buf_index) / (2 * channels);
      const int64_t callbackTime = Faudio_callback_time;
      if (callbackTime) delay -= static_cast<int>((NowUs(*is) - callbackTime) * rate / 1000000);
      delay += 2 * dataUsed;
      if (delay < dataUsed) delay = dataUsed;
      start = wrap(is->sample_array_index - delay * channels);
      if (wave) {
        // Start at a rising zero crossing, so that a steady tone stands still.
        int best = -1, bestScore = 0;
        for (int i = 0; i < 1000; i += channels) {
          const int idx = wrap(start - i);
          const int a = is->sample_array[idx];
          const int b = is->sample_array[wrap(idx + 4 * channels)];
          const int c = is->sample_array[wrap(idx + 5 * channels)];
          const int d = is->sample_array[wrap(idx + 9 * channels)];
          const int score = a - d;
          if ((b ^ c) < 0 && (best < 0 || score > bestScore)) {
            best = idx;
            bestScore = score;
          }
        }
        if (best >= 0) start = best;
      }
      is->last_i_start = start;
    } else {
      start = is->last_i_start;
    }
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = is->sample_array[wrap(start + static_cast<int>(i))];
  }
  SDL_Surface* screen = FScreen;
  const Uint32 white = FSDL.SDL_MapRGB(screen->format, 0xff, 0xff, 0xff);
  if (wave) {
    FillRect(screen, is->xleft, is->ytop, is->width, is->height, FSDL.SDL_MapRGB(screen->format, 0, 0, 0));
    const int h = is->height / channels;
    const int h2 = (h * 9) / 20;
    for (int ch = 0; ch < channels; ++ch) {
      const int y1 = is->ytop + ch * h + h / 2;
      for (int x = 0; x < is->width; ++x) {
        const int y = (samples[static_cast<size_t>(x) * channels + ch] * h2) >> 15;
        if (y < 0)
          FillRect(screen, is->xleft + x, y1 + y, 1, -y, white);
        else
          FillRect(screen, is->xleft + x, y1, 1, y, white);
      }
    }
    for (int ch = 1; ch < channels; ++ch) FillRect(screen, is->xleft, is->ytop + ch * h, is->width, 1, white);
    FSDL.SDL_UpdateRect(screen, is->xleft, is->ytop, is->width, is->height);
    is->displays_drawn.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // The spectrum: one column per refresh, scrolling to the right.
  const int shown = std::min(channels, 2);
  if (rdftBits != is->rdft_bits || !is->rdft) {
    if (is->rdft) avutil.av_tx_uninit(&is->rdft);
    is->rdft_fn = nullptr;
    const float scale = 1.0f;
    if (avutil.av_tx_init(&is->rdft, &is->rdft_fn, AV_TX_FLOAT_RDFT, 0, 2 * nbFreq, &scale, AV_TX_UNALIGNED) < 0) {
      is->rdft = nullptr;
      return;
    }
    is->rdft_bits = rdftBits;
    is->rdft_data.assign(static_cast<size_t>(2 * nbFreq) * 2, 0.0f);
    is->rdft_out.assign(static_cast<size_t>(nbFreq + 1) * 2 * 2, 0.0f);
  }
  float* in[2] = {is->rdft_data.data(), is->rdft_data.data() + 2 * nbFreq};
  auto* out = reinterpret_cast<AVComplexFloat*>(is->rdft_out.data());
  AVComplexFloat* spectra[2] = {out, out + (nbFreq + 1)};
  for (int ch = 0; ch < shown; ++ch) {
    for (int x = 0; x < 2 * nbFreq; ++x) {
      const double w = static_cast<double>(x - nbFreq) / nbFreq;
      in[ch][x] = static_cast<float>(samples[static_cast<size_t>(x) * channels + ch] * (1.0 - w * w));
    }
    is->rdft_fn(is->rdft, spectra[ch], in[ch], sizeof(float));
  }
  const double norm = std::sqrt(static_cast<double>(nbFreq));
  for (int y = 0; y < is->height && y < nbFreq; ++y) {
    const auto intensity = [&](int ch) {
      const AVComplexFloat c = spectra[ch][y];
      const double m = std::sqrt(static_cast<double>(c.re) * c.re + static_cast<double>(c.im) * c.im);
      return std::min(255, static_cast<int>(std::lround(std::sqrt(m / norm))));
    };
    const int a = intensity(0);
    const int b = shown > 1 ? intensity(1) : a;
    FillRect(screen, is->xpos, is->height - y, 1, 1,
             FSDL.SDL_MapRGB(screen->format, static_cast<Uint8>(a), static_cast<Uint8>(b),
                             static_cast<Uint8>((a + b) / 2)));
  }
  FSDL.SDL_UpdateRect(screen, is->xpos, is->ytop, 1, is->height);
  if (++is->xpos >= is->width) is->xpos = is->xleft;
  is->displays_drawn.fetch_add(1, std::memory_order_relaxed);
}

// ---- the event loop's handlers ----

void TCustomPlayer::HandleVideoEvent(TVideoState* is, const SDL_Event& AEvent) {
  switch (AEvent.type) {
    case kAllocEvent:
      if (AEvent.user.data1 != is) return;
      OpenVideoMode(is, false);
      AllocPicture(is);
      break;
    case kVideoModeEvent:
      if (!HasSomethingToDraw(is)) return;
      OpenVideoMode(is, true);
      DisplayVideo(is);
      break;
    case SDL_VIDEORESIZE: {
      SDL_Surface* screen =
          FSDL.SDL_SetVideoMode(AEvent.resize.w, AEvent.resize.h, FDummyVideo ? 32 : 0,
                                SDL_HWSURFACE | SDL_RESIZABLE | SDL_ASYNCBLIT | SDL_HWACCEL);
      if (!screen) {
        LogLine(llError, "SDL: could not set video mode.");
        return;
      }
      FScreenWidth = screen->w;
      FScreenHeight = screen->h;
      SetScreen(is, screen);
      if (is->paused) RefreshVideo(is, false);
      break;
    }
    case SDL_VIDEOEXPOSE:
      if (FScreen) RefreshVideo(is, false);
      break;
    default:
      break;
  }
}

// ---- setters and snapshots ----

void TCustomPlayer::SetAspectRatio(float AValue) {
  if (AValue == FAspectRatio) return;
  FAspectRatio = AValue;
  std::lock_guard lock(FStateLock);
  if (FVideoState.load()) PushUserEvent(kVideoModeEvent, nullptr);
}

void TCustomPlayer::ToggleAudioDisplay() {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is) return;
  is->show_audio = (is->show_audio + 1) % 3;
  // The surface is the event loop's: it clears the area on its next event.
  PushUserEvent(kClearEvent, is);
}

TShowAudio TCustomPlayer::AudioDisplay() const {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  return is ? static_cast<TShowAudio>(is->show_audio.load()) : saNone;
}

void TCustomPlayer::ClearPictureArea(TVideoState* is) {
  if (!FScreen) return;
  FillRect(FScreen, is->xleft, is->ytop, is->width, is->height, FSDL.SDL_MapRGB(FScreen->format, 0, 0, 0));
  FSDL.SDL_UpdateRect(FScreen, is->xleft, is->ytop, is->width, is->height);
}

const TBitmap& TCustomPlayer::CurrentFrame(int64_t& APTS) {
  std::lock_guard<std::mutex> frame(FCurrentFrameLock);
  std::lock_guard state(FStateLock);
  TVideoState* is = FVideoState;
  TBitmap& bitmap = FRGBConverter.Bitmap();
  AVStream* st = is ? is->video_st.load() : nullptr;
  if (!st) {
    bitmap.Resize(0, 0);
    APTS = -1;
    return bitmap;
  }
  // The picture at the head of the queue, or the one shown last while the
  // queue is empty; its overlay cannot be freed or rewritten meanwhile.
  std::lock_guard overlay(is->overlay_lock);
  int index = is->pictq_size > 0 ? is->pictq_rindex.load() : is->pictq_shown;
  if (index < 0) index = is->pictq_rindex;
  TQueuedPicture* vp = &is->pictq[index];
  APTS = std::llround(vp->pts * 1000000) - is->StartTime;
  if (!vp->bmp) {
    bitmap.Resize(st->codecpar->width, st->codecpar->height);
    std::memset(bitmap.Bits(), 0, bitmap.SizeBytes());
    return bitmap;
  }
  // The picture as it is shown: with the subtitle of its time (the head
  // picture is read before the refresh draws it).
  BlendPictureSubtitle(is, vp);
  FSDL.SDL_LockYUVOverlay(vp->bmp);
  TPicture picture;
  picture.data[0] = vp->bmp->pixels[0];
  picture.data[1] = vp->bmp->pixels[2];
  picture.data[2] = vp->bmp->pixels[1];
  picture.linesize[0] = vp->bmp->pitches[0];
  picture.linesize[1] = vp->bmp->pitches[2];
  picture.linesize[2] = vp->bmp->pitches[1];
  if (!FRGBConverter.PictureToRGB(picture, AV_PIX_FMT_YUV420P, true, vp->height, vp->width)) bitmap.Resize(0, 0);
  FSDL.SDL_UnlockYUVOverlay(vp->bmp);
  return bitmap;
}

const TBitmap& TCustomPlayer::CurrentFrame() {
  int64_t pts = 0;
  return CurrentFrame(pts);
}

}  // namespace quorvel
