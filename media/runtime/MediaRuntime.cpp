#include "media/runtime/MediaRuntime.h"

#include <atomic>

#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/InterruptCB.h"

namespace quorvel {

namespace {
std::atomic<bool> g_finalizing{false};
}

bool Finalizing() { return g_finalizing.load(); }

MediaRuntime::MediaRuntime() {
  std::fegetenv(&FSavedEnv);
  // Mask every floating-point exception: the media libraries divide by zero
  // and overflow on purpose in places and expect quiet results.
  std::fenv_t masked;
  std::feholdexcept(&masked);
  FFLoader();
  InterruptCB();
}

MediaRuntime::~MediaRuntime() {
  g_finalizing.store(true);
  FFLoader().Unload(kAllLibraries);
  InterruptCB().Clear();
  FinalizeFFLogger();
  std::fesetenv(&FSavedEnv);
  g_finalizing.store(false);
}

}  // namespace quorvel
