#include "media/engine/CoverArt.h"

#include <cstring>
#include <vector>

#include "media/runtime/LibHandles.h"

namespace quorvel {

namespace {

const char* MimeOf(AVCodecID AId) {
  switch (AId) {
    case AV_CODEC_ID_MJPEG: return "image/jpeg";
    case AV_CODEC_ID_PNG: return "image/png";
    default: return nullptr;
  }
}

bool IsOgg(const AVOutputFormat* AFormat) {
  const char* name = AFormat ? AFormat->name : nullptr;
  return name && (std::strcmp(name, "ogg") == 0 || std::strcmp(name, "opus") == 0 || std::strcmp(name, "oga") == 0);
}

// Formats whose muxer writes an attached picture stream as their cover.
bool TakesPictureStream(const AVOutputFormat* AFormat) {
  const char* name = AFormat ? AFormat->name : nullptr;
  if (!name) return false;
  for (const char* n : {"mp3", "aiff", "flac", "mp4", "ipod", "mov"})
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

void PutBE32(std::vector<uint8_t>& ABlock, uint32_t AValue) {
  for (int shift = 24; shift >= 0; shift -= 8) ABlock.push_back(static_cast<uint8_t>(AValue >> shift));
}

// The picture type of the ID3v2 and FLAC lists that the source's comment
// names ("Cover (front)"), front cover when it names none.
uint32_t PictureType(const AVStream* ACover) {
  static const char* const kTypes[] = {"Other", "32x32 pixels 'file icon'", "Other file icon", "Cover (front)",
                                       "Cover (back)"};
  const AVDictionaryEntry* comment = avutil.av_dict_get(ACover->metadata, "comment", nullptr, 0);
  if (comment && comment->value)
    for (uint32_t i = 0; i < sizeof(kTypes) / sizeof(kTypes[0]); ++i)
      if (std::strcmp(comment->value, kTypes[i]) == 0) return i;
  return 3;
}

// The base64 text of a FLAC picture block, as a Vorbis comment carries it.
std::string PictureComment(const AVStream* ACover, const char* AMime) {
  const AVPacket& pic = ACover->attached_pic;
  const AVDictionaryEntry* title = avutil.av_dict_get(ACover->metadata, "title", nullptr, 0);
  const std::string description = title && title->value ? title->value : "";
  std::vector<uint8_t> block;
  PutBE32(block, PictureType(ACover));
  PutBE32(block, static_cast<uint32_t>(std::strlen(AMime)));
  block.insert(block.end(), AMime, AMime + std::strlen(AMime));
  PutBE32(block, static_cast<uint32_t>(description.size()));
  block.insert(block.end(), description.begin(), description.end());
  PutBE32(block, static_cast<uint32_t>(ACover->codecpar->width));
  PutBE32(block, static_cast<uint32_t>(ACover->codecpar->height));
  PutBE32(block, 24);  // colour depth
  PutBE32(block, 0);   // colours of an indexed picture
  PutBE32(block, static_cast<uint32_t>(pic.size));
  block.insert(block.end(), pic.data, pic.data + pic.size);
  std::string text(AV_BASE64_SIZE(block.size()), '\0');
  if (!avutil.av_base64_encode(text.data(), static_cast<int>(text.size()), block.data(), static_cast<int>(block.size())))
    return {};
  text.resize(std::strlen(text.c_str()));
  return text;
}

}  // namespace

const AVStream* SourceCover(const AVFormatContext* AInput) {
  if (!AInput) return nullptr;
  for (unsigned i = 0; i < AInput->nb_streams; ++i) {
    const AVStream* st = AInput->streams[i];
    if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.data && st->attached_pic.size > 0 &&
        MimeOf(st->codecpar->codec_id))
      return st;
  }
  return nullptr;
}

int AddCover(const AVStream* ACover, AVFormatContext* AOutput, std::string& AWarning) {
  if (!ACover || !AOutput) return -1;
  const char* mime = MimeOf(ACover->codecpar->codec_id);
  if (IsOgg(AOutput->oformat)) {
    const std::string comment = PictureComment(ACover, mime);
    if (comment.empty()) {
      AWarning = "the cover picture could not be encoded for the comments";
      return -1;
    }
    for (unsigned i = 0; i < AOutput->nb_streams; ++i)
      if (AOutput->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
        avutil.av_dict_set(&AOutput->streams[i]->metadata, "METADATA_BLOCK_PICTURE", comment.c_str(), 0);
    return -1;
  }
  if (!TakesPictureStream(AOutput->oformat)) {
    AWarning = std::string("the ") + (AOutput->oformat ? AOutput->oformat->name : "output") +
               " format keeps no cover picture: left out";
    return -1;
  }
  AVStream* st = avformat.avformat_new_stream(AOutput, nullptr);
  if (!st || avcodec.avcodec_parameters_copy(st->codecpar, ACover->codecpar) < 0) {
    AWarning = "no room for the cover picture: left out";
    return -1;
  }
  st->codecpar->codec_tag = 0;
  st->disposition = AV_DISPOSITION_ATTACHED_PIC;
  st->time_base = AVRational{1, 90000};
  avutil.av_dict_copy(&st->metadata, ACover->metadata, 0);
  return st->index;
}

int WriteCover(const AVStream* ACover, AVFormatContext* AOutput, int AStream) {
  if (!ACover || !AOutput || AStream < 0) return 0;
  TPacketPtr pkt(avcodec.av_packet_alloc());
  if (!pkt) return AVERROR(ENOMEM);
  int error = avcodec.av_packet_ref(pkt.get(), &ACover->attached_pic);
  if (error < 0) return error;
  pkt->stream_index = AStream;
  pkt->pts = pkt->dts = 0;
  pkt->duration = 0;
  pkt->flags |= AV_PKT_FLAG_KEY;
  return avformat.av_interleaved_write_frame(AOutput, pkt.get());
}

}  // namespace quorvel
