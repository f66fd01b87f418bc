#include "cli/ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

std::string Duration(double ASeconds) {
  const long s = std::lround(std::max(0.0, ASeconds));
  return s >= 3600 ? Format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60) : Format("%02ld:%02ld", s / 60, s % 60);
}

int TerminalWidth(std::FILE* AStream) {
  winsize size{};
  if (::ioctl(::fileno(AStream), TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

}  // namespace

TProgressDisplay::TProgressDisplay(std::FILE* AOut, std::FILE* AErr, bool ATerminal)
    : FOut(AOut), FErr(AErr), FTerminal(ATerminal) {}

void TProgressDisplay::Begin(std::vector<std::string> ANames, std::vector<int64_t> AWeights) {
  std::lock_guard<std::mutex> lock(FLock);
  FNames = std::move(ANames);
  FWeights = std::move(AWeights);
  FWeights.resize(FNames.size(), 0);
  FFractions.assign(FNames.size(), 0.0);
  FStart = std::chrono::steady_clock::now();
}

double TProgressDisplay::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

double TProgressDisplay::Fraction() const { return BatchFraction(FWeights, FFractions); }

void TProgressDisplay::Progress(int ATask, int64_t ACurrent, int64_t ATotal) {
  std::lock_guard<std::mutex> lock(FLock);
  if (ATask < 0 || static_cast<size_t>(ATask) >= FFractions.size() || FEnded) return;
  if (ATotal > 0) {
    // The job's own figure is better than the estimate made from the input.
    FWeights[ATask] = ATotal;
    FFractions[ATask] = std::clamp(static_cast<double>(ACurrent) / static_cast<double>(ATotal), 0.0, 1.0);
  }
  FRunning[ATask] = true;
  if (FTerminal) {
    DrawBar();
    return;
  }
  const int step = static_cast<int>(Fraction() * 10);
  if (step > FPlainStep && step < 10) {
    FPlainStep = step;
    const double elapsed = ElapsedSeconds(), f = Fraction();
    std::fprintf(FOut, "progress: %d%%, %s elapsed, about %s left\n", step * 10, Duration(elapsed).c_str(),
                 Duration(elapsed * (1 - f) / f).c_str());
    std::fflush(FOut);
  }
}

void TProgressDisplay::TaskEnded(int ATask) {
  std::lock_guard<std::mutex> lock(FLock);
  if (ATask < 0 || static_cast<size_t>(ATask) >= FFractions.size()) return;
  FFractions[ATask] = 1.0;
  FRunning.erase(ATask);
  if (FTerminal && !FEnded) DrawBar();
}

void TProgressDisplay::Line(const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  ClearBar();
  std::fprintf(FOut, "%s\n", AText.c_str());
  std::fflush(FOut);
  if (!FEnded && !FNames.empty()) DrawBar();
}

void TProgressDisplay::Error(const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  ClearBar();
  std::fflush(FOut);
  std::fprintf(FErr, "%s\n", AText.c_str());
  std::fflush(FErr);
  if (!FEnded && !FNames.empty()) DrawBar();
}

void TProgressDisplay::Tick() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FTerminal && !FEnded && !FNames.empty()) DrawBar();
}

void TProgressDisplay::End() {
  std::lock_guard<std::mutex> lock(FLock);
  ClearBar();
  FEnded = true;
}

void TProgressDisplay::ClearBar() {
  if (!FBarShown) return;
  std::fputs("\r\033[K", FOut);
  FBarShown = false;
}

void TProgressDisplay::DrawBar() {
  if (!FTerminal) return;
  const double f = Fraction(), elapsed = ElapsedSeconds();
  const int width = TerminalWidth(FOut);
  const int cells = 20, filled = static_cast<int>(f * cells);
  std::string line = "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]";
  line += Format(" %3d%%  %s", static_cast<int>(f * 100), Duration(elapsed).c_str());
  line += f > 0.01 ? " (about " + Duration(elapsed * (1 - f) / f) + " left)" : std::string(" (--:-- left)");
  for (const auto& [task, running] : FRunning) {
    (void)running;
    line += Format("  %s %d%%", FNames[task].c_str(), static_cast<int>(FFractions[task] * 100));
  }
  // One screen line exactly, so that the carriage return reaches its start.
  if (static_cast<int>(line.size()) > width - 1) {
    line.resize(width - 1);
    while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
    if (!line.empty() && static_cast<unsigned char>(line.back()) >= 0xC0) line.pop_back();
  }
  std::fprintf(FOut, "\r\033[K%s", line.c_str());
  std::fflush(FOut);
  FBarShown = true;
}

}  // namespace quorvel::cli
