#include "media/engine/NumberText.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

bool ParseInt64(const std::string& AText, int64_t AMin, int64_t AMax, int64_t& AValue) {
  size_t i = 0;
  while (i < AText.size() && (AText[i] == ' ' || AText[i] == '\t')) ++i;
  bool negative = false;
  if (i < AText.size() && (AText[i] == '+' || AText[i] == '-')) negative = AText[i++] == '-';
  int base = 10;
  if (i < AText.size() && AText[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < AText.size() && AText[i] == '0' && (AText[i + 1] == 'x' || AText[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= AText.size()) return false;
  uint64_t magnitude = 0;
  for (; i < AText.size(); ++i) {
    const int c = static_cast<unsigned char>(AText[i]);
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && std::isxdigit(c))
      digit = std::tolower(c) - 'a' + 10;
    else
      return false;
    if (magnitude > (static_cast<uint64_t>(INT64_MAX) + 1) / base) return false;
    magnitude = magnitude * base + digit;
    if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return false;
  }
  if (!negative && magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
  const int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (value < AMin || value > AMax) return false;
  AValue = value;
  return true;
}

EConvertError IntegerError(const std::string& AText) {
  return EConvertError(Format("''%s'' is not a valid integer value", AText.c_str()));
}

}  // namespace

bool TryStrToInt(const std::string& AText, int& AValue) {
  int64_t value = 0;
  if (!ParseInt64(AText, INT_MIN, INT_MAX, value)) return false;
  AValue = static_cast<int>(value);
  return true;
}

int StrToInt(const std::string& AText) {
  int value = 0;
  if (!TryStrToInt(AText, value)) throw IntegerError(AText);
  return value;
}

int64_t StrToInt64(const std::string& AText) {
  int64_t value = 0;
  if (!ParseInt64(AText, INT64_MIN, INT64_MAX, value)) throw IntegerError(AText);
  return value;
}

bool TryStrToFloat(const std::string& AText, double& AValue) {
  const std::string text = Trim(AText);
  if (text.empty()) return false;
  // Only the plain forms: digits, one decimal separator (the locale's, which
  // strtod also uses), an exponent. No hexadecimal, "inf" or "nan".
  const lconv* lc = std::localeconv();
  const std::string sep = (lc && lc->decimal_point && *lc->decimal_point) ? lc->decimal_point : ".";
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == 'e' || c == 'E') continue;
    if (text.compare(i, sep.size(), sep) == 0) {
      i += sep.size() - 1;
      continue;
    }
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE) return false;
  AValue = value;
  return true;
}

double StrToFloat(const std::string& AText) {
  double value = 0;
  if (!TryStrToFloat(AText, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", AText.c_str()));
  return value;
}

bool StrToBool(const std::string& AText) { return AText != "0"; }

std::string Trim(const std::string& AText) {
  size_t b = 0, e = AText.size();
  while (b < e && static_cast<unsigned char>(AText[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(AText[e - 1]) <= ' ') --e;
  return AText.substr(b, e - b);
}

}  // namespace quorvel
