#include "app/conversion/PreviewWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "media/runtime/FFUtils.h"
#include "media/runtime/MainThread.h"

namespace quorvel {

namespace {

// The bitmap's pixels copied into an image of its own (the job reuses its
// bitmap for the next picture).
QImage ImageOf(const TBitmap& ABitmap) {
  QImage::Format format = QImage::Format_Invalid;
  switch (ABitmap.PixelFormat()) {
    case TBMPPixelFormat::pf15bit: format = QImage::Format_RGB555; break;
    case TBMPPixelFormat::pf16bit: format = QImage::Format_RGB16; break;
    case TBMPPixelFormat::pf24bit: format = QImage::Format_BGR888; break;
    case TBMPPixelFormat::pf32bit: format = QImage::Format_RGB32; break;
    case TBMPPixelFormat::pf8bit: break;
  }
  if (format == QImage::Format_Invalid || !ABitmap.Bits()) return QImage();
  return QImage(ABitmap.Bits(), ABitmap.Width(), ABitmap.Height(), ABitmap.Stride(), format).copy();
}

}  // namespace

// The window: the picture at its top left, moved by dragging the picture.
class TPreviewWindow::TForm final : public QWidget {
public:
  explicit TForm(std::atomic<bool>& AClosed)
      : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
        FClosed(AClosed) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  void SetImage(QImage AImage) {
    FImage = std::move(AImage);
    update();
  }
  const QImage& Image() const { return FImage; }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, FImage);
  }
  void closeEvent(QCloseEvent* AEvent) override {
    FClosed = true;
    AEvent->accept();
  }
  void mousePressEvent(QMouseEvent* AEvent) override {
    if (AEvent->button() != Qt::LeftButton) return QWidget::mousePressEvent(AEvent);
    // The window manager moves it as by its caption; where it cannot, the
    // window follows the pointer itself.
    FDragging = !(windowHandle() && windowHandle()->startSystemMove());
    FDragStart = AEvent->globalPosition().toPoint() - frameGeometry().topLeft();
    AEvent->accept();
  }
  void mouseMoveEvent(QMouseEvent* AEvent) override {
    if (FDragging && (AEvent->buttons() & Qt::LeftButton)) move(AEvent->globalPosition().toPoint() - FDragStart);
  }
  void mouseReleaseEvent(QMouseEvent*) override { FDragging = false; }

private:
  std::atomic<bool>& FClosed;
  QImage FImage;
  bool FDragging = false;
  QPoint FDragStart;
};

QWidget* TPreviewWindow::Window() const { return FForm.data(); }

TPreviewWindow::~TPreviewWindow() {
  // The window belongs to the main thread; the job may let its previewer go
  // on its own thread.
  CallInMainThread([this] { delete FForm.data(); });
}

bool TPreviewWindow::PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS) {
  if (FClosed) return false;
  FFrameNumber = AFrameNumber;
  FPTS = APTS;
  CallInMainThread([&] { Paint(ABitmap); });
  return !FClosed;
}

void TPreviewWindow::Paint(const TBitmap& ABitmap) {
  if (FClosed) return;
  if (!FForm) {
    FForm = new TForm(FClosed);
    FForm->setFixedSize(ABitmap.Width(), ABitmap.Height());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame(QPoint(0, 0), FForm->size());
      frame.moveCenter(screen->availableGeometry().center());
      FForm->move(frame.topLeft());
    }
    FForm->show();
  }
  FForm->setWindowTitle(QString::fromStdString(TimeText(FPTS)));
  FForm->SetImage(ImageOf(ABitmap));
}

}  // namespace quorvel
