// The option records, the option text, and how the task operations turn
// them into a job's settings (no run needed).
#include <ctime>

#include "EncoderTestSupport.h"

namespace quorvel {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

Lines Split(const std::string& AText) {
  Lines lines;
  for (const TOptionLine& line : SplitOptionText(AText)) lines.emplace_back(line.Name, line.Value);
  return lines;
}

TEST(OptionTextTest, SplitsLinesAsTheRulesSay) {
  const struct {
    const char* Text;
    Lines Expected;
  } cases[] = {
      {"ab=128k<CRLF>ar=44100", {{"ab", "128k"}, {"ar", "44100"}}},
      {"  a=1\r\nb=2\rc=3\n  ", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"a=1\n\nb", {{"a", "1"}, {"", ""}, {"b", ""}}},
      {"metadata=title=x", {{"metadata", "title=x"}}},
      {"Name = v ", {{"Name ", " v"}}},  // only the whole text is trimmed
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.Text), c.Expected) << c.Text;
}

TEST(OptionTextTest, InputTextFormTakesTimeStart) {
  TInputOptions o = InputOptionsFromText("TIMESTART=1500000<CRLF>ss=3");
  EXPECT_EQ(o.TimeStart, 1500000);
  EXPECT_EQ(o.ExtOptions, "ss=3\n");
  EXPECT_EQ(InputOptionsFromText("timestart=soon").TimeStart, kNoTime);
}

TEST(OptionTextTest, OutputTextFormTakesFlagsNumbersAndTimes) {
  const struct {
    const char* Text;
    bool Join;
    int Bits;
    int64_t Length;
    const char* Ext;
  } cases[] = {
      {"Join=1", true, 24, kNoTime, ""},
      {"join=0", false, 24, kNoTime, ""},
      {"JOIN=", true, 24, kNoTime, ""},
      {"Join=yes<CRLF>VideoHookBitsPixel=32", true, 32, kNoTime, ""},
      {"VideoHookBitsPixel=deep<CRLF>TimeLength=2000000", false, 24, 2000000, ""},
      {"TimeLength=x<CRLF>acodec=aac<CRLF>ab=96k", false, 24, kNoTime, "acodec=aac\nab=96k\n"},
  };
  for (const auto& c : cases) {
    TOutputOptions o = OutputOptionsFromText(c.Text);
    EXPECT_EQ(o.Join, c.Join) << c.Text;
    EXPECT_EQ(o.VideoHookBitsPixel, c.Bits) << c.Text;
    EXPECT_EQ(o.TimeLength, c.Length) << c.Text;
    EXPECT_EQ(o.ExtOptions, c.Ext) << c.Text;
  }
  TOutputOptions hooks = OutputOptionsFromText("AudioHook=1\nvideoinputhook=0\nVideoOutputHook=");
  EXPECT_TRUE(hooks.AudioHook);
  EXPECT_FALSE(hooks.VideoInputHook);
  EXPECT_TRUE(hooks.VideoOutputHook);
}

TEST(OptionRecordTest, ResetRestoresEveryDefault) {
  TOutputOptions o;
  o.AudioVolume = 3;
  o.TargetType = ttDVD;
  o.Info.TimeStamp = 5;
  o.Join = true;
  o.ExtOptions = "x";
  InitOutputOptions(o);
  EXPECT_EQ(o.AudioVolume, -1);
  EXPECT_EQ(o.TargetType, ttIgnore);
  EXPECT_EQ(o.NormDefault, ntPAL);
  EXPECT_EQ(o.Info.TimeStamp, -1.0);
  EXPECT_EQ(o.VideoHookBitsPixel, 24);
  EXPECT_EQ(o.VideoSyncMethod, -1);
  EXPECT_FALSE(o.Join);
  EXPECT_TRUE(o.ExtOptions.empty());
  TInputOptions i;
  i.ProgramID = 4;
  i.TimeStart = 0;
  InitInputOptions(i);
  EXPECT_EQ(i.ProgramID, -1);
  EXPECT_EQ(i.TimeStart, kNoTime);
}

// --- records applied to a task's job ---

class TaskOptionsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { test::LoadEncoderLibraries(); }
  void SetUp() override {
    dir = test::ScratchDir();
    input = test::MakeWav(dir, "in.wav", 0.5);
  }
  // A task with one input; its index.
  int Task() {
    const int index = encoder.AddTask(input);
    EXPECT_EQ(index, encoder.TasksCount() - 1) << encoder.LastErrMsg();
    return index;
  }
  std::string Meta(int ATask, const char* AKey) {
    const AVDictionaryEntry* e = avutil.av_dict_get(encoder.Tasks(ATask)->OutputFile(0)->metadata, AKey, nullptr, 0);
    return e ? e->value : "";
  }

  std::string dir, input;
  TFFEncoder encoder;
};

TEST_F(TaskOptionsTest, RecordFileNameIsFilledOnlyWhenEmpty) {
  TInputOptions blank;
  ASSERT_EQ(encoder.AddTask(input, &blank), 0) << encoder.LastErrMsg();
  EXPECT_EQ(blank.FileName, input);
  TInputOptions named;
  named.FileName = "elsewhere.wav";
  ASSERT_EQ(encoder.AddTask(input, &named), 1) << encoder.LastErrMsg();
  EXPECT_EQ(named.FileName, "elsewhere.wav");
  EXPECT_EQ(encoder.Tasks(1)->InputOptions(0).FileName, "elsewhere.wav");
  EXPECT_NE(std::string(encoder.Tasks(1)->InputFile(0)->url).find("in.wav"), std::string::npos);
  // The task's decoder reads the job's own input.
  ASSERT_NE(encoder.Tasks(1)->InputDecoder(0), nullptr);
  EXPECT_EQ(encoder.Tasks(1)->InputDecoder(0)->FileHandle(), encoder.Tasks(1)->InputFile(0));
}

TEST_F(TaskOptionsTest, InputTextSkipsStreamLinesAndFailsWholeOnABadOption) {
  TInputOptions o;
  o.ExtOptions = "newaudio<CRLF>vf=scale=2:2<CRLF>apre=nonesuch<CRLF>\n<CRLF>ab=128k";
  EXPECT_EQ(encoder.AddTask(input, &o), 0) << encoder.LastErrMsg();
  o.ExtOptions = "no_such_option=1";
  EXPECT_EQ(encoder.AddTask(input, &o), -1);
  EXPECT_FALSE(encoder.LastErrMsg().empty());
  EXPECT_EQ(encoder.TasksCount(), 1);
  EXPECT_EQ(encoder.AddTask(dir + "/missing.wav"), -1);
  EXPECT_NE(encoder.LastErrMsg().find("missing.wav"), std::string::npos) << encoder.LastErrMsg();
}

TEST_F(TaskOptionsTest, AcodecLineBecomesTheDefaultAndNewAudioPairsInOrder) {
  const int t = Task();
  TOutputOptions o;
  o.ExtOptions = "acodec=libmp3lame";
  ASSERT_TRUE(encoder.SetOutputFile(t, dir + "/a.mp3", &o)) << encoder.LastErrMsg();
  const auto& first = encoder.Tasks(t)->OutputCodecs();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_NE(first[0], nullptr);
  EXPECT_STREQ(first[0]->name, "libmp3lame");

  const int u = Task();
  TOutputOptions two;
  two.AudioCodec = "libmp3lame";
  two.ExtOptions = "newaudio<CRLF>acodec=aac<CRLF>newaudio";
  ASSERT_TRUE(encoder.SetOutputFile(u, dir + "/b.mka", &two)) << encoder.LastErrMsg();
  std::vector<std::string> names;
  for (const AVCodec* c : encoder.Tasks(u)->OutputCodecs()) names.push_back(c ? c->name : "");
  EXPECT_EQ(names, (std::vector<std::string>{"libmp3lame", "aac", "libmp3lame"}));
}

TEST_F(TaskOptionsTest, VolumeRecordLeavesOrSetsTheJobVolume) {
  for (const auto& [volume, expected] : {std::pair{-1, 256}, {0, 0}, {512, 512}}) {
    const int t = Task();
    TOutputOptions o;
    o.AudioVolume = volume;
    ASSERT_TRUE(encoder.SetOutputFile(t, dir + "/v" + std::to_string(t) + ".mp3", &o)) << encoder.LastErrMsg();
    EXPECT_EQ(encoder.Tasks(t)->Settings().Faudio_volume, expected) << volume;
  }
}

TEST_F(TaskOptionsTest, TimeStampAndTagsBecomeMetadata) {
  const int none = Task();
  TOutputOptions o;
  ASSERT_TRUE(encoder.SetOutputFile(none, dir + "/n.mp3", &o)) << encoder.LastErrMsg();
  EXPECT_EQ(Meta(none, "creation_time"), "");

  const int now = Task();
  TOutputOptions n;
  n.Info.TimeStamp = 0;
  n.Info.Title = "Song";
  n.Info.Year = 1999;
  n.Info.Track = 0;
  ASSERT_TRUE(encoder.SetOutputFile(now, dir + "/t.mp3", &n)) << encoder.LastErrMsg();
  char year[8];
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  std::strftime(year, sizeof(year), "%Y", &utc);
  EXPECT_EQ(Meta(now, "creation_time").substr(0, 4), year);
  EXPECT_EQ(Meta(now, "title"), "Song");
  EXPECT_EQ(Meta(now, "year"), "1999");
  EXPECT_EQ(Meta(now, "track"), "");

  // 2001-02-03 04:05:06 local time as a day count.
  const int dated = Task();
  TOutputOptions d;
  d.Info.TimeStamp = 36925 + (4 * 3600 + 5 * 60 + 6) / 86400.0;
  ASSERT_TRUE(encoder.SetOutputFile(dated, dir + "/d.mp3", &d)) << encoder.LastErrMsg();
  std::tm local{};
  local.tm_year = 101, local.tm_mon = 1, local.tm_mday = 3, local.tm_hour = 4, local.tm_min = 5, local.tm_sec = 6;
  local.tm_isdst = -1;
  const std::time_t expected = std::mktime(&local);
  gmtime_r(&expected, &utc);
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
  EXPECT_EQ(Meta(dated, "creation_time").substr(0, 19), text);
}

TEST_F(TaskOptionsTest, TargetDecidesTheAudioBitRate) {
  for (const TOptionTargetType target : {ttIgnore, ttVCD}) {
    const int t = Task();
    TOutputOptions o;
    o.AudioBitrate = 128000;
    o.TargetType = target;
    o.NormType = ntPAL;
    ASSERT_TRUE(encoder.SetOutputFile(t, dir + "/r" + std::to_string(t) + ".mpg", &o)) << encoder.LastErrMsg();
    const int64_t rate = encoder.Tasks(t)->Options()->CodecOptions(AVMEDIA_TYPE_AUDIO)->bit_rate;
    if (target == ttIgnore)
      EXPECT_EQ(rate, 128000);
    else
      EXPECT_NE(rate, 128000);
  }
}

TEST_F(TaskOptionsTest, TextFormJoinSetsJoinMode) {
  for (const auto& [text, join] : {std::pair{"Join=1", true}, {"Join=", true}, {"Join=0", false}}) {
    const int t = Task();
    ASSERT_TRUE(encoder.AddInputFile(t, input, std::string("TimeStart=0"))) << encoder.LastErrMsg();
    ASSERT_TRUE(encoder.SetOutputFile(t, dir + "/j" + std::to_string(t) + ".mp3", std::string(text)))
        << encoder.LastErrMsg();
    EXPECT_EQ(encoder.Tasks(t)->JoinMode(), join) << text;
    EXPECT_EQ(encoder.Tasks(t)->OutputOptions(0).Join, join) << text;
  }
}

TEST_F(TaskOptionsTest, TheTwentyFirstInputAndOutputAreRefused) {
  const int t = Task();
  for (int i = 1; i < 20; ++i) ASSERT_TRUE(encoder.AddInputFile(t, input)) << i << encoder.LastErrMsg();
  EXPECT_FALSE(encoder.AddInputFile(t, input));
  EXPECT_EQ(encoder.LastErrMsg(), "max input files 20 reached");

  encoder.CustomMaxFiles = 1;
  const int u = Task();
  ASSERT_TRUE(encoder.SetOutputFile(u, dir + "/o1.mp3")) << encoder.LastErrMsg();
  EXPECT_FALSE(encoder.SetOutputFile(u, dir + "/o2.mp3"));
  EXPECT_EQ(encoder.LastErrMsg(), "max output files 1 reached");
  EXPECT_THROW(encoder.AddInputFile(7, input), Exception);
}

TEST_F(TaskOptionsTest, PropertiesKeepTheirRules) {
  EXPECT_EQ(encoder.ProgressInterval(), 500);
  encoder.SetProgressInterval(50);
  EXPECT_EQ(encoder.ProgressInterval(), 100);
  encoder.SetProgressInterval(250);
  EXPECT_EQ(encoder.ProgressInterval(), 250);
  EXPECT_EQ(encoder.ReadTimeout, 10000);
  EXPECT_EQ(encoder.Verbose, 1);
  EXPECT_EQ(encoder.CustomMaxFiles, 20);
  EXPECT_TRUE(encoder.TriggerEventInMainThread);
  EXPECT_TRUE(encoder.AVLibLoaded());
  Task();
  encoder.Pause();  // not working: nothing happens
  EXPECT_FALSE(encoder.Paused());
  const std::string other = test::MakeWav(dir, "other.wav", 0.5);
  ASSERT_EQ(encoder.AddTask(other), 1) << encoder.LastErrMsg();
  // The task last added keeps its job while it is configured; a queued one
  // holds none.
  TFFmpeg* const configured = encoder.Tasks(1);
  ASSERT_NE(configured, nullptr);
  EXPECT_EQ(encoder.Tasks(0), nullptr);
  encoder.Exchange(0, 1);
  EXPECT_EQ(encoder.TaskInput(0, 0).FileName, other);
  EXPECT_EQ(encoder.TaskInput(1, 0).FileName, input);
  EXPECT_EQ(encoder.GetTaskIndex(configured), 0);
  encoder.RemoveTask(0);
  EXPECT_EQ(encoder.TasksCount(), 1);
  EXPECT_EQ(encoder.TaskInput(0, 0).FileName, input);
  EXPECT_THROW(encoder.RemoveTask(3), Exception);
}

}  // namespace
}  // namespace quorvel
