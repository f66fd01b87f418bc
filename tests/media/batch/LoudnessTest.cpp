// Loudness measurement against the EBU's minimum requirements: the
// stationary integrated-loudness cases (gates included), the loudness range
// cases and sines whose samples miss their crest (true peak), each made
// with sox at test time and measured the way --analyse and normalising
// measure a file (decoded with the program's decoder).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/batch/LoudnessAnalysis.h"
#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

constexpr double kUnchecked = NAN;

struct TMeasureCase {
  const char* Name;
  int Rate;
  int Channels;
  // sox synth arguments of each part, played one after another.
  std::vector<std::string> Parts;
  double Integrated, IntegratedTolerance;  // LUFS, ±LU
  double Range, RangeTolerance;            // LU
  double TruePeak;                         // dBTP, within +0.2/-0.4 dB
  double SamplePeakBelow;                  // the sample peak lies at least this far under the true peak
};

std::string Sine(double ASeconds, double ADb) {
  return "synth " + std::to_string(ASeconds) + " sine 1000 gain " + std::to_string(ADb);
}

const TMeasureCase kCases[] = {
    // Tech 3341: 1 kHz stereo sines; their loudness is their peak level.
    {"Sine23", 48000, 2, {Sine(20, -23)}, -23, 0.1, kUnchecked, 0, kUnchecked, 0},
    {"Sine33", 48000, 2, {Sine(20, -33)}, -33, 0.1, kUnchecked, 0, kUnchecked, 0},
    {"RelativeGate", 48000, 2, {Sine(10, -36), Sine(60, -23), Sine(10, -36)}, -23, 0.1, kUnchecked, 0, kUnchecked, 0},
    {"BothGates", 48000, 2, {Sine(10, -72), Sine(10, -36), Sine(60, -23), Sine(10, -36), Sine(10, -72)}, -23, 0.1,
     kUnchecked, 0, kUnchecked, 0},
    {"Steps", 48000, 2, {Sine(20, -26), Sine(20.1, -20), Sine(20, -26)}, -23, 0.1, kUnchecked, 0, kUnchecked, 0},
    // Five channels, the surround pair weighted by 1.41 (+1.5 dB).
    {"FiveChannels", 48000, 5,
     {"synth 20 sine 1000 sine 1000 sine 1000 sine 1000 sine 1000 remix 1v0.0398107 2v0.0398107 3v0.0630957 "
      "4v0.0316228 5v0.0316228"},
     -23, 0.1, kUnchecked, 0, kUnchecked, 0},
    // Tech 3342: loudness range.
    {"Range10", 48000, 2, {Sine(20, -20), Sine(20, -30)}, kUnchecked, 0, 10, 1, kUnchecked, 0},
    {"Range5", 48000, 2, {Sine(20, -20), Sine(20, -15)}, kUnchecked, 0, 5, 1, kUnchecked, 0},
    {"Range20", 48000, 2, {Sine(20, -40), Sine(20, -20)}, kUnchecked, 0, 20, 1, kUnchecked, 0},
    {"Range15", 48000, 2, {Sine(20, -50), Sine(20, -35), Sine(20, -20), Sine(20, -35), Sine(20, -50)}, kUnchecked, 0,
     15, 1, kUnchecked, 0},
    // A quarter of the sample rate at 45 degrees: every sample at 0.707 of
    // the crest, 3 dB under the true peak.
    {"QuarterRate48k", 48000, 2, {"synth 5 sine 12000 0 12.5 gain -6.0206"}, kUnchecked, 0, kUnchecked, 0, -6.0206, 2.9},
    {"QuarterRate44k", 44100, 2, {"synth 5 sine 11025 0 12.5 gain -1"}, kUnchecked, 0, kUnchecked, 0, -1, 2.9},
    // The meter skips stretches that cannot beat the peak found so far: a
    // louder crest after (or before) a quieter one must still be the one found.
    {"QuarterRateAfterQuieter", 44100, 2, {"synth 3 sine 11025 0 12.5 gain -12", "synth 3 sine 11025 0 12.5 gain -3"},
     kUnchecked, 0, kUnchecked, 0, -3, 2.9},
    {"QuarterRateBeforeQuieter", 44100, 2, {"synth 3 sine 11025 0 12.5 gain -3", "synth 3 sine 11025 0 12.5 gain -12"},
     kUnchecked, 0, kUnchecked, 0, -3, 2.9},
    // In phase, the samples hit the crest: both peaks the same.
    {"QuarterRateOnCrest", 48000, 2, {"synth 5 sine 12000 0 25 gain -3"}, kUnchecked, 0, kUnchecked, 0, -3, 0},
};

class LoudnessMeasureTest : public ::testing::TestWithParam<TMeasureCase> {};

TEST_P(LoudnessMeasureTest, MeetsTheEbuMinimumRequirements) {
  const TMeasureCase& c = GetParam();
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  std::string parts;
  for (size_t i = 0; i < c.Parts.size(); ++i) {
    const std::string part = dir + "/part" + std::to_string(i) + ".wav";
    ASSERT_EQ(test::Run("sox -n -r " + std::to_string(c.Rate) + " -c " + std::to_string(c.Channels) + " -b 24 '" +
                        part + "' " + c.Parts[i]),
              0);
    parts += " '" + part + "'";
  }
  const std::string file = dir + "/case.wav";
  ASSERT_EQ(test::Run("sox" + parts + " '" + file + "'"), 0);

  const TLoudnessAnalysis a = AnalyseLoudness(file);
  ASSERT_TRUE(a.Meter) << a.Error;
  const TLoudness r = a.Meter->Result();
  ASSERT_TRUE(r.Valid);
  if (!std::isnan(c.Integrated)) EXPECT_NEAR(r.Integrated, c.Integrated, c.IntegratedTolerance);
  if (!std::isnan(c.Range)) EXPECT_NEAR(r.Range, c.Range, c.RangeTolerance);
  if (!std::isnan(c.TruePeak)) {
    EXPECT_LE(r.TruePeak, c.TruePeak + 0.2);
    EXPECT_GE(r.TruePeak, c.TruePeak - 0.4);
    EXPECT_LE(r.SamplePeak, r.TruePeak - c.SamplePeakBelow + 0.05);
  }
}

INSTANTIATE_TEST_SUITE_P(Ebu, LoudnessMeasureTest, ::testing::ValuesIn(kCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// An album is the gated loudness of all its audio, not the mean of the
// files' figures: a long quiet file and a short loud one differ by more
// than half a decibel between the two.
TEST(LoudnessAlbum, IsTheMergedMeasurementNotTheMeanOfTracks) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 24 '" + dir + "/quiet.wav' " + Sine(60, -30)), 0);
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 '" + dir + "/loud.wav' " + Sine(5, -12)), 0);
  const TLoudnessAnalysis quiet = AnalyseLoudness(dir + "/quiet.wav");
  const TLoudnessAnalysis loud = AnalyseLoudness(dir + "/loud.wav");
  ASSERT_TRUE(quiet.Meter && loud.Meter);
  const TLoudness album = TLoudnessMeter::Album({quiet.Meter.get(), loud.Meter.get()});
  const double mean = (quiet.Meter->Result().Integrated + loud.Meter->Result().Integrated) / 2;
  // The energy of the gating blocks (400 ms every 100 ms: 597 of the file
  // at -30, 47 of the one at -12, all above the relative gate).
  const double expected = 10 * std::log10((597 * std::pow(10, -3.0) + 47 * std::pow(10, -1.2)) / 644);
  EXPECT_NEAR(album.Integrated, expected, 0.1);
  EXPECT_GT(std::fabs(album.Integrated - mean), 0.5);
  EXPECT_NEAR(album.TruePeak, -12, 0.2);
}

}  // namespace
}  // namespace quorvel
