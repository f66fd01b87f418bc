#include "media/runtime/MainThread.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel {

namespace {

// One queued call. Done and Error are written by the main thread under
// TMainThreadState::Lock and read by the waiting caller under it.
struct TQueuedCall {
  std::function<void()> Call;
  bool Done = false;
  std::exception_ptr Error;
};

struct TMainThreadState {
  // Guards Installed, MainID and Queue. Never held while a call runs.
  std::mutex Lock;
  std::condition_variable CallDone;  // signalled (under Lock) when a queued call finished
  bool Installed = false;
  std::thread::id MainID;
  std::deque<std::shared_ptr<TQueuedCall>> Queue;
  // The conditions the main thread's waits (WaitServing, nested when a
  // served call waits again) sleep on; a newly queued call notifies them.
  // Guarded by Lock; an entry lives as long as its wait.
  std::vector<std::condition_variable*> Waiters;

  // Guards Host. WakeUp runs under it so that uninstalling cannot free the
  // host under a waker's feet; it is never held while a call runs.
  std::mutex HostLock;
  TMainThreadHost* Host = nullptr;
};

TMainThreadState& State() {
  static TMainThreadState state;
  return state;
}

// Runs a queued call and hands its outcome to the waiting caller. The main
// thread lets go of the call under the lock, before the caller can see it
// done, so the caller always holds the last reference: the call and its
// exception are freed on the caller's side.
void RunQueued(TMainThreadState& s, std::shared_ptr<TQueuedCall> item) {
  std::exception_ptr error;
  try {
    item->Call();
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    item->Error = std::move(error);
    item->Done = true;
    item.reset();
  }
  s.CallDone.notify_all();
}

// Takes the oldest queued call, or none.
std::shared_ptr<TQueuedCall> PopCall(TMainThreadState& s) {
  std::lock_guard<std::mutex> lock(s.Lock);
  if (s.Queue.empty()) return nullptr;
  std::shared_ptr<TQueuedCall> item = std::move(s.Queue.front());
  s.Queue.pop_front();
  return item;
}

}  // namespace

void InstallMainThread(TMainThreadHost* AHost) {
  TMainThreadState& s = State();
  {
    std::lock_guard<std::mutex> hostLock(s.HostLock);
    s.Host = AHost;
  }
  bool pending;
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Installed = true;
    s.MainID = std::this_thread::get_id();
    pending = !s.Queue.empty();
  }
  // Calls queued for a previous main thread are this one's now.
  if (pending && AHost) AHost->WakeUp();
}

void UninstallMainThread() {
  TMainThreadState& s = State();
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Installed = false;
    s.MainID = std::thread::id();
  }
  {
    std::lock_guard<std::mutex> hostLock(s.HostLock);
    s.Host = nullptr;
  }
  // Nothing is queued any more once Installed is false (callers then run
  // their calls themselves), so draining what is there now leaves no caller
  // waiting.
  while (std::shared_ptr<TQueuedCall> item = PopCall(s)) RunQueued(s, std::move(item));
}

bool IsMainThread() {
  TMainThreadState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  return s.Installed && s.MainID == std::this_thread::get_id();
}

void CallInMainThread(const std::function<void()>& ACall) {
  TMainThreadState& s = State();
  auto item = std::make_shared<TQueuedCall>();
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    if (s.Installed && s.MainID != std::this_thread::get_id()) {
      item->Call = ACall;
      s.Queue.push_back(item);
      for (std::condition_variable* waiter : s.Waiters) waiter->notify_all();
    } else {
      item.reset();
    }
  }
  if (!item) {
    ACall();
    return;
  }
  {
    std::lock_guard<std::mutex> hostLock(s.HostLock);
    if (s.Host) s.Host->WakeUp();
  }
  std::unique_lock<std::mutex> lock(s.Lock);
  s.CallDone.wait(lock, [&] { return item->Done; });
  if (item->Error) {
    std::exception_ptr error = item->Error;
    lock.unlock();
    std::rethrow_exception(error);
  }
}

void ProcessMainThreadCalls() {
  if (!IsMainThread()) return;
  TMainThreadState& s = State();
  while (std::shared_ptr<TQueuedCall> item = PopCall(s)) RunQueued(s, std::move(item));
}

namespace {

void PumpHostEvents() {
  TMainThreadHost* host;
  {
    std::lock_guard<std::mutex> hostLock(State().HostLock);
    host = State().Host;
  }
  // Not under HostLock: the pump runs arbitrary handlers, which may even
  // uninstall the main thread.
  if (host) host->PumpEvents();
}

bool HasQueuedCalls() {
  TMainThreadState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  return !s.Queue.empty();
}

// Registers a main-thread wait's condition for the time of the wait.
class TWaiterEntry {
public:
  explicit TWaiterEntry(std::condition_variable& ACondition) : FCondition(ACondition) {
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Waiters.push_back(&FCondition);
  }
  ~TWaiterEntry() {
    std::lock_guard<std::mutex> lock(State().Lock);
    std::vector<std::condition_variable*>& waiters = State().Waiters;
    waiters.erase(std::find(waiters.begin(), waiters.end(), &FCondition));
  }
  TWaiterEntry(const TWaiterEntry&) = delete;
  TWaiterEntry& operator=(const TWaiterEntry&) = delete;

private:
  std::condition_variable& FCondition;
};

}  // namespace

void ProcessMessages() {
  ProcessMainThreadCalls();
  if (IsMainThread()) PumpHostEvents();
}

void WaitServing(std::unique_lock<std::mutex>& ALock, std::condition_variable& ACondition,
                 const std::function<bool()>& ADone, TMainThreadWait AMode, const std::function<void()>& AStep) {
  constexpr auto kStep = std::chrono::milliseconds(20);
  if (!IsMainThread()) {
    if (!AStep) {
      ACondition.wait(ALock, ADone);
      return;
    }
    while (!ACondition.wait_for(ALock, kStep, ADone)) {
      ALock.unlock();
      AStep();
      ALock.lock();
    }
    return;
  }

  TWaiterEntry entry(ACondition);
  auto nextStep = std::chrono::steady_clock::now() + kStep;
  while (!ADone()) {
    ALock.unlock();
    ProcessMainThreadCalls();
    if (AMode == TMainThreadWait::QueuedCallsAndEvents) PumpHostEvents();
    if (AStep && std::chrono::steady_clock::now() >= nextStep) {
      AStep();
      nextStep = std::chrono::steady_clock::now() + kStep;
    }
    ALock.lock();
    if (ADone()) break;
    // A call queued after the calls above ran: serve it before sleeping. One
    // queued between this look and the sleep notifies too early to be seen;
    // the step's time-out bounds that delay.
    if (HasQueuedCalls()) continue;
    ACondition.wait_for(ALock, kStep);
  }
}

}  // namespace quorvel
