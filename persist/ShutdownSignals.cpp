#include "persist/ShutdownSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
// Set by the first signal: the window has been, or is about to be, asked to close.
volatile sig_atomic_t g_pending = 0;

extern "C" void OnShutdownSignal(int sig) {
  if (g_pending) {
    // The window is closing already, or the GUI thread is stuck: end here.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  g_pending = 1;
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TShutdownSignals::TShutdownSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) { Install(); }

void TShutdownSignals::Install() {
  if (g_pipe[0] >= 0 || pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_pending = 0;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TShutdownSignals::Serve);

  struct sigaction action = {};
  action.sa_handler = OnShutdownSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  installed_ = true;
  for (int i = 0; i < 3; ++i)
    if (sigaction(kSignals[i], &action, &previous_[i]) != 0) installed_ = false;
}

TShutdownSignals::~TShutdownSignals() {
  if (g_pipe[0] < 0 || !notifier_) return;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  delete notifier_;
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void TShutdownSignals::Serve() {
  unsigned char bytes[16];
  int sig = 0;
  for (ssize_t n; (n = read(g_pipe[0], bytes, sizeof bytes)) > 0;) sig = bytes[n - 1];
  if (onSignal_ && sig != 0) onSignal_(sig);
}
