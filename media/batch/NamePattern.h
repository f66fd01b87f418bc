// Output names made from a pattern: fields of the source's tags and path in
// braces, "/" between folders. "{artist|Unknown Artist}" falls back to the
// text after "|" (itself a pattern, so "{title|{name}}" works) when the tag
// is missing or empty; "{track:02}" pads a number with zeros. A pattern
// that yields no name falls back to "{name}".
//
// The names are made safe for the file systems users copy music to: the
// characters FAT, exFAT and NTFS refuse (\ : * ? " < > | and control
// characters) become "_", trailing dots and spaces go, each folder or file
// name is cut to 255 bytes at a UTF-8 character boundary, and the names
// those systems reserve (CON, NUL, COM1 ...) get a "_" after them. With
// POSIX names only "/" inside a field and the NUL character are replaced and
// only the length is limited.
//
// Threads: no shared state.
#pragma once

#include <map>
#include <string>

namespace quorvel {

// The fields a source offers. Tag keys are lower case ("artist", "album",
// "album_artist", "track", "disc", "title", "genre", "date").
struct TNameFields {
  std::map<std::string, std::string> Tags;
  std::string Name;    // the source's name without its extension (or the row's own title)
  std::string Folder;  // the source's folder relative to the root it was added from; "" for none
  std::string Ext;     // the source's extension without the dot
};

// The names of the patterns the window offers.
inline constexpr char kFlatPattern[] = "{name}";
inline constexpr char kMirrorPattern[] = "{folder}/{name}";
inline constexpr char kArtistAlbumPattern[] =
    "{albumartist|{artist|Unknown Artist}}/{album|Unknown Album}/{track:02} {title|{name}}";

// Whether APattern reads any tag (a source's tags then have to be read
// before its name is known).
bool PatternUsesTags(const std::string& APattern);

// The relative path (folders and file name, no extension) APattern gives
// for AFields; never empty, never absolute, no "." or ".." component.
std::string ExpandNamePattern(const std::string& APattern, const TNameFields& AFields, bool APosixNames);

// One folder or file name made safe (see above); "_" for a name with
// nothing left.
std::string SafeNameComponent(const std::string& AName, bool APosixNames);

// The longest byte length of one component.
inline constexpr size_t kMaxNameBytes = 255;
// The longest AText of at most AMaxBytes bytes that ends at a UTF-8
// character boundary.
std::string CutAtCharacter(const std::string& AText, size_t AMaxBytes);

// The source's folder relative to ARoot ("" when it lies directly in it or
// when ARoot is empty), and its name without extension and its extension.
TNameFields PathFields(const std::string& ASource, const std::string& ARoot);

}  // namespace quorvel
