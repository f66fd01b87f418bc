// The tags of a source as output name patterns read them: the container's
// tags and those of its first audio stream (Ogg and Opus keep theirs
// there), keys in lower case.
//
// Threads: any; ReadSourceTags opens the file with a probe of its own,
// SourceTagsOf reads a decoder the caller has opened (on the caller's thread).
#pragma once

#include <map>
#include <string>

namespace quorvel {

class TCustomDecoder;

// The tags of the file ADecoder has open (empty when it has none open): a
// caller that probes the file anyway reads them without opening it again.
std::map<std::string, std::string> SourceTagsOf(const TCustomDecoder& ADecoder);

// Empty when the file cannot be opened (its conversion says why).
std::map<std::string, std::string> ReadSourceTags(const std::string& APath);

}  // namespace quorvel
