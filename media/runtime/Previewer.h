// The window a run paints its encoded pictures into (the "preview" post
// hook). The player provides the real window; the engine only needs this
// interface, and runs without any window through TNullPreviewer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "media/runtime/Bitmap.h"

namespace quorvel {

class TPreviewer {
public:
  virtual ~TPreviewer() = default;
  // Paints one picture; false: the window is gone and previews stop.
  virtual bool PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS) = 0;
};

// Accepts every picture and shows nothing.
class TNullPreviewer : public TPreviewer {
public:
  bool PaintFrame(const TBitmap&, int, int64_t) override { return true; }
};

// Makes the preview window when a run first needs it (on the run's thread).
using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;

}  // namespace quorvel
