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
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/engine/EngineSettings.h"
#include "media/engine/EngineTypes.h"
#include "media/engine/FFOptions.h"
#include "media/runtime/FFBaseComponent.h"

namespace quorvel {

class TCustomFFmpeg;

using TBeforeFindStreamInfoEvent = std::function<void(TObject* Sender, AVFormatContext* AFormatContext)>;

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
  void prepare_join();
  void new_audio_stream(AVFormatContext* AContext, int AFileIndex);
  void new_video_stream(AVFormatContext* AContext, int AFileIndex);
  void new_subtitle_stream(AVFormatContext* AContext, int AFileIndex);

  // The interrupt callback of the read-timeout guard.
  bool read_timeout_cb(TObject* Sender);

  // --- run control (the configuration's share) ---
  // Asks the job to stop; with no worker running, a blocking open of this
  // job gives up at the library's next poll.
  void Stop(bool AWaitForStop);

  // --- properties ---
  int MaxFiles() const { return FMaxFiles; }
  int nb_input_files() const { return Fnb_input_files; }
  int nb_output_files() const { return Fnb_output_files; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  int64_t TotalOutputDuration() const { return FTotalOutputDuration; }
  int ReadTimeout() const { return FReadTimeout.load(); }
  void SetReadTimeout(int AMilliseconds) { FReadTimeout = AMilliseconds; }
  bool JoinMode() const { return FJoinMode; }
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

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

protected:
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
  int64_t FTotalOutputDuration = -1;
  std::atomic<int> FReadTimeout{10000};
  // Start of the blocking call under way (µs); INT64_MAX: none; 0: the job
  // was stopped. Written by the configuring thread and by Stop.
  std::atomic<int64_t> FLastRead{INT64_MAX};
  std::atomic<bool> FBroken{false};
  bool FFatalException = false;
  std::string FFatalMessage;
};

}  // namespace quorvel
