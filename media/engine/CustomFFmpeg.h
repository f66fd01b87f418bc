// One conversion job. Its owner describes the job the way a command line
// would: options (SetExtOption and the direct setters), an input
// (open_input_file), options for the next input, ..., options for the
// output, the output (open_output_file), then options that add streams to
// it ("newaudio" and its kin). Settings are consumed as inputs and outputs
// are made, so the order matters.
//
// The job is configured on its owner's thread. Stop may be called from any
// thread; it cancels a blocking open through the read-timeout guard.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/engine/EngineSettings.h"
#include "media/engine/EngineTypes.h"
#include "media/engine/FFOptions.h"
#include "media/runtime/Previewer.h"
#include "media/engine/RunTables.h"
#include "media/loudness/Loudness.h"
#include "media/runtime/Bitmap.h"
#include "media/runtime/CancelToken.h"
#include "media/runtime/ReadTimeout.h"
#include "media/runtime/FFBaseComponent.h"
#include "media/runtime/FormatConverter.h"

namespace quorvel {

class TCustomFFmpeg;

using TBeforeFindStreamInfoEvent = std::function<void(TObject* Sender, AVFormatContext* AFormatContext)>;
// Every decoded audio block, before the volume is applied; the hook may
// change the samples in place. ASample holds ASize bytes of interleaved
// samples in ASampleFormat (always a packed format).
using TAudioHookEvent = std::function<void(TObject* Sender, int64_t APTS, uint8_t* ASample, int ASize,
                                           int ASampleRate, int AChannels, AVSampleFormat ASampleFormat)>;
// AFileIndex: the input being read in join mode, else -1 at the end and the
// input index otherwise. Audio-only jobs report -1 for frame number, fps and
// quality. Durations in µs.
using TProgressEvent =
    std::function<void(TObject* Sender, int AFileIndex, int AFrameNumber, int AFPS, float AQuality, float ABitRate,
                       int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration)>;
// A decoded picture (input side) or a picture about to be encoded (output
// side). AUpdate: write the bitmap back into the picture; AStopHook: do not
// call this hook again in this run.
using TVideoHookEvent = std::function<void(TObject* Sender, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                           bool& AUpdate, bool& AStopHook)>;
using TPreviewBitmapEvent = std::function<void(TObject* Sender, TBitmap& ABitmap, int AFrameNumber, int64_t APTS)>;
using TTerminateEvent = std::function<void(TObject* Sender)>;

// What happens to every encoded picture besides encoding. phHBITMAP names a
// Windows bitmap handle; here it has no effect of its own (phBitmap
// delivers the picture).
enum TPostHook : unsigned { phPreview = 1, phBitmap = 2, phHBITMAP = 4 };
using TPostHooks = unsigned;

// Accepted for the owner's sake; the run does not change its thread's
// scheduling.
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The worker thread of a run. It is created held back and starts the run
// when Resume is called (the owner wires its events first).
class TConvertThread {
public:
  explicit TConvertThread(TCustomFFmpeg& AOwner);
  ~TConvertThread();  // joins
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;
  void Resume();
  std::thread::id Id() const { return FThread.get_id(); }

private:
  void Execute();
  TCustomFFmpeg& FOwner;
  std::mutex FLock;  // guards FStarted
  std::condition_variable FStart;
  bool FStarted = false;
  std::thread FThread;
};

// The most input and output slots a job may have.
inline constexpr int kMaxJobFiles = 512;

class TCustomFFmpeg : public TObject, protected TEngineSettings {
public:
  // AMaxFiles: 1 ... 512 input slots and as many output slots. Needs the
  // engine's media libraries loaded.
  explicit TCustomFFmpeg(int AMaxFiles);
  ~TCustomFFmpeg() override;
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // --- options ---
  // Applies one named option; throws FFmpegException (EConvertError for a
  // malformed number).
  void SetExtOption(const std::string& AName, const std::string& AValue);
  bool HaltOnInvalidOption = true;

  // Direct setters used by the task manager; see each for its guard.
  void set_output_format(const std::string& AFormat);      // as "f"
  // The next output is written under this file name instead of its own (a
  // temporary name in the same folder, renamed by the caller once the
  // output is complete); its own name still chooses the format. Empty: its
  // own name.
  void set_output_write_path(const std::string& AFileName) { Fnext_write_path = AFileName; }
  void set_mux_max_delay(float ASeconds);                   // > 0 only
  void set_mux_preload(float ASeconds);                     // > 0 only
  void set_audio_volume(int AVolume);                       // >= 0 only
  void set_audio_channels(int AChannels);                   // > 0 only
  void set_audio_sample_rate(int ARate);                    // > 0 only
  void set_audio_sync_method(int AMethod) { Faudio_sync_method = AMethod; }
  void set_video_sync_method(int AMethod) { Fvideo_sync_method = AMethod; }
  void set_start_time(int64_t AMicroseconds);               // not AV_NOPTS_VALUE
  void set_recording_time(int64_t AMicroseconds);           // not AV_NOPTS_VALUE; as "t"
  void set_program_id(int AId);                             // >= 0 only
  void set_stream_codec(AVMediaType AType, const std::string& AValue);  // "acodec", "vcodec", "scodec"
  void set_codec_tag(AVMediaType AType, const std::string& AValue);     // "atag", "vtag", "stag"
  void set_frame_rate(const std::string& AValue);           // "r"
  void set_frame_size(const std::string& AValue);           // "s"
  void set_frame_aspect_ratio(const std::string& AValue);   // "aspect"
  void set_video_filters(const std::string& AValue);        // "vf"
  // Loudness of the first audio output: AMeasure measures what it encodes
  // (MeasuredLoudness once the run ended); ANormalise applies one constant
  // gain of AGainDb, lowered around the peaks only where they would pass
  // ACeilingDb (true peak), in place of the volume.
  // With AGainSource, the gain is asked from it (on the run's thread) when
  // the first frame is about to be encoded, instead of AGainDb.
  void set_loudness(bool AMeasure, bool ANormalise, double AGainDb, double ACeilingDb,
                    std::shared_ptr<TNormalisingGain> AGainSource = nullptr);
  // The normalising gain used (dB): known once the first frame was encoded.
  double NormaliseGainDb() const { return FGainDb; }
  // Set by the worker during the run; read once the run has ended.
  std::shared_ptr<const TLoudnessMeter> MeasuredLoudness() const { return FLoudnessMeter; }
  // Frames the normalising limiter lowered, and its deepest cut (dB).
  int64_t LimitedFrames() const { return FLimiter ? FLimiter->LimitedFrames() : 0; }
  double DeepestCutDb() const { return FLimiter ? FLimiter->DeepestCutDb() : 0; }

  // The generic option store: sets and remembers a library option. False
  // with LastOptionError() when the libraries refuse it.
  bool set_library_option(const std::string& AName, const std::string& AValue);
  bool set_library_option_int(const std::string& AName, int64_t AValue);
  // "apre", "vpre", "spre", "fpre": a built-in preset or a preset file.
  void apply_preset(const std::string& AOptionName, const std::string& AValue);
  // A whole group of options for a video CD or DVD format; ANorm "pal",
  // "ntsc", "film" or anything else for automatic, AFallbackNorm used when
  // automatic finds nothing.
  void set_target(const std::string& ATarget, const std::string& ANorm, const std::string& AFallbackNorm);

  // Looks up a codec by name. No name: AV_CODEC_ID_NONE. Failure: false
  // with LastErrMsg.
  bool find_codec_by_name(const std::string& AName, AVMediaType AType, bool AEncoder, int64_t AStrictness,
                          AVCodecID& AId);
  // A time option in µs; throws "Invalid %s specification for %s: %s".
  static int64_t parse_time_option(const std::string& AOptionName, const std::string& AText, bool AIsDuration);

  // --- inputs and outputs ---
  bool open_input_file(const std::string& AFileName);
  int open_output_file(const std::string& AFileName, bool AJoin);
  // False: open_output_file sets an output up in every respect but its
  // file, which it only checks could be made (the folder exists and may be
  // written). A queued task is checked that way and builds its job again,
  // creating the file, when it starts: a task that never starts leaves
  // nothing on disk, and a long queue holds no open file. Owner's thread.
  bool CreateOutputFiles = true;
  // > 0: the next input opened probes the data of streams whose demuxer
  // asks for it (PCM in WAV may hold a compressed bitstream) on this many
  // packets at most; consumed by open_input_file. For an input whose
  // earlier probe settled that question, probing it again on 32 packets
  // would only repeat it.
  int NextInputProbePackets = 0;
  void prepare_join();
  void new_audio_stream(AVFormatContext* AContext, int AFileIndex);
  void new_video_stream(AVFormatContext* AContext, int AFileIndex);
  void new_subtitle_stream(AVFormatContext* AContext, int AFileIndex);

  // The interrupt callback of the read-timeout guard.
  bool read_timeout_cb(TObject* Sender);

  // --- run control ---
  // Starts the run. Without a thread it runs on the caller's thread and
  // returns null after OnTerminate. With a thread it returns the worker,
  // held until its Resume (owned by the job). Null, too, when the job is
  // converting or has ended, or when it has no input or no output (the job
  // then ends with FatalException and OnTerminate).
  TConvertThread* StartConvert(bool AUseThread, TThreadPriority APriority = TThreadPriority::tpNormal);
  // Asks the job to stop. A worker finishes its round, drains its codecs and
  // writes the trailers; AWaitForStop waits for that (on the main thread
  // while running queued main-thread calls). With no worker running, a
  // blocking open of this job gives up at the library's next poll.
  void Stop(bool AWaitForStop);
  // Links the job's stop request under AParent: cancelling it stops the
  // job's run and gives up its blocking calls, as Stop does (the pause is
  // Stop's to release). Set by the owner before the job opens its files.
  void SetStopParent(TCancelToken* AParent) { FBroken.SetParent(AParent); }
  // A pause holds the run at the top of its next round (a library call under
  // way finishes first); Paused() tells when it is held. Both do nothing
  // without a worker thread.
  void Pause();
  void Resume();
  bool Paused() const { return FPauseHeld.load(); }
  // Ends the job whatever its state: stops a run, or reports the end of a
  // job that never ran through OnTerminate on a thread of its own.
  void stop_or_terminate(bool AWaitForStop);
  // The post hooks run on encoded pictures; dropping phPreview frees the
  // preview window.
  void set_post_hooks(TPostHooks AHooks);
  void set_hook_bits_pixel(int ABits);
  // True for the job that sent it while the job is being stopped: makes the
  // library give up a blocking call of the run's thread.
  bool broken_cb(TObject* Sender);

  // Callbacks, assigned before the start; called on the run's thread
  // (OnTerminate of a job ended by stop_or_terminate on its own thread).
  TAudioHookEvent OnAudioHook;
  TProgressEvent OnProgress;
  TVideoHookEvent OnInputVideoHook;
  TVideoHookEvent OnOutputVideoHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TTerminateEvent OnTerminate;
  // Makes the preview window on first use; none: previews go nowhere.
  TPreviewerFactory PreviewerFactory;
  int64_t ReportInterval = 500000;   // µs between progress reports
  int64_t PreviewInterval = 100000;  // µs between preview pictures

  // --- properties ---
  int MaxFiles() const { return FMaxFiles; }
  int nb_input_files() const { return Fnb_input_files; }
  int nb_output_files() const { return Fnb_output_files; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  int64_t TotalOutputDuration() const { return FTotalOutputDuration; }
  int ReadTimeout() const { return FReadTimeout.Limit(); }
  void SetReadTimeout(int AMilliseconds) { FReadTimeout.SetLimit(AMilliseconds); }
  bool JoinMode() const { return FJoinMode; }
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  bool Converting() const { return FConverting.load(); }
  bool Finished() const { return FFinished.load(); }
  bool Terminated() const { return FTerminated.load(); }
  bool FatalException() const { return FFatalException; }
  const std::string& FatalMessage() const { return FFatalMessage; }
  // The system's error (errno) of a write to an output file that failed the
  // run (a full disk: ENOSPC, a file size limit: EFBIG), 0 when none did.
  // Read after the run ended.
  int OutputWriteError() const { return FOutputWriteError; }

  const TEngineSettings& Settings() const { return *this; }
  const TFFOptions* Options() const { return FOptions.get(); }
  AVFormatContext* InputFile(int AIndex) const { return Finput_files[AIndex].ctx.get(); }
  const TAVInputFileSlot& InputSlot(int AIndex) const { return Finput_files[AIndex]; }
  AVFormatContext* OutputFile(int AIndex) const { return Foutput_files[AIndex].ctx; }
  const TAVOutputFileSlot& OutputSlot(int AIndex) const { return Foutput_files[AIndex]; }
  // The encoder chosen by name for each output stream so far (null: chosen
  // by codec id when the run starts), and the decoder for each input stream.
  const std::vector<const AVCodec*>& OutputCodecs() const { return Foutput_codecs; }
  const std::vector<const AVCodec*>& InputCodecs() const { return Finput_codecs; }
  // What the encoders could not take of the values asked for, and what was
  // used instead ("libmp3lame takes no 96000 Hz: 48000 Hz used"), one line
  // per change, as the output streams were made.
  const std::vector<std::string>& AudioFitNotes() const { return FAudioFitNotes; }

protected:
  friend class TConvertThread;

  // --- the run: set-up, packet loop, audio path, video path ---
  void run();
  void do_terminate();
  void record_fatal(const std::string& AMessage);
  void run_transcode();
  void setup_transcode();
  void release_tables();
  void bind_output_streams();
  void set_codec_parameters(TAVOutputStream& ost);
  void open_encoders();
  void open_decoders();
  void copy_metadata_maps();
  void copy_chapters(int AInput, int AOutput);
  void write_headers();
  void dump_stream_mapping();
  TAVInputStream* select_input_stream(const TAVOutputStream& ost, int AOutputSlot);
  void packet_loop();
  void join_step(int AInput);
  void end_run();
  int process_packet(TAVInputStream& ist, AVPacket* pkt);
  void handle_decoded_audio(TAVInputStream& ist, AVFrame* frame);
  void handle_decoded_video(TAVInputStream& ist, AVFrame* frame);
  void copy_packet(TAVInputStream& ist, TAVOutputStream& ost, const AVPacket* pkt);
  void flush_encoders(TAVInputStream& ist);
  void write_packet(TAVOutputStream& ost, AVPacket* pkt);
  void receive_packets(TAVOutputStream& ost);
  void report_progress(bool AIsLast, int AFileIndex);
  // audio path
  void audio_hook_and_volume(TAVInputStream& ist, uint8_t** AData, int ASamples, AVSampleFormat& AFormat);
  // sync: the stream whose clock the output follows (in join mode the
  // record that feeds, not the one that encodes, tells it).
  void do_audio_out(TAVOutputStream& ost, TAVInputStream& ist, const TAVInputStream& sync, const uint8_t* const* AData,
                    int ASamples, AVSampleFormat AFormat);
  // Converts a block (or passes it as it is) into the output's FIFO.
  void push_audio(TAVOutputStream& ost, const uint8_t* const* APlanes, int ASamples);
  // ASamples of silence in the input format AFormat, through the same way.
  void push_silence(TAVOutputStream& ost, AVSampleFormat AFormat, int64_t ASamples);
  void encode_audio_fifo(TAVOutputStream& ost, bool AFinal);
  // The normalising gain and the meter on one frame about to be encoded;
  // ALook frames after it are still in the FIFO.
  void loudness_on_frame(TAVOutputStream& ost, AVFrame* AFrame, int ALook);
  bool FMeasureLoudness = false;
  bool FNormalise = false;
  double FGainDb = 0, FCeilingDb = -1;  // FGainDb: the run's once it asked FGainSource
  std::shared_ptr<TNormalisingGain> FGainSource;
  // The worker's during the run (made at the first frame of the stream).
  const TAVOutputStream* FLoudnessStream = nullptr;
  std::shared_ptr<TLoudnessMeter> FLoudnessMeter;
  std::unique_ptr<TPeakLimiter> FLimiter;
  TFramePtr FLookFrame;           // the frames after the one being encoded
  std::vector<double> FLoudnessWork;  // interleaved doubles for the limiter
  void drain_audio_encoder(TAVOutputStream& ost);
  void prepare_audio_converter(TAVOutputStream& ost, TAVInputStream& ist, AVSampleFormat AFormat);
  // video path
  void encode_video_frame(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* frame);
  void run_input_video_hooks(TAVInputStream& ist, AVFrame* frame);
  void run_output_video_hooks(TAVOutputStream& ost, AVFrame* frame);
  bool call_video_hook(TVideoHookEvent& AHook, TFormatConverter& AConverter, AVFrame* frame, int AFrameNumber,
                       int64_t APTS);
  void run_post_hooks(AVFrame* frame, int AFrameNumber, int64_t APTS, bool AConverted);
  // The record that holds a stream's encoder-side state: in join mode the
  // first group's record at the same position.
  TAVOutputStream& encoder_record(TAVOutputStream& ost);
  void wait_while_paused();

  // Sets every setting to its default and makes the option store.
  void reset_defaults();
  // Closes and frees every input, output and pending setting resource.
  void release();

  // The read-timeout guard around one blocking library call.
  void start_read_guard();
  void restart_read_guard();
  void stop_read_guard();
  // Registers the job's read-timeout callback for the calling thread for
  // the lifetime of one open; every blocking call inside restarts the clock.
  class TReadGuard {
  public:
    explicit TReadGuard(TCustomFFmpeg& AJob) : FJob(AJob) { FJob.start_read_guard(); }
    ~TReadGuard() { FJob.stop_read_guard(); }
    TReadGuard(const TReadGuard&) = delete;
    TReadGuard& operator=(const TReadGuard&) = delete;
    void Restart() { FJob.restart_read_guard(); }

  private:
    TCustomFFmpeg& FJob;
  };

  void apply_stored_options(AVCodecContext* ATarget, AVMediaType AType, int AMask, const AVCodec* ACodec);
  void apply_stored_options(AVFormatContext* ATarget, int AMask);

  // The input (output) slot that holds the file AFileName, or -1.
  int input_index_of(const std::string& AFileName) const;
  int output_index_of(const std::string& AFileName) const;
  TAVOutputStream* add_output_stream(AVFormatContext* AContext, int AFileIndex);
  void check_audio_video_sub_inputs(bool AJoin, bool& AHasVideo, bool& AHasAudio, bool& AHasSubtitle);
  void new_stream_option(AVMediaType AType);
  AVStream* new_output_stream(AVFormatContext* AContext, std::string& ACodecName, std::string* ALanguage);

  // option rules
  void bit_rate_option(const std::string& AName, const std::string& AValue);
  void metadata_option(const std::string& AValue);
  void map_option(const std::string& AValue);
  void map_meta_data_option(const std::string& AValue);
  void map_chapters_option(const std::string& AValue);
  void streamid_option(const std::string& AName, const std::string& AValue);
  void bitstream_filter_option(const std::string& AName, const std::string& AValue);
  void matrix_option(std::vector<uint16_t>& AMatrix, const std::string& AValue);
  void itsscale_option(const std::string& AValue);
  void vhook_option(const std::string& AValue);
  void vstats_option(bool AOn);
  void list_sample_formats();
  void list_pixel_formats();

  const int FMaxFiles;
  std::unique_ptr<TFFOptions> FOptions;

  // inputs (slots 0 .. Fnb_input_files - 1 in use)
  std::vector<TAVInputFileSlot> Finput_files;
  int Fnb_input_files = 0;
  std::vector<const AVCodec*> Finput_codecs;

  // outputs
  std::vector<TAVOutputFileSlot> Foutput_files;
  int Fnb_output_files = 0;
  std::vector<const AVCodec*> Foutput_codecs;
  bool FJoinMode = false;
  bool FEnableFilter = false;

  std::string FLastErrMsg;
  std::vector<std::string> FAudioFitNotes;  // owner's thread, while outputs are made
  int64_t FTotalOutputDuration = -1;
  // The read-timeout rule of the blocking call under way on the thread
  // that configures or runs the job (the limit: any thread).
  TReadTimeout FReadTimeout{10000};
  // The stop request of the run: raised by Stop (any thread), never
  // withdrawn (a job runs once, and a request racing its start must hold);
  // tested by the run and its interrupt callbacks (the stop callback and
  // the read-timeout one, which also ends a call of the configuring
  // thread). Its parent, when the job belongs to an encoder, is the
  // encoder's stop (SetStopParent).
  TCancelToken FBroken;
  bool FFatalException = false;  // written by the run's thread; read after it ended
  std::string FFatalMessage;
  int FOutputWriteError = 0;  // written by the run's thread; read after it ended

  // --- run control (flags written across threads are atomic) ---
  std::atomic<bool> FConverting{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FTerminateDone{false};  // do_terminate ran (exactly once)
  std::unique_ptr<TConvertThread> FThread;  // owned by the job; joined on destruction
  std::thread FTermThread;                  // the termination thread of stop_or_terminate
  std::mutex FRunLock;                      // guards the events below and FPauseRequested
  std::condition_variable FRunChanged;
  bool FRunning = false;         // a worker is inside run() (the "stop event" is reset)
  bool FTermRunning = false;     // the termination thread runs
  bool FPauseRequested = false;
  std::atomic<bool> FPauseHeld{false};

  // --- working state of a run (the run's thread) ---
  TRunTables FTables;
  int64_t Ftimer_start = 0;
  int64_t Flast_report = 0;
  int64_t Fvideo_size = 0, Faudio_size = 0, Fextra_size = 0;
  int Fnb_frames_dup = 0, Fnb_frames_drop = 0;
  bool FShowDupOrDrop = false;
  TPacketPtr Fpkt;      // the packet read from an input
  TPacketPtr Fout_pkt;  // an encoded packet
  bool Fdecoding_failed = false;

  // --- video hooks and previews ---
  TFormatConverter FInputVideoHookConv;
  TFormatConverter FOutputVideoHookConv;
  // The preview window; shared so that a painting run keeps it while the
  // owner drops it (set_post_hooks) meanwhile. PostHookLock().
  std::shared_ptr<TPreviewer> FPreviewer;
  int64_t Fpreview_last_time = 0;
  TPostHooks FPostHooks = 0;  // guarded by PostHookLock()
  bool FPostHooksChanged = false;
};

}  // namespace quorvel
