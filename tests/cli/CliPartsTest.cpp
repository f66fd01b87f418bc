// quorvel-convert's pieces: the command line, the profile choice, the
// output names and the batch's progress figure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/batch/OutputPlanner.h"
#include "cli/BatchRun.h"
#include "cli/CliOptions.h"
#include "cli/ProfileChoice.h"
#include "cli/ProgressDisplay.h"
#include "support/TestPaths.h"

namespace quorvel::cli {
namespace {

namespace fs = std::filesystem;

TEST(CliOptionsTest, ClockTextsAndTheirTimes) {
  const struct {
    const char* Text;
    int64_t Micro;  // -1: refused
  } cases[] = {
      {"00:00:01.500", 1500000}, {"1:02:03", 3723000000}, {"02:03.25", 123250000}, {"7", 7000000},
      {"0.000001", 1},           {"00:60:00", -1},        {"1:2:3:4", -1},         {"", -1},
      {"-1", -1},                {"1.2345678", -1},       {"ab:cd", -1},           {"1.", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    if (c.Micro < 0)
      EXPECT_THROW(ParseClock("--start", c.Text), EUsage);
    else
      EXPECT_EQ(ParseClock("--start", c.Text), c.Micro);
  }
}

TEST(CliOptionsTest, CommandLinesThatAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {},                                        // no files
      {"--volume", "0", "a.wav"},                // below range
      {"--volume", "5001", "a.wav"},             // above range
      {"--jobs", "0", "a.wav"},                  //
      {"--bogus", "a.wav"},                      //
      {"a.wav", "--profile"},                    // value missing
      {"--merge=1", "a.wav"},                    // flag with a value
      {"--start", "2", "--end", "1", "a.wav"},   // end before start
      {"--merge", "--start", "1", "a.wav"},      // trims of a joined file
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_THROW(ParseArguments(args), EUsage);
  }
  std::vector<std::string> many(21, "a.wav");
  many.insert(many.begin(), "--merge");
  try {
    ParseArguments(many);
    ADD_FAILURE() << "21 files merged";
  } catch (const EUsage& e) {
    EXPECT_STREQ(e.what(), "Cannot merge more than 20 files.");
  }
}

TEST(CliOptionsTest, OptionsTakeTheirValuesEitherWay) {
  const TCliOptions o = ParseArguments({"--jobs=3", "-o", "out", "--volume", "50", "--end=1:00", "--", "-x.wav"});
  EXPECT_EQ(o.Jobs, 3);
  EXPECT_EQ(o.OutputDir, "out");
  EXPECT_EQ(o.Volume, 50);
  EXPECT_EQ(o.End, 60000000);
  EXPECT_EQ(o.Start, kNoTime);
  EXPECT_EQ(o.Files, std::vector<std::string>{"-x.wav"});
  EXPECT_GE(ParseArguments({"a.wav"}).Jobs, 1);  // the cores
}

TEST(CliOptionsTest, VolumePercentBecomes256ths) {
  const std::pair<int, int> cases[] = {{100, 256}, {50, 128}, {1, 3}, {5000, 12800}, {33, 84}};
  for (const auto& [percent, volume] : cases) EXPECT_EQ(VolumeFromPercent(percent), volume) << percent;
}

TEST(CliOptionsTest, TrimsBecomeStartAndLength) {
  TConversionSettings s;
  const struct {
    std::vector<std::string> Args;
    int64_t Length;
  } cases[] = {
      {{"--start", "1", "--end", "3.5", "a"}, 2500000},
      {{"--end", "2", "a"}, 2000000},
      {{"--start", "2", "a"}, kNoTime},
  };
  for (const auto& c : cases) {
    TOutputOptions record;
    FillOutputRecord(s, ParseArguments(c.Args), record);
    EXPECT_EQ(record.TimeLength, c.Length);
    EXPECT_EQ(record.Info.TimeStamp, 0);
    EXPECT_TRUE(record.DisableVideo);
  }
}

TProfiles SampleProfiles() {
  TProfile mp3;
  mp3.Title = "MP3 - MPEG Layer 3 (*.mp3)";
  mp3.FormatExt = ".mp3";
  mp3.AudioBitRates = "64000$64 kbps,128000$128 kbps,192000$192 kbps";
  mp3.SampleRates = "22050$22.05 kHz,44100$44.1 kHz";
  mp3.Channels = "1$Mono,2$Stereo";
  mp3.AudioCodecs = "libmp3lame$LAME MP3";
  mp3.AudioCodecName = "libmp3lame";
  mp3.SampleRate = "44100";
  mp3.AudioBitRate = "192000";
  mp3.Channel = "2";
  TProfile aac = mp3, alac = mp3;
  aac.Title = "AAC - Advanced Audio Coding (*.m4a)";
  aac.FormatExt = ".m4a";
  alac.Title = "ALAC - Apple Lossless (*.m4a)";
  alac.FormatExt = ".m4a";
  alac.Channel = "two";
  return {mp3, aac, alac};
}

TEST(ProfileChoiceTest, ProfilesAreFoundByTitlePrefixOrExtension) {
  const TProfiles profiles = SampleProfiles();
  EXPECT_EQ(&FindProfile(profiles, ""), &profiles[0]);
  EXPECT_EQ(&FindProfile(profiles, "aac - advanced audio coding (*.m4a)"), &profiles[1]);
  EXPECT_EQ(&FindProfile(profiles, "AL"), &profiles[2]);
  EXPECT_EQ(&FindProfile(profiles, "mp3"), &profiles[0]);
  EXPECT_THROW(FindProfile(profiles, "m4a"), EUsage);  // two profiles
  EXPECT_THROW(FindProfile(profiles, "A"), EUsage);    // two titles
  EXPECT_THROW(FindProfile(profiles, "flac"), EUsage);
}

TEST(ProfileChoiceTest, OverridesMustBeAmongTheProfilesChoices) {
  const TProfiles profiles = SampleProfiles();
  TCliOptions o;
  o.Bitrate = "128k";
  o.Channels = "mono";
  o.SampleRate = "22050";
  const TConversionSettings s = ResolveSettings(profiles[0], o);
  EXPECT_EQ(s.Bitrate, 128000);
  EXPECT_EQ(s.Channels, 1);
  EXPECT_EQ(s.SampleRate, 22050);
  EXPECT_EQ(s.Codec, "libmp3lame");
  EXPECT_EQ(s.Ext, ".mp3");

  o = TCliOptions{};
  o.Bitrate = "100000";
  try {
    ResolveSettings(profiles[0], o);
    ADD_FAILURE() << "a bit rate the profile does not offer";
  } catch (const EUsage& e) {
    EXPECT_NE(std::string(e.what()).find("64000, 128000, 192000"), std::string::npos) << e.what();
  }
  // A profile value that is no number is refused, not read as 0.
  EXPECT_THROW(ResolveSettings(profiles[2], TCliOptions{}), EUsage);
}

class OutputPlannerTest : public ::testing::Test {
protected:
  void SetUp() override { dir = test::ScratchDir(); }
  std::string Touch(const std::string& AName, const std::string& AText = "old") {
    const std::string path = dir + "/" + AName;
    std::ofstream(path) << AText;
    return path;
  }
  std::string Read(const std::string& APath) {
    std::ifstream in(APath);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir;
};

TEST_F(OutputPlannerTest, NeverReplacesAnExistingFileNorAnInputNorAnEarlierOutput) {
  const std::string existing = Touch("a.mp3");
  const std::string input = Touch("b.mp3");
  TOutputPlanner planner(dir, TEarlierOutputs::Keep, {input, dir + "/a.wav", "elsewhere/c.wav", "other/c.wav"});
  const TClaimedOutput a = planner.Claim("a", ".mp3");
  EXPECT_EQ(a.Path, dir + "/a (2).mp3");
  EXPECT_NE(a.Note.find("exists"), std::string::npos);
  EXPECT_EQ(Read(existing), "old");
  // Reserved, and its part file made (exclusively) only when its conversion
  // starts; nothing has the output's name until the output is whole.
  EXPECT_FALSE(fs::exists(a.Path));
  planner.Create(a.Path);
  EXPECT_FALSE(fs::exists(a.Path));
  EXPECT_TRUE(fs::exists(TOutputPlanner::WritePath(a.Path)));
  EXPECT_THROW(planner.Create(a.Path), Exception);  // its part is being written
  // Taken meanwhile: never written over, and the finished output is not
  // published over it.
  std::ofstream(TOutputPlanner::WritePath(a.Path)) << "converted";
  Touch("a (2).mp3", "theirs");
  EXPECT_THROW(planner.Publish(a.Path), Exception);
  EXPECT_EQ(Read(a.Path), "theirs");
  EXPECT_FALSE(planner.Remove(a.Path));  // the part goes, their file stays
  EXPECT_FALSE(fs::exists(TOutputPlanner::WritePath(a.Path)));
  EXPECT_EQ(Read(a.Path), "theirs");
  // A file that appeared before the conversion started fails it at once.
  const TClaimedOutput d = planner.Claim("d", ".mp3");
  Touch("d.mp3", "theirs");
  EXPECT_THROW(planner.Create(d.Path), Exception);
  EXPECT_EQ(Read(d.Path), "theirs");
  EXPECT_EQ(planner.Claim("b", ".mp3").Path, dir + "/b (2).mp3");
  const TClaimedOutput c1 = planner.Claim("c", ".mp3"), c2 = planner.Claim("c", ".mp3");
  EXPECT_EQ(c1.Path, dir + "/c.mp3");
  EXPECT_TRUE(c1.Note.empty());
  EXPECT_EQ(c2.Path, dir + "/c (2).mp3");
  planner.Remove(c2.Path);
  EXPECT_FALSE(fs::exists(c2.Path));
}

TEST_F(OutputPlannerTest, OverwriteReplacesFilesButNeverAnInput) {
  const std::string existing = Touch("a.mp3");
  const std::string input = Touch("b.mp3");
  TOutputPlanner planner(dir, TEarlierOutputs::Replace, {input});
  EXPECT_EQ(planner.Claim("a", ".mp3").Path, existing);
  EXPECT_EQ(planner.Claim("b", ".mp3").Path, dir + "/b (2).mp3");
  EXPECT_EQ(planner.Claim("a", ".mp3").Path, dir + "/a (2).mp3");
  // An old file the conversion never reached survives its removal.
  planner.Remove(existing);
  EXPECT_EQ(Read(existing), "old");
}

TEST_F(OutputPlannerTest, AnInputReachedThroughALinkIsStillAnInput) {
  const std::string input = Touch("song.mp3");
  fs::create_directory(dir + "/out");
  fs::create_symlink(input, dir + "/out/song.mp3");
  TOutputPlanner planner(dir + "/out", TEarlierOutputs::Replace, {input});
  EXPECT_EQ(planner.Claim("song", ".mp3").Path, dir + "/out/song (2).mp3");
}

TEST(ProgressTest, BatchFractionWeighsFilesByDuration) {
  EXPECT_DOUBLE_EQ(BatchFraction({3, 1}, {1.0, 0.0}), 0.75);
  EXPECT_DOUBLE_EQ(BatchFraction({3, 0}, {0.0, 1.0}), 0.5);  // unknown weighs as the mean
  EXPECT_DOUBLE_EQ(BatchFraction({0, 0}, {0.5, 0.5}), 0.5);
  EXPECT_DOUBLE_EQ(BatchFraction({}, {}), 0.0);
}

}  // namespace
}  // namespace quorvel::cli
