// Entry points of SDL 1.2 the player calls, in resolution order.
// FN(slot, export): a required function; the slot is declared with the type of
// the header's `export` and resolved from the export of that name (SDL's
// mutex calls are exported as SDL_mutexP / SDL_mutexV).
// OPT(slot, export): a function that may be missing; its slot stays null.
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_SDL_ENTRIES(FN, OPT)            \
  FN(SDL_Init, SDL_Init)                        \
  FN(SDL_Quit, SDL_Quit)                        \
  OPT(SDL_putenv, SDL_putenv)                   \
  FN(SDL_GetError, SDL_GetError)                \
  FN(SDL_OpenAudio, SDL_OpenAudio)              \
  FN(SDL_PauseAudio, SDL_PauseAudio)            \
  FN(SDL_CloseAudio, SDL_CloseAudio)            \
  FN(SDL_MixAudio, SDL_MixAudio)                \
  FN(SDL_WaitEvent, SDL_WaitEvent)              \
  FN(SDL_PollEvent, SDL_PollEvent)              \
  FN(SDL_PushEvent, SDL_PushEvent)              \
  FN(SDL_EventState, SDL_EventState)            \
  FN(SDL_GetVideoInfo, SDL_GetVideoInfo)        \
  FN(SDL_SetVideoMode, SDL_SetVideoMode)        \
  FN(SDL_UpdateRect, SDL_UpdateRect)            \
  FN(SDL_WM_SetCaption, SDL_WM_SetCaption)      \
  FN(SDL_WM_GetCaption, SDL_WM_GetCaption)      \
  FN(SDL_GetVideoSurface, SDL_GetVideoSurface)  \
  FN(SDL_MapRGB, SDL_MapRGB)                    \
  FN(SDL_FillRect, SDL_FillRect)                \
  FN(SDL_CreateYUVOverlay, SDL_CreateYUVOverlay) \
  FN(SDL_LockYUVOverlay, SDL_LockYUVOverlay)    \
  FN(SDL_UnlockYUVOverlay, SDL_UnlockYUVOverlay) \
  FN(SDL_DisplayYUVOverlay, SDL_DisplayYUVOverlay) \
  FN(SDL_FreeYUVOverlay, SDL_FreeYUVOverlay)    \
  FN(SDL_CreateMutex, SDL_CreateMutex)          \
  FN(SDL_LockMutex, SDL_mutexP)                 \
  FN(SDL_UnlockMutex, SDL_mutexV)               \
  FN(SDL_DestroyMutex, SDL_DestroyMutex)        \
  FN(SDL_CreateCond, SDL_CreateCond)            \
  FN(SDL_DestroyCond, SDL_DestroyCond)          \
  FN(SDL_CondSignal, SDL_CondSignal)            \
  FN(SDL_CondWait, SDL_CondWait)                \
  FN(SDL_CreateThread, SDL_CreateThread)        \
  FN(SDL_WaitThread, SDL_WaitThread)            \
  FN(SDL_AudioDriverName, SDL_AudioDriverName)  \
  FN(SDL_VideoDriverName, SDL_VideoDriverName)
