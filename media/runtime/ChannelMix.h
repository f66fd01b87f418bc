// Mono spread to stereo and stereo folded to mono keep the level a listener
// hears: the same signal on both sides one way, the average of the two the
// other. (The library's own mixes lower the one by 3 dB and raise the other
// by 3 dB, which clips a full-scale tone.) The decoder, the conversion and
// the player all resample through this one rule.
#pragma once

struct SwrContext;

namespace quorvel {

// Sets the matrix on a resampler not yet initialised, for the two cases
// above; other channel counts keep the library's mix. Returns the library's
// result (negative on failure), 0 when nothing was set.
int KeepLevelWhenMixing(SwrContext* ASwr, int AInChannels, int AOutChannels);

}  // namespace quorvel
