// Frame-hook modules ("vhook"): shared libraries with the entry points
// Configure, Process and Release that see every decoded picture of a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// The picture layout the modules were written against.
struct TFrameHookPicture {
  uint8_t* data[4];
  int linesize[4];
};

using TFrameHookConfigureProc = int (*)(void** ctxp, int argc, char* argv[]);
using TFrameHookProcessProc = void (*)(void* ctx, TFrameHookPicture* pict, int pix_fmt, int width,
                                       int height, int64_t pts);
using TFrameHookReleaseProc = void (*)(void* ctx);

struct TFrameHookEntry {
  TFrameHookConfigureProc Configure = nullptr;
  TFrameHookProcessProc Process = nullptr;
  TFrameHookReleaseProc Release = nullptr;
  void* ctx = nullptr;
};

// The hooks of one job, in the order given. Releasing the chain calls each
// entry's Release with its context; the modules stay loaded for the process.
class TFrameHookChain {
public:
  TFrameHookChain() = default;
  ~TFrameHookChain() { Clear(); }
  TFrameHookChain(TFrameHookChain&& other) noexcept : FEntries(std::move(other.FEntries)) {
    other.FEntries.clear();
  }
  TFrameHookChain& operator=(TFrameHookChain&& other) noexcept {
    if (this != &other) {
      Clear();
      FEntries = std::move(other.FEntries);
      other.FEntries.clear();
    }
    return *this;
  }
  TFrameHookChain(const TFrameHookChain&) = delete;
  TFrameHookChain& operator=(const TFrameHookChain&) = delete;

  // Loads the module named by the first word (once per process), configures
  // it with all the words and appends it. 0, or a negative code after the
  // reason went to the media log at error level.
  int Add(const std::vector<std::string>& AWords);
  void Clear();
  const std::vector<TFrameHookEntry>& Entries() const { return FEntries; }
  bool Empty() const { return FEntries.empty(); }

private:
  std::vector<TFrameHookEntry> FEntries;
};

}  // namespace quorvel
