#include "media/runtime/MediaRuntime.h"

#include <atomic>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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
#ifdef __GLIBC__
  // Blocks of 32 KB and more (the I/O buffer of every file opened, probe
  // data) are mapped on their own instead of carved from the heap. A batch
  // opens thousands of files, and their buffers, freed between the queue's
  // long-lived small records, otherwise fragment the heap: peak memory grew
  // by about 25 KB per queued file. A fixed threshold also keeps the
  // allocator from raising it after the first large block is freed.
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024);
#endif
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
