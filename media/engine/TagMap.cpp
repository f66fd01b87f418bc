#include "media/engine/TagMap.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <string>

namespace quorvel {

namespace {

enum TTag { tTitle, tArtist, tAlbum, tAlbumArtist, tTrack, tTrackTotal, tDisc, tDiscTotal, tDate, tGenre, tComment,
            tComposer, kTagCount };

// Every name a tag goes by in the libraries' readers (which turn most names
// into their own generic ones, but not all).
struct TTagNames {
  TTag Tag;
  std::array<const char*, 8> Names;
};

const TTagNames kReadNames[] = {
    {tTitle, {"title", "TIT2", "INAM"}},
    {tArtist, {"artist", "author", "TPE1", "IART"}},
    {tAlbum, {"album", "TALB", "IPRD", "WM/AlbumTitle"}},
    {tAlbumArtist, {"album_artist", "albumartist", "album artist", "TPE2", "WM/AlbumArtist"}},
    {tTrack, {"track", "tracknumber", "TRCK", "WM/TrackNumber", "IPRT", "ITRK"}},
    {tTrackTotal, {"tracktotal", "totaltracks"}},
    {tDisc, {"disc", "discnumber", "TPOS", "WM/PartOfSet"}},
    {tDiscTotal, {"disctotal", "totaldiscs"}},
    {tDate, {"date", "year", "TDRC", "TYER", "ICRD", "WM/Year"}},
    {tGenre, {"genre", "TCON", "IGNR", "WM/Genre"}},
    {tComment, {"comment", "description", "ICMT"}},
    {tComposer, {"composer", "TCOM", "WM/Composer"}},
};

bool IsTagName(const char* AKey, TTag* ATag) {
  for (const TTagNames& names : kReadNames)
    for (const char* name : names.Names)
      if (name && strcasecmp(name, AKey) == 0) {
        if (ATag) *ATag = names.Tag;
        return true;
      }
  return false;
}

// What a reader reports about the source's container rather than about the
// recording: wrong in another container (an MP4 brand in a FLAC file) or
// after a trim (ID3's length).
bool IsContainerDetail(const char* AKey) {
  for (const char* name : {"major_brand", "minor_version", "compatible_brands", "TLEN"})
    if (strcasecmp(name, AKey) == 0) return true;
  return false;
}

using TTags = std::array<std::string, kTagCount>;

// Reads the tags of ADict into ATags (a later dictionary wins), and the
// other entries into AOther.
void Read(const AVDictionary* ADict, TTags& ATags, AVDictionary** AOther) {
  const AVDictionaryEntry* e = nullptr;
  while ((e = avutil.av_dict_get(ADict, "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (!e->value || !*e->value) continue;
    TTag tag = tTitle;
    if (IsTagName(e->key, &tag))
      ATags[tag] = e->value;
    else if (!IsContainerDetail(e->key))
      avutil.av_dict_set(AOther, e->key, e->value, 0);
  }
}

// "3/12" into number and total; a total already known stays when the
// number has none.
void SplitNumber(std::string& ANumber, std::string& ATotal) {
  const size_t slash = ANumber.find('/');
  if (slash == std::string::npos) return;
  const std::string total = ANumber.substr(slash + 1);
  ANumber.resize(slash);
  if (!total.empty()) ATotal = total;
}

std::string WithTotal(const std::string& ANumber, const std::string& ATotal) {
  if (ANumber.empty()) return {};
  return ATotal.empty() ? ANumber : ANumber + "/" + ATotal;
}

// The names an output family writes, by tag; null: the family has none.
using TWriteNames = std::array<const char*, kTagCount>;

const TWriteNames& NamesOf(TTagFamily AFamily) {
  // Title, artist, album, album artist, track, track total, disc, disc
  // total, date, genre, comment, composer. A family without a total name
  // writes "number/total" under the number's name.
  static const TWriteNames generic = {"title", "artist", "album", "album_artist", "track", nullptr, "disc",
                                      nullptr, "date", "genre", "comment", "composer"};
  static const TWriteNames id3 = {"TIT2", "TPE1", "TALB", "TPE2", "TRCK", nullptr, "TPOS",
                                  nullptr, "TDRC", "TCON", "comment", "TCOM"};
  static const TWriteNames vorbis = {"TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "TRACKNUMBER", "TRACKTOTAL",
                                     "DISCNUMBER", "DISCTOTAL", "DATE", "GENRE", "COMMENT", "COMPOSER"};
  static const TWriteNames asf = {"title", "author", "WM/AlbumTitle", "WM/AlbumArtist", "WM/TrackNumber", nullptr,
                                  "WM/PartOfSet", nullptr, "WM/Year", "WM/Genre", "comment", "WM/Composer"};
  // RIFF INFO has no album artist, disc or composer that readers know.
  static const TWriteNames riff = {"INAM", "IART", "IPRD", nullptr, "ITRK", nullptr, nullptr,
                                   nullptr, "ICRD", "IGNR", "ICMT", nullptr};
  switch (AFamily) {
    case TTagFamily::Id3v2: return id3;
    case TTagFamily::Vorbis: return vorbis;
    case TTagFamily::Asf: return asf;
    case TTagFamily::RiffInfo: return riff;
    case TTagFamily::Mp4:
    case TTagFamily::Generic: break;
  }
  return generic;
}

}  // namespace

TTagFamily TagFamilyOf(const AVOutputFormat* AFormat) {
  if (!AFormat || !AFormat->name) return TTagFamily::Generic;
  const std::string name = AFormat->name;
  if (name == "mp3" || name == "aiff") return TTagFamily::Id3v2;
  if (name == "mp4" || name == "ipod" || name == "mov" || name == "3gp") return TTagFamily::Mp4;
  if (name == "flac" || name == "ogg" || name == "opus" || name == "oga" || name == "spx")
    return TTagFamily::Vorbis;
  if (name == "asf" || name == "asf_stream") return TTagFamily::Asf;
  if (name == "wav") return TTagFamily::RiffInfo;
  return TTagFamily::Generic;
}

AVDictionary* MapTags(const AVDictionary* ASource, const AVDictionary* ASourceStream, const AVDictionary* AOwn,
                      TTagFamily AFamily) {
  TTags tags;
  AVDictionary* out = nullptr;
  // The stream's tags only fill what the container lacks.
  TTags streamTags;
  AVDictionary* streamOther = nullptr;
  Read(ASourceStream, streamTags, &streamOther);
  avutil.av_dict_free(&streamOther);
  Read(ASource, tags, &out);
  for (int t = 0; t < kTagCount; ++t)
    if (tags[static_cast<size_t>(t)].empty()) tags[static_cast<size_t>(t)] = streamTags[static_cast<size_t>(t)];
  TTags own;
  Read(AOwn, own, &out);
  for (int t = 0; t < kTagCount; ++t)
    if (!own[static_cast<size_t>(t)].empty()) tags[static_cast<size_t>(t)] = own[static_cast<size_t>(t)];

  SplitNumber(tags[tTrack], tags[tTrackTotal]);
  SplitNumber(tags[tDisc], tags[tDiscTotal]);
  const TWriteNames& names = NamesOf(AFamily);
  const auto put = [&](const char* AName, const std::string& AValue) {
    if (AName && !AValue.empty()) avutil.av_dict_set(&out, AName, AValue.c_str(), 0);
  };
  for (const TTag t : {tTitle, tArtist, tAlbum, tAlbumArtist, tDate, tGenre, tComment, tComposer}) put(names[t], tags[t]);
  if (names[tTrackTotal] || AFamily == TTagFamily::Asf) {  // ASF's track number is a number alone
    put(names[tTrack], tags[tTrack]);
    if (!tags[tTrack].empty()) put(names[tTrackTotal], tags[tTrackTotal]);
  } else {
    put(names[tTrack], WithTotal(tags[tTrack], tags[tTrackTotal]));
  }
  if (names[tDiscTotal]) {
    put(names[tDisc], tags[tDisc]);
    if (!tags[tDisc].empty()) put(names[tDiscTotal], tags[tDiscTotal]);
  } else {
    put(names[tDisc], WithTotal(tags[tDisc], tags[tDiscTotal]));
  }
  return out;
}

void CarryTags(const AVFormatContext* AInput, AVFormatContext* AOutput) {
  if (!AInput || !AOutput || !AOutput->oformat) return;
  const AVDictionary* stream = nullptr;
  for (unsigned i = 0; i < AInput->nb_streams && !stream; ++i)
    if (AInput->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) stream = AInput->streams[i]->metadata;
  const TTagFamily family = TagFamilyOf(AOutput->oformat);
  AVDictionary* mapped = MapTags(AInput->metadata, stream, AOutput->metadata, family);
  avutil.av_dict_free(&AOutput->metadata);
  AOutput->metadata = mapped;
  const std::string name = AOutput->oformat->name;
  if (name == "ogg" || name == "opus" || name == "oga" || name == "spx") {
    for (unsigned i = 0; i < AOutput->nb_streams; ++i) {
      AVStream* st = AOutput->streams[i];
      if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
      AVDictionary* tags = MapTags(mapped, nullptr, st->metadata, family);
      avutil.av_dict_free(&st->metadata);
      st->metadata = tags;
    }
  }
  if (name == "aiff" && AOutput->priv_data) avutil.av_opt_set_int(AOutput->priv_data, "write_id3v2", 1, 0);
}

}  // namespace quorvel
