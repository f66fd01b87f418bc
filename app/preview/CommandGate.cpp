#include "app/preview/CommandGate.h"

#include <QMetaObject>
#include <QObject>

#include "app/report/ExceptionGuard.h"

namespace quorvel {

void TCommandGate::Run(std::function<void()> ACommand) {
  if (Waiting())
    FKept.push_back(std::move(ACommand));
  else
    ACommand();
}

void TCommandGate::Ended() {
  if (--FWaits > 0 || FKept.empty()) return;
  // Not from here: the operation that waited has not returned yet.
  QMetaObject::invokeMethod(FContext, [this] { RunKept(); }, Qt::QueuedConnection);
}

void TCommandGate::RunKept() {
  // What is still kept now: a Drop since the wait ended leaves nothing.
  std::vector<std::function<void()>> kept;
  kept.swap(FKept);
  // In their order; one that waits keeps those after it again.
  for (auto& command : kept) Run([c = std::move(command)] { RunGuarded(c); });
}

}  // namespace quorvel
