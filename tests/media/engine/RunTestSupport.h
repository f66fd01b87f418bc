// Shared pieces of the run tests: file sizes, option lists and sox-made
// tones (outputs are read back with support/DecodeBack.h).
#pragma once

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EngineTestSupport.h"
#include "support/DecodeBack.h"

namespace quorvel::test {

inline int64_t FileSizeOf(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

inline bool FileExists(const std::string& APath) { return FileSizeOf(APath) >= 0; }

using TOptionList = std::vector<std::pair<std::string, std::string>>;

inline void ApplyOptions(TCustomFFmpeg& AJob, const TOptionList& AOptions) {
  for (const auto& [name, value] : AOptions) AJob.SetExtOption(name, value);
}

// A sox-made tone: ASeconds of a sine at AFrequency with amplitude
// AAmplitude (of full scale).
inline std::string MakeTone(const std::string& ADir, const std::string& AName, int ARate, int AChannels,
                            double ASeconds, double AAmplitude = 0.5, int ABits = 16, int AFrequency = 440) {
  const std::string path = ADir + "/" + AName;
  const std::string cmd = "sox -D -n -r " + std::to_string(ARate) + " -c " + std::to_string(AChannels) + " -b " +
                          std::to_string(ABits) + " '" + path + "' synth " + std::to_string(ASeconds) + " sine " +
                          std::to_string(AFrequency) + " vol " + std::to_string(AAmplitude);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return path;
}

}  // namespace quorvel::test
