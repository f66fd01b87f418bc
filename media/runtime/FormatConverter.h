// Turns decoded pictures into bitmaps and back (the decoder's frame grabs,
// the player's snapshots). One thread at a time: the owner's.
//
// Needs avutil and swscale loaded for any real conversion; a picture that is
// already in the bitmap's layout is used in place without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "media/runtime/Bitmap.h"
#include "media/runtime/LibHandles.h"

struct SwsContext;

namespace quorvel {

// A picture: up to four planes and their row sizes in bytes, laid out like
// AVFrame::data / AVFrame::linesize.
struct TPicture {
  uint8_t* data[4] = {nullptr, nullptr, nullptr, nullptr};
  int linesize[4] = {0, 0, 0, 0};

  static TPicture FromFrame(const AVFrame& frame);
};

// A device-independent bitmap description of the current pixels.
struct TDIBInfo {
  int Type = 0;
  int Width = 0;
  int Height = 0;
  int BytesPerRow = 0;
  int Planes = 0;
  int BitsPixel = 0;
  uint8_t* Bits = nullptr;  // the first (top) row
};

// The library pixel format of each bitmap format.
AVPixelFormat AVPixelFormatOf(TBMPPixelFormat fmt);

class TFormatConverter {
public:
  // Bytes after a picture the scaler may write into (a block of 16 pixels of
  // 4 bytes and a vector store), kept free after the own buffer.
  static constexpr size_t kScalerSlack = 128;

  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // Bits per pixel of the bitmap: 8, 15, 16, 24 or 32 may be set; anything
  // else throws Exception "Invalid BitsPixel %d" and changes nothing. The
  // 15-bit format reads back as 16.
  int BitsPixel() const { return FBitsPixel; }
  void SetBitsPixel(int AValue);

  TBMPPixelFormat BMPPixFmt() const { return FBMPPixFmt; }
  void SetBMPPixFmt(TBMPPixelFormat AValue);
  AVPixelFormat AVPixFmt() const { return FAVPixFmt; }

  TBitmap& Bitmap() { return FBitmap; }
  const TBitmap& Bitmap() const { return FBitmap; }
  const TDIBInfo& DIB() const { return FDIB; }
  // The picture laid over the converter's own buffer.
  const TPicture& RGBPicture() const { return FRGBPicture; }
  // The picture that holds the current pixels: the own one or (when no
  // conversion was needed) a copy of the caller's plane pointers. Null until
  // a conversion succeeded.
  const TPicture* RGBPictureRef() const { return FRGBPictureRef; }
  size_t RGBBufSize() const { return FRGBBufSize; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }

  // Makes ASrc (AHeight rows of AWidth pixels in ASrcFmt) available in the
  // bitmap's pixel format; with AToBitmap also copies it into Bitmap().
  // A picture already in that format, of even size and with the bitmap's row
  // size is used in place: its memory must outlive the use of RGBPictureRef.
  bool PictureToRGB(const TPicture& ASrc, AVPixelFormat ASrcFmt, bool AToBitmap, int AHeight, int AWidth);
  // Copy the current picture into the bitmap / the bitmap into the current
  // picture. Throw Exception when no conversion has succeeded yet.
  void RGBToBitmap();
  void BitmapToRGB();
  // Converts the current picture into ADst (AHeight x AWidth, ADstFmt),
  // scaling when that size differs from the current picture's. Throws
  // Exception when no conversion has succeeded yet.
  bool RGBToPicture(const TPicture& ADst, AVPixelFormat ADstFmt, int AHeight, int AWidth);

private:
  using SwsPtr = TSwsPtr;
  using BufferPtr = TAVBufferPtr;

  void ApplyFormat(TBMPPixelFormat AFormat);
  void RequirePicture(const char* AOperation) const;
  bool Fail(const std::string& AMsg);

  int FBitsPixel = 24;
  AVPixelFormat FAVPixFmt = AV_PIX_FMT_BGR24;
  TBMPPixelFormat FBMPPixFmt = TBMPPixelFormat::pf24bit;
  TBitmap FBitmap;
  TDIBInfo FDIB;
  BufferPtr FRGBBuffer;  // only grows
  size_t FRGBBufSize = 0;
  TPicture FRGBPicture;
  TPicture FCallerPicture;                 // plane pointers of a picture used in place
  const TPicture* FRGBPictureRef = nullptr;  // &FRGBPicture, &FCallerPicture or null
  SwsPtr FtoRGB_convert_ctx;
  SwsPtr FfromRGB_convert_ctx;
  TFramePtr FScaled;  // the way back's scaler output, copied to the caller's picture
  std::string FLastErrMsg;
};

}  // namespace quorvel
