// Cover art carried from a source into an output, kept the way the output's
// format keeps it: an attached picture that the muxer turns into an MP3
// APIC frame (MP3, AIFF), an MP4 "covr" atom or a FLAC PICTURE block; in Ogg (Vorbis,
// Opus) a METADATA_BLOCK_PICTURE comment. The picture is never an ordinary
// video stream of the output, and nothing here fails a conversion: a
// picture that cannot be carried is left out with a warning.
#pragma once

#include <string>

#include "media/runtime/Stubs.h"

namespace quorvel {

// The source's first attached picture (a stream with the attached-picture
// disposition and its packet), JPEG or PNG; null when it has none.
const AVStream* SourceCover(const AVFormatContext* AInput);

// Before the output's header: gives AOutput the picture as its format keeps
// it. Returns the index of the picture stream whose packet WriteCover is to
// write after the header, or -1 (nothing more to write). AWarning tells why
// a picture was left out.
int AddCover(const AVStream* ACover, AVFormatContext* AOutput, std::string& AWarning);

// After the header: the picture's packet on its stream. Returns the
// library's result.
int WriteCover(const AVStream* ACover, AVFormatContext* AOutput, int AStream);

}  // namespace quorvel
