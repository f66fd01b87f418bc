#include "cli/JsonText.h"

#include "media/runtime/Format.h"

namespace quorvel::cli {

std::string JsonText(const std::string& AText) {
  std::string out = "\"";
  for (const char c : AText) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      out += Format("\\u%04x", u);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace quorvel::cli
