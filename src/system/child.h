// A program this one starts and never leaves behind.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvarin::system {

// The child starts clean: in a session (so a process group) of its own, with
// no terminal to prompt on; every signal at its default action and none
// blocked; no descriptor of ours but standard input (/dev/null), output and
// error; and, on Linux, ended by the kernel should this process die first.
// Whatever is left of its group when it ends, or when the Child goes, is
// ended with it.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { End(); }

  // Runs argv[0] (looked up on PATH when it holds no slash) with
  // `environment`; 0, or the error that kept it from starting.
  int Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int output, int error);

  // The wait status once the child has ended (its group ended too); nothing
  // while it runs.
  std::optional<int> Ended();

  // Ends the child and its group at once, and reaps it.
  void End();

 private:
  void Reap();
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace kelvarin::system
