#include "media/batch/NamePattern.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace quorvel {

namespace {

// The tags a field reads, in the order tried: the formats name them
// differently.
const std::map<std::string, std::vector<std::string>>& FieldTags() {
  static const std::map<std::string, std::vector<std::string>> fields = {
      {"artist", {"artist", "album_artist", "author", "performer"}},
      {"albumartist", {"album_artist", "albumartist", "album artist"}},
      {"album", {"album"}},
      {"track", {"track", "tracknumber"}},
      {"disc", {"disc", "discnumber"}},
      {"title", {"title"}},
      {"genre", {"genre"}},
      {"year", {"date", "year", "originaldate"}},
  };
  return fields;
}

std::string Trim(const std::string& AText) {
  size_t a = 0, b = AText.size();
  while (a < b && std::isspace(static_cast<unsigned char>(AText[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(AText[b - 1]))) --b;
  return AText.substr(a, b - a);
}

// A tag's value as a field shows it: "3/12" is track 3, "2019-05-01" is
// the year 2019.
std::string FieldValue(const std::string& AField, const TNameFields& AFields) {
  if (AField == "name") return AFields.Name;
  if (AField == "ext") return AFields.Ext;
  const auto known = FieldTags().find(AField);
  if (known == FieldTags().end()) return {};
  for (const std::string& key : known->second) {
    const auto tag = AFields.Tags.find(key);
    if (tag == AFields.Tags.end()) continue;
    std::string value = Trim(tag->second);
    if (AField == "track" || AField == "disc") value = Trim(value.substr(0, value.find('/')));
    if (AField == "year" && value.size() >= 4 && std::isdigit(static_cast<unsigned char>(value[0])))
      value = value.substr(0, 4);
    if (!value.empty()) return value;
  }
  return {};
}

// "{track:02}": the value padded with zeros to the width, when it is a number.
std::string Padded(const std::string& AValue, const std::string& AFormat) {
  if (AFormat.empty() || AValue.empty()) return AValue;
  for (const char c : AValue)
    if (!std::isdigit(static_cast<unsigned char>(c))) return AValue;
  const int width = std::atoi(AFormat.c_str());
  std::string digits = AValue;
  while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

// A field's value never makes folders: its "/" is a character of the name.
std::string FieldText(const std::string& AValue) {
  std::string text = AValue;
  for (char& c : text)
    if (c == '/') c = '_';
  return text;
}

// The position of the "}" that closes the "{" at AOpen, or npos.
size_t Closing(const std::string& APattern, size_t AOpen) {
  int depth = 0;
  for (size_t i = AOpen; i < APattern.size(); ++i) {
    if (APattern[i] == '{') ++depth;
    if (APattern[i] == '}' && --depth == 0) return i;
  }
  return std::string::npos;
}

// The pattern's text with its fields filled in; "/" of the pattern stays.
std::string Fill(const std::string& APattern, const TNameFields& AFields) {
  std::string out;
  for (size_t i = 0; i < APattern.size();) {
    const size_t close = APattern[i] == '{' ? Closing(APattern, i) : std::string::npos;
    if (close == std::string::npos) {
      out += APattern[i++];
      continue;
    }
    const std::string inside = APattern.substr(i + 1, close - i - 1);
    i = close + 1;
    std::string field = inside, fallback;
    bool hasFallback = false;
    if (const size_t bar = inside.find('|'); bar != std::string::npos) {
      field = inside.substr(0, bar);
      fallback = inside.substr(bar + 1);
      hasFallback = true;
    }
    std::string format;
    if (const size_t colon = field.find(':'); colon != std::string::npos) {
      format = field.substr(colon + 1);
      field = field.substr(0, colon);
    }
    field = Trim(field);
    if (field == "folder") {
      // The only field whose "/" makes folders: the source's own.
      out += AFields.Folder.empty() && hasFallback ? Fill(fallback, AFields) : AFields.Folder;
      continue;
    }
    const std::string value = FieldValue(field, AFields);
    if (!value.empty())
      out += FieldText(Padded(value, format));
    else if (hasFallback)
      out += Fill(fallback, AFields);
  }
  return out;
}

bool IsReserved(const std::string& AName) {
  // The base name before the first dot, without trailing spaces, in any case.
  std::string base = AName.substr(0, AName.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* n : kNames)
    if (base == n) return true;
  if (base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '0' &&
      base[3] <= '9')
    return true;
  return false;
}

}  // namespace

std::string CutAtCharacter(const std::string& AText, size_t AMaxBytes) {
  if (AText.size() <= AMaxBytes) return AText;
  size_t end = AMaxBytes;
  // Back over continuation bytes (10xxxxxx) to the start of the character
  // that does not fit whole.
  while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) --end;
  return AText.substr(0, end);
}

std::string SafeNameComponent(const std::string& AName, bool APosixNames) {
  std::string name;
  for (const char c : AName) {
    const unsigned char u = static_cast<unsigned char>(c);
    bool bad = c == '/' || c == '\0';
    if (!APosixNames) bad = bad || u < 0x20 || u == 0x7F || std::string_view("\\:*?\"<>|").find(c) != std::string_view::npos;
    name += bad ? '_' : c;
  }
  name = CutAtCharacter(name, kMaxNameBytes);
  if (!APosixNames) {
    // Windows drops trailing dots and spaces, so two names that differ only
    // there would become one.
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (IsReserved(name)) {
      const size_t dot = name.find('.');
      name.insert(dot == std::string::npos ? name.size() : dot, "_");
      name = CutAtCharacter(name, kMaxNameBytes);
    }
  }
  if (name.empty() || name == "." || name == "..") return "_";
  return name;
}

bool PatternUsesTags(const std::string& APattern) {
  for (const auto& field : FieldTags())
    if (APattern.find("{" + field.first) != std::string::npos) return true;
  return false;
}

std::string ExpandNamePattern(const std::string& APattern, const TNameFields& AFields, bool APosixNames) {
  const std::string filled = Fill(APattern, AFields);
  std::string path;
  size_t from = 0;
  while (from <= filled.size()) {
    const size_t slash = filled.find('/', from);
    const std::string part = filled.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    from = slash == std::string::npos ? filled.size() + 1 : slash + 1;
    // Empty parts (a missing folder, "//", a leading "/") make no folder;
    // "." and ".." would climb out of the output folder.
    // Spaces around a part are what a missing field left ("{track} {title}").
    const std::string trimmed = Trim(part);
    if (trimmed.empty() || trimmed == "." || trimmed == "..") continue;
    const std::string safe = SafeNameComponent(trimmed, APosixNames);
    if (safe == "_" && trimmed.find_first_not_of(". ") == std::string::npos) continue;
    path += (path.empty() ? "" : "/") + safe;
  }
  // A pattern that names only folders (or nothing) still names the file.
  if (path.empty() || filled.empty() || filled.back() == '/' ) {
    const std::string name = SafeNameComponent(AFields.Name.empty() ? "_" : AFields.Name, APosixNames);
    if (path.empty()) return name;
    return path + "/" + name;
  }
  return path;
}

TNameFields PathFields(const std::string& ASource, const std::string& ARoot) {
  TNameFields fields;
  const fs::path source(ASource);
  fields.Name = source.stem().string();
  fields.Ext = source.extension().string();
  if (!fields.Ext.empty()) fields.Ext.erase(0, 1);
  if (!ARoot.empty()) {
    const fs::path folder = source.parent_path().lexically_normal();
    std::string root = ARoot;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const fs::path relative = folder.lexically_relative(fs::path(root).lexically_normal());
    const std::string text = relative.string();
    if (!text.empty() && text != "." && text.rfind("..", 0) != 0) fields.Folder = text;
  }
  return fields;
}

}  // namespace quorvel
