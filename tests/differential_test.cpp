// The two builds on the same SMBIOS tables and command lines: the Linux binary
// in a private mount namespace whose /sys holds the table, and kelvarin.exe
// under Wine over the real COM runtime, with the WMI stand-in registered in a
// prefix of its own as the server of "WbemScripting.SWbemLocator", reading the
// same table. Any difference in stdout or exit code is a fault in one build.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "child_process.h"
#include "smbios_builder.h"
#include "windows/standin_clsid.h"

namespace kelvarin::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// Wine takes its ANSI code page from LC_ALL (the locale need not exist on the
// Unix side): a locale without one gets UTF-8, as the Linux build writes; an
// English one gets code page 1252.
constexpr const char* kUtf8Locale = "hi_IN.UTF-8";
constexpr const char* kCp1252Locale = "en_US.UTF-8";

const std::string kPrefix = KELVARIN_WINE_STANDIN_PREFIX;
// The server reads its table from the folder "sys" beside it.
const fs::path kServerFolder = fs::path(kPrefix) / "drive_c" / "kelvarin-standin";

// kelvarin.exe, or another Windows program, under Wine in the stand-in's prefix.
Outcome RunWine(Args args, const char* locale = kUtf8Locale,
                const char* program = KELVARIN_WINDOWS_EXE) {
  args.insert(args.begin(), {"wine", program});
  Env env = WineEnv(kPrefix);
  env.emplace_back("LC_ALL", locale);
  return RunProcess(args, Output::Captured, env);
}

// Puts the server in the prefix and registers it, once per process; an empty
// result means success.
std::string PrepareServer() {
  static const std::string failure = []() -> std::string {
    if (std::string failed = PrepareWinePrefix(kPrefix); !failed.empty()) return failed;
    fs::create_directories(kServerFolder);
    fs::copy_file(KELVARIN_WINDOWS_STANDIN_DLL, kServerFolder / "standin_server.dll",
                  fs::copy_options::overwrite_existing);
    const std::string key = "\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\", clsid(kStandinClsid);
    WriteFile(kServerFolder / "register.reg",
              "Windows Registry Editor Version 5.00\r\n" + key +
                  "WbemScripting.SWbemLocator\\CLSID]\r\n@=\"" + clsid + "\"\r\n" + key +
                  "CLSID\\" + clsid +
                  "\\InprocServer32]\r\n@=\"C:\\\\kelvarin-standin\\\\standin_server.dll\"\r\n"
                  "\"ThreadingModel\"=\"Both\"\r\n");
    const Outcome import =
        RunWine({"import", "C:\\kelvarin-standin\\register.reg"}, kUtf8Locale, "reg");
    if (import.code != 0) return "registering the server: " + import.Describe() + import.out;
    return {};
  }();
  return failure;
}

class Differential : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto reason = NamespaceUnavailable()) GTEST_SKIP() << *reason;
    if (const auto reason =
            Unavailable({{"KELVARIN_WINDOWS_EXE", KELVARIN_WINDOWS_EXE},
                         {"KELVARIN_WINDOWS_STANDIN_DLL", KELVARIN_WINDOWS_STANDIN_DLL}},
                        "wine")) {
      GTEST_SKIP() << *reason;
    }
    if (kPrefix.empty()) GTEST_SKIP() << "KELVARIN_WINE_STANDIN_PREFIX is not set";
    ASSERT_EQ(PrepareServer(), "");
  }

  // One table for both builds.
  void Lay(const SmbiosBuilder& table) {
    table.WriteTo(dir_.path());
    fs::remove_all(kServerFolder / "sys");
    fs::copy(dir_.path(), kServerFolder / "sys", fs::copy_options::recursive);
  }

  TempDir dir_;
};

struct Table {
  const char* name;
  SmbiosBuilder table;
  std::string shows;  // in the plain Linux report, so the table and not the host's was read
};
void PrintTo(const Table& table, std::ostream* os) { *os << table.name; }

// Commas, semicolons and taboo characters give the CSV switches work.
const Table kTables[] = {
    {"AllFacts",
     SmbiosBuilder()
         .Bios("Insyde Corp.", "F.42 (2021); rev 'B'")
         .System("Hewlett-Packard, Inc.", "ProBook 450 G8 \"Notebook\"", "5CD1234,XYZ")
         .BaseBoard("PBB-001")
         .Enclosure("CH^9`0")
         .End(),
     "ProBook 450 G8"},
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
         .Raw(2, {0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, {"only"})  // serial: string 3 of 1
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

// The last four fail to connect: a user without a remote host, another host.
const char* const kCommandLines[] = {"",
                                     "/V",
                                     "/C",
                                     "/C /D ;",
                                     "/C /R x",
                                     "/C /T _",
                                     "/C /A",
                                     "/N",
                                     "/M localhost /V",
                                     "/U someone",
                                     "/C /A /U someone",
                                     "/N /U someone",
                                     "/C /M elsewhere.invalid"};

class DifferentialTables : public Differential, public ::testing::WithParamInterface<Table> {};

TEST_P(DifferentialTables, BothBuildsWriteTheSameBytes) {
  Lay(GetParam().table);
  const std::string plain = RunInNamespace(dir_.path(), {}).out;
  ASSERT_NE(plain.find(GetParam().shows), std::string::npos) << "the table was not read:\n"
                                                             << plain;
  for (const char* line : kCommandLines) {
    SCOPED_TRACE(line);
    const Outcome onLinux = RunInNamespace(dir_.path(), Words(line));
    const Outcome onWindows = RunWine(Words(line));
    EXPECT_EQ(onWindows.out, onLinux.out);
    EXPECT_EQ(onWindows.code, onLinux.code) << onWindows.Describe() << "\n" << onLinux.Describe();
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, DifferentialTables, ::testing::ValuesIn(kTables),
                         [](const auto& test) { return std::string(test.param.name); });

// Where the ANSI code page is not UTF-8 the builds differ by design: the
// Windows one writes that code page. For text within Latin-1, code page 1252
// gives the Linux output re-encoded as Latin-1.
TEST_F(Differential, WindowsBuildWritesTheAnsiCodePage) {
  Lay(SmbiosBuilder()
          .Bios("Société Générale", "Ä1.0")
          .System("Straße", "Mod\xE8le", "N° 12")
          .End());
  for (const Args& args : {Args{}, Args{"/C"}}) {
    const Outcome onLinux = RunInNamespace(dir_.path(), args);
    ASSERT_EQ(onLinux.code, 0) << onLinux.Describe();
    std::string latin1;  // two-byte UTF-8 sequences only: the table stays within Latin-1
    for (std::size_t i = 0; i < onLinux.out.size(); ++i) {
      const auto c = static_cast<unsigned char>(onLinux.out[i]);
      latin1 += c < 0x80
                    ? static_cast<char>(c)
                    : static_cast<char>(((c & 3U) << 6U) |
                                        (static_cast<unsigned char>(onLinux.out[++i]) & 0x3FU));
    }
    ASSERT_LT(latin1.size(), onLinux.out.size()) << "the table must hold text outside ASCII";
    const Outcome onWindows = RunWine(args, kCp1252Locale);
    EXPECT_EQ(onWindows.code, 0) << onWindows.Describe();
    EXPECT_EQ(onWindows.out, latin1);
  }
}

}  // namespace
}  // namespace kelvarin::testing
