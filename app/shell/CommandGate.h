// Holds the main window's commands back while the window runs a step that
// serves the event loop inside itself (adding many files: the probing thread
// works while the window is redrawn and the progress dialog can cancel it).
// Without it that loop would run Convert, Trim, Clear or a second add in the
// middle of the first. While held:
// - the user's input to the main window (mouse, keys, wheel, drops,
//   shortcuts, context menus) is refused; other windows (the progress
//   dialog, message boxes) get theirs;
// - work handed in from outside (a later start's files) waits and runs once
//   the hold ends, in the order it came;
// - closing the window is let through and marks the window Closing(), which
//   the held step reads to give up at once.
//
// Owner: the user-interface thread.
#pragma once

#include <QObject>

#include <functional>
#include <vector>

class QWidget;

namespace quorvel {

class TCommandGate : public QObject {
  Q_OBJECT
public:
  explicit TCommandGate(QWidget& AWindow);
  ~TCommandGate() override;

  // Held from construction to destruction; holds nest.
  class THold {
  public:
    explicit THold(TCommandGate& AGate);
    ~THold();
    THold(const THold&) = delete;
    THold& operator=(const THold&) = delete;

  private:
    TCommandGate& FGate;
  };

  bool Held() const { return FHolds > 0; }
  // Runs AWork now when nothing holds the gate, otherwise once the last hold
  // ends (not after the window closed).
  void RunWhenFree(std::function<void()> AWork);

  // The window is closing: a held step stops, and deferred work is dropped.
  void SetClosing();
  bool Closing() const { return FClosing; }

protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
  void Release();

  QWidget& FWindow;
  int FHolds = 0;
  bool FClosing = false;
  std::vector<std::function<void()>> FDeferred;
};

}  // namespace quorvel
