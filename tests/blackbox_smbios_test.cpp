// The Linux binary reading chosen firmware data at the standard sysfs paths,
// laid out in a private mount namespace.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "child_process.h"
#include "smbios_builder.h"

namespace kelvarin::testing {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

struct Case {
  const char* name;
  const char* args;
  std::optional<SmbiosBuilder> table;
  std::string output;
  std::map<std::string, std::string> dmiId = {};  // class/dmi/id files
  std::map<std::string, std::string> tree = {};   // firmware/devicetree/base files
};
void PrintTo(const Case& test, std::ostream* os) { *os << test.name; }

const SmbiosBuilder kFull = SmbiosBuilder()
                                .Bios("Insyde Corp.", " 1.07 ")
                                .System("Framework", "Laptop (12th Gen)", "FRANBMCP0A")
                                .BaseBoard("BOARD")
                                .End();

using namespace std::string_literals;
const std::map<std::string, std::string> kRaspberryPi = {
    {"compatible", "raspberrypi,4-model-b\0brcm,bcm2711\0"s},
    {"model", "Raspberry Pi 4 Model B Rev 1.4\0"s},
    {"serial-number", "10000000a1b2c3d4\0"s}};

const Case kCases[] = {
    {"Plain", "", kFull,
     Lines({"", "Manufacturer:   Framework", "Model:          Laptop (12th Gen)",
            "Serial Number:  FRANBMCP0A", "BIOS Version:   1.07"})},
    {"CsvWithTabooReplacement", "/C /T _", kFull,
     Lines({"Framework,Laptop _12th Gen_,FRANBMCP0A,1.07"})},
    {"SerialFromSecondEnclosure", "/C",
     SmbiosBuilder().System("Acme", "Box", std::nullopt).Enclosure("   ").Enclosure("CH-2").End(),
     Lines({"Acme,Box,CH-2,#NOTFOUND#"})},
    {"BrokenTableKeepsWhatCameBefore", "/C",
     SmbiosBuilder().System("Acme", "Box", "S-1").Append({0x00, 0x40, 0x00}),
     Lines({"Acme,Box,S-1,#NOTFOUND#"})},
    {"DmiIdFilesWithoutTable",
     "/C",
     std::nullopt,
     Lines({"LENOVO,20XW,#NOTFOUND#,N32ET75W (1.51 )"}),
     {{"sys_vendor", "LENOVO\n"},
      {"product_name", "20XW\n"},
      {"bios_version", "N32ET75W (1.51 )\n"}}},
    {"NoFirmwareData", "/V", std::nullopt,
     Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
            "Checking Win32_BIOS...", " - No objects found in collection",
            "Checking Win32_BaseBoard...", " - No objects found in collection",
            "Checking Win32_ComputerSystemProduct...", " - No objects found in collection",
            "Checking Win32_SystemEnclosure...", " - No objects found in collection", "",
            "Manufacturer:   ", "Model:          ", "Serial Number:  ", "BIOS Version:   "})},
    {"NoFirmwareDataQuiet", "/N", std::nullopt, ""},
    {"DeviceTreeAsUser",
     "",
     std::nullopt,
     Lines({"", "Manufacturer:   Raspberry Pi Foundation",
            "Model:          Raspberry Pi 4 Model B Rev 1.4", "Serial Number:  10000000a1b2c3d4",
            "BIOS Version:   "}),
     {},
     kRaspberryPi},
    {"DeviceTreeCsvAsUser",
     "/C",
     std::nullopt,
     Lines({"Raspberry Pi Foundation,Raspberry Pi 4 Model B Rev 1.4,10000000a1b2c3d4,#NOTFOUND#"}),
     {},
     kRaspberryPi},
};

class FirmwareRun : public ::testing::TestWithParam<Case> {};

TEST_P(FirmwareRun, ReportsWhatTheFirmwareHolds) {
  if (const auto reason = NamespaceUnavailable()) GTEST_SKIP() << *reason;
  TempDir root;
  if (GetParam().table) GetParam().table->WriteTo(root.path());
  if (!GetParam().dmiId.empty()) WriteDmiId(root.path(), GetParam().dmiId);
  for (const auto& [name, content] : GetParam().tree) {
    WriteFile(root.path() / "firmware/devicetree/base" / name, content);
  }
  const Outcome run = RunInNamespace(root.path(), Words(GetParam().args), !GetParam().tree.empty());
  EXPECT_EQ(run.code, 0) << run.Describe();
  EXPECT_EQ(run.out, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Tables, FirmwareRun, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kelvarin::testing
