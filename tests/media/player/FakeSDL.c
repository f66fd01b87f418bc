/* A stand-in for the SDL library built from the player's entry list: every
   entry is exported as an empty function, except one that the build renames
   (SDL_VideoDriverName), so that loading it must fail on that entry. */
#include "media/player/stubs/sdl_entries.h"

#define QUORVEL_FAKE_ENTRY(slot, sym) void sym(void) {}
#define QUORVEL_FAKE_SKIP(slot, sym)
QUORVEL_SDL_ENTRIES(QUORVEL_FAKE_ENTRY, QUORVEL_FAKE_SKIP)
