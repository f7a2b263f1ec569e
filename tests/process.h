// Runs the real executables as a script would: the Linux binary, in a private
// mount namespace when it must see chosen firmware, and the Windows one under
// Wine. KELVARIN_BIN and KELVARIN_TOOLS come from the build.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kelvarin::testing {

// BrokenPipe: nobody reads it. NearlyFull: a non-blocking pipe with 8 bytes
// free, read only after a while. SizeLimited: a file, under a file-size limit
// of 0. WithErrors: captured, standard error with it.
enum class Output { Captured, Closed, BrokenPipe, DevFull, NearlyFull, SizeLimited, WithErrors };
constexpr std::size_t kNearlyFull = 65536 - 8;

struct Outcome {
  int code = -1;  // the exit code, or minus the signal that killed the process
  std::string out;
  double seconds = 0;
};

// argv[0] is looked up on PATH; stdin is `input` (none: /dev/null), stderr is
// dropped, SIGPIPE and the signals that end a run have their default action
// (a background job of a shell ignores Ctrl-C). A process still running after
// `seconds` is killed.
inline Outcome RunProcess(std::vector<std::string> argv, Output output = Output::Captured,
                          int seconds = 30, const std::string& input = {}) {
  argv.insert(argv.begin(), {"timeout", "-s", "KILL", std::to_string(seconds)});
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  const bool read =
      output == Output::Captured || output == Output::NearlyFull || output == Output::WithErrors;
  if (!read) ::close(out[0]);
  const std::string filler(output == Output::NearlyFull ? kNearlyFull : 0, 'x');
  ::fcntl(out[1], F_SETFL, filler.empty() ? 0 : O_NONBLOCK);
  for (std::size_t put = 0; put < filler.size();) {
    put += static_cast<std::size_t>(::write(out[1], &filler[put], filler.size() - put));
  }
  int in[2] = {-1, -1};
  if (!input.empty() && ::pipe2(in, O_CLOEXEC) == 0) {
    (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
    ::dup2(::open("/dev/null", O_RDWR | O_CLOEXEC), 2);
    ::dup2(input.empty() ? 2 : in[0], 0);
    const rlimit none{};
    if (output == Output::SizeLimited) ::setrlimit(RLIMIT_FSIZE, &none);
    ::dup2(output == Output::DevFull       ? ::open("/dev/full", O_WRONLY | O_CLOEXEC)
           : output == Output::SizeLimited ? ::open("/tmp", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                                           : out[1],
           1);
    if (output == Output::Closed) ::close(1);
    if (output == Output::WithErrors) ::dup2(1, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (in[0] >= 0) ::close(in[0]);
  if (!filler.empty()) ::usleep(300000);  // the child meets a full pipe first
  Outcome outcome;
  int status = 0;
  // Once the process is gone its output is all in the pipe; a helper it
  // started (the Wine server) may keep the pipe open, so EOF is not awaited.
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  for (bool done = false; !done; ::usleep(done ? 0 : 2000)) {
    done = ::waitpid(pid, &status, WNOHANG) == pid;
    char buffer[4096];
    for (ssize_t n = 0; read && (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
      outcome.out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(out[0]);
  outcome.out.erase(0, filler.size());
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return outcome;
}

// The Linux binary over sysRoot's firmware/ and class/ at the sysfs paths.
inline Outcome RunInNamespace(const std::string& sysRoot, const std::vector<std::string>& args) {
  std::vector<std::string> argv{KELVARIN_TOOLS "/with-firmware.sh", sysRoot, KELVARIN_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

// The Windows program and its arguments, run in `prefix` as every tool runs Wine.
inline std::vector<std::string> Wine(const std::string& prefix, std::vector<std::string> args,
                                     const std::string& locale = "C.UTF-8") {
  args.insert(args.begin(), {"env", "LC_ALL=" + locale, KELVARIN_TOOLS "/wine.sh", prefix});
  return args;
}

// Whether Wine can run the files given in `prefix`, which is set up once.
inline bool WineReady(const std::string& prefix, const std::vector<std::string>& files) {
  static std::map<std::string, int> setUp;
  const auto missing = [](const auto& file) { return !std::filesystem::is_regular_file(file); };
  if (std::ranges::any_of(files, missing)) return false;
  if (!setUp.contains(prefix)) {
    setUp[prefix] = RunProcess({KELVARIN_TOOLS "/wine-prefix.sh", prefix, KELVARIN_WINE_ARCH},
                               Output::Captured, 600)
                        .code;
  }
  return setUp[prefix] == 0;
}

// "a b c" as {"a", "b", "c"}.
inline std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace kelvarin::testing
