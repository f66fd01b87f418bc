#include "app/preview/PlayerScreen.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>

namespace quorvel {

TPlayerScreen::TPlayerScreen(QWidget* AParent) : QWidget(AParent) {
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_PaintOnScreen);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::ClickFocus);
}

unsigned long TPlayerScreen::NativeWindowId() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return 0;
  return static_cast<unsigned long>(winId());
}

void TPlayerScreen::ClientSize(int& AWidth, int& AHeight) {
  AWidth = width();
  AHeight = height();
}

void TPlayerScreen::Attach(TScreenClient* AClient) { FClient = AClient; }

void TPlayerScreen::Exposed() {
  if (TScreenClient* client = FClient.load()) client->ScreenExposed();
}

void TPlayerScreen::paintEvent(QPaintEvent*) { Exposed(); }

void TPlayerScreen::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  // Hiding the window lost the picture.
  Exposed();
}

void TPlayerScreen::mousePressEvent(QMouseEvent* AEvent) {
  setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(AEvent);
}

void TPlayerScreen::closeEvent(QCloseEvent* AEvent) {
  if (Attached())
    AEvent->ignore();
  else
    QWidget::closeEvent(AEvent);
}

}  // namespace quorvel
