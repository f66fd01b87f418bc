// The job's option table: every value form, every error text, and the
// fall-through to the option store.
#include <cmath>
#include <functional>
#include <set>

#include "EngineTestSupport.h"
#include "media/engine/ExtOptionNames.h"
#include "media/runtime/Exception.h"

namespace quorvel {
namespace {

using test::TLogCapture;

class ExtOptionsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override { job = std::make_unique<TCustomFFmpeg>(4); }

  std::string ErrorOf(const std::string& AName, const std::string& AValue) {
    return test::OptionError(*job, AName, AValue);
  }

  const TEngineSettings& S() const { return job->Settings(); }
  std::unique_ptr<TCustomFFmpeg> job;
};

struct ValueCase {
  const char* name;
  const char* value;
  std::function<bool(const TEngineSettings&)> holds;
};

TEST_F(ExtOptionsTest, ValueFormsAreReadIntoTheirSettings) {
  const ValueCase cases[] = {
      // integers: decimal, "$" and "0x" hexadecimal, signs, leading blanks
      {"threads", "12", [](auto& s) { return s.Fthread_count == 12; }},
      {"threads", "$1F", [](auto& s) { return s.Fthread_count == 31; }},
      {"threads", "0x10", [](auto& s) { return s.Fthread_count == 16; }},
      {"top", "-1", [](auto& s) { return s.Ftop_field_first == -1; }},
      {"vol", " +512", [](auto& s) { return s.Faudio_volume == 512; }},
      {"vol", "-256", [](auto& s) { return s.Faudio_volume == -256; }},
      {"fs", "5000000000", [](auto& s) { return s.Flimit_filesize == 5000000000LL; }},
      {"vframes", "100", [](auto& s) { return s.Fmax_frames[0] == 100; }},
      {"aframes", "200", [](auto& s) { return s.Fmax_frames[1] == 200; }},
      {"dframes", "300", [](auto& s) { return s.Fmax_frames[2] == 300; }},
      {"pass", "2", [](auto& s) { return s.Fdo_pass == 2; }},
      // "ar" and "ac" keep their value unless the new one is positive
      {"ar", "22050", [](auto& s) { return s.Faudio_sample_rate == 22050; }},
      {"ar", "0", [](auto& s) { return s.Faudio_sample_rate == 22050; }},
      {"ac", "-1", [](auto& s) { return s.Faudio_channels == 2; }},
      {"ac", "6", [](auto& s) { return s.Faudio_channels == 6; }},
      // decimals (the C locale's separator is ".")
      {"muxdelay", "1.5", [](auto& s) { return s.Fmux_max_delay == 1.5f; }},
      {"muxpreload", "-2", [](auto& s) { return s.Fmux_preload == -2.0f; }},
      {"aq", "4e1", [](auto& s) { return s.Faudio_qscale == 40.0f; }},
      {"qscale", "255", [](auto& s) { return s.Fvideo_qscale == 255.0f; }},
      {"adrift_threshold", " 0.25 ", [](auto& s) { return s.Faudio_drift_threshold == 0.25f; }},
      // Booleans: only "0" is false
      {"an", "", [](auto& s) { return s.Faudio_disable; }},
      {"an", "no", [](auto& s) { return s.Faudio_disable; }},
      {"an", "0", [](auto& s) { return !s.Faudio_disable; }},
      {"shortest", "1", [](auto& s) { return s.Fopt_shortest; }},
      // times
      {"ss", "00:01:00", [](auto& s) { return s.Fstart_time == 60000000; }},
      {"ss", "1.5", [](auto& s) { return s.Fstart_time == 1500000; }},
      {"itsoffset", "-2", [](auto& s) { return s.Finput_ts_offset == -2000000; }},
      {"timestamp", "1970-01-01 00:01:40.6Z", [](auto& s) { return s.Frecording_timestamp == 101; }},
      // texts
      {"f", "wav", [](auto& s) { return s.Flast_asked_format == "wav"; }},
      {"f", "", [](auto& s) { return s.Flast_asked_format == "wav"; }},
      {"alang", "eng", [](auto& s) { return s.Faudio_language == "eng"; }},
      {"vf", "", [](auto& s) { return s.Fvfilters.empty(); }},
      {"vfilters", "scale=320:240", [](auto& s) { return s.Fvfilters == "scale=320:240"; }},
      // codecs: "copy" is a flag, not a name
      {"acodec", "libmp3lame", [](auto& s) { return s.Faudio_codec_name == "libmp3lame"; }},
      {"acodec", "copy", [](auto& s) { return s.Faudio_stream_copy == 1 && s.Faudio_codec_name.empty(); }},
      {"vcodec", "", [](auto& s) { return s.Fvideo_codec_name.empty() && s.Fvideo_stream_copy == 0; }},
      // tags: an integer or four characters, first one in the lowest byte
      {"atag", "$55", [](auto& s) { return s.Faudio_codec_tag == 0x55; }},
      {"atag", "mp4a", [](auto& s) { return s.Faudio_codec_tag == MKTAG('m', 'p', '4', 'a'); }},
      {"vtag", "", [](auto& s) { return s.Fvideo_codec_tag == 0; }},
      // picture settings
      {"r", "30000/1001", [](auto& s) { return s.Fframe_rate.num == 30000 && s.Fframe_rate.den == 1001; }},
      {"r", "pal", [](auto& s) { return s.Fframe_rate.num == 25 && s.Fframe_rate.den == 1; }},
      {"s", "vga", [](auto& s) { return s.Fframe_width == 640 && s.Fframe_height == 480; }},
      {"aspect", "16:9", [](auto& s) { return std::fabs(s.Fframe_aspect_ratio - 16.0f / 9) < 1e-6; }},
      {"aspect", "1.5", [](auto& s) { return s.Fframe_aspect_ratio == 1.5f; }},
      {"pix_fmt", "yuv420p", [](auto& s) { return s.Fframe_pix_fmt == AV_PIX_FMT_YUV420P; }},
      {"sample_fmt", "s16", [](auto& s) { return s.Faudio_sample_fmt == AV_SAMPLE_FMT_S16; }},
      // maps: base prefixes, any separator, the sync pair defaults to the pair
      {"map", "1.2", [](auto& s) {
         const TAVStreamMap& m = s.Fstream_maps.back();
         return m.file_index == 1 && m.stream_index == 2 && m.sync_file_index == 1 && m.sync_stream_index == 2;
       }},
      {"map", "0x1:3,2.0", [](auto& s) {
         const TAVStreamMap& m = s.Fstream_maps.back();
         return m.file_index == 1 && m.stream_index == 3 && m.sync_file_index == 2 && m.sync_stream_index == 0;
       }},
      // a lone number must not read past the text
      {"map", "4", [](auto& s) {
         const TAVStreamMap& m = s.Fstream_maps.back();
         return m.file_index == 4 && m.stream_index == 0 && m.sync_file_index == 4;
       }},
      {"map_chapters", "1:0", [](auto& s) {
         return s.Fchapter_maps.back().out_file == 1 && s.Fchapter_maps.back().in_file == 0;
       }},
      {"streamid", "2:33", [](auto& s) { return s.Fstreamid_map.size() == 3 && s.Fstreamid_map[2] == 33; }},
      {"metadata", "title=a=b", [](auto& s) {
         const AVDictionaryEntry* e = avutil.av_dict_get(s.Fmetadata.Get(), "title", nullptr, 0);
         return e && std::string(e->value) == "a=b";
       }},
      {"intra_matrix", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,"
                       "33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,53,54,55,56,57,58,59,60,61,"
                       "62,63,64,99",
       [](auto& s) { return s.Fintra_matrix.size() == 64 && s.Fintra_matrix[0] == 1 && s.Fintra_matrix[63] == 64; }},
      {"absf", "aac_adtstoasc", [](auto& s) { return s.Faudio_bitstream_filters.size() == 1; }},
      {"vbsf", "h264_mp4toannexb=x", [](auto& s) {
         return s.Fvideo_bitstream_filters.size() == 1 && s.Fvideo_bitstream_filters[0].Args == "x";
       }},
      {"sbsf", "=nothing", [](auto& s) { return s.Fsubtitle_bitstream_filters.empty(); }},
      {"vstats", "1", [](auto& s) {
         return s.Fvstats_filename.find("/vstats_") != std::string::npos &&
                s.Fvstats_filename.size() > 10 && s.Fvstats_filename.substr(s.Fvstats_filename.size() - 4) == ".log";
       }},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = \"" + c.value + "\"");
    ASSERT_EQ(ErrorOf(c.name, c.value), "");
    EXPECT_TRUE(c.holds(S()));
  }
}

TEST_F(ExtOptionsTest, MetaDataMapsClearTheAutoCopyOfTheKindsTheyName) {
  job->SetExtOption("map_meta_data", "1,s2:0,c3");
  const TAVMetaDataMapPair& pair = S().Fmeta_data_maps.back();
  EXPECT_EQ(pair[0].file_idx, 1);
  EXPECT_EQ(pair[0].type_, 's');
  EXPECT_EQ(pair[0].index, 2);
  EXPECT_EQ(pair[1].file_idx, 0);
  EXPECT_EQ(pair[1].type_, 'c');
  EXPECT_EQ(pair[1].index, 3);
  EXPECT_EQ(S().Fmetadata_streams_autocopy, 0);
  EXPECT_EQ(S().Fmetadata_chapters_autocopy, 0);
  EXPECT_EQ(S().Fmetadata_global_autocopy, 1);

  job->SetExtOption("map_meta_data", "0,g:1");
  EXPECT_EQ(S().Fmeta_data_maps.back()[0].type_, 'g');
  EXPECT_EQ(S().Fmeta_data_maps.back()[1].file_idx, 1);
  EXPECT_EQ(S().Fmetadata_global_autocopy, 0);
}

TEST_F(ExtOptionsTest, TimeOptionsSetTheExpectedOutputDuration) {
  EXPECT_EQ(job->TotalOutputDuration(), -1);
  job->SetExtOption("t", "10");
  EXPECT_EQ(S().Frecording_time, 10000000);
  EXPECT_EQ(job->TotalOutputDuration(), 10000000);
  job->set_recording_time(AV_NOPTS_VALUE);
  EXPECT_EQ(job->TotalOutputDuration(), 10000000);
  job->set_recording_time(5000000);
  EXPECT_EQ(S().Frecording_time, 5000000);
}

struct ErrorCase {
  const char* name;
  const char* value;
  const char* message;
};

TEST_F(ExtOptionsTest, EveryRejectedValueGivesItsText) {
  const ErrorCase cases[] = {
      {"threads", "12a", "''12a'' is not a valid integer value"},
      {"v", "", "'''' is not a valid integer value"},
      {"vol", "99999999999", "''99999999999'' is not a valid integer value"},
      {"fs", "1e3", "''1e3'' is not a valid integer value"},
      {"muxdelay", "1,5", "'1,5' is not a valid floating point value"},
      {"aq", "nan", "'nan' is not a valid floating point value"},
      {"ss", "abc", "Invalid duration specification for ss: abc"},
      {"t", "", "Invalid duration specification for t: "},
      {"timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
      {"croptop", "2", "Removed, use the crop filter instead"},
      {"cropright", "2", "Removed, use the crop filter instead"},
      {"padleft", "2", "Removed, use the pad filter instead"},
      {"padcolor", "000000", "Removed, use the pad filter instead"},
      {"r", "fast", "Incorrect frame rate"},
      {"s", "big", "Incorrect frame size"},
      {"aspect", "0", "Incorrect aspect ratio specification."},
      {"aspect", "4:0", "Incorrect aspect ratio specification."},
      {"aspect", "x:y", "Incorrect aspect ratio specification."},
      {"pix_fmt", "nope", "Unknown pixel format requested: nope"},
      {"sample_fmt", "nope", "Invalid sample format \"nope\""},
      {"qscale", "0", "qscale must be > 0.0 and <= 255"},
      {"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {"pass", "3", "pass number can be only 1 or 2"},
      {"metadata", "title", "Missing ="},
      {"metadata", "=x", "wrong parameter of metadata"},
      {"map_meta_data", "0,x:1", "Invalid metadata type x."},
      {"map_meta_data", "0:1,q", "Invalid metadata type q."},
      {"itsscale", "20:1.0", "stream index over MAX_STREAMS(20)"},
      {"itsscale", "-1:1.0", "stream index over MAX_STREAMS(20)"},
      {"streamid", "3", "Invalid value \"3\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "a:1", "Invalid value \"a:1\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "-1:1", "Invalid value \"-1:1\" for option \"streamid\", required syntax is \"index:value\""},
      {"streamid", "2147483647:1", "Array too big."},
      {"atag", "mp4", "tag parameter must be 4 chars or int value"},
      {"stag", "abcde", "tag parameter must be 4 chars or int value"},
      {"intra_matrix", "1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
      {"inter_matrix", "7", "Syntax error in matrix \"7\" at coeff 0"},
      {"vhook", "/nonexistent/hook.so|-x", "Failed to add video hook function: /nonexistent/hook.so|-x"},
      {"absf", " nosuchfilter ", "Unknown bitstream filter nosuchfilter"},
      {"newaudio", "", "At least one output file must be specified"},
      {"newvideo", "", "At least one output file must be specified"},
      {"newsubtitle", "", "At least one output file must be specified"},
      {"nosuchoption", "1", "Unrecognized option \"nosuchoption\""},
      {"ab", "loud", "Invalid value \"loud\" for option \"ab\""},
      {"b", "-5", "Invalid value \"-5\" for option \"b\""},
      {"loglevel", "chatty", "'chatty' is not a valid integer value"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = \"" + c.value + "\"");
    EXPECT_EQ(ErrorOf(c.name, c.value), c.message);
  }
}

TEST_F(ExtOptionsTest, ARejectedValueLeavesTheSettingAsItWas) {
  job->SetExtOption("qscale", "3");
  EXPECT_NE(ErrorOf("qscale", "300"), "");
  EXPECT_EQ(S().Fvideo_qscale, 3.0f);
  job->SetExtOption("pass", "1");
  EXPECT_NE(ErrorOf("pass", "0"), "");
  EXPECT_EQ(S().Fdo_pass, 1);
}

TEST_F(ExtOptionsTest, UnknownNamesAreDroppedWhenTheJobDoesNotHalt) {
  job->HaltOnInvalidOption = false;
  EXPECT_EQ(ErrorOf("nosuchoption", "1"), "");
  EXPECT_EQ(ErrorOf("ab", "loud"), "");
  EXPECT_EQ(job->Options()->Stored().size(), 0u);
  // Errors of the table's own rules do not depend on the flag.
  EXPECT_EQ(ErrorOf("pass", "3"), "pass number can be only 1 or 2");
}

TEST_F(ExtOptionsTest, NamesAreMatchedWithTheirLetterCase) {
  EXPECT_EQ(ErrorOf("AR", "22050"), "Unrecognized option \"AR\"");
  EXPECT_EQ(S().Faudio_sample_rate, 44100);
}

TEST_F(ExtOptionsTest, NoNameOfTheTableReachesTheOptionStore) {
  job->HaltOnInvalidOption = false;
  // The bit-rate names and the targets hand their values to the store on
  // purpose; the log level would change the collector for later tests.
  const std::set<std::string> storing = {"b", "vb", "ab", "target", "loglevel"};
  for (const char* name : ExtOptionNames()) {
    if (storing.count(name)) continue;
    SCOPED_TRACE(name);
    ErrorOf(name, "1");
  }
  EXPECT_EQ(job->Options()->Stored().size(), 0u);
}

TEST_F(ExtOptionsTest, InformativeOptionsOnlyLog) {
  TLogCapture log;
  for (const char* name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y",
                           "benchmark"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf(name, "whatever"), "");
    EXPECT_TRUE(log.Contains(std::string("Do nothing: option - ") + name, llInfo));
  }
  job->SetExtOption("timelimit", "10");
  EXPECT_TRUE(log.Contains("Warning: -timelimit not implemented on Windows", llWarning));
  job->SetExtOption("threads", "2");
  EXPECT_TRUE(log.Contains("Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
                           "using thread emulation.",
                           llVerbose));
}

TEST_F(ExtOptionsTest, ABitRateInKilobitsIsWarnedAbout) {
  TLogCapture log;
  job->SetExtOption("ab", "128");
  EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s",
                           llWarning));
  int64_t audio = 0, video = 0;
  avutil.av_opt_get_int(job->Options()->CodecOptions(AVMEDIA_TYPE_AUDIO), "b", 0, &audio);
  EXPECT_EQ(audio, 128);

  TLogCapture quiet;
  job->SetExtOption("vb", "2M");
  avutil.av_opt_get_int(job->Options()->CodecOptions(AVMEDIA_TYPE_VIDEO), "b", 0, &video);
  avutil.av_opt_get_int(job->Options()->CodecOptions(AVMEDIA_TYPE_AUDIO), "b", 0, &audio);
  EXPECT_EQ(video, 2000000);
  EXPECT_EQ(audio, 128);
  EXPECT_FALSE(quiet.Contains("WARNING: The bitrate", llWarning));
}

TEST_F(ExtOptionsTest, TheLogLevelOptionReachesTheCollector) {
  const TLogLevel before = FFLogger().LogLevel();
  job->SetExtOption("loglevel", "error");
  EXPECT_EQ(FFLogger().LogLevel(), llError);
  FFLogger().SetLogLevel(before);
}

TEST_F(ExtOptionsTest, ListsLogOneLinePerFormat) {
  TLogCapture log;
  job->SetExtOption("sample_fmt", "list");
  const std::vector<std::string> lines = log.Texts();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("name", 0), 0u) << lines.front();
  EXPECT_TRUE(log.Contains("fltp", llInfo));
  EXPECT_EQ(S().Faudio_sample_fmt, -1);

  TLogCapture pixels;
  job->SetExtOption("pix_fmt", "list");
  EXPECT_TRUE(pixels.Contains("yuv420p", llInfo));
  EXPECT_EQ(S().Fframe_pix_fmt, -1);
}

TEST_F(ExtOptionsTest, ItsScaleGoesToTheSlotOfTheNextInput) {
  job->SetExtOption("itsscale", "2:1.5");
  const std::vector<double>& scales = job->InputSlot(0).ts_scale;
  ASSERT_EQ(scales.size(), 3u);
  EXPECT_EQ(scales[0], 0.0);
  EXPECT_EQ(scales[2], 1.5);
}

TEST_F(ExtOptionsTest, TargetPrefixesChooseTheNorm) {
  // No frame rate and no input: automatic cannot decide.
  EXPECT_EQ(ErrorOf("target", "vcd"), "frame_rate is invalid.");
  EXPECT_EQ(ErrorOf("target", "pal-xyz"), "Unknown target type");

  TLogCapture log;
  job->SetExtOption("target", " pal-vcd ");
  EXPECT_EQ(S().Fvideo_codec_name, "mpeg1video");
  EXPECT_EQ(S().Faudio_codec_name, "mp2");
  EXPECT_EQ(S().Flast_asked_format, "vcd");
  EXPECT_EQ(S().Fframe_width, 352);
  EXPECT_EQ(S().Fframe_height, 288);
  EXPECT_EQ(S().Fframe_rate.num, 25);
  EXPECT_EQ(S().Fframe_rate.den, 1);
  EXPECT_EQ(S().Faudio_sample_rate, 44100);
  EXPECT_EQ(S().Fmux_preload, 0.44f);
  EXPECT_FLOAT_EQ(S().Fframe_aspect_ratio, 4.0f / 3);
  EXPECT_TRUE(log.Contains("Assuming 4:3 for aspect ratio", llInfo));
}

struct TargetCase {
  const char* rate;      // "r" given first, or null
  int channels;          // "ac" given first
  const char* target;
  int width, height, sampleRate, expectedChannels, pixFmt;
  const char* format;
};

TEST_F(ExtOptionsTest, TargetsApplyTheirGroups) {
  const TargetCase cases[] = {
      {"25", 2, "vcd", 352, 288, 44100, 2, -1, "vcd"},
      {"30000/1001", 2, "vcd", 352, 240, 44100, 2, -1, "vcd"},
      {"24000/1001", 1, "svcd", 480, 480, 44100, 2, -1, "svcd"},
      {nullptr, 1, "pal-dvd", 720, 576, 48000, 2, -1, "dvd"},
      {nullptr, 6, "pal-dvd", 720, 576, 48000, 6, -1, "dvd"},
      {nullptr, 6, "ntsc-dv", 720, 480, 48000, 2, AV_PIX_FMT_YUV411P, "dv"},
      {nullptr, 1, "pal-dv", 720, 576, 48000, 2, AV_PIX_FMT_YUV420P, "dv"},
      {nullptr, 1, "film-dv50", 720, 480, 48000, 2, AV_PIX_FMT_YUV422P, "dv"},
      // an unknown rate falls back to NTSC
      {"50", 2, "dvd", 720, 480, 48000, 2, -1, "dvd"},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.target);
    job = std::make_unique<TCustomFFmpeg>(1);
    if (c.rate) job->SetExtOption("r", c.rate);
    job->SetExtOption("ac", std::to_string(c.channels));
    job->SetExtOption("target", c.target);
    EXPECT_EQ(S().Fframe_width, c.width);
    EXPECT_EQ(S().Fframe_height, c.height);
    EXPECT_EQ(S().Faudio_sample_rate, c.sampleRate);
    EXPECT_EQ(S().Faudio_channels, c.expectedChannels);
    EXPECT_EQ(S().Fframe_pix_fmt, c.pixFmt);
    EXPECT_EQ(S().Flast_asked_format, c.format);
  }
  // The DVD group's option values reach the store.
  int64_t bitRate = 0;
  avutil.av_opt_get_int(job->Options()->CodecOptions(AVMEDIA_TYPE_VIDEO), "b", 0, &bitRate);
  EXPECT_EQ(bitRate, 6000000);
}

struct CodecCase {
  const char* name;
  AVMediaType type;
  bool encoder;
  int64_t strictness;
  bool ok;
  const char* message;
};

TEST_F(ExtOptionsTest, CodecsAreFoundByNameAndKind) {
  const CodecCase cases[] = {
      {"", AVMEDIA_TYPE_AUDIO, true, 0, true, ""},
      {"libmp3lame", AVMEDIA_TYPE_AUDIO, true, 0, true, ""},
      {"mp3", AVMEDIA_TYPE_AUDIO, false, 0, true, ""},
      {"nosuch", AVMEDIA_TYPE_AUDIO, true, 0, false, "Unknown encoder 'nosuch'"},
      {"nosuch", AVMEDIA_TYPE_VIDEO, false, 0, false, "Unknown decoder 'nosuch'"},
      {"mpeg4", AVMEDIA_TYPE_AUDIO, true, 0, false, "Invalid encoder type 'mpeg4'"},
      {"opus", AVMEDIA_TYPE_AUDIO, true, 0, false,
       "encoder 'opus' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you want to "
       "use it.\r\nOr use the non experimental encoder 'libopus'."},
      {"opus", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL, true, ""},
  };
  for (const CodecCase& c : cases) {
    SCOPED_TRACE(c.name);
    AVCodecID id = AV_CODEC_ID_PROBE;
    EXPECT_EQ(job->find_codec_by_name(c.name, c.type, c.encoder, c.strictness, id), c.ok);
    if (c.ok)
      EXPECT_EQ(id, *c.name ? (c.encoder ? avcodec.avcodec_find_encoder_by_name(c.name)
                                         : avcodec.avcodec_find_decoder_by_name(c.name))->id
                            : AV_CODEC_ID_NONE);
    else
      EXPECT_EQ(job->LastErrMsg(), c.message);
  }
}

TEST_F(ExtOptionsTest, DirectSettersKeepTheirGuards) {
  job->set_mux_max_delay(0);
  job->set_mux_preload(-1);
  job->set_audio_volume(-1);
  job->set_audio_channels(0);
  job->set_audio_sample_rate(-5);
  job->set_start_time(AV_NOPTS_VALUE);
  job->set_program_id(-1);
  job->set_output_format("");
  EXPECT_EQ(S().Fmux_max_delay, 0.7f);
  EXPECT_EQ(S().Fmux_preload, 0.5f);
  EXPECT_EQ(S().Faudio_volume, 256);
  EXPECT_EQ(S().Faudio_channels, 2);
  EXPECT_EQ(S().Faudio_sample_rate, 44100);
  EXPECT_EQ(S().Fstart_time, 0);
  EXPECT_EQ(S().Fopt_programid, 0);
  EXPECT_TRUE(S().Flast_asked_format.empty());

  job->set_audio_volume(0);
  job->set_start_time(-3);
  job->set_program_id(0);
  job->set_audio_sync_method(-7);
  EXPECT_EQ(S().Faudio_volume, 0);
  EXPECT_EQ(S().Fstart_time, -3);
  EXPECT_EQ(S().Faudio_sync_method, -7);
}

TEST_F(ExtOptionsTest, FrameHookModulesAreLoadedAndConfigured) {
  const std::string hook = QUORVEL_TEST_HOOK;
  job->SetExtOption("vhook", hook + "|-size|42");
  EXPECT_TRUE(S().Fusing_vhook);
  ASSERT_EQ(S().FFirstHook.Entries().size(), 1u);
  EXPECT_NE(S().FFirstHook.Entries()[0].ctx, nullptr);
  EXPECT_NE(S().FFirstHook.Entries()[0].Process, nullptr);
  // Words separated by spaces when there is no "|".
  job->SetExtOption("vhook", hook + " a b");
  EXPECT_EQ(S().FFirstHook.Entries().size(), 2u);

  TLogCapture log;
  EXPECT_EQ(ErrorOf("vhook", hook + " fail"), "Failed to add video hook function: " + hook + " fail");
  EXPECT_TRUE(log.Contains("Failed to Configure " + hook, llError));
  const std::string noConfigure = QUORVEL_TEST_HOOK_NOCONFIG;
  EXPECT_EQ(ErrorOf("vhook", noConfigure + " x"), "Failed to add video hook function: " + noConfigure + " x");
  EXPECT_TRUE(log.Contains("Failed to find Configure entrypoint in " + noConfigure, llError));
  // Without words a module needs no Configure.
  EXPECT_EQ(ErrorOf("vhook", noConfigure), "");
  EXPECT_EQ(S().FFirstHook.Entries().size(), 3u);
}

TEST(ExtOptionTable, KeepsItsOrder) {
  const auto names = ExtOptionNames();
  ASSERT_EQ(names.size(), 117u);
  EXPECT_STREQ(names.front(), "L");
  EXPECT_STREQ(names[9], "f");
  EXPECT_STREQ(names.back(), "fpre");
}

TEST(JobCreation, RefusesSlotCountsOutOfRange) {
  test::LoadEngineLibraries();
  EXPECT_THROW(TCustomFFmpeg(0), Exception);
  EXPECT_THROW(TCustomFFmpeg(513), Exception);
  TCustomFFmpeg job(512);
  EXPECT_EQ(job.MaxFiles(), 512);
}

}  // namespace
}  // namespace quorvel
