// The job's life around its configuration: construction with the default
// settings, the direct setters, the read-timeout guard and the release of
// everything the configuration made.
#include "media/engine/CustomFFmpeg.h"

#include <sys/stat.h>
#include <unistd.h>

#include "media/runtime/CodecLock.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

// The libraries a job cannot be configured without.
constexpr TLibraries kJobLibraries{TLibrary::avCodec, TLibrary::avFormat, TLibrary::avUtil,
                                   TLibrary::swScale};

TInterruptProc ReadTimeoutProc(TCustomFFmpeg* AJob) {
  return TInterruptProc::Of<TCustomFFmpeg, &TCustomFFmpeg::read_timeout_cb>(AJob);
}

}  // namespace

void TInputContextDeleter::operator()(AVFormatContext* p) const {
  if (avformat.avformat_close_input) CloseInputURL(&p);
}

void TOutputContextDeleter::operator()(AVFormatContext* p) const {
  if (!avformat.avformat_free_context) return;
  if (p->pb && p->oformat && !(p->oformat->flags & AVFMT_NOFILE)) {
    CloseOutputIO(&p->pb);
    // A file that got nothing (the job failed or never ran) is no output.
    const std::string name = !WrittenAt.empty() ? WrittenAt : URLToFileName(p->url ? p->url : "");
    struct stat info {};
    if (!name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
      ::unlink(name.c_str());
  }
  avformat.avformat_free_context(p);
}

TCustomFFmpeg::TCustomFFmpeg(int AMaxFiles) : FMaxFiles(AMaxFiles) {
  if (AMaxFiles < 1 || AMaxFiles > kMaxJobFiles)
    throw Exception(Format("Assertion failed: AMaxFiles (%d) must be 1..%d", AMaxFiles, kMaxJobFiles));
  Finput_files.resize(static_cast<size_t>(FMaxFiles));
  Foutput_files.resize(static_cast<size_t>(FMaxFiles));
  reset_defaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  Stop(true);
  FThread.reset();  // joins the worker
  if (FTermThread.joinable()) FTermThread.join();
  release();
}

void TCustomFFmpeg::reset_defaults() {
  if (!FFLoader().Loaded(kJobLibraries)) return;
  static_cast<TEngineSettings&>(*this) = TEngineSettings{};
  FOptions = std::make_unique<TFFOptions>(Fsws_flags);
  FTotalOutputDuration = -1;
  FFatalException = false;
}

void TCustomFFmpeg::release() {
  if (!FFLoader().Loaded(kJobLibraries)) return;
  // Stream records first: their encoder contexts belong to streams of the
  // contexts freed below.
  for (TAVOutputFileSlot& slot : Foutput_files) slot.streams.clear();
  for (TAVOutputFileSlot& slot : Foutput_files) {
    slot.owned.reset();
    slot.ctx = nullptr;
  }
  Fnb_output_files = 0;
  for (TAVInputFileSlot& slot : Finput_files) slot = TAVInputFileSlot{};
  Fnb_input_files = 0;
  Finput_codecs.clear();
  Foutput_codecs.clear();
  Fintra_matrix.clear();
  Finter_matrix.clear();
  Fvstats_filename.clear();
  Fstreamid_map.clear();
  Fstream_maps.clear();
  Fmeta_data_maps.clear();
  Fchapter_maps.clear();
  Faudio_codec_name.clear();
  Fvideo_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Fvideo_standard.clear();
  Fvideo_rc_override_string.clear();
  Fmetadata.Clear();
  Faudio_bitstream_filters.clear();
  Fvideo_bitstream_filters.clear();
  Fsubtitle_bitstream_filters.clear();
  FFirstHook.Clear();
  FOptions.reset();
  release_tables();
  Fpkt.reset();
  Fout_pkt.reset();
  set_post_hooks(FPostHooks & ~static_cast<TPostHooks>(phPreview));
  Fpreview_last_time = 0;
}

// --- direct setters ---

void TCustomFFmpeg::set_output_format(const std::string& AFormat) {
  if (!AFormat.empty()) Flast_asked_format = AFormat;
}

void TCustomFFmpeg::set_mux_max_delay(float ASeconds) {
  if (ASeconds > 0) Fmux_max_delay = ASeconds;
}

void TCustomFFmpeg::set_mux_preload(float ASeconds) {
  if (ASeconds > 0) Fmux_preload = ASeconds;
}

void TCustomFFmpeg::set_loudness(bool AMeasure, bool ANormalise, double AGainDb, double ACeilingDb,
                                 std::shared_ptr<TNormalisingGain> AGainSource) {
  FMeasureLoudness = AMeasure;
  FNormalise = ANormalise;
  FGainDb = AGainDb;
  FCeilingDb = ACeilingDb;
  FGainSource = std::move(AGainSource);
  // Normalising replaces the volume: the two never stack.
  if (ANormalise) Faudio_volume = 256;
}

void TCustomFFmpeg::set_audio_volume(int AVolume) {
  if (AVolume >= 0 && !FNormalise) Faudio_volume = AVolume;
}

void TCustomFFmpeg::set_audio_channels(int AChannels) {
  if (AChannels > 0) Faudio_channels = AChannels;
}

void TCustomFFmpeg::set_audio_sample_rate(int ARate) {
  if (ARate > 0) Faudio_sample_rate = ARate;
}

void TCustomFFmpeg::set_start_time(int64_t AMicroseconds) {
  if (AMicroseconds != AV_NOPTS_VALUE) Fstart_time = AMicroseconds;
}

void TCustomFFmpeg::set_recording_time(int64_t AMicroseconds) {
  if (AMicroseconds == AV_NOPTS_VALUE) return;
  Frecording_time = AMicroseconds;
  FTotalOutputDuration = AMicroseconds;
}

void TCustomFFmpeg::set_program_id(int AId) {
  if (AId >= 0) Fopt_programid = AId;
}

bool TCustomFFmpeg::set_library_option(const std::string& AName, const std::string& AValue) {
  if (!FOptions) {
    SetLastOptionError(Format("Unrecognized option \"%s\"", AName.c_str()));
    return false;
  }
  return FOptions->SetOption(AName, AValue);
}

bool TCustomFFmpeg::set_library_option_int(const std::string& AName, int64_t AValue) {
  return set_library_option(AName, std::to_string(AValue));
}

void TCustomFFmpeg::apply_stored_options(AVCodecContext* ATarget, AVMediaType AType, int AMask,
                                         const AVCodec* ACodec) {
  if (FOptions) FOptions->ApplyStoredOptions(ATarget, FOptions->CodecOptions(AType), AMask, ACodec);
}

void TCustomFFmpeg::apply_stored_options(AVFormatContext* ATarget, int AMask) {
  if (FOptions) FOptions->ApplyStoredOptions(ATarget, FOptions->FormatOptions(), AMask);
}

// --- read-timeout guard ---

void TCustomFFmpeg::start_read_guard() {
  InterruptCB().Add(CurrentThreadID(), this, ReadTimeoutProc(this));
  restart_read_guard();
}

void TCustomFFmpeg::restart_read_guard() { FReadTimeout.Begin(TReadTimeout::Now()); }

void TCustomFFmpeg::stop_read_guard() {
  FReadTimeout.End();
  InterruptCB().Remove(CurrentThreadID(), this, ReadTimeoutProc(this));
}

bool TCustomFFmpeg::read_timeout_cb(TObject* Sender) {
  if (Sender != this) return false;
  const TReadTimeout::TVerdict verdict = FReadTimeout.Check(TReadTimeout::Now(), FBroken.Cancelled());
  if (verdict == TReadTimeout::TVerdict::Wait) return false;
  FFLogger().Log(this, llInfo, verdict == TReadTimeout::TVerdict::Cancelled ? "connecting/reading/writing canceled"
                                                                           : "connecting/reading/writing timeout");
  return true;
}

}  // namespace quorvel
