// Builds SMBIOS tables in memory, and sysfs-like trees on disk, for tests.
//
//   kelvarin::testing::SmbiosBuilder b;
//   b.Bios("Vendor", "1.2.3").System("Maker", "Model", "SN").BaseBoard("BSN");
//   b.Enclosure("CSN").End();
//   b.WriteTo(tempDir.path());  // firmware/dmi/tables/{DMI,smbios_entry_point}
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kelvarin::testing {

using ByteBuffer = std::vector<std::uint8_t>;

inline void WriteFile(const std::filesystem::path& path, std::string_view content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline void WriteFile(const std::filesystem::path& path, const ByteBuffer& content) {
  WriteFile(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

// Files of sysRoot/class/dmi/id, by name, written as given (newline included).
inline void WriteDmiId(const std::filesystem::path& sysRoot,
                       const std::map<std::string, std::string>& files) {
  const std::filesystem::path dir = sysRoot / "class" / "dmi" / "id";
  std::filesystem::create_directories(dir);
  for (const auto& [name, content] : files) WriteFile(dir / name, content);
}

inline void SetChecksum(ByteBuffer& bytes, std::size_t begin, std::size_t count, std::size_t at) {
  unsigned sum = 0;
  for (std::size_t i = begin; i < begin + count; ++i) sum += i == at ? 0U : bytes[i];
  bytes[at] = static_cast<std::uint8_t>((0x100U - (sum & 0xFFU)) & 0xFFU);
}

// A 64-bit ("_SM3_") entry point announcing `maxSize` table bytes.
inline ByteBuffer EntryPoint3(std::uint32_t maxSize) {
  ByteBuffer ep = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 3, 0, 1, 0};
  for (int shift = 0; shift < 32; shift += 8) {
    ep.push_back(static_cast<std::uint8_t>(maxSize >> shift));
  }
  ep.resize(0x18, 0);  // table address, left at 0
  SetChecksum(ep, 0, 0x18, 0x05);
  return ep;
}

// A 32-bit ("_SM_") entry point announcing `length` table bytes.
inline ByteBuffer EntryPoint2(std::uint16_t length) {
  ByteBuffer ep(0x1F, 0);
  const std::string_view anchor = "_SM_", intermediate = "_DMI_";
  std::copy(anchor.begin(), anchor.end(), ep.begin());
  std::copy(intermediate.begin(), intermediate.end(), ep.begin() + 0x10);
  ep[0x05] = 0x1F;
  ep[0x06] = 2;
  ep[0x07] = 8;
  ep[0x16] = static_cast<std::uint8_t>(length);
  ep[0x17] = static_cast<std::uint8_t>(length >> 8);
  SetChecksum(ep, 0x10, 0x0F, 0x15);
  SetChecksum(ep, 0, 0x1F, 0x04);
  return ep;
}

class SmbiosBuilder {
 public:
  // nullopt or "" gives string number 0, as firmware writes an absent string.
  using Text = std::optional<std::string>;

  // A structure of `type` whose formatted area is the 4-byte header followed by
  // `body`, then `strings` (none gives the two closing zero bytes alone).
  SmbiosBuilder& Raw(std::uint8_t type, ByteBuffer body,
                     const std::vector<std::string>& strings = {}) {
    if (body.size() > 0xFF - 4) throw std::length_error("SMBIOS structure too long");
    bytes_.push_back(type);
    bytes_.push_back(static_cast<std::uint8_t>(4 + body.size()));
    bytes_.push_back(static_cast<std::uint8_t>(handle_));
    bytes_.push_back(static_cast<std::uint8_t>(handle_ >> 8));
    ++handle_;
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    for (const std::string& s : strings) {
      bytes_.insert(bytes_.end(), s.begin(), s.end());
      bytes_.push_back(0);
    }
    if (strings.empty()) bytes_.push_back(0);
    bytes_.push_back(0);
    return *this;
  }

  // Type 0: Vendor (0x04), BIOS Version (0x05); 0x18 bytes.
  SmbiosBuilder& Bios(const Text& vendor, const Text& version) {
    std::vector<std::string> strings;
    ByteBuffer body(0x18 - 4, 0);
    body[0x04 - 4] = Number(vendor, strings);
    body[0x05 - 4] = Number(version, strings);
    return Raw(0, body, strings);
  }

  // Type 1: Manufacturer (0x04), Product Name (0x05), Serial Number (0x07); 0x1B bytes.
  SmbiosBuilder& System(const Text& manufacturer, const Text& product, const Text& serial) {
    std::vector<std::string> strings;
    ByteBuffer body(0x1B - 4, 0);
    body[0x04 - 4] = Number(manufacturer, strings);
    body[0x05 - 4] = Number(product, strings);
    body[0x07 - 4] = Number(serial, strings);
    return Raw(1, body, strings);
  }

  // Type 2: Serial Number (0x07); 0x0F bytes.
  SmbiosBuilder& BaseBoard(const Text& serial) { return SerialOnly(2, 0x0F, serial); }

  // Type 3: Serial Number (0x07); 0x15 bytes.
  SmbiosBuilder& Enclosure(const Text& serial) { return SerialOnly(3, 0x15, serial); }

  // Type 127, the end of the table.
  SmbiosBuilder& End() { return Raw(127, {}); }

  // Bytes as they are, for tables broken on purpose.
  SmbiosBuilder& Append(const ByteBuffer& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  const ByteBuffer& Bytes() const { return bytes_; }

  // sysRoot/firmware/dmi/tables/DMI, with a "_SM3_" smbios_entry_point beside
  // it announcing the table's length, or the given entry point bytes.
  void WriteTo(const std::filesystem::path& sysRoot,
               const std::optional<ByteBuffer>& entryPoint = std::nullopt) const {
    const std::filesystem::path tables = sysRoot / "firmware" / "dmi" / "tables";
    WriteFile(tables / "DMI", bytes_);
    WriteFile(tables / "smbios_entry_point",
              entryPoint ? *entryPoint : EntryPoint3(static_cast<std::uint32_t>(bytes_.size())));
  }

 private:
  static std::uint8_t Number(const Text& text, std::vector<std::string>& strings) {
    if (!text || text->empty()) return 0;
    strings.push_back(*text);
    return static_cast<std::uint8_t>(strings.size());
  }

  SmbiosBuilder& SerialOnly(std::uint8_t type, std::size_t length, const Text& serial) {
    std::vector<std::string> strings;
    ByteBuffer body(length - 4, 0);
    body[0x07 - 4] = Number(serial, strings);
    return Raw(type, body, strings);
  }

  ByteBuffer bytes_;
  std::uint16_t handle_ = 0;
};

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvarin-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kelvarin::testing
