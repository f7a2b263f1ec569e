// SMBIOS tables in memory, and sysfs-like trees on disk, for tests:
//   SmbiosBuilder().Bios("Vendor", "1.2").System("Maker", "Model", "SN").End().WriteTo(root);
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
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
  std::filesystem::create_directories(sysRoot / "class/dmi/id");
  for (const auto& [name, content] : files) WriteFile(sysRoot / "class/dmi/id" / name, content);
}

// Sets bytes[at] so that bytes[begin, begin + count) add up to zero.
inline void SetChecksum(ByteBuffer& bytes, std::size_t begin, std::size_t count, std::size_t at) {
  bytes[at] = 0;
  unsigned sum = 0;
  for (std::size_t i = begin; i < begin + count; ++i) sum += bytes[i];
  bytes[at] = static_cast<std::uint8_t>(0x100U - (sum & 0xFFU));
}

// A 64-bit ("_SM3_") entry point announcing `maxSize` table bytes.
inline ByteBuffer EntryPoint3(std::uint32_t maxSize) {
  const auto byte = [maxSize](int shift) { return static_cast<std::uint8_t>(maxSize >> shift); };
  ByteBuffer ep = {'_', 'S', 'M', '3', '_',     0,       0x18,     3,
                   3,   0,   1,   0,   byte(0), byte(8), byte(16), byte(24)};
  ep.resize(0x18, 0);
  SetChecksum(ep, 0, 0x18, 0x05);
  return ep;
}

// A 32-bit ("_SM_") entry point announcing `length` table bytes.
inline ByteBuffer EntryPoint2(std::uint16_t length) {
  ByteBuffer ep = {'_', 'S', 'M', '_', 0, 0x1F, 2, 8};
  ep.resize(0x10, 0);
  ep.insert(ep.end(), {'_', 'D', 'M', 'I', '_', 0, static_cast<std::uint8_t>(length),
                       static_cast<std::uint8_t>(length >> 8)});
  ep.resize(0x1F, 0);
  SetChecksum(ep, 0x10, 0x0F, 0x15);
  SetChecksum(ep, 0, 0x1F, 0x04);
  return ep;
}

class SmbiosBuilder {
 public:
  // nullopt or "" gives string number 0, as firmware writes an absent string.
  using Text = std::optional<std::string>;

  // A structure whose formatted area is the 4-byte header and `body`, then
  // `strings` (none gives the two closing zero bytes alone).
  SmbiosBuilder& Raw(std::uint8_t type, ByteBuffer body,
                     const std::vector<std::string>& strings = {}) {
    if (body.size() > 0xFF - 4) throw std::length_error("SMBIOS structure too long");
    Append({type, static_cast<std::uint8_t>(4 + body.size()), static_cast<std::uint8_t>(handle_),
            static_cast<std::uint8_t>(handle_ >> 8)});
    ++handle_;
    Append(body);
    // Each string with its closing zero byte.
    for (const std::string& s : strings) Append(ByteBuffer(s.c_str(), s.c_str() + s.size() + 1));
    if (strings.empty()) Append({0});
    return Append({0});
  }

  SmbiosBuilder& Bios(const Text& vendor, const Text& version) {
    return Fields(0, 0x18, {{0x04, vendor}, {0x05, version}});
  }
  SmbiosBuilder& System(const Text& manufacturer, const Text& product, const Text& serial) {
    return Fields(1, 0x1B, {{0x04, manufacturer}, {0x05, product}, {0x07, serial}});
  }
  SmbiosBuilder& BaseBoard(const Text& serial) { return Fields(2, 0x0F, {{0x07, serial}}); }
  SmbiosBuilder& Enclosure(const Text& serial) { return Fields(3, 0x15, {{0x07, serial}}); }
  SmbiosBuilder& End() { return Raw(127, {}); }

  // Bytes as they are, for tables broken on purpose.
  SmbiosBuilder& Append(const ByteBuffer& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  const ByteBuffer& Bytes() const { return bytes_; }

  // sysRoot/firmware/dmi/tables/DMI, and beside it an entry point announcing its length.
  void WriteTo(const std::filesystem::path& sysRoot) const {
    WriteFile(sysRoot / "firmware/dmi/tables/DMI", bytes_);
    WriteFile(sysRoot / "firmware/dmi/tables/smbios_entry_point",
              EntryPoint3(static_cast<std::uint32_t>(bytes_.size())));
  }

 private:
  // A formatted area `length` bytes long holding each text's string number at its offset.
  SmbiosBuilder& Fields(std::uint8_t type, std::size_t length,
                        const std::vector<std::pair<std::size_t, Text>>& texts) {
    ByteBuffer body(length - 4, 0);
    std::vector<std::string> strings;
    for (const auto& [offset, text] : texts) {
      if (!text || text->empty()) continue;
      strings.push_back(*text);
      body[offset - 4] = static_cast<std::uint8_t>(strings.size());
    }
    return Raw(type, std::move(body), strings);
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
