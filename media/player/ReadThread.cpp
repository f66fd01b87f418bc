// The read thread: opens the file, chooses and opens the streams, feeds the
// packet queues, follows pause and seek requests, and closes the streams at
// the end. Also the stream switch and the seek requests of the callers.
#include <chrono>
#include <climits>
#include <cmath>

#include "media/player/FFPlay.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/Stubs.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

void ClearIOError(AVFormatContext* ic) {
  if (ic && ic->pb) {
    ic->pb->eof_reached = 0;
    ic->pb->error = 0;
  }
}

}  // namespace

// ---- interrupt callbacks ----

bool TCustomPlayer::ReadTimeoutInterrupt(TObject* /*ASender*/) {
  switch (FReadLimit.Check(TReadTimeout::Now(), FOpenCancel.Cancelled())) {
    case TReadTimeout::TVerdict::Wait:
      return false;
    case TReadTimeout::TVerdict::Cancelled:
      LogLine(llInfo, "connecting/reading canceled");
      return true;
    case TReadTimeout::TVerdict::TimedOut:
      LogLine(llInfo, "connecting/reading timeout");
      return true;
  }
  return false;
}

bool TCustomPlayer::AbortInterrupt(TObject* /*ASender*/) {
  TVideoState* is = FVideoStateCB;
  return is && is->abort_request == 1;
}

// ---- the thread ----

void TCustomPlayer::ReadThreadProc(TVideoState* is) {
  NameThisThread("player-read");
  SetRealTimeThread(true);
  int result = -1;
  try {
    result = ReadOpen(is);
    if (result == 0 && FStreamsOpenedHook) FStreamsOpenedHook();
    if (result == 0) {
      is->Opened = 1;
      is->OpenDone.Set();
      ReadLoop(is);
      // Leave only when the playback closes (also after CheckIOERR ended
      // the reading: the playback stays until it is stopped). Nobody reads
      // any more: seeks are refused, also one asked just before.
      is->read_ended = 1;
      // Seek requests and the close both set continue_read after their flag.
      while (!is->abort_request) {
        if (is->seek_req) RefuseSeek(is);
        is->continue_read.Wait();
        is->continue_read.Reset();
      }
    }
  } catch (const std::exception& e) {
    SetLastErrMsg(e.what());
    LogLine(llError, "%s", e.what());
    result = -1;
  }
  ReadClose(is, result);
}

int TCustomPlayer::ReadOpen(TVideoState* is) {
  const uint32_t thread = CurrentThreadID();
  const auto timeoutProc = TInterruptProc::Of<TCustomPlayer, &TCustomPlayer::ReadTimeoutInterrupt>(this);
  FReadLimit.End();
  InterruptCB().Add(thread, this, timeoutProc);

  AVDictionary* options = nullptr;
  if (FFrameWidth > 0 && FFrameHeight > 0)
    avutil.av_dict_set(&options, "video_size", Format("%dx%d", FFrameWidth, FFrameHeight).c_str(), 0);
  FReadLimit.Begin(TReadTimeout::Now());
  AVFormatContext* ic = avformat.avformat_alloc_context();
  int err = ic ? OpenInputURL(&ic, FileNameToURL(is->filename), is->iformat, &options) : AVERROR(ENOMEM);
  avutil.av_dict_free(&options);
  if (err < 0 || FOpenCancel.Cancelled()) {
    if (err >= 0) CloseInputURL(&ic);
    SetLastErrMsg(ErrorText(is->filename, err < 0 ? err : AVERROR_EXIT));
    return -1;
  }
  is->ic = ic;
  if (Fgenpts) ic->flags |= AVFMT_FLAG_GENPTS;

  TPlayerBeforeFindStreamInfoEvent before;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    before = FOnBeforeFindStreamInfo;
  }
  if (before) before(this, ic);

  FReadLimit.Begin(TReadTimeout::Now());
  if (avformat.avformat_find_stream_info(ic, nullptr) < 0 || FOpenCancel.Cancelled()) {
    SetLastErrMsg(Format("%s: could not find codec parameters", is->filename.c_str()));
    return -1;
  }
  ClearIOError(ic);
  if (Fseek_by_bytes < 0) Fseek_by_bytes = (ic->iformat->flags & AVFMT_TS_DISCONT) ? 1 : 0;
  const std::string formatName = ic->iformat->name ? ic->iformat->name : "";
  is->IsImage2 = formatName == "image2";
  // Live capture devices have no length and cannot seek. "vfwcap" is
  // Windows' capture device: Linux builds of the library have no format of
  // that name, so this stays false here.
  is->IsDevice = formatName == "vfwcap" || formatName == "vfwcapture";
  if (ic->start_time != AV_NOPTS_VALUE) is->StartTime = ic->start_time;
  is->Duration = ic->duration != AV_NOPTS_VALUE ? ic->duration : -1;

  const int64_t startTime = Fstart_time;
  if (startTime != AV_NOPTS_VALUE) {
    int64_t target = startTime;
    if (ic->start_time != AV_NOPTS_VALUE) target += ic->start_time;
    FReadLimit.Begin(TReadTimeout::Now());
    if (avformat.avformat_seek_file(ic, -1, INT64_MIN, target, INT64_MAX, 0) < 0)
      LogLine(llError, "%s: could not seek to position %0.3f", is->filename.c_str(), target / 1000000.0);
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;

  int audioIndex = -1, videoIndex = -1, subtitleIndex = -1;
  if (!FDisableAudio)
    audioIndex = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, Fwanted_stream[AVMEDIA_TYPE_AUDIO], -1,
                                              nullptr, 0);
  if (!FDisableVideo) {
    videoIndex = BestVideoStream(ic, Fwanted_stream[AVMEDIA_TYPE_VIDEO]);
    subtitleIndex = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, Fwanted_stream[AVMEDIA_TYPE_SUBTITLE],
                                                 audioIndex >= 0 ? audioIndex : videoIndex, nullptr, 0);
  }

  FReadLimit.End();
  InterruptCB().Remove(thread, this, timeoutProc);
  FVideoStateCB = is;
  InterruptCB().Add(thread, this, TInterruptProc::Of<TCustomPlayer, &TCustomPlayer::AbortInterrupt>(this));
  if (FOpenCancel.Cancelled()) {
    SetLastErrMsg(ErrorText(is->filename, AVERROR_EXIT));
    return -1;
  }

  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    if (audioIndex >= 0) OpenStreamComponent(is, audioIndex);
    if (videoIndex >= 0) OpenStreamComponent(is, videoIndex);
    if (subtitleIndex >= 0 && is->video_stream >= 0) OpenStreamComponent(is, subtitleIndex);
  }
  if (!is->video_st.load() && !FDisableDisplay) is->show_audio = saRDFT;
  if (is->audio_stream < 0 && is->video_stream < 0) {
    SetLastErrMsg(Format("%s: could not open codecs, no stream to play.", is->filename.c_str()));
    return -1;
  }
  return 0;
}

void TCustomPlayer::WaitToRead(TVideoState* is) {
  // Pictures and subtitles have no wake of their own yet: with them the
  // reader looks again every 10 ms. Audio alone sets continue_read when it
  // needs the reader; the limit only bounds a wake that never comes.
  const bool onlyAudio = is->video_stream < 0 && is->subtitle_stream < 0;
  is->continue_read.WaitFor(onlyAudio ? 100 : 10);
  is->continue_read.Reset();
}

void TCustomPlayer::ReadLoop(TVideoState* is) {
  AVFormatContext* ic = is->ic;
  TPacketPtr packet(avcodec.av_packet_alloc());
  if (!packet) throw Exception("av_packet_alloc() failed.");
  AVPacket* pkt = packet.get();
  bool eof = false;
  while (!is->abort_request) {
    if (is->video_failed && is->video_stream >= 0) CloseFailedVideo(is);
    if (is->paused != is->last_paused) {
      is->last_paused = is->paused;
      is->read_pause_return = is->paused ? avformat.av_read_pause(ic) : avformat.av_read_play(ic);
    }
    if (is->seek_req) ExecuteSeek(is, eof);

    const bool audio = is->audio_stream >= 0;
    const bool video = is->video_stream >= 0;
    const bool subtitle = is->subtitle_stream >= 0;
    const int total = is->audioq.size + is->videoq.size + is->subtitleq.size;
    if (is->audioq.size <= kAudioRefillMark) is->audio_refill = true;
    if (is->audioq.size > kMinAudioQueueSize) is->audio_refill = false;
    const bool needed = (audio && is->audio_refill) ||
                        (video && is->videoq.nb_packets <= kMinFrames) ||
                        (subtitle && is->subtitleq.nb_packets <= kMinFrames);
    if (total > kMaxQueueSize || !needed) {
      // As far ahead as the reader queues, and no picture's packet among
      // it: the pictures ended before the place of the last seek (a video
      // shorter than its sound). A caller waiting for the seek's picture
      // goes on instead of waiting until the sound has played down to the
      // end of the file.
      if (total > kMaxQueueSize && video && is->videoq.nb_packets == 0 && !FPictEvent.IsSet())
        EndPictureWait(is);
      WaitToRead(is);
      continue;
    }
    if (eof) {
      if (!is->eof_packet_sent) {
        // An empty packet tells the decoders the input ended: they give
        // out what they still hold.
        std::lock_guard<std::mutex> lock(is->stream_lock);
        TPacketPtr emptyPacket(avcodec.av_packet_alloc());
        if (AVPacket* empty = emptyPacket.get()) {
          if (is->audio_stream >= 0) {
            empty->stream_index = is->audio_stream;
            QueuePut(is->audioq, empty);
          }
          if (is->video_stream >= 0) {
            empty->stream_index = is->video_stream;
            QueuePut(is->videoq, empty);
          }
        }
        is->eof_packet_sent = true;
        is->eof_packet_queued = 1;
      }
      if (is->video_stream >= 0) EndPictureWait(is);
      WaitToRead(is);
      // The end is reached when nothing is queued any more and the audio
      // device has taken the last samples of the drained decoder.
      if (is->audioq.size + is->videoq.size + is->subtitleq.size == 0 &&
          (is->audio_stream < 0 || is->audio_tail_played) && !is->ReachEOF) {
        is->ReachEOF = 1;
        RefreshNow(is);  // psEnd without waiting for the refresh's next round
      }
      continue;
    }
    is->Reading = 1;
    int result;
    try {
      result = avformat.av_read_frame(ic, pkt);
    } catch (...) {
      is->Reading = 0;
      throw;
    }
    is->Reading = 0;
    if (is->abort_request) {
      avcodec.av_packet_unref(pkt);
      break;
    }
    if (result < 0) {
      bool leave = false;
      HandleReadError(is, result, eof, leave);
      if (leave) break;
      // An error is retried after a pause; the end of the file is not an
      // error to wait on: the decoders get their end-of-input at once.
      if (!eof) {
        // A stop, seek or pause sets continue_read and ends the pause early.
        is->continue_read.WaitFor(100);
        is->continue_read.Reset();
      }
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(is->stream_lock);
      if (pkt->stream_index == is->audio_stream)
        QueuePut(is->audioq, pkt);
      else if (pkt->stream_index == is->video_stream)
        QueuePut(is->videoq, pkt);
      else if (pkt->stream_index == is->subtitle_stream)
        QueuePut(is->subtitleq, pkt);
    }
    avcodec.av_packet_unref(pkt);
  }
}

void TCustomPlayer::HandleReadError(TVideoState* is, int AResult, bool& AEof, bool& ALeave) {
  AVFormatContext* ic = is->ic;
  if (is->video_stream >= 0) FPictEvent.Set();
  const auto endOfFile = [&] {
    AEof = true;
    if (!is->IsImage2 && !is->IOEOFLog) {
      is->IOEOFLog = 1;
      LogLine(llInfo, "reach end of file: %s", is->filename.c_str());
    }
  };
  if (AResult == AVERROR(EAGAIN)) {
    ClearIOError(ic);
  } else if (AResult == AVERROR_EOF) {
    endOfFile();
  } else if (ic->pb && ic->pb->error == AVERROR(EAGAIN)) {
    ClearIOError(ic);
  } else if (ic->pb && avformat.avio_feof(ic->pb)) {
    if (FCheckIOEOF)
      endOfFile();
    else
      ClearIOError(ic);
  } else if (!is->IsImage2 && !is->IOERRLog) {
    is->IOERRLog = 1;
    LogLine(llError, "error #%d while reading file: %s", AResult, is->filename.c_str());
  }
  if (ic->pb && ic->pb->error) {
    if (FCheckIOERR)
      ALeave = true;
    else
      ClearIOError(ic);
  }
}

void TCustomPlayer::ExecuteSeek(TVideoState* is, bool& AEof) {
  AVFormatContext* ic = is->ic;
  const int64_t target = is->seek_pos;
  const int64_t rel = is->seek_rel;
  const int flags = is->seek_flags;
  const int64_t lower = rel > 0 ? target - rel + 2 : INT64_MIN;
  const int64_t upper = rel < 0 ? target - rel - 2 : INT64_MAX;
  int result = avformat.avformat_seek_file(ic, -1, lower, target, upper, flags);
  if (result < 0) result = avformat.av_seek_frame(ic, -1, target, flags);
  if (result < 0) result = avformat.av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  if (result < 0) {
    LogLine(llError, "%s: error while seeking", is->filename.c_str());
    if (is->video_stream >= 0) FPictEvent.Set();
  } else {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    if (is->audio_stream >= 0) {
      QueueFlush(is->audioq);
      QueuePut(is->audioq, &FFlushPkt);
    }
    if (is->subtitle_stream >= 0) {
      QueueFlush(is->subtitleq);
      QueuePut(is->subtitleq, &FFlushPkt);
      // Subtitles decoded for the old place are let go here too: with the
      // queue full of them the subtitle thread would wait for room (and so
      // never reach the flush) until the pictures reached their times.
      std::lock_guard sub(is->subpq_mutex);
      DropQueuedSubtitles(is);
    }
    if (is->video_stream >= 0) {
      is->seek_flushed = 0;
      QueueFlush(is->videoq);
      QueuePut(is->videoq, &FFlushPkt);
      FPictEvent.Reset();
    }
  }
  ClearIOError(ic);
  is->IOEOFLog = 0;
  is->IOERRLog = 0;
  is->ReachEOF = 0;
  is->EventEOF = 0;
  is->audio_tail_played = 0;
  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    is->eof_packet_sent = false;
  }
  is->eof_packet_queued = 0;
  is->seek_req = 0;
  is->seek_done = 1;
  // Before the event: a caller woken by it sees Seeking already false.
  // With video the first picture after the seek clears it; a seek that
  // failed has none to wait for.
  if (is->video_stream < 0 || result < 0) FSeeking = false;
  FSeekEvent.Set();
  AEof = false;
}

void TCustomPlayer::RefuseSeek(TVideoState* is) {
  FSeeking = false;
  FSeekEvent.Set();
  FPictEvent.Set();
  // Last: a new request can come only from here on (and is refused).
  is->seek_req = 0;
}

void TCustomPlayer::EndPictureWait(TVideoState* is) {
  if (!is->seek_req) FSeeking = false;
  FPictEvent.Set();
}

void TCustomPlayer::CloseFailedVideo(TVideoState* is) {
  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    if (is->subtitle_stream >= 0) CloseStreamComponent(is, is->subtitle_stream);
    CloseStreamComponent(is, is->video_stream);
  }
  EndPictureWait(is);
}

void TCustomPlayer::ReadClose(TVideoState* is, int AResult) {
  if (is->Opened != 1) is->Opened = -1;
  const uint32_t thread = CurrentThreadID();
  FReadLimit.End();
  InterruptCB().Remove(thread, this, TInterruptProc::Of<TCustomPlayer, &TCustomPlayer::ReadTimeoutInterrupt>(this));
  FVideoStateCB = nullptr;
  InterruptCB().Remove(thread, this, TInterruptProc::Of<TCustomPlayer, &TCustomPlayer::AbortInterrupt>(this));
  {
    std::lock_guard<std::mutex> lock(is->stream_lock);
    if (is->audio_stream >= 0) CloseStreamComponent(is, is->audio_stream);
    if (is->video_stream >= 0) CloseStreamComponent(is, is->video_stream);
    if (is->subtitle_stream >= 0) CloseStreamComponent(is, is->subtitle_stream);
  }
  // A playback that opened keeps its context for the decoder binding until
  // the player retires it; a failed one has nobody to describe it.
  if (is->Opened != 1) CloseInputURL(&is->ic);
  // Nobody carries out a seek any more: a caller still waiting for one
  // (asked while the playback closed) goes on.
  FSeeking = false;
  FSeekEvent.Set();
  FPictEvent.Set();
  if (AResult != 0) PushQuitEvent(is);
  if (is->Opened == -1) {
    is->Opened = -2;
    is->OpenDone.Set();
  }
}

// ---- streams ----

int TCustomPlayer::BestVideoStream(AVFormatContext* ic, int AWanted) {
  // A cover picture is a video stream of one picture: it is not played.
  const auto playable = [ic](int AIndex) {
    return AIndex >= 0 && AIndex < static_cast<int>(ic->nb_streams) &&
           ic->streams[AIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(ic->streams[AIndex]->disposition & AV_DISPOSITION_ATTACHED_PIC);
  };
  const int best = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, AWanted, -1, nullptr, 0);
  if (playable(best)) return best;
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (playable(static_cast<int>(i))) return static_cast<int>(i);
  return -1;
}

double TCustomPlayer::FrameDelay(AVStream* AStream, const AVCodecContext* ACodec) {
  AVRational forced{0, 0};
  const std::string forceFrameRate = ForceFrameRate();
  if (!forceFrameRate.empty() && avutil.av_parse_video_rate(&forced, forceFrameRate.c_str()) >= 0 &&
      forced.num > 0) {
    LogLine(llInfo, "Force stream %d frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)", AStream->index,
            ACodec->time_base.num ? static_cast<double>(ACodec->time_base.den) / ACodec->time_base.num : 0.0,
            ACodec->time_base.den, ACodec->time_base.num, static_cast<double>(forced.num) / forced.den, forced.num,
            forced.den);
    return static_cast<double>(forced.den) / forced.num;
  }
  const AVRational r = AStream->r_frame_rate;
  const AVRational tb = ACodec->time_base;
  if (FAutoAdjustFrameRate && r.num > 0 && r.den > 0 &&
      (tb.num != r.den || int64_t{r.num} * ACodec->ticks_per_frame != tb.den)) {
    LogLine(llInfo, "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
            AStream->index, tb.num ? static_cast<double>(tb.den) / tb.num : 0.0, tb.den, tb.num,
            static_cast<double>(r.num) / r.den, r.num, r.den);
    return static_cast<double>(r.den) / r.num;
  }
  return tb.den ? static_cast<double>(tb.num) / tb.den : 0;
}

int TCustomPlayer::OpenStreamComponent(TVideoState* is, int AStreamIndex) {
  AVFormatContext* ic = is->ic;
  if (AStreamIndex < 0 || AStreamIndex >= static_cast<int>(ic->nb_streams)) return -1;
  AVStream* st = ic->streams[AStreamIndex];
  const AVMediaType type = st->codecpar->codec_type;
  if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_SUBTITLE) return -1;

  const AVCodec* codec = avcodec.avcodec_find_decoder(st->codecpar->codec_id);
  TCodecContextPtr decoder(codec ? avcodec.avcodec_alloc_context3(codec) : nullptr);
  AVCodecContext* ctx = decoder.get();
  int result = ctx ? avcodec.avcodec_parameters_to_context(ctx, st->codecpar) : -1;
  if (result >= 0) {
    ctx->pkt_timebase = st->time_base;
    ctx->workaround_bugs = Fworkaround_bugs;
    ctx->lowres = Flowres;
    ctx->idct_algo = Fidct_algo;
    if (Ffast) ctx->flags2 |= AV_CODEC_FLAG2_FAST;
    ctx->err_recognition = Ferror_recognition;
    ctx->error_concealment = Ferror_concealment;
    // Every decoder works on its stream's own thread only: a decoder's
    // helper threads hand their frames over through atomics inside the
    // libraries that ThreadSanitizer cannot follow, and a preview-sized
    // picture decodes in time on one thread (bench/run-video).
    ctx->thread_count = 1;
    TCodecLock lock;
    result = avcodec.avcodec_open2(ctx, codec, nullptr);
  }
  if (result < 0) {
    LogLine(llError, "avcodec_open() failed.");
    return -1;
  }
  if (type == AVMEDIA_TYPE_VIDEO) {
    st->discard = AVDISCARD_DEFAULT;
    is->frame_delay = FrameDelay(st, ctx);
    is->video_dec = std::move(decoder);
    is->frame_timer = NowUs(*is) / 1000000.0;
    is->frame_last_delay = 0.04;
    is->frame_last_pts = 0;
    is->skip_frames = 1;
    is->skip_frames_index = 0;
    ResetPtsCorrection(is->pts_ctx);
    // The flush packet first, as after a seek: the video thread starts its
    // timing from "no picture yet" (a file whose pictures start at 1.4 s
    // shows its first one at once, not 1.4 s late), and a failed first
    // seek finds the decoder flushed.
    QueueInit(is->videoq, &FFlushPkt);
    QueuePut(is->videoq, &FFlushPkt);
    is->video_stream = AStreamIndex;
    is->video_st = st;
    is->video_tid = std::thread([this, is] { VideoThreadProc(is); });
    return 0;
  }
  if (type == AVMEDIA_TYPE_SUBTITLE) {
    st->discard = AVDISCARD_DEFAULT;
    is->subtitle_dec = std::move(decoder);
    QueueInit(is->subtitleq, &FFlushPkt);
    QueuePut(is->subtitleq, &FFlushPkt);
    is->subtitle_stream = AStreamIndex;
    is->subtitle_st = st;
    is->subtitle_tid = std::thread([this, is] { SubtitleThreadProc(is); });
    return 0;
  }
  if (!OpenAudioDevice(is, ctx)) {
    LogLine(llError, "SDL_OpenAudio() failed: %s", FSDL.SDL_GetError());
    return -1;
  }
  st->discard = AVDISCARD_DEFAULT;

  is->audio_dec = std::move(decoder);
  is->audio_stream = AStreamIndex;
  is->audio_st = st;
  is->AudioDuration =
      st->duration != AV_NOPTS_VALUE ? avutil.av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000}) : -1;
  is->audio_buf_size = 0;
  is->audio_buf_index = 0;
  // The running average of the audio-minus-master difference weighs the
  // last 20 measurements down to 1 %.
  is->audio_diff_avg_coef = std::exp(std::log10(0.01) / kAudioDiffAvgNb);
  is->audio_diff_avg_count = 0;
  is->audio_diff_cum = 0;
  is->audio_diff_threshold = 2.0 * kSDLAudioBufferSize / is->audio_out.Freq;
  is->audio_draining = false;
  is->audio_drained = false;
  is->audio_tail_handed = false;
  is->audio_tail_played = 0;
  is->audio_awaiting_packet = true;
  QueueInit(is->audioq, &FFlushPkt);
  QueueWakeReader(is->audioq, &is->continue_read, kAudioRefillMark);
  QueuePut(is->audioq, &FFlushPkt);
  if (is->eof_packet_sent) {
    // Opened after the reader ended the input (a switch near the end): the
    // new decoder gets the end as well, or it would wait for it for ever
    // and the playback would never end.
    TPacketPtr empty(avcodec.av_packet_alloc());
    if (empty) {
      empty->stream_index = AStreamIndex;
      QueuePut(is->audioq, empty.get());
    }
  }
  is->audio_ready.store(1, std::memory_order_release);
  FSDL.SDL_PauseAudio(0);
  return 0;
}

void TCustomPlayer::CloseStreamComponent(TVideoState* is, int AStreamIndex) {
  AVFormatContext* ic = is->ic;
  if (AStreamIndex < 0 || AStreamIndex >= static_cast<int>(ic->nb_streams)) return;
  AVStream* st = ic->streams[AStreamIndex];
  if (AStreamIndex == is->video_stream) {
    QueueAbort(is->videoq);
    is->StateChanged();
    {
      std::lock_guard lock(is->pictq_mutex);
      is->pictq_cond.notify_all();
    }
    if (is->video_tid.joinable()) is->video_tid.join();
    QueueEnd(is->videoq);
    st->discard = AVDISCARD_ALL;
    is->video_dec.reset();
    is->video_st = nullptr;
    is->video_stream = -1;
    return;
  }
  if (AStreamIndex == is->subtitle_stream) {
    QueueAbort(is->subtitleq);
    is->StateChanged();
    {
      std::lock_guard lock(is->subpq_mutex);
      is->subpq_cond.notify_all();
    }
    if (is->subtitle_tid.joinable()) is->subtitle_tid.join();
    QueueEnd(is->subtitleq);
    {
      // The event loop draws no more (the playback is closing).
      std::lock_guard lock(is->subpq_mutex);
      for (TQueuedSubtitle& sp : is->subpq) FreeSubtitle(sp);
      is->subpq_size = 0;
      is->subpq_rindex = is->subpq_windex = 0;
    }
    st->discard = AVDISCARD_ALL;
    is->subtitle_dec.reset();
    is->subtitle_st = nullptr;
    is->subtitle_stream = -1;
    return;
  }
  if (AStreamIndex != is->audio_stream) return;
  QueueAbort(is->audioq);
  CloseAudio(is);
  is->audio_ready = 0;
  QueueEnd(is->audioq);
  st->discard = AVDISCARD_ALL;
  is->audio_dec.reset();  // closes under the codec lock
  is->audio_st = nullptr;
  is->audio_stream = -1;
  is->AudioDuration = -1;
}

bool TCustomPlayer::SwitchStream(TVideoState* is, AVMediaType AType, int AStreamIndex) {
  int current = -1;
  switch (AType) {
    case AVMEDIA_TYPE_VIDEO: current = is->video_stream; break;
    case AVMEDIA_TYPE_AUDIO: current = is->audio_stream; break;
    case AVMEDIA_TYPE_SUBTITLE: current = is->subtitle_stream; break;
    default: break;
  }
  const bool subtitle = AType == AVMEDIA_TYPE_SUBTITLE;
  if (subtitle ? current < -1 : current < 0) {
    Report("the current stream is not valid.");
    return false;
  }
  if ((subtitle ? AStreamIndex < -1 : AStreamIndex < 0) || AStreamIndex >= static_cast<int>(is->ic->nb_streams)) {
    Report("the stream index is not valid.");
    return false;
  }
  if (AStreamIndex == current) return true;
  if (AStreamIndex >= 0) {
    const AVCodecParameters* par = is->ic->streams[AStreamIndex]->codecpar;
    if (AType != AVMEDIA_TYPE_VIDEO && AType != AVMEDIA_TYPE_AUDIO && AType != AVMEDIA_TYPE_SUBTITLE) {
      Report("the stream type is invalid.");
      return false;
    }
    if (par->codec_type != AType) {
      Report("the stream type is not matched.");
      return false;
    }
    if (AType == AVMEDIA_TYPE_AUDIO && (par->sample_rate == 0 || par->ch_layout.nb_channels == 0)) {
      Report("the audio stream is not invalid.");
      return false;
    }
  }
  if (AType != AVMEDIA_TYPE_AUDIO) {
    // The picture threads are bound to the event loop's overlays and
    // subtitle queue: they change with the next Open.
    Report("only the audio stream can be switched during playback.");
    return false;
  }
  // Under the stream lock the read thread routes no packet meanwhile.
  std::lock_guard<std::mutex> lock(is->stream_lock);
  CloseStreamComponent(is, current);
  OpenStreamComponent(is, AStreamIndex);
  return true;
}

int TCustomPlayer::StreamIndex(std::atomic<int> TVideoState::*AField) const {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  return is ? (is->*AField).load() : -1;
}

void TCustomPlayer::ChangeStream(std::atomic<int> TVideoState::*AField, AVMediaType AType, int AValue) {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (is && AValue != is->*AField) {
    SwitchStream(is, AType, AValue);
    is->continue_read.Set();
  }
}

int TCustomPlayer::AudioStreamIndex() const { return StreamIndex(&TVideoState::audio_stream); }
void TCustomPlayer::SetAudioStreamIndex(int AValue) {
  ChangeStream(&TVideoState::audio_stream, AVMEDIA_TYPE_AUDIO, AValue);
}
int TCustomPlayer::VideoStreamIndex() const { return StreamIndex(&TVideoState::video_stream); }
void TCustomPlayer::SetVideoStreamIndex(int AValue) {
  ChangeStream(&TVideoState::video_stream, AVMEDIA_TYPE_VIDEO, AValue);
}
int TCustomPlayer::SubtitleStreamIndex() const { return StreamIndex(&TVideoState::subtitle_stream); }
void TCustomPlayer::SetSubtitleStreamIndex(int AValue) {
  ChangeStream(&TVideoState::subtitle_stream, AVMEDIA_TYPE_SUBTITLE, AValue);
}

// ---- seeking ----

bool TCustomPlayer::RequestSeek(TVideoState* is, int64_t APos, int64_t ARel, TSeekFlags AFlags, bool /*AWait*/) {
  if (is->seek_req || is->read_ended) return false;
  FSeeking = true;
  is->seek_paused = is->paused.load();
  is->seek_pos = APos;
  is->seek_rel = ARel;
  is->seek_flags = AFlags & (AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE | AVSEEK_FLAG_ANY | AVSEEK_FLAG_FRAME);
  FSeekEvent.Reset();
  is->seek_req = 1;
  is->continue_read.Set();
  is->StateChanged();  // seek_paused lets a held video thread make the new place's picture
  return true;
}

bool TCustomPlayer::PostSeek(bool AWaitForSeekEnd, const std::function<bool(TVideoState*)>& ARequest) {
  bool posted = false;
  bool video = false;
  {
    std::lock_guard lock(FStateLock);
    TVideoState* is = FVideoState;
    if (!is) return false;
    // A stream whose pictures cannot be made has none to wait for.
    video = is->video_st.load() != nullptr;
    posted = ARequest(is);
  }
  if (posted && AWaitForSeekEnd) {
    FSeekEvent.Wait();
    if (video) FPictEvent.Wait();
  }
  return posted;
}

bool TCustomPlayer::Seek(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  return PostSeek(AWaitForSeekEnd, [&](TVideoState* is) {
    if (ASeekFlags & sfByte) return RequestSeek(is, APTS, 0, ASeekFlags, AWaitForSeekEnd);
    int64_t target = APTS;
    const int64_t duration = is->Duration;
    if (duration >= 0 && target > duration) target = duration;
    if (is->ic->start_time != AV_NOPTS_VALUE) target += is->ic->start_time;
    return RequestSeek(is, target, APTS <= 0 ? 1 : 0, ASeekFlags, AWaitForSeekEnd);
  });
}

bool TCustomPlayer::Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  return PostSeek(AWaitForSeekEnd, [&](TVideoState* is) {
    if (ASeekFlags & sfByte) {
      const int64_t pos = is->ic->pb ? avformat.avio_seek(is->ic->pb, 0, SEEK_CUR) : 0;
      const double increment = ADelta * (is->ic->bit_rate ? is->ic->bit_rate / 8.0 : 180000.0);
      return RequestSeek(is, std::llround(pos + increment), std::llround(increment), ASeekFlags, AWaitForSeekEnd);
    }
    const double pos = GetMasterClock(*is);
    return RequestSeek(is, std::llround((pos + ADelta) * 1000000), std::llround(ADelta * 1000000), ASeekFlags,
                       AWaitForSeekEnd);
  });
}

// ---- option setters ----

std::string TCustomPlayer::ForceFormat() const { return FForceFormat ? FForceFormat->name : ""; }

void TCustomPlayer::SetForceFormat(const std::string& AValue) {
  if (!AVLibLoaded()) {
    Report("libav not loaded.");
    return;
  }
  if (AValue.empty()) {
    FForceFormat = nullptr;
    return;
  }
  const AVInputFormat* format = avformat.av_find_input_format(AValue.c_str());
  if (!format) throw Exception(Format("Unknown input format: %s", AValue.c_str()));
  FForceFormat = format;
}

std::string TCustomPlayer::ForceFrameRate() const {
  std::lock_guard lock(FTextOptionsLock);
  return FForceFrameRate;
}

void TCustomPlayer::SetForceFrameRate(const std::string& AValue) {
  if (AValue == ForceFrameRate()) return;
  if (!AValue.empty()) {
    AVRational rate{0, 0};
    if (!AVLibLoaded() || avutil.av_parse_video_rate(&rate, AValue.c_str()) < 0)
      throw Exception("Incorrect frame rate");
  }
  std::lock_guard lock(FTextOptionsLock);
  FForceFrameRate = AValue;
}

std::string TCustomPlayer::VideoFilters() const {
  std::lock_guard lock(FTextOptionsLock);
  return FVideoFilters;
}

void TCustomPlayer::SetVideoFilters(const std::string& AValue) {
  std::lock_guard lock(FTextOptionsLock);
  FVideoFilters = AValue;
}

}  // namespace quorvel
