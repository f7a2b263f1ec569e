#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/text.h"
#include "wmi_standin/remote.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace kelvarin::wmi_standin {
namespace {

// The program installs no signal handler, so no call here returns EINTR.
using Clock = std::chrono::steady_clock;

constexpr std::string_view kHelperName = "kelvarin-askpass";
constexpr std::string_view kSocketName = "socket";
constexpr std::size_t kMaxPromptBytes = 4096;
constexpr std::size_t kMaxReplyBytes = 65536;

int MillisecondsLeft(Clock::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60000));
}

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  [[nodiscard]] int Get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Up to `limit` bytes until the peer's end, or nothing past the limit or the time.
std::optional<std::string> ReadToEnd(int fd, std::size_t limit, Clock::time_point end) {
  std::string bytes;
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, MillisecondsLeft(end)) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 || bytes.size() + static_cast<std::size_t>(got) > limit) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

sockaddr_un SocketAddress(std::string_view path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path = path.substr(0, sizeof address.sun_path - 1);
  std::copy(path.begin(), path.end(), address.sun_path);
  return address;
}

// ssh's password helper: a private folder holding a link to this program by
// the helper's name, and the socket on which this run answers it. ssh closes
// every other descriptor and the program reads no environment, so the link's
// folder is how the helper finds its way back. The password is given once,
// and only for a password prompt: a host-key question is answered no.
class AskpassService {
 public:
  explicit AskpassService(std::string_view password) : password_(password) {
    char folder[] = "/tmp/kelvarin-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || ::symlink(self, HelperPath().c_str()) != 0) return;
    listener_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_un address = SocketAddress(folder_ + "/" + std::string(kSocketName));
    if (listener_.Get() < 0 ||
        ::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), 1) != 0) {
      listener_.Reset();
    }
  }
  AskpassService(const AskpassService&) = delete;
  AskpassService& operator=(const AskpassService&) = delete;
  ~AskpassService() {
    if (folder_.empty()) return;
    ::unlink((folder_ + "/" + std::string(kSocketName)).c_str());
    ::unlink(HelperPath().c_str());
    ::rmdir(folder_.c_str());
  }

  [[nodiscard]] int Listener() const { return listener_.Get(); }
  [[nodiscard]] std::string HelperPath() const { return folder_ + "/" + std::string(kHelperName); }

  // Answers one helper: "+" and the password, or nothing.
  void Serve(Clock::time_point end) {
    const Descriptor helper(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (helper.Get() < 0) return;
    const auto prompt = ReadToEnd(helper.Get(), kMaxPromptBytes, end);
    if (!prompt || served_) return;
    if (UpperCase(*prompt).find("PASSWORD") == std::string::npos) return;
    served_ = true;
    (void)WriteAll(helper.Get(), "+" + password_);
  }

 private:
  std::string password_;
  std::string folder_;
  Descriptor listener_;
  bool served_ = false;
};

std::vector<std::string> SshArguments(const RemoteLogin& login, std::string_view script) {
  std::vector<std::string> args = {"-T", "-n", "-o", "ConnectTimeout=10"};
  if (login.password.empty()) args.insert(args.end(), {"-o", "BatchMode=yes"});
  if (!login.user.empty()) args.insert(args.end(), {"-l", std::string(login.user)});
  if (login.authority.starts_with("Kerberos:")) {
    args.insert(args.end(), {"-o", "GSSAPIAuthentication=yes", "-o",
                             "PreferredAuthentications=gssapi-with-mic"});
  }
  // The command line gives the host upper-cased; names in ssh's configuration
  // match case by case and are written in lower case, as DNS names are shown.
  std::string host(login.host);
  std::ranges::transform(host, host.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  args.insert(args.end(), {"--", host, "sh -c '" + std::string(script) + "'"});
  return args;
}

// Pointers to the texts, then the null pointer that ends the list.
std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::optional<std::string> RunRemoteScript(const RemoteLogin& login, std::string_view script,
                                           std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  // NTLM is a Windows network login: ssh has nothing like it.
  if (login.authority.starts_with("NTLMDomain:")) return std::nullopt;
  std::vector<std::string> argv = SshArguments(login, script);
  // As git runs GIT_SSH_COMMAND: the shell reads the user's text, and our
  // arguments reach the command as arguments, never as text for the shell.
  const char* custom = std::getenv("KELVARIN_SSH_COMMAND");
  const bool viaShell = custom != nullptr && *custom != '\0';
  if (viaShell) {
    argv.insert(argv.begin(), {"/bin/sh", "-c", std::string(custom) + " \"$@\"", "kelvarin-ssh"});
  } else {
    argv.insert(argv.begin(), "ssh");
  }

  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text = *variable;
    if (!text.starts_with("SSH_ASKPASS=") && !text.starts_with("SSH_ASKPASS_REQUIRE=")) {
      environment.emplace_back(text);
    }
  }
  std::optional<AskpassService> askpass;
  if (!login.password.empty()) {
    askpass.emplace(login.password);
    if (askpass->Listener() < 0) return std::nullopt;
    environment.push_back("SSH_ASKPASS=" + askpass->HelperPath());
    environment.emplace_back("SSH_ASKPASS_REQUIRE=force");
  }

  int out[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  const Descriptor reader(out[0]);
  Descriptor writer(out[1]);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writer.Get(), STDOUT_FILENO);
  posix_spawnattr_init(&attributes);
  // A session of its own: no terminal to prompt on, and one group to end.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  auto args = Pointers(argv);
  auto env = Pointers(environment);
  pid_t pid = 0;
  const int spawned =
      viaShell ? ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), env.data())
               : ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  writer.Reset();
  if (spawned != 0) return std::nullopt;

  std::string output;
  bool ended = false;
  for (bool failed = false; !ended && !failed;) {
    pollfd waits[2] = {{reader.Get(), POLLIN, 0}, {askpass ? askpass->Listener() : -1, POLLIN, 0}};
    failed = ::poll(waits, 2, MillisecondsLeft(end)) <= 0;
    if (!failed && (waits[1].revents & POLLIN) != 0) askpass->Serve(end);
    if (failed || waits[0].revents == 0) continue;
    char buffer[16384];
    const ssize_t got = ::read(reader.Get(), buffer, sizeof buffer);
    ended = got == 0;
    failed = got < 0 || output.size() + static_cast<std::size_t>(got) > kMaxSnapshotBytes;
    if (got > 0 && !failed) output.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  pid_t reaped = 0;
  while (ended && (reaped = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < end) {
    ::usleep(1000);
  }
  if (reaped != pid) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

bool IsAskpassHelper(const char* argv0) {
  const std::string_view path = argv0 != nullptr ? argv0 : "";
  return path.substr(path.rfind('/') + 1) == kHelperName;
}

int RunAskpassHelper(const char* argv0, const char* prompt) {
  const std::string_view self = argv0;
  const std::string socketPath =
      std::string(self.substr(0, self.rfind('/') + 1)).append(kSocketName);
  const Descriptor server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_un address = SocketAddress(socketPath);
  if (server.Get() < 0 ||
      ::connect(server.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      !WriteAll(server.Get(), prompt != nullptr ? prompt : "") ||
      ::shutdown(server.Get(), SHUT_WR) != 0) {
    return 1;
  }
  const auto reply = ReadToEnd(server.Get(), kMaxReplyBytes, Clock::now() + kRemoteDeadline);
  if (!reply || !reply->starts_with("+")) return 1;
  return WriteAll(STDOUT_FILENO, reply->substr(1) + "\n") ? 0 : 1;
}

}  // namespace kelvarin::wmi_standin
