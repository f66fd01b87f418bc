/* A stand-in for the SDL library whose audio device grants another spec than
   the one asked for: 32000 Hz mono, and with QUORVEL_GRANT_FORMAT=u8 also
   unsigned 8-bit samples when the caller asks what was granted. Every other
   entry is the real SDL's, found through this library's dependency. */
#define _GNU_SOURCE
#include <SDL/SDL.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

typedef int (*TOpenAudio)(SDL_AudioSpec*, SDL_AudioSpec*);

int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained) {
  TOpenAudio real = (TOpenAudio)dlsym(RTLD_NEXT, "SDL_OpenAudio");
  SDL_AudioSpec granted = *desired;
  granted.freq = 32000;
  granted.channels = 1;
  const char* format = getenv("QUORVEL_GRANT_FORMAT");
  if (obtained && format && strcmp(format, "u8") == 0) granted.format = AUDIO_U8;
  return real(&granted, obtained);
}
