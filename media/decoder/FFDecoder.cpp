// The decoder: seeking, video frames and audio blocks of a file it opened.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
}

#include "media/decoder/FFDecode.h"
#include "media/runtime/ChannelMix.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

constexpr AVRational kMicroBase{1, AV_TIME_BASE};
// Decoded audio arrives in blocks of a packet's worth; most fit this.
constexpr size_t kMinAudioBlock = 192000;
// Pixel rows of the own picture copy are aligned for the scaler.
constexpr int kPictureAlign = 32;

long long LL(int64_t v) { return static_cast<long long>(v); }

const char* SampleFormatName(AVSampleFormat fmt) {
  const char* name = avutil.av_get_sample_fmt_name(fmt);
  return name ? name : "unknown";
}

// The time of a decoded frame: its best guess, else what its packet said.
int64_t FrameTime(const AVFrame& f) {
  if (f.best_effort_timestamp != AV_NOPTS_VALUE) return f.best_effort_timestamp;
  if (f.pts != AV_NOPTS_VALUE) return f.pts;
  return f.pkt_dts;
}

// Deinterlaces by blending each line with its neighbours (1-2-1 down the
// column): the two fields of an interlaced picture merge without combing,
// at the price of some vertical softness. Planar 8-bit formats only; false
// for any other.
bool BlendDeinterlace(uint8_t* const ADst[4], const int ADstLines[4], const AVFrame& ASrc) {
  const AVPixFmtDescriptor* desc = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(ASrc.format));
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
    return false;
  if (desc->nb_components > 1 && !(desc->flags & AV_PIX_FMT_FLAG_PLANAR)) return false;
  int planes = 0;
  for (int c = 0; c < desc->nb_components; ++c) {
    if (desc->comp[c].depth != 8 || desc->comp[c].step != 1 || desc->comp[c].shift != 0) return false;
    planes = std::max(planes, desc->comp[c].plane + 1);
  }
  for (int p = 0; p < planes; ++p) {
    const bool chroma = (p == 1 || p == 2);
    const int w = chroma ? -((-ASrc.width) >> desc->log2_chroma_w) : ASrc.width;
    const int h = chroma ? -((-ASrc.height) >> desc->log2_chroma_h) : ASrc.height;
    for (int y = 0; y < h; ++y) {
      const uint8_t* above = ASrc.data[p] + static_cast<ptrdiff_t>(y > 0 ? y - 1 : y) * ASrc.linesize[p];
      const uint8_t* line = ASrc.data[p] + static_cast<ptrdiff_t>(y) * ASrc.linesize[p];
      const uint8_t* below = ASrc.data[p] + static_cast<ptrdiff_t>(y + 1 < h ? y + 1 : y) * ASrc.linesize[p];
      uint8_t* out = ADst[p] + static_cast<ptrdiff_t>(y) * ADstLines[p];
      for (int x = 0; x < w; ++x) out[x] = static_cast<uint8_t>((above[x] + 2 * line[x] + below[x] + 2) >> 2);
    }
  }
  return true;
}

}  // namespace


TFFDecoder::TFFDecoder(TObject* AOwner) : TCustomDecoder(AOwner) {}

TFFDecoder::~TFFDecoder() { ResetDecoding(); }

// ---- state ----

void TFFDecoder::ClearFrame() { FPicture = TFrameInfo(); }

void TFFDecoder::ClearWave() {
  FWaveInfo = TWaveInfo();
  FAudioBlockSize = 0;
  FRemainsAudioSize = 0;
}

void TFFDecoder::DropResampler() {
  FAudioResampler.reset();
  if (FResamplerInFormat >= 0) avutil.av_channel_layout_uninit(&FResamplerInLayout);
  FResamplerInLayout = AVChannelLayout{};
  FResamplerInFormat = -1;
  FResamplerInRate = 0;
  FResamplerChangesRate = false;
}

void TFFDecoder::ResetDecoding() {
  FCodec.reset();
  FCodecIndex = -1;
  FAudioCodec.reset();
  FAudioCodecIndex = -1;
  FVideoDraining = FAudioDraining = false;
  FDecodeIndex = -1;
  FDesireAudioIndex = -1;
  FEOF = false;
  ClearFrame();
  FLastPTS = AV_NOPTS_VALUE;
  FLastPos = -1;
  ClearWave();
  DropResampler();
}

void TFFDecoder::CloseFile() {
  ResetDecoding();
  TCustomDecoder::CloseFile();
}

void TFFDecoder::UpdateFileInfo() {
  TCustomDecoder::UpdateFileInfo();
  FSeekIndex = -1;
  FStartTime = 0;
  AVFormatContext* ctx = FileHandle();
  if (!ctx) return;
  // A cover picture counts as a video stream but has no timeline to seek on.
  for (int i = 0; i < StreamCount() && FSeekIndex < 0; ++i) {
    const AVStream* st = ctx->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
      FSeekIndex = i;
  }
  if (FSeekIndex < 0) FSeekIndex = FirstAudioStreamIndex();
  const int64_t start = FSeekIndex >= 0 ? ctx->streams[FSeekIndex]->start_time : ctx->start_time;
  FStartTime = start == AV_NOPTS_VALUE ? 0 : start;
}

void TFFDecoder::SetDesireAudioChannels(int AValue) {
  if (AValue == FDesireAudioChannels) return;
  FDesireAudioChannels = AValue;
  DropResampler();
}

void TFFDecoder::SetDesireAudioSampleRate(int AValue) {
  if (AValue == FDesireAudioSampleRate) return;
  FDesireAudioSampleRate = AValue;
  DropResampler();
}

void TFFDecoder::SetDesireAudioSampleFormat(AVSampleFormat AValue) {
  // The block is one byte stream (ReadAudio): samples must interleave.
  if (AValue >= AV_SAMPLE_FMT_U8P && AValue <= AV_SAMPLE_FMT_DBLP)
    AValue = static_cast<AVSampleFormat>(AValue - 5);
  else if (AValue == AV_SAMPLE_FMT_S64P)
    AValue = AV_SAMPLE_FMT_S64;
  if (AValue == FDesireAudioSampleFormat) return;
  FDesireAudioSampleFormat = AValue;
  DropResampler();
}

// ---- helpers ----

// Reads the next packet and hands it to the codec when it belongs to the
// stream. At the end of the input the codec is switched to draining: it
// still holds the last frames. False when reading failed for another reason.
bool TFFDecoder::FeedCodec(AVCodecContext* ACodec, int AStreamIndex, bool& ADraining) {
  bool end = false;
  int result = ReadPacket(&end);
  if (result < 0) {
    if (!end) return false;
    ADraining = true;
    avcodec.avcodec_send_packet(ACodec, nullptr);
    return true;
  }
  if (FPacket->stream_index == AStreamIndex) {
    result = avcodec.avcodec_send_packet(ACodec, FPacket.get());
    if (result < 0 && result != AVERROR(EAGAIN))
      Trace(llDebug, "damaged packet skipped (dts=%lld): %s", LL(FPacket->dts), ErrorMessage(result).c_str());
  }
  avcodec.av_packet_unref(FPacket.get());
  return true;
}

bool TFFDecoder::CheckOwnedFile() {
  if (!CheckFileLoaded()) return false;
  if (!OwnHandle()) {
    // Decoding would move the owner's read position under its feet.
    static const char* const kMsg = "file cannot be seeked, handle is readonly.";
    Report(llError, kMsg);
    throw Exception(kMsg);
  }
  return true;
}

int TFFDecoder::SelectStream(int AStreamIndex, AVMediaType AType, int& ACurrent, int AFirst, const char* AKind) {
  if (!CheckOwnedFile()) return -1;
  int index = AStreamIndex;
  if (index < 0) {
    index = ACurrent >= 0 ? ACurrent : AFirst;
    if (index < 0) {
      Report(llError, "no %s stream.", AKind);
      return -1;
    }
  }
  if (index >= StreamCount()) {
    Report(llError, "stream index #%d is invalid.", index);
    return -1;
  }
  if (FileHandle()->streams[index]->codecpar->codec_type != AType) {
    Report(llError, "stream #%d is not %s stream.", index, AKind);
    return -1;
  }
  return index;
}

bool TFFDecoder::OpenCodec(int AIndex, CodecPtr& ACodec, int& ACodecIndex, bool& ADraining, bool ACheckSize) {
  if (ACodec && ACodecIndex == AIndex) return true;
  ACodec.reset();
  ACodecIndex = -1;
  ADraining = false;
  if (!FPacket) FPacket.reset(avcodec.av_packet_alloc());
  if (!FFrame) FFrame.reset(avutil.av_frame_alloc());
  if (!FPacket || !FFrame) {
    Report(llError, "Out of memory");
    return false;
  }

  const AVStream* st = FileHandle()->streams[AIndex];
  const AVCodecParameters* par = st->codecpar;
  if (ACheckSize && (par->width == 0 || par->height == 0)) {
    Report(llError, "frame size of codec is invalid.");
    return false;
  }
  const AVCodec* decoder = avcodec.avcodec_find_decoder(par->codec_id);
  if (!decoder) {
    Report(llError, "Unsupported codec (id=%d) for input file stream #%d", static_cast<int>(par->codec_id), AIndex);
    return false;
  }
  CodecPtr ctx(avcodec.avcodec_alloc_context3(decoder));
  int result = ctx ? avcodec.avcodec_parameters_to_context(ctx.get(), par) : AVERROR(ENOMEM);
  if (result >= 0) {
    ctx->pkt_timebase = st->time_base;
    TCodecLock lock;
    result = avcodec.avcodec_open2(ctx.get(), decoder, nullptr);
  }
  if (result < 0) {
    Report(llError, "Error while opening codec for input file stream #%d", AIndex);
    return false;
  }
  ACodec = std::move(ctx);
  ACodecIndex = AIndex;
  return true;
}

bool TFFDecoder::IsStillImage() const {
  const AVFormatContext* ctx = FileHandle();
  if (!ctx || !ctx->iformat || !ctx->iformat->name) return false;
  const std::string_view name = ctx->iformat->name;
  // A single picture: the file demuxer and the per-format picture readers.
  return name == "image2" || name.ends_with("_pipe");
}

int64_t TFFDecoder::IOPosition() const {
  const AVFormatContext* ctx = FileHandle();
  return ctx && ctx->pb ? avformat.avio_seek(ctx->pb, 0, SEEK_CUR) : -1;
}

int64_t TFFDecoder::FrameDuration(int AIndex) const {
  const AVStream* st = FileHandle()->streams[AIndex];
  AVRational rate = st->avg_frame_rate;
  if (rate.num == 0 || rate.den == 0) rate = st->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return 40000;
  return static_cast<int64_t>(1000000) * rate.den / rate.num;
}

int64_t TFFDecoder::StreamTimeToMicro(int AIndex, int64_t ATime) const {
  if (ATime == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  const AVStream* st = FileHandle()->streams[AIndex];
  const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
  return avutil.av_rescale_q(ATime - start, st->time_base, kMicroBase);
}

int TFFDecoder::ReadPacket(bool* AEnd) {
  *AEnd = false;
  AVFormatContext* ctx = FileHandle();
  int result;
  {
    TIOStep step(*this, ctx);
    result = StepResult(avformat.av_read_frame(ctx, FPacket.get()));
  }
  if (result >= 0) return result;
  // The I/O context flags the end of its input also when a read failed:
  // only its error field tells a broken input from a finished one.
  const int ioError = ctx->pb ? ctx->pb->error : 0;
  if (IOTimedOut()) {
    Report(llError, TimedOutText(FileName()));
  } else if (result == AVERROR(EAGAIN)) {
    Report(llInfo, "no data, please try again.");
  } else if (ioError < 0 && ioError != AVERROR_EOF) {
    Report(llError, ErrorText(FileName(), ioError));
    result = ioError;
  } else if (result == AVERROR_EOF || result == AVERROR(EPIPE) || (ctx->pb && avformat.avio_feof(ctx->pb))) {
    *AEnd = true;  // the caller drains the decoder first
  } else {
    Report(llInfo, "unknown error #%d. (%s)", result, ErrorMessage(result).c_str());
  }
  return result;
}

void TFFDecoder::EndOfStream() {
  FEOF = true;
  Report(llInfo, "stream eof reached.");
}

int64_t TFFDecoder::Position() {
  if (!CheckFileLoaded()) return -1;
  if (!FileHandle()->pb) {
    Report(llWarning, "cannot get position");
    return -1;
  }
  return IOPosition();
}

// ---- seeking ----

bool TFFDecoder::Seek(int64_t APTS, TSeekFlags ASeekFlags) {
  if (!CheckOwnedFile()) return false;
  AVFormatContext* ctx = FileHandle();
  if (IsStillImage()) {
    Report(llInfo, "\"%s\" format cannot to be seeked.", ctx->iformat->name);
    return false;
  }
  Trace(llDebug, "current position %lld bytes", LL(IOPosition()));

  const int64_t pts = APTS < 0 ? 0 : APTS;
  int64_t target = pts;
  if (!(ASeekFlags & sfByte)) {
    if (FSeekIndex >= 0) target = avutil.av_rescale_q(pts, kMicroBase, ctx->streams[FSeekIndex]->time_base);
    if (FStartTime > 0) target += FStartTime;
  }

  if (FCodec) avcodec.avcodec_flush_buffers(FCodec.get());
  if (FAudioCodec) avcodec.avcodec_flush_buffers(FAudioCodec.get());
  FVideoDraining = FAudioDraining = false;
  FEOF = false;
  ClearFrame();
  ClearWave();
  // Samples held back inside the resampler belong to the old position.
  DropResampler();

  int result;
  {
    TIOStep step(*this, ctx);
    if (pts > 0) {
      result = avformat.av_seek_frame(ctx, FSeekIndex, target, ASeekFlags);
    } else {
      // The very start, whatever the stream's first time stamp: demuxers
      // that seek by decoding time stamps would otherwise land behind a
      // first key frame that is decoded before it is shown.
      result = avformat.av_seek_frame(ctx, FSeekIndex, 0, ASeekFlags | sfBackward);
      if (result < 0) result = avformat.av_seek_frame(ctx, FSeekIndex, 0, ASeekFlags & ~sfBackward);
    }
  }
  if (result < 0) {
    if (ASeekFlags & sfByte)
      Report(llError, "could not seek to position %lld bytes", LL(APTS));
    else
      Report(llError, "could not seek to position %0.3f seconds", static_cast<double>(APTS) / 1000000.0);
    return false;
  }
  Trace(llDebug, "seek to position %lld bytes", LL(IOPosition()));
  if (ctx->pb && avformat.avio_feof(ctx->pb)) {
    Report(llInfo, "stream eof reached.");
    FEOF = true;
    return false;
  }
  return true;
}

// ---- video ----

bool TFFDecoder::FillFrame(int AIndex, const AVFrame& AFrame, int64_t APosition) {
  FLastPTS = FPicture.PTS;
  FLastPos = FPicture.Position;
  const AVPixelFormat fmt = static_cast<AVPixelFormat>(AFrame.format);

  FPicture.Ready = false;
  FPicture.PixFmt = AFrame.format;
  FPicture.Width = AFrame.width;
  FPicture.Height = AFrame.height;
  FPicture.IsKeyFrame = AFrame.key_frame != 0;
  const int type = static_cast<int>(AFrame.pict_type);
  FPicture.PictureType = (type >= ptUnknown && type <= ptBI) ? static_cast<TPictureType>(type) : ptUnknown;
  FPicture.PTS = StreamTimeToMicro(AIndex, FrameTime(AFrame));
  // The last frames drained from some decoders carry no time: they follow
  // the previous one.
  if (FPicture.PTS == AV_NOPTS_VALUE && FLastPTS != AV_NOPTS_VALUE) FPicture.PTS = FLastPTS + FrameDuration(AIndex);
  FPicture.OriginalDTS = AFrame.pkt_dts;
  FPicture.OriginalPTS = AFrame.pts;
  FPicture.StreamIndex = AIndex;
  FPicture.Position = APosition;
  Trace(llDebug, "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d", AIndex, LL(AFrame.pkt_dts),
        LL(AFrame.pts), AFrame.key_frame ? AV_PKT_FLAG_KEY : 0, type);
  if (FPicture.PTS != AV_NOPTS_VALUE)
    Trace(llDebug, "decode PTS: %0.3f", static_cast<double>(FPicture.PTS) / 1000000.0);

  const int size = avutil.av_image_get_buffer_size(fmt, AFrame.width, AFrame.height, kPictureAlign);
  if (size <= 0) {
    Report(llError, "cannot copy a %dx%d picture of pixel format %d", AFrame.width, AFrame.height, AFrame.format);
    return false;
  }
  if (!FPictureBuffer || FPictureBufferSize < static_cast<size_t>(size)) {
    FPicture.Buffer = nullptr;
    FPictureBuffer.reset();
    FPictureBufferSize = 0;
    FPictureBuffer.reset(static_cast<uint8_t*>(avutil.av_malloc(static_cast<size_t>(size))));
    if (!FPictureBuffer) {
      Report(llError, "Out of memory");
      return false;
    }
    FPictureBufferSize = static_cast<size_t>(size);
  }
  TPicture& pic = FPicture.Picture;
  pic = TPicture();
  avutil.av_image_fill_arrays(pic.data, pic.linesize, FPictureBuffer.get(), fmt, AFrame.width, AFrame.height,
                              kPictureAlign);
  bool copied = false;
  if (FDeinterlace) {
    copied = BlendDeinterlace(pic.data, pic.linesize, AFrame);
    if (!copied) {
      Report(llError, "deinterlacing failed.");
      FDeinterlace = false;
    }
  }
  if (!copied)
    avutil.av_image_copy(pic.data, pic.linesize, const_cast<const uint8_t**>(AFrame.data), AFrame.linesize, fmt,
                         AFrame.width, AFrame.height);
  FPicture.Buffer = FPictureBuffer.get();
  FPicture.Size = size;
  FPicture.Ready = true;
  return true;
}

bool TFFDecoder::Decode(int AStreamIndex) {
  const int index = SelectStream(AStreamIndex, AVMEDIA_TYPE_VIDEO, FDecodeIndex, FirstVideoStreamIndex(), "video");
  if (index < 0) return false;
  if (index != FDecodeIndex) {
    ClearFrame();
    FDecodeIndex = index;
  }
  if (IsStillImage() && FPicture.Ready) return true;
  if (FEOF) {
    Report(llInfo, "stream eof reached.");
    return false;
  }
  if (!OpenCodec(index, FCodec, FCodecIndex, FVideoDraining, true)) return false;

  const int64_t position = IOPosition();
  for (;;) {
    int result = avcodec.avcodec_receive_frame(FCodec.get(), FFrame.get());
    if (result >= 0) {
      const bool ok = FillFrame(index, *FFrame, position);
      avutil.av_frame_unref(FFrame.get());
      return ok;
    }
    if (result == AVERROR_EOF || FVideoDraining) {
      EndOfStream();
      return false;
    }
    if (!FeedCodec(FCodec.get(), index, FVideoDraining)) return false;
  }
}

bool TFFDecoder::DecodeNextKeyFrame(int AStreamIndex) {
  const int index = SelectStream(AStreamIndex, AVMEDIA_TYPE_VIDEO, FDecodeIndex, FirstVideoStreamIndex(), "video");
  if (index < 0) return false;
  int64_t reference = index == FDecodeIndex && FPicture.Ready ? FPicture.PTS : AV_NOPTS_VALUE;
  if (reference == AV_NOPTS_VALUE) reference = index == FDecodeIndex ? FLastPTS : AV_NOPTS_VALUE;
  if (reference == AV_NOPTS_VALUE) reference = 0;
  if (!Seek(reference + FrameDuration(index))) return false;
  return Decode(index);
}

bool TFFDecoder::DecodePreviousKeyFrameFrom(int AIndex, int64_t AReference) {
  // Key-frame seeking lands on a key frame at or before the target; a
  // demuxer without a key-frame index lands on whatever frame is near the
  // target (or later), and then the step back goes further. The stride
  // doubles each time, so a key frame an hour back is reached in a few dozen
  // seeks rather than one seek per frame; a landing point that repeats shows
  // the demuxer cannot go further back from here, and only the very start
  // is left to try. At the start any frame will do: nothing is earlier.
  const int64_t duration = FrameDuration(AIndex);
  std::string reason;
  int64_t stride = duration;
  int64_t lastPTS = AV_NOPTS_VALUE, lastPosition = -1;
  for (;;) {
    int64_t target = AReference - stride;
    const bool atStart = target <= 0;
    if (atStart) target = 0;
    if (!Seek(target, sfBackward) || !Decode(AIndex)) {
      reason = LastErrMsg();
      break;
    }
    const bool earlier = FPicture.PTS < AReference || FPicture.PTS <= 0;
    if (earlier && (FPicture.IsKeyFrame || atStart)) return true;
    if (atStart) break;
    const bool repeated = FPicture.PTS == lastPTS && FPicture.Position == lastPosition;
    lastPTS = FPicture.PTS;
    lastPosition = FPicture.Position;
    stride = repeated ? AReference : stride * 2;
  }
  Report(llError, "Could not seek to the previous key-frame. " + reason);
  return false;
}

// The time the "previous" operations step back from: the picture on show
// when it is of this stream, else the last time decoded from it, else 0.
int64_t TFFDecoder::ReferencePTS(int AIndex) const {
  int64_t reference = AIndex == FDecodeIndex && FPicture.Ready ? FPicture.PTS : AV_NOPTS_VALUE;
  if (reference == AV_NOPTS_VALUE && AIndex == FDecodeIndex) reference = FLastPTS;
  return reference == AV_NOPTS_VALUE ? 0 : reference;
}

bool TFFDecoder::DecodePreviousKeyFrame(int AStreamIndex) {
  const int index = SelectStream(AStreamIndex, AVMEDIA_TYPE_VIDEO, FDecodeIndex, FirstVideoStreamIndex(), "video");
  if (index < 0) return false;
  const int64_t reference = ReferencePTS(index);
  return DecodePreviousKeyFrameFrom(index, reference);
}

bool TFFDecoder::DecodePreviousFrame(int AStreamIndex) {
  const int index = SelectStream(AStreamIndex, AVMEDIA_TYPE_VIDEO, FDecodeIndex, FirstVideoStreamIndex(), "video");
  if (index < 0) return false;
  const int64_t reference = ReferencePTS(index);
  // The previous frame lies one duration before the reference; halfway to
  // the one before it is the line, so that rounded time stamps cannot put
  // a frame on the wrong side.
  const int64_t duration = FrameDuration(index);
  const int64_t target = reference - duration - duration / 2;
  if (!DecodePreviousKeyFrameFrom(index, reference)) return false;
  while (FPicture.PTS <= target)
    if (!Decode(index)) return false;
  return true;
}

bool TFFDecoder::CopyToBitmap(TBitmap& ABitmap) {
  if (!FPicture.Ready) {
    Report(llError, "picture not ready, please decode first");
    return false;
  }
  if (!FFormatConv.PictureToRGB(FPicture.Picture, static_cast<AVPixelFormat>(FPicture.PixFmt), true, FPicture.Height,
                                FPicture.Width)) {
    // The caller still gets a picture of the right size, a black one, when
    // one can be made; the answer is false either way.
    const std::string reason = FFormatConv.LastErrMsg();
    try {
      ABitmap.SetPixelFormat(FFormatConv.BMPPixFmt());
      ABitmap.Resize(FPicture.Width, FPicture.Height);
      if (ABitmap.Bits()) std::memset(ABitmap.Bits(), 0, ABitmap.SizeBytes());
    } catch (const std::exception&) {
      // A size no bitmap can take (or no memory for it): left as it was.
    }
    Report(llError, reason);
    return false;
  }
  const TBitmap& source = FFormatConv.Bitmap();
  ABitmap.SetPixelFormat(source.PixelFormat());
  ABitmap.Resize(source.Width(), source.Height());
  if (source.SizeBytes() > 0) std::memcpy(ABitmap.Bits(), source.Bits(), source.SizeBytes());
  return true;
}

const TDIBInfo* TFFDecoder::GetBitmapPtr() {
  if (!FPicture.Ready) {
    Report(llError, "picture not ready, please decode first");
    return nullptr;
  }
  if (!FFormatConv.PictureToRGB(FPicture.Picture, static_cast<AVPixelFormat>(FPicture.PixFmt), false, FPicture.Height,
                                FPicture.Width)) {
    Report(llError, FFormatConv.LastErrMsg());
    return nullptr;
  }
  return &FFormatConv.DIB();
}

// ---- audio ----

bool TFFDecoder::GrowAudioBlock(size_t ABytes) {
  if (ABytes <= FAudioBlockCapacity) return true;
  size_t capacity = std::max({ABytes, kMinAudioBlock, FAudioBlockCapacity * 2});
  if (capacity > static_cast<size_t>(INT_MAX)) capacity = std::max(ABytes, static_cast<size_t>(INT_MAX));
  auto* grown = static_cast<uint8_t*>(avutil.av_realloc(FAudioBlock.get(), capacity));
  if (!grown) {
    Report(llError, "Out of memory in DecodeAudio");
    return false;
  }
  (void)FAudioBlock.release();  // av_realloc took it over
  FAudioBlock.reset(grown);
  FAudioBlockCapacity = capacity;
  FWaveInfo.Buffer = nullptr;
  return true;
}

bool TFFDecoder::AppendAudio(const AVFrame& AFrame) {
  const int inChannels = AFrame.ch_layout.nb_channels;
  const int inRate = AFrame.sample_rate;
  const auto inFormat = static_cast<AVSampleFormat>(AFrame.format);
  const AVSampleFormat outFormat = FDesireAudioSampleFormat;
  const int outChannels = FDesireAudioChannels;
  const int outRate = FDesireAudioSampleRate;
  const int outBytes = avutil.av_get_bytes_per_sample(outFormat);
  if (AFrame.nb_samples <= 0) return true;
  if (inChannels <= 0 || inRate <= 0 || avutil.av_get_bytes_per_sample(inFormat) <= 0) {
    Report(llError, "decoded audio has no valid format (%d channels @ %d Hz)", inChannels, inRate);
    return false;
  }
  const bool reshape = inChannels != outChannels || inRate != outRate;

  if (!reshape && inFormat == outFormat) {
    const size_t bytes = static_cast<size_t>(AFrame.nb_samples) * inChannels * outBytes;
    if (FAudioBlockSize + bytes > static_cast<size_t>(INT_MAX)) {
      Report(llError, "Buffer sizes too large in DecodeAudio");
      return false;
    }
    if (!GrowAudioBlock(FAudioBlockSize + bytes)) return false;
    std::memcpy(FAudioBlock.get() + FAudioBlockSize, AFrame.data[0], bytes);
    FAudioBlockSize += bytes;
    return true;
  }

  // Decoders leave the channel order open for some files: then the usual
  // order for that many channels is meant.
  AVChannelLayout inLayout{};
  if (AFrame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !avutil.av_channel_layout_check(&AFrame.ch_layout))
    avutil.av_channel_layout_default(&inLayout, inChannels);
  else if (avutil.av_channel_layout_copy(&inLayout, &AFrame.ch_layout) < 0)
    avutil.av_channel_layout_default(&inLayout, inChannels);

  const bool sameInput = FAudioResampler && FResamplerInFormat == inFormat && FResamplerInRate == inRate &&
                         avutil.av_channel_layout_compare(&FResamplerInLayout, &inLayout) == 0;
  if (!sameInput) {
    DropResampler();
    AVChannelLayout outLayout{};
    avutil.av_channel_layout_default(&outLayout, outChannels);
    SwrContext* swr = nullptr;
    int result =
        outChannels > 0 && outRate > 0 && outBytes > 0
            ? avcore.swr_alloc_set_opts2(&swr, &outLayout, outFormat, outRate, &inLayout, inFormat, inRate, 0, nullptr)
            : AVERROR(EINVAL);
    if (result >= 0) result = KeepLevelWhenMixing(swr, inLayout, outLayout);
    if (result >= 0) result = avcore.swr_init(swr);
    avutil.av_channel_layout_uninit(&outLayout);
    if (result < 0) {
      avcore.swr_free(&swr);
      avutil.av_channel_layout_uninit(&inLayout);
      if (reshape)
        Report(llError, "Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels, inRate, outChannels,
               outRate);
      else
        Report(llError, "Cannot convert %s sample format to %s sample format", SampleFormatName(inFormat),
               SampleFormatName(outFormat));
      return false;
    }
    if (reshape)
      Trace(llInfo, "need resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels, inRate, outChannels,
            outRate);
    else
      Trace(llInfo, "need convert %s sample format to %s sample format", SampleFormatName(inFormat),
            SampleFormatName(outFormat));
    FAudioResampler.reset(swr);
    FResamplerInFormat = inFormat;
    FResamplerInRate = inRate;
    FResamplerInLayout = inLayout;  // takes over the copy
    FResamplerChangesRate = inRate != outRate;
  } else {
    avutil.av_channel_layout_uninit(&inLayout);
  }

  const int outCount = avcore.swr_get_out_samples(FAudioResampler.get(), AFrame.nb_samples);
  if (outCount < 0) {
    Report(llError, "Buffer sizes too large in DecodeAudio");
    return false;
  }
  const size_t bytes = static_cast<size_t>(outCount) * outChannels * outBytes;
  if (FAudioBlockSize + bytes > static_cast<size_t>(INT_MAX)) {
    Report(llError, "Buffer sizes too large in DecodeAudio");
    return false;
  }
  if (!GrowAudioBlock(FAudioBlockSize + bytes)) return false;
  uint8_t* out = FAudioBlock.get() + FAudioBlockSize;
  const int converted = avcore.swr_convert(FAudioResampler.get(), &out, outCount,
                                           const_cast<const uint8_t**>(AFrame.extended_data), AFrame.nb_samples);
  if (converted < 0) {
    if (reshape)
      Report(llError, "Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels, inRate, outChannels,
             outRate);
    else
      Report(llError, "av_audio_convert() failed");
    return false;
  }
  FAudioBlockSize += static_cast<size_t>(converted) * outChannels * outBytes;
  return true;
}

bool TFFDecoder::FlushResampler() {
  // Only a rate change holds samples back (the filter's delay).
  if (!FAudioResampler || !FResamplerChangesRate) return false;
  const int outChannels = FDesireAudioChannels;
  const int outBytes = avutil.av_get_bytes_per_sample(FDesireAudioSampleFormat);
  const int outCount = avcore.swr_get_out_samples(FAudioResampler.get(), 0);
  bool produced = false;
  if (outCount > 0 && GrowAudioBlock(FAudioBlockSize + static_cast<size_t>(outCount) * outChannels * outBytes)) {
    uint8_t* out = FAudioBlock.get() + FAudioBlockSize;
    const int converted = avcore.swr_convert(FAudioResampler.get(), &out, outCount, nullptr, 0);
    if (converted > 0) {
      FAudioBlockSize += static_cast<size_t>(converted) * outChannels * outBytes;
      produced = true;
    }
  }
  DropResampler();  // flushed: it has nothing more to give
  return produced;
}

void TFFDecoder::FinishWave(int AIndex, int64_t ADts, int64_t APts, int64_t ATime) {
  TWaveInfo& w = FWaveInfo;
  w.Channels = FDesireAudioChannels;
  w.SampleRate = FDesireAudioSampleRate;
  w.SampleFormat = FDesireAudioSampleFormat;
  w.BytesPerSample = avutil.av_get_bytes_per_sample(FDesireAudioSampleFormat);
  w.BytesPerSecond = w.BytesPerSample * w.SampleRate * w.Channels;
  w.PTS = StreamTimeToMicro(AIndex, ATime);
  w.OriginalDTS = ADts;
  w.OriginalPTS = APts;
  w.StreamIndex = AIndex;
  w.Buffer = FAudioBlock.get();
  w.Size = static_cast<int>(FAudioBlockSize);
  w.Duration = w.BytesPerSample > 0 && w.SampleRate > 0 && w.Channels > 0
                   ? (1000000 / w.BytesPerSample) * static_cast<int64_t>(w.Size) /
                         (static_cast<int64_t>(w.SampleRate) * w.Channels)
                   : 0;
  w.Ready = true;
  FRemainsAudioSize = w.Size;
  Trace(llDebug, "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, samples data size=%d", AIndex, LL(ADts), LL(APts), 0,
        w.Size);
  if (w.PTS != AV_NOPTS_VALUE) Trace(llDebug, "decode PTS: %0.3f", static_cast<double>(w.PTS) / 1000000.0);
}

bool TFFDecoder::DecodeAudio(int AStreamIndex) {
  const int index = SelectStream(AStreamIndex, AVMEDIA_TYPE_AUDIO, FDesireAudioIndex, FirstAudioStreamIndex(), "audio");
  if (index < 0) return false;
  if (index != FDesireAudioIndex) {
    ClearWave();
    DropResampler();
    FDesireAudioIndex = index;
  }
  if (FEOF) {
    Report(llInfo, "stream eof reached.");
    return false;
  }
  if (!OpenCodec(index, FAudioCodec, FAudioCodecIndex, FAudioDraining, false)) return false;

  FWaveInfo.Ready = false;
  FAudioBlockSize = 0;
  FRemainsAudioSize = 0;
  int64_t dts = AV_NOPTS_VALUE, pts = AV_NOPTS_VALUE, time = AV_NOPTS_VALUE;
  bool stamped = false;
  for (;;) {
    // A block is what the decoder gives for one packet: every frame it has.
    int result;
    while ((result = avcodec.avcodec_receive_frame(FAudioCodec.get(), FFrame.get())) >= 0) {
      if (!stamped) {
        dts = FFrame->pkt_dts;
        pts = FFrame->pts;
        time = FrameTime(*FFrame);
        stamped = true;
      }
      const bool ok = AppendAudio(*FFrame);
      avutil.av_frame_unref(FFrame.get());
      if (!ok) return false;
    }
    if (FAudioBlockSize > 0) break;
    if (result == AVERROR_EOF || FAudioDraining) {
      // The resampler's held-back samples close the stream.
      if (FlushResampler() && FAudioBlockSize > 0) break;
      EndOfStream();
      return false;
    }
    if (!FeedCodec(FAudioCodec.get(), index, FAudioDraining)) return false;
  }
  FinishWave(index, dts, pts, time);
  return true;
}

int TFFDecoder::ReadAudio(uint8_t* ABuffer, int ACount, int AStreamIndex) {
  if (AStreamIndex >= 0 && AStreamIndex != FDesireAudioIndex) FRemainsAudioSize = 0;
  if (FRemainsAudioSize <= 0 && !DecodeAudio(AStreamIndex)) return -1;
  const int count = std::min(std::max(ACount, 0), FRemainsAudioSize);
  if (!ABuffer) return count;
  std::memcpy(ABuffer, FWaveInfo.Buffer + (FWaveInfo.Size - FRemainsAudioSize), static_cast<size_t>(count));
  FRemainsAudioSize -= count;
  return count;
}

}  // namespace quorvel
