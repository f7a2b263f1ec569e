#include "automation/posix/wmi/catalog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <tuple>

#include "automation/posix/wmi/smbios.h"
#include "smbios_builder.h"

namespace kelvarin::wmi_standin {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::ByteBuffer;
using testing::SmbiosBuilder;

const char* const kClasses[] = {"Win32_ComputerSystem", "Win32_BIOS", "Win32_BaseBoard",
                                "Win32_ComputerSystemProduct", "Win32_SystemEnclosure"};

// The classes in kClasses order joined by '|', each instance as "(value,...)"
// with NULL as '~'.
std::string Flatten(const Catalog& catalog) {
  EXPECT_EQ(catalog.size(), 5U);
  std::string flat;
  for (const char* name : kClasses) {
    const ClassData* data = FindClass(catalog, name);
    if (name != kClasses[0]) flat += '|';
    if (data == nullptr) return flat + "<no " + name + ">";
    for (const Instance& instance : data->instances) {
      std::vector<std::string> names;
      char separator = '(';
      for (const Property& p : instance.properties) {
        names.push_back(p.name);
        flat += separator + p.value.value_or("~");
        separator = ',';
      }
      flat += ')';
      EXPECT_EQ(names, PropertyNames(name)) << name;
    }
  }
  return flat;
}

TEST(PropertyNamesTest, WhatTheProgramAsksForInAnyCase) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"win32_computersystem", {"Manufacturer", "Model", "AdminPasswordStatus"}},
      {"WIN32_BIOS", {"Manufacturer", "SMBIOSBIOSVersion", "SerialNumber"}},
      {"Win32_BaseBoard", {"SerialNumber"}},
      {"Win32_ComputerSystemProduct", {"IdentifyingNumber"}},
      {"Win32_SystemEnclosure", {"SerialNumber"}},
      {"Win32_BIOSX", {}},
  };
  const Catalog catalog = EmptyCatalog();
  for (const auto& [name, properties] : cases) {
    EXPECT_EQ(PropertyNames(name), properties) << name;
    EXPECT_EQ(FindClass(catalog, name) != nullptr, !properties.empty()) << name;
  }
}

TEST(CatalogFromTableTest, MapsStructuresToInstances) {
  // clang-format off
  const std::pair<ByteBuffer, std::string> cases[] = {
      {SmbiosBuilder().Enclosure("C1").BaseBoard("B1").System("M", "P", "S").Enclosure({})
           .BaseBoard("B2").Enclosure("C3").Bytes(),
       "(M,P,~)|(~,~,S)|(B1)(B2)|(S)|(C1)(~)(C3)"},
      // String number 0, one past the strings, an offset just past the formatted area
      // (where the first string's byte would read as number 1).
      {SmbiosBuilder().Raw(1, {0, 3, 0, 1}, {"first", "second"}).Raw(0, {2}, {"\x01", "1"}).Bytes(),
       "(~,~,~)|(1,~,first)||(first)|"},
      {SmbiosBuilder().Bios("Caf\xE9 ", "\xC3\xA9t\xC3\xA9").System("  ", " P\t", " S ").Bytes(),
       "(  , P\t,~)|(Caf\xC3\xA9 ,\xC3\xA9t\xC3\xA9, S )||( S )|"},
      {{}, "||||"},
  };
  // clang-format on
  for (const auto& [table, flat] : cases) EXPECT_EQ(Flatten(CatalogFromTable(table)), flat);
}

// A FIFO never blocks the run: it counts as absent and the next source serves.
TEST(LoadCatalogTest, SpecialFilesCountAsAbsent) {
  const ByteBuffer table = SmbiosBuilder().System("M", "P", "S").End().Bytes();
  const std::pair<const char*, std::string> cases[] = {
      {"firmware/dmi/tables/DMI", "(D,~,~)|(~,~,~)|(~)|(~)|(~)"},
      {"firmware/dmi/tables/smbios_entry_point", "(M,P,~)|(~,~,S)||(S)|"},
      {"class/dmi/id/sys_vendor", "(~,~,~)|(~,~,~)|(~)|(~)|(~)"},
  };
  for (const auto& [fifo, flat] : cases) {
    const testing::TempDir root;
    // The table only where the FIFO is not in the fallback folder.
    if (std::string(fifo).starts_with("firmware")) {
      testing::WriteFile(root.path() / "firmware/dmi/tables/DMI", table);
    }
    testing::WriteDmiId(root.path(), {{"sys_vendor", "D"}});
    fs::remove(root.path() / fifo);
    ASSERT_EQ(mkfifo((root.path() / fifo).c_str(), 0600), 0);
    EXPECT_EQ(Flatten(LoadCatalog(root.path())), flat) << fifo;
  }
}

// Boards without SMBIOS: the vendor from the first "compatible" entry, the
// model and the serial number; properties end at their first NUL, if any.
TEST(LoadCatalogTest, DeviceTreeOfBoardsWithoutSmbios) {
  using Files = std::map<std::string, std::string>;
  const std::string pi = "raspberrypi,4-model-b\0brcm,bcm2711\0"s;
  const std::pair<Files, std::string> cases[] = {
      {{{"compatible", pi},
        {"model", "Raspberry Pi 4 Model B Rev 1.4\0"s},
        {"serial-number", "10000000a1b2c3d4\0"s}},
       "(Raspberry Pi Foundation,Raspberry Pi 4 Model B Rev 1.4,~)|(~,~,10000000a1b2c3d4)|(~)|"
       "(10000000a1b2c3d4)|(~)"},
      {{{"compatible", "acme-boards,x1\0"s}, {"model", "X1"}, {"serial-number", ""}},
       "(acme-boards,X1,~)|(~,~,)|(~)|()|(~)"},
      {{{"compatible", "generic-board\0"s}}, "(~,~,~)|(~,~,~)|(~)|(~)|(~)"},
      {{{"name", "soc\0"s}, {"serial-number", "S"}}, "||||"},
  };
  for (const auto& [files, flat] : cases) {
    const testing::TempDir root;
    for (const auto& [name, content] : files) {
      testing::WriteFile(root.path() / "firmware/devicetree/base" / name, content);
    }
    EXPECT_EQ(Flatten(LoadCatalog(root.path())), flat);
    // SMBIOS, where there is any, comes first.
    SmbiosBuilder().System("M", "P", "S").WriteTo(root.path());
    EXPECT_EQ(Flatten(LoadCatalog(root.path())), "(M,P,~)|(~,~,S)||(S)|");
  }
}

TEST(LoadCatalogTest, TakesTheFirstSourceThatHasData) {
  SmbiosBuilder machine;
  machine.Bios("V", "1.0").System("M", "P", "S").BaseBoard("B");
  const auto withoutEnclosure = static_cast<std::uint32_t>(machine.Bytes().size());
  const ByteBuffer table = machine.Enclosure("C").End().Bytes();
  ByteBuffer oversized = table;
  oversized.resize(smbios::kMaxTableBytes + 1, 0);
  const std::string fromTable = "(M,P,~)|(V,1.0,S)|(B)|(S)|(C)";
  // Missing and unreadable files are NULL; one closing newline goes.
  const std::string fromDmiId = "(  M  ,P\n,~)|(Caf\xC3\xA9,1.0,~)|(~)|(~)|()";
  // clang-format off
  const std::map<std::string, std::string> dmiId = {
      {"sys_vendor", "  M  \n"}, {"product_name", "P\n\n"}, {"bios_vendor", "Caf\xE9\n"},
      {"bios_version", "1.0"}, {"chassis_serial", ""}};
  // clang-format on
  // The DMI file (none when empty), the entry point beside it, whether dmi/id is there.
  const std::tuple<ByteBuffer, std::optional<ByteBuffer>, bool, std::string> cases[] = {
      {table, testing::EntryPoint3(1000), true, fromTable},
      {table, {}, false, fromTable},
      {table, ByteBuffer{'_', 'S', 'M', '3', '_', 1}, false, fromTable},
      {table, testing::EntryPoint3(withoutEnclosure), false, "(M,P,~)|(V,1.0,S)|(B)|(S)|"},
      {SmbiosBuilder().End().Bios("V", "1").Bytes(), {}, true, fromDmiId},
      {oversized, {}, true, fromDmiId},
      {{}, {}, true, fromDmiId},
      {{}, {}, false, "||||"},
  };
  for (const auto& c : cases) {
    const auto& [dmi, entryPoint, hasDmiId, flat] = c;
    const testing::TempDir root;
    const fs::path tables = root.path() / "firmware/dmi/tables";
    if (!dmi.empty()) testing::WriteFile(tables / "DMI", dmi);
    if (entryPoint) testing::WriteFile(tables / "smbios_entry_point", *entryPoint);
    if (hasDmiId) {
      testing::WriteDmiId(root.path(), dmiId);
      fs::create_directories(root.path() / "class/dmi/id/board_serial");  // cannot be read
    }
    EXPECT_EQ(Flatten(LoadCatalog(root.path())), flat) << "row " << &c - cases;
  }
}

}  // namespace
}  // namespace kelvarin::wmi_standin
