// The five WMI classes as data: which instances each has and which value each
// property holds, filled from the machine's SMBIOS table or, without it, from
// the world-readable files of /sys/class/dmi/id, or on boards without SMBIOS
// from the device tree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wmi_standin/firmware_file.h"
#include "wmi_standin/snapshot.h"

namespace kelvarin::wmi_standin {

inline constexpr std::size_t kMaxProperties = 3;

// A property's value as UTF-8 text, or nothing for NULL.
using PropertyValue = std::optional<std::string>;

// The values of one object, in the order of its class's property names.
using Instance = std::array<PropertyValue, kMaxProperties>;

struct ClassData {
  std::string_view name;                         // e.g. "Win32_BIOS"
  std::span<const std::string_view> properties;  // as the class spells them
  std::vector<Instance> instances;
};

// The five classes, always all present (possibly without instances).
using Catalog = std::array<ClassData, 5>;

// Class names match without regard to ASCII case.
const ClassData* FindClass(const Catalog& catalog, std::string_view className);

// The files and folders below the sysfs root that LoadCatalog may look at.
std::span<const FirmwarePath> CatalogFiles();
std::span<const std::string_view> CatalogFolders();

// The sources in order below a sysfs root ("/sys" on a real machine):
// firmware/dmi/tables/DMI when readable and holding a structure (narrowed to
// the length its entry point announces), else class/dmi/id when that folder
// exists, else the device tree at firmware/devicetree/base when it holds
// "model" or "compatible", else no instances at all.
Catalog LoadCatalog(const FirmwareFiles& files);

}  // namespace kelvarin::wmi_standin
