// The real executables run as a script runs them: the Linux binary, and the
// Windows one under Wine. Only what leaves the process is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"

namespace kelvarin::testing {
namespace {

// A macro, because GTEST_SKIP returns from the test itself. Needs kelvarin.exe
// and any further files given.
#define KELVARIN_REQUIRE_WINE(...)                                                                \
  do {                                                                                            \
    if (const auto reason = Unavailable(                                                          \
            {{"KELVARIN_WINDOWS_EXE", KELVARIN_WINDOWS_EXE} __VA_OPT__(, ) __VA_ARGS__}, "wine")) \
      GTEST_SKIP() << *reason;                                                                    \
    ASSERT_EQ(PrepareWinePrefix(KELVARIN_WINE_PREFIX), "");                                       \
  } while (false)

Outcome RunWine(std::vector<std::string> argv) {
  argv.insert(argv.begin(), "wine");
  return RunProcess(argv, Output::Captured, WineEnv(KELVARIN_WINE_PREFIX));
}

// The reference usage screen, from the Linux build.
const std::string& Usage() {
  static const std::string usage = RunProcess({KELVARIN_BIN, "/?"}).out;
  return usage;
}

struct Row {
  const char* name;
  const char* args;
  std::string text;  // all of the output, or what comes before the usage screen
  bool usage;
  Output output = Output::Captured;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::string kUnexpected = "\r\n\a/X was unexpected.\r\n";
const std::string kNoHost =
    "ERROR: /K switch can only be used when querying a remote host (see /M switch).\r\n";
const std::string kNoUser =
    "ERROR: A password can not be specified without also specifying a username.\r\n";

// Closed and broken standard output matter on the two paths that write most.
const Row kRows[] = {
    {"Help", "/?", "", true},
    {"HelpClosed", "/?", "", true, Output::Closed},
    {"HelpBrokenPipe", "/?", "", true, Output::BrokenPipe},
    {"UnexpectedToken", "/X", kUnexpected, true},
    {"UnexpectedTokenClosed", "/X", kUnexpected, true, Output::Closed},
    {"UnexpectedTokenBrokenPipe", "/X", kUnexpected, true, Output::BrokenPipe},
    {"KerberosWithoutRemoteHost", "/K", kNoHost, false},
    {"PasswordWithoutUser", "/P x", kNoUser, false},
    {"DelimiterTooLong", "/C /D ab", "", true},
};

class BlackboxCommandLine : public ::testing::TestWithParam<std::tuple<bool, Row>> {};

TEST_P(BlackboxCommandLine, ExitsWithNineAfterItsMessage) {
  const auto& [wine, row] = GetParam();
  const bool pauses = row.args == std::string("/X");
  std::vector<std::string> argv{KELVARIN_BIN};
  Env env;
  if (wine) {
    KELVARIN_REQUIRE_WINE();
    argv = {"wine", KELVARIN_WINDOWS_EXE};
    env = WineEnv(KELVARIN_WINE_PREFIX);
    if (pauses) RunWine({KELVARIN_WINDOWS_EXE, "/?"});  // a cold Wine start is no pause
  }
  for (const auto& arg : Words(row.args)) argv.push_back(arg);
  const Outcome run = RunProcess(argv, row.output, env);
  EXPECT_EQ(run.code, 9) << run.Describe();
  EXPECT_TRUE(wine || run.err.empty()) << "Wine alone may write to stderr";
  // /X pauses ~1 s, whether or not anybody reads the output; nothing else pauses
  // (Wine starts too slowly to tell).
  EXPECT_TRUE(pauses || wine || run.seconds < 0.9) << run.Describe();
  if (pauses) {
    EXPECT_GE(run.seconds, 0.9);
    EXPECT_LT(run.seconds, 5);
  }
  if (row.output != Output::Captured) return;
  ASSERT_TRUE(!row.usage || std::regex_match(Usage(), std::regex("([^\r\n]*\r\n){26}")))
      << "/? must print 26 CR LF lines:\n"
      << Usage();
  EXPECT_EQ(run.out, row.text + (row.usage ? Usage() : ""));
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackboxCommandLine,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kRows)),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param) ? "Wine" : "Linux") +
                                  std::get<1>(test.param).name;
                         });

// A report that cannot be written fails the run, in both builds; one that
// must wait for a slow reader arrives whole.
TEST(BlackboxOutput, ReportRunsFailWhenTheReportIsLost) {
  const std::pair<Output, int> cases[] = {
      {Output::DevFull, 1}, {Output::Closed, 1}, {Output::BrokenPipe, 1}, {Output::NearlyFull, 0}};
  for (const bool wine : {false, true}) {
    std::vector<std::string> argv{KELVARIN_BIN, "/C"};
    Env env;
    if (wine) {
      KELVARIN_REQUIRE_WINE();
      argv = {"wine", KELVARIN_WINDOWS_EXE, "/C"};
      env = WineEnv(KELVARIN_WINE_PREFIX);
    }
    for (const auto& [output, code] : cases) {
      const Outcome run = RunProcess(argv, output, env);
      EXPECT_EQ(run.code, code) << (wine ? "wine " : "") << static_cast<int>(output) << " "
                                << run.Describe();
      if (output == Output::NearlyFull) {
        EXPECT_EQ(run.out, "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n");
      }
    }
  }
}

// Wine 8's own WMI: every query yields one object, but every property read
// fails (E_NOTIMPL), so the trace finds nothing and the report is empty. A
// Wine that answers more must show here, as must a build that reads less.
TEST(BlackboxWine, VerboseRunOverWinesOwnWmi) {
  KELVARIN_REQUIRE_WINE();
  std::string expected;
  for (const char* name :
       {"ComputerSystem", "BIOS", "BaseBoard", "ComputerSystemProduct", "SystemEnclosure"}) {
    expected += "Checking Win32_" + std::string(name) + "...\r\n";
    for (const char* fact : {"Manufacturer", "Model", "Serial Number", "BIOS Version"}) {
      expected += " - Still looking for " + std::string(fact) + "...\r\n";
    }
  }
  expected.erase(expected.find("Manufacturer...") + 12, 1);  // the first has two dots
  expected +=
      "\r\nManufacturer:   \r\nModel:          \r\nSerial Number:  \r\nBIOS Version:   \r\n";
  const Outcome run = RunWine({KELVARIN_WINDOWS_EXE, "/V"});
  EXPECT_EQ(run.code, 0) << run.Describe();
  EXPECT_EQ(run.out, expected);
}

TEST(BlackboxWine, VersionBlockCarriesTheReleaseIdentity) {
  KELVARIN_REQUIRE_WINE({"KELVARIN_WINDOWS_VERINFO", KELVARIN_WINDOWS_VERINFO});
  std::string exe = "Z:" KELVARIN_WINDOWS_EXE;
  std::ranges::replace(exe, '/', '\\');
  const Outcome run = RunWine({KELVARIN_WINDOWS_VERINFO, exe});
  ASSERT_EQ(run.code, 0) << run.Describe();
  for (const char* line :
       {"FileVersion=1.30", "ProductVersion=Version 1.30", "ProductName=KELVARIN",
        "InternalName=KELVARIN.EXE", "OriginalFilename=KELVARIN.EXE",
        "FileDescription=Kelvarin - BIOS Information Query",
        "Comments=Displays Manufacturer, Model, Serial Number, and BIOS version. WMI must be "
        "functional.",
        "Translation=040904E4", "FixedFileVersion=1.30.0.0", "FixedProductVersion=1.30.0.0"}) {
    EXPECT_NE(("\n" + run.out).find("\n" + std::string(line) + "\n"), std::string::npos)
        << line << " is not in\n"
        << run.out;
  }
}

// It must start on a bare Windows: only system DLLs, and stay small.
TEST(BlackboxPeFile, ExportsImportsAndSize) {
  const std::string objdump = "x86_64-w64-mingw32-objdump";
  if (const auto reason = Unavailable({{"KELVARIN_WINDOWS_EXE", KELVARIN_WINDOWS_EXE}}, objdump)) {
    GTEST_SKIP() << *reason;
  }
  const Outcome dump = RunProcess({objdump, "-p", KELVARIN_WINDOWS_EXE});
  ASSERT_EQ(dump.code, 0) << dump.Describe();
  const std::set<std::string> system{"kernel32.dll", "ntdll.dll",  "msvcrt.dll", "ucrtbase.dll",
                                     "advapi32.dll", "user32.dll", "ole32.dll",  "oleaut32.dll",
                                     "rpcrt4.dll",   "shell32.dll"};
  const std::regex exportLine("\t\\[ *\\d+\\] (\\S+)"), importLine("\tDLL Name: (.+)");
  std::vector<std::string> exports;
  int imports = 0;
  std::istringstream lines(dump.out);
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, match, exportLine)) exports.push_back(match[1]);
    if (!std::regex_match(line, match, importLine)) continue;
    std::string dll = match[1];
    std::ranges::transform(dll, dll.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(system.contains(dll) || dll.starts_with("api-ms-win-")) << dll;
    ++imports;
  }
  EXPECT_EQ(exports, std::vector<std::string>{"WBEMCOLLECTION_ENUMERATE"});
  EXPECT_GT(imports, 0);
  EXPECT_NE(dump.out.find("symbols stripped"), std::string::npos);
  EXPECT_LE(std::filesystem::file_size(KELVARIN_WINDOWS_EXE), 256U * 1024);
}

}  // namespace
}  // namespace kelvarin::testing
