// Tags carried from a source into an output in the output's own tag system.
// Each container family names the same tag differently (the title is TIT2
// in ID3v2, TITLE in a Vorbis comment, INAM in RIFF INFO, Title in ASF),
// and the libraries' default carry-over leaves a name of one system in the
// other (an ALBUMARTIST comment arrives in ID3 as a TXXX frame, a track
// total is lost). Here the usual tags are read under any of their names and
// written under the names the output's readers look for.
#pragma once

#include <string>

#include "media/runtime/Stubs.h"

namespace quorvel {

enum class TTagFamily {
  Generic,  // keep the library's names (containers with no tags of their own)
  Id3v2,    // MP3, AIFF
  Mp4,      // M4A, M4R, ALAC, MOV
  Vorbis,   // FLAC, Ogg Vorbis, Opus
  Asf,      // WMA
  RiffInfo, // WAV
};

// The tag system an output format writes.
TTagFamily TagFamilyOf(const AVOutputFormat* AFormat);

// The tags of a source (its container's and its audio stream's, the
// container's first) with AOwn (tags given for this output, which win),
// as the dictionary an output of AFamily is to carry. Entries that are not
// among the usual tags keep their names. The caller frees the result.
AVDictionary* MapTags(const AVDictionary* ASource, const AVDictionary* ASourceStream, const AVDictionary* AOwn,
                      TTagFamily AFamily);

// Gives AOutput (not yet started) the tags of AInput in AOutput's own
// system, keeping the tags AOutput was given (they win). Ogg keeps its tags
// with each stream, so there the audio streams get them too; AIFF writes its
// ID3v2 tag only when asked.
void CarryTags(const AVFormatContext* AInput, AVFormatContext* AOutput);

}  // namespace quorvel
