// What the in-process tests share: a console that records, CR LF lines,
// temporary folders, and firmware laid out as Linux shows it under /sys.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "core/console.h"

// Table rows name only the fields that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kelvarin::testing {

using namespace std::string_literals;

// Keeps every byte written and, in `trace`, each pause where it fell; the
// reasons on standard error apart; gives `password` when asked for one.
struct RecordingConsole : Console {
  bool Write(std::string_view bytes) override {
    output.append(bytes), trace.append(bytes);
    return true;
  }
  void Pause(std::uint32_t milliseconds) override {
    trace += "<" + std::to_string(milliseconds) + ">";
  }
  void WriteError(std::string_view line) override { errors.append(line); }
  std::optional<std::string> ReadPassword() override { return password; }
  std::string output, trace, errors;
  std::optional<std::string> password;
};

inline std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (const auto line : lines) out.append(line).append("\r\n");
  return out;
}

// The plain report, and the CSV line of a failed connection.
inline std::string Report(std::string_view maker, std::string_view model, std::string_view serial,
                          std::string_view version) {
  return "\r\nManufacturer:   "s.append(maker) + "\r\nModel:          "s.append(model) +
         "\r\nSerial Number:  "s.append(serial) + "\r\nBIOS Version:   "s.append(version) + "\r\n";
}
inline const std::string kErrorLine = "#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#";

// The usage screen as the tool must print it, kept in one file.
inline std::string Usage() {
  std::ifstream in(KELVARIN_TEST_DATA "/usage.txt");
  std::string usage;
  for (std::string line; std::getline(in, line);) usage += line + "\r\n";
  return usage;
}

// What a file holds; nothing when there is none.
inline std::string Contents(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

struct TempDir {
  TempDir() : path((std::filesystem::temp_directory_path() / "kelvarin.test-XXXXXX").string()) {
    ::mkdtemp(path.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string path;
};

// Whether process `pid` has ended within a second: gone, or a zombie until
// whoever took it over reaps it.
inline bool Ended(const std::string& pid) {
  for (int tries = 0; tries < 100; ++tries, ::usleep(10000)) {
    std::string state;
    std::ifstream(std::filesystem::path("/proc") / pid / "stat") >> state >> state >> state;
    if (state.empty() || state == "Z") return true;
  }
  return false;
}

// Files by their path below a sysfs root, laid out with their folders.
using Files = std::map<std::string, std::string>;
inline const std::string kDmi = "firmware/dmi/tables/DMI";
inline const std::string kEntryPoint = "firmware/dmi/tables/smbios_entry_point";
inline const std::string kDmiId = "class/dmi/id/";
inline const std::string kTree = "firmware/devicetree/base/";

inline void Lay(const std::filesystem::path& root, const Files& files) {
  for (const auto& [name, content] : files) {
    std::filesystem::create_directories((root / name).parent_path());
    std::ofstream(root / name, std::ios::binary) << content;
  }
}

// One SMBIOS structure, `length` formatted bytes with its header: each
// non-empty text becomes the next string, its number at its offset.
inline std::string Structure(
    std::uint8_t type, std::size_t length,
    std::initializer_list<std::pair<std::size_t, std::string_view>> texts) {
  std::string formatted(length, '\0'), strings;
  formatted[0] = static_cast<char>(type), formatted[1] = static_cast<char>(length);
  for (const auto& [offset, text] : texts) {
    if (!text.empty()) strings.append(text).push_back('\0');
    if (!text.empty()) formatted[offset] = static_cast<char>(std::ranges::count(strings, '\0'));
  }
  return formatted + (strings.empty() ? "\0"s : strings) + '\0';
}
inline std::string Bios(std::string_view vendor, std::string_view version) {
  return Structure(0, 0x18, {{4, vendor}, {5, version}});
}
inline std::string System(std::string_view maker, std::string_view model, std::string_view serial) {
  return Structure(1, 0x1B, {{4, maker}, {5, model}, {7, serial}});
}
inline std::string Board(std::string_view serial) { return Structure(2, 0x0F, {{7, serial}}); }
inline std::string Enclosure(std::string_view serial) { return Structure(3, 0x15, {{7, serial}}); }
inline const std::string kEnd = Structure(127, 4, {});

// Sets the byte at `at` so that bytes [from, from + count) add up to zero.
inline std::string Summed(std::string bytes, std::size_t from, std::size_t count, std::size_t at) {
  bytes[at] = 0;
  unsigned sum = 0;
  for (std::size_t i = from; i < from + count; ++i) sum += static_cast<unsigned char>(bytes[i]);
  bytes[at] = static_cast<char>(0x100 - (sum & 0xFF));
  return bytes;
}
// The 64-bit entry point ("_SM3_") and the 32-bit one ("_SM_" with "_DMI_").
inline std::string EntryPoint3(std::uint32_t size) {
  const char bytes[] = {char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
  return Summed("_SM3_\0\x18\3\3\0\1\0"s + std::string(bytes, 4) + std::string(8, '\0'), 0, 0x18,
                5);
}
inline std::string EntryPoint2(std::uint16_t size, char length = 0x1F) {
  const std::string ep = "_SM_\0"s + length + "\2\x08" + std::string(8, '\0') + "_DMI_\0"s +
                         char(size) + char(size >> 8) + "\1\0\0\0\0\0\0"s;  // a table address
  return Summed(Summed(ep, 0x10, 0x0F, 0x15), 0, static_cast<unsigned char>(length), 4);
}
// A table with an entry point announcing all of it.
inline Files Smbios(const std::string& table) {
  return {{kDmi, table}, {kEntryPoint, EntryPoint3(static_cast<std::uint32_t>(table.size()))}};
}

}  // namespace kelvarin::testing
