#include "media/runtime/FormatConverter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

TPicture TPicture::FromFrame(const AVFrame& frame) {
  TPicture p;
  for (int i = 0; i < 4; ++i) {
    p.data[i] = frame.data[i];
    p.linesize[i] = frame.linesize[i];
  }
  return p;
}

AVPixelFormat AVPixelFormatOf(TBMPPixelFormat fmt) {
  switch (fmt) {
    case TBMPPixelFormat::pf8bit: return AV_PIX_FMT_BGR8;
    case TBMPPixelFormat::pf15bit: return AV_PIX_FMT_BGR555LE;
    case TBMPPixelFormat::pf16bit: return AV_PIX_FMT_BGR565LE;
    case TBMPPixelFormat::pf24bit: return AV_PIX_FMT_BGR24;
    case TBMPPixelFormat::pf32bit: return AV_PIX_FMT_BGRA;
  }
  return AV_PIX_FMT_BGR24;
}

// The libraries may already be unloaded when a converter dies at process
// end; the memory then goes with the process.
TFormatConverter::TFormatConverter() { ApplyFormat(TBMPPixelFormat::pf24bit); }

TFormatConverter::~TFormatConverter() = default;

void TFormatConverter::ApplyFormat(TBMPPixelFormat AFormat) {
  FDIB = TDIBInfo{};
  FRGBPicture = TPicture{};
  FCallerPicture = TPicture{};
  FRGBPictureRef = nullptr;
  FBMPPixFmt = AFormat;
  FBitsPixel = BitsPerPixel(AFormat);
  FAVPixFmt = AVPixelFormatOf(AFormat);
  FBitmap.SetPixelFormat(AFormat);
}

void TFormatConverter::SetBMPPixFmt(TBMPPixelFormat AValue) {
  if (AValue != FBMPPixFmt) ApplyFormat(AValue);
}

void TFormatConverter::SetBitsPixel(int AValue) {
  TBMPPixelFormat fmt;
  switch (AValue) {
    case 8: fmt = TBMPPixelFormat::pf8bit; break;
    case 15: fmt = TBMPPixelFormat::pf15bit; break;
    case 16: fmt = TBMPPixelFormat::pf16bit; break;
    case 24: fmt = TBMPPixelFormat::pf24bit; break;
    case 32: fmt = TBMPPixelFormat::pf32bit; break;
    default: throw Exception(Format("Invalid BitsPixel %d", AValue));
  }
  // Compare formats, not bit counts: the 15-bit format also counts 16 bits,
  // and asking it for 16 must still switch to the 16-bit format.
  SetBMPPixFmt(fmt);
}

bool TFormatConverter::Fail(const std::string& AMsg) {
  FRGBPictureRef = nullptr;
  FDIB = TDIBInfo{};
  FLastErrMsg = AMsg;
  return false;
}

bool TFormatConverter::PictureToRGB(const TPicture& ASrc, AVPixelFormat ASrcFmt, bool AToBitmap, int AHeight,
                                    int AWidth) {
  if (AWidth <= 0 || AHeight <= 0) return Fail(Format("Invalid picture size %dx%d", AWidth, AHeight));
  try {
    FBitmap.Resize(AWidth, AHeight);
  } catch (const std::exception&) {  // too large to address or to allocate
    return Fail(Format("Cannot allocate a %dx%d bitmap", AWidth, AHeight));
  }

  const bool needConvert = ASrcFmt != FAVPixFmt || (AWidth % 2) != 0 || (AHeight % 2) != 0 ||
                           ASrc.linesize[0] != FBitmap.Stride();
  const TPicture* result;
  if (needConvert) {
    if (!avutil.av_image_get_buffer_size || !swscale.sws_getCachedContext)
      return Fail("Cannot initialize the toRGB conversion context");
    // Rows aligned to 32 bits, like the bitmap's, so the own picture has the
    // bitmap's row size and the DIB description is a valid DIB.
    const int size = avutil.av_image_get_buffer_size(FAVPixFmt, AWidth, AHeight, 4);
    if (size < 0) return Fail(Format("Invalid picture size %dx%d", AWidth, AHeight));
    // The scaler's vector code stores whole blocks of pixels, past the end of
    // a row; rows follow each other, so only the last row's spill leaves the
    // picture, and the slack takes it.
    const size_t needed = static_cast<size_t>(size) + kScalerSlack;
    if (!FRGBBuffer || FRGBBufSize < needed) {
      // Grow only: frame after frame of one stream needs the same size.
      FRGBPicture = TPicture{};
      FRGBBuffer.reset();
      FRGBBufSize = 0;
      FRGBBuffer.reset(static_cast<uint8_t*>(avutil.av_malloc(needed)));
      if (!FRGBBuffer) return Fail("Cannot allocate the RGB picture buffer");
      FRGBBufSize = needed;
    }
    avutil.av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FRGBBuffer.get(), FAVPixFmt, AWidth,
                                AHeight, 4);
    // The scaler aborts the process on a format it cannot read: ask first.
    if (!swscale.sws_isSupportedInput(ASrcFmt)) return Fail("Cannot initialize the toRGB conversion context");
    FtoRGB_convert_ctx.reset(swscale.sws_getCachedContext(FtoRGB_convert_ctx.release(), AWidth, AHeight, ASrcFmt,
                                                          AWidth, AHeight, FAVPixFmt, SWS_BICUBIC, nullptr,
                                                          nullptr, nullptr));
    if (!FtoRGB_convert_ctx) return Fail("Cannot initialize the toRGB conversion context");
    swscale.sws_scale(FtoRGB_convert_ctx.get(), ASrc.data, ASrc.linesize, 0, AHeight, FRGBPicture.data,
                      FRGBPicture.linesize);
    result = &FRGBPicture;
  } else {
    // Already in the bitmap's layout: use the caller's pixels, copy none.
    FCallerPicture = ASrc;
    result = &FCallerPicture;
  }

  FRGBPictureRef = result;
  FDIB = TDIBInfo{0, AWidth, AHeight, result->linesize[0], 1, FBitsPixel, result->data[0]};
  if (AToBitmap) RGBToBitmap();
  return true;
}

void TFormatConverter::RequirePicture(const char* AOperation) const {
  if (!FRGBPictureRef) throw Exception(Format("%s: no converted picture", AOperation));
}

// Both the bitmap and the picture keep their rows top-down, so picture row y
// is bitmap row y: no bottom-up reversal as a Windows DIB would need.
void TFormatConverter::RGBToBitmap() {
  RequirePicture("RGBToBitmap");
  const uint8_t* src = FRGBPictureRef->data[0];
  const ptrdiff_t srcStride = FRGBPictureRef->linesize[0];
  const int rows = std::min(FBitmap.Height(), FDIB.Height);
  const size_t bytes = std::min<size_t>(static_cast<size_t>(std::abs(srcStride)), FBitmap.Stride());
  for (int y = 0; y < rows; ++y) std::memcpy(FBitmap.Row(y), src + y * srcStride, bytes);
}

void TFormatConverter::BitmapToRGB() {
  RequirePicture("BitmapToRGB");
  uint8_t* dst = FRGBPictureRef->data[0];
  const ptrdiff_t dstStride = FRGBPictureRef->linesize[0];
  const int rows = std::min(FBitmap.Height(), FDIB.Height);
  const size_t bytes = std::min<size_t>(static_cast<size_t>(std::abs(dstStride)), FBitmap.Stride());
  for (int y = 0; y < rows; ++y) std::memcpy(dst + y * dstStride, FBitmap.Row(y), bytes);
}

bool TFormatConverter::RGBToPicture(const TPicture& ADst, AVPixelFormat ADstFmt, int AHeight, int AWidth) {
  RequirePicture("RGBToPicture");
  if (!swscale.sws_getCachedContext) {
    FLastErrMsg = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  // The scaler aborts the process on a format it cannot write: ask first.
  if (!swscale.sws_isSupportedOutput(ADstFmt)) {
    FLastErrMsg = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  // The source is read at its own size: a larger destination size must not
  // make the scaler read past the current picture.
  FfromRGB_convert_ctx.reset(swscale.sws_getCachedContext(FfromRGB_convert_ctx.release(), FDIB.Width, FDIB.Height,
                                                          FAVPixFmt, AWidth, AHeight, ADstFmt, SWS_BICUBIC,
                                                          nullptr, nullptr, nullptr));
  if (!FfromRGB_convert_ctx) {
    FLastErrMsg = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  // The destination is the caller's (an SDL overlay, say) and may be sized to
  // the byte: the scaler, which stores past row ends, writes into a frame of
  // the library's own padded layout, and only the picture is copied over.
  if (!FScaled || FScaled->width != AWidth || FScaled->height != AHeight || FScaled->format != ADstFmt) {
    FScaled.reset(avutil.av_frame_alloc());
    if (FScaled) {
      FScaled->format = ADstFmt;
      FScaled->width = AWidth;
      FScaled->height = AHeight;
      if (avutil.av_frame_get_buffer(FScaled.get(), 0) < 0) FScaled.reset();
    }
    if (!FScaled) {
      FLastErrMsg = Format("Cannot allocate a %dx%d picture", AWidth, AHeight);
      return false;
    }
  }
  swscale.sws_scale(FfromRGB_convert_ctx.get(), FRGBPictureRef->data, FRGBPictureRef->linesize, 0, FDIB.Height,
                    FScaled->data, FScaled->linesize);
  uint8_t* dst[4] = {ADst.data[0], ADst.data[1], ADst.data[2], ADst.data[3]};
  int dstLines[4] = {ADst.linesize[0], ADst.linesize[1], ADst.linesize[2], ADst.linesize[3]};
  avutil.av_image_copy(dst, dstLines, const_cast<const uint8_t**>(FScaled->data), FScaled->linesize, ADstFmt, AWidth,
                       AHeight);
  return true;
}

}  // namespace quorvel
