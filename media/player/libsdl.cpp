#include "media/player/libsdl.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

// The modules held by every loader of the process. Guarded by SDLLock().
std::vector<void*>& LoadedModules() {
  static std::vector<void*> modules;
  return modules;
}

bool IsLoadedModule(void* AHandle) {
  const auto& modules = LoadedModules();
  return std::find(modules.begin(), modules.end(), AHandle) != modules.end();
}

}  // namespace

std::recursive_mutex& SDLLock() {
  static std::recursive_mutex lock;
  return lock;
}

void SetSDLEnv(const char* AName, const std::string& AValue) {
  std::lock_guard lock(SDLLock());
  if (AValue.empty())
    ::unsetenv(AName);
  else
    ::setenv(AName, AValue.c_str(), 1);
}

std::string GetSDLEnv(const char* AName) {
  std::lock_guard lock(SDLLock());
  const char* value = std::getenv(AName);
  return value ? value : "";
}

TSDLLoader::~TSDLLoader() { Unload(); }

bool TSDLLoader::Load(const std::string& APath, const std::string& AFile) {
  std::string folder = APath;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::string full = folder + AFile;
  if (Loaded() && FLibFile == full) return true;

  std::lock_guard lock(SDLLock());
  std::string error;
  // Opening first tells which module the path leads to: the dynamic linker
  // hands out the same handle for every path (and the SONAME) of a module
  // that is loaded already, and counts the extra reference.
  void* handle = LoadModule(folder, AFile, error);
  if (!handle) {
    UnloadLocked();
    FLastErrMsg = Format("Load library %s error: %s", full.c_str(), error.c_str());
    return false;
  }
  if (handle == FHandle) {
    // The module this loader holds, reached by another spelling.
    ::dlclose(handle);
    FLibFile = full;
    return Loaded();
  }
  if (IsLoadedModule(handle)) {
    ::dlclose(handle);
    FLastErrMsg = Format("%s alreay loaded in another instance.", full.c_str());
    return false;
  }
  UnloadLocked();
  FHandle = handle;
  try {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
#define QUORVEL_SDL_RESOLVE(slot, sym) \
  FEntries.slot = reinterpret_cast<decltype(FEntries.slot)>(ResolveEntry(handle, AFile, #sym, false));
#define QUORVEL_SDL_RESOLVE_OPT(slot, sym) \
  FEntries.slot = reinterpret_cast<decltype(FEntries.slot)>(ResolveEntry(handle, AFile, #sym, true));
    QUORVEL_SDL_ENTRIES(QUORVEL_SDL_RESOLVE, QUORVEL_SDL_RESOLVE_OPT)
#undef QUORVEL_SDL_RESOLVE
#undef QUORVEL_SDL_RESOLVE_OPT
#pragma GCC diagnostic pop
    FFixuped = true;
  } catch (const Exception& e) {
    FLastErrMsg = e.what();
  }
  if (!FFixuped) {
    UnloadLocked();
    return false;
  }
  FLibFile = full;
  LoadedModules().push_back(FHandle);
  return true;
}

void TSDLLoader::Unload() {
  std::lock_guard lock(SDLLock());
  UnloadLocked();
}

void TSDLLoader::UnloadLocked() {
  FEntries = TSDLStubs{};
  FFixuped = false;
  if (FHandle) {
    auto& modules = LoadedModules();
    modules.erase(std::remove(modules.begin(), modules.end(), FHandle), modules.end());
    ::dlclose(FHandle);
    FHandle = nullptr;
  }
  FLibFile.clear();
}

}  // namespace quorvel
