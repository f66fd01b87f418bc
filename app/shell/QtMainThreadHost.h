// The Qt side of the media components' main-thread call: a worker that must
// run something on the main thread queues it and wakes the main thread with a
// queued invocation; waits on the main thread pump Qt's events.
#pragma once

#include <QObject>

#include "media/runtime/MainThread.h"

namespace quorvel {

class QtMainThreadHost : public QObject, public TMainThreadHost {
  Q_OBJECT
public:
  QtMainThreadHost();
  ~QtMainThreadHost() override;
  void WakeUp() override;
  void PumpEvents() override;
};

}  // namespace quorvel
