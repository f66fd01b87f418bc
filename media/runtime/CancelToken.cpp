#include "media/runtime/CancelToken.h"

#include <algorithm>

namespace quorvel {

TCancelToken::~TCancelToken() {
  SetParent(nullptr);
  // Children outliving their parent keep their own state and lose the link.
  std::vector<TCancelToken*> children;
  {
    std::lock_guard<std::mutex> lock(FLock);
    children.swap(FChildren);
  }
  for (TCancelToken* child : children) {
    std::lock_guard<std::mutex> lock(child->FLock);
    if (child->FParent == this) child->FParent = nullptr;
  }
}

void TCancelToken::Cancel() {
  {
    // Set under the lock: a WaitFor between its test and its sleep cannot
    // miss the wake-up. The children are cancelled under it too, so that
    // none is destroyed meanwhile (it detaches itself under this lock).
    // Lock order: a parent's lock before its children's; SetParent never
    // holds two.
    std::lock_guard<std::mutex> lock(FLock);
    FCancelled.store(true);
    for (TCancelToken* child : FChildren) child->Cancel();
  }
  FRaised.notify_all();
}

void TCancelToken::Reset() {
  TCancelToken* parent;
  {
    std::lock_guard<std::mutex> lock(FLock);
    parent = FParent;
  }
  const bool inherited = parent && parent->Cancelled();
  std::lock_guard<std::mutex> lock(FLock);
  FCancelled.store(inherited);
}

bool TCancelToken::WaitFor(std::chrono::steady_clock::duration ATimeout) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FRaised.wait_for(lock, ATimeout, [this] { return FCancelled.load(); });
}

void TCancelToken::SetParent(TCancelToken* AParent) {
  TCancelToken* old;
  {
    std::lock_guard<std::mutex> lock(FLock);
    old = FParent;
    FParent = AParent;
  }
  if (old == AParent) return;
  if (old) old->RemoveChild(this);
  if (AParent) {
    AParent->AddChild(this);
    // After the link: a Cancel of the parent either saw this child or
    // raised its flag before this test.
    if (AParent->Cancelled()) Cancel();
  }
}

void TCancelToken::AddChild(TCancelToken* AChild) {
  std::lock_guard<std::mutex> lock(FLock);
  FChildren.push_back(AChild);
}

void TCancelToken::RemoveChild(TCancelToken* AChild) {
  std::lock_guard<std::mutex> lock(FLock);
  FChildren.erase(std::remove(FChildren.begin(), FChildren.end(), AChild), FChildren.end());
}

}  // namespace quorvel
