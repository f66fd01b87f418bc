#include "media/runtime/Bitmap.h"

#include <climits>
#include <cstring>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace quorvel {

int BitsPerPixel(TBMPPixelFormat fmt) {
  switch (fmt) {
    case TBMPPixelFormat::pf8bit: return 8;
    case TBMPPixelFormat::pf15bit: return 16;
    case TBMPPixelFormat::pf16bit: return 16;
    case TBMPPixelFormat::pf24bit: return 24;
    case TBMPPixelFormat::pf32bit: return 32;
  }
  return 24;
}

int RowStride(int width, int bitsPixel) {
  const int64_t bytes = (static_cast<int64_t>(width) * bitsPixel + 31) / 32 * 4;
  return bytes > INT_MAX ? -1 : static_cast<int>(bytes);
}

TBitmap::TBitmap(int width, int height, TBMPPixelFormat fmt) { Allocate(width, height, fmt); }

void TBitmap::Resize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  Allocate(width, height, FPixelFormat);
}

void TBitmap::SetPixelFormat(TBMPPixelFormat fmt) {
  if (fmt == FPixelFormat) return;
  Allocate(FWidth, FHeight, fmt);
}

void TBitmap::Allocate(int width, int height, TBMPPixelFormat fmt) {
  const int stride = width < 0 ? -1 : RowStride(width, BitsPerPixel(fmt));
  if (height < 0 || stride < 0 || (height > 0 && static_cast<uint64_t>(stride) > SIZE_MAX / 2 / height))
    throw Exception(Format("Invalid bitmap size %dx%d", width, height));
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  // Value-initialised: a new bitmap shows black, not old heap contents.
  std::unique_ptr<uint8_t[]> bits = bytes ? std::make_unique<uint8_t[]>(bytes) : nullptr;
  FBits = std::move(bits);
  FWidth = width;
  FHeight = height;
  FStride = stride;
  FPixelFormat = fmt;
}

}  // namespace quorvel
