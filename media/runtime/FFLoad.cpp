#include "media/runtime/FFLoad.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cstdlib>

#include "media/runtime/CodecLock.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

extern "C" {
#include <libavcodec/version.h>
#include <libavdevice/version.h>
#include <libavfilter/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>
}

namespace quorvel {

namespace {

// The versions are the majors of the headers we build against, so a library
// of another major (another binary interface) is never picked up.
constexpr std::array<TLibraryItem, kLibraryCount> kLibraryItems{{
    {TLibrary::avCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, FixupAVCodec, UnfixAVCodec},
    {TLibrary::avCore, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, FixupAVCore, UnfixAVCore},
    {TLibrary::avDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, FixupAVDevice, UnfixAVDevice},
    {TLibrary::avFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, FixupAVFilter, UnfixAVFilter},
    {TLibrary::avFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, FixupAVFormat, UnfixAVFormat},
    {TLibrary::avUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, FixupAVUtil, UnfixAVUtil},
    {TLibrary::swScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, FixupSwScale, UnfixSwScale},
    // "libc.so" is a linker script, not a loadable file: the runtime's soname
    // carries its version.
    {TLibrary::myUtil, "c", true, 6, FixupMyUtil, UnfixMyUtil},
}};

// Process-wide loader state. Written by Load/Unload (main thread only).
struct LoaderState {
  std::array<TLibraryStatus, kLibraryCount> Status{};
  TPathFileName LibraryPath;
  std::string LastErrMsg;
  LoaderState() {
    for (int i = 0; i < kLibraryCount; ++i) Status[i].Lib = static_cast<TLibrary>(i);
  }
};

LoaderState& State() {
  static LoaderState state;
  return state;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The folder joins PATH once, at the front, so that programs and helpers that
// look along PATH find the library folder first.
void AddToPath(const std::string& folder) {
  const char* old = std::getenv("PATH");
  const std::string path = old ? old : "";
  if (Lower(path).find(Lower(folder)) != std::string::npos) return;
  const std::string updated = path.empty() ? folder : folder + ":" + path;
  ::setenv("PATH", updated.c_str(), 1);
}

void RunPostLoadHook(TLibrary lib, bool installLogger) {
  switch (lib) {
    case TLibrary::avCodec:
      InstallCodecLock();
      break;
    case TLibrary::avUtil:
      if (installLogger) FFLogger().InstallAVLogCallback();
      break;
    case TLibrary::avFormat:
      // Nothing to register: file names that need the "unicode" path and
      // the interrupt callback are attached per context by the components
      // (UnicodeProtocol.h, MakeAVIOInterruptCB()).
      break;
    default:
      break;
  }
}

}  // namespace

const TLibraryItem& LibraryItem(TLibrary lib) { return kLibraryItems[static_cast<int>(lib)]; }

std::string LibraryFileName(const TLibraryItem& item) {
  std::string name = "lib";
  name += item.Name;
  name += ".so";
  if (item.Version >= 0) {
    name += '.';
    name += std::to_string(item.Version);
  }
  return name;
}

void* LoadModule(const std::string& AFolder, const std::string& AFileName, std::string& AError) {
  void* handle = nullptr;
  if (!AFolder.empty() && FileExists(AFolder + AFileName)) {
    AddToPath(AFolder);
    handle = ::dlopen((AFolder + AFileName).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  } else {
    handle = ::dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  }
  if (!handle) {
    const char* err = ::dlerror();
    AError = err ? err : "unknown error";
  }
  return handle;
}

TLibraryStatus& TFFLoader::Status(TLibrary ALibrary) { return State().Status[static_cast<int>(ALibrary)]; }

bool TFFLoader::Load(TLibrary ALibrary) {
  LoaderState& state = State();
  TLibraryStatus& status = Status(ALibrary);
  const TLibraryItem& item = LibraryItem(ALibrary);
  const std::string fileName = status.Name.empty() ? LibraryFileName(item) : status.Name;

  if (!status.Handle) {
    std::string folder;
    std::string bareName = fileName;
    const auto slash = fileName.rfind('/');
    if (slash != std::string::npos) {
      folder = fileName.substr(0, slash + 1);
      bareName = fileName.substr(slash + 1);
    } else if (!state.LibraryPath.empty() && !item.SysLib) {
      folder = state.LibraryPath;
      if (folder.back() != '/') folder += '/';
    }
    std::string error;
    void* handle = LoadModule(folder, bareName, error);
    if (!handle) {
      state.LastErrMsg = Format("Load library %s error: %s", (folder + bareName).c_str(), error.c_str());
      return false;
    }
    status.Handle = handle;
  }

  if (!status.Fixuped) {
    try {
      item.Fixup(fileName, status.Handle);
      status.Fixuped = true;
    } catch (const Exception& e) {
      state.LastErrMsg = e.what();
    }
  }

  if (!status.Fixuped) {
    Unload(ALibrary);
    return false;
  }

  RunPostLoadHook(ALibrary, FInstallLogger);
  return true;
}

bool TFFLoader::Load(TLibraries ALibraries) {
  assert(!ALibraries.Empty());
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (!ALibraries.Contains(lib)) continue;
    if (!Load(lib)) {
      // Unloading keeps LastErrMsg: it names the library that failed.
      Unload(ALibraries);
      return false;
    }
  }
  return true;
}

bool TFFLoader::Loaded(TLibrary ALibrary) const {
  const TLibraryStatus& status = Status(ALibrary);
  return status.Handle != nullptr && status.Fixuped;
}

bool TFFLoader::Loaded(TLibraries ALibraries) const {
  assert(!ALibraries.Empty());
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (ALibraries.Contains(lib) && !Loaded(lib)) return false;
  }
  return true;
}

void TFFLoader::Unload(TLibrary ALibrary) {
  TLibraryStatus& status = Status(ALibrary);
  const TLibraryItem& item = LibraryItem(ALibrary);
  if (status.Fixuped && ALibrary == TLibrary::avCodec) RemoveCodecLock();
  // Also after a failed resolution: no slot may point into a released module.
  item.Unfix();
  status.Fixuped = false;
  if (status.Handle) {
    ::dlclose(status.Handle);
    status.Handle = nullptr;
  }
}

void TFFLoader::Unload(TLibraries ALibraries) {
  assert(!ALibraries.Empty());
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (ALibraries.Contains(lib)) Unload(lib);
  }
}

const std::string& TFFLoader::LastErrMsg() const { return State().LastErrMsg; }

const TPathFileName& TFFLoader::LibraryPath() const { return State().LibraryPath; }

void TFFLoader::SetLibraryPath(const TPathFileName& APath) { State().LibraryPath = APath; }

TFFLoader& FFLoader() {
  static TFFLoader loader;
  return loader;
}

bool LoadAVLib(TLibraries ASet, const TPathFileName& APath, std::string& ALastErrMsg) {
  FFLoader().SetLibraryPath(APath);
  if (FFLoader().Load(ASet)) return true;
  ALastErrMsg = FFLoader().LastErrMsg();
  return false;
}

bool AVLibLoaded(TLibraries ASet) { return FFLoader().Loaded(ASet); }

void UnloadAVLib(TLibraries ASet) { FFLoader().Unload(ASet); }

}  // namespace quorvel
