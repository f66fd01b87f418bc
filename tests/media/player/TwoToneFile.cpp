// The two-stream file of the stream-switch tests, made by a conversion job.
// Kept apart from the player's test support: the engine's and the player's
// headers each declare their own hook types.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel::test {

std::string WriteTwoToneFile(const std::string& APath, double AFirstHz, double ASecondHz, double ASeconds) {
  // Two sox tones, each the only stream of its WAV, mapped by a conversion
  // job into the two audio streams of one file.
  EXPECT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  std::vector<std::string> tones;
  for (const double hz : {AFirstHz, ASecondHz}) {
    tones.push_back(APath + "." + std::to_string(static_cast<int>(hz)) + ".wav");
    const std::string cmd = "sox -D -n -r 44100 -c 2 -b 16 '" + tones.back() + "' synth " + std::to_string(ASeconds) +
                            " sine " + std::to_string(hz) + " vol 0.5";
    EXPECT_EQ(Run(cmd), 0) << cmd;
  }
  TCustomFFmpeg job(2);
  for (const std::string& tone : tones) EXPECT_TRUE(job.open_input_file(tone)) << job.LastErrMsg();
  job.SetExtOption("map", "0.0");
  job.SetExtOption("map", "1.0");
  job.SetExtOption("acodec", "pcm_s16le");
  EXPECT_EQ(job.open_output_file(APath, true), 1) << job.LastErrMsg();
  // The output's second audio stream, with the same codec.
  job.SetExtOption("acodec", "pcm_s16le");
  job.SetExtOption("newaudio", "");
  job.StartConvert(false);
  EXPECT_FALSE(job.FatalException()) << job.FatalMessage();
  for (const std::string& tone : tones) std::filesystem::remove(tone);
  return APath;
}

}  // namespace quorvel::test
