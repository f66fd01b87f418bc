// A plain in-memory bitmap: width, height, a pixel format, owned pixel memory
// with rows from the top down, each row padded to a multiple of 32 bits.
//
// The layout is chosen so that the application can wrap the pixels in a
// QImage without copying (data = Bits(), bytesPerLine = Stride()):
//   pf8bit  - BGR8 (one byte, 3-3-2 bits; no direct QImage format)
//   pf15bit - BGR555 little-endian = QImage::Format_RGB555
//   pf16bit - BGR565 little-endian = QImage::Format_RGB16
//   pf24bit - bytes B,G,R per pixel  = QImage::Format_BGR888
//   pf32bit - BGRA little-endian     = QImage::Format_ARGB32
// The pixel memory is at least 16-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvel {

enum class TBMPPixelFormat : uint8_t { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format in memory; the 15-bit format takes 16.
int BitsPerPixel(TBMPPixelFormat fmt);

// Bytes per row for a width: width * bits rounded up to 32 bits.
int RowStride(int width, int bitsPixel);

class TBitmap {
public:
  TBitmap() = default;
  // Throws Exception for a negative size.
  TBitmap(int width, int height, TBMPPixelFormat fmt = TBMPPixelFormat::pf24bit);

  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TBMPPixelFormat PixelFormat() const { return FPixelFormat; }
  int BitsPixel() const { return BitsPerPixel(FPixelFormat); }
  int Stride() const { return FStride; }
  size_t SizeBytes() const { return static_cast<size_t>(FStride) * static_cast<size_t>(FHeight); }

  // Pixel memory: row y starts at Bits() + y * Stride(); row 0 is the top.
  // Null while the bitmap is empty.
  uint8_t* Bits() { return FBits.get(); }
  const uint8_t* Bits() const { return FBits.get(); }
  uint8_t* Row(int y) { return FBits.get() + static_cast<ptrdiff_t>(y) * FStride; }
  const uint8_t* Row(int y) const { return FBits.get() + static_cast<ptrdiff_t>(y) * FStride; }

  // Change the size; the pixels are cleared to zero whenever the size
  // changes, and kept when it does not. Throws Exception for a negative
  // size or one whose memory cannot be addressed.
  void Resize(int width, int height);
  // Change the pixel format, keeping the size; clears the pixels when the
  // format changes.
  void SetPixelFormat(TBMPPixelFormat fmt);

private:
  void Allocate(int width, int height, TBMPPixelFormat fmt);

  int FWidth = 0;
  int FHeight = 0;
  int FStride = 0;
  TBMPPixelFormat FPixelFormat = TBMPPixelFormat::pf24bit;
  std::unique_ptr<uint8_t[]> FBits;
};

}  // namespace quorvel
