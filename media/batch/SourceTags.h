// The tags of a source as output name patterns read them: the container's
// tags and those of its first audio stream (Ogg and Opus keep theirs
// there), keys in lower case.
//
// Threads: any; each call opens the file with a probe of its own.
#pragma once

#include <map>
#include <string>

namespace quorvel {

// Empty when the file cannot be opened (its conversion says why).
std::map<std::string, std::string> ReadSourceTags(const std::string& APath);

}  // namespace quorvel
