// The widget a player draws on: SDL embeds its surface into the widget's
// native X11 window, so Qt must neither paint it nor clear it. Also keeps the
// duties the host window has towards a playback: a click gives it the
// keyboard focus, it does not close while a playback runs, and an exposure
// (shown again, uncovered) asks the player to redraw.
#pragma once

#include <QWidget>
#include <atomic>

#include "media/player/ScreenHost.h"

namespace quorvel {

class TPlayerScreen : public QWidget, public TScreenHost {
  Q_OBJECT
public:
  explicit TPlayerScreen(QWidget* AParent = nullptr);

  // The native window id on X11 (Qt on "xcb"), else 0: SDL cannot embed
  // into anything else and the player then plays without a surface.
  unsigned long NativeWindowId() override;
  void ClientSize(int& AWidth, int& AHeight) override;
  void Attach(TScreenClient* AClient) override;
  bool Attached() const { return FClient.load() != nullptr; }

  // SDL paints here, not Qt.
  QPaintEngine* paintEngine() const override { return nullptr; }

protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;
  void mousePressEvent(QMouseEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;

private:
  void Exposed();

  // Set by the player from its threads, read on the main thread.
  std::atomic<TScreenClient*> FClient{nullptr};
};

}  // namespace quorvel
