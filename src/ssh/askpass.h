// ssh's password helper (SSH_ASKPASS) is this program again: ssh runs it as
// /proc/PID/exe of the waiting run, which it asks over an abstract socket
// named after that PID. Nothing of it lies on disk, so nothing is left there
// however a run ends.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "system/descriptor.h"
#include "system/io.h"

namespace kelvarin::ssh {

// Whether `prompt` asks for a password: its last line ends in "password:"
// (in any case, blanks after it), as OpenSSH's "user@host's password: " and
// keyboard-interactive's "Password: " do. A question about a host key or a
// key's passphrase never does, whatever host or path it quotes.
bool IsPasswordPrompt(std::string_view prompt);

// The answer to a prompt, or nothing to refuse it.
using Answerer = std::function<std::optional<std::string>(std::string_view prompt)>;

class AskpassService {
 public:
  explicit AskpassService(Answerer answer) : answer_(std::move(answer)) {}
  // Listens; 0, or the error that kept it from listening.
  int Open();
  [[nodiscard]] int Listener() const { return listener_.Get(); }
  // What SSH_ASKPASS names.
  [[nodiscard]] static std::string HelperPath();
  // Answers the helper that is waiting: only one of this user's.
  void Serve(system::Clock::time_point end);

 private:
  Answerer answer_;
  system::Descriptor listener_;
};

// Whether the program was started as the helper: by the name HelperPath() gives.
bool IsAskpassHelper(const char* argv0);

// The helper's whole run: asks the run named in `argv0` for the answer to
// `prompt` and prints it. Exit code 0 when answered.
int RunAskpassHelper(const char* argv0, const char* prompt);

}  // namespace kelvarin::ssh
