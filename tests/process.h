// Runs the real executables as a script would: the Linux binary, in a private
// mount namespace when it must see chosen firmware, and the Windows one under
// Wine. KELVARIN_BIN and KELVARIN_WINE_PREFIX_SCRIPT come from the build.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kelvarin::testing {

using Env = std::vector<std::pair<std::string, std::string>>;  // an empty value unsets

// BrokenPipe: nobody reads it. NearlyFull: a non-blocking pipe with 8 bytes
// free, read only after a while.
enum class Output { Captured, Closed, BrokenPipe, DevFull, NearlyFull };
constexpr std::size_t kNearlyFull = 65536 - 8;

struct Outcome {
  int code = -1;  // the exit code, or minus the signal that killed the process
  std::string out, err;
  double seconds = 0;
  [[nodiscard]] std::string Describe() const {
    return "exit " + std::to_string(code) + " after " + std::to_string(seconds) + " s: " + err;
  }
};

// argv[0] is looked up on PATH; stdin is /dev/null; SIGPIPE has its default
// action. A process still running after two minutes is killed with its group.
inline Outcome RunProcess(const std::vector<std::string>& argv, Output output = Output::Captured,
                          const Env& changes = {}) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  for (const auto& [name, value] : changes) {
    std::erase_if(env, [&](const std::string& e) { return e.starts_with(name + "="); });
    if (!value.empty()) env.push_back(name + "=" + value);
  }
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);

  Outcome outcome;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return outcome;
  const bool captured = output == Output::Captured || output == Output::NearlyFull;
  if (!captured) ::close(out[0]);  // before the child can write
  if (output == Output::NearlyFull) {
    ::fcntl(out[1], F_SETFL, O_NONBLOCK);
    const std::string filler(kNearlyFull, 'x');
    for (std::size_t put = 0; put < kNearlyFull;) {
      put += static_cast<std::size_t>(
          std::max<ssize_t>(0, ::write(out[1], &filler[put], kNearlyFull - put)));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    if (output == Output::Closed) ::close(1);
    if (output == Output::DevFull) ::dup2(::open("/dev/full", O_WRONLY | O_CLOEXEC), 1);
    if (output != Output::Closed && output != Output::DevFull) ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (output == Output::NearlyFull) ::usleep(300000);  // the child meets a full pipe first
  int fds[2] = {captured ? out[0] : -1, err[0]};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  for (const int fd : fds) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  int status = 0;
  for (bool done = false; !done;) {
    // Once the process is gone its output is all in the pipes; a helper it
    // started (the Wine server) may keep them open, so do not wait for EOF.
    done = ::waitpid(pid, &status, WNOHANG) == pid;
    pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    ::poll(polled, 2, done ? 0 : 10);
    for (int i = 0; i < 2; ++i) {
      char buffer[4096];
      ssize_t n = -1;
      while (fds[i] >= 0 && (n = ::read(fds[i], buffer, sizeof buffer)) > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      }
      if (n == 0) ::close(std::exchange(fds[i], -1));
    }
    if (!done && std::chrono::steady_clock::now() - start > std::chrono::minutes(2)) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      done = true;
    }
  }
  for (const int fd : fds) ::close(fd);
  if (output == Output::NearlyFull) outcome.out.erase(0, kNearlyFull);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return outcome;
}

// Why `sysRoot` cannot be laid over /sys in a private mount namespace, if so.
inline std::optional<std::string> NamespaceUnavailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    if (::geteuid() != 0) return "needs root for a private mount namespace";
    const Outcome probe = RunProcess(
        {"unshare", "-m", "sh", "-c", "mount -t tmpfs none /sys/firmware && command -v setpriv"});
    if (probe.code != 0) return "no private mount namespace with setpriv: " + probe.Describe();
    return std::nullopt;
  }();
  return reason;
}

// The Linux binary with sysRoot's firmware/ and class/ as /sys/firmware and
// /sys/class; `asUser` runs it as nobody, as a user without root would.
inline Outcome RunInNamespace(const std::filesystem::path& sysRoot,
                              const std::vector<std::string>& args, bool asUser = false) {
  const char* script =
      "set -e; for d in firmware class; do mount -t tmpfs none /sys/$d;"
      " [ ! -d \"$1/$d\" ] || cp -r \"$1/$d/.\" /sys/$d/; done; shift; exec \"$@\"";
  std::vector<std::string> argv{"unshare", "-m", "sh", "-c", script, "sh", sysRoot};
  if (asUser)
    argv.insert(argv.end(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  argv.push_back(KELVARIN_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

// Quiet 64-bit Wine in `prefix`, set up once per process by the project's
// script; nothing when the files given or Wine are missing, else the reason.
inline Env WineEnv(const std::string& prefix) {
  return {{"WINEPREFIX", prefix}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="},
          {"WINEARCH", "win64"},  {"DISPLAY", ""},       {"WAYLAND_DISPLAY", ""}};
}
inline std::optional<std::string> WineUnavailable(const std::string& prefix,
                                                  const std::vector<std::string>& files) {
  for (const auto& file : files) {
    if (!std::filesystem::is_regular_file(file))
      return "no such file: '" + file + "' (configure with the Windows build)";
  }
  if (RunProcess({"sh", "-c", "command -v wine"}).code != 0) return "wine is not on PATH";
  static std::map<std::string, std::string> failures;
  if (!failures.contains(prefix)) {
    const Outcome setup = RunProcess({"sh", KELVARIN_WINE_PREFIX_SCRIPT, prefix});
    failures[prefix] = setup.code == 0 ? "" : "setting up " + prefix + ": " + setup.Describe();
  }
  if (!failures[prefix].empty()) return failures[prefix];
  return std::nullopt;
}

// "a b c" as {"a", "b", "c"}.
inline std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace kelvarin::testing
