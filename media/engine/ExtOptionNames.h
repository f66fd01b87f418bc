// The names the job's option table knows, in the order they are matched.
#pragma once

#include <span>

namespace quorvel {

std::span<const char* const> ExtOptionNames();

}  // namespace quorvel
