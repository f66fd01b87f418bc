// The tag mapper and the cover-art reader on whatever a probe of the input's
// bytes finds: the bytes are opened as a file would be (through an I/O
// context reading them from memory), and their tags and picture are carried
// into an output of every tag system, written to an I/O context that
// discards what it is given.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/engine/CoverArt.h"
#include "media/engine/TagMap.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/MediaRuntime.h"
#include "media/runtime/Stubs.h"

using namespace quorvel;

namespace {

struct TMemory {
  const uint8_t* Data;
  size_t Size;
  size_t Position;
};

int ReadMemory(void* AOpaque, uint8_t* ABuffer, int ASize) {
  auto* m = static_cast<TMemory*>(AOpaque);
  const size_t count = std::min(static_cast<size_t>(ASize), m->Size - m->Position);
  if (count == 0) return AVERROR_EOF;
  std::memcpy(ABuffer, m->Data + m->Position, count);
  m->Position += count;
  return static_cast<int>(count);
}

int64_t SeekMemory(void* AOpaque, int64_t AOffset, int AWhence) {
  auto* m = static_cast<TMemory*>(AOpaque);
  if (AWhence & AVSEEK_SIZE) return static_cast<int64_t>(m->Size);
  int64_t base = 0;
  switch (AWhence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(m->Position); break;
    case SEEK_END: base = static_cast<int64_t>(m->Size); break;
    default: return -1;
  }
  if (AOffset > static_cast<int64_t>(m->Size) - base || AOffset < -base) return -1;
  m->Position = static_cast<size_t>(base + AOffset);
  return static_cast<int64_t>(m->Position);
}

int Discard(void*, uint8_t*, int ASize) { return ASize; }

int64_t NoSeek(void*, int64_t, int AWhence) { return (AWhence & AVSEEK_SIZE) ? -1 : 0; }

AVIOContext* MakeIO(void* AOpaque, bool AWrite) {
  const int size = 4096;
  auto* buffer = static_cast<unsigned char*>(avutil.av_malloc(size));
  return AWrite ? avformat.avio_alloc_context(buffer, size, 1, AOpaque, nullptr, Discard, NoSeek)
                : avformat.avio_alloc_context(buffer, size, 0, AOpaque, ReadMemory, nullptr, SeekMemory);
}

void FreeIO(AVIOContext*& AIO) {
  if (!AIO) return;
  avutil.av_free(AIO->buffer);
  avformat.avio_context_free(&AIO);
}

// Every tag system's muxer, with the codec its outputs carry.
const struct {
  const char* Format;
  AVCodecID Codec;
} kOutputs[] = {
    {"mp3", AV_CODEC_ID_MP3},       {"aiff", AV_CODEC_ID_PCM_S16BE}, {"ipod", AV_CODEC_ID_AAC},
    {"flac", AV_CODEC_ID_FLAC},     {"ogg", AV_CODEC_ID_VORBIS},     {"opus", AV_CODEC_ID_OPUS},
    {"asf", AV_CODEC_ID_WMAV2},     {"wav", AV_CODEC_ID_PCM_S16LE},  {"matroska", AV_CODEC_ID_MP3},
};

void CarryInto(const AVFormatContext* AInput, const AVStream* ACover, const char* AFormat, AVCodecID ACodec) {
  AVFormatContext* oc = nullptr;
  if (avformat.avformat_alloc_output_context2(&oc, nullptr, AFormat, nullptr) < 0 || !oc) return;
  AVStream* st = avformat.avformat_new_stream(oc, nullptr);
  if (st) {
    st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    st->codecpar->codec_id = ACodec;
    st->codecpar->sample_rate = 48000;
    st->codecpar->frame_size = 1152;
    st->time_base = {1, 48000};
    avutil.av_channel_layout_default(&st->codecpar->ch_layout, 2);
    CarryTags(AInput, oc);
    std::string warning;
    const int coverStream = ACover ? AddCover(ACover, oc, warning) : -1;
    oc->pb = MakeIO(nullptr, true);
    if (oc->pb && avformat.avformat_write_header(oc, nullptr) >= 0) {
      if (coverStream >= 0) WriteCover(ACover, oc, coverStream);
      avformat.av_write_trailer(oc);
    }
    FreeIO(oc->pb);
  }
  avformat.avformat_free_context(oc);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Kept to the process's end: a static one would be destroyed after the
  // log collector it finalises.
  static MediaRuntime* runtime = new MediaRuntime;
  (void)runtime;
  if (!FFLoader().Load(kEncoderLibraries)) std::abort();
  avutil.av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TMemory memory{AData, ASize, 0};
  AVIOContext* io = MakeIO(&memory, false);
  AVFormatContext* ic = avformat.avformat_alloc_context();
  if (!io || !ic) std::abort();
  ic->pb = io;
  ic->flags |= AVFMT_FLAG_CUSTOM_IO;
  ic->probesize = 1 << 20;
  ic->max_analyze_duration = 500000;
  if (avformat.avformat_open_input(&ic, "", nullptr, nullptr) < 0) {
    FreeIO(io);
    return 0;
  }
  avformat.avformat_find_stream_info(ic, nullptr);
  const AVStream* cover = SourceCover(ic);
  for (const auto& output : kOutputs) CarryInto(ic, cover, output.Format, output.Codec);
  avformat.avformat_close_input(&ic);
  FreeIO(io);
  return 0;
}
