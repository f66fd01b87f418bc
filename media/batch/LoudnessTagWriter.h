// Writes loudness tags (ReplayGain 2.0, Opus R128 gains) into a finished
// output, in its format's own tag system:
//   MP3, AIFF    ID3v2 TXXX frames (REPLAYGAIN_TRACK_GAIN ...)
//   FLAC, Vorbis Vorbis comments
//   Opus         R128_TRACK_GAIN / R128_ALBUM_GAIN comments (header gain 0)
//   WMA          ASF extended content attributes
//   M4A (AAC, ALAC, ringtones)
//                freeform atoms ----:com.apple.iTunes:replaygain_*
// The figures are known only once the whole output has been encoded, so
// the tags go in after it is complete: the audio packets are copied as
// they are into a new file of the same format (the MP3 encoder delay and
// padding, the FLAC stream information and the Opus header's pre-skip and
// gain carried over), which then replaces the output. The muxer of MP4
// files writes only the tags it knows by name, so for those the freeform
// atoms are added to the file's metadata box directly and the audio is not
// touched at all.
//
// Runs on the calling thread; the media libraries must be loaded.
#pragma once

#include <string>

#include "media/loudness/Loudness.h"

namespace quorvel {

// The tag system of an output by its file's format.
enum class TTagSystem { None, Id3v2, VorbisComment, Opus, Mp4, Asf };

// Which system the finished file APath takes (None: a format without tags
// for loudness, e.g. WAV, AC3, MP2, or one that cannot be read).
TTagSystem TagSystemOf(const std::string& APath);

// Adds the tags of ATrack and, when given, AAlbum to APath (ReplayGain, or
// R128 gains for Opus; earlier tags of the same names are replaced). Empty
// on success or for a format without such tags, else why; on failure the
// output is left as it was.
std::string WriteLoudnessTags(const std::string& APath, const TLoudness& ATrack, const TLoudness* AAlbum);

}  // namespace quorvel
