// Shared pieces of the encoder tests: short generated inputs and the
// libraries the encoder needs.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "media/encoder/FFEncode.h"
#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel::test {

inline void LoadEncoderLibraries() {
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
}

// A 16-bit stereo 44.1 kHz sine of ASeconds as a WAV file.
inline std::string MakeWav(const std::string& ADir, const std::string& AName, double ASeconds) {
  const std::string path = ADir + "/" + AName;
  const int rate = 44100, channels = 2;
  const uint32_t frames = static_cast<uint32_t>(ASeconds * rate);
  const uint32_t bytes = frames * channels * 2;
  std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
  for (uint32_t i = 0; i < frames; ++i)
    samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440.0 * i / rate));
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr) << path;
  if (!f) return path;
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(36 + bytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16);
  u16(1);
  u16(channels);
  u32(rate);
  u32(rate * channels * 2);
  u16(channels * 2);
  u16(16);
  std::fwrite("data", 1, 4, f);
  u32(bytes);
  std::fwrite(samples.data(), 2, samples.size(), f);
  std::fclose(f);
  return path;
}

}  // namespace quorvel::test
