#include "ssh/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "core/text.h"
#include "ssh/askpass.h"
#include "system/child.h"
#include "system/interrupt.h"
#include "system/io.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace kelvarin::ssh {
namespace {

using system::Clock;

// A character of a name as a reason shows it.
std::string Shown(std::string_view character) {
  if (character == " ") return "a blank";
  if (character.size() == 1 &&
      (static_cast<unsigned char>(character[0]) < 0x20 || character[0] == '\x7F')) {
    return "a control character";
  }
  std::string quoted = "\"";
  quoted.append(character).push_back('"');
  return quoted;
}

// Letters of any alphabet, digits and `extra`: nothing a shell or ssh's
// configuration reads as syntax. The first character that is not, or nothing.
std::optional<std::string> FirstForeign(std::string_view name, std::string_view extra) {
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t from = at;
    const auto c = NextUtf8(name, at);
    const bool ascii = c && *c < 0x80;
    const auto ch = static_cast<char>(ascii ? *c : 0);
    const bool fine = ascii
                          ? (AsciiUpper(ch) >= 'A' && AsciiUpper(ch) <= 'Z') ||
                                (ch >= '0' && ch <= '9') || extra.find(ch) != std::string_view::npos
                          : c && !IsBlankedInFact(*c);
    if (!fine) return Shown(name.substr(from, at - from));
  }
  return std::nullopt;
}

// A DNS name or ssh alias, or an IP address (IPv6 with an optional %zone).
std::optional<std::string> HostProblem(std::string_view host) {
  if (host.find(':') != std::string_view::npos) {
    const std::size_t percent = host.find('%');
    const std::string address(host.substr(0, percent));
    in6_addr parsed{};
    const std::string_view zone =
        percent == std::string_view::npos ? "x" : host.substr(percent + 1);
    if (::inet_pton(AF_INET6, address.c_str(), &parsed) != 1 || zone.empty() ||
        FirstForeign(zone, "._-")) {
      std::string reason = "\"";
      return reason.append(host).append("\" is no IPv6 address");
    }
    return std::nullopt;
  }
  if (host.starts_with('-') || host.starts_with('.')) {
    return "a host name may not start with \"" + std::string(host.substr(0, 1)) + "\"";
  }
  if (const auto foreign = FirstForeign(host, ".-_")) {
    return "the host name holds " + *foreign + ", which ssh or a shell could read as syntax";
  }
  return std::nullopt;
}

// A name, or a name and its domain with "@" or "\" between them.
std::optional<std::string> UserProblem(std::string_view user) {
  const std::string quoted = "the user name \"" + std::string(user) + "\"";
  if (user.starts_with('-')) return quoted + " starts with \"-\"";
  const std::size_t split = user.find_first_of("@\\");
  const std::string_view name = user.substr(0, split);
  const std::string_view domain = split == std::string_view::npos ? "x" : user.substr(split + 1);
  if (name.empty() || domain.empty()) return quoted + " lacks a name or a domain";
  for (const std::string_view part : {name, domain}) {
    if (const auto foreign = FirstForeign(part, "._-")) {
      return quoted + " holds " + *foreign + ", which ssh or a shell could read as syntax";
    }
  }
  return std::nullopt;
}

std::vector<std::string> SshArguments(const Settings& settings, const Login& login,
                                      std::string_view script) {
  std::vector<std::string> args = {"-T", "-n", "-o", "ConnectTimeout=10"};
  if (login.password.empty()) args.insert(args.end(), {"-o", "BatchMode=yes"});
  if (!login.user.empty()) args.insert(args.end(), {"-l", std::string(login.user)});
  if (login.authority.starts_with("Kerberos:")) {
    args.insert(args.end(), {"-o", "GSSAPIAuthentication=yes", "-o",
                             "PreferredAuthentications=gssapi-with-mic"});
  }
  std::string remote = settings.become.empty() ? "" : settings.become + " -n ";
  remote.append("sh -c '").append(script).append("'");
  args.emplace_back("--");
  args.emplace_back(login.host);
  args.push_back(std::move(remote));
  if (settings.command.empty()) {
    args.insert(args.begin(), "ssh");
  } else {
    // As git runs GIT_SSH_COMMAND: the shell reads the user's text, and our
    // arguments reach the command as arguments, never as text for the shell.
    args.insert(args.begin(), {"/bin/sh", "-c", settings.command + " \"$@\"", "kelvarin-ssh"});
  }
  return args;
}

// This process's environment for ssh, without a helper of the user's own:
// ssh gets ours, or none.
std::vector<std::string> SshEnvironment(bool withHelper) {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text = *variable;
    if (!text.starts_with("SSH_ASKPASS=") && !text.starts_with("SSH_ASKPASS_REQUIRE=")) {
      environment.emplace_back(text);
    }
  }
  if (withHelper) {
    environment.push_back("SSH_ASKPASS=" + AskpassService::HelperPath());
    environment.emplace_back("SSH_ASKPASS_REQUIRE=force");
  }
  return environment;
}

// ssh's standard error, passed on a whole line at a time as reasons of the
// host. A line too long for one reason goes out cut, and its rest is passed
// over, however the pipe hands it in.
class Relay {
 public:
  Relay(Console& console, std::string_view host) : console_(console), host_(host) {}
  void Feed(std::string_view bytes) {
    pending_.append(bytes);
    for (std::size_t end = 0; (end = pending_.find('\n')) != std::string::npos;) {
      if (!skipping_) Line(std::string_view(pending_).substr(0, end));
      skipping_ = false;
      pending_.erase(0, end + 1);
    }
    if (skipping_) pending_.clear();
    if (pending_.size() >= kMaxReasonBytes) {
      Finish();
      skipping_ = true;
    }
  }
  void Finish() {
    if (!pending_.empty()) Line(pending_);
    pending_.clear();
  }

 private:
  void Line(std::string_view line) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    WriteReason(console_, host_, line);
  }
  Console& console_;
  std::string_view host_;
  std::string pending_;
  bool skipping_ = false;
};

// An error's description, untranslated: the C library's translation would
// bring its whole message-catalogue machinery into the static binary.
std::string Describe(int error) {
#ifdef __GLIBC__
  const char* text = ::strerrordesc_np(error);
  return text != nullptr ? text : "error " + std::to_string(error);
#else
  return std::strerror(error);
#endif
}

// Reads what is there now; false at the end or on an error.
bool ReadSome(int fd, std::string& into) {
  char buffer[16384];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0;
}

}  // namespace

Settings SettingsFromEnvironment() {
  Settings settings;
  const char* command = std::getenv("KELVARIN_SSH_COMMAND");
  if (command != nullptr &&
      std::string_view(command).find_first_not_of(" \t\n") != std::string_view::npos) {
    settings.command = command;
  }
  const char* become = std::getenv("KELVARIN_SSH_BECOME");
  if (become != nullptr) settings.become = become;
  return settings;
}

std::optional<Refusal> Refuse(const Settings& settings, const Login& login) {
  if (!settings.become.empty() && settings.become != "sudo" && settings.become != "doas") {
    return Refusal{ExitCode::UsageError, "KELVARIN_SSH_BECOME is \"" + settings.become +
                                             "\"; it may be sudo, doas or empty"};
  }
  if (login.authority.starts_with("NTLMDomain:")) {
    return Refusal{ExitCode::Failure, "NTLM (/L) has no SSH form"};
  }
  auto problem = HostProblem(login.host);
  if (!problem && !login.user.empty()) problem = UserProblem(login.user);
  if (problem) return Refusal{ExitCode::Failure, "refused before ssh ran: " + *problem};
  return std::nullopt;
}

bool Fetch(const Settings& settings, const Login& login, std::string_view script, std::size_t limit,
           const AnswerReader& read, Console& console) {
  const auto fail = [&](std::string_view reason) {
    WriteReason(console, login.host, reason);
    return false;
  };
  if (const auto refusal = Refuse(settings, login)) return fail(refusal->reason);
  const auto end = Clock::now() + settings.deadline;
  // First, so that it ends this process only once the rest is cleaned up.
  const system::InterruptScope interrupts;
  // The password, once, and only to a prompt that asks for a password.
  std::optional<AskpassService> askpass;
  if (!login.password.empty()) {
    askpass.emplace(
        [password = std::string(login.password), served = false](std::string_view prompt) mutable {
          if (served || !IsPasswordPrompt(prompt)) return std::optional<std::string>();
          served = true;
          return std::optional<std::string>(password);
        });
    if (const int error = askpass->Open()) {
      return fail("could not open the password helper's socket: " + Describe(error));
    }
  }
  auto out = system::MakePipe();
  auto err = system::MakePipe();
  if (!out || !err) return fail("could not make a pipe: " + Describe(errno));
  const auto argv = SshArguments(settings, login, script);
  system::Child ssh;
  if (const int error = ssh.Start(argv, SshEnvironment(askpass.has_value()), out->write.Get(),
                                  err->write.Get())) {
    return fail("could not start " + argv[0] + ": " + Describe(error));
  }
  out->write.Reset();
  err->write.Reset();

  Relay relay(console, login.host);
  std::string answer, errors;
  std::optional<int> status;
  while (!status && !interrupts.Interrupted()) {
    pollfd waits[] = {{out->read.Get(), POLLIN, 0},
                      {err->read.Get(), POLLIN, 0},
                      {askpass ? askpass->Listener() : -1, POLLIN, 0},
                      {interrupts.WakeFd(), POLLIN, 0}};
    // Once ssh's output has ended, its exit is awaited a few milliseconds at a time.
    const int wait = std::min(system::MillisecondsLeft(end), out->read ? 60000 : 5);
    // A poll that fails (an interruption) tells nothing; the deadline still holds.
    (void)::poll(waits, 4, wait);
    if (waits[2].revents != 0) askpass->Serve(end);
    if (waits[1].revents != 0) {
      if (!ReadSome(err->read.Get(), errors)) err->read.Reset();
      relay.Feed(errors);
      errors.clear();
    }
    if (waits[0].revents != 0 && !ReadSome(out->read.Get(), answer)) out->read.Reset();
    if (answer.size() > limit) return fail("the answer passed " + std::to_string(limit) + " bytes");
    if (!out->read) status = ssh.Ended();
    if (!status && Clock::now() >= end) {
      relay.Finish();
      return fail(
          "no answer within " +
          std::to_string(std::chrono::ceil<std::chrono::seconds>(settings.deadline).count()) +
          " s");
    }
  }
  if (interrupts.Interrupted()) return false;
  // What ssh wrote last, though something it left may hold the pipe open.
  if (err->read) {
    ::fcntl(err->read.Get(), F_SETFL, O_NONBLOCK);
    while (ReadSome(err->read.Get(), errors)) {
    }
    relay.Feed(errors);
  }
  relay.Finish();
  if (WIFSIGNALED(*status))
    return fail("ssh was ended by signal " + std::to_string(WTERMSIG(*status)));
  if (WEXITSTATUS(*status) != 0) {
    return fail("ssh exited with status " + std::to_string(WEXITSTATUS(*status)));
  }
  if (!read(answer)) return fail("the answer was malformed");
  return true;
}

}  // namespace kelvarin::ssh
