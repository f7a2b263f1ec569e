// Runs of the real executables as a script would run them: the Linux binary
// directly, the Windows one under Wine. Only what leaves the process is
// checked: the bytes on standard output, standard error, the exit code and
// how long the run took (the pauses after command-line messages).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

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
using namespace kelvarin::testing;

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
      : wine_(std::move(wine)), exe_(std::move(exe)), env_(WineEnvironment(std::move(prefix))) {}

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
// A whole run against Wine's own WMI

class BlackboxWineOwnWmi : public ::testing::Test, protected WineFixture {
 protected:
  void SetUp() override { KELVARIN_REQUIRE_WINE(KELVARIN_WINDOWS_EXE, "KELVARIN_WINDOWS_EXE"); }
};

// What Wine 8 answers today: the locator, the connection and all five queries
// work and each query yields one object (otherwise "No objects found" would
// show), but every property read fails, because Wine answers E_NOTIMPL to a
// plain property get (and its Win32_SystemEnclosure has no SerialNumber). So
// the trace finds nothing and the report is empty. A Wine that answers more
// must show up here, as must a build that reads less.
TEST_F(BlackboxWineOwnWmi, VerboseRunReachesEveryClassAndReadsNothing) {
  const Outcome run = Wine().Run({"/V"}, Output::Captured);
  ASSERT_TRUE(run.exited) << run.Describe();
  EXPECT_EQ(run.exitCode, 0) << run.Describe();
  const std::string expected =
      "Checking Win32_ComputerSystem...\r\n"
      " - Still looking for Manufacturer..\r\n"
      " - Still looking for Model...\r\n"
      " - Still looking for Serial Number...\r\n"
      " - Still looking for BIOS Version...\r\n"
      "Checking Win32_BIOS...\r\n"
      " - Still looking for Manufacturer...\r\n"
      " - Still looking for Model...\r\n"
      " - Still looking for Serial Number...\r\n"
      " - Still looking for BIOS Version...\r\n"
      "Checking Win32_BaseBoard...\r\n"
      " - Still looking for Manufacturer...\r\n"
      " - Still looking for Model...\r\n"
      " - Still looking for Serial Number...\r\n"
      " - Still looking for BIOS Version...\r\n"
      "Checking Win32_ComputerSystemProduct...\r\n"
      " - Still looking for Manufacturer...\r\n"
      " - Still looking for Model...\r\n"
      " - Still looking for Serial Number...\r\n"
      " - Still looking for BIOS Version...\r\n"
      "Checking Win32_SystemEnclosure...\r\n"
      " - Still looking for Manufacturer...\r\n"
      " - Still looking for Model...\r\n"
      " - Still looking for Serial Number...\r\n"
      " - Still looking for BIOS Version...\r\n"
      "\r\n"
      "Manufacturer:   \r\n"
      "Model:          \r\n"
      "Serial Number:  \r\n"
      "BIOS Version:   \r\n";
  EXPECT_EQ(Visible(run.out), Visible(expected));
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
  bool symbolsStripped = false;      // the file header's flag
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
    if (line.find("symbols stripped") != std::string::npos) tables.symbolsStripped = true;
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

// The size budget of the shipped file, as shipped: stripped of its symbols.
constexpr std::uintmax_t kMaxExecutableBytes = 256 * 1024;

TEST_F(BlackboxPeTables, StrippedAndWithinTheSizeBudget) {
  EXPECT_TRUE(tables_.symbolsStripped) << "the executable still carries its symbol table";
  const std::uintmax_t size = std::filesystem::file_size(KELVARIN_WINDOWS_EXE);
  RecordProperty("bytes", std::to_string(size));
  std::cout << "kelvarin.exe: " << size << " bytes of at most " << kMaxExecutableBytes << "\n";
  EXPECT_LE(size, kMaxExecutableBytes);
}

}  // namespace
