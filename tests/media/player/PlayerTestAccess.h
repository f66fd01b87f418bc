// The player tests' one way into the player's private state, for what no
// public call shows: the pictures queued and drawn, a refresh push that SDL
// refuses, a call between the streams' opening and Open learning of it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "media/player/FFPlay.h"
#include "media/player/VideoState.h"

namespace quorvel {

class TPlayerTestAccess {
public:
  // What the picture queue has been given, and how often a picture was drawn.
  static int PicturesQueued(TCustomPlayer& APlayer) {
    std::lock_guard lock(APlayer.FStateLock);
    TVideoState* is = APlayer.FVideoState;
    return is ? is->pictures_queued.load() : -1;
  }
  static int DisplaysDrawn(TCustomPlayer& APlayer) {
    std::lock_guard lock(APlayer.FStateLock);
    TVideoState* is = APlayer.FVideoState;
    return is ? is->displays_drawn.load() : -1;
  }
  static int RefreshesHandled(TCustomPlayer& APlayer) {
    std::lock_guard lock(APlayer.FStateLock);
    TVideoState* is = APlayer.FVideoState;
    return is ? is->refreshes_handled.load() : -1;
  }

  // Puts a stand-in in front of the player's SDL_PushEvent that refuses the
  // next ACount refresh events, as SDL does when its event queue is full.
  static void RefuseRefreshPushes(TCustomPlayer& APlayer, int ACount) {
    FRealPush = APlayer.FSDL.SDL_PushEvent;
    FRefusals = ACount;
    APlayer.FSDL.SDL_PushEvent = &RefusingPush;
  }
  static int RefusalsLeft() { return FRefusals; }

  // Places a call on the read thread between the streams' opening and Open
  // learning of it.
  static void OnStreamsOpened(TCustomPlayer& APlayer, std::function<void()> AHook) {
    APlayer.FStreamsOpenedHook = std::move(AHook);
  }

private:
  static int RefusingPush(SDL_Event* AEvent) {
    if (AEvent->type == kRefreshEvent && FRefusals.fetch_sub(1) > 0) return -1;
    return FRealPush(AEvent);
  }
  static inline decltype(&SDL_PushEvent) FRealPush = nullptr;
  static inline std::atomic<int> FRefusals{0};
};

}  // namespace quorvel
