// The window a player draws on, as the media code sees it. The application
// implements it with a widget (app/preview/); tests may implement it plainly.
// Like TMainThreadHost, it keeps the window toolkit out of media/.
#pragma once

namespace quorvel {

// What the host tells the player that is attached to it.
class TScreenClient {
public:
  // The window was exposed (shown again, uncovered): its picture must be
  // redrawn. Called on the window's thread (the main thread); must not block.
  virtual void ScreenExposed() = 0;

protected:
  ~TScreenClient() = default;
};

class TScreenHost {
public:
  virtual ~TScreenHost() = default;
  // The native window SDL may draw into (an X11 window id), or 0 when the
  // platform has none SDL can use (offscreen, Wayland): the player then plays
  // without a drawing surface. Main thread.
  virtual unsigned long NativeWindowId() = 0;
  // The window's client size in pixels. Main thread.
  virtual void ClientSize(int& AWidth, int& AHeight) = 0;
  // A playback starts on this window (a client) or ends (null). While a
  // client is attached the window does not close, takes the keyboard focus
  // on a click and reports exposures. Any thread; must not block.
  virtual void Attach(TScreenClient* AClient) = 0;
};

}  // namespace quorvel
