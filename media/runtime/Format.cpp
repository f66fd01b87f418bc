#include "media/runtime/Format.h"

#include <cstdio>
#include <vector>

namespace quorvel {

std::string FormatV(const char* fmt, va_list args) {
  va_list probe;
  va_copy(probe, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size), '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return text;
}

}  // namespace quorvel
