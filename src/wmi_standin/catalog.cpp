#include "wmi_standin/catalog.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "core/text.h"
#include "wmi_standin/firmware_file.h"
#include "wmi_standin/smbios.h"

namespace kelvarin::wmi_standin {
namespace {

// SMBIOS structure types, and the offsets of the string numbers read in them.
constexpr int kNoType = -1;
constexpr int kBiosInformation = 0;
constexpr int kSystemInformation = 1;
constexpr int kBaseboard = 2;
constexpr int kChassis = 3;
constexpr std::size_t kBiosVendor = 0x04;
constexpr std::size_t kBiosVersion = 0x05;
constexpr std::size_t kManufacturer = 0x04;
constexpr std::size_t kProductName = 0x05;
constexpr std::size_t kSerialNumber = 0x07;  // in system, baseboard and chassis alike

// sysfs attributes and device-tree properties stay within a page.
constexpr std::size_t kMaxAttributeBytes = 4096;
// Read one byte over the cap, to see that a value is longer.
constexpr std::size_t kAttributeReadBytes = kMaxAttributeBytes + 1;
constexpr std::size_t kMaxEntryPointBytes = 64;

// The SMBIOS table and the folder of its values, below the sysfs root.
constexpr std::string_view kDmiTable = "firmware/dmi/tables/DMI";
constexpr std::string_view kEntryPoint = "firmware/dmi/tables/smbios_entry_point";
constexpr std::string_view kDmiId = "class/dmi/id";
// Device-tree properties and the SoC's own attributes, below the sysfs root.
constexpr std::string_view kTreeModel = "firmware/devicetree/base/model";
constexpr std::string_view kTreeCompatible = "firmware/devicetree/base/compatible";
constexpr std::string_view kTreeSerial = "firmware/devicetree/base/serial-number";
constexpr std::string_view kSocSerial = "devices/soc0/serial_number";
// Written into the tree by the boot loader: U-Boot, else the Raspberry Pi's firmware.
constexpr std::string_view kUBootVersion = "firmware/devicetree/base/chosen/u-boot,version";
constexpr std::string_view kPiFirmwareVersion =
    "firmware/devicetree/base/chosen/bootloader/version";

// Files that may hold a value, first choice first; an empty one is passed over.
using Paths = std::array<std::string_view, 2>;

// Where a property's value is found in each of the three sources.
struct Source {
  int type = kNoType;      // SMBIOS structure type
  std::size_t offset = 0;  // byte of that structure holding the string number
  Paths file;              // the same value in class/dmi/id (one file)
  Paths tree;              // on boards: device-tree properties; "compatible" gives the vendor
};

struct ClassDef {
  std::string_view name;
  int instanceType;  // kNoType: one instance per machine; else one per structure of the type
  std::span<const std::string_view> names;
  std::span<const Source> sources;
};

// The properties the program reads; what else its queries select, it never reads.
constexpr std::string_view kSystemNames[] = {"Manufacturer", "Model"};
constexpr Source kSystemSources[] = {
    {kSystemInformation, kManufacturer, {"class/dmi/id/sys_vendor"}, {kTreeCompatible}},
    {kSystemInformation, kProductName, {"class/dmi/id/product_name"}, {kTreeModel}}};
constexpr std::string_view kBiosNames[] = {"Manufacturer", "SMBIOSBIOSVersion", "SerialNumber"};
constexpr Source kBiosSources[] = {
    {kBiosInformation, kBiosVendor, {"class/dmi/id/bios_vendor"}, {}},
    {kBiosInformation,
     kBiosVersion,
     {"class/dmi/id/bios_version"},
     {kUBootVersion, kPiFirmwareVersion}},
    {kSystemInformation,
     kSerialNumber,
     {"class/dmi/id/product_serial"},
     {kTreeSerial, kSocSerial}}};
constexpr std::string_view kSerialNames[] = {"SerialNumber"};
constexpr std::string_view kProductNames[] = {"IdentifyingNumber"};
constexpr Source kBoardSources[] = {{kBaseboard, kSerialNumber, {"class/dmi/id/board_serial"}, {}}};
constexpr Source kProductSources[] = {{kSystemInformation,
                                       kSerialNumber,
                                       {"class/dmi/id/product_serial"},
                                       {kTreeSerial, kSocSerial}}};
constexpr Source kChassisSources[] = {
    {kChassis, kSerialNumber, {"class/dmi/id/chassis_serial"}, {}}};

constexpr ClassDef kClasses[] = {
    {"Win32_ComputerSystem", kNoType, kSystemNames, kSystemSources},
    {"Win32_BIOS", kNoType, kBiosNames, kBiosSources},
    {"Win32_BaseBoard", kBaseboard, kSerialNames, kBoardSources},
    {"Win32_ComputerSystemProduct", kNoType, kProductNames, kProductSources},
    {"Win32_SystemEnclosure", kChassis, kSerialNames, kChassisSources},
};

// Every file a catalog may be read from, once, and how much of it is read:
// all that another machine has to send. Attributes are read one byte over
// the cap, to see that they are longer, and so is the table, to refuse it
// whole.
struct FileList {
  std::array<FirmwarePath, 16> files{};
  std::size_t count = 0;
  constexpr void Add(std::string_view path, std::size_t limit) {
    for (std::size_t i = 0; i < count; ++i) {
      if (files[i].path == path) return;
    }
    files[count++] = {path, limit};
  }
};
constexpr FileList kFiles = [] {
  FileList list;
  list.Add(kDmiTable, smbios::kMaxTableBytes + 1);
  list.Add(kEntryPoint, kMaxEntryPointBytes);
  for (const ClassDef& def : kClasses) {
    for (const Source& source : def.sources) {
      // Copies: GCC 12 will not walk the arrays in place at compile time.
      for (const Paths paths : {source.file, source.tree}) {
        for (const std::string_view path : paths) {
          if (!path.empty()) list.Add(path, kAttributeReadBytes);
        }
      }
    }
  }
  return list;
}();
constexpr std::string_view kFolders[] = {kDmiId};

// Board makers by device-tree vendor prefix, named as the Linux kernel's list
// of vendor prefixes names them; generated at configure time from
// vendor-names.tsv, sorted by prefix. A prefix not listed stands as written.
using TreeVendor = std::pair<std::string_view, std::string_view>;
constexpr TreeVendor kTreeVendors[] = {
#include "wmi_standin/vendor_names.inc"
};
// The lookup is a binary search: the rows must rise strictly.
static_assert(std::ranges::adjacent_find(kTreeVendors, std::ranges::greater_equal{},
                                         &TreeVendor::first) == std::end(kTreeVendors));

Catalog EmptyCatalog() {
  Catalog catalog;
  for (std::size_t i = 0; i < catalog.size(); ++i) {
    catalog[i] = {kClasses[i].name, kClasses[i].names, {}};
  }
  return catalog;
}

// One instance of a class with each property's value as `value` gives it.
template <class Value>
Instance MakeInstance(const ClassDef& def, Value value) {
  Instance instance;
  for (std::size_t i = 0; i < def.sources.size(); ++i) {
    if (auto text = value(def.sources[i])) instance[i] = DecodeText(*text);
  }
  return instance;
}

// One instance of each class, its values read from the files that `paths`
// names: the first that is not empty, else the last one read. A file that
// serves several properties is read once.
template <class Read>
Catalog OneInstanceEach(Paths Source::*paths, Read read) {
  Catalog catalog = EmptyCatalog();
  std::vector<std::pair<std::string_view, std::optional<std::string>>> seen;
  const auto once = [&](std::string_view file) -> const std::optional<std::string>& {
    const auto known = std::ranges::find(seen, file, &decltype(seen)::value_type::first);
    return known != seen.end() ? known->second : seen.emplace_back(file, read(file)).second;
  };
  for (std::size_t i = 0; i < catalog.size(); ++i) {
    catalog[i].instances.push_back(
        MakeInstance(kClasses[i], [&](const Source& source) -> std::optional<std::string> {
          std::optional<std::string> value;
          for (const std::string_view file : source.*paths) {
            if (file.empty()) break;
            value = once(file);
            if (value && !value->empty()) break;
          }
          return value;
        }));
  }
  return catalog;
}

Catalog CatalogFromStructures(const std::vector<smbios::Structure>& structures) {
  Catalog catalog = EmptyCatalog();
  if (structures.empty()) return catalog;
  // The first structure of each type, for the properties read from one.
  std::array<const smbios::Structure*, 256> first{};
  for (const auto& s : structures) {
    if (first[s.type] == nullptr) first[s.type] = &s;
  }
  for (std::size_t i = 0; i < catalog.size(); ++i) {
    const ClassDef& def = kClasses[i];
    // `own` is the structure the instance stands for, if any; properties of
    // other types come from the first structure of theirs.
    const auto instance = [&](const smbios::Structure* own) {
      return MakeInstance(def, [&](const Source& source) -> std::optional<std::string_view> {
        const auto* from = own != nullptr && own->type == source.type
                               ? own
                               : first[static_cast<std::size_t>(source.type)];
        return from == nullptr ? std::nullopt : smbios::StringAt(*from, source.offset);
      });
    };
    if (def.instanceType == kNoType) catalog[i].instances.push_back(instance(nullptr));
    for (const auto& s : structures) {
      if (s.type == def.instanceType) catalog[i].instances.push_back(instance(&s));
    }
  }
  return catalog;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A file's text up to the cap, as `trim` leaves it. A longer file is cut
// before the character that straddles the cap, so that UTF-8 stays UTF-8.
template <class Trim>
std::optional<std::string> ReadText(const FirmwareFiles& files, std::string_view path, Trim trim) {
  const auto bytes = files.Read(path, kAttributeReadBytes);
  if (!bytes) return std::nullopt;
  std::string_view text = bytes->Text();
  if (text.size() > kMaxAttributeBytes) {
    std::size_t end = kMaxAttributeBytes;
    // Back over at most three continuation bytes to the character's lead.
    for (int k = 0; k < 3 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U; ++k) {
      --end;
    }
    text = text.substr(0, end);
  }
  return std::string(trim(text));
}

// A device-tree property is bytes up to a NUL, and so is a SoC attribute
// once its closing newline is blanked and trimmed; "compatible" is a list of
// them, most specific first, each "vendor,device".
Catalog CatalogFromDeviceTree(const FirmwareFiles& files) {
  // Blanks alone are no value either: the next file is tried.
  const auto read = [&](std::string_view file) {
    return ReadText(files, file, [](std::string_view text) {
      text = text.substr(0, text.find('\0'));
      return text.find_first_not_of(" \t\n\r\v\f") == std::string_view::npos ? std::string_view()
                                                                             : text;
    });
  };
  const auto model = read(kTreeModel);
  const auto compatible = read(kTreeCompatible);
  if (!model && !compatible) return EmptyCatalog();
  return OneInstanceEach(&Source::tree, [&](std::string_view file) -> std::optional<std::string> {
    if (file == kTreeModel) return std::optional<std::string>(model);  // already read
    if (file != kTreeCompatible) return read(file);
    const auto comma = compatible ? compatible->find(',') : std::string::npos;
    if (comma == std::string::npos) return std::nullopt;
    const std::string_view prefix = std::string_view(*compatible).substr(0, comma);
    const auto known = std::ranges::lower_bound(kTreeVendors, prefix, {}, &TreeVendor::first);
    const bool listed = known != std::end(kTreeVendors) && known->first == prefix;
    return std::string(listed ? known->second : prefix);
  });
}

}  // namespace

const ClassData* FindClass(const Catalog& catalog, std::string_view className) {
  for (const ClassData& data : catalog) {
    if (EqualsIgnoringAsciiCase(data.name, className)) return &data;
  }
  return nullptr;
}

std::span<const FirmwarePath> CatalogFiles() { return {kFiles.files.data(), kFiles.count}; }
std::span<const std::string_view> CatalogFolders() { return kFolders; }

Catalog LoadCatalog(const FirmwareFiles& files) {
  // One byte over the limit, so that an oversized table is refused rather than cut.
  if (auto dmi = files.Read(kDmiTable, smbios::kMaxTableBytes + 1)) {
    std::span<const std::uint8_t> table = AsBytes(dmi->Text());
    // The entry point only narrows the table; without a sound one the file is taken whole.
    const auto entryPoint = files.Read(kEntryPoint, kMaxEntryPointBytes);
    const std::string_view announced = entryPoint ? entryPoint->Text() : std::string_view();
    if (auto length = smbios::TableLengthFromEntryPoint(AsBytes(announced))) {
      table = table.first(std::min(*length, table.size()));
    }
    const auto structures = smbios::ParseTable(table);
    if (!structures.empty()) return CatalogFromStructures(structures);
  }
  if (files.IsFolder(kDmiId)) {
    // The closing newline sysfs writes is a control character: the fact's
    // reader blanks it and trims it away.
    return OneInstanceEach(&Source::file, [&](std::string_view file) {
      return ReadText(files, file, std::identity{});
    });
  }
  return CatalogFromDeviceTree(files);
}

}  // namespace kelvarin::wmi_standin
