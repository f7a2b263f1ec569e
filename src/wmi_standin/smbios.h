// Reading the SMBIOS structure table. The table comes from firmware and may be
// broken: every read is bounds-checked and a broken structure ends the walk.
// Nothing is copied: structures and strings are views into the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin::smbios {

inline constexpr std::size_t kMaxTableBytes = std::size_t{1024} * 1024;

struct Structure {
  std::uint8_t type = 0;
  std::span<const std::uint8_t> formatted;  // the whole formatted area, header included
  std::string_view strings;                 // each string with its closing zero byte
};

// Walks the table from its start. Stops at type 127, at a structure shorter
// than its 4-byte header or running past the end, or at an unterminated
// string set; what came before is kept. A table over kMaxTableBytes gives none.
std::vector<Structure> ParseTable(std::span<const std::uint8_t> table);

// The string that the byte at `offset` of the formatted area names; nothing
// when the offset lies outside the structure, the number is 0, or past the
// structure's strings (an empty string ends them).
std::optional<std::string_view> StringAt(const Structure& s, std::size_t offset);

// The table length an entry point announces ("_SM3_" or "_SM_", checksums
// intact); nothing when the entry point is missing, short or inconsistent.
std::optional<std::size_t> TableLengthFromEntryPoint(std::span<const std::uint8_t> entryPoint);

}  // namespace kelvarin::smbios
