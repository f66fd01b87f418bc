// A scratch file of the fuzzing process's own, for readers that take a path:
// the input's bytes are written to it before each run.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorvel::fuzz {

// A folder of this process's own under the temporary folder, made once.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvel-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return folder;
}

inline void WriteFile(const std::string& APath, const uint8_t* AData, size_t ASize) {
  FILE* f = std::fopen(APath.c_str(), "wb");
  if (!f) std::abort();
  if (ASize && std::fwrite(AData, 1, ASize, f) != ASize) std::abort();
  std::fclose(f);
}

}  // namespace quorvel::fuzz
