// Ctrl-C, SIGTERM and SIGHUP while the program holds something that must not
// outlive it (a child, a terminal without echo).
#pragma once

#include <csignal>

namespace kelvarin::system {

// While a scope lives, SIGINT, SIGTERM and SIGHUP are noted instead of ending
// the process, and WakeFd() becomes readable, so that a poll loop sees them.
// When the scope ends, after everything declared after it has been cleaned up,
// a noted signal is raised again with its default action: the process ends as
// that signal ends it (a shell sees 130 for Ctrl-C). A signal ignored when the
// scope begins (a background job's SIGINT) stays ignored. Scopes do not nest.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  [[nodiscard]] int WakeFd() const;
  [[nodiscard]] bool Interrupted() const;

 private:
  struct sigaction previous_[3] = {};
};

}  // namespace kelvarin::system
