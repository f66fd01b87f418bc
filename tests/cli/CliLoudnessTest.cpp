// quorvel-convert's loudness: --analyse (table and JSON) and normalising a
// quiet speech file, a loud master and a file with one sharp peak to
// -16 LUFS under -1 dBTP, each output decoded back and measured again.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/CliTestSupport.h"
#include "media/batch/LoudnessAnalysis.h"
#include "media/runtime/FFLoad.h"

namespace quorvel {
namespace {

using test::Quote;

// The three sources, made in ADir: espeak-ng speech 20 dB down, pink noise
// mastered loud, and a quiet tone with one 2 ms burst near full scale in its middle.
void MakeSources(const std::string& ADir) {
  ASSERT_EQ(test::Run("espeak-ng -w " + Quote(ADir + "/speech.wav") +
                      " 'A quiet voice reads this sentence for the loudness test, slowly and calmly.'"),
            0);
  ASSERT_EQ(test::Run("sox " + Quote(ADir + "/speech.wav") + " -r 44100 -c 2 " + Quote(ADir + "/quiet.wav") +
                      " gain -20"),
            0);
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(ADir + "/master.wav") + " synth 20 pinknoise gain -3"), 0);
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(ADir + "/base.wav") + " synth 20 sine 440 gain -30"), 0);
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(ADir + "/burst.wav") + " synth 0.002 sine 3000 gain -0.5"),
            0);
  ASSERT_EQ(test::Run("sox " + Quote(ADir + "/base.wav") + " " + Quote(ADir + "/burst.wav") + " " +
                      Quote(ADir + "/base.wav") + " " + Quote(ADir + "/peak.wav")),
            0);
  // A tone in the left channel only: folded down to mono it measures some
  // 6 LU under its stereo figure.
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(ADir + "/left.wav") + " synth 20 sine 1000 gain -20 remix 1 0"),
            0);
}

struct TNormaliseCase {
  const char* Name;
  const char* Source;
  const char* Profile;
  double PeakLimit;    // dBTP after decoding: -1, or -0.5 for lossy outputs
  bool SameRange;      // nothing was limited: the loudness range stays within 0.5 LU
  const char* Channels = nullptr;  // --channels, when not the profile's
};

const TNormaliseCase kNormaliseCases[] = {
    {"QuietSpeechFlac", "quiet", "flac", -1.0, true},   {"QuietSpeechMp3", "quiet", "mp3", -0.5, true},
    {"LoudMasterFlac", "master", "flac", -1.0, true},   {"LoudMasterMp3", "master", "mp3", -0.5, true},
    // The burst is limited (the gain would put it at +13 dBTP), and with it
    // the short-term loudness it raised: the range is not compared.
    {"SharpPeakFlac", "peak", "flac", -1.0, false},  {"SharpPeakMp3", "peak", "mp3", -0.5, false},
    // The gain is measured on what is encoded: the mono fold-down.
    {"FoldedToMono", "left", "flac", -1.0, true, "1"},
};

class CliNormaliseTest : public ::testing::TestWithParam<TNormaliseCase> {};

TEST_P(CliNormaliseTest, ReachesTheTargetUnderTheCeiling) {
  const TNormaliseCase& c = GetParam();
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  MakeSources(dir);
  const std::string source = std::string(c.Source) + ".wav";
  std::vector<std::string> args = {"-p", c.Profile, "-o", "out", "--loudness", "normalise=-16", "--true-peak", "-1"};
  if (c.Channels) args.insert(args.end(), {"--channels", c.Channels});
  args.push_back(source);
  const test::TCliRun run = test::RunConvert(dir, args);
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  const std::string output = dir + "/out/" + c.Source + "." + c.Profile;
  ASSERT_TRUE(std::filesystem::exists(output)) << run.Out;
  // The result line tells what the output measured.
  EXPECT_NE(run.Out.find("LUFS"), std::string::npos) << run.Out;

  const TLoudnessAnalysis before = AnalyseLoudness(dir + "/" + source);
  const TLoudnessAnalysis after = AnalyseLoudness(output);
  ASSERT_TRUE(before.Meter && after.Meter) << after.Error;
  const TLoudness b = before.Meter->Result(), a = after.Meter->Result();
  EXPECT_NEAR(a.Integrated, -16, 0.5) << "source " << b.Integrated;
  EXPECT_LE(a.TruePeak, c.PeakLimit);
  if (c.SameRange) EXPECT_NEAR(a.Range, b.Range, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliNormaliseTest, ::testing::ValuesIn(kNormaliseCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// --analyse converts nothing and prints one line per file and one for the
// folder's album; --json carries the same figures under its keys.
TEST(CliAnalyse, PrintsEachFileAndTheAlbumAsTableAndJson) {
  const std::string dir = test::ScratchDir();
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 24 " + Quote(dir + "/a.wav") + " synth 20 sine 1000 gain -23"), 0);
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 24 " + Quote(dir + "/b.wav") + " synth 20 sine 1000 gain -33"), 0);
  const test::TCliRun table = test::RunConvert(dir, {"--analyse", "a.wav", "b.wav"});
  ASSERT_EQ(table.Status, 0) << table.Err;
  EXPECT_NE(table.Out.find("-23.0"), std::string::npos) << table.Out;
  EXPECT_NE(table.Out.find("-33.0"), std::string::npos) << table.Out;
  EXPECT_NE(table.Out.find("album ."), std::string::npos) << table.Out;
  EXPECT_EQ(std::filesystem::directory_iterator(dir) != std::filesystem::directory_iterator(), true);
  EXPECT_FALSE(std::filesystem::exists(dir + "/a.mp3"));

  const test::TCliRun json = test::RunConvert(dir, {"--analyse", "--json", "a.wav", "b.wav"});
  ASSERT_EQ(json.Status, 0) << json.Err;
  for (const char* key : {"\"source\": \"a.wav\"", "\"source\": \"b.wav\"", "\"range\": ", "\"sample_peak\": ",
                          "\"true_peak\": ", "\"album\": true"})
    EXPECT_NE(json.Out.find(key), std::string::npos) << key << "\n" << json.Out;
  // The figure after "integrated" in the object of AFile.
  const auto integrated = [&](const std::string& AFile) {
    const size_t object = json.Out.find("\"source\": \"" + AFile + "\"");
    const size_t at = json.Out.find("\"integrated\": ", object);
    return object == std::string::npos || at == std::string::npos ? 0.0 : std::strtod(json.Out.c_str() + at + 14, nullptr);
  };
  EXPECT_NEAR(integrated("a.wav"), -23, 0.1) << json.Out;
  EXPECT_NEAR(integrated("b.wav"), -33, 0.1) << json.Out;

  const test::TCliRun missing = test::RunConvert(dir, {"--analyse", "a.wav", "none.wav"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("error: none.wav:"), std::string::npos) << missing.Err;
}

}  // namespace
}  // namespace quorvel
