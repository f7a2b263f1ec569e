// Running programs as a script would, for the tests that start the real
// executables: argv and environment exactly as given, standard input from
// /dev/null, standard output and error captured, a time limit, and the exit
// status as the operating system reports it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvarin::testing {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

enum class Output {
  Captured,    // a pipe that the test reads
  Closed,      // no descriptor 1 at all
  BrokenPipe,  // a pipe whose read end is already closed
};

inline const char* OutputName(Output output) {
  switch (output) {
    case Output::Captured:
      return "Captured";
    case Output::Closed:
      return "Closed";
    case Output::BrokenPipe:
      return "BrokenPipe";
  }
  return "?";
}

inline void PrintTo(Output output, std::ostream* os) { *os << OutputName(output); }

struct Outcome {
  bool started = false;
  bool timedOut = false;
  bool exited = false;  // false: killed by a signal (or never started)
  int exitCode = -1;
  int signal = 0;
  std::string out;
  std::string err;
  std::chrono::duration<double> elapsed{};

  [[nodiscard]] std::string Describe() const {
    std::ostringstream text;
    if (!started) return "the process could not be started";
    if (timedOut) text << "timed out and killed; ";
    if (exited) {
      text << "exit code " << exitCode;
    } else {
      text << "killed by signal " << signal;
    }
    text << " after " << elapsed.count() << " s";
    if (!err.empty()) text << "; stderr: " << err;
    return text.str();
  }
};

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Open() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

inline bool MakePipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read.Reset(fds[0]);
  pipe.write.Reset(fds[1]);
  return true;
}

// Reads what is there; closes the descriptor at end of file or on an error.
inline void ReadAvailable(Fd& fd, std::string& sink) {
  char buffer[4096];
  while (fd.Open()) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      sink.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    fd.Reset();
  }
}

// Starts argv[0] (a path) with exactly `env`, stdin from /dev/null, and
// collects its output until it ends or `timeout` passes; then the whole
// process group is killed. The child gets default signal dispositions, so a
// program that does not guard against SIGPIPE itself dies of it here too.
inline Outcome RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          Output output, Milliseconds timeout) {
  Outcome outcome;
  Pipe out;
  Pipe err;
  if (!MakePipe(out) || !MakePipe(err)) return outcome;
  if (output == Output::BrokenPipe) out.read.Reset();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output == Output::Closed) {
    posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out.write.Get(), STDOUT_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, err.write.Get(), STDERR_FILENO);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  posix_spawnattr_setsigmask(&attributes, &noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, to kill on timeout
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (const auto& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  const auto start = Clock::now();
  const int spawned = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  out.write.Reset();
  err.write.Reset();
  if (spawned != 0) return outcome;
  outcome.started = true;

  const auto deadline = start + timeout;
  int status = 0;
  for (;;) {
    pollfd fds[2];
    nfds_t count = 0;
    for (Fd* fd : {&out.read, &err.read}) {
      if (fd->Open()) fds[count++] = pollfd{fd->Get(), POLLIN, 0};
    }
    ::poll(count > 0 ? fds : nullptr, count, 10);
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      Fd& fd = fds[i].fd == out.read.Get() ? out.read : err.read;
      ::fcntl(fd.Get(), F_SETFL, O_NONBLOCK);
      ReadAvailable(fd, fds[i].fd == out.read.Get() ? outcome.out : outcome.err);
    }

    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      outcome.elapsed = Clock::now() - start;
      // Whatever the process wrote is in the pipes now. A helper it started
      // (the Wine server) may still hold the write ends, so do not wait for
      // end of file.
      for (Fd* fd : {&out.read, &err.read}) {
        if (!fd->Open()) continue;
        ::fcntl(fd->Get(), F_SETFL, O_NONBLOCK);
      }
      ReadAvailable(out.read, outcome.out);
      ReadAvailable(err.read, outcome.err);
      break;
    }
    if (Clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      outcome.elapsed = Clock::now() - start;
      outcome.timedOut = true;
      break;
    }
  }
  outcome.exited = WIFEXITED(status);
  if (outcome.exited) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

inline bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

inline bool IsFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

inline std::string FindOnPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const auto dir = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    if (dir.empty()) continue;
    std::string candidate = std::string(dir) + "/" + std::string(name);
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

inline std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    env.emplace_back(*entry);
  }
  return env;
}

// The environment with `changes` applied; an empty value removes the name.
inline std::vector<std::string> WithChanges(
    std::vector<std::string> env, const std::vector<std::pair<std::string, std::string>>& changes) {
  for (const auto& [name, value] : changes) {
    const std::string key = name + "=";
    std::erase_if(env, [&](const std::string& entry) { return entry.starts_with(key); });
    if (!value.empty()) env.push_back(key + value);
  }
  return env;
}

// Splits output into its CR LF lines. Returns nothing when the output is
// not made of whole CR LF lines (a bare CR or LF, or a last line without its
// ending).
inline std::optional<std::vector<std::string>> CrLfLines(std::string_view output) {
  std::vector<std::string> lines;
  while (!output.empty()) {
    const auto end = output.find("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    const auto line = output.substr(0, end);
    if (line.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    lines.emplace_back(line);
    output.remove_prefix(end + 2);
  }
  return lines;
}

// Control bytes and bytes outside ASCII made visible, for failure messages.
inline std::string Visible(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n\n";
    } else if (c == '\a') {
      text += "\\a";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

// Z: is the Unix root in a Wine prefix.
inline std::string WindowsPath(std::string_view unixPath) {
  std::string path = "Z:";
  for (const char c : unixPath) path += c == '/' ? '\\' : c;
  return path;
}

// The environment for Wine in `prefix`: quiet, 64-bit, no installer prompts
// and no windows on a developer's display.
inline std::vector<std::string> WineEnvironment(std::string prefix) {
  return WithChanges(CurrentEnvironment(), {{"WINEPREFIX", std::move(prefix)},
                                            {"WINEDEBUG", "-all"},
                                            {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                            {"WINEARCH", "win64"},
                                            {"DISPLAY", ""},
                                            {"WAYLAND_DISPLAY", ""}});
}

}  // namespace kelvarin::testing
