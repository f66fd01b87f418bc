// The x264 encoder presets every job knows by name ("apre", "vpre", "spre").
#pragma once

#include <span>
#include <string>

namespace quorvel {

struct TOptionsPreset {
  const char* Name;
  const char* Value;  // key=value lines, each ended by a line feed
};

// In lookup order.
std::span<const TOptionsPreset> BuiltinPresets();
// The first preset whose name equals AName in any letter case, or null.
const TOptionsPreset* FindBuiltinPreset(const std::string& AName);

}  // namespace quorvel
