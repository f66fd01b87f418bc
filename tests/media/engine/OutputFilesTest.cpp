// Creating outputs: container, streams and encoder settings for every codec
// the profiles offer, the stream options, failures, and join mode.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/Exception.h"

namespace quorvel {
namespace {

using test::MakeWave;
using test::TLogCapture;

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

class OutputFilesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override {
    dir = test::ScratchDir();
    stereo = MakeWave(dir, "stereo.wav", 44100, 2, 1);
    job = std::make_unique<TCustomFFmpeg>(4);
  }
  const TEngineSettings& S() const { return job->Settings(); }
  const TAVOutputStream& Stream(int slot, int index) const { return *job->OutputSlot(slot).streams[index]; }

  std::string dir, stereo;
  std::unique_ptr<TCustomFFmpeg> job;
};

struct ProfileCase {
  const char* codec;
  const char* file;
  const char* format;
  int rate, channels;
  int expectedRate;
  const char* bitRate;  // null: none
};

TEST_F(OutputFilesTest, EveryProfileCodecGetsItsContainerAndSettings) {
  const ProfileCase cases[] = {
      {"libmp3lame", "out.mp3", "mp3", 44100, 2, 44100, "128000"},
      {"aac", "out.m4a", "ipod", 48000, 2, 48000, "192000"},
      {"libvorbis", "out.ogg", "ogg", 44100, 1, 44100, "96000"},
      {"libopus", "out.opus", "opus", 44100, 2, 48000, "64000"},
      {"flac", "out.flac", "flac", 96000, 1, 96000, nullptr},
      {"alac", "alac.m4a", "ipod", 44100, 2, 44100, nullptr},
      {"pcm_s16le", "out.wav", "wav", 22050, 1, 22050, nullptr},
      {"pcm_s16be", "out.aiff", "aiff", 44100, 2, 44100, nullptr},
      {"wmav2", "out.wma", "asf", 44100, 2, 44100, "128000"},
      {"ac3", "out.ac3", "ac3", 48000, 6, 48000, "384000"},
      {"mp2", "out.mp2", "mp2", 32000, 2, 32000, "192000"},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.codec);
    job = std::make_unique<TCustomFFmpeg>(2);
    ASSERT_TRUE(job->open_input_file(stereo)) << job->LastErrMsg();
    job->SetExtOption("acodec", c.codec);
    job->SetExtOption("ar", std::to_string(c.rate));
    job->SetExtOption("ac", std::to_string(c.channels));
    if (c.bitRate) job->SetExtOption("ab", c.bitRate);
    job->SetExtOption("metadata", "title=Quorvel test");
    job->SetExtOption("vn", "1");
    const std::string out = dir + "/" + c.file;
    ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();

    const AVFormatContext* oc = job->OutputFile(0);
    EXPECT_STREQ(oc->oformat->name, c.format);
    ASSERT_EQ(oc->nb_streams, 1u);
    const AVDictionaryEntry* title = avutil.av_dict_get(oc->metadata, "title", nullptr, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->value, "Quorvel test");
    EXPECT_EQ(avutil.av_dict_count(S().Fmetadata.Get()), 0);

    const TAVOutputStream& ost = Stream(0, 0);
    const AVCodec* encoder = avcodec.avcodec_find_encoder_by_name(c.codec);
    EXPECT_EQ(job->OutputCodecs().at(0), encoder);
    AVCodecContext* enc = ost.enc.get();
    EXPECT_EQ(enc->codec_id, encoder->id);
    EXPECT_EQ(enc->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(enc->sample_rate, c.expectedRate);
    EXPECT_EQ(enc->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(enc->time_base.num, 1);
    EXPECT_EQ(enc->time_base.den, c.rate);
    if (c.bitRate) {
      EXPECT_EQ(enc->bit_rate, std::stoll(c.bitRate));
    }
    EXPECT_TRUE(S().Faudio_codec_name.empty());
    // The settings are ones the encoder accepts.
    {
      TCodecLock lock;
      enc->time_base = AVRational{1, enc->sample_rate};
      EXPECT_EQ(avcodec.avcodec_open2(enc, encoder, nullptr), 0);
    }
    EXPECT_EQ(FileSize(out), 0);
    job.reset();
    // Nothing was written: the empty file goes with the job.
    EXPECT_EQ(FileSize(out), -1);
  }
}

TEST_F(OutputFilesTest, AnOutputWithoutRateOrChannelsTakesTheInputs) {
  const std::string mono = MakeWave(dir, "mono.wav", 22050, 1, 1);
  ASSERT_TRUE(job->open_input_file(mono));
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1) << job->LastErrMsg();
  const AVCodecContext* enc = Stream(0, 0).enc.get();
  EXPECT_EQ(enc->codec_id, AV_CODEC_ID_MP3);
  EXPECT_EQ(enc->sample_rate, 22050);
  EXPECT_EQ(enc->ch_layout.nb_channels, 1);
  // No name given: the encoder is chosen by codec id when the run starts.
  EXPECT_EQ(job->OutputCodecs().at(0), nullptr);
}

TEST_F(OutputFilesTest, AnUnsupportedRateTakesTheNearestOneWithAWarning) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("acodec", "libmp3lame");
  job->SetExtOption("ar", "96000");
  TLogCapture log;
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1) << job->LastErrMsg();
  const AVCodecContext* enc = Stream(0, 0).enc.get();
  EXPECT_EQ(enc->sample_rate, 48000);
  EXPECT_EQ(enc->time_base.den, 96000);
  EXPECT_TRUE(log.Contains("Requested sampling rate unsupported using closest supported (48000)", llWarning));
}

TEST_F(OutputFilesTest, StoredOptionsReachTheEncoderByKind) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("acodec", "libmp3lame");
  job->SetExtOption("cutoff", "15000");
  job->SetExtOption("g", "77");              // video encoding only
  job->SetExtOption("joint_stereo", "0");    // the MP3 encoder's own option
  job->SetExtOption("compression_level", "3");
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1) << job->LastErrMsg();
  const AVCodecContext* enc = Stream(0, 0).enc.get();
  EXPECT_EQ(enc->cutoff, 15000);
  EXPECT_NE(enc->gop_size, 77);
  EXPECT_EQ(enc->compression_level, 3);
  int64_t joint = -1;
  ASSERT_GE(avutil.av_opt_get_int(enc->priv_data, "joint_stereo", 0, &joint), 0);
  EXPECT_EQ(joint, 0);
}

TEST_F(OutputFilesTest, StreamOptionsApplyToTheNextStream) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("streamid", "0:77");
  job->SetExtOption("alang", "eng");
  job->SetExtOption("absf", "aac_adtstoasc");
  job->SetExtOption("acodec", "aac");
  ASSERT_EQ(job->open_output_file(dir + "/out.m4a", false), 1) << job->LastErrMsg();
  const TAVOutputStream& ost = Stream(0, 0);
  EXPECT_EQ(ost.st->id, 77);
  const AVDictionaryEntry* lang = avutil.av_dict_get(ost.st->metadata, "language", nullptr, 0);
  ASSERT_NE(lang, nullptr);
  EXPECT_STREQ(lang->value, "eng");
  EXPECT_EQ(ost.bitstream_filters.size(), 1u);
  EXPECT_TRUE(S().Faudio_bitstream_filters.empty());
  EXPECT_TRUE(S().Faudio_language.empty());
  EXPECT_TRUE(S().Fstreamid_map.empty());
  // The ipod muxer wants global headers.
  EXPECT_TRUE(ost.enc->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
}

TEST_F(OutputFilesTest, NoAudioThenNewAudio) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("an", "1");
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", false), 1) << job->LastErrMsg();
  EXPECT_EQ(job->OutputFile(0)->nb_streams, 0u);
  EXPECT_TRUE(S().Faudio_disable);
  job->SetExtOption("acodec", "libmp3lame");
  job->SetExtOption("newaudio", "");
  EXPECT_EQ(job->OutputFile(0)->nb_streams, 1u);
  EXPECT_FALSE(S().Faudio_disable);
  EXPECT_EQ(Stream(0, 0).enc->codec_id, AV_CODEC_ID_MP3);

  // An unknown encoder for a new stream is the option's error.
  job->SetExtOption("acodec", "nosuchencoder");
  job->SetExtOption("alang", "fin");
  try {
    job->SetExtOption("newaudio", "");
    FAIL() << "no error";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown encoder 'nosuchencoder'");
  }
  EXPECT_TRUE(S().Faudio_codec_name.empty());
  EXPECT_TRUE(S().Faudio_language.empty());
}

TEST_F(OutputFilesTest, StreamCopyTakesTheLastInputsParameters) {
  const std::string mono = MakeWave(dir, "mono.wav", 22050, 1, 1);
  ASSERT_TRUE(job->open_input_file(mono));
  job->SetExtOption("acodec", "copy");
  ASSERT_EQ(job->open_output_file(dir + "/out.wav", false), 1) << job->LastErrMsg();
  const TAVOutputStream& ost = Stream(0, 0);
  EXPECT_EQ(ost.stream_copy, 1);
  EXPECT_EQ(ost.enc->sample_rate, 22050);
  EXPECT_EQ(ost.enc->ch_layout.nb_channels, 1);
  EXPECT_EQ(S().Faudio_stream_copy, 0);
  EXPECT_EQ(job->OutputCodecs().at(0), nullptr);
}

TEST_F(OutputFilesTest, KindsTheInputsLackAreLeftOut) {
  ASSERT_TRUE(job->open_input_file(stereo));
  ASSERT_EQ(job->open_output_file(dir + "/out.mp4", false), 1) << job->LastErrMsg();
  ASSERT_EQ(job->OutputFile(0)->nb_streams, 1u);
  EXPECT_EQ(Stream(0, 0).enc->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(OutputFilesTest, FailuresReturnMinusOneWithTheirText) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("f", "nosuchmuxer");
  EXPECT_EQ(job->open_output_file(dir + "/out.mp3", false), -1);
  EXPECT_EQ(job->LastErrMsg(), "Requested output format 'nosuchmuxer' is not a suitable output format");

  job->SetExtOption("f", "");
  job->SetExtOption("f", "mp3");
  EXPECT_EQ(job->open_output_file(dir + "/out.unknownextension", false), 1) << job->LastErrMsg();

  const std::string unknown = dir + "/out.unknownextension";
  EXPECT_EQ(job->open_output_file(unknown, false), -1);
  EXPECT_EQ(job->LastErrMsg(), "Unable to find a suitable output format for '" + unknown + "'");

  const std::string nowhere = dir + "/no/such/folder/out.mp3";
  EXPECT_EQ(job->open_output_file(nowhere, false), -1);
  EXPECT_EQ(job->LastErrMsg(), nowhere + ": No such file or directory");

  job->SetExtOption("acodec", "mpeg4");
  EXPECT_EQ(job->open_output_file(dir + "/x.mp3", false), -1);
  EXPECT_EQ(job->LastErrMsg(), "new_audio_stream fail: Invalid encoder type 'mpeg4'");

  // Only the successful output holds a slot.
  EXPECT_EQ(job->nb_output_files(), 1);
  EXPECT_EQ(job->OutputCodecs().size(), 1u);
}

TEST_F(OutputFilesTest, AVideoStreamTakesThePictureSettings) {
  ASSERT_TRUE(job->open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")));
  job->SetExtOption("vcodec", "mpeg4");
  job->SetExtOption("r", "25");
  job->SetExtOption("intra", "1");
  job->SetExtOption("qscale", "4");
  job->SetExtOption("vlang", "eng");
  job->SetExtOption("force_key_frames", "0,1.5");
  job->SetExtOption("pass", "1");
  job->SetExtOption("passlogfile", dir + "/stats");
  job->SetExtOption("an", "1");
  ASSERT_EQ(job->open_output_file(dir + "/out.mkv", false), 1) << job->LastErrMsg();
  ASSERT_EQ(job->OutputFile(0)->nb_streams, 1u);
  const TAVOutputStream& ost = Stream(0, 0);
  AVCodecContext* enc = ost.enc.get();
  EXPECT_EQ(enc->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(enc->width, 560);
  EXPECT_EQ(enc->height, 320);
  EXPECT_EQ(enc->time_base.num, 1);
  EXPECT_EQ(enc->time_base.den, 25);
  EXPECT_EQ(enc->gop_size, 0);
  EXPECT_TRUE(enc->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(enc->global_quality, 4 * FF_QP2LAMBDA);
  EXPECT_TRUE(enc->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_EQ(enc->pix_fmt, AV_PIX_FMT_YUV420P);
  // Square pixels: the display ratio is the picture's.
  EXPECT_EQ(enc->sample_aspect_ratio.num, 1);
  EXPECT_EQ(enc->sample_aspect_ratio.den, 1);
  EXPECT_EQ(ost.forced_kf_pts, (std::vector<int64_t>{0, 1500000}));
  const AVDictionaryEntry* lang = avutil.av_dict_get(ost.st->metadata, "language", nullptr, 0);
  ASSERT_NE(lang, nullptr);
  EXPECT_STREQ(lang->value, "eng");
  EXPECT_EQ(S().Fframe_pix_fmt, -1);
  EXPECT_TRUE(S().Fforced_key_frames.empty());
  EXPECT_TRUE(S().Fvideo_codec_name.empty());
  {
    TCodecLock lock;
    enc->flags &= ~AV_CODEC_FLAG_PASS1;
    EXPECT_EQ(avcodec.avcodec_open2(enc, avcodec.avcodec_find_encoder(AV_CODEC_ID_MPEG4), nullptr), 0);
  }
}

TEST_F(OutputFilesTest, RateControlOverridesAreCheckedWhenTheStreamIsMade) {
  ASSERT_TRUE(job->open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")));
  job->SetExtOption("vcodec", "mpeg4");
  job->SetExtOption("rc_override", "0,10,2/11,20,-50");
  job->SetExtOption("an", "1");
  ASSERT_EQ(job->open_output_file(dir + "/a.mkv", false), 1) << job->LastErrMsg();
  const AVCodecContext* enc = Stream(0, 0).enc.get();
  ASSERT_EQ(enc->rc_override_count, 2);
  EXPECT_EQ(enc->rc_override[0].qscale, 2);
  EXPECT_EQ(enc->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(enc->rc_override[1].quality_factor, 0.5f);

  job->SetExtOption("rc_override", "0,10");
  job->SetExtOption("vcodec", "mpeg4");
  job->SetExtOption("an", "1");
  EXPECT_EQ(job->open_output_file(dir + "/b.mkv", false), -1);
  EXPECT_EQ(job->LastErrMsg(), "new_video_stream fail: error parsing rc_override");
}

TEST_F(OutputFilesTest, SubtitleStreamsAreAddedByOption) {
  ASSERT_TRUE(job->open_input_file(stereo));
  ASSERT_EQ(job->open_output_file(dir + "/out.mkv", false), 1) << job->LastErrMsg();
  job->SetExtOption("scodec", "ass");
  job->SetExtOption("slang", "ger");
  job->SetExtOption("newsubtitle", "");
  ASSERT_EQ(job->OutputFile(0)->nb_streams, 2u);
  const TAVOutputStream& ost = Stream(0, 1);
  EXPECT_EQ(ost.index, 1);
  EXPECT_EQ(ost.enc->codec_type, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(ost.enc->codec_id, AV_CODEC_ID_ASS);
  const AVDictionaryEntry* lang = avutil.av_dict_get(ost.st->metadata, "language", nullptr, 0);
  ASSERT_NE(lang, nullptr);
  EXPECT_STREQ(lang->value, "ger");
  EXPECT_TRUE(S().Fsubtitle_codec_name.empty());

  job->SetExtOption("scodec", "copy");
  job->SetExtOption("newsubtitle", "");
  EXPECT_EQ(Stream(0, 2).stream_copy, 1);
  EXPECT_EQ(S().Fsubtitle_stream_copy, 0);
}

TEST_F(OutputFilesTest, AnExistingOutputFileIsReplaced) {
  const std::string out = dir + "/out.mp3";
  std::ofstream(out) << "old content";
  ASSERT_TRUE(job->open_input_file(stereo));
  ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
  EXPECT_EQ(FileSize(out), 0);
}

TEST_F(OutputFilesTest, MuxingParametersComeFromTheSettings) {
  ASSERT_TRUE(job->open_input_file(stereo));
  job->SetExtOption("muxdelay", "0.25");
  job->SetExtOption("muxpreload", "0.125");
  job->SetExtOption("f", "mpeg");
  job->SetExtOption("muxrate", "1411200");
  job->SetExtOption("timestamp", "2001-02-03 04:05:06Z");
  ASSERT_EQ(job->open_output_file(dir + "/out.mpg", false), 1) << job->LastErrMsg();
  const AVFormatContext* oc = job->OutputFile(0);
  EXPECT_EQ(oc->max_delay, 250000);
  EXPECT_TRUE(oc->flags & AVFMT_FLAG_NONBLOCK);
  int64_t preload = 0, muxrate = 0;
  ASSERT_GE(avutil.av_opt_get_int(oc->priv_data, "preload", 0, &preload), 0);
  ASSERT_GE(avutil.av_opt_get_int(oc->priv_data, "muxrate", 0, &muxrate), 0);
  EXPECT_EQ(preload, 125000);
  EXPECT_EQ(muxrate, 1411200);
  const AVDictionaryEntry* created = avutil.av_dict_get(oc->metadata, "creation_time", nullptr, 0);
  ASSERT_NE(created, nullptr);
  EXPECT_STREQ(created->value, "2001-02-03T04:05:06.000000Z");
}

TEST_F(OutputFilesTest, JoinModeGivesOneSlotPerInputOverOneContext) {
  const std::string a = MakeWave(dir, "a.wav", 8000, 1, 1);
  const std::string b = MakeWave(dir, "b.wav", 8000, 1, 2);
  const std::string c = MakeWave(dir, "c.wav", 8000, 1, 3);
  for (const std::string& in : {a, b, c}) ASSERT_TRUE(job->open_input_file(in));
  ASSERT_EQ(job->open_output_file(dir + "/joined.mp3", true), 1) << job->LastErrMsg();
  EXPECT_TRUE(job->JoinMode());
  EXPECT_EQ(job->open_output_file(dir + "/second.mp3", false), -1);
  EXPECT_EQ(job->LastErrMsg(), "Cannot join more than one output file.");

  job->prepare_join();
  EXPECT_EQ(job->TotalOutputDuration(), 6000000);
  ASSERT_EQ(job->nb_output_files(), 3);
  for (int slot = 1; slot < 3; ++slot) {
    EXPECT_EQ(job->OutputFile(slot), job->OutputFile(0));
    ASSERT_EQ(job->OutputSlot(slot).streams.size(), 1u);
    EXPECT_EQ(Stream(slot, 0).file_index, slot);
    EXPECT_EQ(Stream(slot, 0).st, Stream(0, 0).st);
    EXPECT_EQ(Stream(slot, 0).Encoder(), Stream(0, 0).enc.get());
  }
}

TEST_F(OutputFilesTest, JoiningOneInputIsNoJoin) {
  ASSERT_TRUE(job->open_input_file(stereo));
  ASSERT_EQ(job->open_output_file(dir + "/out.mp3", true), 1);
  EXPECT_FALSE(job->JoinMode());
  job->prepare_join();
  EXPECT_EQ(job->nb_output_files(), 1);
  EXPECT_EQ(job->TotalOutputDuration(), 1000000);
}

TEST_F(OutputFilesTest, AnOutputNameOutsideTheCharsetIsWritten) {
  ASSERT_TRUE(job->open_input_file(stereo));
  const std::string out = dir + "/Grüße ♪.mp3";
  ASSERT_EQ(job->open_output_file(out, false), 1) << job->LastErrMsg();
  EXPECT_EQ(FileSize(out), 0);
}

}  // namespace
}  // namespace quorvel
