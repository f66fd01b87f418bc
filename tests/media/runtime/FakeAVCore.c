/* A stand-in for the resampling library, made from the same entry list as
 * the real table. Variants drop one symbol by renaming it at compile time:
 * FAKE_NO_REQUIRED drops a required function, FAKE_NO_OPTIONAL the optional
 * one, FAKE_NO_VARIABLE the data export. */
#include "media/runtime/stubs/avcore_entries.h"

#if defined(FAKE_NO_REQUIRED)
#define swr_init swr_init_not_here
#elif defined(FAKE_NO_OPTIONAL)
#define swr_alloc_set_opts swr_alloc_set_opts_not_here
#elif defined(FAKE_NO_VARIABLE)
#define swr_ffversion swr_ffversion_not_here
#endif

#define FAKE_FN(name) void name(void) {}
#define FAKE_VAR(name) const char name[] = "fake";

QUORVEL_AVCORE_ENTRIES(FAKE_FN, FAKE_FN, FAKE_VAR)
