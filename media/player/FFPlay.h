// The media player: plays one file at a time through the player's own SDL
// copy, reports its length, position and state, pauses, seeks, switches
// streams and stops.
//
// Threads of one playback:
//   caller (the main thread)  Open, Stop, controls, properties
//   read thread               opens the file, fills the packet queues, seeks
//   SDL's audio thread        decodes audio on demand into the device
//   event loop (TPlayThread)  SDL events: refresh, quit; closes the playback
//   refresh thread            wakes the event loop every few milliseconds
//   event thread              delivers OnPosition / OnState from the ring
// The audio thread, the read thread and the refresh thread keep time: they
// never wait for the main thread (their log lines are queued, see
// SetRealTimeThread). Only the event thread (and Open on the caller's thread,
// for OnFileOpen) calls into the main thread; every wait the player performs
// on the main thread keeps running queued main-thread calls.
//
//   video thread              decodes and filters pictures into the picture queue
//   subtitle thread           decodes bitmap subtitles into their queue
// The event loop owns the SDL surface and the overlays: it makes them
// (the video thread asks and waits), shows the pictures when they are due
// and draws the audio's wave or spectrum.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/decoder/FFDecode.h"
#include "media/player/ManualEvent.h"
#include "media/player/PlayEvent.h"
#include "media/player/ScreenHost.h"
#include "media/player/VideoState.h"
#include "media/player/libsdl.h"
#include "media/runtime/CancelToken.h"
#include "media/runtime/ReadTimeout.h"
#include "media/runtime/FFBaseComponent.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FormatConverter.h"

namespace quorvel {

enum TPlayState : int { psPlay = 0, psPause = 1, psResume = 2, psStep = 3, psStop = 4, psEnd = 5 };
enum TRepeatType { rtNone = 0, rtStop = 1, rtLoop = 2 };
enum TShowAudio { saNone = 0, saWave = 1, saRDFT = 2 };
// The sound output SDL uses. adDefault leaves SDL's own choice (or the
// environment's SDL_AUDIODRIVER). adDirectSound and adWaveOut name Windows'
// drivers, which SDL on Linux lacks: they leave SDL's choice too, so that a
// choice stored elsewhere still plays. adPulse selects SDL's "pulse" driver
// (the desktop's sound server), adAlsa its "alsa" driver (the sound card
// directly, for systems without a sound server).
enum TAudioDriver { adDefault, adDirectSound, adWaveOut, adPulse, adAlsa };
// The picture output SDL uses. vdDirectDraw and vdGDI name Windows' drivers:
// here both leave SDL's choice, as vdDefault does (x11 when a window is
// embedded).
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };

// The values SDL_AUDIODRIVER / SDL_VIDEODRIVER take for a driver choice;
// empty: the environment is left as it is.
const char* AudioDriverName(TAudioDriver ADriver);
const char* VideoDriverName(TVideoDriver ADriver);

using TFileOpenEvent = std::function<void(TObject* Sender, int64_t ADuration, int AFrameWidth, int AFrameHeight,
                                          int& AScreenWidth, int& AScreenHeight)>;
using TPositionEvent = std::function<void(TObject* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TObject* Sender, TPlayState APlayState)>;
using TPlayerBeforeFindStreamInfoEvent = std::function<void(TObject* Sender, void* AFormatContext)>;
// Runs on SDL's audio thread with the decoded samples (interleaved signed
// 16-bit in the device format) before they are played; may change them in
// place. Must return quickly and must not wait for the main thread.
using TPlayerAudioHookEvent = std::function<void(TObject* Sender, int64_t APTS, uint8_t* ASample, int ASize,
                                                 int ASampleRate, int AChannels)>;

// Runs on the video thread with each picture (as it will be shown) before
// it is queued; what it draws on ABitmap is shown unless it clears AUpdate.
// Must not wait for the main thread.
using TPlayerVideoHookEvent = std::function<void(TObject* Sender, TBitmap& ABitmap, int64_t APTS, bool& AUpdate)>;

// SDL's user events of the player.
constexpr int kAllocEvent = SDL_USEREVENT;
constexpr int kRefreshEvent = SDL_USEREVENT + 1;
constexpr int kQuitEvent = SDL_USEREVENT + 2;
constexpr int kVideoModeEvent = SDL_USEREVENT + 3;
constexpr int kClearEvent = SDL_USEREVENT + 4;  // clear the picture area (audio display switched)

class TCustomPlayer : public TFFBaseComponent, private TScreenClient {
public:
  explicit TCustomPlayer(TObject* AOwner = nullptr);
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  // ---- libraries ----
  static constexpr TLibraries kLibraries = kPlayerLibraries;
  bool AVLibLoaded() const;
  // Sets the loader's folder and loads the player's set; with AAutoLoadSDL
  // also this player's SDL from that folder ("libSDL-1.2.so.0").
  bool LoadAVLib(const std::string& APath, bool AAutoLoadSDL);
  void UnloadAVLib();
  bool SDLLibLoaded() const { return FSDLLoader.Loaded(); }
  // Loads this player's own SDL copy (see TSDLLoader). Refused (false,
  // LastErrMsg) while a file plays.
  bool LoadSDLLib(const std::string& APath, const std::string& AFile);
  void UnloadSDLLib();
  // The player's SDL entry table (null slots without SDL).
  const TSDLStubs& SDL() const { return FSDL; }

  // ---- SDL and the host window ----
  // Starts SDL for a host (or none): driver variables, the window id when
  // the host has a native window, SDL_Init; without a display SDL is started
  // with the dummy video driver so that audio still plays. Logs the drivers
  // at llDebug. Open calls it; public for tests of the binding.
  bool InitSDL(TScreenHost* AHost);
  // SDL_Quit and the per-playback reset. Open and the event loop call it.
  void ShutdownSDL();
  // Tells SDL that the host window moved. Nothing to do with X11 embedding:
  // SDL follows the window itself.
  void UpdateScreenPosition() {}

  // ---- playback ----
  // AFileName: UTF-8. AScreenHandle may be null (no drawing surface).
  bool Open(const std::string& AFileName, TScreenHost* AScreenHandle = nullptr, bool APaused = false);
  void Stop(bool AWaitForStop);
  void Pause();
  void Resume();
  void TogglePause();
  void StepToNextFrame();
  // APTS: µs from the start of the file (bytes with sfByte). Returns false
  // when no request was posted (no playback, or a seek is pending).
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
  // Relative: ADelta seconds (or seconds' worth of bytes with sfByte).
  bool Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd);

  // ---- state ----
  TPlayState PlayState() const { return FState; }
  bool Paused() const;
  bool Seeking() const { return FSeeking; }
  int64_t CurrentPTS() const { return FCurrentPTS; }
  const std::string& FileName() const { return FFileName; }
  TScreenHost* ScreenHandle() const { return FScreenHandle; }
  std::string LastErrMsg() const;
  TFFDecoder& Decoder() { return *FDecoder; }
  // The playing file's duration in µs, -1 when unknown or without playback.
  int64_t Duration() const;
  // The device format granted for the playing audio, zeros without one.
  TAudioOutFormat AudioOutFormat() const;

  // How the audio callbacks of this player went (since it was created):
  // their number, the ones that found nothing decoded while playing (the
  // device got silence that should have been sound), and their durations in
  // 50 µs steps (the last step counts everything from 10 ms on).
  struct TCallbackStats {
    static constexpr int kSteps = 200;
    static constexpr int kStepMicroseconds = 50;
    uint64_t Callbacks = 0;
    uint64_t Starved = 0;
    uint64_t Durations[kSteps] = {};
    // The duration below which AFraction of the callbacks stayed (µs).
    int64_t Percentile(double AFraction) const;
  };
  TCallbackStats CallbackStats() const;

  // How the pictures of the last playback were shown: counts, the A/V
  // error (the shown picture's time minus the audio clock at that moment)
  // in 1 ms steps of its magnitude, and when the first picture after the
  // Open or the last seek was shown.
  struct TVideoStats {
    static constexpr int kSteps = 200;
    uint64_t Shown = 0;
    uint64_t Dropped = 0;
    uint64_t Late = 0;      // shown more than one frame after it was due
    double ErrorSum = 0;    // s, signed (positive: the picture ahead of the sound)
    double AbsErrorSum = 0; // s
    uint64_t ErrorSteps[kSteps] = {};  // |error| in ms; the last step counts the rest
    int64_t FirstPicture = 0;  // av_gettime_relative() µs; 0 until one was shown
    int64_t PercentileMs(double AFraction) const;
  };
  TVideoStats VideoStats() const;

  int AudioStreamIndex() const;
  void SetAudioStreamIndex(int AValue);
  int VideoStreamIndex() const;
  void SetVideoStreamIndex(int AValue);
  int SubtitleStreamIndex() const;
  void SetSubtitleStreamIndex(int AValue);

  // ---- options (set before Open unless noted) ----
  int AudioVolume() const { return FAudioVolume; }  // 0..128, any time
  void SetAudioVolume(int AValue) { FAudioVolume = AValue < 0 ? 0 : AValue > 128 ? 128 : AValue; }
  bool Mute() const { return FMute; }  // any time
  void SetMute(bool AValue) { FMute = AValue; }
  bool AudioHook() const { return FAudioHook; }  // any time
  void SetAudioHook(bool AValue) { FAudioHook = AValue; }
  TAudioDriver AudioDriver() const { return FAudioDriver; }
  void SetAudioDriver(TAudioDriver AValue) { FAudioDriver = AValue; }
  TVideoDriver VideoDriver() const { return FVideoDriver; }
  void SetVideoDriver(TVideoDriver AValue) { FVideoDriver = AValue; }
  bool DisableAudio() const { return FDisableAudio; }
  void SetDisableAudio(bool AValue) { FDisableAudio = AValue; }
  bool DisableVideo() const { return FDisableVideo; }
  void SetDisableVideo(bool AValue) { FDisableVideo = AValue; }
  bool DisableDisplay() const { return FDisableDisplay; }
  void SetDisableDisplay(bool AValue) { FDisableDisplay = AValue; }
  int FrameWidth() const { return FFrameWidth; }
  void SetFrameWidth(int AValue) { FFrameWidth = AValue; }
  int FrameHeight() const { return FFrameHeight; }
  void SetFrameHeight(int AValue) { FFrameHeight = AValue; }
  int ScreenWidth() const { return FScreenWidth; }
  void SetScreenWidth(int AValue) { FScreenWidth = AValue; }
  int ScreenHeight() const { return FScreenHeight; }
  void SetScreenHeight(int AValue) { FScreenHeight = AValue; }
  // Display width / height of the picture; 0: the picture's own, < 0: fill
  // the surface. Any time: a playback takes it at once.
  float AspectRatio() const { return FAspectRatio; }
  void SetAspectRatio(float AValue);
  bool is_full_screen() const { return FIsFullScreen; }
  void set_is_full_screen(bool AValue) { FIsFullScreen = AValue; }
  // Kept for callers that set it; does nothing here: SDL draws into the host
  // window through SDL_WINDOWID and the host keeps its own event handling.
  bool HijackWndProc() const { return FHijackWndProc; }
  void SetHijackWndProc(bool AValue) { FHijackWndProc = AValue; }
  // Reset at the end of every playback:
  int64_t PlayTime() const { return FPlayTime; }  // µs of the play window, AV_NOPTS_VALUE: none
  void SetPlayTime(int64_t AValue) { FPlayTime = AValue; }
  TRepeatType RepeatType() const { return FRepeatType; }
  void SetRepeatType(TRepeatType AValue) { FRepeatType = AValue; }
  int64_t start_time() const { return Fstart_time; }  // µs from the start of the file, AV_NOPTS_VALUE: none
  void set_start_time(int64_t AValue) { Fstart_time = AValue; }
  int seek_by_bytes() const { return Fseek_by_bytes; }  // -1: decided by the format
  void set_seek_by_bytes(int AValue) { Fseek_by_bytes = AValue; }
  int wanted_audio_stream() const { return Fwanted_stream[AVMEDIA_TYPE_AUDIO]; }
  void set_wanted_audio_stream(int AValue) { Fwanted_stream[AVMEDIA_TYPE_AUDIO] = AValue; }
  int wanted_video_stream() const { return Fwanted_stream[AVMEDIA_TYPE_VIDEO]; }
  void set_wanted_video_stream(int AValue) { Fwanted_stream[AVMEDIA_TYPE_VIDEO] = AValue; }
  int wanted_subtitle_stream() const { return Fwanted_stream[AVMEDIA_TYPE_SUBTITLE]; }
  void set_wanted_subtitle_stream(int AValue) { Fwanted_stream[AVMEDIA_TYPE_SUBTITLE] = AValue; }
  bool VerticalFlip() const { return FVerticalFlip; }
  void SetVerticalFlip(bool AValue) { FVerticalFlip = AValue; }
  // Not reset:
  int ReadTimeout() const { return FReadLimit.Limit(); }  // ms, 0: no deadline
  void SetReadTimeout(int AValue) { FReadLimit.SetLimit(AValue < 0 ? 0 : AValue); }
  bool CheckIOEOF() const { return FCheckIOEOF; }
  void SetCheckIOEOF(bool AValue) { FCheckIOEOF = AValue; }
  bool CheckIOERR() const { return FCheckIOERR; }
  void SetCheckIOERR(bool AValue) { FCheckIOERR = AValue; }
  bool AutoAdjustFrameRate() const { return FAutoAdjustFrameRate; }
  void SetAutoAdjustFrameRate(bool AValue) { FAutoAdjustFrameRate = AValue; }
  std::string ForceFrameRate() const;  // any time: the next video stream opened takes it
  // Throws Exception "Incorrect frame rate" for a text the library cannot read.
  void SetForceFrameRate(const std::string& AValue);
  std::string ForceFormat() const;
  // Throws Exception "Unknown input format: %s"; reports "libav not loaded.".
  void SetForceFormat(const std::string& AValue);
  bool Deinterlace() const { return FDeinterlace; }
  void SetDeinterlace(bool AValue) { FDeinterlace = AValue; }
  TShowAudio ShowAudio() const { return FShowAudio; }
  void SetShowAudio(TShowAudio AValue);
  // Cycles the playback's audio display none -> wave -> spectrum -> none.
  void ToggleAudioDisplay();
  // What the playback shows of its audio now (saNone without a playback).
  TShowAudio AudioDisplay() const;
  bool VideoHook() const { return FVideoHook; }  // any time
  void SetVideoHook(bool AValue) { FVideoHook = AValue; }
  void SetOnVideoHook(TPlayerVideoHookEvent AValue);
  // Bits per pixel of the hook's bitmap and CurrentFrame's (both alike).
  int VideoHookBitsPixel() const;
  void SetVideoHookBitsPixel(int AValue);
  // The picture at the head of the queue (the one shown last while none is
  // queued) as a bitmap, and its time in µs from the start (-1 without
  // video). The bitmap belongs to the player and is reused by the next
  // call. Any thread.
  const TBitmap& CurrentFrame(int64_t& APTS);
  const TBitmap& CurrentFrame();
  // Any time: the video thread takes the text when it next builds its graph.
  std::string VideoFilters() const;
  void SetVideoFilters(const std::string& AValue);
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }
  Tav_sync_type av_sync_type() const { return Fav_sync_type; }
  void set_av_sync_type(Tav_sync_type AValue) { Fav_sync_type = AValue; }
  int framedrop() const { return Fframedrop; }
  void set_framedrop(int AValue) { Fframedrop = AValue; }
  int rdftspeed() const { return Frdftspeed; }
  void set_rdftspeed(int AValue) { Frdftspeed = AValue; }
  int decoder_reorder_pts() const { return Fdecoder_reorder_pts; }
  void set_decoder_reorder_pts(int AValue) { Fdecoder_reorder_pts = AValue; }
  int workaround_bugs() const { return Fworkaround_bugs; }
  void set_workaround_bugs(int AValue) { Fworkaround_bugs = AValue; }
  int error_recognition() const { return Ferror_recognition; }
  void set_error_recognition(int AValue) { Ferror_recognition = AValue; }
  int error_concealment() const { return Ferror_concealment; }
  void set_error_concealment(int AValue) { Ferror_concealment = AValue; }
  int lowres() const { return Flowres; }
  void set_lowres(int AValue) { Flowres = AValue; }
  int idct_algo() const { return Fidct_algo; }
  void set_idct_algo(int AValue) { Fidct_algo = AValue; }
  int debug_mv() const { return Fdebug_mv; }
  void set_debug_mv(int AValue) { Fdebug_mv = AValue; }
  bool fast() const { return Ffast; }
  void set_fast(bool AValue) { Ffast = AValue; }
  bool genpts() const { return Fgenpts; }
  void set_genpts(bool AValue) { Fgenpts = AValue; }

  // ---- events (set on the main thread) ----
  void SetOnFileOpen(TFileOpenEvent AValue);
  void SetOnPosition(TPositionEvent AValue);
  void SetOnState(TPlayStateEvent AValue);
  void SetOnBeforeFindStreamInfo(TPlayerBeforeFindStreamInfoEvent AValue);
  void SetOnAudioHook(TPlayerAudioHookEvent AValue);

  // ---- pieces of the audio path, public for their unit tests ----
  // The length correction of decoded audio when audio is not the master
  // clock: returns the new byte count (samples may be extended in place,
  // up to ACapacity bytes).
  static int SyncAudio(TVideoState& is, uint8_t* samples, int size, int ACapacity);
  static void StoreDisplaySamples(TVideoState& is, const uint8_t* samples, int size);

  // ---- rules of the picture path, public for their tables ----
  struct TRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const TRect&) const = default;
  };
  // Where a picture goes on the surface: centred, by the aspect rule.
  static TRect DisplayRect(float AAspectRatio, int ASurfaceWidth, int ASurfaceHeight, AVRational ASar,
                           int APictureWidth, int APictureHeight);
  // Blends a subtitle rectangle (palette indexes, YUVA palette) into a
  // planar 4:2:0 picture, clipped to it.
  static void BlendSubtitle(uint8_t* const APlanes[3], const int ALinesizes[3], const AVSubtitleRect& ARect,
                            int APictureWidth, int APictureHeight);
  // The head subtitle has had its time at AVideoPts: its end passed, or
  // the next one's start. A subtitle that gives no end (an end time not
  // after its start) stays until the next one starts.
  static bool SubtitleExpired(double AVideoPts, const TQueuedSubtitle& ASub, const TQueuedSubtitle* ANext);
  // Which of the ASize subtitles queued from ARIndex (a ring of
  // kSubPictureQueueSize) a picture of APts shows: the first that has
  // started and not expired by then; -1 for none.
  static int SubtitleForPicture(double APts, const TQueuedSubtitle* AQueue, int ARIndex, int ASize);
  // A subtitle palette entry: ARGB in, AYUV (BT.601 studio range) out.
  static uint32_t PaletteToYUVA(uint32_t ARGBA);
  // The wall-clock time (s) a picture of APts is due, from the playback's
  // frame timer and (when video is not the master) the master clock.
  static double ComputeTargetTime(TVideoState& is, double APts);
  enum TPictureVerdict { pvNotDue, pvDrop, pvShow };
  // The refresh's decision on the head picture; raises ASkipFrames when
  // pictures come late with frame dropping on (or after a seek).
  static TPictureVerdict JudgePicture(double ANow, double ATarget, double ANextTarget, bool ATwoQueued,
                                      bool AFrameDrop, bool AForced, std::atomic<double>& ASkipFrames);

private:
  friend class TPlayerTestAccess;

  // ---- reading (ReadThread.cpp) ----
  void ReadThreadProc(TVideoState* is);
  // The reader's wait while its queues are full, or for the end to play.
  void WaitToRead(TVideoState* is);
  int ReadOpen(TVideoState* is);
  void ReadLoop(TVideoState* is);
  void ReadClose(TVideoState* is, int AResult);
  void ExecuteSeek(TVideoState* is, bool& AEof);
  // A seek that nobody will carry out (the read loop has ended) is answered
  // as done, so that a caller waiting for it goes on.
  void RefuseSeek(TVideoState* is);
  // No picture will follow the last seek (or none is near): the wait for
  // it ends, and Seeking with it.
  void EndPictureWait(TVideoState* is);
  // Read thread: the video thread found that no picture can be made; the
  // video (and the subtitles drawn on it) close, the sound plays on.
  void CloseFailedVideo(TVideoState* is);
  void HandleReadError(TVideoState* is, int AResult, bool& AEof, bool& ALeave);
  int OpenStreamComponent(TVideoState* is, int AStreamIndex);
  void CloseStreamComponent(TVideoState* is, int AStreamIndex);
  bool SwitchStream(TVideoState* is, AVMediaType AType, int AStreamIndex);
  // Runs ARequest on the playback under the state lock and, when it posted a
  // seek and AWaitForSeekEnd, waits for the seek (and its picture) to be done.
  bool PostSeek(bool AWaitForSeekEnd, const std::function<bool(TVideoState*)>& ARequest);
  // The stream index of one kind, and a switch to another stream of it.
  int StreamIndex(std::atomic<int> TVideoState::*AField) const;
  void ChangeStream(std::atomic<int> TVideoState::*AField, AVMediaType AType, int AValue);
  bool RequestSeek(TVideoState* is, int64_t APos, int64_t ARel, TSeekFlags AFlags, bool AWait);
  bool ReadTimeoutInterrupt(TObject* ASender);
  bool AbortInterrupt(TObject* ASender);
  double FrameDelay(AVStream* AStream, const AVCodecContext* ACodec);
  // The video stream to play: the wanted or best one that is not a cover
  // picture; -1: none.
  static int BestVideoStream(AVFormatContext* ic, int AWanted);

  // ---- audio (AudioOutput.cpp) ----
  bool OpenAudioDevice(TVideoState* is, const AVCodecContext* ACodec);
  static void SDLCALL AudioCallback(void* AUserData, Uint8* AStream, int ALen);
  void FillAudio(TVideoState* is, uint8_t* AStream, int ALen);
  void FillAudioBuffer(TVideoState* is, uint8_t* AStream, int ALen);
  int DecodeAudioFrame(TVideoState* is, double& APts);
  int ConvertAudioFrame(TVideoState* is, const AVFrame* AFrame, bool AFlush);
  void CallAudioHook(TVideoState* is, uint8_t* ASamples, int ASize, double APts);
  void CloseAudio(TVideoState* is);

  // ---- control and threads (Player.cpp) ----
  bool StreamOpen(const std::string& AFileName, const AVInputFormat* AFormat, bool APaused);
  void TriggerFileOpen();
  void WaitForStop();
  void CloseAll();
  void CloseVideoState();
  void TogglePlaybackPause();
  // Before a pause, resume or step, outside FStateLock: a pending seek is
  // given 250 ms to be carried out and, when pausing a playback with
  // pictures, its picture 250 ms to be queued.
  void SettlePendingSeek(bool APausing);
  // A frame step is under way and its picture has been queued.
  bool StepTaken(const TVideoState* is) const;
  // On the event loop: pauses again once the step's picture is queued.
  void EndFrameStep(TVideoState* is);
  void SetState(TPlayState AState);
  void UpdatePosition();
  void RefreshThreadProc(TVideoState* is);
  // When the next refresh is due (NowUs µs): the head picture's time, the
  // audio display's and the positions' pace, a slow round otherwise.
  int64_t NextRefreshUs(TVideoState* is) const;
  // The refresh thread looks again now (a picture queued, the refresh handled).
  static void WakeRefresh(TVideoState* is);
  // ... and refreshes at once (the end reached, a step's picture queued).
  static void RefreshNow(TVideoState* is);
  void RefreshVideo(TVideoState* is, bool ADequeue);

  // ---- pictures (VideoDecode.cpp) ----
  struct TVideoGraph;
  void VideoThreadProc(TVideoState* is);
  int ConfigureVideoGraph(TVideoState* is, TVideoGraph& AGraph, const AVFrame* AFrame, bool ADeinterlace);
  bool EnsureVideoGraph(TVideoState* is, TVideoGraph& AGraph, const AVFrame* AFrame);
  static int PullFilteredFrame(AVFilterContext* ASink, AVFrame* AFrame, AVRational& ATimeBase);
  void FlushVideo(TVideoState* is);
  void VideoFailed(TVideoState* is);
  void PictureOutput(TVideoState* is);
  int OutputPicture(TVideoState* is, AVFrame* AFrame, double APts, int64_t APos);
  int QueuePicture(TVideoState* is, AVFrame* AFrame, double APts, int64_t APos);
  void AllocPicture(TVideoState* is);
  void FreePictures(TVideoState* is);
  void CallVideoHook(TVideoState* is, const TPicture& ADest, double APts, int AHeight, int AWidth);
  void SubtitleThreadProc(TVideoState* is);
  static void FreeSubtitle(TQueuedSubtitle& ASub);
  // Frees every queued subtitle (subpq_mutex held).
  static void DropQueuedSubtitles(TVideoState* is);

  // ---- presentation (VideoDisplay.cpp) ----
  void DequeuePicture(TVideoState* is);
  void CountShownPicture(TVideoState* is, const TQueuedPicture* vp, double ANow);
  void RetireSubtitles(TVideoState* is);
  // Blends into vp's overlay the subtitle its time shows, unless the
  // overlay has it already. overlay_lock held.
  void BlendPictureSubtitle(TVideoState* is, TQueuedPicture* vp);
  bool HasSomethingToDraw(TVideoState* is) const;
  void DisplayVideo(TVideoState* is);
  int OpenVideoMode(TVideoState* is, bool AForce);
  void SetScreen(TVideoState* is, SDL_Surface* AScreen);
  void DisplayImage(TVideoState* is);
  void DisplayAudio(TVideoState* is);
  void FillRect(SDL_Surface* ASurface, int AX, int AY, int AW, int AH, uint32_t AColor);
  void ClearPictureArea(TVideoState* is);
  void HandleVideoEvent(TVideoState* is, const SDL_Event& AEvent);
  void PlayThreadProc();
  void EventThreadProc();
  void EndEventThread();
  void JoinPlayThread();
  void PushQuitEvent(TVideoState* is);
  // False when SDL refused the event (its queue full, or not running).
  bool PushUserEvent(int AType, void* AData);
  // The event loop's wait for the next SDL event (see FPushedEvents).
  bool WaitEvent(SDL_Event& AEvent);
  void ScreenExposed() override;
  // A failure of an operation: LastErrMsg and a line at llError.
  void Report(const std::string& AMsg);
  void Report(const char* AFormat, ...) __attribute__((format(printf, 2, 3)));
  // A line without touching LastErrMsg.
  void LogLine(TLogLevel ALevel, const char* AFormat, ...) __attribute__((format(printf, 3, 4)));
  void SetLastErrMsg(const std::string& AMsg);

  // ---- SDL ----
  TSDLLoader FSDLLoader;
  TSDLStubs FSDL;  // this player's copy of the entries; filled by LoadSDLLib
  bool FSDLStarted = false;  // SDL_Init succeeded and SDL_Quit is due; Open and the event loop
  TScreenHost* FScreenHandle = nullptr;  // main thread (Open)
  std::atomic<TScreenHost*> FAttachedHost{nullptr};
  bool FHijackWndProc = true;  // stored only (see HijackWndProc)
  TAudioDriver FAudioDriver = adDefault;
  TVideoDriver FVideoDriver = vdDefault;
  int FFullScreenWidth = 0, FFullScreenHeight = 0;
  // The surface of the current video mode (event loop; null before the
  // first mode and after the playback).
  SDL_Surface* FScreen = nullptr;
  bool FDummyVideo = false;  // SDL runs the dummy video driver (InitSDL)

  // ---- playback ----
  // Lock order. A thread that holds one of these locks takes only locks
  // further down the list (the two recursive ones again as well):
  //    1. FDeliveryLock (recursive)  OnPosition/OnState run under it and may
  //                                  call any control, Stop(true) included
  //    2. FDataLock                  the event loop, one event at a time
  //    3. FVideoHookCallLock         the video hook's call, its setters
  //    4. FCurrentFrameLock          CurrentFrame, the bit depth's setters
  //    5. FStateLock (recursive)     the controls; the event loop's pause
  //                                  after a step and its stop of a play
  //                                  window
  //    6. TVideoState::stream_lock   stream open/close, routing, seeks
  //    7. SDLLock()                  SDL_Init, SDL_OpenAudio, the environment
  //    8. TVideoState::overlay_lock  the overlays' pixels
  //    9. leaves, which take none of these: pictq_mutex, subpq_mutex, the
  //       packet queues' locks, sample_lock, FHookCallLock (then only
  //       FHandlerLock), FHandlerLock, FVideoStatsLock, FPushedLock,
  //       FErrLock, FTextOptionsLock, and the locks inside TManualEvent and
  //       TPlayEvent.
  // No thread waits for another while it holds FStateLock, except for the
  // joins of a stream switch (SwitchStream: the audio device's callback
  // takes only leaves). The main thread's waits go through WaitServing
  // with no player lock held (SettlePendingSeek, WaitForStop, the seek
  // waits), so a delivery it serves may run any control.
  //
  // The playback. Set by StreamOpen, cleared and freed by CloseVideoState.
  // FStateLock keeps it alive for a control that works on it (the controls
  // run under the lock; the closing takes it to clear the pointer).
  mutable std::recursive_mutex FStateLock;
  std::atomic<TVideoState*> FVideoState{nullptr};
  // The format context of the last playback, kept open after its end while
  // Decoder describes it; closed by the caller's next Open, Stop(true) or
  // the destructor (the decoder belongs to the caller's thread). FStateLock.
  AVFormatContext* FRetiredIC = nullptr;
  void RetireFormatContext();
  std::atomic<TVideoState*> FVideoStateCB{nullptr};  // the playback the abort callback watches
  AVPacket FFlushPkt{};
  std::unique_ptr<TFFDecoder> FDecoder;
  std::string FFileName;
  std::atomic<TPlayState> FState{psPlay};
  std::atomic<int64_t> FLastPTS{AV_NOPTS_VALUE};
  std::atomic<int64_t> FCurrentPTS{-1};
  // A frame step (StepToNextFrame): set and moved under FStateLock; the
  // video thread holds back once the step's picture is queued, and the
  // event loop ends the step with a pause (EndFrameStep).
  std::atomic<bool> FStep{false};
  // The playback's pictures_queued when the step was asked: a picture the
  // video thread queued before that does not end the step.
  std::atomic<int> FStepFrom{0};
  std::atomic<bool> FSeeking{false};
  // The read-timeout rule of the opening step under way on the read thread
  // (the limit: any thread). A stop during the opening is FOpenCancel.
  TReadTimeout FReadLimit{10000};
  TCancelToken FOpenCancel;  // Stop during an Open: the opening gives up (reset by each Open)
  // Tests only: runs on the read thread once the streams are open, before
  // Open learns of it (where a Stop on another thread may land). Set
  // before Open, never while a read thread runs.
  std::function<void()> FStreamsOpenedHook;
  mutable std::mutex FErrLock;  // guards FLastErrMsg (the read thread writes it during Open)
  std::string FLastErrMsg;

  std::timed_mutex FDataLock;  // held by the event loop while it handles one event
  // Events PushUserEvent queued that the event loop has not taken yet. With
  // no window SDL posts no events of its own, so the loop sleeps until one
  // is pushed instead of letting SDL_WaitEvent poll every 10 ms; set
  // FWindowEvents once a video mode is set and SDL posts window events.
  std::mutex FPushedLock;
  std::condition_variable FPushedCond;
  int FPushedEvents = 0;  // guarded by FPushedLock
  std::atomic<bool> FWindowEvents{false};
  TManualEvent FSeekEvent{true};
  TManualEvent FPictEvent{true};
  TManualEvent FStopEvent{true};
  TPlayEvent FPlayEvent;
  std::thread FPlayThread;   // the event loop of the current (or last) playback
  std::thread FEventThread;  // delivers FPlayEvent
  std::atomic<bool> FEventThreadTerminated{false};
  // An Open on the event thread (from a handler) kept it for the new
  // playback: the last playback's psStop does not end it. Set by that
  // Open, taken by the event thread.
  std::atomic<bool> FEventThreadReused{false};
  TManualEvent FEventThreadDone{true};

  // ---- options ----
  std::atomic<int> FAudioVolume{128};
  std::atomic<bool> FMute{false};
  std::atomic<bool> FAudioHook{false};
  std::atomic<int64_t> Faudio_callback_time{0};
  // Written by SDL's audio thread only, read by anyone.
  std::atomic<uint64_t> FCallbacks{0};
  std::atomic<uint64_t> FStarvedCallbacks{0};
  std::atomic<uint64_t> FCallbackDurations[TCallbackStats::kSteps] = {};
  mutable std::mutex FVideoStatsLock;
  TVideoStats FVideoStats;  // FVideoStatsLock; written by the event loop, reset by Open
  bool FDisableAudio = false, FDisableVideo = false, FDisableDisplay = false;
  int FFrameWidth = 0, FFrameHeight = 0;
  std::atomic<int> FScreenWidth{0}, FScreenHeight{0};
  std::atomic<float> FAspectRatio{0};
  bool FIsFullScreen = false;
  std::atomic<int64_t> FPlayTime{AV_NOPTS_VALUE};
  std::atomic<TRepeatType> FRepeatType{rtStop};
  std::atomic<int64_t> Fstart_time{AV_NOPTS_VALUE};
  std::atomic<int> Fseek_by_bytes{-1};
  std::atomic<int> Fwanted_stream[AVMEDIA_TYPE_NB] = {-1, -1, -1, -1, -1};
  std::atomic<bool> FVerticalFlip{false};
  bool FCheckIOEOF = true, FCheckIOERR = true;
  bool FAutoAdjustFrameRate = true;
  // The two texts the read and video threads read while the caller may set
  // them; guarded by FTextOptionsLock (readers take a copy).
  mutable std::mutex FTextOptionsLock;
  std::string FForceFrameRate;
  const AVInputFormat* FForceFormat = nullptr;
  std::atomic<bool> FDeinterlace{false};  // the video thread switches it off when the deinterlacer fails
  std::atomic<bool> FVideoHook{false};
  // The video hook's converter (video thread, FVideoHookCallLock) and
  // CurrentFrame's (caller, FCurrentFrameLock).
  TFormatConverter FHookConverter;
  TFormatConverter FRGBConverter;
  mutable std::mutex FVideoHookCallLock;
  mutable std::mutex FCurrentFrameLock;
  std::atomic<TShowAudio> FShowAudio{saWave};
  std::string FVideoFilters;  // FTextOptionsLock
  std::atomic<bool> FTriggerEventInMainThread{true};
  Tav_sync_type Fav_sync_type = AV_SYNC_AUDIO_MASTER;
  int Fframedrop = 0;
  int Frdftspeed = 20;
  int Fdecoder_reorder_pts = -1;
  int Fworkaround_bugs = 1, Ferror_recognition = 1, Ferror_concealment = 3;
  int Fdebug_mv = 0, Flowres = 0, Fidct_algo = 0;
  bool Ffast = false, Fgenpts = false;

  // ---- events ----
  mutable std::mutex FHandlerLock;  // guards the handlers below (set on the main thread, read by player threads)
  // Held while OnPosition / OnState run, and by their setters: once a setter
  // returns, the handler it replaced is not running any more. Recursive: a
  // handler may set handlers.
  std::recursive_mutex FDeliveryLock;
  // The same for OnAudioHook and the audio thread (held only for the call).
  std::mutex FHookCallLock;
  TFileOpenEvent FOnFileOpen;
  TPositionEvent FOnPosition;
  std::atomic<bool> FPositionWanted{false};  // FOnPosition is set (the refresh's pace depends on it)
  TPlayStateEvent FOnState;
  TPlayerBeforeFindStreamInfoEvent FOnBeforeFindStreamInfo;
  TPlayerAudioHookEvent FOnAudioHook;
  TPlayerVideoHookEvent FOnVideoHook;
};

// The component as the application places it: no new behaviour.
class TFFPlayer : public TCustomPlayer {
public:
  using TCustomPlayer::TCustomPlayer;
};

// The desktop's file list as a host window: nothing to find on this
// platform (there is no desktop list view to draw on).
inline TScreenHost* FindDesktopListView() { return nullptr; }

}  // namespace quorvel
