// The length a file's own header states, read from the header itself. The
// demuxer does not always pass it on: a WAV file cut short (a broken copy
// or download) still says in its header how much sound it had, but the
// libraries then estimate the length from the bytes that are left, so the
// loss cannot be seen in what they report.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// µs of the data a RIFF WAVE file's header announces (the data chunk's size
// over the format's byte rate); 0 for another kind of file or a header that
// does not say (a streamed WAV with an open size, RF64).
int64_t StatedLength(const std::string& AFileName);

}  // namespace quorvel
