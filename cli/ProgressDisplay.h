// What the user sees while a batch runs. On a terminal: one status line at
// the bottom (a bar for the whole batch, each running file's percent, time
// spent and time left), redrawn in place, with result lines scrolling above
// it. Elsewhere (a pipe, a log file): plain lines only, the batch's progress
// every tenth of the way.
//
// Threads: every member may be called from any thread (progress comes on
// the workers, results on the delivery threads, ticks on the main thread);
// FLock guards all state and the output streams' lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "media/batch/BatchRules.h"

namespace quorvel::cli {

class TProgressDisplay {
public:
  TProgressDisplay(std::FILE* AOut, std::FILE* AErr, bool ATerminal);

  // The tasks of the run: their short names and expected durations (µs, ≤0
  // unknown). Starts the clock.
  void Begin(std::vector<std::string> ANames, std::vector<int64_t> AWeights);
  // Task ATask has reached ACurrent of ATotal µs.
  void Progress(int ATask, int64_t ACurrent, int64_t ATotal);
  // Task ATask has ended (either way): it counts as whole from now on.
  void TaskEnded(int ATask);
  // A line on the standard output / the standard error, above the bar.
  void Line(const std::string& AText);
  void Error(const std::string& AText);
  // Redraws the bar (the elapsed time moves on its own).
  void Tick();
  // Clears the bar for good.
  void End();

  double ElapsedSeconds() const;

private:
  void ClearBar();  // FLock held
  void DrawBar();   // FLock held
  double Fraction() const;  // FLock held

  mutable std::mutex FLock;
  std::FILE* FOut;
  std::FILE* FErr;
  const bool FTerminal;
  bool FBarShown = false;
  bool FEnded = false;
  int FPlainStep = 0;  // plain mode: tenths already reported
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
  std::vector<std::string> FNames;
  std::vector<int64_t> FWeights;
  std::vector<double> FFractions;
  std::map<int, bool> FRunning;  // tasks that reported progress and have not ended
};

}  // namespace quorvel::cli
