// One playback: the record every thread of a playback works on, the
// timestamp correction and the clocks by which audio and video keep in step.
//
// Threads (see FFPlay.h): the read thread owns the format context and is the
// one producer of the packet queues; SDL's audio thread owns the audio
// decoder and the audio buffers; the event loop owns the picture side. The
// int flags are single words set by one thread and tested by others
// (atomics); a thread that waits for one to change waits on the condition
// its setter signals (continue_read, state_cond), never in a sleep loop.
// The clock inputs are read without a lock by other threads (a slightly
// stale value is fine there).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/tx.h>
}

#include "media/player/ManualEvent.h"
#include "media/runtime/LibHandles.h"
#include "media/player/PacketQueue.h"

struct SwrContext;
struct SDL_Overlay;

namespace quorvel {

class TCustomPlayer;

enum Tav_sync_type { AV_SYNC_AUDIO_MASTER, AV_SYNC_VIDEO_MASTER, AV_SYNC_EXTERNAL_CLOCK };

// The player's constants.
constexpr int kMaxQueueSize = 15728640;        // all queues together: above this the reader pauses
constexpr int kMinAudioQueueSize = 327680;     // audio queue bytes at or below which the reader reads
// Audio queue bytes at which the reader starts a refill (up to just over
// kMinAudioQueueSize): it wakes once per refill, not once per packet, and
// reads no further ahead than before (a stream switch starts the new stream
// where the reader is).
constexpr int kAudioRefillMark = kMinAudioQueueSize / 2;
constexpr int kMinFrames = 5;                  // video/subtitle packets at or below which the reader reads
constexpr int kPictureQueueSize = 2;
constexpr int kSubPictureQueueSize = 4;
constexpr double kSyncThreshold = 0.01;        // s, minimum delay for the frame-skip decision
constexpr double kNoSyncThreshold = 10.0;      // s, no correction beyond this difference
constexpr double kSyncGain = 0.1;              // the part of a small A/V difference a picture's delay takes up
constexpr int kAudioDiffAvgNb = 20;            // differences averaged before audio correction
constexpr int kSampleCorrectionPercentMax = 10;
constexpr int kSDLAudioBufferSize = 1024;      // sample frames of the device buffer
constexpr int kSilenceBytes = 1024;            // silence handed out when nothing is decoded
constexpr int kSampleArraySize = 0x20000;      // int16 values of the visualisation ring
constexpr int kAudioBufferBytes = 288000;      // initial size of each audio work buffer
constexpr int kRefreshPeriodMs = 5;           // a refused refresh push is tried again after this
// The refresh's round when nothing is drawn and no position is wanted: it
// keeps CurrentPTS moving and bounds any wake that does not come.
constexpr int kIdleRefreshMs = 100;
constexpr int kFallbackScreenWidth = 640;
constexpr int kFallbackScreenHeight = 480;
constexpr int64_t kPositionGranularity = 10000;  // µs of change before a position is reported

struct TPtsCorrectionContext {
  int64_t num_faulty_pts = 0;
  int64_t num_faulty_dts = 0;
  int64_t last_pts = AV_NOPTS_VALUE;
  int64_t last_dts = AV_NOPTS_VALUE;
};

void ResetPtsCorrection(TPtsCorrectionContext& ctx);
// The better of a frame's reordered pts and its dts, by which of the two has
// gone backwards less often (stream time base units).
int64_t GuessCorrectPts(TPtsCorrectionContext& ctx, int64_t reordered_pts, int64_t dts);

// The output format of the audio device as granted: interleaved signed
// 16-bit, Channels channels at Freq Hz. Every count of the audio path (the
// clock, the sync correction, the visualisation ring) is in this format.
struct TAudioOutFormat {
  int Freq = 0;
  int Channels = 0;
  int BytesPerFrame() const { return 2 * Channels; }
  int BytesPerSecond() const { return Freq * 2 * Channels; }
};

// One slot of the picture queue: an SDL overlay (YV12) holding a picture
// ready to be shown, and when to show it.
struct TQueuedPicture {
  SDL_Overlay* bmp = nullptr;
  double pts = 0;          // s
  int64_t pos = -1;        // file position of its packet
  int width = 0, height = 0;  // the overlay's size
  AVRational sar{0, 1};    // the picture's pixel aspect
  int allocated = 0;       // pictq_mutex
  // The subtitle blended into the overlay (its serial; 0: none), so that
  // a picture drawn again or read by CurrentFrame gets it once; with the
  // pixels, under overlay_lock.
  uint64_t subtitle_serial = 0;
  std::atomic<double> target_time{0};  // wall-clock time (s) at which it is due
};

// One slot of the subtitle queue.
struct TQueuedSubtitle {
  AVSubtitle sub{};
  double pts = 0;  // s
  bool valid = false;
  uint64_t serial = 0;  // from 1, in decoding order
};

struct TVideoState {
  TVideoState();
  ~TVideoState();
  TVideoState(const TVideoState&) = delete;
  TVideoState& operator=(const TVideoState&) = delete;

  // ---- threads ----
  std::thread parse_tid;    // the read thread
  std::thread refresh_tid;  // the refresh thread
  const AVInputFormat* iformat = nullptr;

  // ---- control flags (one writer, tested by others) ----
  std::atomic<int> abort_request{0};
  std::atomic<int> paused{0};
  int last_paused = 0;  // read thread
  std::atomic<int> seek_req{0};
  std::atomic<int> seek_flags{0};
  std::atomic<int64_t> seek_pos{0};
  std::atomic<int64_t> seek_rel{0};
  std::atomic<int> read_pause_return{0};
  // The read loop has ended (a read error with CheckIOERR): seek requests
  // are refused from then on.
  std::atomic<int> read_ended{0};
  // Wakes the reader from its wait for room: set by the audio queue running
  // down (QueueWakeReader), and after any flag above changes, the stream
  // switches, or the last samples reached the device.
  TManualEvent continue_read{false};
  // Wakes the decode threads held by a pause, a frame step or a seek: the
  // setters of paused, seek_paused, the step and abort_request (and the
  // close of a stream, which aborts its queue) call StateChanged after the
  // change; a waiter tests its condition under state_mutex, so no change
  // is missed between its test and its wait. Never taken by the threads
  // that keep time for longer than that test.
  std::mutex state_mutex;
  std::condition_variable state_cond;
  void StateChanged() {
    { std::lock_guard<std::mutex> lock(state_mutex); }
    state_cond.notify_all();
  }
  template <class P>
  void WaitWhile(P AHold) {
    std::unique_lock<std::mutex> lock(state_mutex);
    state_cond.wait(lock, [&] { return !AHold(); });
  }
  // Read thread: the audio queue ran down to kAudioRefillMark and is being
  // filled up to kMinAudioQueueSize.
  bool audio_refill = true;

  // ---- the file (read thread) ----
  AVFormatContext* ic = nullptr;
  std::atomic<int> audio_stream{-1};
  std::atomic<int> video_stream{-1};
  std::atomic<int> subtitle_stream{-1};
  Tav_sync_type av_sync_type = AV_SYNC_AUDIO_MASTER;
  double external_clock = 0;
  int64_t external_clock_time = 0;

  // ---- audio (SDL's audio thread, opened and closed by the stream's owner) ----
  std::atomic<AVStream*> audio_st{nullptr};
  // Set (release) once the stream's fields are in place, before the device
  // starts: SDL's audio thread exists from the device's opening on and reads
  // nothing of the stream before it sees this (acquire).
  std::atomic<int> audio_ready{0};
  TCodecContextPtr audio_dec;           // the audio decoder (freed by CloseStreamComponent)
  TPacketQueue audioq;
  TAudioOutFormat audio_out;            // what the device granted
  int audio_hw_buf_size = 0;
  std::atomic<double> audio_clock{0};
  // The sound the device is playing between two callbacks: the last callback
  // handed over a buffer that plays from its return on, so the clock moves
  // with the wall time (clock = now + audio_clock_origin) up to the buffer's
  // end (audio_clock_end) instead of jumping a buffer at a time. Written by
  // the audio callback only; a reader that sees one of the two updated and
  // not the other is off by at most that one buffer, once. Unset while the
  // device gets silence.
  std::atomic<double> audio_clock_origin{0};
  std::atomic<double> audio_clock_end{0};
  std::atomic<int> audio_clock_anchored{0};
  double audio_diff_cum = 0;
  double audio_diff_avg_coef = 0;
  double audio_diff_threshold = 0;
  int audio_diff_avg_count = 0;
  std::vector<uint8_t> audio_buf1;      // silence
  std::vector<uint8_t> audio_buf2;      // decoded audio in the device format
  uint8_t* audio_buf = nullptr;         // the buffer being handed out
  std::atomic<uint32_t> audio_buf_size{0};
  std::atomic<int> audio_buf_index{0};
  // audio_buf holds silence, not decoded audio: it does not delay the clock.
  std::atomic<int> audio_buf_silent{0};
  AVPacket* audio_pkt = nullptr;        // the packet whose frames are being received (taken from audioq)
  TFramePtr audio_frame;
  TSwrPtr reformat_ctx;                 // decoded format -> device format
  int reformat_in_format = -1;
  int reformat_in_rate = 0;
  AVChannelLayout reformat_in_layout{};
  bool audio_draining = false;          // the decoder was sent the end of the input
  bool audio_drained = false;           // ... and gave its last frame; the converter was flushed
  // From the start and from a seek until the first packet of the new place
  // is taken: the silence handed out meanwhile is no starvation (audio
  // thread; set again when the stream opens).
  bool audio_awaiting_packet = true;
  std::mutex stream_lock;               // stream open/close against the read thread's routing and seek flushes
  // The end of the input was queued for the decoders: written by the read
  // thread under stream_lock, read under it by a stream switch (a decoder
  // opened after the end gets the end too).
  bool eof_packet_sent = false;
  std::atomic<int> eof_packet_queued{0};  // the same, for the audio thread (no starvation at the end)
  // The end of the audio: the drained decoder's last samples were handed to
  // the device in one callback (tail_handed), and a later callback started,
  // so the device has taken them (tail_played). Cleared by a flush.
  bool audio_tail_handed = false;
  std::atomic<int> audio_tail_played{0};
  std::atomic<int> show_audio{0};
  // The newest output samples for the audio display: written by the audio
  // thread, read by the event loop, both under sample_lock.
  std::mutex sample_lock;
  std::vector<int16_t> sample_array;
  int sample_array_index = 0;
  int last_i_start = 0;

  // ---- subtitles and video ----
  std::atomic<AVStream*> subtitle_st{nullptr};
  TPacketQueue subtitleq;
  TCodecContextPtr subtitle_dec;        // the subtitle thread's decoder
  std::thread subtitle_tid;
  // Decoded subtitles, YUVA palettes. Slots are written by the subtitle
  // thread while not counted in subpq_size; counted slots are read (by the
  // event loop and CurrentFrame) and freed (by the event loop, and at a
  // seek by the read thread and the subtitle thread) under subpq_mutex,
  // with the counters.
  TQueuedSubtitle subpq[kSubPictureQueueSize];
  std::atomic<int> subpq_size{0};
  int subpq_rindex = 0;                 // subpq_mutex
  int subpq_windex = 0;                 // subtitle thread
  uint64_t subtitles_decoded = 0;       // subtitle thread: the last serial given
  std::mutex subpq_mutex;
  std::condition_variable subpq_cond;
  std::atomic<int> subtitle_stream_changed{0};

  std::atomic<AVStream*> video_st{nullptr};
  // Set by the video thread when no picture can be made (the filters
  // failed); the read thread then closes the video and its subtitles.
  std::atomic<int> video_failed{0};
  TPacketQueue videoq;
  TCodecContextPtr video_dec;           // the video thread's decoder
  std::thread video_tid;
  // The picture queue. A slot's contents are written by the video thread
  // while it is not counted in pictq_size and read by the event loop while
  // it is; pictq_size, allocated and the waits are under pictq_mutex.
  // The overlays themselves (their creation, freeing and pixels) are under
  // overlay_lock, which CurrentFrame takes on the caller's thread.
  TQueuedPicture pictq[kPictureQueueSize];
  std::atomic<int> pictq_size{0};
  std::atomic<int> pictq_rindex{0};     // event loop (CurrentFrame reads it)
  int pictq_windex = 0;                 // video thread (AllocPicture reads it while the thread waits)
  std::mutex pictq_mutex;
  std::condition_variable pictq_cond;
  std::mutex overlay_lock;
  // The slot the event loop showed last (-1: none yet); overlay_lock.
  int pictq_shown = -1;
  // Size and format of the pictures the filter graph gives out (0 before
  // the first): the video thread writes, the event loop sizes overlays and
  // the video mode by them.
  std::atomic<int> out_width{0}, out_height{0};
  // Timing of the video thread (ComputeTargetTime); frame_timer is also
  // moved by the pause toggle under the state lock.
  std::atomic<double> frame_timer{0};
  double frame_last_pts = 0;
  double frame_last_delay = 0;
  std::atomic<double> video_clock{0};   // the video thread's; the refresh reads it
  std::atomic<double> skip_frames{1};   // pictures decoded per picture shown
  double skip_frames_index = 0;         // video thread
  std::atomic<double> video_current_pts{0};
  std::atomic<double> video_current_pts_drift{0};
  std::atomic<int64_t> video_current_pos{-1};
  TPtsCorrectionContext pts_ctx;
  int width = 0, height = 0, xleft = 0, ytop = 0;  // the surface (event loop)
  int no_background = 0;
  // 1 while a refresh event is queued and not yet handled (at most one is).
  std::atomic<int> refresh{0};
  // Wakes the refresh thread before its time: the event loop handled a
  // refresh, a picture was queued, the end was reached, the playback closes.
  TManualEvent refresh_wake{false};
  std::atomic<int> refresh_now{0};  // the next refresh is due at once (RefreshNow)
  int64_t refresh_pushed_us = 0;  // refresh thread: when it pushed the last refresh (NowUs)
  int64_t audio_drawn_us = 0;     // event loop: when the audio display was last drawn (NowUs)
  // The next picture shown is the first after the opening or a seek.
  std::atomic<int> first_picture_pending{1};
  // Pictures that went through QueuePicture (a step counts from it; tests
  // count them).
  std::atomic<int> pictures_queued{0};
  // Draws on the surface (a picture, or the audio display): tests wait for
  // a redraw by it.
  std::atomic<int> displays_drawn{0};
  // Refresh events the event loop has taken (tests compare its wakes with them).
  std::atomic<int> refreshes_handled{0};
  // The spectrum's transform (event loop).
  AVTXContext* rdft = nullptr;
  av_tx_fn rdft_fn = nullptr;
  int rdft_bits = 0;
  std::vector<float> rdft_data;
  std::vector<float> rdft_out;
  int xpos = 0;
  // The clock the picture timing reads (µs); null: the wall clock. Tests
  // give a playback record a clock of their own.
  int64_t (*clock_us)() = nullptr;

  // ---- playback ----
  std::string filename;  // UTF-8, as given to Open
  TCustomPlayer* Owner = nullptr;
  std::atomic<int> Opened{0};  // 0 pending, 1 opened, -1 failed and cleaning up, -2 failed and finished
  TManualEvent OpenDone{false};  // set when Opened becomes 1 or -2
  std::atomic<int64_t> StartTime{0};
  std::atomic<int64_t> Duration{-1};
  std::atomic<int64_t> AudioDuration{-1};
  int IsImage2 = 0;
  int IsDevice = 0;
  int IOEOFLog = 0;
  int IOERRLog = 0;
  std::atomic<int> EventEOF{0};
  std::atomic<int> ReachEOF{0};
  std::atomic<int> Reading{0};
  std::atomic<int> open_paused{0};
  std::atomic<int> seek_paused{0};
  std::atomic<int> seek_done{0};
  std::atomic<int> seek_flushed{0};
  double frame_delay = 0;
};

// The clocks, in seconds.
// The sound being played: moves with the wall time while the device plays
// the last buffer handed to it.
double GetAudioClock(const TVideoState& is);
// The time of the next sample to be handed to the device.
double GetHandedAudioClock(const TVideoState& is);
// Called by the audio callback once it has handed ABytes to the device.
void AnchorAudioClock(TVideoState& is, int AHandedBytes);
double GetVideoClock(const TVideoState& is);
double GetExternalClock(const TVideoState& is);
double GetMasterClock(const TVideoState& is);
// The playback's time in µs (its clock_us, else the monotonic clock of
// av_gettime_relative).
int64_t NowUs(const TVideoState& is);

}  // namespace quorvel
