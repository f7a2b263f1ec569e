#include "automation/posix/wmi/catalog.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "automation/posix/wmi/smbios.h"
#include "smbios_builder.h"

namespace kelvarin::wmi_standin {
namespace {

namespace fs = std::filesystem;
using kelvarin::testing::ByteBuffer;
using kelvarin::testing::EntryPoint3;
using kelvarin::testing::SmbiosBuilder;
using kelvarin::testing::WriteDmiId;
using kelvarin::testing::WriteFile;

constexpr std::nullopt_t N = std::nullopt;

// Class -> instances -> values in the class's property order.
using Values = std::vector<PropertyValue>;
using Flat = std::map<std::string, std::vector<Values>>;

Flat Flatten(const Catalog& catalog) {
  Flat flat;
  for (const ClassData& data : catalog) {
    std::vector<Values>& instances = flat[data.name];
    for (const Instance& instance : data.instances) {
      std::vector<std::string> names;
      instances.emplace_back();
      for (const Property& p : instance.properties) {
        names.push_back(p.name);
        instances.back().push_back(p.value);
      }
      EXPECT_EQ(names, PropertyNames(data.name)) << data.name;
    }
  }
  return flat;
}

Flat Make(std::vector<Values> system, std::vector<Values> bios, std::vector<Values> boards,
          std::vector<Values> product, std::vector<Values> enclosures) {
  return {{"Win32_ComputerSystem", std::move(system)},
          {"Win32_BIOS", std::move(bios)},
          {"Win32_BaseBoard", std::move(boards)},
          {"Win32_ComputerSystemProduct", std::move(product)},
          {"Win32_SystemEnclosure", std::move(enclosures)}};
}

const Flat kNone = Make({}, {}, {}, {}, {});

TEST(PropertyNamesTest, ClassesAndPropertiesAsTheProgramAsksForThem) {
  const struct {
    const char* className;
    std::vector<std::string> names;
  } cases[] = {
      {"Win32_ComputerSystem", {"Manufacturer", "Model", "AdminPasswordStatus"}},
      {"win32_bios", {"Manufacturer", "SMBIOSBIOSVersion", "SerialNumber"}},
      {"WIN32_BASEBOARD", {"SerialNumber"}},
      {"Win32_ComputerSystemProduct", {"IdentifyingNumber"}},
      {"Win32_SystemEnclosure", {"SerialNumber"}},
      {"Win32_BIOSX", {}},
      {"Win32_Processor", {}},
  };
  const Catalog catalog = EmptyCatalog();
  EXPECT_EQ(catalog.size(), 5U);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.className);
    EXPECT_EQ(PropertyNames(c.className), c.names);
    EXPECT_EQ(FindClass(catalog, c.className) != nullptr, !c.names.empty());
  }
}

TEST(CatalogFromTableTest, MapsStructuresToInstances) {
  const struct {
    const char* name;
    ByteBuffer table;
    Flat expected;
  } cases[] = {
      {"one of each",
       SmbiosBuilder()
           .Bios("V", "1.0")
           .System("M", "P", "S")
           .BaseBoard("B")
           .Enclosure("C")
           .End()
           .Bytes(),
       Make({{"M", "P", N}}, {{"V", "1.0", "S"}}, {{"B"}}, {{"S"}}, {{"C"}})},
      {"several boards and enclosures",
       SmbiosBuilder()
           .Enclosure("C1")
           .BaseBoard("B1")
           .System("M", "P", "S")
           .Enclosure(N)
           .BaseBoard("B2")
           .Enclosure("C3")
           .Bytes(),
       Make({{"M", "P", N}}, {{N, N, "S"}}, {{"B1"}, {"B2"}}, {{"S"}}, {{"C1"}, {N}, {"C3"}})},
      {"only an enclosure", SmbiosBuilder().Enclosure("C").Bytes(),
       Make({{N, N, N}}, {{N, N, N}}, {}, {{N}}, {{"C"}})},
      {"string number 0 and past the strings",
       SmbiosBuilder().Raw(1, {0, 3, 0, 1}, {"first", "second"}).Raw(0, {2, 1}, {"v", "1"}).Bytes(),
       Make({{N, N, N}}, {{"1", "v", "first"}}, {}, {{"first"}}, {})},
      {"structure too short for the serial", SmbiosBuilder().Raw(1, {1, 2, 0}, {"M", "P"}).Bytes(),
       Make({{"M", "P", N}}, {{N, N, N}}, {}, {{N}}, {})},
      {"bytes as they are",
       SmbiosBuilder().Bios("Caf\xE9 ", "\xC3\xA9t\xC3\xA9").System("  ", " P\t", " S ").Bytes(),
       Make({{"  ", " P\t", N}}, {{"Caf\xC3\xA9 ", "\xC3\xA9t\xC3\xA9", " S "}}, {}, {{" S "}},
            {})},
      {"no structures", {}, kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Flatten(CatalogFromTable(c.table)), c.expected);
  }
}

SmbiosBuilder Machine() {
  SmbiosBuilder b;
  b.Bios("V", "1.0").System("M", "P", "S").BaseBoard("B").Enclosure("C").End();
  return b;
}

const Flat kFromTable = Make({{"M", "P", N}}, {{"V", "1.0", "S"}}, {{"B"}}, {{"S"}}, {{"C"}});
const Flat kFromTableWithoutEnclosure =
    Make({{"M", "P", N}}, {{"V", "1.0", "S"}}, {{"B"}}, {{"S"}}, {});
const std::map<std::string, std::string> kDmiIdFiles = {
    {"sys_vendor", "DM\n"},    {"product_name", "DP\n"},   {"bios_vendor", "DV\n"},
    {"bios_version", "D1\n"},  {"product_serial", "DS\n"}, {"board_serial", "DB\n"},
    {"chassis_serial", "DC\n"}};
const Flat kFromDmiId = Make({{"DM", "DP", N}}, {{"DV", "D1", "DS"}}, {{"DB"}}, {{"DS"}}, {{"DC"}});

TEST(LoadCatalogTest, TakesTheFirstSourceThatHasData) {
  const auto dmiFile = [](const fs::path& root) { return root / "firmware/dmi/tables/DMI"; };
  // The length of the machine's table up to, not including, the enclosure.
  const auto withoutEnclosure = static_cast<std::uint16_t>(
      SmbiosBuilder().Bios("V", "1.0").System("M", "P", "S").BaseBoard("B").Bytes().size());
  const struct {
    const char* name;
    std::function<void(const fs::path&)> setUp;
    Flat expected;
  } cases[] = {
      {"table before dmi/id",
       [](const fs::path& root) {
         Machine().WriteTo(root);
         WriteDmiId(root, kDmiIdFiles);
       },
       kFromTable},
      {"table without entry point",
       [&](const fs::path& root) { WriteFile(dmiFile(root), Machine().Bytes()); }, kFromTable},
      {"table with a broken entry point",
       [](const fs::path& root) {
         Machine().WriteTo(root, ByteBuffer{'_', 'S', 'M', '3', '_', 1});
       },
       kFromTable},
      {"_SM3_ entry point narrows the table",
       [&](const fs::path& root) { Machine().WriteTo(root, EntryPoint3(withoutEnclosure)); },
       kFromTableWithoutEnclosure},
      {"entry point beyond the file",
       [](const fs::path& root) { Machine().WriteTo(root, EntryPoint3(1U << 20)); }, kFromTable},
      {"table without a structure falls back",
       [](const fs::path& root) {
         SmbiosBuilder().End().Bios("V", "1").WriteTo(root);
         WriteDmiId(root, kDmiIdFiles);
       },
       kFromDmiId},
      {"oversized table falls back",
       [](const fs::path& root) {
         Machine().Append(ByteBuffer(smbios::kMaxTableBytes, 0)).WriteTo(root);
         WriteDmiId(root, kDmiIdFiles);
       },
       kFromDmiId},
      {"dmi/id as it is",
       [](const fs::path& root) {
         WriteDmiId(root, {{"sys_vendor", "  M  \n"},
                           {"product_name", "P\n\n"},
                           {"bios_vendor", "Caf\xE9\n"},
                           {"bios_version", "1.0"},
                           {"chassis_serial", ""}});
         fs::create_directories(root / "class/dmi/id/board_serial");  // cannot be read
       },
       Make({{"  M  ", "P\n", N}}, {{"Caf\xC3\xA9", "1.0", N}}, {{N}}, {{N}}, {{""}})},
      {"empty dmi/id", [](const fs::path& root) { WriteDmiId(root, {}); },
       Make({{N, N, N}}, {{N, N, N}}, {{N}}, {{N}}, {{N}})},
      {"nothing", [](const fs::path&) {}, kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const kelvarin::testing::TempDir root;
    c.setUp(root.path());
    EXPECT_EQ(Flatten(LoadCatalog(root.path())), c.expected);
  }
}

}  // namespace
}  // namespace kelvarin::wmi_standin
