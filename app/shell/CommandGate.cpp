#include "app/shell/CommandGate.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

namespace quorvel {

namespace {

// What a user does to a window; everything else (paints, timers, the
// players' and the conversion's events) goes on.
bool IsUserInput(QEvent::Type AType) {
  switch (AType) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

TCommandGate::TCommandGate(QWidget& AWindow) : QObject(&AWindow), FWindow(AWindow) {}

TCommandGate::~TCommandGate() {
  if (FHolds > 0) qApp->removeEventFilter(this);
}

TCommandGate::THold::THold(TCommandGate& AGate) : FGate(AGate) {
  // The filter sits on the application, so that the window's menus, its
  // shortcuts and every child widget are covered.
  if (FGate.FHolds++ == 0) qApp->installEventFilter(&FGate);
}

TCommandGate::THold::~THold() { FGate.Release(); }

void TCommandGate::Release() {
  if (--FHolds > 0) return;
  qApp->removeEventFilter(this);
  // Work that waited runs after the step that held the gate has returned.
  while (FHolds == 0 && !FClosing && !FDeferred.empty()) {
    std::function<void()> work = std::move(FDeferred.front());
    FDeferred.erase(FDeferred.begin());
    work();
  }
}

void TCommandGate::RunWhenFree(std::function<void()> AWork) {
  if (FClosing) return;
  if (FHolds > 0) {
    FDeferred.push_back(std::move(AWork));
    return;
  }
  AWork();
}

void TCommandGate::SetClosing() {
  FClosing = true;
  FDeferred.clear();
}

bool TCommandGate::eventFilter(QObject* AWatched, QEvent* AEvent) {
  // A shortcut reaches its action, not a widget: none of the window's runs
  // while it is held.
  if (AEvent->type() == QEvent::Shortcut) return true;
  if (!IsUserInput(AEvent->type()) || !AWatched->isWidgetType()) return false;
  // The window's own widgets and its menus' pop-ups; dialogs (the progress
  // dialog, message boxes) are windows of their own and keep their input.
  QWidget* w = static_cast<QWidget*>(AWatched);
  for (QWidget* p = w; p; p = p->parentWidget()) {
    if (p == &FWindow) return true;
    if (p->isWindow() && !(p->windowType() == Qt::Popup)) return false;
  }
  return false;
}

}  // namespace quorvel
