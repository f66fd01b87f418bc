// The process-wide media runtime's lifetime. A program creates one
// MediaRuntime at the start of main, before any library is loaded, and lets
// it go at the end: the start saves the floating-point environment and masks
// every floating-point exception (the media libraries compute with masked
// exceptions); the end marks the process as finalizing (the codec lock then
// answers without acting), unloads all eight libraries and restores the
// floating-point environment.
#pragma once

#include <cfenv>

namespace quorvel {

class MediaRuntime {
public:
  MediaRuntime();
  ~MediaRuntime();
  MediaRuntime(const MediaRuntime&) = delete;
  MediaRuntime& operator=(const MediaRuntime&) = delete;

private:
  std::fenv_t FSavedEnv;
};

// True while the process is ending (between ~MediaRuntime's start and end).
bool Finalizing();

}  // namespace quorvel
