// The runtime library loader: loads the media libraries as sets, resolves
// their entry tables (Stubs.h) and installs the process-wide hooks that follow
// a load (codec lock, log callback, file protocol and interrupt callback).
//
// All loader state is process-wide; every TFFLoader object acts on the same
// libraries. Load and Unload are not locked: they run on the main thread at
// start-up, before first playback and at process end.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "media/runtime/Stubs.h"

namespace quorvel {

using TPathFileName = std::string;

// The order is the load order.
enum class TLibrary : uint8_t {
  avCodec = 0,
  avCore = 1,
  avDevice = 2,
  avFilter = 3,
  avFormat = 4,
  avUtil = 5,
  swScale = 6,
  myUtil = 7,
};
constexpr int kLibraryCount = 8;

// A set of libraries in one byte: bit n = library n.
class TLibraries {
public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> libs) {
    for (TLibrary l : libs) FBits |= Bit(l);
  }
  static constexpr TLibraries FromBits(uint8_t bits) {
    TLibraries s;
    s.FBits = bits;
    return s;
  }
  constexpr bool Contains(TLibrary l) const { return (FBits & Bit(l)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr TLibraries operator-(TLibraries other) const {
    return FromBits(static_cast<uint8_t>(FBits & ~other.FBits));
  }
  constexpr bool operator==(const TLibraries&) const = default;

private:
  static constexpr uint8_t Bit(TLibrary l) { return static_cast<uint8_t>(1u << static_cast<int>(l)); }
  uint8_t FBits = 0;
};

constexpr TLibraries kAllLibraries = TLibraries::FromBits(0xFF);
// The encoder task manager and the player: every library but avDevice.
constexpr TLibraries kEncoderLibraries = kAllLibraries - TLibraries{TLibrary::avDevice};
constexpr TLibraries kPlayerLibraries = kEncoderLibraries;
// The probe and decoder: neither avDevice nor avFilter.
constexpr TLibraries kDecoderLibraries =
    kAllLibraries - TLibraries{TLibrary::avDevice, TLibrary::avFilter};

// One constant row per library.
struct TLibraryItem {
  TLibrary Lib;
  const char* Name;  // base file name: "lib" + Name + ".so" [+ "." + Version]
  bool SysLib;       // loaded by bare name from the system search, never from the folder
  int Version;       // the library's major version; negative: no suffix
  TFixupProc Fixup;
  TUnfixProc Unfix;
};

const TLibraryItem& LibraryItem(TLibrary lib);

// The formed file name of a library, e.g. "libavutil.so.57".
std::string LibraryFileName(const TLibraryItem& item);

// Mutable per-library state.
struct TLibraryStatus {
  TLibrary Lib{};
  TPathFileName Name;  // override of the formed file name (may carry a folder); normally empty
  void* Handle = nullptr;
  bool Fixuped = false;
};

class TFFLoader {
public:
  bool Load(TLibrary ALibrary);
  bool Load(TLibraries ALibraries);
  bool Loaded(TLibrary ALibrary) const;
  bool Loaded(TLibraries ALibraries) const;
  void Unload(TLibrary ALibrary);
  void Unload(TLibraries ALibraries);

  const std::string& LastErrMsg() const;
  const TPathFileName& LibraryPath() const;
  void SetLibraryPath(const TPathFileName& APath);

  bool InstallLogger() const { return FInstallLogger; }
  void SetInstallLogger(bool AValue) { FInstallLogger = AValue; }

  // The status row of a library. Tests use the Name override to point a
  // library at a stand-in file; nothing in the program sets it.
  static TLibraryStatus& Status(TLibrary ALibrary);

private:
  bool FInstallLogger = true;
};

// The process-wide loader used by all components.
TFFLoader& FFLoader();

// The library operations every media component offers for its own set:
// LoadAVLib sets the library folder and loads the set; on failure the
// loader's text is copied into the component's ALastErrMsg.
bool LoadAVLib(TLibraries ASet, const TPathFileName& APath, std::string& ALastErrMsg);
bool AVLibLoaded(TLibraries ASet);
void UnloadAVLib(TLibraries ASet);

// The module search rule, shared with the SDL binding: the file in AFolder
// when it exists there (the folder then joins PATH once, at the front), else
// the bare name through the system search. Returns the handle or nullptr with
// the system's text in AError.
void* LoadModule(const std::string& AFolder, const std::string& AFileName, std::string& AError);

}  // namespace quorvel
