// Presets (built-in x264 texts and preset files) and the video CD / DVD
// targets: both set whole groups of options through the option store.
#include <cmath>
#include <fstream>
#include <iterator>
#include <strings.h>
#include <sys/stat.h>

#include "media/engine/BuiltinPresets.h"
#include "media/engine/CustomFFmpeg.h"
#include "media/engine/NumberText.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

namespace quorvel {

void TCustomFFmpeg::apply_preset(const std::string& AOptionName, const std::string& AValue) {
  if (AOptionName.empty() || AValue.empty()) return;

  std::string presetName = AValue;
  const char* text = nullptr;
  if (AOptionName != "fpre") {
    const std::string& codecName = AOptionName == "apre"   ? Faudio_codec_name
                                   : AOptionName == "vpre" ? Fvideo_codec_name
                                                           : Fsubtitle_codec_name;
    const TOptionsPreset* preset = FindBuiltinPreset(AValue);
    if (!preset && !codecName.empty()) preset = FindBuiltinPreset(codecName + "-" + AValue);
    if (preset) {
      text = preset->Value;
      presetName = preset->Name;
    }
  }

  std::string content;
  if (text)
    content = text;
  else {
    struct stat info {};
    if (::stat(AValue.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
      throw FFmpegException(Format("Preset \"%s\" not found", AValue.c_str()));
    std::ifstream in(AValue, std::ios::binary);
    if (!in) throw FFmpegException(Format("Preset \"%s\" not found", AValue.c_str()));
    content.assign(std::istreambuf_iterator<char>(in), {});
  }

  // Any line break (CR LF, CR, LF) ends a line.
  content = Trim(content);
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = content.size();
    const std::string line = Trim(content.substr(pos, end - pos));
    pos = end + 1;
    if (end < content.size() && content[end] == '\r' && pos < content.size() && content[pos] == '\n') ++pos;
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= line.size())
      throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str()));
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (strcasecmp(key.c_str(), "acodec") == 0)
      set_stream_codec(AVMEDIA_TYPE_AUDIO, value);
    else if (strcasecmp(key.c_str(), "vcodec") == 0)
      set_stream_codec(AVMEDIA_TYPE_VIDEO, value);
    else if (strcasecmp(key.c_str(), "scodec") == 0)
      set_stream_codec(AVMEDIA_TYPE_SUBTITLE, value);
    else if (!set_library_option(key, value) && HaltOnInvalidOption)
      throw FFmpegException(Format("%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                   LastOptionError().c_str(), presetName.c_str(), line.c_str(), key.c_str(),
                                   value.c_str()));
  }
}

namespace {

enum TNorm { nmPAL, nmNTSC, nmFILM, nmUnknown };

TNorm NormOfRate(int64_t AMilliHz) {
  if (AMilliHz == 25000) return nmPAL;
  if (AMilliHz == 29970 || AMilliHz == 23976) return nmNTSC;
  return nmUnknown;
}

}  // namespace

void TCustomFFmpeg::set_target(const std::string& ATarget, const std::string& ANorm,
                               const std::string& AFallbackNorm) {
  TNorm norm = nmUnknown;
  if (strcasecmp(ANorm.c_str(), "pal") == 0)
    norm = nmPAL;
  else if (strcasecmp(ANorm.c_str(), "ntsc") == 0)
    norm = nmNTSC;
  else if (strcasecmp(ANorm.c_str(), "film") == 0)
    norm = nmFILM;

  if (norm == nmUnknown) {
    if (Fframe_rate.den == 0) throw FFmpegException("frame_rate is invalid.");
    norm = NormOfRate(std::llround(static_cast<double>(Fframe_rate.num) * 1000.0 / Fframe_rate.den));
    for (int i = 0; i < Fnb_input_files && norm == nmUnknown; ++i) {
      const AVFormatContext* ic = Finput_files[static_cast<size_t>(i)].ctx.get();
      for (unsigned j = 0; j < ic->nb_streams && norm == nmUnknown; ++j) {
        const AVStream* st = ic->streams[j];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        // The stream's frame rate is the inverse of the old codec time base.
        const AVRational rate = st->r_frame_rate;
        if (rate.den > 0) norm = NormOfRate(std::llround(static_cast<double>(rate.num) * 1000.0 / rate.den));
      }
    }
    if (norm == nmUnknown) {
      if (strcasecmp(AFallbackNorm.c_str(), "film") == 0)
        norm = nmFILM;
      else if (strcasecmp(AFallbackNorm.c_str(), "ntsc") == 0)
        norm = nmNTSC;
      else
        norm = nmPAL;
    }
    if (Fverbose > 0) FFLogger().Log(this, llVerbose, "Assuming %s for target.", norm == nmPAL ? "PAL" : "NTSC");
  }

  const char* rate = norm == nmPAL ? "25" : norm == nmNTSC ? "30000/1001" : "24000/1001";
  const char* gop = norm == nmPAL ? "15" : "18";
  const auto size = [&](const char* APal, const char* AOther) { set_frame_size(norm == nmPAL ? APal : AOther); };
  // Target options are best effort: an option today's libraries lack is
  // skipped, the rest still applies.
  const auto lib = [&](const char* AName, const char* AValue) { set_library_option(AName, AValue); };
  const auto aspect = [&](const char* AText, const char* ALog) {
    if (Fframe_aspect_ratio == 0) {
      FFLogger().Log(this, llInfo, ALog);
      set_frame_aspect_ratio(AText);
    }
  };

  if (ATarget == "vcd") {
    set_stream_codec(AVMEDIA_TYPE_VIDEO, "mpeg1video");
    set_stream_codec(AVMEDIA_TYPE_AUDIO, "mp2");
    set_output_format("vcd");
    size("352x288", "352x240");
    set_frame_rate(rate);
    lib("g", gop);
    lib("b", "1150000");
    lib("maxrate", "1150000");
    lib("minrate", "1150000");
    lib("bufsize", "327680");
    lib("ab", "224000");
    lib("packetsize", "2324");
    lib("muxrate", "1411200");
    Faudio_sample_rate = 44100;
    Faudio_channels = 2;
    Fmux_preload = 0.44f;
    aspect("4:3", "Assuming 4:3 for aspect ratio");
  } else if (ATarget == "svcd") {
    set_stream_codec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    set_stream_codec(AVMEDIA_TYPE_AUDIO, "mp2");
    set_output_format("svcd");
    size("480x576", "480x480");
    set_frame_rate(rate);
    lib("g", gop);
    lib("b", "2040000");
    lib("maxrate", "2516000");
    lib("minrate", "0");
    lib("bufsize", "1835008");
    lib("flags", "+scan_offset");
    lib("ab", "224000");
    lib("packetsize", "2324");
    Faudio_sample_rate = 44100;
    if (Faudio_channels == 1) Faudio_channels = 2;
    aspect("4:3", "Assuming 4:3 for aspect ratio");
  } else if (ATarget == "dvd") {
    set_stream_codec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    set_stream_codec(AVMEDIA_TYPE_AUDIO, "ac3");
    set_output_format("dvd");
    size("720x576", "720x480");
    set_frame_rate(rate);
    lib("g", gop);
    lib("b", "6000000");
    lib("maxrate", "9000000");
    lib("minrate", "0");
    lib("bufsize", "1835008");
    lib("packetsize", "2048");
    lib("muxrate", "10080000");
    lib("ab", "448000");
    Faudio_sample_rate = 48000;
    if (Faudio_channels == 1) Faudio_channels = 2;
    aspect("16:9", "Assuming 16:9 for aspect ratio");
  } else if (ATarget == "dv" || ATarget == "dv50") {
    set_output_format("dv");
    size("720x576", "720x480");
    set_frame_rate(rate);
    Fframe_pix_fmt = ATarget == "dv50" ? AV_PIX_FMT_YUV422P : norm == nmPAL ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
    Faudio_sample_rate = 48000;
    Faudio_channels = 2;
  } else
    throw FFmpegException("Unknown target type");
}

}  // namespace quorvel
