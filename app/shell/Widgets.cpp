#include "app/shell/Widgets.h"

#include <QEnterEvent>
#include <QMetaObject>

namespace quorvel {

void TCloseUpComboBox::hidePopup() {
  QComboBox::hidePopup();
  QMetaObject::invokeMethod(this, [this] { emit closedUp(); }, Qt::QueuedConnection);
}

TImageButton::TImageButton(QWidget* AParent) : QPushButton(AParent) {
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setProperty("imageButton", true);
}

void TImageButton::SetImages(const QPixmap& ANormal, const QPixmap& AOver) {
  FNormal = ANormal;
  FOver = AOver;
  if (!FNormal.isNull()) {
    setIconSize(FNormal.deviceIndependentSize().toSize());
    setFixedSize(FNormal.deviceIndependentSize().toSize() + QSize(4, 4));
  }
  ShowImage();
}

void TImageButton::enterEvent(QEnterEvent* AEvent) {
  FHover = true;
  ShowImage();
  QPushButton::enterEvent(AEvent);
}

void TImageButton::leaveEvent(QEvent* AEvent) {
  FHover = false;
  ShowImage();
  QPushButton::leaveEvent(AEvent);
}

void TImageButton::changeEvent(QEvent* AEvent) {
  if (AEvent->type() == QEvent::EnabledChange) ShowImage();
  QPushButton::changeEvent(AEvent);
}

void TImageButton::ShowImage() {
  const QPixmap& pm = (FHover && isEnabled() && !FOver.isNull()) ? FOver : FNormal;
  setIcon(QIcon(pm));
}

}  // namespace quorvel
