#include "ssh/askpass.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>

#include "core/text.h"

namespace kelvarin::ssh {
namespace {

constexpr std::size_t kMaxPromptBytes = 4096;
constexpr std::size_t kMaxReplyBytes = 65536;
constexpr auto kHelperDeadline = std::chrono::seconds(30);

// "\0kelvarin-askpass-PID": in the abstract namespace, gone with the process.
struct Address {
  explicit Address(pid_t pid) {
    address.sun_family = AF_UNIX;
    const std::string name = "kelvarin-askpass-" + std::to_string(pid);
    name.copy(address.sun_path + 1, sizeof address.sun_path - 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  }
  [[nodiscard]] const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&address); }
  sockaddr_un address{};
  socklen_t length = 0;
};

// Who is at the other end of a local socket.
bool PeerIs(int fd, pid_t pid) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid() &&
         (pid == 0 || peer.pid == pid);
}

// The run's PID in "/proc/PID/exe"; 0 for any other name.
pid_t RunOf(std::string_view argv0) {
  constexpr std::string_view kStart = "/proc/";
  if (!argv0.starts_with(kStart)) return 0;
  argv0.remove_prefix(kStart.size());
  pid_t pid = 0;
  const auto [stop, error] = std::from_chars(argv0.data(), argv0.data() + argv0.size(), pid);
  const std::string_view rest(stop, static_cast<std::size_t>(argv0.data() + argv0.size() - stop));
  return error == std::errc() && rest == "/exe" && pid > 0 ? pid : 0;
}

}  // namespace

bool IsPasswordPrompt(std::string_view prompt) {
  const auto last = prompt.find_last_not_of(" \t\r\n");
  if (last == std::string_view::npos) return false;
  prompt = prompt.substr(0, last + 1);
  prompt.remove_prefix(prompt.rfind('\n') + 1);
  constexpr std::string_view kEnd = "password:";
  return prompt.size() >= kEnd.size() &&
         EqualsIgnoringAsciiCase(prompt.substr(prompt.size() - kEnd.size()), kEnd);
}

int AskpassService::Open() {
  listener_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const Address address(::getpid());
  if (!listener_ || ::bind(listener_.Get(), address.Get(), address.length) != 0 ||
      ::listen(listener_.Get(), 4) != 0) {
    const int failed = errno;
    listener_.Reset();
    return failed;
  }
  return 0;
}

std::string AskpassService::HelperPath() { return "/proc/" + std::to_string(::getpid()) + "/exe"; }

void AskpassService::Serve(system::Clock::time_point end) {
  const system::Descriptor helper(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!helper || !PeerIs(helper.Get(), 0)) return;
  const auto prompt = system::ReadToEnd(helper.Get(), kMaxPromptBytes, end);
  const auto answer = prompt ? answer_(*prompt) : std::nullopt;
  if (answer) (void)system::WriteAll(helper.Get(), "+" + *answer);
}

bool IsAskpassHelper(const char* argv0) { return argv0 != nullptr && RunOf(argv0) != 0; }

int RunAskpassHelper(const char* argv0, const char* prompt) {
  const pid_t run = RunOf(argv0);
  const system::Descriptor server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const Address address(run);
  if (!server || ::connect(server.Get(), address.Get(), address.length) != 0 ||
      !PeerIs(server.Get(), run) ||
      !system::WriteAll(server.Get(), prompt != nullptr ? prompt : "") ||
      ::shutdown(server.Get(), SHUT_WR) != 0) {
    return 1;
  }
  const auto reply =
      system::ReadToEnd(server.Get(), kMaxReplyBytes, system::Clock::now() + kHelperDeadline);
  if (!reply || !reply->starts_with("+")) return 1;
  return system::WriteAll(STDOUT_FILENO, reply->substr(1) + "\n") ? 0 : 1;
}

}  // namespace kelvarin::ssh
