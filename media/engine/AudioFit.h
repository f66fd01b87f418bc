// What an encoder can take of the sample rate, channel layout and sample
// depth a conversion asks for. "Original" (the source's own values) may ask
// for something the chosen encoder cannot write (96 kHz in MP3, 5.1 in WMA);
// then the nearest value it takes is used, and the job says which.
#pragma once

#include <string>

#include "media/runtime/Stubs.h"

namespace quorvel {

// The codec name a profile gives for "PCM at the source's depth": the
// container's own PCM codec, 16 or 24 bits as the source has.
inline constexpr char kSourceDepthCodec[] = "original";

// kSourceDepthCodec for a container: its PCM codec (WAV little-endian,
// AIFF big-endian) at 16 bits for a source of up to 16, else at 24.
std::string SourceDepthPcm(const AVOutputFormat* AFormat, int ASourceBits);

// The rate the encoder takes nearest to AWanted (AWanted itself when it
// takes any).
int NearestSampleRate(const AVCodec* ACodec, int AWanted);

// The layout to encode for AWanted: itself when the encoder takes it; else
// the encoder's layout with as many channels; else the largest it takes
// with fewer (a fold-down); else the smallest it takes. AFit is
// initialised here; the caller uninitialises it.
void FitChannelLayout(const AVCodec* ACodec, const AVChannelLayout& AWanted, AVChannelLayout& AFit);

// The bit rate AEncoder (set up, not opened) can be opened with: its own
// when the encoder takes it at that rate and layout, else the nearest lower
// one it takes (Vorbis at 22.05 kHz mono, layer II above 160 kbit/s at
// 24 kHz), else 0 (the encoder's own choice); its own when nothing opens
// (the run then reports the encoder's refusal). Tries each on a scratch
// copy of the settings.
int64_t FitBitRate(const AVCodec* ACodec, const AVCodecContext& AEncoder);

// "5.1(side)", "stereo": a layout as the library names it.
std::string LayoutName(const AVChannelLayout& ALayout);

}  // namespace quorvel
