// The real Linux binary against chosen firmware data: each case lays its
// table (or its sysfs files) at the standard paths inside a private mount
// namespace, so the binary reads them exactly as it reads a machine's.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "smbios_builder.h"

#ifndef KELVARIN_BIN
#define KELVARIN_BIN ""
#endif

namespace kelvarin::testing {
namespace {

struct RunResult {
  std::string out;
  int code = -1;
};

// Mounts empty tmpfs over /sys/firmware and /sys/class, copies what `fixture`
// holds below firmware/ and class/ into them, then runs the binary.
RunResult RunInNamespace(const std::filesystem::path& fixture, const std::string& switches) {
  const std::string script =
      "set -e; mount -t tmpfs none /sys/firmware; mount -t tmpfs none /sys/class; "
      "cp -r \"$1\"/firmware/. /sys/firmware/ 2>/dev/null || true; "
      "cp -r \"$1\"/class/. /sys/class/ 2>/dev/null || true; "
      "exec \"$2\" " +
      switches;
  const std::string command = "unshare -m sh -c '" + script + "' sh '" + fixture.string() +
                              "' '" KELVARIN_BIN "' 2>/dev/null";
  RunResult run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  return run;
}

bool CanUseMountNamespaces() {
  static const bool can = [] {
    if (::geteuid() != 0) return false;
    return std::system("unshare -m sh -c 'mount -t tmpfs none /sys/firmware' 2>/dev/null") == 0;
  }();
  return can;
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

struct Case {
  const char* name;
  std::function<void(const std::filesystem::path&)> lay;
  const char* switches;
  std::string output;
  int code;
};

class FirmwareRun : public ::testing::TestWithParam<Case> {};

TEST_P(FirmwareRun, ReportsWhatTheFirmwareHolds) {
  if (!CanUseMountNamespaces()) GTEST_SKIP() << "needs root and private mount namespaces";
  TempDir fixture;
  GetParam().lay(fixture.path());
  const RunResult run = RunInNamespace(fixture.path(), GetParam().switches);
  EXPECT_EQ(run.out, GetParam().output);
  EXPECT_EQ(run.code, GetParam().code);
}

void FullTable(const std::filesystem::path& root) {
  SmbiosBuilder()
      .Bios("Insyde Corp.", " 1.07 ")
      .System("Framework", "Laptop (12th Gen)", "FRANBMCP0A")
      .BaseBoard("BOARD")
      .End()
      .WriteTo(root);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FirmwareRun,
    ::testing::Values(
        Case{"Plain", FullTable, "",
             Lines({"", "Manufacturer:   Framework", "Model:          Laptop (12th Gen)",
                    "Serial Number:  FRANBMCP0A", "BIOS Version:   1.07"}),
             0},
        Case{"CsvWithTabooReplacement", FullTable, "/C /T _",
             Lines({"Framework,Laptop _12th Gen_,FRANBMCP0A,1.07"}), 0},
        Case{"SerialFromSecondEnclosure",
             [](const auto& root) {
               SmbiosBuilder()
                   .System("Acme", "Box", std::nullopt)
                   .Enclosure("   ")
                   .Enclosure("CH-2")
                   .End()
                   .WriteTo(root);
             },
             "/C", Lines({"Acme,Box,CH-2,#NOTFOUND#"}), 0},
        Case{
            "BrokenTableKeepsWhatCameBefore",
            [](const auto& root) {
              SmbiosBuilder().System("Acme", "Box", "S-1").Append({0x00, 0x40, 0x00}).WriteTo(root);
            },
            "/C", Lines({"Acme,Box,S-1,#NOTFOUND#"}), 0},
        Case{"DmiIdFilesWithoutTable",
             [](const auto& root) {
               WriteDmiId(root, {{"sys_vendor", "LENOVO\n"},
                                 {"product_name", "20XW\n"},
                                 {"bios_version", "N32ET75W (1.51 )\n"}});
             },
             "/C", Lines({"LENOVO,20XW,#NOTFOUND#,N32ET75W (1.51 )"}), 0},
        Case{
            "NoFirmwareData", [](const auto&) {}, "/V",
            Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
                   "Checking Win32_BIOS...", " - No objects found in collection",
                   "Checking Win32_BaseBoard...", " - No objects found in collection",
                   "Checking Win32_ComputerSystemProduct...", " - No objects found in collection",
                   "Checking Win32_SystemEnclosure...", " - No objects found in collection", "",
                   "Manufacturer:   ", "Model:          ", "Serial Number:  ", "BIOS Version:   "}),
            0},
        Case{"NoFirmwareDataQuiet", [](const auto&) {}, "/N", "", 0}),
    [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
}  // namespace kelvarin::testing
