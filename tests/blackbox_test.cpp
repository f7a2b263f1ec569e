// Runs of the real executables as a script would run them: the Linux binary
// directly, the Windows one under Wine. Only what leaves the process is
// checked: the bytes on standard output, standard error, the exit code and
// how long the run took (the pauses after command-line messages).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#ifndef KELVARIN_WINDOWS_EXE
#define KELVARIN_WINDOWS_EXE ""
#endif
#ifndef KELVARIN_WINDOWS_VERINFO
#define KELVARIN_WINDOWS_VERINFO ""
#endif
#ifndef KELVARIN_WINE_PREFIX
#define KELVARIN_WINE_PREFIX ""
#endif
#ifndef KELVARIN_WINE_PREFIX_SCRIPT
#define KELVARIN_WINE_PREFIX_SCRIPT ""
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// ---------------------------------------------------------------------------
// Child processes

enum class Output {
  Captured,    // a pipe that the test reads
  Closed,      // no descriptor 1 at all
  BrokenPipe,  // a pipe whose read end is already closed
};

const char* OutputName(Output output) {
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

bool MakePipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read.Reset(fds[0]);
  pipe.write.Reset(fds[1]);
  return true;
}

// Reads what is there; closes the descriptor at end of file or on an error.
void ReadAvailable(Fd& fd, std::string& sink) {
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
Outcome RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
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

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string FindOnPath(std::string_view name) {
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

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    env.emplace_back(*entry);
  }
  return env;
}

// The environment with `changes` applied; an empty value removes the name.
std::vector<std::string> WithChanges(
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
std::optional<std::vector<std::string>> CrLfLines(std::string_view output) {
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

// Control bytes made visible, for failure messages.
std::string Visible(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n\n";
    } else if (c == '\a') {
      text += "\\a";
    } else {
      text += c;
    }
  }
  return text;
}

// ---------------------------------------------------------------------------
// The two ways of running the tool

constexpr Milliseconds kRunTimeout = 120s;
constexpr Milliseconds kPrefixTimeout = 600s;

class Runner {
 public:
  virtual ~Runner() = default;
  virtual Outcome Run(const std::vector<std::string>& args, Output output) const = 0;
  // Whether stderr belongs to the tool alone (Wine writes there itself).
  [[nodiscard]] virtual bool OwnsStderr() const = 0;
};

class NativeRunner final : public Runner {
 public:
  explicit NativeRunner(std::string binary) : binary_(std::move(binary)) {}

  Outcome Run(const std::vector<std::string>& args, Output output) const override {
    std::vector<std::string> argv{binary_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, CurrentEnvironment(), output, kRunTimeout);
  }
  [[nodiscard]] bool OwnsStderr() const override { return true; }

 private:
  std::string binary_;
};

// Wine with a private prefix, quiet, and without the installer prompts.
class WineRunner final : public Runner {
 public:
  WineRunner(std::string wine, std::string exe, std::string prefix)
      : wine_(std::move(wine)),
        exe_(std::move(exe)),
        env_(WithChanges(CurrentEnvironment(), {{"WINEPREFIX", std::move(prefix)},
                                                {"WINEDEBUG", "-all"},
                                                {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                                {"WINEARCH", "win64"},
                                                {"DISPLAY", ""},
                                                {"WAYLAND_DISPLAY", ""}})) {}

  Outcome Run(const std::vector<std::string>& args, Output output) const override {
    std::vector<std::string> argv{wine_, exe_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, env_, output, kRunTimeout);
  }
  [[nodiscard]] bool OwnsStderr() const override { return false; }

  // The same Wine, running another Windows program.
  [[nodiscard]] WineRunner For(std::string exe) const {
    WineRunner other = *this;
    other.exe_ = std::move(exe);
    return other;
  }

 private:
  std::string wine_;
  std::string exe_;
  std::vector<std::string> env_;
};

// Z: is the Unix root in a Wine prefix.
std::string WindowsPath(std::string_view unixPath) {
  std::string path = "Z:";
  for (const char c : unixPath) path += c == '/' ? '\\' : c;
  return path;
}

// Why Wine runs cannot happen here, or nothing when they can.
std::optional<std::string> WineUnavailable(const std::string& exe, const char* variable) {
  if (exe.empty()) {
    return std::string(variable) + " is not set; configure with -D" + variable + "=<path>";
  }
  if (!IsFile(exe)) return std::string(variable) + " names a missing file: " + exe;
  if (FindOnPath("wine").empty()) return std::string("wine is not on PATH");
  return std::nullopt;
}

// Sets the shared prefix up once; the script is idempotent and takes a lock,
// so parallel test processes are fine. An empty result means success.
std::string PrepareWinePrefix() {
  static const std::string failure = [] {
    const std::string script = KELVARIN_WINE_PREFIX_SCRIPT;
    const std::string prefix = KELVARIN_WINE_PREFIX;
    if (script.empty() || prefix.empty()) return std::string("no Wine prefix configured");
    const Outcome setup = RunProcess({"/bin/sh", script, prefix}, CurrentEnvironment(),
                                     Output::Captured, kPrefixTimeout);
    if (setup.exited && setup.exitCode == 0) return std::string();
    return "setting up the Wine prefix " + prefix + " failed: " + setup.Describe();
  }();
  return failure;
}

// ---------------------------------------------------------------------------
// Command lines and what each must produce

struct CommandCase {
  const char* name;
  std::vector<std::string> args;
  std::string text;  // the whole output, or what stands before the usage screen
  bool usage;        // the 26-line usage screen follows `text`
  int exitCode;
  Milliseconds pause;  // the pauses the messages earn, in total
};

void PrintTo(const CommandCase& command, std::ostream* os) { *os << command.name; }
void PrintTo(Output output, std::ostream* os) { *os << OutputName(output); }

const std::vector<CommandCase>& CommandCases() {
  static const std::vector<CommandCase> cases{
      {"Help", {"/?"}, "", true, 9, 0ms},
      {"UnexpectedToken", {"/X"}, "\r\n\a/X was unexpected.\r\n", true, 9, 1000ms},
      {"KerberosWithoutRemoteHost",
       {"/K"},
       "ERROR: /K switch can only be used when querying a remote host (see /M switch).\r\n",
       false,
       9,
       0ms},
      {"PasswordWithoutUser",
       {"/P", "x"},
       "ERROR: A password can not be specified without also specifying a username.\r\n",
       false,
       9,
       0ms},
      {"DelimiterTooLong", {"/C", "/D", "ab"}, "", true, 9, 0ms},
  };
  return cases;
}

constexpr std::size_t kUsageLines = 26;

// A process start takes far less than this; a run that should not pause
// must finish within it, so a stray one-second pause shows.
constexpr Milliseconds kNoPauseLimit = 900ms;
// A one-second pause may come out a little short on a coarse timer.
constexpr Milliseconds kPauseTolerance = 100ms;
constexpr Milliseconds kPauseOverrun = 4000ms;

// The usage screen as the tool itself prints it for /?, checked for shape.
struct UsageScreen {
  std::string bytes;
  std::string problem;  // empty when the screen looks right
};

UsageScreen ReadUsageScreen(const Runner& runner) {
  const Outcome help = runner.Run({"/?"}, Output::Captured);
  UsageScreen screen{help.out, {}};
  const auto lines = CrLfLines(help.out);
  if (!help.exited || help.exitCode != 9) {
    screen.problem = "/? did not end with exit code 9: " + help.Describe();
  } else if (!lines) {
    screen.problem = "/? output is not whole CR LF lines:\n" + Visible(help.out);
  } else if (lines->size() != kUsageLines) {
    screen.problem = "/? printed " + std::to_string(lines->size()) + " lines, not " +
                     std::to_string(kUsageLines) + ":\n" + Visible(help.out);
  }
  return screen;
}

void CheckCase(const Runner& runner, const UsageScreen& usage, const CommandCase& command,
               Output output) {
  const Outcome run = runner.Run(command.args, output);
  ASSERT_TRUE(run.started) << run.Describe();
  ASSERT_FALSE(run.timedOut) << run.Describe();
  ASSERT_TRUE(run.exited) << run.Describe();
  EXPECT_EQ(run.exitCode, command.exitCode) << run.Describe();
  if (runner.OwnsStderr()) {
    EXPECT_EQ(run.err, "") << "nothing may go to standard error";
  }

  // The pauses happen whether or not anybody reads the output.
  if (command.pause > 0ms) {
    EXPECT_GE(run.elapsed, command.pause - kPauseTolerance) << run.Describe();
    EXPECT_LT(run.elapsed, command.pause + kPauseOverrun) << run.Describe();
  } else {
    // A slow process start (Wine bringing up its services) can look like a
    // pause; a real pause happens on every run, so the quickest run decides.
    auto quickest = run.elapsed;
    for (int again = 0; again < 2 && quickest >= kNoPauseLimit; ++again) {
      const Outcome rerun = runner.Run(command.args, output);
      if (rerun.exited) quickest = std::min(quickest, rerun.elapsed);
    }
    EXPECT_LT(quickest, kNoPauseLimit)
        << "a run without messages must not pause; " << run.Describe();
  }

  if (output != Output::Captured) return;
  if (command.usage) {
    ASSERT_EQ(usage.problem, "") << "the usage screen to compare with is wrong";
  }
  const std::string expected = command.text + (command.usage ? usage.bytes : std::string());
  EXPECT_EQ(Visible(run.out), Visible(expected));
  const auto lines = CrLfLines(run.out);
  ASSERT_TRUE(lines.has_value()) << "output must be whole CR LF lines:\n" << Visible(run.out);
}

using CaseParam = std::tuple<CommandCase, Output>;

std::string CaseName(const ::testing::TestParamInfo<CaseParam>& info) {
  return std::string(std::get<0>(info.param).name) + "_" + OutputName(std::get<1>(info.param));
}

const auto kAllCases =
    ::testing::Combine(::testing::ValuesIn(CommandCases()),
                       ::testing::Values(Output::Captured, Output::Closed, Output::BrokenPipe));

// ---------------------------------------------------------------------------
// The Linux binary

const NativeRunner& LinuxRunner() {
  static const NativeRunner runner(KELVARIN_BIN);
  return runner;
}

const UsageScreen& LinuxUsage() {
  static const UsageScreen screen = ReadUsageScreen(LinuxRunner());
  return screen;
}

class BlackboxLinux : public ::testing::TestWithParam<CaseParam> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(IsExecutableFile(KELVARIN_BIN)) << "missing binary " << KELVARIN_BIN;
  }
};

TEST_P(BlackboxLinux, CommandLine) {
  const auto& [command, output] = GetParam();
  CheckCase(LinuxRunner(), LinuxUsage(), command, output);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackboxLinux, kAllCases, CaseName);

TEST(BlackboxLinuxUsage, HelpScreenIsTwentySixCrLfLines) {
  ASSERT_TRUE(IsExecutableFile(KELVARIN_BIN)) << "missing binary " << KELVARIN_BIN;
  EXPECT_EQ(LinuxUsage().problem, "");
}

// ---------------------------------------------------------------------------
// The Windows executable under Wine

class WineFixture {
 protected:
  static const WineRunner& Wine() {
    static const WineRunner runner(FindOnPath("wine"), KELVARIN_WINDOWS_EXE, KELVARIN_WINE_PREFIX);
    return runner;
  }

  // Also the warm-up run: the first Wine start in a process brings up the
  // Wine server, which later runs then find running.
  static const UsageScreen& WineUsage() {
    static const UsageScreen screen = ReadUsageScreen(Wine());
    return screen;
  }
};

// Skips when the Windows file or Wine is missing; fails when Wine is there
// but its prefix cannot be set up.
#define KELVARIN_REQUIRE_WINE(exe, variable)                                         \
  do {                                                                               \
    if (const auto reason = WineUnavailable(exe, variable)) GTEST_SKIP() << *reason; \
    ASSERT_EQ(PrepareWinePrefix(), "");                                              \
  } while (false)

class BlackboxWine : public ::testing::TestWithParam<CaseParam>, protected WineFixture {
 protected:
  void SetUp() override {
    KELVARIN_REQUIRE_WINE(KELVARIN_WINDOWS_EXE, "KELVARIN_WINDOWS_EXE");
    WineUsage();
  }
};

TEST_P(BlackboxWine, CommandLine) {
  const auto& [command, output] = GetParam();
  CheckCase(Wine(), WineUsage(), command, output);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackboxWine, kAllCases, CaseName);

class BlackboxWineUsage : public ::testing::Test, protected WineFixture {
 protected:
  void SetUp() override { KELVARIN_REQUIRE_WINE(KELVARIN_WINDOWS_EXE, "KELVARIN_WINDOWS_EXE"); }
};

// Both builds come from one source; the screen must not differ by a byte.
TEST_F(BlackboxWineUsage, HelpScreenMatchesTheLinuxBuild) {
  ASSERT_EQ(WineUsage().problem, "");
  ASSERT_EQ(LinuxUsage().problem, "");
  EXPECT_EQ(Visible(WineUsage().bytes), Visible(LinuxUsage().bytes));
}

// ---------------------------------------------------------------------------
// The version block, read back by a Windows program under Wine

class BlackboxWineVersion : public ::testing::Test, protected WineFixture {
 protected:
  void SetUp() override {
    KELVARIN_REQUIRE_WINE(KELVARIN_WINDOWS_EXE, "KELVARIN_WINDOWS_EXE");
    KELVARIN_REQUIRE_WINE(KELVARIN_WINDOWS_VERINFO, "KELVARIN_WINDOWS_VERINFO");
  }
};

std::map<std::string, std::string> NameValueLines(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

TEST_F(BlackboxWineVersion, BlockCarriesTheReleaseIdentity) {
  const WineRunner verinfo = Wine().For(KELVARIN_WINDOWS_VERINFO);
  const Outcome run = verinfo.Run({WindowsPath(KELVARIN_WINDOWS_EXE)}, Output::Captured);
  ASSERT_TRUE(run.exited && run.exitCode == 0) << run.Describe();
  const auto values = NameValueLines(run.out);

  struct Entry {
    const char* name;
    const char* value;
  };
  const Entry expected[] = {
      {"FileVersion", "1.30"},
      {"ProductVersion", "Version 1.30"},
      {"ProductName", "KELVARIN"},
      {"InternalName", "KELVARIN.EXE"},
      {"OriginalFilename", "KELVARIN.EXE"},
      {"FileDescription", "Kelvarin - BIOS Information Query"},
      {"Comments",
       "Displays Manufacturer, Model, Serial Number, and BIOS version. WMI must be functional."},
      {"Translation", "040904E4"},
      {"FixedFileVersion", "1.30.0.0"},
      {"FixedProductVersion", "1.30.0.0"},
  };
  for (const auto& [name, value] : expected) {
    const auto found = values.find(name);
    if (found == values.end()) {
      ADD_FAILURE() << name << " is missing from the version block:\n" << run.out;
      continue;
    }
    EXPECT_EQ(found->second, value) << name;
  }
}

// ---------------------------------------------------------------------------
// The export and import tables of the executable

struct PeTables {
  std::vector<std::string> exports;
  std::vector<std::string> imports;  // DLL names, lower case
};

PeTables ParsePrivateHeaders(const std::string& dump) {
  PeTables tables;
  std::istringstream lines(dump);
  std::string line;
  bool inExportNames = false;
  while (std::getline(lines, line)) {
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      inExportNames = true;
      continue;
    }
    if (inExportNames) {
      // "\t[   0] NAME"
      const auto close = line.find(']');
      if (line.find('[') == std::string::npos || close == std::string::npos) {
        inExportNames = false;
      } else {
        const auto start = line.find_first_not_of(' ', close + 1);
        if (start != std::string::npos) tables.exports.push_back(line.substr(start));
        continue;
      }
    }
    constexpr std::string_view kDll = "DLL Name: ";
    if (const auto at = line.find(kDll); at != std::string::npos) {
      std::string name = line.substr(at + kDll.size());
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      tables.imports.push_back(name);
    }
  }
  return tables;
}

class BlackboxPeTables : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = KELVARIN_WINDOWS_EXE;
    if (exe.empty()) GTEST_SKIP() << "KELVARIN_WINDOWS_EXE is not set";
    if (!IsFile(exe)) GTEST_SKIP() << "KELVARIN_WINDOWS_EXE names a missing file: " << exe;
    const std::string objdump = FindOnPath("x86_64-w64-mingw32-objdump");
    if (objdump.empty()) GTEST_SKIP() << "x86_64-w64-mingw32-objdump is not on PATH";
    const Outcome dump =
        RunProcess({objdump, "-p", exe}, CurrentEnvironment(), Output::Captured, kRunTimeout);
    ASSERT_TRUE(dump.exited && dump.exitCode == 0) << dump.Describe();
    tables_ = ParsePrivateHeaders(dump.out);
  }

  PeTables tables_;
};

TEST_F(BlackboxPeTables, ExportsOnlyTheEnumerationByName) {
  EXPECT_EQ(tables_.exports, std::vector<std::string>{"WBEMCOLLECTION_ENUMERATE"});
}

// The executable must start on a bare Windows: no compiler runtime DLLs.
TEST_F(BlackboxPeTables, ImportsOnlySystemDlls) {
  ASSERT_FALSE(tables_.imports.empty()) << "no import table found";
  const std::vector<std::string> system{
      "kernel32.dll", "ntdll.dll", "msvcrt.dll",   "ucrtbase.dll", "advapi32.dll",
      "user32.dll",   "ole32.dll", "oleaut32.dll", "rpcrt4.dll",   "shell32.dll",
  };
  for (const auto& dll : tables_.imports) {
    const bool known = std::find(system.begin(), system.end(), dll) != system.end() ||
                       dll.starts_with("api-ms-win-");
    EXPECT_TRUE(known) << "imports a DLL that is not part of Windows: " << dll;
  }
  // Where COM and Automation come from.
  for (const char* needed : {"kernel32.dll", "ole32.dll", "oleaut32.dll"}) {
    EXPECT_NE(std::find(tables_.imports.begin(), tables_.imports.end(), needed),
              tables_.imports.end())
        << needed << " is not imported";
  }
}

}  // namespace
