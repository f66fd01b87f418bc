// The process-wide media runtime's lifetime. A program creates one
// MediaRuntime at the start of main, before any library is loaded, and lets
// it go at the end: the start saves the floating-point environment, masks
// every floating-point exception (the media libraries compute with masked
// exceptions) and has large blocks mapped apart from the heap (a batch opens
// thousands of files, whose buffers would fragment it); the end marks the process as finalizing (the codec lock then
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
