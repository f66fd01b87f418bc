#include "media/runtime/InterruptCB.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace quorvel {

namespace {

bool SameItem(const TInterruptItem& item, uint32_t threadID, TObject* sender, TInterruptProc proc) {
  // The bound object does not take part: only the function identifies a callback.
  return item.ThreadID == threadID && item.Sender == sender && item.Interrupt.Code == proc.Code;
}

// Set while the registry object exists, so that a library thread that is
// still blocked in I/O during process end never touches a destroyed registry.
std::atomic<TInterruptCB*> g_registry{nullptr};

struct RegistryHolder {
  TInterruptCB registry;
  RegistryHolder() { g_registry.store(&registry); }
  ~RegistryHolder() { g_registry.store(nullptr); }
};

}  // namespace

uint32_t CurrentThreadID() {
  // The libraries ask the interrupt callback at every read: one system call
  // per thread, not per read.
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

void TInterruptCB::Add(uint32_t AThreadID, TObject* ASender, TInterruptProc AInterrupt) {
  std::lock_guard lock(FLock);
  for (const auto& item : FItems)
    if (SameItem(item, AThreadID, ASender, AInterrupt)) return;
  FItems.push_back({AThreadID, AInterrupt, ASender});
}

void TInterruptCB::Remove(uint32_t AThreadID, TObject* ASender, TInterruptProc AInterrupt) {
  std::lock_guard lock(FLock);
  for (auto it = FItems.begin(); it != FItems.end(); ++it) {
    if (SameItem(*it, AThreadID, ASender, AInterrupt)) {
      FItems.erase(it);
      return;
    }
  }
}

bool TInterruptCB::Interrupt(uint32_t AThreadID) {
  std::lock_guard lock(FLock);
  for (const auto& item : FItems)
    if (item.ThreadID == AThreadID) return item.Interrupt(item.Sender);
  return false;
}

void TInterruptCB::Clear() {
  std::lock_guard lock(FLock);
  FItems.clear();
}

std::vector<TInterruptItem>& TInterruptCB::LockList() {
  FLock.lock();
  return FItems;
}

void TInterruptCB::UnlockList() { FLock.unlock(); }

TInterruptCB& InterruptCB() {
  static RegistryHolder holder;
  return holder.registry;
}

int InterruptCallback(void* /*AOpaque*/) {
  TInterruptCB* registry = g_registry.load();
  return registry && registry->Interrupt(CurrentThreadID()) ? 1 : 0;
}

AVIOInterruptCB MakeAVIOInterruptCB() {
  InterruptCB();  // the registry exists before the first library call can ask it
  return AVIOInterruptCB{InterruptCallback, nullptr};
}

}  // namespace quorvel
