#include "media/engine/FrameHook.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

// Modules loaded by any job; they stay loaded until the process ends, as a
// run may still hold pictures a module's static data points to.
struct TModuleRegistry {
  std::mutex Lock;
  std::map<std::string, void*> Modules;  // full name -> handle; guarded by Lock
};

TModuleRegistry& Registry() {
  static TModuleRegistry registry;
  return registry;
}

void* LoadHookModule(const std::string& AName, std::string& AError) {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  auto it = Registry().Modules.find(AName);
  if (it != Registry().Modules.end()) return it->second;
  // A module named with its folder is taken from there; a bare name goes
  // through the system search.
  const std::filesystem::path path(AName);
  const std::string folder = path.has_parent_path() ? path.parent_path().string() + "/" : std::string();
  void* handle = LoadModule(folder, path.filename().string(), AError);
  if (handle) Registry().Modules.emplace(AName, handle);
  return handle;
}

}  // namespace

int TFrameHookChain::Add(const std::vector<std::string>& AWords) {
  if (AWords.empty()) return -1;
  const std::string& module = AWords[0];
  std::string error;
  void* handle = LoadHookModule(module, error);
  if (!handle) {
    FFLogger().Log(nullptr, llError, error);
    return -1;
  }
  TFrameHookEntry entry;
  entry.Configure = reinterpret_cast<TFrameHookConfigureProc>(dlsym(handle, "Configure"));
  entry.Process = reinterpret_cast<TFrameHookProcessProc>(dlsym(handle, "Process"));
  entry.Release = reinterpret_cast<TFrameHookReleaseProc>(dlsym(handle, "Release"));
  if (!entry.Process) {
    FFLogger().Log(nullptr, llError, Format("Failed to find Process entrypoint in %s", module.c_str()));
    return -1;
  }
  if (!entry.Configure && AWords.size() > 1) {
    FFLogger().Log(nullptr, llError, Format("Failed to find Configure entrypoint in %s", module.c_str()));
    return -1;
  }
  if (entry.Configure) {
    std::vector<std::string> words(AWords);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (entry.Configure(&entry.ctx, static_cast<int>(words.size()), argv.data()) != 0) {
      FFLogger().Log(nullptr, llError, Format("Failed to Configure %s", module.c_str()));
      return -1;
    }
  }
  FEntries.push_back(entry);
  return 0;
}

void TFrameHookChain::Clear() {
  for (TFrameHookEntry& entry : FEntries)
    if (entry.Release) entry.Release(entry.ctx);
  FEntries.clear();
}

}  // namespace quorvel
