// Changing the number of channels keeps the level a listener hears:
//  - mono spread to stereo: the same signal on both sides;
//  - stereo folded to mono: the average of the two;
//  - more channels folded to stereo: the standard matrix (each front side
//    whole, the centre and that side's surround at -3 dB, the LFE left
//    out), not scaled down afterwards, so a sound on the front left keeps
//    its level; folded to mono, the average of that stereo pair.
// (The library's own mixes lower the one by 3 dB and raise the other by
// 3 dB, which clips a full-scale tone, and scale a fold-down so that all
// channels at full scale could not clip, which leaves ordinary material
// several dB quieter.) The decoder, the conversion and the player all
// resample through this one rule.
#pragma once

struct SwrContext;
struct AVChannelLayout;

namespace quorvel {

// Sets the matrix on a resampler not yet initialised, for the cases above;
// other changes (the same count in another order, more channels out than
// in beyond stereo) keep the library's mix. Returns the library's result
// (negative on failure), 0 when nothing was set.
int KeepLevelWhenMixing(SwrContext* ASwr, const AVChannelLayout& AIn, const AVChannelLayout& AOut);

}  // namespace quorvel
