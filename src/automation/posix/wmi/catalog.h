// The five WMI classes as data: which instances each has and which value each
// property holds, filled from the machine's SMBIOS table or, without it, from
// the world-readable files of /sys/class/dmi/id, or on boards without SMBIOS
// from the device tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin::wmi_standin {

// A property's value as UTF-8 text, or nothing for NULL.
using PropertyValue = std::optional<std::string>;

struct Property {
  std::string name;  // as the class spells it, e.g. "SMBIOSBIOSVersion"
  PropertyValue value;
};

struct Instance {
  std::vector<Property> properties;  // every property of the class, in table order
};

struct ClassData {
  std::string name;  // e.g. "Win32_BIOS"
  std::vector<Instance> instances;
};

// The five classes, always all present (possibly without instances).
using Catalog = std::vector<ClassData>;

// WMI matches class and property names without regard to (ASCII) case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The property names each class knows, in table order; empty for an unknown class.
// Matching of class and property names is case-insensitive (ASCII).
std::vector<std::string> PropertyNames(std::string_view className);
const ClassData* FindClass(const Catalog& catalog, std::string_view className);

Catalog CatalogFromTable(std::span<const std::uint8_t> table);
// `dir` holds files named like those in /sys/class/dmi/id.
Catalog CatalogFromDmiIdFiles(const std::filesystem::path& dir);
// `dir` is a device tree's root node, as /sys/firmware/devicetree/base; no
// instances without a "model" or "compatible" there.
Catalog CatalogFromDeviceTree(const std::filesystem::path& dir);
// Every class without instances.
Catalog EmptyCatalog();

// The sources in order under a sysfs root ("/sys" on a real machine):
// firmware/dmi/tables/DMI when readable and holding a structure, else
// class/dmi/id when that folder exists, else the device tree of boards
// without SMBIOS, else no instances at all.
Catalog LoadCatalog(const std::filesystem::path& sysRoot);

}  // namespace kelvarin::wmi_standin
