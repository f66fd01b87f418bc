// The job's option table: SetExtOption and the value rules behind each name.
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <span>

#include "media/engine/CustomFFmpeg.h"
#include "media/engine/ExtOptionNames.h"
#include "media/engine/NumberText.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

void LogDoNothing(TObject* ASender, const std::string& AName) {
  FFLogger().Log(ASender, llInfo, "Do nothing: option - " + AName);
}

// strtol as the map texts use it: base prefixes allowed, the end pointer
// never past the text.
int ReadNumber(const char*& p) {
  char* end = nullptr;
  const long value = std::strtol(p, &end, 0);
  p = end;
  return static_cast<int>(value);
}

void SkipSeparator(const char*& p) {
  if (*p) ++p;
}

}  // namespace

void TCustomFFmpeg::SetExtOption(const std::string& AName, const std::string& AValue) {
  const std::string& v = AValue;
  const std::string& n = AName;
  auto flag = [&](bool& AField) { AField = StrToBool(v); };
  auto integer = [&](int& AField) { AField = StrToInt(v); };
  auto decimal = [&](float& AField) { AField = static_cast<float>(StrToFloat(v)); };

  // In table order; the first matching name wins.
  if (n == "L" || n == "h" || n == "version" || n == "formats" || n == "codecs" || n == "bsfs" ||
      n == "protocols" || n == "filters")
    LogDoNothing(this, n);
  else if (n == "loglevel")
    FFLogger().OptLogLevel(v);
  else if (n == "f")
    set_output_format(v);
  else if (n == "i" || n == "y")
    LogDoNothing(this, n);
  else if (n == "map")
    map_option(v);
  else if (n == "map_meta_data")
    map_meta_data_option(v);
  else if (n == "map_chapters")
    map_chapters_option(v);
  else if (n == "t") {
    Frecording_time = parse_time_option(n, v, true);
    FTotalOutputDuration = Frecording_time;
  } else if (n == "fs")
    Flimit_filesize = StrToInt64(v);
  else if (n == "ss")
    Fstart_time = parse_time_option(n, v, true);
  else if (n == "itsoffset")
    Finput_ts_offset = parse_time_option(n, v, true);
  else if (n == "itsscale")
    itsscale_option(v);
  else if (n == "timestamp")
    Frecording_timestamp = std::llround(static_cast<double>(parse_time_option(n, v, false)) / 1000000.0);
  else if (n == "metadata")
    metadata_option(v);
  else if (n == "dframes")
    integer(Fmax_frames[AVMEDIA_TYPE_DATA]);
  else if (n == "benchmark")
    LogDoNothing(this, n);
  else if (n == "timelimit")
    FFLogger().Log(this, llWarning, "Warning: -timelimit not implemented on Windows");
  else if (n == "dump")
    flag(Fdo_pkt_dump);
  else if (n == "hex")
    flag(Fdo_hex_dump);
  else if (n == "re")
    flag(Frate_emu);
  else if (n == "loop_input")
    flag(Floop_input);
  else if (n == "loop_output")
    integer(Floop_output);
  else if (n == "v")
    integer(Fverbose);
  else if (n == "target") {
    std::string target = Trim(v), norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
      const std::string p(prefix);
      if (target.compare(0, p.size(), p) == 0) {
        norm = p.substr(0, p.size() - 1);
        target.erase(0, p.size());
        break;
      }
    }
    set_target(target, norm, "ntsc");
  } else if (n == "threads") {
    integer(Fthread_count);
    if (Fverbose >= 0)
      FFLogger().Log(this, llVerbose,
                     "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
                     "using thread emulation.");
  } else if (n == "vsync")
    integer(Fvideo_sync_method);
  else if (n == "async")
    integer(Faudio_sync_method);
  else if (n == "adrift_threshold")
    decimal(Faudio_drift_threshold);
  else if (n == "vglobal")
    integer(Fvideo_global_header);
  else if (n == "copyts")
    flag(Fcopy_ts);
  else if (n == "copytb")
    flag(Fcopy_tb);
  else if (n == "shortest")
    flag(Fopt_shortest);
  else if (n == "dts_delta_threshold")
    decimal(Fdts_delta_threshold);
  else if (n == "programid")
    integer(Fopt_programid);
  else if (n == "xerror")
    flag(Fexit_on_error);
  else if (n == "copyinkf")
    integer(Fcopy_initial_nonkeyframes);
  else if (n == "b" || n == "vb")
    bit_rate_option(n, v);
  else if (n == "vframes")
    integer(Fmax_frames[AVMEDIA_TYPE_VIDEO]);
  else if (n == "r")
    set_frame_rate(v);
  else if (n == "s")
    set_frame_size(v);
  else if (n == "aspect")
    set_frame_aspect_ratio(v);
  else if (n == "pix_fmt") {
    if (v == "list")
      list_pixel_formats();
    else {
      const AVPixelFormat fmt = avutil.av_get_pix_fmt(v.c_str());
      if (fmt == AV_PIX_FMT_NONE) throw FFmpegException(Format("Unknown pixel format requested: %s", v.c_str()));
      Fframe_pix_fmt = fmt;
    }
  } else if (n == "croptop" || n == "cropbottom" || n == "cropleft" || n == "cropright")
    throw FFmpegException("Removed, use the crop filter instead");
  else if (n == "padtop" || n == "padbottom" || n == "padleft" || n == "padright" || n == "padcolor")
    throw FFmpegException("Removed, use the pad filter instead");
  else if (n == "intra")
    flag(Fintra_only);
  else if (n == "vn")
    flag(Fvideo_disable);
  else if (n == "vdt")
    integer(Fvideo_discard);
  else if (n == "qscale") {
    const float q = static_cast<float>(StrToFloat(v));
    if (!(q > 0.0f && q <= 255.0f)) throw FFmpegException("qscale must be > 0.0 and <= 255");
    Fvideo_qscale = q;
  } else if (n == "rc_override")
    Fvideo_rc_override_string = v;
  else if (n == "vcodec")
    set_stream_codec(AVMEDIA_TYPE_VIDEO, v);
  else if (n == "me_threshold")
    integer(Fme_threshold);
  else if (n == "sameq")
    flag(Fsame_quality);
  else if (n == "pass") {
    const int pass = StrToInt(v);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    Fdo_pass = pass;
  } else if (n == "passlogfile")
    Fpass_logfilename_prefix = v;
  else if (n == "deinterlace")
    flag(Fdo_deinterlace);
  else if (n == "psnr")
    flag(Fdo_psnr);
  else if (n == "vstats")
    vstats_option(StrToBool(v));
  else if (n == "vstats_file")
    Fvstats_filename = v;
  else if (n == "vhook")
    vhook_option(v);
  else if (n == "vfilters" || n == "vf")
    set_video_filters(v);
  else if (n == "intra_matrix")
    matrix_option(Fintra_matrix, v);
  else if (n == "inter_matrix")
    matrix_option(Finter_matrix, v);
  else if (n == "top")
    integer(Ftop_field_first);
  else if (n == "dc")
    integer(Fintra_dc_precision);
  else if (n == "vtag")
    set_codec_tag(AVMEDIA_TYPE_VIDEO, v);
  else if (n == "newvideo")
    new_stream_option(AVMEDIA_TYPE_VIDEO);
  else if (n == "vlang")
    Fvideo_language = v;
  else if (n == "qphist")
    flag(Fqp_hist);
  else if (n == "force_fps")
    flag(Fforce_fps);
  else if (n == "streamid")
    streamid_option(n, v);
  else if (n == "force_key_frames")
    Fforced_key_frames = v;
  else if (n == "ab")
    bit_rate_option(n, v);
  else if (n == "aframes")
    integer(Fmax_frames[AVMEDIA_TYPE_AUDIO]);
  else if (n == "aq")
    decimal(Faudio_qscale);
  else if (n == "ar") {
    const int rate = StrToInt(v);
    if (rate > 0) Faudio_sample_rate = rate;
  } else if (n == "ac") {
    const int channels = StrToInt(v);
    if (channels > 0) Faudio_channels = channels;
  } else if (n == "an")
    flag(Faudio_disable);
  else if (n == "acodec")
    set_stream_codec(AVMEDIA_TYPE_AUDIO, v);
  else if (n == "atag")
    set_codec_tag(AVMEDIA_TYPE_AUDIO, v);
  else if (n == "vol")
    integer(Faudio_volume);
  else if (n == "newaudio")
    new_stream_option(AVMEDIA_TYPE_AUDIO);
  else if (n == "alang")
    Faudio_language = v;
  else if (n == "sample_fmt") {
    if (v == "list")
      list_sample_formats();
    else {
      const AVSampleFormat fmt = avutil.av_get_sample_fmt(v.c_str());
      if (fmt == AV_SAMPLE_FMT_NONE) throw FFmpegException(Format("Invalid sample format \"%s\"", v.c_str()));
      Faudio_sample_fmt = fmt;
    }
  } else if (n == "sn")
    flag(Fsubtitle_disable);
  else if (n == "scodec")
    set_stream_codec(AVMEDIA_TYPE_SUBTITLE, v);
  else if (n == "newsubtitle")
    new_stream_option(AVMEDIA_TYPE_SUBTITLE);
  else if (n == "slang")
    Fsubtitle_language = v;
  else if (n == "stag")
    set_codec_tag(AVMEDIA_TYPE_SUBTITLE, v);
  else if (n == "vc")
    integer(Fvideo_channel);
  else if (n == "tvstd")
    Fvideo_standard = v;
  else if (n == "isync")
    flag(Finput_sync);
  else if (n == "muxdelay")
    decimal(Fmux_max_delay);
  else if (n == "muxpreload")
    decimal(Fmux_preload);
  else if (n == "absf" || n == "vbsf" || n == "sbsf")
    bitstream_filter_option(n, v);
  else if (n == "apre" || n == "vpre" || n == "spre" || n == "fpre")
    apply_preset(n, v);
  else if (!set_library_option(n, v) && HaltOnInvalidOption)
    throw FFmpegException(LastOptionError());
}

std::span<const char* const> ExtOptionNames() {
  static constexpr const char* kNames[] = {
      "L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "loglevel", "f", "i", "y",
      "map", "map_meta_data", "map_chapters", "t", "fs", "ss", "itsoffset", "itsscale", "timestamp",
      "metadata", "dframes", "benchmark", "timelimit", "dump", "hex", "re", "loop_input", "loop_output", "v",
      "target", "threads", "vsync", "async", "adrift_threshold", "vglobal", "copyts", "copytb", "shortest",
      "dts_delta_threshold", "programid", "xerror", "copyinkf", "b", "vb", "vframes", "r", "s", "aspect",
      "pix_fmt", "croptop", "cropbottom", "cropleft", "cropright", "padtop", "padbottom", "padleft",
      "padright", "padcolor", "intra", "vn", "vdt", "qscale", "rc_override", "vcodec", "me_threshold",
      "sameq", "pass", "passlogfile", "deinterlace", "psnr", "vstats", "vstats_file", "vhook", "vfilters",
      "vf", "intra_matrix", "inter_matrix", "top", "dc", "vtag", "newvideo", "vlang", "qphist", "force_fps",
      "streamid", "force_key_frames", "ab", "aframes", "aq", "ar", "ac", "an", "acodec", "atag", "vol",
      "newaudio", "alang", "sample_fmt", "sn", "scodec", "newsubtitle", "slang", "stag", "vc", "tvstd",
      "isync", "muxdelay", "muxpreload", "absf", "vbsf", "sbsf", "apre", "vpre", "spre", "fpre"};
  return kNames;
}

// --- value rules ---

int64_t TCustomFFmpeg::parse_time_option(const std::string& AOptionName, const std::string& AText,
                                         bool AIsDuration) {
  int64_t us = 0;
  if (avutil.av_parse_time(&us, AText.c_str(), AIsDuration ? 1 : 0) < 0)
    throw FFmpegException(Format("Invalid %s specification for %s: %s", AIsDuration ? "duration" : "date",
                                 AOptionName.c_str(), AText.c_str()));
  return us;
}

void TCustomFFmpeg::set_stream_codec(AVMediaType AType, const std::string& AValue) {
  if (AValue.empty()) return;
  std::string* name = &Faudio_codec_name;
  int* copy = &Faudio_stream_copy;
  if (AType == AVMEDIA_TYPE_VIDEO) {
    name = &Fvideo_codec_name;
    copy = &Fvideo_stream_copy;
  } else if (AType == AVMEDIA_TYPE_SUBTITLE) {
    name = &Fsubtitle_codec_name;
    copy = &Fsubtitle_stream_copy;
  }
  name->clear();
  if (AValue == "copy")
    *copy = 1;
  else
    *name = AValue;
}

void TCustomFFmpeg::set_codec_tag(AVMediaType AType, const std::string& AValue) {
  if (AValue.empty()) return;
  uint32_t tag = 0;
  int number = 0;
  if (TryStrToInt(AValue, number))
    tag = static_cast<uint32_t>(number);
  else if (AValue.size() == 4)
    tag = static_cast<uint32_t>(static_cast<uint8_t>(AValue[0])) |
          static_cast<uint32_t>(static_cast<uint8_t>(AValue[1])) << 8 |
          static_cast<uint32_t>(static_cast<uint8_t>(AValue[2])) << 16 |
          static_cast<uint32_t>(static_cast<uint8_t>(AValue[3])) << 24;
  else
    throw FFmpegException("tag parameter must be 4 chars or int value");
  if (AType == AVMEDIA_TYPE_VIDEO)
    Fvideo_codec_tag = tag;
  else if (AType == AVMEDIA_TYPE_SUBTITLE)
    Fsubtitle_codec_tag = tag;
  else
    Faudio_codec_tag = tag;
}

void TCustomFFmpeg::set_frame_rate(const std::string& AValue) {
  if (AValue.empty()) return;
  AVRational rate{};
  if (avutil.av_parse_video_rate(&rate, AValue.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
  Fframe_rate = rate;
}

void TCustomFFmpeg::set_frame_size(const std::string& AValue) {
  if (AValue.empty()) return;
  int width = 0, height = 0;
  if (avutil.av_parse_video_size(&width, &height, AValue.c_str()) < 0)
    throw FFmpegException("Incorrect frame size");
  Fframe_width = width;
  Fframe_height = height;
}

void TCustomFFmpeg::set_frame_aspect_ratio(const std::string& AValue) {
  double ratio = 0;
  const size_t colon = AValue.find(':');
  if (colon != std::string::npos) {
    int x = 0, y = 0;
    if (!TryStrToInt(AValue.substr(0, colon), x)) x = 0;
    if (!TryStrToInt(AValue.substr(colon + 1), y)) y = 0;
    ratio = y > 0 ? static_cast<double>(x) / y : 0;
  } else if (!TryStrToFloat(AValue, ratio))
    ratio = 0;
  if (ratio == 0) throw FFmpegException("Incorrect aspect ratio specification.");
  Fframe_aspect_ratio = static_cast<float>(ratio);
}

void TCustomFFmpeg::set_video_filters(const std::string& AValue) {
  if (!AValue.empty()) Fvfilters = AValue;
}

void TCustomFFmpeg::bit_rate_option(const std::string& AName, const std::string& AValue) {
  if (!set_library_option(AName, AValue)) {
    if (HaltOnInvalidOption) throw FFmpegException(LastOptionError());
    return;
  }
  AVCodecContext* ctx = FOptions->CodecOptions(AName[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
  int64_t bitRate = 0;
  if (avutil.av_opt_get_int(ctx, "b", 0, &bitRate) >= 0 && bitRate < 1000)
    FFLogger().Log(this, llWarning,
                   "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::metadata_option(const std::string& AValue) {
  const size_t eq = AValue.find('=');
  if (eq == std::string::npos) throw FFmpegException("Missing =");
  if (eq == 0) throw FFmpegException("wrong parameter of metadata");
  avutil.av_dict_set(Fmetadata.Address(), AValue.substr(0, eq).c_str(), AValue.substr(eq + 1).c_str(), 0);
}

void TCustomFFmpeg::map_option(const std::string& AValue) {
  TAVStreamMap map;
  const char* p = AValue.c_str();
  map.file_index = ReadNumber(p);
  SkipSeparator(p);
  map.stream_index = ReadNumber(p);
  if (*p) {
    SkipSeparator(p);
    map.sync_file_index = ReadNumber(p);
    SkipSeparator(p);
    map.sync_stream_index = ReadNumber(p);
  } else {
    map.sync_file_index = map.file_index;
    map.sync_stream_index = map.stream_index;
  }
  grow_table(Fstream_maps, static_cast<int64_t>(Fstream_maps.size()) + 1);
  Fstream_maps.back() = map;
}

void TCustomFFmpeg::map_meta_data_option(const std::string& AValue) {
  TAVMetaDataMapPair pair{};
  const char* p = AValue.c_str();
  for (int side = 0; side < 2; ++side) {
    TAVMetaDataMap& m = pair[side];
    if (side == 1) SkipSeparator(p);
    m.file_idx = ReadNumber(p);
    m.type_ = 'g';
    if (*p == ',') {
      ++p;
      const char type = *p;
      switch (type) {
        case 'g':
          ++p;
          break;
        case 's':
        case 'c':
        case 'p':
          m.type_ = type;
          ++p;
          m.index = ReadNumber(p);
          break;
        default:
          throw FFmpegException(Format("Invalid metadata type %s.", std::string(type ? 1 : 0, type).c_str()));
      }
    }
  }
  grow_table(Fmeta_data_maps, static_cast<int64_t>(Fmeta_data_maps.size()) + 1);
  Fmeta_data_maps.back() = pair;
  for (const TAVMetaDataMap& m : pair) {
    if (m.type_ == 'g') Fmetadata_global_autocopy = 0;
    if (m.type_ == 's') Fmetadata_streams_autocopy = 0;
    if (m.type_ == 'c') Fmetadata_chapters_autocopy = 0;
  }
}

void TCustomFFmpeg::map_chapters_option(const std::string& AValue) {
  TAVChapterMap map;
  const char* p = AValue.c_str();
  map.out_file = ReadNumber(p);
  SkipSeparator(p);
  map.in_file = ReadNumber(p);
  grow_table(Fchapter_maps, static_cast<int64_t>(Fchapter_maps.size()) + 1);
  Fchapter_maps.back() = map;
}

void TCustomFFmpeg::streamid_option(const std::string& AName, const std::string& AValue) {
  const size_t colon = AValue.find(':');
  int index = 0, id = 0;
  // A negative index would name no stream at all.
  if (colon == std::string::npos || !TryStrToInt(AValue.substr(0, colon), index) ||
      !TryStrToInt(AValue.substr(colon + 1), id) || index < 0)
    throw FFmpegException(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                                 AValue.c_str(), AName.c_str()));
  grow_table(Fstreamid_map, static_cast<int64_t>(index) + 1);
  Fstreamid_map[static_cast<size_t>(index)] = id;
}

void TCustomFFmpeg::bitstream_filter_option(const std::string& AName, const std::string& AValue) {
  if (AValue.empty() || AValue[0] == '=') return;
  const size_t eq = AValue.find('=');
  const std::string name = eq == std::string::npos ? AValue : AValue.substr(0, eq);
  const AVBitStreamFilter* filter = avcodec.av_bsf_get_by_name(name.c_str());
  if (!filter) throw FFmpegException(Format("Unknown bitstream filter %s", Trim(AValue).c_str()));
  AVBSFContext* ctx = nullptr;
  if (avcodec.av_bsf_alloc(filter, &ctx) < 0) throw FFmpegException("Could not alloc buffer.");
  TBitstreamFilter entry{TBsfPtr(ctx), eq == std::string::npos ? std::string() : AValue.substr(eq + 1)};
  TBitstreamFilterChain& chain = AName[0] == 'a'   ? Faudio_bitstream_filters
                                 : AName[0] == 'v' ? Fvideo_bitstream_filters
                                                   : Fsubtitle_bitstream_filters;
  chain.push_back(std::move(entry));
}

void TCustomFFmpeg::matrix_option(std::vector<uint16_t>& AMatrix, const std::string& AValue) {
  AMatrix.assign(64, 0);
  const char* p = AValue.c_str();
  for (int i = 0; i < 64; ++i) {
    AMatrix[static_cast<size_t>(i)] = static_cast<uint16_t>(std::atoi(p));
    const char* comma = std::strchr(p, ',');
    if (!comma) {
      if (i < 63)
        throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", AValue.c_str(), i));
      break;
    }
    p = comma + 1;
  }
}

void TCustomFFmpeg::itsscale_option(const std::string& AValue) {
  const char* p = AValue.c_str();
  char* end = nullptr;
  const long index = std::strtol(p, &end, 10);
  p = end;
  SkipSeparator(p);
  const double scale = StrToFloat(p);
  // A negative index would write before the array.
  if (index >= kMaxStreams || index < 0)
    throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", kMaxStreams));
  if (Fnb_input_files >= FMaxFiles) throw FFmpegException(Format("max input files %d reached", FMaxFiles));
  std::vector<double>& scales = Finput_files[static_cast<size_t>(Fnb_input_files)].ts_scale;
  grow_table(scales, index + 1);
  scales[static_cast<size_t>(index)] = scale;
}

void TCustomFFmpeg::vhook_option(const std::string& AValue) {
  const char* separators = AValue.find('|') != std::string::npos ? "|" : " ";
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < AValue.size() && words.size() < 254) {
    const size_t start = AValue.find_first_not_of(separators, pos);
    if (start == std::string::npos) break;
    const size_t stop = AValue.find_first_of(separators, start);
    words.push_back(AValue.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    pos = stop == std::string::npos ? AValue.size() : stop;
  }
  if (FFirstHook.Add(words) != 0) throw FFmpegException("Failed to add video hook function: " + AValue);
  Fusing_vhook = true;
}

void TCustomFFmpeg::vstats_option(bool AOn) {
  Fvstats_filename.clear();
  if (!AOn) return;
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::snprintf(stamp, sizeof(stamp), "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
  Fvstats_filename = (error ? std::string(".") : exe.parent_path().string()) + "/vstats_" + stamp + ".log";
}

void TCustomFFmpeg::list_sample_formats() {
  char line[128];
  for (int fmt = -1; fmt < AV_SAMPLE_FMT_NB; ++fmt) {
    line[0] = '\0';
    avutil.av_get_sample_fmt_string(line, sizeof(line), static_cast<AVSampleFormat>(fmt));
    FFLogger().Log(this, llInfo, Trim(line));
  }
}

void TCustomFFmpeg::list_pixel_formats() {
  char line[128];
  for (int fmt = -1; fmt < AV_PIX_FMT_NB; ++fmt) {
    if (fmt >= 0 && !avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(fmt))) continue;
    line[0] = '\0';
    avutil.av_get_pix_fmt_string(line, sizeof(line), static_cast<AVPixelFormat>(fmt));
    FFLogger().Log(this, llInfo, Trim(line));
  }
}

void TCustomFFmpeg::new_stream_option(AVMediaType AType) {
  if (Fnb_output_files <= 0) throw FFmpegException("At least one output file must be specified");
  const int slot = Fnb_output_files - 1;
  AVFormatContext* ctx = Foutput_files[static_cast<size_t>(slot)].ctx;
  if (AType == AVMEDIA_TYPE_AUDIO)
    new_audio_stream(ctx, slot);
  else if (AType == AVMEDIA_TYPE_VIDEO)
    new_video_stream(ctx, slot);
  else
    new_subtitle_stream(ctx, slot);
}

bool TCustomFFmpeg::find_codec_by_name(const std::string& AName, AVMediaType AType, bool AEncoder,
                                       int64_t AStrictness, AVCodecID& AId) {
  AId = AV_CODEC_ID_NONE;
  if (AName.empty()) return true;
  const char* kind = AEncoder ? "encoder" : "decoder";
  const AVCodec* codec = AEncoder ? avcodec.avcodec_find_encoder_by_name(AName.c_str())
                                  : avcodec.avcodec_find_decoder_by_name(AName.c_str());
  if (!codec) {
    FLastErrMsg = Format("Unknown %s '%s'", kind, AName.c_str());
    return false;
  }
  if (codec->type != AType) {
    FLastErrMsg = Format("Invalid %s type '%s'", kind, AName.c_str());
    return false;
  }
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && AStrictness > FF_COMPLIANCE_EXPERIMENTAL) {
    FLastErrMsg = Format(
        "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you want to use it.",
        kind, codec->name);
    const AVCodec* other = AEncoder ? avcodec.avcodec_find_encoder(codec->id) : avcodec.avcodec_find_decoder(codec->id);
    if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      FLastErrMsg += "\r\n" + Format("Or use the non experimental %s '%s'.", kind, other->name);
    return false;
  }
  AId = codec->id;
  return true;
}

}  // namespace quorvel
