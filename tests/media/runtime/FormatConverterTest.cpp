#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "media/runtime/Bitmap.h"
#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FormatConverter.h"
#include "media/runtime/Stubs.h"

namespace quorvel {
namespace {

// ---- TBitmap ----

TEST(BitmapTest, RowsArePaddedTo32Bits) {
  struct Case {
    int Width;
    TBMPPixelFormat Fmt;
    int Stride;
  };
  const Case cases[] = {
      {1, TBMPPixelFormat::pf24bit, 4},  {4, TBMPPixelFormat::pf24bit, 12}, {5, TBMPPixelFormat::pf24bit, 16},
      {6, TBMPPixelFormat::pf24bit, 20}, {3, TBMPPixelFormat::pf8bit, 4},   {5, TBMPPixelFormat::pf8bit, 8},
      {3, TBMPPixelFormat::pf15bit, 8},  {3, TBMPPixelFormat::pf16bit, 8},  {3, TBMPPixelFormat::pf32bit, 12},
      {0, TBMPPixelFormat::pf24bit, 0},
  };
  for (const Case& c : cases) {
    TBitmap bmp(c.Width, 3, c.Fmt);
    EXPECT_EQ(bmp.Stride(), c.Stride) << c.Width << " px, " << bmp.BitsPixel() << " bits";
    EXPECT_EQ(bmp.SizeBytes(), static_cast<size_t>(c.Stride) * 3);
    if (c.Width > 0) {
      EXPECT_EQ(bmp.Row(2), bmp.Bits() + 2 * c.Stride);
    }
  }
}

TEST(BitmapTest, ResizeClearsOnlyWhenTheSizeChanges) {
  TBitmap bmp(4, 2);
  std::memset(bmp.Bits(), 0xAB, bmp.SizeBytes());
  bmp.Resize(4, 2);
  EXPECT_EQ(bmp.Row(1)[5], 0xAB);
  bmp.Resize(6, 3);
  ASSERT_EQ(bmp.Width(), 6);
  ASSERT_EQ(bmp.Height(), 3);
  for (size_t i = 0; i < bmp.SizeBytes(); ++i) ASSERT_EQ(bmp.Bits()[i], 0) << i;
  bmp.SetPixelFormat(TBMPPixelFormat::pf32bit);
  EXPECT_EQ(bmp.Width(), 6);
  EXPECT_EQ(bmp.Stride(), 24);
  EXPECT_THROW(bmp.Resize(-1, 2), Exception);
  EXPECT_THROW(bmp.Resize(2, -1), Exception);
  EXPECT_EQ(bmp.Width(), 6);  // a refused size changes nothing
}

// ---- TFormatConverter ----

struct FrameFree {
  void operator()(AVFrame* f) const { avutil.av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

FramePtr MakeFrame(AVPixelFormat fmt, int width, int height) {
  FramePtr f(avutil.av_frame_alloc());
  if (!f) return f;
  f->format = fmt;
  f->width = width;
  f->height = height;
  if (avutil.av_frame_get_buffer(f.get(), 0) < 0) f.reset();
  return f;
}

// A YUV420P frame of one colour.
FramePtr SolidYUV(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
  FramePtr f = MakeFrame(AV_PIX_FMT_YUV420P, width, height);
  if (!f) return f;
  for (int row = 0; row < height; ++row) std::memset(f->data[0] + row * f->linesize[0], y, width);
  for (int row = 0; row < (height + 1) / 2; ++row) {
    std::memset(f->data[1] + row * f->linesize[1], u, (width + 1) / 2);
    std::memset(f->data[2] + row * f->linesize[2], v, (width + 1) / 2);
  }
  return f;
}

// The expected colour of Y=120, U=100, V=160 (BT.601, limited range):
// R = 1.164(Y-16) + 1.596(V-128), G = 1.164(Y-16) - 0.813(V-128) - 0.391(U-128),
// B = 1.164(Y-16) + 2.018(U-128).
constexpr uint8_t kY = 120, kU = 100, kV = 160;
constexpr int kR = 172, kG = 106, kB = 65;

// A BGR24 picture over a byte vector, with a chosen row size.
struct BGRPicture {
  BGRPicture(int width, int height, int linesize) : Bytes(static_cast<size_t>(linesize) * height) {
    for (size_t i = 0; i < Bytes.size(); ++i) Bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    Pic.data[0] = Bytes.data();
    Pic.linesize[0] = linesize;
    Width = width;
    Height = height;
  }
  std::vector<uint8_t> Bytes;
  TPicture Pic;
  int Width, Height;
};

class FormatConverterTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(FFLoader().Load(TLibraries{TLibrary::avUtil, TLibrary::swScale})) << FFLoader().LastErrMsg();
  }
  TFormatConverter Conv;
};

TEST_F(FormatConverterTest, StartsAs24BitWithNoPicture) {
  EXPECT_EQ(Conv.BitsPixel(), 24);
  EXPECT_EQ(Conv.BMPPixFmt(), TBMPPixelFormat::pf24bit);
  EXPECT_EQ(Conv.AVPixFmt(), AV_PIX_FMT_BGR24);
  EXPECT_EQ(Conv.Bitmap().PixelFormat(), TBMPPixelFormat::pf24bit);
  EXPECT_EQ(Conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(Conv.DIB().Bits, nullptr);
}

TEST_F(FormatConverterTest, BitsPixelSelectsTheFormat) {
  struct Case {
    int Set;
    TBMPPixelFormat Fmt;
    int Reads;
    AVPixelFormat AVFmt;
  };
  const Case cases[] = {
      {8, TBMPPixelFormat::pf8bit, 8, AV_PIX_FMT_BGR8},
      {16, TBMPPixelFormat::pf16bit, 16, AV_PIX_FMT_BGR565LE},
      {15, TBMPPixelFormat::pf15bit, 16, AV_PIX_FMT_BGR555LE},
      {16, TBMPPixelFormat::pf16bit, 16, AV_PIX_FMT_BGR565LE},
      {24, TBMPPixelFormat::pf24bit, 24, AV_PIX_FMT_BGR24},
      {32, TBMPPixelFormat::pf32bit, 32, AV_PIX_FMT_BGRA},
  };
  for (const Case& c : cases) {
    Conv.SetBitsPixel(c.Set);
    EXPECT_EQ(Conv.BMPPixFmt(), c.Fmt) << c.Set;
    EXPECT_EQ(Conv.BitsPixel(), c.Reads) << c.Set;
    EXPECT_EQ(Conv.AVPixFmt(), c.AVFmt) << c.Set;
    EXPECT_EQ(Conv.Bitmap().PixelFormat(), c.Fmt) << c.Set;
  }
  // The 15-bit format reads 16 bits, yet asking it for 16 switches formats.
  Conv.SetBitsPixel(15);
  Conv.SetBitsPixel(16);
  EXPECT_EQ(Conv.BMPPixFmt(), TBMPPixelFormat::pf16bit);
  EXPECT_EQ(Conv.AVPixFmt(), AV_PIX_FMT_BGR565LE);
}

TEST_F(FormatConverterTest, InvalidBitsPixelThrowsAndChangesNothing) {
  Conv.SetBitsPixel(32);
  for (int bits : {0, 1, 12, 48, -24}) {
    try {
      Conv.SetBitsPixel(bits);
      ADD_FAILURE() << bits << " accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bits));
    }
    EXPECT_EQ(Conv.BitsPixel(), 32);
    EXPECT_EQ(Conv.AVPixFmt(), AV_PIX_FMT_BGRA);
  }
}

TEST_F(FormatConverterTest, MatchingPictureIsUsedInPlace) {
  BGRPicture src(6, 4, 20);  // 6 * 3 = 18 bytes, padded to 20 like the bitmap
  ASSERT_TRUE(Conv.PictureToRGB(src.Pic, AV_PIX_FMT_BGR24, true, 4, 6)) << Conv.LastErrMsg();
  ASSERT_NE(Conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(Conv.RGBPictureRef()->data[0], src.Bytes.data());
  EXPECT_EQ(Conv.RGBBufSize(), 0u);  // no buffer was needed
  const TDIBInfo& dib = Conv.DIB();
  EXPECT_EQ(dib.Type, 0);
  EXPECT_EQ(dib.Width, 6);
  EXPECT_EQ(dib.Height, 4);
  EXPECT_EQ(dib.BytesPerRow, 20);
  EXPECT_EQ(dib.Planes, 1);
  EXPECT_EQ(dib.BitsPixel, 24);
  EXPECT_EQ(dib.Bits, src.Bytes.data());
  // Top-down: picture row y is bitmap row y.
  for (int y = 0; y < 4; ++y)
    EXPECT_EQ(std::memcmp(Conv.Bitmap().Row(y), src.Bytes.data() + y * 20, 18), 0) << "row " << y;

  // The bitmap can be written back into the very same picture.
  Conv.Bitmap().Row(3)[0] = 0x11;
  Conv.BitmapToRGB();
  EXPECT_EQ(src.Bytes[3 * 20], 0x11);
}

TEST_F(FormatConverterTest, OtherPicturesConvertIntoTheOwnBuffer) {
  struct Case {
    int Width, Height, Linesize;
    const char* Why;
  };
  const Case cases[] = {
      {5, 4, 16, "odd width"},
      {6, 3, 20, "odd height"},
      {6, 4, 24, "row size differs"},
      {8, 2, 24, "even size, matching rows: used in place"},
  };
  for (const Case& c : cases) {
    BGRPicture src(c.Width, c.Height, c.Linesize);
    ASSERT_TRUE(Conv.PictureToRGB(src.Pic, AV_PIX_FMT_BGR24, true, c.Height, c.Width)) << Conv.LastErrMsg();
    const bool inPlace = c.Width % 2 == 0 && c.Height % 2 == 0 && c.Linesize == Conv.Bitmap().Stride();
    if (inPlace) {
      EXPECT_EQ(Conv.RGBPictureRef()->data[0], src.Bytes.data()) << c.Why;
    } else {
      EXPECT_EQ(Conv.RGBPictureRef(), &Conv.RGBPicture()) << c.Why;
      EXPECT_NE(Conv.RGBPictureRef()->data[0], src.Bytes.data()) << c.Why;
      // The own picture keeps the bitmap's row size.
      EXPECT_EQ(Conv.DIB().BytesPerRow, Conv.Bitmap().Stride()) << c.Why;
    }
    EXPECT_EQ(Conv.DIB().Bits, Conv.RGBPictureRef()->data[0]);
    // Same format, same size: the pixels come through unchanged.
    for (int y = 0; y < c.Height; ++y)
      EXPECT_EQ(std::memcmp(Conv.Bitmap().Row(y), src.Bytes.data() + y * c.Linesize, c.Width * 3), 0)
          << c.Why << ", row " << y;
  }
}

void ExpectNear(const uint8_t* px, int b, int g, int r, const std::string& where) {
  EXPECT_NEAR(px[0], b, 2) << where << " blue";
  EXPECT_NEAR(px[1], g, 2) << where << " green";
  EXPECT_NEAR(px[2], r, 2) << where << " red";
}

TEST_F(FormatConverterTest, ConvertsYUVToTheBitmapColours) {
  for (int bits : {24, 32}) {
    Conv.SetBitsPixel(bits);
    for (auto [w, h] : {std::pair{16, 8}, std::pair{17, 9}}) {
      FramePtr frame = SolidYUV(w, h, kY, kU, kV);
      ASSERT_TRUE(frame);
      ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_YUV420P, true, h, w))
          << Conv.LastErrMsg();
      const int bpp = bits / 8;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::string where = std::to_string(bits) + " bits " + std::to_string(w) + "x" + std::to_string(h) +
                                    " at " + std::to_string(x) + "," + std::to_string(y);
          ExpectNear(Conv.Bitmap().Row(y) + x * bpp, kB, kG, kR, where);
          if (bits == 32) {
            EXPECT_EQ(Conv.Bitmap().Row(y)[x * 4 + 3], 255) << where << " alpha";
          }
          if (::testing::Test::HasFailure()) return;
        }
    }
  }
}

TEST_F(FormatConverterTest, WithoutToBitmapOnlyThePictureIsFilled) {
  FramePtr frame = SolidYUV(8, 4, kY, kU, kV);
  ASSERT_TRUE(frame);
  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_YUV420P, false, 4, 8));
  ExpectNear(Conv.RGBPictureRef()->data[0], kB, kG, kR, "picture");
  EXPECT_EQ(Conv.Bitmap().Row(0)[0], 0);  // bitmap untouched (fresh, so black)
  Conv.RGBToBitmap();
  ExpectNear(Conv.Bitmap().Row(3) + 7 * 3, kB, kG, kR, "bitmap");
}

TEST_F(FormatConverterTest, RoundTripBackToYUV) {
  const int w = 16, h = 8;
  FramePtr frame = SolidYUV(w, h, kY, kU, kV);
  ASSERT_TRUE(frame);
  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_YUV420P, true, h, w));

  FramePtr back = MakeFrame(AV_PIX_FMT_YUV420P, w, h);
  ASSERT_TRUE(back);
  ASSERT_TRUE(Conv.RGBToPicture(TPicture::FromFrame(*back), AV_PIX_FMT_YUV420P, h, w)) << Conv.LastErrMsg();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) EXPECT_NEAR(back->data[0][y * back->linesize[0] + x], kY, 2) << x << "," << y;
  }
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      EXPECT_NEAR(back->data[1][y * back->linesize[1] + x], kU, 2) << x << "," << y;
      EXPECT_NEAR(back->data[2][y * back->linesize[2] + x], kV, 2) << x << "," << y;
    }

  // Into another RGB layout, and scaled to a larger picture without reading
  // past the source.
  FramePtr bgra = MakeFrame(AV_PIX_FMT_BGRA, 2 * w, 2 * h);
  ASSERT_TRUE(bgra);
  ASSERT_TRUE(Conv.RGBToPicture(TPicture::FromFrame(*bgra), AV_PIX_FMT_BGRA, 2 * h, 2 * w));
  ExpectNear(bgra->data[0] + (2 * h - 1) * bgra->linesize[0] + (2 * w - 1) * 4, kB, kG, kR, "scaled corner");
}

// The way back writes into the caller's picture, which may be sized to the
// byte (an SDL overlay is): nothing after it may change, whatever the row
// length leaves to the scaler's block stores.
TEST_F(FormatConverterTest, TheWayBackWritesNothingPastTheCallersPicture) {
  struct Case {
    AVPixelFormat Fmt;
    int Width, Height;
  };
  const Case cases[] = {{AV_PIX_FMT_YUV420P, 8, 4},   {AV_PIX_FMT_YUV420P, 10, 6}, {AV_PIX_FMT_YUV420P, 200, 100},
                        {AV_PIX_FMT_BGR24, 8, 4},     {AV_PIX_FMT_BGR24, 26, 6},   {AV_PIX_FMT_BGRA, 10, 2},
                        {AV_PIX_FMT_RGB565LE, 14, 4}};
  constexpr size_t kGuard = 512;
  constexpr uint8_t kMark = 0xA5;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(avutil.av_get_pix_fmt_name(c.Fmt)) + " " + std::to_string(c.Width) + "x" +
                 std::to_string(c.Height));
    FramePtr frame = SolidYUV(c.Width, c.Height, kY, kU, kV);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_YUV420P, true, c.Height, c.Width));
    const int size = avutil.av_image_get_buffer_size(c.Fmt, c.Width, c.Height, 1);
    ASSERT_GT(size, 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size) + kGuard, kMark);
    TPicture dst;
    avutil.av_image_fill_arrays(dst.data, dst.linesize, bytes.data(), c.Fmt, c.Width, c.Height, 1);
    ASSERT_TRUE(Conv.RGBToPicture(dst, c.Fmt, c.Height, c.Width)) << Conv.LastErrMsg();
    size_t changed = 0;
    for (size_t i = static_cast<size_t>(size); i < bytes.size(); ++i) changed += bytes[i] != kMark;
    EXPECT_EQ(changed, 0u) << "bytes written past the picture";
    if (c.Fmt == AV_PIX_FMT_YUV420P) {
      const uint8_t* lastRow = dst.data[0] + (c.Height - 1) * dst.linesize[0];
      EXPECT_NEAR(lastRow[c.Width - 1], kY, 2) << "the last pixel is written";
    } else if (c.Fmt == AV_PIX_FMT_BGR24) {
      ExpectNear(dst.data[0] + (c.Height - 1) * dst.linesize[0] + (c.Width - 1) * 3, kB, kG, kR, "last pixel");
    }
  }
}

TEST_F(FormatConverterTest, BufferNeverShrinks) {
  FramePtr big = SolidYUV(64, 32, kY, kU, kV);
  FramePtr small = SolidYUV(16, 8, kY, kU, kV);
  FramePtr bigger = SolidYUV(128, 64, kY, kU, kV);
  ASSERT_TRUE(big && small && bigger);

  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*big), AV_PIX_FMT_YUV420P, false, 32, 64));
  const size_t size = Conv.RGBBufSize();
  const uint8_t* buffer = Conv.RGBPicture().data[0];
  EXPECT_GE(size, 64u * 3 * 32);

  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*small), AV_PIX_FMT_YUV420P, true, 8, 16));
  EXPECT_EQ(Conv.RGBBufSize(), size);
  EXPECT_EQ(Conv.RGBPicture().data[0], buffer);
  EXPECT_EQ(Conv.RGBPicture().linesize[0], 16 * 3);
  ExpectNear(Conv.Bitmap().Row(7) + 15 * 3, kB, kG, kR, "small");

  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*bigger), AV_PIX_FMT_YUV420P, true, 64, 128));
  EXPECT_GE(Conv.RGBBufSize(), 128u * 3 * 64);
  ExpectNear(Conv.Bitmap().Row(63) + 127 * 3, kB, kG, kR, "bigger");
}

TEST_F(FormatConverterTest, ChangingTheFormatForgetsThePicture) {
  BGRPicture src(6, 4, 20);
  ASSERT_TRUE(Conv.PictureToRGB(src.Pic, AV_PIX_FMT_BGR24, false, 4, 6));
  Conv.SetBitsPixel(32);
  EXPECT_EQ(Conv.RGBPictureRef(), nullptr);
  EXPECT_EQ(Conv.DIB().Bits, nullptr);
  EXPECT_THROW(Conv.RGBToBitmap(), Exception);
}

TEST_F(FormatConverterTest, NothingToCopyBeforeAConversion) {
  EXPECT_THROW(Conv.RGBToBitmap(), Exception);
  EXPECT_THROW(Conv.BitmapToRGB(), Exception);
  TPicture dst;
  EXPECT_THROW(Conv.RGBToPicture(dst, AV_PIX_FMT_BGR24, 2, 2), Exception);
}

TEST_F(FormatConverterTest, ScalerFailuresAreReported) {
  FramePtr frame = SolidYUV(8, 4, kY, kU, kV);
  ASSERT_TRUE(frame);
  EXPECT_FALSE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_NONE, true, 4, 8));
  EXPECT_EQ(Conv.LastErrMsg(), "Cannot initialize the toRGB conversion context");
  EXPECT_EQ(Conv.RGBPictureRef(), nullptr);

  ASSERT_TRUE(Conv.PictureToRGB(TPicture::FromFrame(*frame), AV_PIX_FMT_YUV420P, true, 4, 8));
  FramePtr dst = MakeFrame(AV_PIX_FMT_BGR24, 8, 4);
  ASSERT_TRUE(dst);
  EXPECT_FALSE(Conv.RGBToPicture(TPicture::FromFrame(*dst), AV_PIX_FMT_NONE, 4, 8));
  EXPECT_EQ(Conv.LastErrMsg(), "Cannot initialize the fromRGB conversion context");
  // The current picture survives a failed way back.
  EXPECT_NE(Conv.RGBPictureRef(), nullptr);
}

TEST_F(FormatConverterTest, EmptyPictureIsRefused) {
  TPicture none;
  EXPECT_FALSE(Conv.PictureToRGB(none, AV_PIX_FMT_BGR24, true, 0, 0));
  EXPECT_FALSE(Conv.PictureToRGB(none, AV_PIX_FMT_BGR24, true, 4, -2));
  EXPECT_FALSE(Conv.PictureToRGB(none, AV_PIX_FMT_YUV420P, true, 1 << 30, 1 << 30));  // cannot be addressed
  EXPECT_EQ(Conv.RGBPictureRef(), nullptr);
  EXPECT_FALSE(Conv.LastErrMsg().empty());
}

}  // namespace
}  // namespace quorvel
