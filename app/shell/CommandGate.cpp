#include "app/shell/CommandGate.h"

#include <QApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>

#include <utility>

#include "app/report/ExceptionGuard.h"

namespace quorvel {

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


TCommandGate::TCommandGate(QObject* AParent, QWidget* AFilteredWindow)
    : QObject(AParent), FFilteredWindow(AFilteredWindow) {}

TCommandGate::~TCommandGate() {
  if (FHolds > 0 && FFilteredWindow) qApp->removeEventFilter(this);
}

TCommandGate::THold::THold(TCommandGate& AGate) : FGate(AGate) {
  // The filter sits on the application, so that the window's menus, its
  // shortcuts and every child widget are covered.
  if (FGate.FHolds++ == 0 && FGate.FFilteredWindow) qApp->installEventFilter(&FGate);
}

TCommandGate::THold::~THold() { FGate.Release(); }

void TCommandGate::Release() {
  if (--FHolds > 0) return;
  if (FFilteredWindow) qApp->removeEventFilter(this);
  // Not from here: the step that held the gate has not returned yet.
  if (!FDeferred.empty()) QMetaObject::invokeMethod(this, [this] { RunDeferred(); }, Qt::QueuedConnection);
}

void TCommandGate::RunDeferred() {
  // What still waits now: a Drop or SetClosing since the hold ended leaves
  // nothing.
  std::vector<std::function<void()>> deferred;
  deferred.swap(FDeferred);
  // In their order; one that holds the gate again keeps those after it
  // waiting.
  for (auto& work : deferred) RunWhenFree([w = std::move(work)] { RunGuarded(w); });
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
    if (p == FFilteredWindow) return true;
    if (p->isWindow() && !(p->windowType() == Qt::Popup)) return false;
  }
  return false;
}

}  // namespace quorvel
