// printf-style formatting into std::string, for the program's own texts.
#pragma once

#include <cstdarg>
#include <string>

namespace quorvel {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

}  // namespace quorvel
