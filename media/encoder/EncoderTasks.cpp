// The task options: turning the application's option records into settings
// of a task's conversion job, and the operations that add tasks, inputs and
// outputs.
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>
#include <utility>

#include "media/encoder/FFEncode.h"
#include "media/engine/FFmpegException.h"
#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

std::string Lower(std::string AText) {
  for (char& c : AText)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AText;
}

bool OneOf(const std::string& AName, std::initializer_list<const char*> ANames) {
  for (const char* name : ANames)
    if (AName == name) return true;
  return false;
}

std::string StreamName(TStreamHandle AStream, const std::string& APrivateData) {
  return Format("stream:%" PRIdPTR ":%s", reinterpret_cast<intptr_t>(AStream), APrivateData.c_str());
}

// The option lines a task hands to its job. A blank line carries no option:
// it is left out rather than failing the whole task as an unknown name.
std::vector<TOptionLine> OptionLines(const std::string& AText) {
  std::vector<TOptionLine> lines;
  for (TOptionLine& line : SplitOptionText(AText)) {
    if (line.Name.empty()) continue;
    line.Name = Lower(std::move(line.Name));
    lines.push_back(std::move(line));
  }
  return lines;
}

// The stream options of an output: the record's defaults ("def_acodec" ...)
// and the per-stream lines of its option text, in order.
class TStreamOptions {
public:
  void Add(const std::string& AName, const std::string& AValue) { FItems.push_back({AName, AValue}); }
  bool Has(const std::string& AName) const {
    for (const auto& item : FItems)
      if (item.Name == AName) return true;
    return false;
  }
  std::string Value(const std::string& AName) const {
    for (const auto& item : FItems)
      if (item.Name == AName) return item.Value;
    return std::string();
  }
  // The first entry named AName, removed; else the value of its default.
  std::string Take(const std::string& AName) {
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
      if (it->Name == AName) {
        std::string value = std::move(it->Value);
        FItems.erase(it);
        return value;
      }
    return Value("def_" + AName);
  }

private:
  std::vector<TOptionLine> FItems;
};

TStreamOptions BuildStreamOptions(const TOutputOptions& ARecord, const std::vector<TOptionLine>& ALines) {
  TStreamOptions list;
  const std::pair<const char*, const std::string*> defaults[] = {
      {"def_acodec", &ARecord.AudioCodec},     {"def_vcodec", &ARecord.VideoCodec},
      {"def_scodec", &ARecord.SubtitleCodec},  {"def_apre", &ARecord.AudioPreset},
      {"def_vpre", &ARecord.VideoPreset},      {"def_spre", &ARecord.SubtitlePreset},
      {"def_s", &ARecord.FrameSize},           {"def_vf", &ARecord.VideoFilters}};
  for (const auto& [key, field] : defaults)
    if (!field->empty()) list.Add(key, *field);
  for (const TOptionLine& line : ALines) {
    if (line.Value.empty() ||
        !OneOf(line.Name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vfilters", "vf"}))
      continue;
    const std::string name = line.Name == "vfilters" ? "vf" : line.Name;
    if (!list.Has("def_" + name)) list.Add("def_" + name, line.Value);
    list.Add(name, line.Value);
  }
  return list;
}

void SetPositive(TCustomFFmpeg& AJob, const char* AName, int AValue) {
  if (AValue > 0) AJob.SetExtOption(AName, std::to_string(AValue));
}

void SetText(TCustomFFmpeg& AJob, const char* AName, const std::string& AValue) {
  if (!AValue.empty()) AJob.SetExtOption(AName, AValue);
}

void SetMetadata(TCustomFFmpeg& AJob, const char* AKey, const std::string& AValue) {
  if (!AValue.empty()) AJob.SetExtOption("metadata", std::string(AKey) + "=" + AValue);
}

// The record fields in the order of the record.
void ApplyOutputFields(TCustomFFmpeg& AJob, const TOutputOptions& R) {
  AJob.set_output_format(R.ForceFormat);
  SetPositive(AJob, "packetsize", R.PacketSize);
  SetPositive(AJob, "muxrate", R.MuxRate);
  AJob.set_mux_max_delay(R.MuxDelay);
  AJob.set_mux_preload(R.MuxPreload);
  if (R.DisableAudio) AJob.SetExtOption("an", "1");
  AJob.set_loudness(R.MeasureLoudness, R.Normalise, R.NormaliseGainDb, R.TruePeakCeiling, R.NormaliseGain);
  AJob.set_audio_volume(R.AudioVolume);
  AJob.set_audio_channels(R.AudioChannels);
  AJob.set_audio_sample_rate(R.AudioSampleRate);
  // A target preset decides the bit rates itself.
  if (R.TargetType == ttIgnore) SetPositive(AJob, "ab", R.AudioBitrate);
  SetPositive(AJob, "abt", R.AudioBitRateTolerance);
  SetText(AJob, "alang", R.AudioLanguage);
  AJob.set_audio_sync_method(R.AudioSyncMethod);
  if (!R.AudioTag.empty()) AJob.set_codec_tag(AVMEDIA_TYPE_AUDIO, R.AudioTag);
  if (R.DisableVideo) AJob.SetExtOption("vn", "1");
  if (!R.FrameRate.empty()) AJob.set_frame_rate(R.FrameRate);
  if (!R.FrameAspectRatio.empty()) AJob.set_frame_aspect_ratio(R.FrameAspectRatio);
  SetPositive(AJob, "g", R.GroupPictureSize);
  if (R.TargetType == ttIgnore) SetPositive(AJob, "vb", R.VideoBitrate);
  SetPositive(AJob, "maxrate", R.VideoMaxRate);
  SetPositive(AJob, "minrate", R.VideoMinRate);
  SetPositive(AJob, "bt", R.VideoBitRateTolerance);
  SetPositive(AJob, "bufsize", R.VideoBufSize);
  AJob.set_video_sync_method(R.VideoSyncMethod);
  if (!R.VideoTag.empty()) AJob.set_codec_tag(AVMEDIA_TYPE_VIDEO, R.VideoTag);
  SetText(AJob, "vlang", R.VideoLanguage);
  if (R.DisableSubtitle) AJob.SetExtOption("sn", "1");
  SetText(AJob, "slang", R.SubtitleLanguage);
  AJob.SetExtOption("isync", R.InputSync ? "1" : "0");
  if (R.CopyTimestamp) AJob.SetExtOption("copyts", "1");

  if (R.TimeStart != kNoTime) AJob.set_start_time(R.TimeStart);
  if (R.TimeLength != kNoTime) AJob.set_recording_time(R.TimeLength);

  const TStreamInfo& info = R.Info;
  if (info.TimeStamp == 0) {
    AJob.SetExtOption("timestamp", "now");
  } else if (info.TimeStamp > 0) {
    const std::time_t seconds = static_cast<std::time_t>(LocalDayCountToUnixTime(info.TimeStamp));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%SZ", &utc);
    AJob.SetExtOption("timestamp", text);
  }
  if (info.Year > 0) SetMetadata(AJob, "year", std::to_string(info.Year));
  if (info.Track > 0) SetMetadata(AJob, "track", std::to_string(info.Track));
  SetMetadata(AJob, "title", info.Title);
  SetMetadata(AJob, "author", info.Author);
  SetMetadata(AJob, "copyright", info.Copyright);
  SetMetadata(AJob, "comment", info.Comment);
  SetMetadata(AJob, "album", info.Album);
  SetMetadata(AJob, "genre", info.Genre);
}

void ApplyTarget(TCustomFFmpeg& AJob, const TOutputOptions& R) {
  const char* target = R.TargetType == ttVCD ? "vcd" : R.TargetType == ttSVCD ? "svcd" : R.TargetType == ttDVD ? "dvd" : nullptr;
  if (!target) return;
  const char* norm = R.NormType == ntPAL ? "pal" : R.NormType == ntNTSC ? "ntsc" : "auto";
  AJob.set_target(target, norm, R.NormDefault == ntPAL ? "pal" : "ntsc");
}

// Each "newaudio", "newvideo" and "newsubtitle" line creates a stream and
// takes its own codec (preset, size, filters) lines in turn; streams beyond
// the given lines get the defaults.
void ApplyStreamLines(TCustomFFmpeg& AJob, const std::vector<TOptionLine>& ALines, TStreamOptions& AList) {
  auto take = [&](const char* AName) { AJob.SetExtOption(AName, AList.Take(AName)); };
  for (const TOptionLine& line : ALines) {
    if (line.Name == "newaudio") {
      take("acodec");
      take("apre");
    } else if (line.Name == "newvideo") {
      take("vcodec");
      take("vpre");
      take("s");
      take("vf");
    } else if (line.Name == "newsubtitle") {
      take("scodec");
      take("spre");
    } else {
      continue;
    }
    AJob.SetExtOption(line.Name, line.Value);
  }
}

}  // namespace

void TCustomEncoder::CheckNotWorking(const char* AOperation) const {
  if (FWorking) throw Exception(Format("Cannot %s while working.", AOperation));
}

void TCustomEncoder::ApplyInputRecord(TFFmpeg& AJob, const TInputOptions& ARecord) {
  for (const TOptionLine& line : OptionLines(ARecord.ExtOptions)) {
    if (OneOf(line.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"})) continue;
    AJob.SetExtOption(line.Name, line.Value);
  }
  AJob.set_output_format(ARecord.ForceFormat);  // the next input's format
  if (ARecord.TimeStart != kNoTime) AJob.set_start_time(ARecord.TimeStart);
  if (ARecord.ProgramID >= 0) AJob.set_program_id(ARecord.ProgramID);
}

std::unique_ptr<TFFmpeg> TCustomEncoder::MakeJob(const TEncoderTask& ATask, int AIndex, bool AForRun) {
  auto job = std::make_unique<TFFmpeg>(ATask.MaxFiles);
  job->SetTaskIndex(AIndex);
  job->CreateOutputFiles = AForRun;
  job->SetVerbose(ATask.Verbose);
  if (AForRun)
    job->SetPreviewFlags(FRunPreview, FRunPreviewBitmap);
  else
    job->SetPreviewFlags(FPreview, FPreviewBitmap);
  job->OnBeforeFindStreamInfo = [this](TObject*, AVFormatContext* AContext) {
    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, AContext);
  };
  if (!AForRun) return job;
  job->SetStopParent(&FRunStop);
  job->PreviewerFactory = PreviewerFactory;
  // A running task keeps its place: the list is not changed while working.
  TFFmpeg* raw = job.get();
  job->OnPreviewBitmap = [this, raw](TObject*, TBitmap& ABitmap, int AFrameNumber, int64_t APTS) {
    DoPreviewBitmap(raw, ABitmap, AFrameNumber, APTS);
  };
  job->OnProgress = [this, raw](TObject*, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                                float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration,
                                int64_t ATotalDuration) {
    DoProgress(raw, AFileIndex, AFrameNumber, AFPS, AQuality, ABitRate, ACurrentSize, ACurrentDuration,
               ATotalDuration);
  };
  const TEncoderTask* task = &ATask;
  job->OnTerminate = [this, raw, task](TObject*) {
    DoTerminate(raw);
    task->RunReturned = true;
  };
  return job;
}

bool TCustomEncoder::OpenInput(TFFmpeg& AJob, const TEncoderTask& ATask, const TEncoderTask::TInput& AInput,
                               std::string& AError) {
  const int index = AJob.nb_input_files();
  AJob.HaltOnInvalidOption = ATask.HaltOnInvalidOption;
  try {
    if (AJob.CreateOutputFiles && AInput.Info.CodecsSettled) AJob.NextInputProbePackets = 1;
    if (AInput.HasRecord) {
      AJob.InputOptions(index) = AInput.Options;
      ApplyInputRecord(AJob, AJob.InputOptions(index));
    } else {
      AJob.InputOptions(index) = TInputOptions{};
    }
    AJob.SetReadTimeout(ATask.ReadTimeout);
    if (AJob.open_input_file(AInput.FileName)) {
      AJob.AttachDecoder(index);
      return true;
    }
    AError = AJob.LastErrMsg();
  } catch (const std::exception& e) {
    AError = e.what();
  }
  AJob.InputOptions(index) = TInputOptions{};
  return false;
}

std::unique_ptr<TFFmpeg> TCustomEncoder::BuildJob(const TEncoderTask& ATask, int AIndex, bool AForRun,
                                                  std::string& AError) {
  try {
    std::unique_ptr<TFFmpeg> job = MakeJob(ATask, AIndex, AForRun);
    for (const TEncoderTask::TInput& input : ATask.Inputs)
      if (!OpenInput(*job, ATask, input, AError)) return nullptr;
    for (const TEncoderTask::TOutput& output : ATask.Outputs)
      if (!ConfigureOutput(*job, ATask, output, AError)) return nullptr;
    return job;
  } catch (const std::exception& e) {
    AError = e.what();
    return nullptr;
  }
}

void TCustomEncoder::ReleaseConfigured() {
  if (!FConfigured) return;
  FConfigured->Job.reset();
  FConfigured = nullptr;
}

TFFmpeg* TCustomEncoder::Configure(int AIndex) {
  TEncoderTask& task = FTasks.Task(AIndex);
  if (FConfigured != &task) {
    ReleaseConfigured();
    std::string error;
    // Built as it was when last configured, so it cannot fail but for a
    // file changed meanwhile; then the operation on it fails with that.
    task.Job = BuildJob(task, AIndex, false, error);
    if (!task.Job) throw Exception(error);
    FConfigured = &task;
  }
  return task.Job.get();
}

namespace {

// One input or output of a task: its name and, when given, a copy of its
// option record (which takes the file's name when it names none).
template <class TEntry, class TOptions>
TEntry TaskEntry(const std::string& AFileName, TOptions* AOptions) {
  TEntry entry;
  entry.FileName = AFileName;
  if (AOptions) {
    if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
    entry.HasRecord = true;
    entry.Options = *AOptions;
  }
  return entry;
}

TTaskInputInfo ProbeInfo(const TFFmpeg& AJob, int AIndex, const std::string& AFileName) {
  TTaskInputInfo info;
  info.FileName = AFileName;
  const AVFormatContext* ctx = AJob.InputFile(AIndex);
  if (!ctx) return info;
  info.Duration = ctx->duration > 0 ? ctx->duration : 0;
  // The WAV demuxer probes PCM 16 data for a compressed bitstream on up to
  // 32 packets; a verdict of plain PCM is reached on the first packet too
  // (a finding must outscore the header's codec, and would have been taken
  // there).
  bool pcm = ctx->iformat && std::strcmp(ctx->iformat->name, "wav") == 0 && ctx->nb_streams > 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) info.HasAudio = true;
    if (par->codec_id != AV_CODEC_ID_PCM_S16LE) pcm = false;
  }
  info.CodecsSettled = pcm;
  return info;
}

}  // namespace

int TCustomEncoder::AddTask(const std::string& AFileName, TInputOptions* AOptions) {
  CheckNotWorking("AddTask");
  try {
    // The previous task's job goes first, so that the records that stay are
    // not made above the memory it frees.
    ReleaseConfigured();
    // The file is probed now, so that a bad one is refused at once; the
    // task then keeps only its names and records, and the probe's job goes
    // with the next task added.
    auto task = std::make_unique<TEncoderTask>();
    task->MaxFiles = CustomMaxFiles;
    task->Verbose = Verbose;
    task->HaltOnInvalidOption = HaltOnInvalidOption;
    task->ReadTimeout = ReadTimeout;
    auto input = TaskEntry<TEncoderTask::TInput>(AFileName, AOptions);
    std::unique_ptr<TFFmpeg> job = MakeJob(*task, FTasks.Count(), false);
    std::string error;
    if (!OpenInput(*job, *task, input, error)) {
      FLastErrMsg = error;
      return -1;
    }
    input.Info = ProbeInfo(*job, 0, AFileName);
    task->Inputs.push_back(std::move(input));
    task->Job = std::move(job);
    FConfigured = task.get();
    return FTasks.Add(std::move(task));
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
    return -1;
  }
}

int TCustomEncoder::AddTask(const std::string& AFileName, const std::string& AExtOptions) {
  TInputOptions options = InputOptionsFromText(AExtOptions);
  return AddTask(AFileName, &options);
}

int TCustomEncoder::AddTask(TStreamHandle AStream, const std::string& APrivateData, TInputOptions* AOptions) {
  return AddTask(StreamName(AStream, APrivateData), AOptions);
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName, TInputOptions* AOptions) {
  CheckNotWorking("AddInputFile");
  TEncoderTask& task = FTasks.Task(ATaskIndex);
  if (static_cast<int>(task.Inputs.size()) >= task.MaxFiles) {
    FLastErrMsg = Format("max input files %d reached", task.MaxFiles);
    return false;
  }
  try {
    TFFmpeg* job = Configure(ATaskIndex);
    task.HaltOnInvalidOption = HaltOnInvalidOption;
    task.ReadTimeout = ReadTimeout;
    auto input = TaskEntry<TEncoderTask::TInput>(AFileName, AOptions);
    std::string error;
    if (!OpenInput(*job, task, input, error)) {
      FLastErrMsg = error;
      return false;
    }
    input.Info = ProbeInfo(*job, job->nb_input_files() - 1, AFileName);
    task.Inputs.push_back(std::move(input));
    return true;
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
    return false;
  }
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions) {
  TInputOptions options = InputOptionsFromText(AExtOptions);
  return AddInputFile(ATaskIndex, AFileName, &options);
}

void TCustomEncoder::RouteVideoHook(TFFmpeg& AJob, bool AInput) {
  TFFmpeg* raw = &AJob;
  if (AInput)
    AJob.OnInputVideoHook = [this, raw](TObject*, TBitmap& ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                                        bool& AStopHook) {
      DoVideoInputHook(raw, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
    };
  else
    AJob.OnOutputVideoHook = [this, raw](TObject*, TBitmap& ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                                         bool& AStopHook) {
      DoVideoOutputHook(raw, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
    };
}

void TCustomEncoder::RouteAudioHook(TFFmpeg& AJob) {
  TFFmpeg* raw = &AJob;
  AJob.OnAudioHook = [this, raw](TObject*, int64_t APTS, uint8_t* ASample, int ASize, int ASampleRate, int AChannels,
                                 AVSampleFormat ASampleFormat) {
    if (FEventsDetached || !OnAudioHook) return;
    std::lock_guard<std::mutex> lock(FAudioHookLock);
    OnAudioHook(this, raw->TaskIndex(), APTS, ASample, ASize, ASampleRate, AChannels, ASampleFormat);
  };
}

bool TCustomEncoder::ConfigureOutput(TFFmpeg& AJob, const TEncoderTask& ATask,
                                     const TEncoderTask::TOutput& AOutput, std::string& AError) {
  TFFmpeg* job = &AJob;
  const int index = job->nb_output_files();
  if (index >= job->MaxFiles()) {
    AError = Format("max output files %d reached", job->MaxFiles());
    return false;
  }
  try {
    job->HaltOnInvalidOption = ATask.HaltOnInvalidOption;
    std::vector<TOptionLine> lines;
    TStreamOptions streams;
    bool join = false;
    if (AOutput.HasRecord) {
      job->OutputOptions(index) = AOutput.Options;
      const TOutputOptions& record = job->OutputOptions(index);
      lines = OptionLines(record.ExtOptions);
      streams = BuildStreamOptions(record, lines);
      ApplyTarget(*job, record);
      job->set_stream_codec(AVMEDIA_TYPE_AUDIO, streams.Value("def_acodec"));
      job->set_stream_codec(AVMEDIA_TYPE_VIDEO, streams.Value("def_vcodec"));
      job->set_stream_codec(AVMEDIA_TYPE_SUBTITLE, streams.Value("def_scodec"));
      for (const char* preset : {"apre", "vpre", "spre"}) {
        const std::string value = streams.Value(std::string("def_") + preset);
        if (!value.empty()) job->apply_preset(preset, value);
      }
      for (const TOptionLine& line : lines) {
        if (OneOf(line.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf",
                              "acodec", "vcodec", "scodec", "s"}))
          continue;
        job->SetExtOption(line.Name, line.Value);
      }
      ApplyOutputFields(*job, record);
      if (streams.Has("def_s")) job->set_frame_size(streams.Value("def_s"));
      if (streams.Has("def_vf")) job->set_video_filters(streams.Value("def_vf"));
      if (record.AudioHook) RouteAudioHook(*job);
      if (record.VideoInputHook) RouteVideoHook(*job, true);
      if (record.VideoOutputHook) RouteVideoHook(*job, false);
      job->set_hook_bits_pixel(record.VideoHookBitsPixel);
      join = record.Join;
      job->set_output_write_path(record.WriteTo);
    } else {
      job->OutputOptions(index) = TOutputOptions{};
    }
    job->SetReadTimeout(ATask.ReadTimeout);
    if (job->open_output_file(AOutput.FileName, join) < 0) {
      AError = job->LastErrMsg();
      job->OutputOptions(index) = TOutputOptions{};
      return false;
    }
    if (AOutput.HasRecord) {
      ApplyStreamLines(*job, lines, streams);
      if (join) job->prepare_join();
    }
    return true;
  } catch (const std::exception& e) {
    AError = e.what();
    return false;
  }
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName, TOutputOptions* AOptions) {
  CheckNotWorking("SetOutputFile");
  TEncoderTask& task = FTasks.Task(ATaskIndex);
  if (static_cast<int>(task.Outputs.size()) >= task.MaxFiles) {
    FLastErrMsg = Format("max output files %d reached", task.MaxFiles);
    return false;
  }
  try {
    TFFmpeg* job = Configure(ATaskIndex);
    task.HaltOnInvalidOption = HaltOnInvalidOption;
    task.ReadTimeout = ReadTimeout;
    auto output = TaskEntry<TEncoderTask::TOutput>(AFileName, AOptions);
    std::string error;
    if (!ConfigureOutput(*job, task, output, error)) {
      FLastErrMsg = error;
      return false;
    }
    task.Outputs.push_back(std::move(output));
    return true;
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
    return false;
  }
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions) {
  TOutputOptions options = OutputOptionsFromText(AExtOptions);
  return SetOutputFile(ATaskIndex, AFileName, &options);
}

bool TCustomEncoder::SetOutputStream(int ATaskIndex, TStreamHandle AStream, const std::string& APrivateData,
                                     TOutputOptions* AOptions) {
  return SetOutputFile(ATaskIndex, StreamName(AStream, APrivateData), AOptions);
}

}  // namespace quorvel
