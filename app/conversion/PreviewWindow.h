// The conversion's preview window: a small stay-on-top tool window in which
// a running job shows its encoded pictures (the engine's previewer, made by
// the factory the window program installs on the encoder).
//
// PaintFrame is called on the job's thread and returns once the main thread
// has drawn the picture. The window appears with the first picture, sized
// by it (and keeps that size), shows the picture's time as its caption, and
// is dragged by its picture. Closing it is final: every later PaintFrame
// returns false and the job stops previewing. The window goes with the
// previewer (on the main thread).
#pragma once

#include <atomic>
#include <cstdint>

#include <QImage>
#include <QPointer>

#include "media/runtime/Previewer.h"

class QWidget;

namespace quorvel {

class TPreviewWindow final : public TPreviewer {
public:
  TPreviewWindow() = default;
  ~TPreviewWindow() override;
  TPreviewWindow(const TPreviewWindow&) = delete;
  TPreviewWindow& operator=(const TPreviewWindow&) = delete;

  bool PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS) override;

  // The window once the first picture came (main thread; for tests).
  QWidget* Window() const;

private:
  class TForm;
  void Paint(const TBitmap& ABitmap);

  std::atomic<bool> FClosed{false};  // set on the main thread by the window's closing
  // Main thread (the paint step runs there while the job's thread waits):
  QPointer<TForm> FForm;
  int FFrameNumber = 0;
  int64_t FPTS = 0;
};

}  // namespace quorvel
