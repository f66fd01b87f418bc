// Verifying lossless outputs in a real batch run: a faithful output passes,
// whole or trimmed; an output changed on disk between writing and
// verifying fails its row with the time of the first differing sample and
// is removed; lossy outputs are left alone, and the batch says so once.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/batch/Batch.h"
#include "media/batch/LosslessCheck.h"
#include "media/encoder/FFEncode.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/MainThread.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// Flips one byte of a WAV file's samples at AFrame (of AFrameBytes each).
void DamageWavAt(const std::string& APath, int64_t AFrame, int AFrameBytes) {
  std::fstream f(APath, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), {});
  const size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  const size_t at = data + 8 + static_cast<size_t>(AFrame * AFrameBytes) + 1;
  ASSERT_LT(at, bytes.size());
  f.seekp(static_cast<std::streamoff>(at));
  f.put(static_cast<char>(bytes[at] ^ 0x40));
}

struct TVerifyCase {
  const char* Name;
  const char* Ext;
  const char* Codec;
  int64_t Start, End;        // µs; kNoTime: whole
  bool Damage;               // change the output before it is verified
  const char* Error;         // in the row's error; null: passes
};

class LosslessCheckTest : public ::testing::TestWithParam<TVerifyCase> {};

TEST_P(LosslessCheckTest, AnOutputPassesOnlyWhenItsSamplesAreTheSources) {
  const TVerifyCase& c = GetParam();
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  InstallMainThread(nullptr);
  const std::string dir = test::ScratchDir();
  const std::string source = dir + "/source.flac";
  ASSERT_EQ(test::Run("sox -n -r 96000 -b 24 -c 2 '" + source + "' synth 1.5 sine 440 sine 660 gain -6"), 0);
  fs::create_directory(dir + "/out");

  TBatchSettings settings;
  settings.Folder = dir + "/out";
  settings.VerifyLossless = true;
  // Where the check runs: on the worker that wrote the output, before the
  // task's end is delivered, not on the thread that handles the end.
  std::mutex lock;
  std::thread::id checkedOn, deliveredOn;
  bool checkedBeforeDelivery = false;
  settings.BeforeVerify = [&, damage = c.Damage](const std::string& AOutput) {
    if (damage) DamageWavAt(AOutput, 48000, 6);
    std::lock_guard<std::mutex> guard(lock);
    checkedOn = std::this_thread::get_id();
    checkedBeforeDelivery = deliveredOn == std::thread::id();
  };
  TBatchRow row;
  row.Source = source;
  row.Title = "out";
  row.Format = {c.Ext, c.Codec, 0, 0, 1411200, {}};
  row.TimeStart = c.Start;
  row.TimeEnd = c.End;
  TBatch batch(settings, {row});

  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = false;
  std::condition_variable ended;
  bool runEnded = false;
  std::string failure;
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& AInfo) {
    if (AInfo.TaskIndex < 0) {
      std::lock_guard<std::mutex> guard(lock);
      runEnded = true;
      ended.notify_all();
      return;
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      deliveredOn = std::this_thread::get_id();
    }
    const std::string error = batch.TaskEnded(AInfo);
    std::lock_guard<std::mutex> guard(lock);
    failure = error;
    if (AInfo.Exception) failure = AInfo.ExceptionMsg;
  };
  std::vector<std::string> notes;
  ASSERT_TRUE(batch.Queue(
      encoder, [](const TQueueFailure& AFailure) { ADD_FAILURE() << AFailure.Message; return false; },
      [&](const std::string& ANote) { notes.push_back(ANote); }));
  encoder.Start(1);
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(ended.wait_for(guard, std::chrono::seconds(120), [&] { return runEnded; }));
  }
  encoder.ClearTasks();
  const TBatchOutcome outcome = batch.Finish();
  const std::string output = batch.Items()[0].Output;
  if (!c.Error) {
    EXPECT_EQ(failure, "");
    EXPECT_EQ(outcome.Done, 1);
    EXPECT_TRUE(fs::exists(output));
  } else {
    EXPECT_NE(failure.find(c.Error), std::string::npos) << failure;
    EXPECT_EQ(outcome.Failed, 1);
    EXPECT_FALSE(fs::exists(output)) << "a output that failed its check is removed";
  }
  EXPECT_TRUE(notes.empty()) << notes[0];
  EXPECT_NE(checkedOn, std::thread::id()) << "checked";
  EXPECT_TRUE(checkedBeforeDelivery) << "checked as the task ended, before its end was delivered";
  EXPECT_NE(checkedOn, deliveredOn) << "not on the thread that handles the end";
  EXPECT_NE(checkedOn, std::this_thread::get_id());
}

const TVerifyCase kVerifyCases[] = {
    {"FlacWhole", ".flac", "flac", kNoTime, kNoTime, false, nullptr},
    {"AlacWhole", ".m4a", "alac", kNoTime, kNoTime, false, nullptr},
    {"WavTrimmed", ".wav", "original", 250000, 1000000, false, nullptr},
    {"AiffTrimmed", ".aiff", "original", 400000, kNoTime, false, nullptr},
    // The frame at 0.5 s (48000 at 96 kHz) of the 24-bit stereo output.
    {"WavChangedOnDisk", ".wav", "original", kNoTime, kNoTime, true,
     "verification failed: the output differs from the source at 00:00:00.500"},
};

INSTANTIATE_TEST_SUITE_P(Verify, LosslessCheckTest, ::testing::ValuesIn(kVerifyCases),
                         [](const ::testing::TestParamInfo<TVerifyCase>& AInfo) { return AInfo.param.Name; });

TEST(LosslessCheck, LossyOutputsAreNotVerifiedAndTheBatchSaysSoOnce) {
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  TBatchSettings settings;
  settings.Folder = dir;
  settings.VerifyLossless = true;
  std::vector<TBatchRow> rows(2);
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].Source = test::SharedMedia("sonic-pi-samples__loop_tabla.flac");
    rows[i].Title = "r" + std::to_string(i);
    rows[i].Format = i == 0 ? TBatchFormat{".mp3", "libmp3lame", 2, 44100, 128000, {}}
                            : TBatchFormat{".flac", "flac", 0, 0, 700000, {}};
  }
  TBatch batch(settings, rows);
  TFFEncoder encoder;
  std::vector<std::string> notes;
  EXPECT_TRUE(batch.Queue(
      encoder, [](const TQueueFailure&) { return true; }, [&](const std::string& ANote) { notes.push_back(ANote); }));
  EXPECT_EQ(notes, (std::vector<std::string>{"lossy outputs are not verified"}));
  EXPECT_TRUE(IsLosslessCodec("pcm_s24be"));
  EXPECT_FALSE(IsLosslessCodec("libopus"));
  batch.Finish();
  encoder.ClearTasks();
}

}  // namespace
}  // namespace quorvel
