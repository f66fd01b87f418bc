// The generic option store and the presets.
#include <fstream>

#include "EngineTestSupport.h"
#include "media/engine/BuiltinPresets.h"
#include "media/runtime/Exception.h"

namespace quorvel {
namespace {

class OptionStoreTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEngineLibraries(); }
  void SetUp() override { job = std::make_unique<TCustomFFmpeg>(2); }

  std::string ErrorOf(const std::string& AName, const std::string& AValue) {
    return test::OptionError(*job, AName, AValue);
  }
  const std::vector<TFFOptions::TStoredOption>& Stored() const { return job->Options()->Stored(); }
  int64_t IntOf(AVMediaType AType, const char* AName) const {
    int64_t value = 0;
    EXPECT_GE(avutil.av_opt_get_int(job->Options()->CodecOptions(AType), AName, 0, &value), 0);
    return value;
  }

  std::unique_ptr<TCustomFFmpeg> job;
};

TEST_F(OptionStoreTest, ACodecOptionIsSetOnTheContextsOfItsKindAndStoredByName) {
  // "cutoff" belongs to audio encoding only.
  ASSERT_TRUE(job->set_library_option("cutoff", "15000"));
  EXPECT_EQ(IntOf(AVMEDIA_TYPE_AUDIO, "cutoff"), 15000);
  EXPECT_EQ(IntOf(AVMEDIA_TYPE_VIDEO, "cutoff"), 0);
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored()[0].Name, "cutoff");
  EXPECT_FALSE(Stored()[0].HasValue);

  // The same name in another letter case is no option of any table.
  EXPECT_FALSE(job->set_library_option("CUTOFF", "15000"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"CUTOFF\"");
  EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(OptionStoreTest, ATypeLetterPrefixReachesThatKindOnly) {
  ASSERT_TRUE(job->set_library_option("ab", "96000"));
  ASSERT_TRUE(job->set_library_option("vb", "800000"));
  EXPECT_EQ(IntOf(AVMEDIA_TYPE_AUDIO, "b"), 96000);
  EXPECT_EQ(IntOf(AVMEDIA_TYPE_VIDEO, "b"), 800000);
  EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(OptionStoreTest, ContainerAndScalerOptionsAreKnown) {
  EXPECT_TRUE(job->set_library_option("probesize", "65536"));
  EXPECT_TRUE(job->set_library_option("sws_flags", "bilinear"));
  ASSERT_EQ(Stored().size(), 2u);
}

TEST_F(OptionStoreTest, ABadValueIsRefusedWithItsText) {
  EXPECT_FALSE(job->set_library_option("flags", "+nosuchflag"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"+nosuchflag\" for option \"flags\"");
  EXPECT_TRUE(Stored().empty());
  EXPECT_FALSE(job->set_library_option("  ", "1"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"+nosuchflag\" for option \"flags\"");
}

TEST_F(OptionStoreTest, APrivateEncoderOptionIsStoredWithItsValue) {
  // "joint_stereo" is known only to the MP3 encoder's private options.
  ASSERT_TRUE(job->set_library_option("joint_stereo", "0"));
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_TRUE(Stored()[0].HasValue);
  EXPECT_EQ(Stored()[0].Value, "0");
  EXPECT_EQ(ErrorOf("nosuch_private_option", "0"), "Unrecognized option \"nosuch_private_option\"");
}

TEST_F(OptionStoreTest, ADebugSettingRaisesTheLogLevel) {
  const TLogLevel before = FFLogger().LogLevel();
  ASSERT_TRUE(job->set_library_option("debug", "pict"));
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  FFLogger().SetLogLevel(before);
}

// --- presets ---

TEST(BuiltinPresetTable, HoldsTheX264Presets) {
  const auto presets = BuiltinPresets();
  ASSERT_EQ(presets.size(), 36u);
  for (const TOptionsPreset& p : presets) {
    SCOPED_TRACE(p.Name);
    EXPECT_EQ(std::string(p.Name).rfind("libx264-", 0), 0u);
    const std::string text = p.Value;
    EXPECT_GE(text.size(), 15u);
    EXPECT_LE(text.size(), 319u);
    EXPECT_EQ(text.back(), '\n');
  }
  EXPECT_STREQ(FindBuiltinPreset("libx264-main")->Value, "flags2=-dct8x8\n");
  EXPECT_STREQ(FindBuiltinPreset("LIBX264-BASELINE")->Value, "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n");
  const std::pair<const char*, const char*> shared[] = {
      {"libx264-medium_firstpass", "libx264-fast_firstpass"},
      {"libx264-placebo_firstpass", "libx264-placebo"},
      {"libx264-slower_firstpass", "libx264-slow_firstpass"},
      {"libx264-ultrafast_firstpass", "libx264-ultrafast"},
  };
  for (const auto& [name, other] : shared) EXPECT_STREQ(FindBuiltinPreset(name)->Value, FindBuiltinPreset(other)->Value);
  EXPECT_EQ(FindBuiltinPreset("libx264-nosuch"), nullptr);
}

TEST_F(OptionStoreTest, BuiltinPresetsAreFoundInAnyLetterCaseOrByCodecName) {
  // The presets name options of the x264 wrapper they were written for;
  // today's libraries refuse some, which names the preset that was found.
  const std::string fast =
      "Unrecognized option \"directpred\"\r\nlibx264-fast: Invalid option or argument: \"directpred=1\", "
      "parsed as \"directpred\" = \"1\"";
  EXPECT_EQ(ErrorOf("apre", "libx264-FAST"), fast);
  job->SetExtOption("vcodec", "libx264");
  EXPECT_EQ(ErrorOf("vpre", "fast"), fast);

  job->HaltOnInvalidOption = false;
  ASSERT_EQ(ErrorOf("vpre", "fast"), "");
  bool coder = false;
  for (const auto& option : Stored()) coder = coder || option.Name == "coder";
  EXPECT_TRUE(coder);
}

TEST_F(OptionStoreTest, PresetFiles) {
  const std::string dir = test::ScratchDir();
  const std::string good = dir + "/good.ffpreset";
  std::ofstream(good) << "# an MP3 preset\r\n\r\n  acodec=libmp3lame \r\ncutoff=12000\r\n";
  ASSERT_EQ(ErrorOf("fpre", good), "");
  EXPECT_EQ(job->Settings().Faudio_codec_name, "libmp3lame");
  EXPECT_EQ(IntOf(AVMEDIA_TYPE_AUDIO, "cutoff"), 12000);

  const std::string bad = dir + "/bad.ffpreset";
  std::ofstream(bad) << "cutoff=12000\nno equals here\n";
  EXPECT_EQ(ErrorOf("apre", bad), bad + ": Invalid syntax: \"no equals here\"");
  std::ofstream(bad) << "cutoff=\n";
  EXPECT_EQ(ErrorOf("fpre", bad), bad + ": Invalid syntax: \"cutoff=\"");
  std::ofstream(bad) << "nosuchoption=1\n";
  EXPECT_EQ(ErrorOf("fpre", bad), "Unrecognized option \"nosuchoption\"\r\n" + bad +
                                      ": Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = "
                                      "\"1\"");

  EXPECT_EQ(ErrorOf("apre", dir + "/missing"), "Preset \"" + dir + "/missing\" not found");
  EXPECT_EQ(ErrorOf("fpre", "libx264-main"), "Preset \"libx264-main\" not found");
  EXPECT_EQ(ErrorOf("apre", ""), "");
}

}  // namespace
}  // namespace quorvel
