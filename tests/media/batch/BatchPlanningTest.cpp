// The batch rules as a table: which path each output gets (a batch's own
// inputs, outputs of the same batch, files of an earlier run under both
// policies), the joined file's input limit, the volume and trims in the
// records, and that a batch that never ran leaves no output behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/batch/Batch.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TClaimCase {
  const char* Name;
  TEarlierOutputs Earlier;
  std::vector<std::string> Existing;  // files in the output folder before the batch
  std::vector<std::string> Inputs;    // the batch's sources, relative to the scratch folder
  std::vector<std::string> Titles;    // claimed in this order, all ".mp3"
  std::vector<std::string> Paths;     // what each claim gets, relative to the output folder
  std::vector<std::string> Reasons;   // what each note says ("" no note)
};

TEST(BatchPlanning, EachOutputGetsAPathThatDestroysNothing) {
  const TClaimCase cases[] = {
      {"plain names", TEarlierOutputs::Keep, {}, {"a.wav"}, {"a", "b"}, {"a.mp3", "b.mp3"}, {"", ""}},
      {"a source in the output folder", TEarlierOutputs::Replace, {}, {"out/song.mp3"}, {"song"},
       {"song (2).mp3"}, {"is an input"}},
      {"a source reached through a link", TEarlierOutputs::Replace, {}, {"link/song.mp3"}, {"song"},
       {"song (2).mp3"}, {"is an input"}},
      {"same-batch duplicates", TEarlierOutputs::Replace, {}, {}, {"dup", "dup", "dup"},
       {"dup.mp3", "dup (2).mp3", "dup (3).mp3"},
       {"", "is the output of an earlier file", "is the output of an earlier file"}},
      {"an earlier run's file, kept", TEarlierOutputs::Keep, {"old.mp3", "old (2).mp3"}, {}, {"old"},
       {"old (3).mp3"}, {"exists"}},
      {"an earlier run's file, replaced", TEarlierOutputs::Replace, {"old.mp3"}, {}, {"old"}, {"old.mp3"}, {""}},
      {"everything at once, kept", TEarlierOutputs::Keep, {"x.mp3"}, {"out/x (2).mp3"}, {"x", "x"},
       {"x (3).mp3", "x (4).mp3"}, {"exists", "exists"}},
      {"everything at once, replaced", TEarlierOutputs::Replace, {"x.mp3"}, {"out/x (2).mp3"}, {"x", "x"},
       {"x.mp3", "x (3).mp3"}, {"", "is the output of an earlier file"}},
  };
  for (const TClaimCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string dir = test::ScratchDir(), out = dir + "/out";
    fs::create_directory(out);
    fs::create_directory_symlink(out, dir + "/link");
    for (const std::string& name : c.Existing) std::ofstream(out + "/" + name) << "earlier";
    std::vector<std::string> inputs;
    for (const std::string& name : c.Inputs) {
      inputs.push_back(dir + "/" + name);
      std::ofstream(inputs.back()) << "source";
    }
    TOutputPlanner planner(out, c.Earlier, inputs);
    ASSERT_EQ(c.Titles.size(), c.Paths.size());
    for (size_t i = 0; i < c.Titles.size(); ++i) {
      const TClaimedOutput claim = planner.Claim(c.Titles[i], ".mp3");
      EXPECT_EQ(claim.Path, out + "/" + c.Paths[i]);
      if (c.Reasons[i].empty()) {
        EXPECT_EQ(claim.Note, "");
      } else {
        EXPECT_EQ(claim.Note, out + "/" + c.Titles[i] + ".mp3 " + c.Reasons[i] + ", writing " + claim.Path);
      }
    }
    // Planning alone changes no file that was there.
    for (const std::string& input : inputs) EXPECT_EQ(Read(input), "source") << input;
    for (const std::string& name : c.Existing) EXPECT_EQ(Read(out + "/" + name), "earlier") << name;
  }
}

TEST(BatchPlanning, RemovingTakesOnlyWhatTheBatchWrote) {
  const std::string dir = test::ScratchDir();
  std::ofstream(dir + "/old.mp3") << "earlier";
  TOutputPlanner planner(dir, TEarlierOutputs::Replace, {});
  const std::string untouched = planner.Claim("old", ".mp3").Path;
  const std::string fresh = planner.Claim("new", ".mp3").Path;
  const std::string other = planner.Claim("other", ".mp3").Path;
  planner.Create(fresh);
  // The conversion writes under the part file's name, never the output's.
  std::ofstream(TOutputPlanner::WritePath(fresh)) << "half a conversion";
  // A file another program made under a planned name is not the batch's.
  std::ofstream(other) << "someone else's";
  EXPECT_FALSE(planner.Remove(untouched));  // never reached: the earlier file stays
  EXPECT_EQ(Read(untouched), "earlier");
  EXPECT_TRUE(planner.Remove(fresh));
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_FALSE(fs::exists(TOutputPlanner::WritePath(fresh)));
  EXPECT_FALSE(planner.Remove(other));
  EXPECT_EQ(Read(other), "someone else's");
}

TEST(BatchPlanning, JoinedFilesReadAtMostTwentyInputs) {
  const struct {
    size_t Rows;
    bool Merge;
    bool TooMany;
  } cases[] = {{1, true, false}, {20, true, false}, {21, true, true}, {40, false, false}};
  for (const auto& c : cases) {
    TBatchSettings settings;
    settings.Merge = c.Merge;
    EXPECT_EQ(TBatch(settings, std::vector<TBatchRow>(c.Rows)).TooManyToJoin(), c.TooMany) << c.Rows;
  }
}

TEST(BatchPlanning, VolumePercentBecomes256thsRoundedToTheNearest) {
  const std::pair<int, int> cases[] = {{1, 3}, {50, 128}, {100, 256}, {33, 84}, {5000, 12800}};
  for (const auto& [percent, volume] : cases) {
    EXPECT_EQ(VolumeFromPercent(percent), volume) << percent;
    TOutputOptions record;
    FillOutputRecord(TBatchRow{}, percent, false, record);
    EXPECT_EQ(record.AudioVolume, volume) << percent;
  }
}

TEST(BatchPlanning, ARowsTrimAndFormatFillTheRecords) {
  const struct {
    int64_t Start, End;
    bool Merge;
    int64_t InStart, Length;
  } cases[] = {
      {1'000'000, 3'500'000, false, 1'000'000, 2'500'000},
      {kNoTime, 2'000'000, false, kNoTime, 2'000'000},  // an end alone counts from the beginning
      {0, -1, false, 0, kNoTime},                        // a length nobody could tell: to the end
      {2'000'000, kNoTime, false, 2'000'000, kNoTime},
      {1'000'000, 2'000'000, true, kNoTime, kNoTime},  // a joined file takes whole inputs
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Start << " " << c.End << " " << c.Merge);
    TBatchRow row;
    row.Source = "in.wav";
    row.Format = {".ogg", "libvorbis", 1, 22050, 96000, {}};
    row.TimeStart = c.Start;
    row.TimeEnd = c.End;
    TInputOptions in;
    TOutputOptions out;
    FillInputRecord(row, c.Merge, in);
    FillOutputRecord(row, 100, c.Merge, out);
    EXPECT_EQ(in.FileName, "in.wav");
    EXPECT_EQ(in.TimeStart, c.InStart);
    EXPECT_EQ(out.TimeLength, c.Length);
    EXPECT_EQ(out.Join, c.Merge);
    EXPECT_EQ(out.FileExt, ".ogg");
    EXPECT_EQ(out.AudioCodec, "libvorbis");
    EXPECT_EQ(out.AudioChannels, 1);
    EXPECT_EQ(out.AudioSampleRate, 22050);
    EXPECT_EQ(out.AudioBitrate, 96000);
    EXPECT_TRUE(out.DisableVideo);
  }
}

TEST(BatchPlanning, ABatchThatNeverRunsLeavesNoOutput) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  const std::string wav = test::SharedMedia("sonic-pi-samples__loop_tabla.flac");
  TBatchSettings settings;
  settings.Folder = dir;
  settings.EarlierOutputs = TEarlierOutputs::Replace;
  std::vector<TBatchRow> rows(3);
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].Source = i == 1 ? dir + "/missing.wav" : wav;
    rows[i].Title = "r" + std::to_string(i);
    rows[i].Format = {".wav", "pcm_s16le", 2, 44100, 0, {}};
  }
  TBatch batch(settings, rows);
  TFFEncoder encoder;
  std::vector<TQueueFailure> failures;
  EXPECT_FALSE(batch.Queue(
      encoder, [&](const TQueueFailure& AFailure) { failures.push_back(AFailure); return true; },
      [](const std::string&) {}));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].Row, 1);
  EXPECT_EQ(failures[0].Step, TQueueStep::AddTask);
  ASSERT_EQ(batch.Items().size(), 2u);
  EXPECT_EQ(batch.Items()[1].Output, dir + "/r2.wav");
  // A queued task makes no file before it starts.
  EXPECT_FALSE(fs::exists(dir + "/r0.wav"));
  const TBatchOutcome outcome = batch.Finish();
  encoder.ClearTasks();
  EXPECT_EQ(outcome.Done, 0);
  EXPECT_EQ(outcome.Stopped, 2);
  EXPECT_EQ(outcome.Removed, (std::vector<std::string>{dir + "/r0.wav", dir + "/r2.wav"}));
  EXPECT_TRUE(fs::is_empty(dir)) << "outputs of tasks that never ran are gone";
}

}  // namespace
}  // namespace quorvel
