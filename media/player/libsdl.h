// The SDL 1.2 binding: a loader that opens one SDL library file at run time
// and resolves the entry points the player calls into a table of its own.
//
// SDL keeps process-wide state per loaded module (one audio device, one video
// surface, one event queue), so two players in one process need two module
// copies. The loader refuses a module that another loader holds already,
// however its path was spelt: a copy reached by another spelling, or by the
// bare name (a copy keeps SDL's SONAME, so the dynamic linker hands out the
// loaded copy for it), is the same module.
//
// SDL reads its settings from the process environment with getenv, on the
// threads that start SDL and open devices. Every change of those variables,
// every SDL_Init and every SDL_OpenAudio happens under SDLLock(), so that no
// player changes the environment while another one's SDL reads it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <SDL/SDL.h>

// Debian's header maps SDL_putenv onto the C library's putenv, and the
// library does not export it: the entry is optional. Declared here only so
// that its slot has SDL's own type.
#undef SDL_putenv
extern "C" int SDL_putenv(const char* variable);

#include "media/player/stubs/sdl_entries.h"

namespace quorvel {

#define QUORVEL_SDL_SLOT(slot, sym) decltype(&::sym) slot = nullptr;
struct TSDLStubs {
  QUORVEL_SDL_ENTRIES(QUORVEL_SDL_SLOT, QUORVEL_SDL_SLOT)
};
#undef QUORVEL_SDL_SLOT

// SDL_Init's subsystems for a playback: audio and video; and no handlers
// for fatal signals, which would hide the program's own crash reports and
// swallow Ctrl-C. Not the timer: the player sets no SDL timers, and SDL
// 1.2's timer subsystem runs a thread that wakes every millisecond, which
// cost more CPU than decoding an MP3 (SDL_Delay and SDL_GetTicks work
// without it).
constexpr uint32_t kSDLInitFlags = SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE;

// The process-wide SDL lock: the list of loaded modules, the environment
// SDL reads, SDL_Init and SDL_OpenAudio. Recursive: InitSDL sets variables
// while it holds the lock.
std::recursive_mutex& SDLLock();

// Sets (or, with an empty value, removes) one environment variable under
// SDLLock(). Tests use it for SDL's driver variables, e.g.
// SetSDLEnv("SDL_DISKAUDIOFILE", path).
void SetSDLEnv(const char* AName, const std::string& AValue);
// The variable's value under SDLLock(), empty when unset.
std::string GetSDLEnv(const char* AName);

class TSDLLoader {
public:
  TSDLLoader() = default;
  ~TSDLLoader();
  TSDLLoader(const TSDLLoader&) = delete;
  TSDLLoader& operator=(const TSDLLoader&) = delete;

  // Loads AFile from the folder APath (the file there when it exists, else
  // the bare name through the system search) and resolves every entry.
  // Texts of failure (LastErrMsg): "%s alreay loaded in another
  // instance.", "Load library %s error: %s", "Load function %s@%s error: %s".
  bool Load(const std::string& APath, const std::string& AFile);
  // Loaded and every required entry resolved.
  bool Loaded() const { return FHandle != nullptr && FFixuped; }
  void Unload();

  const std::string& LastErrMsg() const { return FLastErrMsg; }
  // The folder with a trailing '/' followed by the file name; empty when unloaded.
  const std::string& LibFile() const { return FLibFile; }
  const TSDLStubs& Entries() const { return FEntries; }

private:
  void UnloadLocked();

  std::string FLibFile;
  void* FHandle = nullptr;
  bool FFixuped = false;
  std::string FLastErrMsg;
  TSDLStubs FEntries;
};

}  // namespace quorvel
