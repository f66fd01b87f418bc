// Shared pieces of the engine tests: the libraries a job needs, a job that
// exposes its settings, and a capture of the log collector's lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "support/TestPaths.h"

namespace quorvel::test {

inline void LoadEngineLibraries() {
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
}

// The message of the error an option raises, or "" when it raises none.
inline std::string OptionError(TCustomFFmpeg& AJob, const std::string& AName, const std::string& AValue) {
  try {
    AJob.SetExtOption(AName, AValue);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

// Collects every line the log collector hands out while it lives.
class TLogCapture {
public:
  TLogCapture() {
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([this](TObject*, uint32_t, TLogLevel ALevel, const std::string& AText) {
      std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({ALevel, AText});
    });
  }
  ~TLogCapture() { FFLogger().SetOnLog(nullptr); }

  bool Contains(const std::string& AText, TLogLevel ALevel) const {
    std::lock_guard<std::mutex> lock(FLock);
    return std::any_of(FLines.begin(), FLines.end(), [&](const auto& line) {
      return line.second.find(AText) != std::string::npos && line.first == ALevel;
    });
  }
  std::vector<std::string> Texts() const {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<std::string> texts;
    for (const auto& line : FLines) texts.push_back(line.second);
    return texts;
  }

private:
  mutable std::mutex FLock;
  std::vector<std::pair<TLogLevel, std::string>> FLines;  // guarded by FLock
};

// A sox-made sine wave.
inline std::string MakeWave(const std::string& ADir, const std::string& AName, int ARate, int AChannels,
                            double ASeconds) {
  const std::string path = ADir + "/" + AName;
  EXPECT_EQ(Run("sox -n -r " + std::to_string(ARate) + " -c " + std::to_string(AChannels) + " -b 16 '" + path +
                "' synth " + std::to_string(ASeconds) + " sine 440 vol 0.5"),
            0);
  return path;
}

}  // namespace quorvel::test
