// JSON for the lines quorvel-convert --json prints: one object a line.
#pragma once

#include <string>

namespace quorvel::cli {

// AText as a JSON string, quoted, with quotes, backslashes and control
// characters escaped (the bytes of a file name pass through as they are).
std::string JsonText(const std::string& AText);

}  // namespace quorvel::cli
