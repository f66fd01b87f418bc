// The conversion's preview window: painted from a job's thread while the
// main thread serves, sized by the first picture, captioned with the
// picture's time, closed for good, and gone with its previewer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "app/conversion/PreviewWindow.h"
#include "media/runtime/MainThread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace quorvel {
namespace {

void FillBitmap(TBitmap& ABitmap, uint8_t AR, uint8_t AG, uint8_t AB) {
  for (int y = 0; y < ABitmap.Height(); ++y)
    for (int x = 0; x < ABitmap.Width(); ++x) {
      uint8_t* p = ABitmap.Row(y) + 3 * x;
      p[0] = AB;
      p[1] = AG;
      p[2] = AR;
    }
}

using test::PaintFromAJob;

TEST(PreviewWindow, ShowsPicturesAtTheFirstOnesSizeCaptionedWithTheirTimeUntilClosed) {
  TPreviewWindow preview;
  EXPECT_EQ(preview.Window(), nullptr) << "no window before the first picture";
  TBitmap red(64, 48, TBMPPixelFormat::pf24bit);
  FillBitmap(red, 255, 0, 0);
  ASSERT_TRUE(PaintFromAJob(preview, red, 1500000));
  QWidget* window = preview.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "00:00:01.500");
  EXPECT_EQ(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  const QImage shown = window->grab().toImage();
  EXPECT_EQ(QColor(shown.pixel(32, 24)), QColor(255, 0, 0));

  // A later, larger picture: the window keeps its size; no time: "N/A".
  TBitmap green(100, 80, TBMPPixelFormat::pf24bit);
  FillBitmap(green, 0, 255, 0);
  ASSERT_TRUE(PaintFromAJob(preview, green, AV_NOPTS_VALUE));
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "N/A");
  EXPECT_EQ(QColor(window->grab().toImage().pixel(32, 24)), QColor(0, 255, 0));

  // Closed by the user: final.
  window->close();
  EXPECT_FALSE(PaintFromAJob(preview, red, 2000000));
  EXPECT_FALSE(PaintFromAJob(preview, red, 2100000));
  EXPECT_FALSE(window->isVisible());
}

TEST(PreviewWindow, GoesWithItsPreviewerEvenWhenAJobLetsItGo) {
  auto preview = std::make_unique<TPreviewWindow>();
  TBitmap bitmap(32, 32, TBMPPixelFormat::pf24bit);
  ASSERT_TRUE(PaintFromAJob(*preview, bitmap, 0));
  QPointer<QWidget> window = preview->Window();
  ASSERT_FALSE(window.isNull());
  // Dropped on the job's thread: the window is deleted on this one.
  std::atomic<bool> done{false};
  std::thread job([&] {
    preview.reset();
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents();
    ProcessMainThreadCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  job.join();
  EXPECT_TRUE(window.isNull());
}

TEST(Screenshots, WritesThePreviewWindow) {
  TPreviewWindow preview;
  TBitmap bitmap(320, 180, TBMPPixelFormat::pf24bit);
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      uint8_t* p = bitmap.Row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(255 * y / bitmap.Height());
      p[1] = static_cast<uint8_t>(255 * x / bitmap.Width());
      p[2] = static_cast<uint8_t>((x / 40 + y / 40) % 2 ? 220 : 40);
    }
  ASSERT_TRUE(PaintFromAJob(preview, bitmap, 83250000));
  ASSERT_NE(preview.Window(), nullptr);
  test::SaveScreenshot(*preview.Window(), "preview-window");
}

}  // namespace
}  // namespace quorvel
