// Another machine over OpenSSH: the system's ssh client, or the command line
// in KELVARIN_SSH_COMMAND, runs one line of sh there and hands back what it
// printed. This knows ssh, not what the line does.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin::ssh {

struct Settings {
  // A shell command line run in place of ssh (as git runs GIT_SSH_COMMAND);
  // empty: ssh from PATH.
  std::string command;
  // "sudo" or "doas" runs the remote line with the rights that account's
  // sudo or doas grants without a password; empty: as the login itself.
  std::string become;
  // The whole exchange, after which ssh and what it started are ended.
  std::chrono::seconds deadline{30};
};

// KELVARIN_SSH_COMMAND (blanks alone count as unset) and KELVARIN_SSH_BECOME:
// the only environment the program reads.
Settings SettingsFromEnvironment();

// How ssh logs in: the host and the user as typed (the user empty: as ssh's
// configuration says), the password (empty: none, and ssh runs in batch
// mode), and the authority ("Kerberos:" asks for GSSAPI only; NTLM has no
// SSH form).
struct Login {
  std::string_view host;
  std::string_view user;
  std::string_view password;
  std::string_view authority;
};

// Why ssh must not be run for `login`, and how the run ends: a host or user
// name that ssh or a shell it starts could read as something else, or NTLM
// (Failure); a `become` that is neither sudo nor doas (UsageError). Nothing
// when ssh may run.
struct Refusal {
  ExitCode code;
  std::string reason;
};
std::optional<Refusal> Refuse(const Settings& settings, const Login& login);

// Reads the remote line's output; false when it is not what was asked for.
using AnswerReader = std::function<bool(std::string_view answer)>;

// Runs `script` on the host and hands what it printed, at most `limit` bytes,
// to `read`: true when ssh ran it to its end, with exit status 0, within the
// deadline, and `read` took the answer. Each line ssh writes to standard error, and the reason for
// any failure, goes to the console as a reason of the host. Ctrl-C, SIGTERM
// or SIGHUP meanwhile end ssh's group and then this process, by that signal.
bool Fetch(const Settings& settings, const Login& login, std::string_view script, std::size_t limit,
           const AnswerReader& read, Console& console);

}  // namespace kelvarin::ssh
