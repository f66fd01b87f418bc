// The player's control surface: creation, Open and Stop, the controls, the
// state machine, the event ring's delivery and the event loop.
#include <chrono>
#include <cmath>
#include <cstring>

#include "media/player/FFPlay.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/Stubs.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

// What the flush packet's data points to: a marker, never media.
const uint8_t kFlushMarker[] = "FLUSH";

}  // namespace

// ---- creation ----

TCustomPlayer::TCustomPlayer(TObject* /*AOwner*/) : TFFBaseComponent("3.0"), FDecoder(std::make_unique<TFFDecoder>()) {
  FFlushPkt.data = const_cast<uint8_t*>(kFlushMarker);
}

TCustomPlayer::~TCustomPlayer() {
  SetOnPosition(nullptr);
  SetOnState(nullptr);
  SetOnAudioHook(nullptr);
  Stop(true);
  EndEventThread();
  RetireFormatContext();
  DeliverPostedLogLines();
}

// ---- libraries ----

bool TCustomPlayer::AVLibLoaded() const { return quorvel::AVLibLoaded(kLibraries); }

bool TCustomPlayer::LoadAVLib(const std::string& APath, bool AAutoLoadSDL) {
  std::string error;
  if (!quorvel::LoadAVLib(kLibraries, APath, error)) {
    SetLastErrMsg(error);
    return false;
  }
  return AAutoLoadSDL ? LoadSDLLib(APath, "libSDL-1.2.so.0") : true;
}

void TCustomPlayer::UnloadAVLib() { quorvel::UnloadAVLib(kLibraries); }

bool TCustomPlayer::LoadSDLLib(const std::string& APath, const std::string& AFile) {
  // The playback's threads call through the entry table and the library
  // until the event loop has shut SDL down: neither may change under them.
  if (FVideoState.load() || !FStopEvent.IsSet()) {
    SetLastErrMsg("SDL cannot be loaded while a file plays: stop the playback first.");
    return false;
  }
  if (FSDLLoader.Load(APath, AFile)) {
    FSDL = FSDLLoader.Entries();
    return true;
  }
  FSDL = TSDLStubs{};
  SetLastErrMsg(FSDLLoader.LastErrMsg());
  return false;
}

void TCustomPlayer::UnloadSDLLib() {
  Stop(true);
  FSDL = TSDLStubs{};
  FSDLLoader.Unload();
}

// ---- texts ----

std::string TCustomPlayer::LastErrMsg() const {
  std::lock_guard<std::mutex> lock(FErrLock);
  return FLastErrMsg;
}

void TCustomPlayer::SetLastErrMsg(const std::string& AMsg) {
  std::lock_guard<std::mutex> lock(FErrLock);
  FLastErrMsg = AMsg;
}

void TCustomPlayer::Report(const std::string& AMsg) {
  SetLastErrMsg(AMsg);
  FFLogger().Log(this, llError, AMsg);
}

void TCustomPlayer::Report(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  Report(text);
}

void TCustomPlayer::LogLine(TLogLevel ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  FFLogger().Log(this, ALevel, text);
}

// ---- waiting on the main thread ----

namespace {

// What the player's waits do between their slices: the main thread hands
// out the lines the player's real-time threads queued.
void DeliverQueuedLines() {
  if (IsMainThread()) DeliverPostedLogLines();
}

}  // namespace

// ---- state ----

bool TCustomPlayer::Paused() const {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  return !is || is->paused;
}

int64_t TCustomPlayer::Duration() const {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  return is ? is->Duration.load() : -1;
}

TAudioOutFormat TCustomPlayer::AudioOutFormat() const {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  return is && is->audio_st.load() ? is->audio_out : TAudioOutFormat{};
}

void TCustomPlayer::SetShowAudio(TShowAudio AValue) {
  FShowAudio = AValue;
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (is && is->audio_st.load() && !FDisableDisplay) is->show_audio = AValue;
}

void TCustomPlayer::SetOnFileOpen(TFileOpenEvent AValue) {
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FOnFileOpen = std::move(AValue);
}
void TCustomPlayer::SetOnPosition(TPositionEvent AValue) {
  std::lock_guard delivery(FDeliveryLock);
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FPositionWanted = static_cast<bool>(AValue);
  FOnPosition = std::move(AValue);
}
void TCustomPlayer::SetOnState(TPlayStateEvent AValue) {
  std::lock_guard delivery(FDeliveryLock);
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FOnState = std::move(AValue);
}
void TCustomPlayer::SetOnBeforeFindStreamInfo(TPlayerBeforeFindStreamInfoEvent AValue) {
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FOnBeforeFindStreamInfo = std::move(AValue);
}
void TCustomPlayer::SetOnAudioHook(TPlayerAudioHookEvent AValue) {
  std::lock_guard<std::mutex> call(FHookCallLock);
  std::lock_guard<std::mutex> lock(FHandlerLock);
  FOnAudioHook = std::move(AValue);
}

// ---- Open ----

bool TCustomPlayer::Open(const std::string& AFileName, TScreenHost* AScreenHandle, bool APaused) {
  if (!AVLibLoaded()) {
    Report("libav not loaded.");
    return false;
  }
  if (!SDLLibLoaded()) {
    Report("sdl not loaded.");
    return false;
  }
  Stop(true);
  EndEventThread();
  RetireFormatContext();

  {
    std::lock_guard lock(FVideoStatsLock);
    FVideoStats = TVideoStats{};
  }
  if (!InitSDL(AScreenHandle)) {
    const unsigned long handle = AScreenHandle ? AScreenHandle->NativeWindowId() : 0;
    Report("Could not initialize SDL with ScreenHandle(%lu): %s", handle, FSDL.SDL_GetError());
    ShutdownSDL();
    return false;
  }
  if (FDisableDisplay) {
    FDisableVideo = true;
  } else {
    const SDL_VideoInfo* info = FSDL.SDL_GetVideoInfo();
    if (!info) {
      Report("SDL_GetVideoInfo() failed");
      ShutdownSDL();
      return false;
    }
    FFullScreenWidth = info->current_w;
    FFullScreenHeight = info->current_h;
  }
  FFlushPkt = AVPacket{};
  FFlushPkt.data = const_cast<uint8_t*>(kFlushMarker);
  FSDL.SDL_EventState(SDL_ACTIVEEVENT, SDL_IGNORE);
  FSDL.SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
  FSDL.SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
  FSDL.SDL_EventState(SDL_USEREVENT, SDL_IGNORE);

  if (!StreamOpen(AFileName, FForceFormat, APaused)) {
    FFLogger().Log(this, llError, LastErrMsg());
    ShutdownSDL();
    return false;
  }
  FFileName = AFileName;
  FScreenHandle = AScreenHandle;
  {
    std::lock_guard lock(FStateLock);
    TVideoState* is = FVideoState;
    if (is) FDecoder->SetFileHandle(is->ic);
  }
  // From here a Stop waits for the event loop that is about to start.
  FStopEvent.Reset();
  TriggerFileOpen();

  if (FEventThread.joinable() && FEventThread.get_id() == std::this_thread::get_id()) {
    // Opened from an OnState or OnPosition handler, on the event thread: it
    // cannot wait for its own end. It stays and delivers this playback's
    // events too, after the last playback's end still queued.
    FEventThreadReused = true;
  } else {
    FEventThreadTerminated = false;
    FEventThreadDone.Reset();
    FEventThread = std::thread([this] { EventThreadProc(); });
  }
  FPlayThread = std::thread([this] { PlayThreadProc(); });
  return true;
}

bool TCustomPlayer::StreamOpen(const std::string& AFileName, const AVInputFormat* AFormat, bool APaused) {
  auto* is = new (std::nothrow) TVideoState();
  if (!is) {
    Report("av_mallocz() failed.");
    return false;
  }
  is->Owner = this;
  if (APaused) {
    is->paused = 1;
    is->open_paused = 1;
    FStep = false;
  }
  is->filename = AFileName;
  is->iformat = AFormat;
  is->av_sync_type = Fav_sync_type;
  FOpenCancel.Reset();
  try {
    is->parse_tid = std::thread([this, is] { ReadThreadProc(is); });
  } catch (const std::exception&) {
    Report("SDL_CreateThread() failed.");
    delete is;
    return false;
  }
  is->OpenDone.Wait(DeliverQueuedLines);
  if (is->Opened > 0) {
    if (!is->video_st.load() && !FDisableDisplay) is->show_audio = FShowAudio.load();
    bool cancelled;
    {
      // A Stop takes the state lock to find the playback; one that came
      // before it is published found none and cancelled the opening
      // instead (also after the reader's last look at the cancel, while
      // it opened the device and the decoders): the opening gives up.
      std::lock_guard lock(FStateLock);
      cancelled = FOpenCancel.Cancelled();
      if (!cancelled) FVideoState = is;
    }
    if (!cancelled) {
      is->refresh_tid = std::thread([this, is] { RefreshThreadProc(is); });
      return true;
    }
    is->abort_request = 1;
    is->continue_read.Set();
    is->StateChanged();
    is->parse_tid.join();
    // The reader keeps the context of a playback that opened; this one never
    // played.
    if (is->ic) CloseInputURL(&is->ic);
    SetLastErrMsg(ErrorText(AFileName, AVERROR_EXIT));
    delete is;
    return false;
  }
  is->parse_tid.join();
  delete is;
  return false;
}

void TCustomPlayer::TriggerFileOpen() {
  TFileOpenEvent handler;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    handler = FOnFileOpen;
  }
  int64_t duration = -1;
  // The picture's size as the video stream gives it; -1 without pictures.
  int frameWidth = -1, frameHeight = -1;
  {
    std::lock_guard lock(FStateLock);
    TVideoState* is = FVideoState;
    if (!is) return;
    duration = is->IsImage2 ? 0 : is->Duration.load();
    const AVStream* video = is->video_st.load();
    if (video && video->codecpar->width > 0) {
      frameWidth = video->codecpar->width;
      frameHeight = video->codecpar->height;
    }
  }
  if (handler) {
    auto call = [&] {
      int width = FScreenWidth, height = FScreenHeight;
      handler(this, duration, frameWidth, frameHeight, width, height);
      FScreenWidth = width;
      FScreenHeight = height;
    };
    if (FTriggerEventInMainThread)
      CallInMainThread(call);
    else
      call();
  }
  if (FScreenHandle && (FScreenWidth == 0 || FScreenHeight == 0)) {
    int width = 0, height = 0;
    FScreenHandle->ClientSize(width, height);
    FScreenWidth = width;
    FScreenHeight = height;
  }
}

// ---- Stop ----

void TCustomPlayer::Stop(bool AWaitForStop) {
  bool playing = false;
  {
    std::lock_guard lock(FStateLock);
    TVideoState* is = FVideoState;
    if (is) {
      playing = true;
      if (is->paused) TogglePlaybackPause();
      FStep = false;
      is->StateChanged();
      PushQuitEvent(is);
    } else {
      // An Open may be waiting for its reader: make the opening give up,
      // whatever the deadline (also without one). Under the state lock, so
      // that the opening either sees the cancel before it publishes the
      // playback or is found here as playing. The record of an opening is
      // its reader's until then: the opening ends it (StreamOpen).
      FOpenCancel.Cancel();
    }
  }
  if (AWaitForStop) {
    if (playing) WaitForStop();
    JoinPlayThread();
    RetireFormatContext();
  }
}

void TCustomPlayer::WaitForStop() {
  if (!FPlayThread.joinable()) {
    // Stopped before the event loop started (from OnFileOpen): nobody else
    // will close the playback.
    CloseAll();
    FStopEvent.Set();
    return;
  }
  int counter = 1;
  int ticks = 0;
  // The event loop closes the playback on the quit event and then signals
  // FStopEvent. Every 100 ms without that, the quit event is posted again;
  // a loop that does not end is relieved of the playback here after about
  // 1 s when the reader is blocked in a read, after about 2 s in any case.
  FStopEvent.Wait([&] {
    DeliverQueuedLines();
    if (++ticks % 5 != 0) return;
    if (!FVideoState.load()) return;
    if (!FDataLock.try_lock_for(std::chrono::milliseconds(100))) return;
    TVideoState* is = FVideoState;
    if (is) {
      ++counter;
      if ((counter > 10 && is->Reading) || counter > 20) {
        // The loop finds the playback gone at its next event and shuts SDL
        // down; FStopEvent follows.
        CloseVideoState();
        PushUserEvent(kQuitEvent, nullptr);
      } else {
        PushQuitEvent(is);
      }
    }
    FDataLock.unlock();
  });
}

void TCustomPlayer::JoinPlayThread() {
  if (!FPlayThread.joinable() || FPlayThread.get_id() == std::this_thread::get_id()) return;
  FStopEvent.Wait(DeliverQueuedLines);
  FPlayThread.join();
}

void TCustomPlayer::CloseVideoState() {
  TVideoState* is;
  {
    std::lock_guard lock(FStateLock);
    is = FVideoState;
    if (!is) return;
    FVideoState = nullptr;
  }
  {
    // An event loop waiting without SDL's queue sees the playback gone.
    std::lock_guard lock(FPushedLock);
  }
  FPushedCond.notify_all();
  is->abort_request = 1;
  is->continue_read.Set();
  is->StateChanged();
  WakeRefresh(is);
  if (is->parse_tid.joinable()) is->parse_tid.join();
  if (is->refresh_tid.joinable()) is->refresh_tid.join();
  // The overlays go before SDL does (the caller shuts it down next).
  FreePictures(is);
  {
    std::lock_guard lock(FStateLock);
    if (is->ic) {
      // Kept for Decoder, which still describes this file.
      if (FRetiredIC) CloseInputURL(&FRetiredIC);
      FRetiredIC = is->ic;
      is->ic = nullptr;
    }
  }
  delete is;
}

void TCustomPlayer::RetireFormatContext() {
  std::lock_guard lock(FStateLock);
  if (!FRetiredIC) return;
  if (FDecoder->FileHandle() == FRetiredIC) FDecoder->SetFileHandle(nullptr);
  CloseInputURL(&FRetiredIC);
}

void TCustomPlayer::CloseAll() {
  CloseVideoState();
  ShutdownSDL();
}

// ---- controls ----

void TCustomPlayer::SettlePendingSeek(bool APausing) {
  // Not under FStateLock: the main thread serves its queued calls meanwhile
  // (an OnState handler may stop the playback), and nobody waits for the
  // lock while a seek finishes.
  if (!FSeekEvent.WaitFor(250, TMainThreadWait::QueuedCalls)) FSeekEvent.Set();
  if (!APausing) return;
  bool video;
  {
    std::lock_guard lock(FStateLock);
    TVideoState* is = FVideoState;
    video = is && is->video_st.load() && !is->paused;
  }
  // Paused right after a seek, the new place's picture is still to come.
  if (video && !FPictEvent.WaitFor(250, TMainThreadWait::QueuedCalls)) FPictEvent.Set();
}

void TCustomPlayer::TogglePlaybackPause() {
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is) return;
  const double now = NowUs(*is) / 1000000.0;
  if (is->paused) {
    is->frame_timer += now + is->video_current_pts_drift - is->video_current_pts;
    if (is->read_pause_return != AVERROR(ENOSYS)) is->video_current_pts = is->video_current_pts_drift + now;
    is->video_current_pts_drift = is->video_current_pts - now;
    is->paused = 0;
  } else {
    is->paused = 1;
  }
  is->continue_read.Set();
  is->StateChanged();
}

void TCustomPlayer::Pause() {
  SettlePendingSeek(true);
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is || is->paused) return;
  TogglePlaybackPause();
  FStep = false;
  is->StateChanged();
  SetState(psPause);
}

void TCustomPlayer::Resume() {
  SettlePendingSeek(false);
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is || !is->paused) return;
  TogglePlaybackPause();
  FStep = false;
  is->StateChanged();
  SetState(psResume);
}

void TCustomPlayer::TogglePause() {
  SettlePendingSeek(!Paused());
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is) return;
  TogglePlaybackPause();
  FStep = false;
  is->StateChanged();
  SetState(is->paused ? psPause : psResume);
}

void TCustomPlayer::StepToNextFrame() {
  SettlePendingSeek(false);
  std::lock_guard lock(FStateLock);
  TVideoState* is = FVideoState;
  if (!is) return;
  // The step counts from the pictures queued so far and is in force before
  // the video thread may run again: a picture it queues meanwhile is the
  // step's own, not one more. A step asked while the last one is still
  // under way moves its mark on, so that one more picture comes.
  FStepFrom = is->pictures_queued.load();
  const bool wasStepping = FStep.exchange(true);
  if (is->paused) TogglePlaybackPause();
  is->StateChanged();  // the moved mark may release the video thread
  if (!wasStepping) SetState(psStep);
}

bool TCustomPlayer::StepTaken(const TVideoState* is) const {
  return FStep && is->pictures_queued.load() > FStepFrom.load();
}

void TCustomPlayer::EndFrameStep(TVideoState* is) {
  if (!StepTaken(is) || is->paused) return;
  // The step's picture is queued (the video thread holds back the next
  // one): pause again. Under the state lock, so that a step asked
  // meanwhile either moved the mark (and this one is not ended) or comes
  // after the pause (and plays on from it).
  std::lock_guard lock(FStateLock);
  if (FVideoState == is && StepTaken(is) && !is->paused) TogglePlaybackPause();
}

void TCustomPlayer::SetState(TPlayState AState) {
  FState = AState;
  bool hasHandler;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    hasHandler = static_cast<bool>(FOnState);
  }
  if (hasHandler)
    FPlayEvent.Post({pekState, AState});
  else if (AState == psStop)
    FPlayEvent.Post({pekEndThread, 0});
}

// ---- position ----

void TCustomPlayer::UpdatePosition() {
  TVideoState* is = FVideoState;
  if (!is || is->IsImage2) return;
  int64_t t;
  const int64_t start = is->StartTime;
  const int64_t duration = is->Duration;
  if (is->video_st.load()) {
    t = std::llround(GetVideoClock(*is) * 1000000) - start;
  } else if (is->audio_st.load()) {
    t = std::llround(GetAudioClock(*is) * 1000000) - start;
    const int64_t audioDuration = is->AudioDuration;
    if (audioDuration > 0 && t >= audioDuration && duration > t) t = duration;
  } else {
    return;
  }
  FCurrentPTS = t;
  if (duration > 0 && t >= duration) {
    t = duration;
    if (FLastPTS != duration) FLastPTS = 0;
  }
  const int64_t last = FLastPTS;
  if (last == AV_NOPTS_VALUE || std::llabs(t - last) > kPositionGranularity) {
    FLastPTS = t;
    bool hasHandler;
    {
      std::lock_guard<std::mutex> lock(FHandlerLock);
      hasHandler = static_cast<bool>(FOnPosition);
    }
    if (hasHandler) FPlayEvent.Post({pekPosition, t});
  }
  if (!is->IsDevice && !is->EventEOF && is->ReachEOF) {
    if (is->video_st.load()) is->EventEOF = 1;
    SetState(psEnd);
  }
  const int64_t playTime = FPlayTime;
  if (playTime != AV_NOPTS_VALUE) {
    const int64_t startTime = Fstart_time;
    const int64_t end = (startTime != AV_NOPTS_VALUE ? startTime : 0) + playTime;
    if (t >= end) {
      switch (FRepeatType.load()) {
        case rtStop:
          Stop(false);
          break;
        case rtLoop:
          if (startTime != AV_NOPTS_VALUE)
            Seek(startTime, 0, false);
          else
            Seek(int64_t{0}, sfAny, false);
          break;
        case rtNone:
          break;
      }
    }
  }
}

// ---- threads ----

bool TCustomPlayer::PushUserEvent(int AType, void* AData) {
  if (!FSDL.SDL_PushEvent) return false;
  SDL_Event event{};
  event.type = static_cast<Uint8>(AType);
  event.user.type = static_cast<Uint8>(AType);
  event.user.data1 = AData;
  if (FSDL.SDL_PushEvent(&event) != 0) return false;
  {
    std::lock_guard lock(FPushedLock);
    ++FPushedEvents;
  }
  FPushedCond.notify_one();
  return true;
}

bool TCustomPlayer::WaitEvent(SDL_Event& AEvent) {
  if (!FWindowEvents) {
    for (;;) {
      bool counted = false;
      {
        std::unique_lock lock(FPushedLock);
        // Longer than the idle refresh, so that a playing file's next event
        // normally ends the wait.
        counted = FPushedCond.wait_for(lock, std::chrono::milliseconds(250), [this] { return FPushedEvents > 0; });
        if (counted) --FPushedEvents;
      }
      if (FSDL.SDL_PollEvent(&AEvent) > 0) return true;
      // Counted but not queued: SDL_WaitEvent below took an event that was
      // pushed while it waited, before the pusher counted it. The count ran
      // one ahead; taking it down here brings the loop back to sleeping
      // (else it would stay in SDL_WaitEvent's 10 ms polling for good).
      if (counted) continue;
      // Nothing pushed for a while (paused, or SDL queued an event itself):
      // SDL_WaitEvent returns the next event, or 0 if its queue stopped.
      return FSDL.SDL_WaitEvent(&AEvent) != 0;
    }
  }
  // A window posts events of its own. SDL_WaitEvent would look every 10 ms
  // and so show pictures up to 10 ms late: the player's own events are
  // taken at once, the window's within 5 ms.
  for (;;) {
    {
      std::unique_lock lock(FPushedLock);
      FPushedCond.wait_for(lock, std::chrono::milliseconds(5), [this] { return FPushedEvents > 0; });
      if (FPushedEvents > 0) --FPushedEvents;
    }
    const int got = FSDL.SDL_PollEvent(&AEvent);
    if (got > 0) return true;
    if (got < 0 || !FWindowEvents) return FSDL.SDL_WaitEvent(&AEvent) != 0;
  }
}

void TCustomPlayer::PushQuitEvent(TVideoState* is) { PushUserEvent(kQuitEvent, is); }

void TCustomPlayer::WakeRefresh(TVideoState* is) { is->refresh_wake.Set(); }

void TCustomPlayer::RefreshNow(TVideoState* is) {
  is->refresh_now = 1;
  is->refresh_wake.Set();
}

int64_t TCustomPlayer::NextRefreshUs(TVideoState* is) const {
  const int64_t last = is->refresh_pushed_us;
  int64_t due = last + int64_t{kIdleRefreshMs} * 1000;
  // The audio display draws every rdftspeed ms; positions are reported at
  // the same pace while somebody listens for them or a play window ends.
  const bool drawsAudio = is->audio_st.load() && is->show_audio != 0 && !FDummyVideo;
  const bool positions = FPositionWanted || FPlayTime != AV_NOPTS_VALUE;
  if (drawsAudio || positions) due = std::min(due, last + int64_t{Frdftspeed} * 1000);
  // A picture when it is due.
  if (is->video_st.load() && is->pictq_size > 0)
    due = std::min(due, static_cast<int64_t>(std::ceil(is->pictq[is->pictq_rindex].target_time * 1000000)));
  return is->refresh_now ? 0 : due;
}

void TCustomPlayer::RefreshThreadProc(TVideoState* is) {
  NameThisThread("player-refresh");
  SetRealTimeThread(true);
  while (!is->abort_request) {
    // Reset before the look at the flags: a wake set after the look is kept.
    is->refresh_wake.Reset();
    int waitMs = kIdleRefreshMs;
    if (is->refresh != 1) {
      const int64_t now = NowUs(*is);
      const int64_t due = NextRefreshUs(is);
      if (due <= now) {
        is->refresh = 1;
        is->refresh_now = 0;
        is->refresh_pushed_us = now;
        // Then the event loop wakes this thread once it has refreshed.
        if (PushUserEvent(kRefreshEvent, is)) continue;
        // Refused (SDL's queue full): nothing is pending, so it is tried
        // again shortly instead of stopping the pictures and positions.
        is->refresh = 0;
        is->refresh_now = 1;
        waitMs = kRefreshPeriodMs;
      } else {
        waitMs = static_cast<int>(std::min<int64_t>((due - now + 999) / 1000, kIdleRefreshMs));
      }
    }
    is->refresh_wake.WaitFor(waitMs);
  }
}

void TCustomPlayer::PlayThreadProc() {
  NameThisThread("player-loop");
  SetState(psPlay);
  try {
    for (;;) {
      SDL_Event event{};
      if (!WaitEvent(event)) {
        // SDL's queue is not running (SDL failed underneath): look at it
        // again shortly, and at once when the playback is closed
        // (CloseVideoState wakes this wait).
        std::unique_lock lock(FPushedLock);
        FPushedCond.wait_for(lock, std::chrono::milliseconds(10), [this] { return !FVideoState.load(); });
        event.type = SDL_NOEVENT;
      }
      std::unique_lock<std::timed_mutex> lock(FDataLock);
      TVideoState* is = FVideoState;
      if (!is) {
        ShutdownSDL();
        break;
      }
      bool quit = false;
      switch (event.type) {
        case SDL_QUIT:
        case kQuitEvent:
          CloseAll();
          quit = true;
          break;
        case kRefreshEvent:
          is->refreshes_handled.fetch_add(1, std::memory_order_relaxed);
          RefreshVideo(is, true);
          EndFrameStep(is);
          is->refresh = 0;
          WakeRefresh(is);
          break;
        case kClearEvent:
          ClearPictureArea(is);
          break;
        default:
          HandleVideoEvent(is, event);
          break;
      }
      if (quit) break;
    }
  } catch (const std::exception& e) {
    LogLine(llFatal, "PlayThread Exception: %s", e.what());
    std::lock_guard<std::timed_mutex> lock(FDataLock);
    CloseAll();
  }
  SetState(psStop);
  FStopEvent.Set();
}

void TCustomPlayer::EventThreadProc() {
  NameThisThread("player-events");
  const auto deliver = [this](const std::function<void()>& ACall) {
    try {
      if (FTriggerEventInMainThread)
        CallInMainThread(ACall);
      else
        ACall();
    } catch (const std::exception& e) {
      LogLine(llError, "%s", e.what());
    }
  };
  for (;;) {
    DeliverPostedLogLines();
    const TPlayEventItem item = FPlayEvent.Take();
    if (item.Kind == pekPosition) {
      const int64_t pts = item.Value;
      deliver([this, pts] {
        std::lock_guard delivery(FDeliveryLock);
        TPositionEvent handler;
        {
          std::lock_guard<std::mutex> lock(FHandlerLock);
          handler = FOnPosition;
        }
        if (handler) handler(this, pts);
      });
    } else if (item.Kind == pekState) {
      const auto state = static_cast<TPlayState>(item.Value);
      deliver([this, state] {
        std::lock_guard delivery(FDeliveryLock);
        TPlayStateEvent handler;
        {
          std::lock_guard<std::mutex> lock(FHandlerLock);
          handler = FOnState;
        }
        if (handler) handler(this, state);
      });
      // The end of the playback ends the thread, unless a handler opened
      // the next one on it.
      if (state == psStop && !FEventThreadReused.exchange(false)) break;
    } else if (item.Kind == pekEndThread) {
      if (!FEventThreadReused.exchange(false)) break;
    } else {
      // Terminated: what was queued has been delivered.
      if (FEventThreadTerminated) break;
      FPlayEvent.WaitFor(100);
    }
  }
  DeliverPostedLogLines();
  FEventThreadDone.Set();
}

void TCustomPlayer::EndEventThread() {
  if (!FEventThread.joinable() || FEventThread.get_id() == std::this_thread::get_id()) return;
  FEventThreadTerminated = true;
  FPlayEvent.Wake();
  FEventThreadDone.Wait(DeliverQueuedLines);
  FEventThread.join();
}

void TCustomPlayer::ScreenExposed() {
  TVideoState* is = FVideoState;
  if (is) PushUserEvent(SDL_VIDEOEXPOSE, nullptr);
}

}  // namespace quorvel
