// Number texts of option values: integers as decimal, "$" or "0x"
// hexadecimal; decimals with the locale's decimal separator.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// Throw EConvertError for anything but a whole number of the type's range.
int StrToInt(const std::string& AText);
int64_t StrToInt64(const std::string& AText);
bool TryStrToInt(const std::string& AText, int& AValue);
double StrToFloat(const std::string& AText);
bool TryStrToFloat(const std::string& AText, double& AValue);
// "0" is false; any other text, the empty one included, is true.
bool StrToBool(const std::string& AText);
std::string Trim(const std::string& AText);

}  // namespace quorvel
