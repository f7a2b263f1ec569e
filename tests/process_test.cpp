// The real executables run as a script runs them: exit codes and bytes on
// open, closed, full and slow outputs; the Linux binary over chosen firmware
// at the real sysfs paths; the Windows one under Wine, on Wine's own WMI and
// on the stand-in registered as its COM server, where both builds must write
// the same bytes for the same firmware.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <tuple>

#include "process.h"
#include "support.h"
#include "windows/standin_clsid.h"

namespace kelvarin::testing {
namespace {

const std::string kExe = KELVARIN_WINDOWS_EXE;
const std::string kUsage = [] {
  std::ifstream in(KELVARIN_TEST_DATA "/usage.txt");
  std::string usage;
  for (std::string line; std::getline(in, line);) usage += line + "\r\n";
  return usage;
}();

Outcome Wine(std::vector<std::string> args, const std::string& prefix = KELVARIN_WINE_PREFIX,
             Output output = Output::Captured, const std::string& locale = "") {
  args.insert(args.begin(), "wine");
  Env env = WineEnv(prefix);
  if (!locale.empty()) env.emplace_back("LC_ALL", locale);
  return RunProcess(args, output, env);
}

TEST(Process, ExitCodesAndBytesAsAScriptSeesThem) {
  const std::string unexpected = "\r\n\a/X was unexpected.\r\n";
  // Arguments, output, exit code, what is written ("*" for any report line).
  const std::tuple<const char*, Output, int, std::string> cases[] = {
      {"/?", Output::Captured, 9, kUsage},
      {"/?", Output::Closed, 9, ""},
      {"/X", Output::BrokenPipe, 9, ""},
      {"/X", Output::Captured, 9, unexpected + kUsage},
      {"/P x", Output::Captured, 9,
       "ERROR: A password can not be specified without also specifying a username.\r\n"},
      {"/C", Output::DevFull, 1, ""},
      {"/C", Output::Closed, 1, ""},
      {"/V", Output::BrokenPipe, 1, ""},
      {"/C", Output::NearlyFull, 0, "*"},
  };
  for (const bool onWine : {false, true}) {
    if (onWine) {
      if (const auto reason = WineUnavailable(KELVARIN_WINE_PREFIX, {kExe}))
        GTEST_SKIP() << *reason;
      Wine({kExe, "/?"});  // a cold Wine start is no pause
    }
    for (const auto& [args, output, code, written] : cases) {
      std::vector<std::string> argv = Words(args);
      argv.insert(argv.begin(), onWine ? kExe : KELVARIN_BIN);
      const Outcome run =
          onWine ? Wine(argv, KELVARIN_WINE_PREFIX, output) : RunProcess(argv, output);
      SCOPED_TRACE((onWine ? "wine " : "") + argv[1] + " " + run.Describe());
      EXPECT_EQ(run.code, code);
      if (written == "*") {
        EXPECT_TRUE(run.out.size() > 2 && run.out.ends_with("\r\n")) << "the line arrived whole";
      } else if (output == Output::Captured) {
        EXPECT_EQ(run.out, written);
      }
      // /X pauses a second, whether or not anybody reads the output.
      const bool pauses = std::string(args) == "/X";
      EXPECT_EQ(run.seconds >= 0.9, pauses || (onWine && run.seconds >= 0.9));
      EXPECT_LT(run.seconds, 5);
    }
  }
  const Outcome quoted = RunProcess({KELVARIN_BIN, "/M", "x\" /C /M \"localhost"});
  EXPECT_EQ(quoted.code, 9);
  EXPECT_EQ(quoted.out, "\r\n\ax\" /C /M \"localhost was unexpected.\r\n" + kUsage);
}

// Firmware at the real sysfs paths; the device tree read by a user without root.
TEST(Process, LinuxReadsTheFirmwareAtItsPaths) {
  if (const auto reason = NamespaceUnavailable()) GTEST_SKIP() << *reason;
  const TempDir root;
  Lay(root.path(), {{kTree + "compatible", "raspberrypi,4-model-b\0brcm,bcm2711\0"s},
                    {kTree + "model", "Raspberry Pi 4 Model B Rev 1.4\0"s},
                    {kTree + "serial-number", "10000000a1b2c3d4\0"s}});
  EXPECT_EQ(RunInNamespace(root.path(), {}, true).out,
            Lines({"", "Manufacturer:   Raspberry Pi Foundation",
                   "Model:          Raspberry Pi 4 Model B Rev 1.4",
                   "Serial Number:  10000000a1b2c3d4", "BIOS Version:   "}));
  EXPECT_EQ(
      RunInNamespace(root.path(), {"/C"}, true).out,
      "Raspberry Pi Foundation,Raspberry Pi 4 Model B Rev 1.4,10000000a1b2c3d4,#NOTFOUND#\r\n");
  Lay(root.path(),
      Smbios(Bios("Insyde Corp.", " 1.07 ") + System("Framework", "Laptop", "FR1") + kEnd));
  EXPECT_EQ(RunInNamespace(root.path(), {"/C", "/T", "_"}).out, "Framework,Laptop,FR1,1.07\r\n");
}

// Wine 8's own WMI: every query yields one object, but every property read
// fails (E_NOTIMPL), so the trace finds nothing and the report is empty. A
// Wine that answers more must show here, as must a build that reads less.
TEST(Process, WindowsBuildOnWinesOwnWmi) {
  const std::string verinfo = KELVARIN_WINDOWS_VERINFO;
  if (const auto reason = WineUnavailable(KELVARIN_WINE_PREFIX, {kExe, verinfo}))
    GTEST_SKIP() << *reason;
  std::string expected;
  for (const char* name :
       {"ComputerSystem", "BIOS", "BaseBoard", "ComputerSystemProduct", "SystemEnclosure"}) {
    expected += "Checking Win32_"s + name + "...\r\n";
    for (const char* fact : {"Manufacturer", "Model", "Serial Number", "BIOS Version"}) {
      expected += " - Still looking for "s + fact + "...\r\n";
    }
  }
  expected.erase(expected.find("Manufacturer...") + 12, 1);  // the first has two dots
  EXPECT_EQ(Wine({kExe, "/V"}).out, expected +
                                        "\r\nManufacturer:   \r\nModel:          \r\n"
                                        "Serial Number:  \r\nBIOS Version:   \r\n");
  std::string exe = "Z:" + kExe;
  std::ranges::replace(exe, '/', '\\');
  const Outcome version = Wine({verinfo, exe});
  for (const char* line :
       {"FileVersion=1.30", "ProductVersion=Version 1.30", "ProductName=KELVARIN",
        "InternalName=KELVARIN.EXE", "OriginalFilename=KELVARIN.EXE",
        "FileDescription=Kelvarin - BIOS Information Query",
        "Comments=Displays Manufacturer, Model, Serial Number, and BIOS version. WMI must be "
        "functional.",
        "Translation=040904E4", "FixedFileVersion=1.30.0.0", "FixedProductVersion=1.30.0.0"}) {
    EXPECT_NE(("\n" + version.out).find("\n"s + line + "\n"), std::string::npos) << line << " in\n"
                                                                                 << version.out;
  }
  // It must start on a bare Windows: only system DLLs, one export, small.
  const Outcome dump = RunProcess({"x86_64-w64-mingw32-objdump", "-p", kExe});
  const std::set<std::string> system{"kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll"};
  std::smatch match;
  std::set<std::string> imports;
  std::vector<std::string> exports;
  std::istringstream lines(dump.out);
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, match, std::regex("\t\\[ *\\d+\\] (\\S+)")))
      exports.push_back(match[1]);
    if (std::regex_match(line, match, std::regex("\tDLL Name: (.+)"))) imports.insert(match[1]);
  }
  for (auto dll : imports) {
    std::ranges::transform(dll, dll.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(system.contains(dll)) << dll;
  }
  EXPECT_EQ(exports, std::vector<std::string>{"WBEMCOLLECTION_ENUMERATE"});
  EXPECT_FALSE(imports.empty());
  EXPECT_NE(dump.out.find("symbols stripped"), std::string::npos);
  EXPECT_LE(std::filesystem::file_size(kExe), 256U * 1024);
}

// The stand-in registered as the COM server of "WbemScripting.SWbemLocator"
// in a prefix of its own, reading its tables from "sys" beside it.
class Differential : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto reason = NamespaceUnavailable()) GTEST_SKIP() << *reason;
    if (const auto reason = WineUnavailable(kPrefix, {kExe, KELVARIN_WINDOWS_STANDIN_DLL}))
      GTEST_SKIP() << *reason;
    const std::string clsid(kStandinClsid), key = "\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\";
    Lay(kFolder, {{"register.reg",
                   "Windows Registry Editor Version 5.00\r\n" + key +
                       "WbemScripting.SWbemLocator\\CLSID]\r\n@=\"" + clsid + "\"\r\n" + key +
                       "CLSID\\" + clsid +
                       "\\InprocServer32]\r\n@=\"C:\\\\kelvarin-standin\\\\standin_server.dll\"\r\n"
                       "\"ThreadingModel\"=\"Both\"\r\n"}});
    std::filesystem::copy_file(KELVARIN_WINDOWS_STANDIN_DLL, kFolder / "standin_server.dll",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(Wine({"reg", "import", "C:\\kelvarin-standin\\register.reg"}, kPrefix).code, 0);
  }
  // One table for both builds; the Linux run's output and code, then Windows'.
  std::pair<Outcome, Outcome> Both(const std::string& table, const std::vector<std::string>& args,
                                   const std::string& locale = "hi_IN.UTF-8") {
    std::filesystem::remove_all(kFolder / "sys");
    Lay(kFolder / "sys", Smbios(table));
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), kExe);
    return {RunInNamespace(kFolder / "sys", args), Wine(argv, kPrefix, Output::Captured, locale)};
  }
  const std::string kPrefix = KELVARIN_WINE_STANDIN_PREFIX;
  const std::filesystem::path kFolder = std::filesystem::path(kPrefix) / "drive_c/kelvarin-standin";
};

TEST_F(Differential, BothBuildsWriteTheSameBytes) {
  // Commas, semicolons and taboo characters give the CSV switches work; the
  // text shown proves that the table, not the host's, was read.
  const std::pair<std::string, std::string> tables[] = {
      {Bios("Insyde Corp.", "F.42 (2021); rev 'B'") +
           System("HP, Inc.", "ProBook \"450\"", "5CD,XYZ") + Board("PBB-001") +
           Enclosure("CH^9`0") + kEnd,
       "ProBook"},
      {Bios("Vendor", "1.0") + System("Blade Maker", "Blade, 8 slots", "") + Board("FIRST") +
           Board("") + Board("THIRD") + Enclosure("ENC-A") + kEnd,
       "THIRD"},
      {Bios("  Padded  ", "   ") + System("\tTabbed\t", "  Model  X  ", "   ") + Enclosure(" ") +
           kEnd,
       "Model  X"},
      {Bios("", "V0") + Structure(2, 0x0F, {{7, "x"}}).replace(7, 1, "\3") + kEnd, "V0"},
      {kEnd, "#NOTFOUND#"},
      {Bios("Société Générale", "Ä1.0") + System("Straße & Co", "Mod\xE8le", "SN-€-1") +
           Board("Gr\xFCn") + kEnd,
       "Mod\xC3\xA8le"},
  };
  for (const auto& [table, shows] : tables) {
    for (const char* line :
         {"", "/V", "/C", "/C /D ;", "/C /R x", "/C /T _", "/C /A", "/N", "/M localhost /V",
          "/U someone", "/C /A /U someone", "/N /U someone", "/C /M elsewhere.invalid"}) {
      const auto [onLinux, onWindows] = Both(table, Words(line));
      if (line == "/C"s) {
        EXPECT_NE(onLinux.out.find(shows), std::string::npos) << shows;
      }
      EXPECT_EQ(onWindows.out, onLinux.out) << line;
      EXPECT_EQ(onWindows.code, onLinux.code) << line << " " << onWindows.Describe();
    }
  }
}

// Where the ANSI code page is not UTF-8 the Windows build writes that code
// page: for text within Latin-1, code page 1252 is the Linux output re-encoded.
TEST_F(Differential, WindowsBuildWritesTheAnsiCodePage) {
  const auto [onLinux, onWindows] =
      Both(Bios("Société", "Ä1.0") + System("Straße", "Mod\xE8le", "N° 12") + kEnd, {"/C"},
           "en_US.UTF-8");
  std::string latin1;
  for (std::size_t i = 0; i < onLinux.out.size(); ++i) {
    const auto c = static_cast<unsigned char>(onLinux.out[i]);
    latin1 += static_cast<char>(c < 0x80 ? c : ((c & 3U) << 6U) | (onLinux.out[++i] & 0x3F));
  }
  EXPECT_LT(latin1.size(), onLinux.out.size()) << "the table holds text outside ASCII";
  EXPECT_EQ(onWindows.out, latin1);
}

}  // namespace
}  // namespace kelvarin::testing
