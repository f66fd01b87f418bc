// Starting and shutting down the player's SDL for a host window.
#include <cstdlib>
#include <cstring>

#include "media/player/FFPlay.h"
#include "media/runtime/Format.h"

namespace quorvel {

const char* AudioDriverName(TAudioDriver ADriver) {
  switch (ADriver) {
    case adPulse: return "pulse";
    case adAlsa: return "alsa";
    case adDirectSound:  // Windows' drivers: SDL on Linux has neither
    case adWaveOut:
    case adDefault:
    default: return "";
  }
}

const char* VideoDriverName(TVideoDriver ADriver) {
  switch (ADriver) {
    case vdDirectDraw:  // Windows' drivers: SDL on Linux has neither
    case vdGDI:
    case vdDefault:
    default: return "";
  }
}

bool TCustomPlayer::InitSDL(TScreenHost* AHost) {
  if (!SDLLibLoaded()) return false;
  std::lock_guard lock(SDLLock());
  // The default choices leave the variables as the environment has them.
  if (*AudioDriverName(FAudioDriver)) SetSDLEnv("SDL_AUDIODRIVER", AudioDriverName(FAudioDriver));
  if (*VideoDriverName(FVideoDriver)) SetSDLEnv("SDL_VIDEODRIVER", VideoDriverName(FVideoDriver));

  const unsigned long window = AHost ? AHost->NativeWindowId() : 0;
  if (window) SetSDLEnv("SDL_WINDOWID", std::to_string(window));
  // A host whose window SDL cannot embed into (Qt offscreen, or on Wayland,
  // where an X server may still answer through XWayland): SDL's own drivers
  // would open a window of their own beside it. Play without a surface.
  const bool noSurface = AHost && !window;
  const std::string savedDriver = noSurface ? GetSDLEnv("SDL_VIDEODRIVER") : std::string();
  if (noSurface) SetSDLEnv("SDL_VIDEODRIVER", "dummy");
  int result = FSDL.SDL_Init(kSDLInitFlags);
  if (noSurface) SetSDLEnv("SDL_VIDEODRIVER", savedDriver);
  if (window && result != 0) {
    // SDL's own copy of the environment, where the library keeps one.
    for (const char* form : {"SDL_WINDOWID=%lu", "SDL_WINDOWID=%ld"}) {
      if (result == 0) break;
      std::string text = Format(form, window);
      if (FSDL.SDL_putenv) {
        static thread_local std::string kept;  // putenv keeps the pointer
        kept = text;
        FSDL.SDL_putenv(kept.data());
      } else {
        SetSDLEnv("SDL_WINDOWID", text.substr(text.find('=') + 1));
      }
      result = FSDL.SDL_Init(kSDLInitFlags);
    }
  }
  if (window) SetSDLEnv("SDL_WINDOWID", "");
  if (result != 0) {
    // No display to draw on (no X server, a Wayland session): the playback
    // runs without a surface and the sound still plays.
    const std::string saved = GetSDLEnv("SDL_VIDEODRIVER");
    FSDL.SDL_Quit();
    SetSDLEnv("SDL_VIDEODRIVER", "dummy");
    result = FSDL.SDL_Init(kSDLInitFlags);
    SetSDLEnv("SDL_VIDEODRIVER", saved);
  }
  char name[256] = {};
  if (result == 0 && FSDL.SDL_VideoDriverName(name, sizeof(name)) &&
      (std::strcmp(name, "caca") == 0 || std::strcmp(name, "aalib") == 0)) {
    // SDL fell back to drawing characters on the terminal (no display): that
    // would scribble over the program's own output. Play without a surface.
    const std::string saved = GetSDLEnv("SDL_VIDEODRIVER");
    FSDL.SDL_Quit();
    SetSDLEnv("SDL_VIDEODRIVER", "dummy");
    result = FSDL.SDL_Init(kSDLInitFlags);
    SetSDLEnv("SDL_VIDEODRIVER", saved);
  }
  if (result != 0) return false;
  FSDLStarted = true;

  name[0] = '\0';
  LogLine(llDebug, "using audio driver: %s", FSDL.SDL_AudioDriverName(name, sizeof(name)) ? name : "");
  name[0] = '\0';
  LogLine(llDebug, "using video driver: %s", FSDL.SDL_VideoDriverName(name, sizeof(name)) ? name : "");
  FDummyVideo = std::strcmp(name, "dummy") == 0;
  if (AHost) {
    AHost->Attach(this);
    FAttachedHost = AHost;
  }
  return true;
}

void TCustomPlayer::ShutdownSDL() {
  if (TScreenHost* host = FAttachedHost.exchange(nullptr)) host->Attach(nullptr);
  if (FSDLStarted && FSDL.SDL_Quit) {
    std::lock_guard lock(SDLLock());
    FSDL.SDL_Quit();
  }
  FSDLStarted = false;
  FScreen = nullptr;  // went with SDL
  FWindowEvents = false;
  {
    // SDL's queue went with it.
    std::lock_guard lock(FPushedLock);
    FPushedEvents = 0;
  }
  // The per-playback reset: these options hold for one playback only.
  FLastPTS = AV_NOPTS_VALUE;
  FCurrentPTS = -1;
  FStep = false;
  for (auto& wanted : Fwanted_stream) wanted = -1;
  Fseek_by_bytes = -1;
  Fstart_time = AV_NOPTS_VALUE;
  FPlayTime = AV_NOPTS_VALUE;
  FRepeatType = rtStop;
  FVerticalFlip = false;
  FSeekEvent.Set();
  FSeeking = false;
}

}  // namespace quorvel
