// The user's commands of a window that waits for its player while serving
// window events (a stop, a seek, an open). A click that arrives during such
// a wait would run in the middle of the operation that waits: OK saving a
// point that is about to be settled, Play opening a file the closing dialog
// is stopping. Here a command that arrives during a wait is kept and runs
// once the wait is over (after the operation that waited has returned), or
// not at all when the window drops it (closing).
//
// Owner: the user-interface thread.
#pragma once

#include <functional>
#include <vector>

class QObject;

namespace quorvel {

class TCommandGate {
public:
  // Kept commands run through AContext's event queue.
  explicit TCommandGate(QObject* AContext) : FContext(AContext) {}

  // Runs ACommand now, or keeps it for the end of the current wait.
  void Run(std::function<void()> ACommand);
  // A wait is running: input that cannot be kept for later is refused.
  bool Waiting() const { return FWaits > 0; }
  // Forgets the kept commands.
  void Drop() { FKept.clear(); }

  // A wait of the window, for as long as this lives (waits may nest).
  class TWait {
  public:
    explicit TWait(TCommandGate& AGate) : FGate(AGate) { ++FGate.FWaits; }
    ~TWait() { FGate.Ended(); }
    TWait(const TWait&) = delete;
    TWait& operator=(const TWait&) = delete;

  private:
    TCommandGate& FGate;
  };

private:
  void Ended();
  void RunKept();

  QObject* FContext;
  int FWaits = 0;
  std::vector<std::function<void()>> FKept;
};

}  // namespace quorvel
