// Texts of the probe that need no decoder object: codec names and metadata
// blocks.
#include <cstring>
#include <string_view>

#include "media/decoder/FFDecode.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

std::string Trim(std::string_view s) {
  const char* blanks = " \t\r\n";
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::string();
  const size_t last = s.find_last_not_of(blanks);
  return std::string(s.substr(first, last - first + 1));
}

// Containers name the same tags in their own vocabularies (ID3, RIFF INFO,
// ASF, Vorbis comments ...). Users read one set of names; the demuxers of
// today translate most keys themselves, this catches the ones that come
// through raw. The duplicate "Author" row is harmless: the first one wins.
struct TKeyName {
  const char* Key;
  const char* Name;
};
constexpr TKeyName kMetadataNames[] = {
    {"LEAD_PERFORMER", "performer"},
    {"PART_NUMBER", "track"},
    {"ALBUMARTIST", "album_artist"},
    {"TRACKNUMBER", "track"},
    {"DISCNUMBER", "disc"},
    {"Author", "artist"},
    {"X-CreationTime", "date"},
    {"CreationTime", "date"},
    {"SourceFilename", "filename"},
    {"X-Language", "language"},
    {"X-Disposition", "disposition"},
    {"X-Replaces", "replaces"},
    {"X-Depends", "depends"},
    {"X-Uses", "uses"},
    {"X-UsesFont", "usesfont"},
    {"WM/AlbumArtist", "album_artist"},
    {"WM/AlbumTitle", "album"},
    {"Author", "artist"},
    {"Description", "comment"},
    {"WM/Composer", "composer"},
    {"WM/EncodedBy", "encoded_by"},
    {"WM/EncodingSettings", "encoder"},
    {"WM/Genre", "genre"},
    {"WM/Language", "language"},
    {"WM/OriginalFilename", "filename"},
    {"WM/PartOfSet", "disc"},
    {"WM/Publisher", "publisher"},
    {"WM/Tool", "encoder"},
    {"WM/TrackNumber", "track"},
    {"WM/Track", "track"},
    {"WM/MediaStationCallSign", "service_provider"},
    {"WM/MediaStationName", "service_name"},
    {"IART", "artist"},
    {"ICMT", "comment"},
    {"ICOP", "copyright"},
    {"ICRD", "date"},
    {"IGNR", "genre"},
    {"ILNG", "language"},
    {"INAM", "title"},
    {"IPRD", "album"},
    {"IPRT", "track"},
    {"ISFT", "encoder"},
    {"ITCH", "encoded_by"},
    {"strn", "title"},
    {"TALB", "album"},
    {"TCOM", "composer"},
    {"TCON", "genre"},
    {"TCOP", "copyright"},
    {"TENC", "encoded_by"},
    {"TIT2", "title"},
    {"TLAN", "language"},
    {"TPE1", "artist"},
    {"TPE2", "album_artist"},
    {"TPE3", "performer"},
    {"TPOS", "disc"},
    {"TPUB", "publisher"},
    {"TRCK", "track"},
    {"TSSE", "encoder"},
    {"TDRL", "date"},
    {"TDRC", "date"},
    {"TDEN", "creation_time"},
    {"TSOA", "album-sort"},
    {"TSOP", "artist-sort"},
    {"TSOT", "title-sort"},
    {"TAL", "album"},
    {"TCO", "genre"},
    {"TT2", "title"},
    {"TEN", "encoded_by"},
    {"TP1", "artist"},
    {"TP2", "album_artist"},
    {"TP3", "performer"},
    {"TRK", "track"},
};
static_assert(std::size(kMetadataNames) == 72);

bool Printable(unsigned c) { return c >= 32 && c <= 126; }

}  // namespace

std::string CodecNameText(const AVCodecParameters& APar) {
  if (const AVCodec* codec = avcodec.avcodec_find_decoder(APar.codec_id)) {
    const std::string longName = Trim(codec->long_name ? codec->long_name : "");
    if (longName.empty()) return codec->name;
    return Format("%s(%s)", codec->name, longName.c_str());
  }
  if (APar.codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // No decoder here, but the id may still have a name (a codec this build
  // cannot decode, a data or attachment stream).
  if (APar.codec_id != AV_CODEC_ID_NONE) {
    if (const AVCodecDescriptor* desc = avcodec.avcodec_descriptor_get(APar.codec_id)) {
      const std::string name = Trim(desc->name ? desc->name : "");
      if (!name.empty()) return name;
    }
  }
  const unsigned tag = APar.codec_tag;
  const unsigned c0 = tag & 0xFF, c1 = (tag >> 8) & 0xFF, c2 = (tag >> 16) & 0xFF, c3 = (tag >> 24) & 0xFF;
  if (Printable(c0) && Printable(c1) && Printable(c2) && Printable(c3))
    return Format("%c%c%c%c / 0x%04X", static_cast<char>(c0), static_cast<char>(c1), static_cast<char>(c2),
                  static_cast<char>(c3), tag);
  return Format("0x%04x", tag);
}

std::string MetadataDisplayName(const std::string& AKey) {
  for (const TKeyName& row : kMetadataNames)
    if (AKey == row.Key) return row.Name;
  return AKey;
}

std::string MetadataBlockText(const AVDictionary* AMetadata, const std::string& APrefix) {
  if (!AMetadata) return std::string();
  const int count = avutil.av_dict_count(AMetadata);
  if (count == 0) return std::string();
  if (count == 1) {
    const AVDictionaryEntry* only = avutil.av_dict_get(AMetadata, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    if (only && std::strcmp(only->key, "language") == 0) return std::string();
  }

  std::string text = APrefix + "Metadata:\r\n";
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = avutil.av_dict_get(AMetadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (std::strcmp(entry->key, "language") == 0) continue;
    text += Format("%s  %-16s: %s\r\n", APrefix.c_str(), MetadataDisplayName(entry->key).c_str(),
                   entry->value ? entry->value : "");
  }
  return text;
}

}  // namespace quorvel
