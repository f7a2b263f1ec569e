// Another machine's firmware over OpenSSH: the system's ssh client, or the
// command line in KELVARIN_SSH_COMMAND, runs one line of sh there.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "wmi_standin/snapshot.h"

namespace kelvarin::wmi_standin {

// How ssh logs in: the user (empty: as ssh's configuration says), the
// password (empty: none, and ssh runs in batch mode), and the authority of
// the connection ("Kerberos:" asks for GSSAPI only; NTLM has no SSH form).
struct RemoteLogin {
  std::string_view host;
  std::string_view user;
  std::string_view password;
  std::string_view authority;
};

inline constexpr std::chrono::milliseconds kRemoteDeadline{30000};

// The snapshot that `script` prints on the host, or nothing when ssh could
// not run it to its end, with exit status 0, within `deadline`. Then ssh and
// whatever it started are ended; ssh's messages go to standard error.
std::optional<std::string> RunRemoteScript(const RemoteLogin& login, std::string_view script,
                                           std::chrono::milliseconds deadline);

// Whether the program was started as the password helper that ssh runs
// (SSH_ASKPASS): by a link of that name.
bool IsAskpassHelper(const char* argv0);

// The helper's whole run: asks the waiting Kelvarin over the socket beside
// `argv0` for the answer to `prompt`, and prints it. Exit code 0 when
// answered.
int RunAskpassHelper(const char* argv0, const char* prompt);

}  // namespace kelvarin::wmi_standin
