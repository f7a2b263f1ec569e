#include "automation/posix/wmi/catalog.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

#include "automation/posix/wmi/smbios.h"

namespace kelvarin::wmi_standin {
namespace {

constexpr int kNoType = -1;
constexpr int kOnePerMachine = -1;

// sysfs attributes never exceed a page.
constexpr std::size_t kMaxAttributeBytes = 4096;
constexpr std::size_t kMaxEntryPointBytes = 64;

// Where a property's value is found in each of the three sources.
struct Source {
  int type = kNoType;      // SMBIOS structure type
  std::size_t offset = 0;  // byte of that structure holding the string number
  std::string_view file;   // the same value in class/dmi/id
  // The device-tree property; from "compatible" the board's vendor is taken.
  std::string_view node;
};

struct PropertyDef {
  std::string_view name;
  Source source;
};

struct ClassDef {
  std::string_view name;
  int instanceType = kOnePerMachine;  // else one instance per structure of this type
  std::vector<PropertyDef> properties;
};

const std::vector<ClassDef>& Classes() {
  static const std::vector<ClassDef> classes = {
      {"Win32_ComputerSystem",
       kOnePerMachine,
       {{"Manufacturer", {1, 0x04, "sys_vendor", "compatible"}},
        {"Model", {1, 0x05, "product_name", "model"}},
        // Selected by the program's query; nothing on this side knows it.
        {"AdminPasswordStatus", {}}}},
      {"Win32_BIOS",
       kOnePerMachine,
       {{"Manufacturer", {0, 0x04, "bios_vendor", {}}},
        {"SMBIOSBIOSVersion", {0, 0x05, "bios_version", {}}},
        {"SerialNumber", {1, 0x07, "product_serial", "serial-number"}}}},
      {"Win32_BaseBoard", 2, {{"SerialNumber", {2, 0x07, "board_serial", {}}}}},
      {"Win32_ComputerSystemProduct",
       kOnePerMachine,
       {{"IdentifyingNumber", {1, 0x07, "product_serial", "serial-number"}}}},
      {"Win32_SystemEnclosure", 3, {{"SerialNumber", {3, 0x07, "chassis_serial", {}}}}},
  };
  return classes;
}

// Board vendors by their device-tree prefix, named as the Linux kernel's
// vendor-prefix list names them: the makers of single-board computers and
// of the chips they are built on. A prefix not listed stands as written.
constexpr std::pair<std::string_view, std::string_view> kTreeVendors[] = {
    {"allwinner", "Allwinner Technology Co., Ltd."},
    {"amlogic", "Amlogic, Inc."},
    {"bananapi", "BIPAI KEJI LIMITED"},
    {"beagle", "BeagleBoard.org Foundation"},
    {"brcm", "Broadcom Corporation"},
    {"compulab", "CompuLab Ltd."},
    {"cubietech", "Cubietech, Ltd."},
    {"firefly", "Firefly"},
    {"friendlyarm", "Guangzhou FriendlyARM Computer Tech Co., Ltd"},
    {"fsl", "Freescale Semiconductor"},
    {"google", "Google, Inc."},
    {"hardkernel", "Hardkernel Co., Ltd"},
    {"khadas", "Khadas"},
    {"lemaker", "Shenzhen LeMaker Technology Co., Ltd."},
    {"libretech", "Shenzhen Libre Technology Co., Ltd"},
    {"marvell", "Marvell Technology Group Ltd."},
    {"mediatek", "MediaTek Inc."},
    {"microchip", "Microchip Technology Inc."},
    {"nvidia", "NVIDIA"},
    {"nxp", "NXP Semiconductors"},
    {"olimex", "OLIMEX Ltd."},
    {"phytec", "PHYTEC Messtechnik GmbH"},
    {"pine64", "Pine64"},
    {"qcom", "Qualcomm Technologies, Inc"},
    {"radxa", "Radxa"},
    {"raspberrypi", "Raspberry Pi Foundation"},
    {"rockchip", "Fuzhou Rockchip Electronics Co., Ltd"},
    {"samsung", "Samsung Semiconductor"},
    {"sifive", "SiFive, Inc."},
    {"sinovoip", "SinoVoip Co., Ltd"},
    {"sipeed", "Shenzhen Sipeed Technology Co., Ltd."},
    {"solidrun", "SolidRun"},
    {"st", "STMicroelectronics"},
    {"starfive", "StarFive Technology Co. Ltd."},
    {"technexion", "TechNexion"},
    {"thead", "T-Head Semiconductor Co., Ltd."},
    {"ti", "Texas Instruments"},
    {"toradex", "Toradex AG"},
    {"variscite", "Variscite Ltd."},
    {"xlnx", "Xilinx"},
    {"xunlong", "Shenzhen Xunlong Software CO.,Limited"},
};

const ClassDef* FindClassDef(std::string_view className) {
  for (const ClassDef& def : Classes()) {
    if (EqualsIgnoringAsciiCase(def.name, className)) return &def;
  }
  return nullptr;
}

#ifdef _WIN32
int OpenForReading(const std::filesystem::path& path) {
  return _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
}
bool IsRegularFile(int fd) {
  struct _stat64 status {};
  return _fstat64(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}
long long ReadSome(int fd, char* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
void CloseFile(int fd) { _close(fd); }
#else
// Non-blocking and never a controlling terminal: opening a FIFO or a device
// must not wait for a partner.
int OpenForReading(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}
bool IsRegularFile(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}
long long ReadSome(int fd, char* buffer, std::size_t size) {
  ssize_t got = 0;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}
void CloseFile(int fd) { ::close(fd); }
#endif

// Closes what it opened.
struct OpenFile {
  explicit OpenFile(const std::filesystem::path& path) : fd(OpenForReading(path)) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd >= 0) CloseFile(fd);
  }
  const int fd;
};

// At most `limit` bytes of a regular file; nothing when it cannot be opened
// or read, or is anything else (a FIFO, socket, device or folder could block
// or never end; real sysfs attributes are regular files).
std::optional<std::string> ReadFile(const std::filesystem::path& path, std::size_t limit) {
  const OpenFile file(path);
  const int fd = file.fd;
  if (fd < 0 || !IsRegularFile(fd)) return std::nullopt;
  // In small steps: tables are a few KiB, and the limit is only a ceiling.
  std::string data;
  char chunk[4096];
  while (data.size() < limit) {
    const long long got = ReadSome(fd, chunk, std::min(sizeof chunk, limit - data.size()));
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const smbios::Structure* FirstOfType(const std::vector<smbios::Structure>& structures, int type) {
  for (const smbios::Structure& s : structures) {
    if (s.type == type) return &s;
  }
  return nullptr;
}

// `own` is the structure the instance stands for, if any; properties of other
// types come from the first structure of theirs.
Instance InstanceFromTable(const ClassDef& def, const std::vector<smbios::Structure>& structures,
                           const smbios::Structure* own) {
  Instance instance;
  for (const PropertyDef& property : def.properties) {
    PropertyValue value;
    const Source& source = property.source;
    if (source.type != kNoType) {
      const smbios::Structure* from =
          own != nullptr && own->type == source.type ? own : FirstOfType(structures, source.type);
      if (from != nullptr) {
        if (auto text = smbios::StringAt(*from, source.offset)) value = smbios::DecodeText(*text);
      }
    }
    instance.properties.push_back({std::string(property.name), std::move(value)});
  }
  return instance;
}

Catalog CatalogFromStructures(const std::vector<smbios::Structure>& structures) {
  Catalog catalog = EmptyCatalog();
  if (structures.empty()) return catalog;
  for (std::size_t i = 0; i < Classes().size(); ++i) {
    const ClassDef& def = Classes()[i];
    std::vector<Instance>& instances = catalog[i].instances;
    if (def.instanceType == kOnePerMachine) {
      instances.push_back(InstanceFromTable(def, structures, nullptr));
      continue;
    }
    for (const smbios::Structure& s : structures) {
      if (s.type == def.instanceType) instances.push_back(InstanceFromTable(def, structures, &s));
    }
  }
  return catalog;
}

}  // namespace

std::vector<std::string> PropertyNames(std::string_view className) {
  std::vector<std::string> names;
  if (const ClassDef* def = FindClassDef(className)) {
    for (const PropertyDef& property : def->properties) names.emplace_back(property.name);
  }
  return names;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

const ClassData* FindClass(const Catalog& catalog, std::string_view className) {
  for (const ClassData& data : catalog) {
    if (EqualsIgnoringAsciiCase(data.name, className)) return &data;
  }
  return nullptr;
}

Catalog CatalogFromTable(std::span<const std::uint8_t> table) {
  return CatalogFromStructures(smbios::ParseTable(table));
}

Catalog CatalogFromDmiIdFiles(const std::filesystem::path& dir) {
  Catalog catalog = EmptyCatalog();
  for (std::size_t i = 0; i < Classes().size(); ++i) {
    Instance instance;
    for (const PropertyDef& property : Classes()[i].properties) {
      PropertyValue value;
      if (!property.source.file.empty()) {
        if (auto content = ReadFile(dir / property.source.file, kMaxAttributeBytes)) {
          if (!content->empty() && content->back() == '\n') content->pop_back();
          value = smbios::DecodeText(*content);
        }
      }
      instance.properties.push_back({std::string(property.name), std::move(value)});
    }
    catalog[i].instances.push_back(std::move(instance));
  }
  return catalog;
}

Catalog CatalogFromDeviceTree(const std::filesystem::path& dir) {
  // A property is bytes up to a NUL; "compatible" is a list of them, most
  // specific first, each "vendor,device".
  const auto text = [&](std::string_view node) -> PropertyValue {
    auto content = ReadFile(dir / node, kMaxAttributeBytes);
    if (!content) return std::nullopt;
    content->resize(std::min(content->size(), content->find('\0')));
    return content;
  };
  const PropertyValue model = text("model");
  const PropertyValue compatible = text("compatible");
  if (!model && !compatible) return EmptyCatalog();
  PropertyValue vendor;
  if (compatible && compatible->find(',') != std::string::npos) {
    const std::string_view prefix = std::string_view(*compatible).substr(0, compatible->find(','));
    vendor = std::string(prefix);
    for (const auto& [known, name] : kTreeVendors) {
      if (known == prefix) vendor = std::string(name);
    }
  }
  Catalog catalog = EmptyCatalog();
  for (std::size_t i = 0; i < Classes().size(); ++i) {
    Instance instance;
    for (const PropertyDef& property : Classes()[i].properties) {
      const std::string_view node = property.source.node;
      PropertyValue value = node == "compatible" ? vendor
                            : node == "model"    ? model
                            : node.empty()       ? std::nullopt
                                                 : text(node);
      if (value) value = smbios::DecodeText(*value);
      instance.properties.push_back({std::string(property.name), std::move(value)});
    }
    catalog[i].instances.push_back(std::move(instance));
  }
  return catalog;
}

Catalog EmptyCatalog() {
  Catalog catalog;
  for (const ClassDef& def : Classes()) catalog.push_back({std::string(def.name), {}});
  return catalog;
}

Catalog LoadCatalog(const std::filesystem::path& sysRoot) {
  const std::filesystem::path tables = sysRoot / "firmware" / "dmi" / "tables";
  // One byte over the limit, so that an oversized table is refused rather than cut.
  if (auto dmi = ReadFile(tables / "DMI", smbios::kMaxTableBytes + 1)) {
    std::span<const std::uint8_t> table = AsBytes(*dmi);
    // The entry point only narrows the table; without a sound one the file is taken whole.
    if (auto entryPoint = ReadFile(tables / "smbios_entry_point", kMaxEntryPointBytes)) {
      if (auto length = smbios::TableLengthFromEntryPoint(AsBytes(*entryPoint))) {
        table = table.first(std::min(*length, table.size()));
      }
    }
    auto structures = smbios::ParseTable(table);
    if (!structures.empty()) return CatalogFromStructures(structures);
  }
  const std::filesystem::path dmiId = sysRoot / "class" / "dmi" / "id";
  std::error_code error;
  if (std::filesystem::is_directory(dmiId, error)) return CatalogFromDmiIdFiles(dmiId);
  return CatalogFromDeviceTree(sysRoot / "firmware" / "devicetree" / "base");
}

}  // namespace kelvarin::wmi_standin
