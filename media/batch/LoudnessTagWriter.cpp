#include "media/batch/LoudnessTagWriter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/runtime/LibHandles.h"
#include "media/runtime/Stubs.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

struct TInputCloser {
  void operator()(AVFormatContext* p) const {
    if (avformat.avformat_close_input) avformat.avformat_close_input(&p);
  }
};
using TInputPtr = std::unique_ptr<AVFormatContext, TInputCloser>;

struct TOutputCloser {
  void operator()(AVFormatContext* p) const {
    if (!avformat.avformat_free_context) return;
    if (p->pb && !(p->oformat->flags & AVFMT_NOFILE)) avformat.avio_closep(&p->pb);
    avformat.avformat_free_context(p);
  }
};
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputCloser>;

std::string ErrorText(int ACode) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  avutil.av_strerror(ACode, text, sizeof text);
  return text;
}

std::string Lower(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

TInputPtr OpenInput(const std::string& APath, std::string& AError) {
  AVFormatContext* raw = nullptr;
  std::string url;
  try {
    url = FileNameToURL(APath);
  } catch (const std::exception& e) {
    AError = e.what();
    return nullptr;
  }
  int rc = avformat.avformat_open_input(&raw, url.c_str(), nullptr, nullptr);
  if (rc < 0) {
    AError = "cannot be read back: " + ErrorText(rc);
    return nullptr;
  }
  TInputPtr input(raw);
  // The codec as its frames tell it (the MPEG audio reader starts every
  // file as layer 3), the packets' durations and what a muxer needs (the
  // MP3 reader takes the encoder delay and padding from the LAME header).
  rc = avformat.avformat_find_stream_info(input.get(), nullptr);
  if (rc < 0) {
    AError = "cannot be read back: " + ErrorText(rc);
    return nullptr;
  }
  return input;
}

// The muxer that writes the format APath was read as, with its system.
struct TFamily {
  TTagSystem System = TTagSystem::None;
  const char* Muxer = nullptr;
};

TFamily FamilyOf(const AVFormatContext* AInput) {
  const std::string name = AInput->iformat ? AInput->iformat->name : "";
  const AVCodecParameters* audio = nullptr;
  for (unsigned i = 0; i < AInput->nb_streams && !audio; ++i)
    if (AInput->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = AInput->streams[i]->codecpar;
  if (!audio) return {};
  // MPEG layer 2 is read as "mp3" too, but its muxer writes no tags.
  if (name == "mp3") return audio->codec_id == AV_CODEC_ID_MP3 ? TFamily{TTagSystem::Id3v2, "mp3"} : TFamily{};
  if (name == "aiff") return {TTagSystem::Id3v2, "aiff"};
  if (name == "flac") return {TTagSystem::VorbisComment, "flac"};
  if (name == "ogg") {
    if (audio->codec_id == AV_CODEC_ID_OPUS) return {TTagSystem::Opus, "opus"};
    if (audio->codec_id == AV_CODEC_ID_VORBIS) return {TTagSystem::VorbisComment, "ogg"};
    return {};
  }
  if (name == "asf") return {TTagSystem::Asf, "asf"};
  if (name.find("mp4") != std::string::npos) return {TTagSystem::Mp4, nullptr};
  return {};
}

// Puts ATags into ADict, replacing entries whose names differ only in case.
void SetTags(AVDictionary** ADict, const TLoudnessTags& ATags) {
  for (const auto& [name, value] : ATags) {
    for (;;) {
      // The dictionary compares without regard to case by default.
      const AVDictionaryEntry* old = avutil.av_dict_get(*ADict, name.c_str(), nullptr, 0);
      if (!old) break;
      avutil.av_dict_set(ADict, old->key, nullptr, 0);
    }
    avutil.av_dict_set(ADict, name.c_str(), value.c_str(), 0);
  }
}

// The temporary file beside APath that replaces it once complete.
std::string TemporaryName(const std::string& APath) { return APath + ".tagging"; }

std::string ReplaceWith(const std::string& ATemporary, const std::string& APath) {
  std::error_code ec;
  std::filesystem::rename(ATemporary, APath, ec);
  if (ec) {
    std::filesystem::remove(ATemporary, ec);
    return "the tagged file could not replace the output";
  }
  return {};
}

// A copy of every packet into a new file of the same muxer, with the
// container tags (and, for Ogg, the stream's comments) plus ATags.
std::string Remux(TInputPtr AInput, const TFamily& AFamily, const std::string& APath, const TLoudnessTags& ATags) {
  AVFormatContext* in = AInput.get();
  const std::string temporary = TemporaryName(APath);
  AVFormatContext* raw = nullptr;
  int rc = avformat.avformat_alloc_output_context2(&raw, nullptr, AFamily.Muxer, nullptr);
  if (rc < 0 || !raw) return "cannot write tags: " + ErrorText(rc);
  TOutputPtr out(raw);
  std::vector<int> map(in->nb_streams, -1);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream* ist = in->streams[i];
    AVStream* ost = avformat.avformat_new_stream(out.get(), nullptr);
    if (!ost) return "out of memory";
    if (avcodec.avcodec_parameters_copy(ost->codecpar, ist->codecpar) < 0) return "out of memory";
    // The muxer chooses its own tag for the codec.
    ost->codecpar->codec_tag = 0;
    ost->time_base = ist->time_base;
    ost->disposition = ist->disposition;
    avutil.av_dict_copy(&ost->metadata, ist->metadata, 0);
    map[i] = ost->index;
  }
  avutil.av_dict_copy(&out->metadata, in->metadata, 0);
  // Ogg carries its comments per stream (that is where the reader put
  // them); the other muxers read the container's tags.
  if (AFamily.System == TTagSystem::VorbisComment && std::strcmp(AFamily.Muxer, "ogg") == 0) {
    for (unsigned i = 0; i < out->nb_streams; ++i)
      if (out->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) SetTags(&out->streams[i]->metadata, ATags);
  } else if (AFamily.System == TTagSystem::Opus) {
    for (unsigned i = 0; i < out->nb_streams; ++i)
      if (out->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) SetTags(&out->streams[i]->metadata, ATags);
  } else {
    SetTags(&out->metadata, ATags);
  }
  AVDictionary* options = nullptr;
  // AIFF takes an ID3 chunk only when asked for one.
  if (std::strcmp(AFamily.Muxer, "aiff") == 0) avutil.av_dict_set(&options, "write_id3v2", "1", 0);
  std::string url;
  try {
    url = FileNameToURL(temporary);
  } catch (const std::exception& e) {
    avutil.av_dict_free(&options);
    return e.what();
  }
  rc = avformat.avio_open2(&out->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
  if (rc < 0) {
    avutil.av_dict_free(&options);
    return "cannot write tags: " + ErrorText(rc);
  }
  const auto fail = [&](const std::string& AWhy) {
    out.reset();
    std::error_code ec;
    std::filesystem::remove(temporary, ec);
    return AWhy;
  };
  rc = avformat.avformat_write_header(out.get(), &options);
  avutil.av_dict_free(&options);
  if (rc < 0) return fail("cannot write tags: " + ErrorText(rc));
  TPacketPtr packet(avcodec.av_packet_alloc());
  if (!packet) return fail("out of memory");
  for (;;) {
    rc = avformat.av_read_frame(in, packet.get());
    if (rc == AVERROR_EOF) break;
    if (rc < 0) return fail("cannot be read back: " + ErrorText(rc));
    const int target = map[static_cast<size_t>(packet->stream_index)];
    const AVRational from = in->streams[packet->stream_index]->time_base;
    packet->stream_index = target;
    avcodec.av_packet_rescale_ts(packet.get(), from, out->streams[target]->time_base);
    packet->pos = -1;
    rc = avformat.av_write_frame(out.get(), packet.get());
    avcodec.av_packet_unref(packet.get());
    if (rc < 0) return fail("cannot write tags: " + ErrorText(rc));
  }
  rc = avformat.av_write_trailer(out.get());
  if (rc < 0) return fail("cannot write tags: " + ErrorText(rc));
  out.reset();  // closes the file before it replaces the output
  AInput.reset();
  return ReplaceWith(temporary, APath);
}

// ---- MP4: freeform atoms in moov/udta/meta/ilst ----

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint64_t Be64(const uint8_t* p) { return (uint64_t{Be32(p)} << 32) | Be32(p + 4); }
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
void PutBe64(uint8_t* p, uint64_t v) {
  PutBe32(p, static_cast<uint32_t>(v >> 32));
  PutBe32(p + 4, static_cast<uint32_t>(v));
}

// One box of the movie header, its children parsed where they are boxes
// this writer walks through.
struct TBox {
  std::string Type;
  std::vector<uint8_t> Prefix;  // a full box's version and flags (meta)
  std::vector<uint8_t> Payload;  // a leaf's bytes
  std::vector<TBox> Children;
  bool Container = false;
};

bool IsContainer(const std::string& AType) {
  return AType == "moov" || AType == "trak" || AType == "mdia" || AType == "minf" || AType == "stbl" ||
         AType == "udta" || AType == "meta" || AType == "ilst";
}

bool ParseBoxes(const uint8_t* AData, size_t ASize, std::vector<TBox>& AOut) {
  size_t at = 0;
  while (at + 8 <= ASize) {
    uint64_t size = Be32(AData + at);
    size_t header = 8;
    if (size == 1) {
      if (at + 16 > ASize) return false;
      size = Be64(AData + at + 8);
      header = 16;
    } else if (size == 0) {
      size = ASize - at;
    }
    if (size < header || size > ASize - at) return false;
    TBox box;
    box.Type.assign(reinterpret_cast<const char*>(AData + at + 4), 4);
    const uint8_t* body = AData + at + header;
    size_t length = static_cast<size_t>(size) - header;
    if (IsContainer(box.Type)) {
      box.Container = true;
      // ISO's meta is a full box; QuickTime's has its handler right away.
      if (box.Type == "meta" && length >= 12 && std::memcmp(body + 4, "hdlr", 4) != 0) {
        box.Prefix.assign(body, body + 4);
        body += 4;
        length -= 4;
      }
      if (!ParseBoxes(body, length, box.Children)) return false;
    } else {
      box.Payload.assign(body, body + length);
    }
    AOut.push_back(std::move(box));
    at += static_cast<size_t>(size);
  }
  return at == ASize;
}

void Serialise(const TBox& ABox, std::vector<uint8_t>& AOut) {
  const size_t start = AOut.size();
  AOut.resize(start + 8);
  std::memcpy(AOut.data() + start + 4, ABox.Type.data(), 4);
  AOut.insert(AOut.end(), ABox.Prefix.begin(), ABox.Prefix.end());
  if (ABox.Container)
    for (const TBox& child : ABox.Children) Serialise(child, AOut);
  else
    AOut.insert(AOut.end(), ABox.Payload.begin(), ABox.Payload.end());
  PutBe32(AOut.data() + start, static_cast<uint32_t>(AOut.size() - start));
}

TBox* Child(TBox& AParent, const char* AType) {
  for (TBox& c : AParent.Children)
    if (c.Type == AType) return &c;
  return nullptr;
}

TBox& ChildOrNew(TBox& AParent, const char* AType) {
  if (TBox* c = Child(AParent, AType)) return *c;
  TBox box;
  box.Type = AType;
  box.Container = IsContainer(AType);
  if (box.Type == "meta") {
    box.Prefix.assign(4, 0);
    // The handler that tells readers these are iTunes-style tags.
    TBox hdlr;
    hdlr.Type = "hdlr";
    hdlr.Payload.assign(25, 0);
    std::memcpy(hdlr.Payload.data() + 8, "mdirappl", 8);
    box.Children.push_back(std::move(hdlr));
  }
  AParent.Children.push_back(std::move(box));
  return AParent.Children.back();
}

TBox Leaf(const char* AType, const std::vector<uint8_t>& APayload) {
  TBox box;
  box.Type = AType;
  box.Payload = APayload;
  return box;
}

std::vector<uint8_t> Bytes(const std::string& AText, size_t AZeros) {
  std::vector<uint8_t> out(AZeros, 0);
  out.insert(out.end(), AText.begin(), AText.end());
  return out;
}

// The name of a freeform atom ("" for any other).
std::string FreeformName(const TBox& AAtom) {
  if (AAtom.Type != "----") return {};
  std::vector<TBox> parts;
  if (!ParseBoxes(AAtom.Payload.data(), AAtom.Payload.size(), parts)) return {};
  for (const TBox& p : parts)
    if (p.Type == "name" && p.Payload.size() >= 4)
      return std::string(p.Payload.begin() + 4, p.Payload.end());
  return {};
}

// Moves every chunk offset of the tracks by ADelta (the movie header grew
// in front of the media data).
void ShiftChunkOffsets(TBox& ABox, int64_t ADelta) {
  if (ABox.Container) {
    for (TBox& c : ABox.Children) ShiftChunkOffsets(c, ADelta);
    return;
  }
  const bool wide = ABox.Type == "co64";
  if (ABox.Type != "stco" && !wide) return;
  if (ABox.Payload.size() < 8) return;
  const uint32_t count = Be32(ABox.Payload.data() + 4);
  const size_t step = wide ? 8 : 4;
  for (uint32_t i = 0; i < count && 8 + (i + 1) * step <= ABox.Payload.size(); ++i) {
    uint8_t* p = ABox.Payload.data() + 8 + i * step;
    if (wide)
      PutBe64(p, static_cast<uint64_t>(static_cast<int64_t>(Be64(p)) + ADelta));
    else
      PutBe32(p, static_cast<uint32_t>(static_cast<int64_t>(Be32(p)) + ADelta));
  }
}

std::string TagMp4(const std::string& APath, const TLoudnessTags& ATags) {
  std::ifstream in(APath, std::ios::binary);
  if (!in) return "cannot be read back";
  in.seekg(0, std::ios::end);
  const uint64_t fileSize = static_cast<uint64_t>(in.tellg());
  // The top-level boxes: where the movie header and the media data are.
  uint64_t at = 0, moovAt = 0, moovSize = 0, mdatAt = 0;
  bool haveMoov = false, haveMdat = false;
  while (at + 8 <= fileSize) {
    uint8_t head[16];
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(head), 16);
    if (in.gcount() < 8) break;
    in.clear();
    uint64_t size = Be32(head);
    if (size == 1) size = Be64(head + 8);
    if (size == 0) size = fileSize - at;
    if (size < 8 || size > fileSize - at) return "its boxes cannot be read";
    if (std::memcmp(head + 4, "moov", 4) == 0) {
      moovAt = at;
      moovSize = size;
      haveMoov = true;
    } else if (std::memcmp(head + 4, "mdat", 4) == 0 && !haveMdat) {
      mdatAt = at;
      haveMdat = true;
    }
    at += size;
  }
  if (!haveMoov || moovSize > (64u << 20)) return "it has no movie header to tag";
  std::vector<uint8_t> raw(static_cast<size_t>(moovSize));
  in.seekg(static_cast<std::streamoff>(moovAt));
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (static_cast<uint64_t>(in.gcount()) != moovSize) return "cannot be read back";
  std::vector<TBox> top;
  if (!ParseBoxes(raw.data(), raw.size(), top) || top.size() != 1) return "its movie header cannot be read";
  TBox& moov = top.front();
  TBox& ilst = ChildOrNew(ChildOrNew(ChildOrNew(moov, "udta"), "meta"), "ilst");
  // Earlier loudness tags of the same names go.
  std::vector<TBox> kept;
  for (TBox& item : ilst.Children) {
    const std::string name = Lower(FreeformName(item));
    const bool replaced = std::any_of(ATags.begin(), ATags.end(), [&](const auto& ATag) { return Lower(ATag.first) == name; });
    if (!replaced) kept.push_back(std::move(item));
  }
  ilst.Children = std::move(kept);
  for (const auto& [name, value] : ATags) {
    TBox atom;
    atom.Type = "----";
    atom.Container = true;
    atom.Children.push_back(Leaf("mean", Bytes("com.apple.iTunes", 4)));
    // iTunes writes these names in lower case.
    atom.Children.push_back(Leaf("name", Bytes(Lower(name), 4)));
    std::vector<uint8_t> data = Bytes(value, 8);
    data[3] = 1;  // UTF-8 text
    atom.Children.push_back(Leaf("data", data));
    ilst.Children.push_back(std::move(atom));
  }
  std::vector<uint8_t> rebuilt;
  Serialise(moov, rebuilt);
  const int64_t delta = static_cast<int64_t>(rebuilt.size()) - static_cast<int64_t>(moovSize);
  if (haveMdat && moovAt < mdatAt && delta != 0) {
    ShiftChunkOffsets(moov, delta);
    rebuilt.clear();
    Serialise(moov, rebuilt);
  }
  const std::string temporary = TemporaryName(APath);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write tags";
    std::vector<char> buffer(1 << 20);
    const auto copy = [&](uint64_t AFrom, uint64_t ATo) {
      in.seekg(static_cast<std::streamoff>(AFrom));
      for (uint64_t left = ATo - AFrom; left > 0 && in && out;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
        in.read(buffer.data(), static_cast<std::streamsize>(n));
        out.write(buffer.data(), in.gcount());
        left -= static_cast<uint64_t>(in.gcount());
        if (in.gcount() == 0) break;
      }
    };
    copy(0, moovAt);
    out.write(reinterpret_cast<const char*>(rebuilt.data()), static_cast<std::streamsize>(rebuilt.size()));
    copy(moovAt + moovSize, fileSize);
    out.flush();
    if (!out || !in) {
      out.close();
      std::error_code ec;
      std::filesystem::remove(temporary, ec);
      return "cannot write tags";
    }
  }
  in.close();
  return ReplaceWith(temporary, APath);
}

}  // namespace

TTagSystem TagSystemOf(const std::string& APath) {
  std::string error;
  TInputPtr input = OpenInput(APath, error);
  return input ? FamilyOf(input.get()).System : TTagSystem::None;
}

std::string WriteLoudnessTags(const std::string& APath, const TLoudness& ATrack, const TLoudness* AAlbum) {
  std::string error;
  TInputPtr input = OpenInput(APath, error);
  if (!input) return error;
  const TFamily family = FamilyOf(input.get());
  const TLoudnessTags ATags = LoudnessTags(ATrack, AAlbum, family.System == TTagSystem::Opus);
  switch (family.System) {
    case TTagSystem::None:
      return {};
    case TTagSystem::Mp4:
      input.reset();
      return TagMp4(APath, ATags);
    default:
      return Remux(std::move(input), family, APath, ATags);
  }
}

}  // namespace quorvel
