// The two builds side by side. The Linux binary runs over its own COM layer
// and the WMI stand-in, in a private mount namespace whose /sys holds a
// fixture table; kelvarin.exe runs under Wine over the real COM runtime, with
// the same stand-in built as an in-process server and registered in a Wine
// prefix of its own under "WbemScripting.SWbemLocator", reading the same
// table. For every table and command line the two must write the same bytes
// to standard output and end with the same exit code: any difference is a
// fault in one of the builds.
#include <sys/file.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "smbios_builder.h"
#include "windows/standin_clsid.h"

#ifndef KELVARIN_WINDOWS_EXE
#define KELVARIN_WINDOWS_EXE ""
#endif
#ifndef KELVARIN_WINDOWS_STANDIN_DLL
#define KELVARIN_WINDOWS_STANDIN_DLL ""
#endif
#ifndef KELVARIN_WINE_STANDIN_PREFIX
#define KELVARIN_WINE_STANDIN_PREFIX ""
#endif
#ifndef KELVARIN_WINE_PREFIX_SCRIPT
#define KELVARIN_WINE_PREFIX_SCRIPT ""
#endif

namespace kelvarin::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr Milliseconds kRunTimeout = 120s;
constexpr Milliseconds kSetupTimeout = 600s;

// Wine takes its ANSI code page from the locale, not from the registry (Wine 8
// rewrites HKLM\...\Nls\CodePage\ACP at start-up). A locale that has no ANSI
// code page of its own gets UTF-8, as the Linux build has. The locale need not
// be installed on the Unix side: Wine then reads the name from LC_ALL.
constexpr const char* kUtf8Locale = "hi_IN.UTF-8";
// An English locale: code page 1252, as on most Western Windows machines.
constexpr const char* kWindows1252Locale = "en_US.UTF-8";

// ---------------------------------------------------------------------------
// Tables and command lines

struct TableFixture {
  const char* name;
  SmbiosBuilder table;
  // Text that the plain Linux report must show, proving that the fixture (and
  // not the host's own table) was read; empty when the fixture holds no facts.
  std::string shows;
};

void PrintTo(const TableFixture& fixture, std::ostream* os) { *os << fixture.name; }

std::string FixtureName(const ::testing::TestParamInfo<TableFixture>& info) {
  return info.param.name;
}

using Text = SmbiosBuilder::Text;

// The values carry commas, semicolons and the taboo characters, so that the
// CSV switches have something to replace and to quote.
const std::vector<TableFixture>& Fixtures() {
  static const std::vector<TableFixture> fixtures{
      {"AllFacts",
       SmbiosBuilder()
           .Bios("Insyde Corp.", "F.42 (2021); rev 'B'")
           .System("Hewlett-Packard, Inc.", "ProBook 450 G8 \"Notebook\"", "5CD1234,XYZ")
           .BaseBoard("PBB-001")
           .Enclosure("CH^9`0")
           .End(),
       "ProBook 450 G8"},
      {"SerialOnlyOnBaseBoard",
       SmbiosBuilder()
           .Bios("Phoenix", "2.10")
           .System("Acme, Ltd.", "Server (2U)", std::nullopt)
           .BaseBoard("BOARD,SN;1")
           .Enclosure(std::nullopt)
           .End(),
       "BOARD,SN;1"},
      {"SerialOnlyOnEnclosure",
       SmbiosBuilder()
           .Bios("Phoenix", "2.11")
           .System("Acme", "Tower", std::nullopt)
           .BaseBoard(std::nullopt)
           .Enclosure("(Chassis) 'SN', 7")
           .End(),
       "(Chassis) 'SN', 7"},
      {"SeveralBoardsAndEnclosures",
       SmbiosBuilder()
           .Bios("Vendor", "1.0")
           .System("Blade Maker", "Blade, 8 slots", std::nullopt)
           .BaseBoard("FIRST")
           .BaseBoard(std::nullopt)
           .BaseBoard("THIRD")
           .Enclosure("ENC-A")
           .Enclosure("ENC-B")
           .End(),
       "Blade, 8 slots"},
      {"BlankAndPaddedStrings",
       SmbiosBuilder()
           .Bios("  Padded Vendor  ", "   ")
           .System("\tTabbed\t", "  Model  X  ", "      ")
           .BaseBoard("  BB 1  ")
           .Enclosure(" ")
           .End(),
       "Model  X"},
      {"OnlyTheBios", SmbiosBuilder().Bios("Lonely BIOS", "0.1").End(), "Lonely BIOS"},
      {"StringNumberZeroAndOutOfRange",
       SmbiosBuilder()
           .Bios(std::nullopt, "V0")
           .System(std::nullopt, std::nullopt, std::nullopt)
           // Serial number 3 of a structure that has one string.
           .Raw(2, {0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, {"only"})
           .Enclosure(std::nullopt)
           .End(),
       "V0"},
      {"NoStructures", SmbiosBuilder().End(), ""},
      // Valid UTF-8 stays as it is; the lone bytes E8 and FC are read as Latin-1.
      {"TextOutsideAscii",
       SmbiosBuilder()
           .Bios("Société Générale", "Ä1.0")
           .System("Straße & Co", "Mod\xE8le", "SN-€-1")
           .BaseBoard("Gr\xFCn")
           .Enclosure(std::nullopt)
           .End(),
       "Straße & Co"},
  };
  return fixtures;
}

struct CommandLine {
  const char* name;
  std::vector<std::string> args;
};

const std::vector<CommandLine>& CommandLines() {
  static const std::vector<CommandLine> commands{
      {"Plain", {}},
      {"Verbose", {"/V"}},
      {"Csv", {"/C"}},
      {"CsvSemicolon", {"/C", "/D", ";"}},
      {"CsvReplacingCommas", {"/C", "/R", "x"}},
      {"CsvReplacingTaboos", {"/C", "/T", "_"}},
      {"CsvQuotingAll", {"/C", "/A"}},
      {"Quiet", {"/N"}},
      {"VerboseOnLocalHost", {"/M", "localhost", "/V"}},
      // Connections that fail: a user name without a remote host, another host.
      {"UserWithoutHost", {"/U", "someone"}},
      {"CsvUserWithoutHost", {"/C", "/A", "/U", "someone"}},
      {"QuietUserWithoutHost", {"/N", "/U", "someone"}},
      {"CsvOtherHost", {"/C", "/M", "elsewhere.invalid"}},
  };
  return commands;
}

// ---------------------------------------------------------------------------
// The Linux build, with the fixture as the machine's SMBIOS table

// Lays the table out where the kernel puts it, empties /sys/class so that the
// dmi/id fallback is absent, and runs the program. The mounts exist in the
// private namespace only. 125 says that the namespace could not be set up.
constexpr int kNamespaceFailed = 125;
constexpr std::string_view kNamespaceScript =
    "mount -t tmpfs none /sys/firmware && mkdir -p /sys/firmware/dmi/tables &&"
    " cp \"$1/DMI\" \"$1/smbios_entry_point\" /sys/firmware/dmi/tables/ &&"
    " mount -t tmpfs none /sys/class || exit 125; shift; exec \"$@\"";

std::optional<std::string> NamespaceUnavailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    if (::geteuid() != 0) return "needs root for a private mount namespace";
    const std::string unshare = FindOnPath("unshare");
    if (unshare.empty()) return "unshare is not on PATH";
    const Outcome probe =
        RunProcess({unshare, "-m", "/bin/sh", "-c",
                    "mount -t tmpfs none /sys/firmware && mount -t tmpfs none /sys/class"},
                   CurrentEnvironment(), Output::Captured, kRunTimeout);
    if (!probe.exited || probe.exitCode != 0) {
      return "cannot mount in a private namespace here: " + probe.Describe();
    }
    return std::nullopt;
  }();
  return reason;
}

Outcome RunLinux(const fs::path& tables, const std::vector<std::string>& args) {
  std::vector<std::string> argv{FindOnPath("unshare"),         "-m", "/bin/sh",       "-c",
                                std::string(kNamespaceScript), "sh", tables.string(), KELVARIN_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, CurrentEnvironment(), Output::Captured, kRunTimeout);
}

// ---------------------------------------------------------------------------
// The Windows build, with the stand-in server registered in its own prefix

// Inside the prefix, so that the DLL's Windows path is known and the fixture
// beside it belongs to these tests alone.
constexpr std::string_view kServerFolder = "kelvarin-standin";
constexpr std::string_view kServerWindowsFolder = "C:\\kelvarin-standin";
constexpr std::string_view kServerFile = "standin_server.dll";

fs::path ServerFolder() {
  return fs::path(KELVARIN_WINE_STANDIN_PREFIX) / "drive_c" / kServerFolder;
}

std::optional<std::string> WineUnavailable() {
  const auto missing = [](const char* variable, const std::string& path) {
    if (path.empty()) {
      return std::string(variable) + " is not set; configure with -D" + variable + "=<path>";
    }
    return std::string(variable) + " names a missing file: " + path;
  };
  if (!IsFile(KELVARIN_WINDOWS_EXE)) return missing("KELVARIN_WINDOWS_EXE", KELVARIN_WINDOWS_EXE);
  if (!IsFile(KELVARIN_WINDOWS_STANDIN_DLL)) {
    return missing("KELVARIN_WINDOWS_STANDIN_DLL", KELVARIN_WINDOWS_STANDIN_DLL);
  }
  if (FindOnPath("wine").empty()) return std::string("wine is not on PATH");
  if (std::string_view(KELVARIN_WINE_STANDIN_PREFIX).empty()) {
    return std::string("KELVARIN_WINE_STANDIN_PREFIX is not set");
  }
  return std::nullopt;
}

// In .reg files a backslash inside a string is written twice.
std::string RegString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A class of ours for the ProgID, and the server that implements it.
std::string Registration() {
  const std::string classes = "HKEY_LOCAL_MACHINE\\Software\\Classes\\";
  const std::string clsid(kStandinClsid);
  const std::string dll = std::string(kServerWindowsFolder) + "\\" + std::string(kServerFile);
  const std::vector<std::string> lines{
      "Windows Registry Editor Version 5.00",
      "",
      "[" + classes + "WbemScripting.SWbemLocator\\CLSID]",
      "@=" + RegString(clsid),
      "",
      "[" + classes + "CLSID\\" + clsid + "]",
      "@=" + RegString("Kelvarin WMI stand-in (tests)"),
      "",
      "[" + classes + "CLSID\\" + clsid + "\\InprocServer32]",
      "@=" + RegString(dll),
      RegString("ThreadingModel") + "=" + RegString("Both"),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

Outcome RunWine(const std::vector<std::string>& args, const char* locale) {
  std::vector<std::string> argv{FindOnPath("wine")};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(
      argv, WithChanges(WineEnvironment(KELVARIN_WINE_STANDIN_PREFIX), {{"LC_ALL", locale}}),
      Output::Captured, kRunTimeout);
}

// Serialises the tests that share the prefix, across processes: each one fills
// the fixture folder beside the server and must find it unchanged until its
// runs are over. (Not the lock that tools/wine-prefix.sh takes.)
class PrefixLock {
 public:
  PrefixLock() {
    std::error_code ignored;
    fs::create_directories(fs::path(Path()).parent_path(), ignored);
    fd_ = ::open(Path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) locked_ = ::flock(fd_, LOCK_EX) == 0;
  }
  ~PrefixLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  PrefixLock(const PrefixLock&) = delete;
  PrefixLock& operator=(const PrefixLock&) = delete;
  [[nodiscard]] bool Locked() const { return locked_; }
  static std::string Path() { return std::string(KELVARIN_WINE_STANDIN_PREFIX) + ".runs.lock"; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

void CopyFile(const fs::path& from, const fs::path& to) {
  // A fresh file under another name, then renamed: a reader never sees half of it.
  const fs::path partial = to.string() + ".partial";
  fs::copy_file(from, partial, fs::copy_options::overwrite_existing);
  fs::rename(partial, to);
}

// Creates the prefix, puts the server in it and registers it; once per test
// process, under the caller's lock. An empty result means success.
std::string PrepareServer() {
  static const std::string failure = []() -> std::string {
    const std::string prefix = KELVARIN_WINE_STANDIN_PREFIX;
    const Outcome setup = RunProcess({"/bin/sh", KELVARIN_WINE_PREFIX_SCRIPT, prefix},
                                     CurrentEnvironment(), Output::Captured, kSetupTimeout);
    if (!setup.exited || setup.exitCode != 0) {
      return "setting up the Wine prefix " + prefix + " failed: " + setup.Describe();
    }
    const fs::path folder = ServerFolder();
    fs::create_directories(folder);
    CopyFile(KELVARIN_WINDOWS_STANDIN_DLL, folder / kServerFile);
    WriteFile(folder / "register.reg", Registration());
    const std::string regFile = std::string(kServerWindowsFolder) + "\\register.reg";
    const Outcome import = RunWine({"reg", "import", regFile}, kUtf8Locale);
    if (!import.exited || import.exitCode != 0) {
      return "importing " + regFile + " failed: " + import.Describe() + "; " + import.out;
    }
    return {};
  }();
  return failure;
}

// The fixture as the server reads it: the sysfs-like folder "sys" beside it.
void InstallFixture(const fs::path& sysRoot) {
  const fs::path target = ServerFolder() / "sys";
  fs::remove_all(target);
  fs::copy(sysRoot, target, fs::copy_options::recursive);
}

// ---------------------------------------------------------------------------
// The tests

class Differential : public ::testing::TestWithParam<TableFixture> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(IsExecutableFile(KELVARIN_BIN)) << "missing binary " << KELVARIN_BIN;
    if (const auto reason = NamespaceUnavailable()) GTEST_SKIP() << *reason;
    if (const auto reason = WineUnavailable()) GTEST_SKIP() << *reason;
    lock_.emplace();
    ASSERT_TRUE(lock_->Locked()) << "cannot lock " << PrefixLock::Path();
    ASSERT_EQ(PrepareServer(), "");
    // One table for both builds, written once.
    GetParam().table.WriteTo(dir_.path() / "sys");
    InstallFixture(dir_.path() / "sys");
  }

  [[nodiscard]] fs::path Tables() const {
    return dir_.path() / "sys" / "firmware" / "dmi" / "tables";
  }

  Outcome RunWindows(const std::vector<std::string>& args, const char* locale) const {
    std::vector<std::string> argv{KELVARIN_WINDOWS_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunWine(argv, locale);
  }

 private:
  std::optional<PrefixLock> lock_;
  TempDir dir_;
};

TEST_P(Differential, BothBuildsWriteTheSameBytes) {
  const TableFixture& fixture = GetParam();
  for (const CommandLine& command : CommandLines()) {
    SCOPED_TRACE(std::string("command line ") + command.name);
    const Outcome onLinux = RunLinux(Tables(), command.args);
    ASSERT_TRUE(onLinux.exited && onLinux.exitCode != kNamespaceFailed) << onLinux.Describe();
    const Outcome onWindows = RunWindows(command.args, kUtf8Locale);
    ASSERT_TRUE(onWindows.exited && !onWindows.timedOut) << onWindows.Describe();

    EXPECT_EQ(Visible(onWindows.out), Visible(onLinux.out)) << "standard output differs";
    EXPECT_EQ(onWindows.exitCode, onLinux.exitCode)
        << "Windows: " << onWindows.Describe() << "\nLinux: " << onLinux.Describe();
    if (command.args.empty() && !fixture.shows.empty()) {
      EXPECT_NE(onLinux.out.find(fixture.shows), std::string::npos)
          << "the Linux run did not read the fixture:\n"
          << Visible(onLinux.out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, Differential, ::testing::ValuesIn(Fixtures()), FixtureName);

// UTF-8 text as Latin-1 bytes; nothing when a character lies beyond U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
    } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[++i]);
      out += static_cast<char>(((lead & 0x03U) << 6U) | (next & 0x3FU));
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// Where the ANSI code page is not UTF-8 the builds differ by design: the
// Windows one writes the machine's code page, as every Windows program that
// prints narrow text does. With characters that code page 1252 shares with
// Latin-1, its output is the Linux output re-encoded.
class DifferentialCodePage : public Differential {};

TEST_P(DifferentialCodePage, WindowsBuildWritesTheAnsiCodePage) {
  const CommandLine commands[] = {{"Plain", {}}, {"Csv", {"/C"}}};
  for (const CommandLine& command : commands) {
    SCOPED_TRACE(std::string("command line ") + command.name);
    const Outcome onLinux = RunLinux(Tables(), command.args);
    ASSERT_TRUE(onLinux.exited && onLinux.exitCode == 0) << onLinux.Describe();
    const auto expected = Utf8ToLatin1(onLinux.out);
    ASSERT_TRUE(expected.has_value()) << "the fixture must stay within Latin-1";
    ASSERT_NE(*expected, onLinux.out) << "the fixture must hold text outside ASCII";
    const Outcome onWindows = RunWindows(command.args, kWindows1252Locale);
    ASSERT_TRUE(onWindows.exited && onWindows.exitCode == 0) << onWindows.Describe();
    EXPECT_EQ(Visible(onWindows.out), Visible(*expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, DifferentialCodePage,
                         ::testing::Values(TableFixture{"Latin1Text",
                                                        SmbiosBuilder()
                                                            .Bios("Société Générale", "Ä1.0")
                                                            .System("Straße", "Mod\xE8le", "N° 12")
                                                            .End(),
                                                        "Straße"}),
                         FixtureName);

}  // namespace
}  // namespace kelvarin::testing
