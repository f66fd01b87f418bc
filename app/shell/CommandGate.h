// Holds a window's commands back while the window runs a step that serves
// the event loop inside itself: adding many files (the probing thread works
// while the window is redrawn and the progress dialog can cancel it), or a
// dialog waiting for its player (a stop, a seek, an open). Without it that
// loop would run a command in the middle of the step: Convert, Trim, Clear
// or a second add during an add; OK saving a point about to be settled, or
// Play opening a file the closing dialog is stopping. While held:
// - commands handed to RunWhenFree (button clicks, a later start's files)
//   wait and run once the last hold has ended and the step that held has
//   returned, in the order they came;
// - with a filtered window, the user's input to it (mouse, keys, wheel,
//   drops, shortcuts, context menus) is refused; other windows (the progress
//   dialog, message boxes) get theirs;
// - closing is let through: SetClosing marks the gate Closing(), which the
//   held step reads to give up at once, and drops what waits.
//
// Owner: the user-interface thread.
#pragma once

#include <QEvent>
#include <QObject>

#include <functional>
#include <vector>

class QWidget;

namespace quorvel {

// What a user does to a window (mouse, keys, wheel, touch, drops, context
// menus); everything else (paints, timers, the players' and the
// conversion's events) goes on while a gate holds.
bool IsUserInput(QEvent::Type AType);

class TCommandGate : public QObject {
  Q_OBJECT
public:
  // AParent owns the gate and runs the waiting commands through its event
  // queue; AFilteredWindow (may be null) is the window whose input a hold
  // refuses.
  explicit TCommandGate(QObject* AParent, QWidget* AFilteredWindow = nullptr);
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
  // ends (not after SetClosing nor a Drop).
  void RunWhenFree(std::function<void()> AWork);
  // Forgets the commands that wait.
  void Drop() { FDeferred.clear(); }

  // The window is closing: a held step stops, and waiting work is dropped.
  void SetClosing();
  bool Closing() const { return FClosing; }

protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
  void Release();
  void RunDeferred();

  QWidget* FFilteredWindow;
  int FHolds = 0;
  bool FClosing = false;
  std::vector<std::function<void()>> FDeferred;
};

}  // namespace quorvel
