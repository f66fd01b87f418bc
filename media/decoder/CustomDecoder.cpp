// The probe: opening or attaching a file and describing it.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/Stubs.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

constexpr AVRational kMicroBase{1, AV_TIME_BASE};

std::string DictValue(const AVDictionary* m, const char* key, const std::string& def = std::string()) {
  const AVDictionaryEntry* e = m ? avutil.av_dict_get(m, key, nullptr, 0) : nullptr;
  return e && e->value ? std::string(e->value) : def;
}

// The leading whole number of a text such as "3/12" or "2009-05-01"; 0 when
// there is none.
int LeadingNumber(const std::string& text) {
  const char* s = text.c_str();
  while (*s == ' ') ++s;
  char* end = nullptr;
  const long value = std::strtol(s, &end, 10);
  if (end == s || value < 0 || value > 1000000000L) return 0;
  return static_cast<int>(value);
}

// Seconds and microseconds as "%d.%.6d", signed as a whole.
std::string SecondsText(int64_t us) {
  const char* sign = us < 0 ? "-" : "";
  const int64_t m = us < 0 ? -us : us;
  return Format("%s%lld.%.6d", sign, static_cast<long long>(m / 1000000), static_cast<int>(m % 1000000));
}

// A rate of the stream line: two decimals when it has a fraction, thousands
// as "k" when round.
std::string RateText(double v, const char* unit) {
  const long long hundredths = std::llround(v * 100);
  if (hundredths % 100 != 0) return Format(", %3.2f %s", v, unit);
  if (hundredths % (100 * 1000) != 0) return Format(", %1.0f %s", v, unit);
  return Format(", %1.0fk %s", v / 1000, unit);
}

// A stream's time base must have a non-zero denominator before any time of
// it is scaled; the fix is kept in the stream so later users agree.
void FixTimeBase(AVStream* st) {
  if (st->time_base.den == 0) st->time_base.den = st->time_base.num;
  if (st->time_base.den == 0) st->time_base.den = 1;
}

int64_t ScaledOrMinusOne(int64_t t, AVRational tb) {
  return t == AV_NOPTS_VALUE ? -1 : avutil.av_rescale_q(t, tb, kMicroBase);
}

struct CodecContextFree {
  void operator()(AVCodecContext* ctx) const { avcodec.avcodec_free_context(&ctx); }
};

const char* MediaKind(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_AUDIO:
      return "audio";
    case AVMEDIA_TYPE_VIDEO:
      return "video";
    default:
      return "subtitle";
  }
}

}  // namespace

// ---- construction, libraries ----

TCustomDecoder::TCustomDecoder(TObject* /*AOwner*/) {}

TCustomDecoder::~TCustomDecoder() { CloseContext(); }

bool TCustomDecoder::AVLibLoaded() const { return quorvel::AVLibLoaded(kLibraries); }

bool TCustomDecoder::LoadAVLib(const TPathFileName& APath) {
  return quorvel::LoadAVLib(kLibraries, APath, FLastErrMsg);
}

void TCustomDecoder::UnloadAVLib() { quorvel::UnloadAVLib(kLibraries); }

void TCustomDecoder::CheckLibraries() {
  struct Need {
    TLibrary Lib;
    const char* Message;
  };
  static constexpr Need kNeeds[] = {{TLibrary::avCodec, "LibAVCodec not loaded."},
                                    {TLibrary::avFormat, "LibAVFormat not loaded."},
                                    {TLibrary::avUtil, "LibAVUtil not loaded."},
                                    {TLibrary::swScale, "LibSwScale not loaded."}};
  for (const Need& n : kNeeds)
    if (!FFLoader().Loaded(n.Lib)) throw Exception(n.Message);
}

// ---- reporting ----

void TCustomDecoder::Report(TLogLevel ALevel, const std::string& AMsg) {
  FLastErrMsg = AMsg;
  FFLogger().Log(this, ALevel, AMsg);
}

void TCustomDecoder::Report(TLogLevel ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  Report(ALevel, text);
}

void TCustomDecoder::Trace(TLogLevel ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  FFLogger().Log(this, ALevel, text);
}

bool TCustomDecoder::CheckFileLoaded() {
  if (FFileHandle) return true;
  Report(llWarning, "file not loaded.");
  return false;
}

// ---- read deadline ----

TCustomDecoder::TIOStep::TIOStep(TCustomDecoder& ADecoder, const AVFormatContext* AContext) : FDecoder(ADecoder) {
  // Only the outermost step of a thread's call chain holds the deadline.
  if (FDecoder.FIOStepDepth++ > 0) return;
  FDecoder.FIOTimedOut.store(false);
  if (FDecoder.ReadTimeout() <= 0) return;
  FDecoder.FIOContext = AContext;
  FDecoder.FReadLimit.Begin(TReadTimeout::Now(), FDecoder.IOProgress());
  InterruptCB().Add(CurrentThreadID(), &FDecoder,
                    TInterruptProc::Of<TCustomDecoder, &TCustomDecoder::ReadTimedOut>(&FDecoder));
  FRegistered = true;
}

TCustomDecoder::TIOStep::~TIOStep() {
  --FDecoder.FIOStepDepth;
  if (!FRegistered) return;
  InterruptCB().Remove(CurrentThreadID(), &FDecoder,
                       TInterruptProc::Of<TCustomDecoder, &TCustomDecoder::ReadTimedOut>(&FDecoder));
  FDecoder.FReadLimit.End();
  FDecoder.FIOContext = nullptr;
}

int64_t TCustomDecoder::IOProgress() const {
  // During the open the I/O context appears only once the file is.
  const AVIOContext* pb = FIOContext ? FIOContext->pb : nullptr;
  return pb ? pb->bytes_read : TReadTimeout::kNoProgress;
}

// Asked by the library, on the thread of the step, whenever it may give up.
bool TCustomDecoder::ReadTimedOut(TObject* /*ASender*/) {
  // A decoder has no stop of its own: only the limit ends its calls.
  if (FReadLimit.Check(TReadTimeout::Now(), false, IOProgress()) != TReadTimeout::TVerdict::TimedOut) return false;
  FIOTimedOut.store(true);
  return true;
}

std::string TCustomDecoder::TimedOutText(const std::string& AName) const {
  // A name with a scheme of its own ("tcp:", "http:", ...) goes over a
  // connection; files, pipes and the "unicode" path are local.
  const size_t colon = AName.find(':');
  std::string scheme = colon == std::string::npos ? std::string() : AName.substr(0, colon);
  const bool schemeLike = scheme.size() > 1 && std::all_of(scheme.begin(), scheme.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
                          });
  const bool local = !schemeLike || scheme == "file" || scheme == "unicode" || scheme == "pipe" || scheme == "fd";
  if (!local) return ErrorText(AName, AVERROR(ETIMEDOUT));
  return Format("%s: no data could be read for %d ms", AName.c_str(), ReadTimeout());
}

// ---- open, attach, close ----

bool TCustomDecoder::LoadFile(const std::string& AFileName, const std::string& AFormatName) {
  CheckLibraries();
  CloseFile();

  const AVInputFormat* format = nullptr;
  if (!AFormatName.empty()) {
    format = avformat.av_find_input_format(AFormatName.c_str());
    if (!format) {
      // A caller's mistake, not the file's: not worth a log line.
      FLastErrMsg = Format("Unknown input format: %s", AFormatName.c_str());
      return false;
    }
  }

  std::string url;
  try {
    url = FileNameToURL(AFileName);
  } catch (const Exception& e) {
    Report(llError, e.what());
    return false;
  }

  // A folder opens like a file on Linux and only fails on the first read,
  // where the library would call it "Invalid data"; say what it is.
  struct stat info;
  if (::stat(AFileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    Report(llError, ErrorText(AFileName, AVERROR(EISDIR)));
    return false;
  }

  AVFormatContext* ctx = avformat.avformat_alloc_context();
  if (!ctx) {
    Report(llError, ErrorText(AFileName, AVERROR(ENOMEM)));
    return false;
  }
  ctx->flags |= AVFMT_FLAG_NONBLOCK;
  int result;
  {
    TIOStep step(*this, ctx);
    result = OpenInputURL(&ctx, url, format, nullptr);  // frees ctx on failure
  }
  if (result < 0) {
    Report(llError, IOTimedOut() ? TimedOutText(AFileName) : ErrorText(AFileName, result));
    CloseFile();
    return false;
  }
  FFileHandle = ctx;
  FOwnHandle = true;

  {
    TIOStep step(*this, ctx);
    result = avformat.avformat_find_stream_info(ctx, nullptr);
  }
  // The library answers success for an analysis it was made to give up, as
  // long as every stream had some parameters by then: what it has is partial
  // (a guessed duration, a missing rate), and must not pass for the file's.
  if (IOTimedOut()) {
    Report(llError, TimedOutText(AFileName));
    CloseFile();
    return false;
  }
  if (result < 0) {
    const std::string msg = Format("%s: could not find codec parameters", AFileName.c_str());
    CloseFile();
    FLastErrMsg = msg;
    return false;
  }

  UpdateFileInfo();
  FForceFormat = AFormatName;
  return true;
}

void TCustomDecoder::CloseContext() {
  if (!FFileHandle) return;
  if (FOwnHandle) CloseInputURL(&FFileHandle);
  FFileHandle = nullptr;
  FOwnHandle = false;
}

void TCustomDecoder::CloseFile() {
  FForceFormat.clear();
  CloseContext();
  UpdateFileInfo();
}

void TCustomDecoder::SetFileHandle(AVFormatContext* AValue) {
  if (AValue == FFileHandle) return;
  if (AValue) CheckLibraries();
  CloseFile();
  FFileHandle = AValue;
  FOwnHandle = false;
  UpdateFileInfo();
}

void TCustomDecoder::UpdateFileInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
  AVFormatContext* ctx = FFileHandle;
  if (!ctx) return;

  // An attached context's I/O belongs to its owner's thread: ask the file
  // system rather than the I/O context whenever the file is on disk.
  int64_t contextSize = 0;
  if (FOwnHandle && ctx->pb) contextSize = avformat.avio_size(ctx->pb);
  if (contextSize > 0) {
    FFileSize = contextSize;
  } else {
    std::string name = ctx->url ? URLToFileName(ctx->url) : std::string();
    if (name.starts_with("file:")) name.erase(0, 5);
    struct stat info;
    if (!name.empty() && ::stat(name.c_str(), &info) == 0) {
      FFileSize = S_ISDIR(info.st_mode) ? -1 : static_cast<int64_t>(info.st_size);
    } else {
      if (!FOwnHandle && ctx->pb) contextSize = avformat.avio_size(ctx->pb);
      FFileSize = contextSize;
    }
  }

  FStreamCount = static_cast<int>(ctx->nb_streams);
  FProgramCount = static_cast<int>(ctx->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (int i = 0; i < FStreamCount; ++i) {
    switch (ctx->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (FVideoStreamCount++ == 0) FFirstVideoStreamIndex = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (FAudioStreamCount++ == 0) FFirstAudioStreamIndex = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (FSubtitleStreamCount++ == 0) FFirstSubtitleStreamIndex = i;
        break;
      default:
        break;  // data and attachments are no kind of their own
    }
  }
}

// ---- container ----

std::string TCustomDecoder::FileName() {
  if (!CheckFileLoaded()) return std::string();
  return FFileHandle->url ? URLToFileName(FFileHandle->url) : std::string();
}

std::string TCustomDecoder::FormatName() {
  if (!CheckFileLoaded()) return std::string();
  return FFileHandle->iformat && FFileHandle->iformat->name ? FFileHandle->iformat->name : "";
}

std::string TCustomDecoder::FormatLongName() {
  if (!CheckFileLoaded()) return std::string();
  return FFileHandle->iformat && FFileHandle->iformat->long_name ? FFileHandle->iformat->long_name : "";
}

TFileStreamInfo TCustomDecoder::FileStreamInfo() {
  TFileStreamInfo info;
  if (!CheckFileLoaded()) return info;
  const AVFormatContext* ctx = FFileHandle;
  info.StartTime = ctx->start_time == AV_NOPTS_VALUE ? -1 : ctx->start_time;
  info.Duration = ctx->duration == AV_NOPTS_VALUE ? -1 : ctx->duration;
  info.BitRate = ctx->bit_rate;

  const AVDictionary* m = ctx->metadata;
  // Today's demuxers keep dates, years and track numbers as metadata texts.
  info.TimeStamp = 0;
  const std::string created = DictValue(m, "creation_time");
  int64_t us = 0;
  if (!created.empty() && avutil.av_parse_time(&us, created.c_str(), 0) >= 0) {
    // Whole seconds, rounded down also before 1970.
    info.TimeStamp = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
  }
  info.Year = LeadingNumber(DictValue(m, "year"));
  if (info.Year == 0) info.Year = LeadingNumber(DictValue(m, "date"));
  info.Track = LeadingNumber(DictValue(m, "track"));

  info.Title = DictValue(m, "title");
  // Most containers of today call the author "artist".
  info.Author = DictValue(m, "author", DictValue(m, "artist"));
  info.Copyright = DictValue(m, "copyright");
  info.Comment = DictValue(m, "comment");
  info.Album = DictValue(m, "album");
  info.Genre = DictValue(m, "genre");
  return info;
}

// ---- streams ----

bool TCustomDecoder::IsStreamOfKind(int AStreamIndex, AVMediaType AType) {
  if (!CheckFileLoaded()) return false;
  if (AStreamIndex < 0 || AStreamIndex >= static_cast<int>(FFileHandle->nb_streams)) {
    Report(llError, "stream index #%d is invalid.", AStreamIndex);
    return false;
  }
  return FFileHandle->streams[AStreamIndex]->codecpar->codec_type == AType;
}

bool TCustomDecoder::IsAudioStream(int AStreamIndex) { return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_AUDIO); }
bool TCustomDecoder::IsVideoStream(int AStreamIndex) { return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_VIDEO); }
bool TCustomDecoder::IsSubtitleStream(int AStreamIndex) { return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_SUBTITLE); }

int TCustomDecoder::RecordStream(int AStreamIndex, AVMediaType AType, int AFirst, const char* AKind) {
  if (!CheckFileLoaded()) return -1;
  int index = AStreamIndex;
  if (index < 0) {
    if (AFirst < 0) {
      Report(llError, "no %s stream.", AKind);
      return -1;
    }
    index = AFirst;
  }
  if (index >= static_cast<int>(FFileHandle->nb_streams)) {
    Report(llError, "stream index #%d is invalid.", index);
    return -1;
  }
  if (FFileHandle->streams[index]->codecpar->codec_type != AType) {
    Report(llError, "stream #%d is not %s stream.", index, AKind);
    return -1;
  }
  return index;
}

// The fields every timed stream record shares.
static void FillTimedStreamInfo(AVStream* st, TTimedStreamInfo& AInfo) {
  const AVCodecParameters* par = st->codecpar;
  AInfo.Language = DictValue(st->metadata, "language");
  AInfo.CodecName = CodecNameText(*par);
  FixTimeBase(st);
  AInfo.StartTime = st->start_time;
  AInfo.StartTimeScaled = ScaledOrMinusOne(st->start_time, st->time_base);
  AInfo.Duration = st->duration;
  AInfo.DurationScaled = ScaledOrMinusOne(st->duration, st->time_base);
  AInfo.BitRate = par->bit_rate;
}

bool TCustomDecoder::GetAudioStreamInfo(int AStreamIndex, TAudioStreamInfo& AInfo) {
  AInfo = TAudioStreamInfo();
  const int index =
      RecordStream(AStreamIndex, AVMEDIA_TYPE_AUDIO, FFirstAudioStreamIndex, MediaKind(AVMEDIA_TYPE_AUDIO));
  if (index < 0) return false;
  AVStream* st = FFileHandle->streams[index];
  const AVCodecParameters* par = st->codecpar;
  FillTimedStreamInfo(st, AInfo);
  AInfo.Channels = par->ch_layout.nb_channels;
  AInfo.SampleRate = par->sample_rate;
  AInfo.SampleFormat = par->format;
  AInfo.BitsPerSample = SourceBits(*par);
  return true;
}

bool TCustomDecoder::GetVideoStreamInfo(int AStreamIndex, TVideoStreamInfo& AInfo) {
  AInfo = TVideoStreamInfo();
  const int index =
      RecordStream(AStreamIndex, AVMEDIA_TYPE_VIDEO, FFirstVideoStreamIndex, MediaKind(AVMEDIA_TYPE_VIDEO));
  if (index < 0) return false;
  AVStream* st = FFileHandle->streams[index];
  const AVCodecParameters* par = st->codecpar;
  FillTimedStreamInfo(st, AInfo);
  AInfo.Height = par->height;
  AInfo.Width = par->width;
  AInfo.PixFmt = par->format;
  // Most files leave the pixel shape unset (0/1): their pixels are square.
  // Taking the unset value literally would give every such video a display
  // aspect of 0.
  AVRational sar = par->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = st->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  if (par->height > 0)
    AInfo.AspectRatio = static_cast<float>(par->width * (static_cast<double>(sar.num) / sar.den) / par->height);
  AInfo.FrameRate =
      (st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0) ? st->avg_frame_rate : st->r_frame_rate;
  return true;
}

bool TCustomDecoder::GetSubtitleStreamInfo(int AStreamIndex, TSubtitleStreamInfo& AInfo) {
  AInfo = TSubtitleStreamInfo();
  const int index =
      RecordStream(AStreamIndex, AVMEDIA_TYPE_SUBTITLE, FFirstSubtitleStreamIndex, MediaKind(AVMEDIA_TYPE_SUBTITLE));
  if (index < 0) return false;
  const AVStream* st = FFileHandle->streams[index];
  AInfo.Language = DictValue(st->metadata, "language");
  AInfo.CodecName = CodecNameText(*st->codecpar);
  return true;
}

TAudioStreamInfo TCustomDecoder::FirstAudioStreamInfo() {
  TAudioStreamInfo info;
  GetAudioStreamInfo(-1, info);
  return info;
}

TVideoStreamInfo TCustomDecoder::FirstVideoStreamInfo() {
  TVideoStreamInfo info;
  GetVideoStreamInfo(-1, info);
  return info;
}

TSubtitleStreamInfo TCustomDecoder::FirstSubtitleStreamInfo() {
  TSubtitleStreamInfo info;
  GetSubtitleStreamInfo(-1, info);
  return info;
}

// ---- the description ----

std::string TCustomDecoder::StreamLine(int AIndex) {
  AVFormatContext* ctx = FFileHandle;
  AVStream* st = ctx->streams[AIndex];
  const AVCodecParameters* par = st->codecpar;
  FixTimeBase(st);

  std::string line = Format("Stream #%d", AIndex);
  if (ctx->iformat && (ctx->iformat->flags & AVFMT_SHOW_IDS)) line += Format("[0x%x]", st->id);
  const std::string language = DictValue(st->metadata, "language");
  if (!language.empty()) line += Format("(%s)", language.c_str());

  int64_t g = avutil.av_gcd(st->time_base.num, st->time_base.den);
  if (g == 0) g = 1;
  line += Format(", %lld/%lld", static_cast<long long>(st->time_base.num / g),
                 static_cast<long long>(st->time_base.den / g));

  std::unique_ptr<AVCodecContext, CodecContextFree> cc(avcodec.avcodec_alloc_context3(nullptr));
  char description[256] = {};
  if (cc && avcodec.avcodec_parameters_to_context(cc.get(), par) >= 0)
    avcodec.avcodec_string(description, sizeof(description), cc.get(), 0);
  line += ": ";
  line += description;

  if (st->sample_aspect_ratio.num != 0 && st->sample_aspect_ratio.den != 0 &&
      av_cmp_q(st->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    int darNum = 0, darDen = 0;
    avutil.av_reduce(&darNum, &darDen, static_cast<int64_t>(par->width) * st->sample_aspect_ratio.num,
                     static_cast<int64_t>(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line = Format("%s, PAR %d:%d DAR %d:%d", line.c_str(), st->sample_aspect_ratio.num, st->sample_aspect_ratio.den,
                  darNum, darDen);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const auto rate = [&](AVRational q, const char* unit) {
      if (q.num != 0 && q.den != 0) line += RateText(av_q2d(q), unit);
    };
    rate(st->avg_frame_rate, "fps");
    rate(st->r_frame_rate, "tbr");
    rate(av_inv_q(st->time_base), "tbn");
    // The codec's time base is kept inside today's libraries (a context
    // made from the stream's parameters has none): the stream's tick is its
    // real base frame rate, the rate every frame time is a whole step of.
    rate(st->r_frame_rate.num != 0 && st->r_frame_rate.den != 0 ? st->r_frame_rate : st->avg_frame_rate, "tbc");
  }

  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + SecondsText(avutil.av_rescale_q(st->start_time, st->time_base, kMicroBase));
  if (st->duration == AV_NOPTS_VALUE)
    line += ", Duration: N/A";
  else
    line += ", Duration: " + TimeText(avutil.av_rescale_q(st->duration, st->time_base, kMicroBase));
  line += "\r\n";
  line += MetadataBlockText(st->metadata, "  ");
  return line;
}

std::string TCustomDecoder::FileInfoText() {
  if (!CheckFileLoaded()) return std::string();
  AVFormatContext* ctx = FFileHandle;
  std::string text;
  const auto add = [&text](const std::string& line) {
    text += line;
    text += "\r\n";
  };

  add("File Name: " + (ctx->url ? URLToFileName(ctx->url) : std::string()));
  const AVInputFormat* ifmt = ctx->iformat;
  add(Format("Format Name: %s", ifmt && ifmt->name ? ifmt->name : ""));
  if (ifmt && ifmt->long_name && *ifmt->long_name) add(Format("Format Long Name: %s", ifmt->long_name));
  add("File Size: " + SizeText(FFileSize));
  if (ctx->duration == AV_NOPTS_VALUE || ctx->duration < 0)
    add("Duration: N/A");
  else
    add("Duration: " + TimeText(ctx->duration));
  if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time >= 0) add("StartTime: " + SecondsText(ctx->start_time));
  if (ctx->bit_rate < 1)
    add("Bit Rate: N/A");
  else
    add(Format("Bit Rate: %lld kb/s", static_cast<long long>(ctx->bit_rate / 1000)));

  const int64_t stamp = FileStreamInfo().TimeStamp;
  if (stamp > 0) {
    const std::time_t t = static_cast<std::time_t>(stamp);
    std::tm local{};
    if (::localtime_r(&t, &local))
      add(Format("Time Stamp: %04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                 local.tm_hour, local.tm_min, local.tm_sec));
  }
  text += MetadataBlockText(ctx->metadata, "");

  for (unsigned i = 0; i < ctx->nb_chapters; ++i) {
    const AVChapter* ch = ctx->chapters[i];
    const double tb = av_q2d(ch->time_base);
    add(Format("Chapter #%u: start %.2f, end %.2f", i, static_cast<double>(ch->start) * tb,
               static_cast<double>(ch->end) * tb));
    text += MetadataBlockText(ch->metadata, "  ");
  }

  std::vector<bool> shown(ctx->nb_streams, false);
  for (unsigned p = 0; p < ctx->nb_programs; ++p) {
    const AVProgram* program = ctx->programs[p];
    // Transport streams of today name these service_provider / service_name.
    const std::string provider =
        DictValue(program->metadata, "provider_name", DictValue(program->metadata, "service_provider", "N/A"));
    const std::string name = DictValue(program->metadata, "name", DictValue(program->metadata, "service_name", "N/A"));
    add(Format("Program %d %s@%s", program->id, provider.c_str(), name.c_str()));
    text += MetadataBlockText(program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned s = program->stream_index[k];
      if (s >= ctx->nb_streams) continue;
      text += StreamLine(static_cast<int>(s));
      shown[s] = true;
    }
  }
  for (unsigned s = 0; s < ctx->nb_streams; ++s)
    if (!shown[s]) text += StreamLine(static_cast<int>(s));
  return text;
}

}  // namespace quorvel
