#include "app/shell/QuitSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include <atomic>

namespace quorvel {

namespace {

// The write end for the handler. Signals are the process's, so this is too;
// the handler touches only it and write().
std::atomic<int> gQuitFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnQuitSignal(int) {
  const int fd = gQuitFd.load();
  const char byte = 1;
  if (fd >= 0) (void)!::write(fd, &byte, 1);
}

}  // namespace

TQuitSignals::TQuitSignals(QWidget& AWindow) : QObject(&AWindow), FWindow(AWindow) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, FFds) != 0) return;
  gQuitFd = FFds[0];
  FNotifier = new QSocketNotifier(FFds[1], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    (void)!::read(FFds[1], &byte, 1);
    FWindow.close();
  });
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(kSignals[i], &action, &FOld[i]);
  }
}

TQuitSignals::~TQuitSignals() {
  if (FFds[0] < 0) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &FOld[i], nullptr);
  gQuitFd = -1;
  ::close(FFds[0]);
  ::close(FFds[1]);
}

}  // namespace quorvel
