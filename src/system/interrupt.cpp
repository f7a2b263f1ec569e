#include "system/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelvarin::system {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_caught = 0;
int g_wake[2] = {-1, -1};

extern "C" void Note(int signal) {
  const int saved = errno;
  if (g_caught == 0) g_caught = signal;
  (void)!::write(g_wake[1], "!", 1);
  errno = saved;
}

}  // namespace

InterruptScope::InterruptScope() {
  g_caught = 0;
  (void)::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK);
  struct sigaction note {};
  note.sa_handler = Note;
  note.sa_flags = SA_RESTART;
  sigfillset(&note.sa_mask);
  for (int i = 0; i < 3; ++i) {
    ::sigaction(kSignals[i], nullptr, &previous_[i]);
    if (previous_[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &note, nullptr);
  }
}

InterruptScope::~InterruptScope() {
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
  for (int& end : g_wake) {
    if (end >= 0) ::close(end);
    end = -1;
  }
  // Its action is the default again: no one ignores a signal this scope caught.
  if (g_caught != 0) ::raise(g_caught);
}

int InterruptScope::WakeFd() const { return g_wake[0]; }

bool InterruptScope::Interrupted() const { return g_caught != 0; }

}  // namespace kelvarin::system
