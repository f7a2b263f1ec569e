#include "automation/posix/wmi/smbios.h"

#include <cstring>

namespace kelvarin::smbios {
namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::uint8_t kEndOfTable = 127;

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view anchor) {
  return bytes.size() >= anchor.size() &&
         std::memcmp(bytes.data(), anchor.data(), anchor.size()) == 0;
}

// Entry points carry checksums chosen so that their bytes add up to zero.
bool SumsToZero(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return (sum & 0xFFU) == 0;
}

std::size_t ReadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset,
                             std::size_t count) {
  std::size_t value = 0;
  for (std::size_t i = count; i > 0; --i) value = (value << 8) | bytes[offset + i - 1];
  return value;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = (lead & 0xE0U) == 0xC0U   ? 2
                               : (lead & 0xF0U) == 0xE0U ? 3
                               : (lead & 0xF8U) == 0xF0U ? 4
                                                         : 0;
    if (length == 0) return false;
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::uint32_t code = lead & (0x7FU >> length);
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0U) != 0x80U) return false;
      code = (code << 6) | (next & 0x3FU);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8 either.
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::vector<Structure> ParseTable(std::span<const std::uint8_t> table) {
  std::vector<Structure> structures;
  if (table.size() > kMaxTableBytes) return structures;
  const std::size_t size = table.size();
  std::size_t pos = 0;
  while (size - pos >= kHeaderBytes) {
    const std::uint8_t type = table[pos];
    if (type == kEndOfTable) break;
    const std::size_t length = table[pos + 1];
    if (length < kHeaderBytes || length > size - pos) break;

    // The string set runs up to the first pair of zero bytes; with no strings
    // the pair follows the formatted area directly.
    const std::size_t first = pos + length;
    std::size_t end = first;
    while (end + 1 < size && (table[end] != 0 || table[end + 1] != 0)) ++end;
    if (end + 1 >= size) break;

    Structure s;
    s.type = type;
    s.handle = static_cast<std::uint16_t>(ReadLittleEndian(table, pos + 2, 2));
    s.formatted = table.subspan(pos, length);
    const char* chars = reinterpret_cast<const char*>(table.data());
    // An empty string can only lead the set, and nothing after it is reachable.
    for (std::size_t start = first; start < end;) {
      const std::size_t stop = start + std::strlen(chars + start);
      if (stop == start) break;
      s.strings.emplace_back(chars + start, stop - start);
      start = stop + 1;
    }
    structures.push_back(std::move(s));
    pos = end + 2;
  }
  return structures;
}

std::optional<std::string_view> StringAt(const Structure& s, std::size_t offset) {
  if (offset >= s.formatted.size()) return std::nullopt;
  const std::size_t number = s.formatted[offset];
  if (number == 0 || number > s.strings.size()) return std::nullopt;
  return s.strings[number - 1];
}

std::optional<std::size_t> TableLengthFromEntryPoint(std::span<const std::uint8_t> entryPoint) {
  std::size_t announced = 0;
  if (StartsWith(entryPoint, "_SM3_")) {
    if (entryPoint.size() < 0x18) return std::nullopt;
    const std::size_t length = entryPoint[0x06];
    if (length < 0x18 || length > entryPoint.size() || !SumsToZero(entryPoint.first(length))) {
      return std::nullopt;
    }
    announced = ReadLittleEndian(entryPoint, 0x0C, 4);  // the table's maximum size
  } else if (StartsWith(entryPoint, "_SM_")) {
    if (entryPoint.size() < 0x1F) return std::nullopt;
    // Some 2.1 firmware announces 0x1E for its 0x1F bytes.
    const std::size_t length = entryPoint[0x05];
    if (length < 0x1E || length > entryPoint.size() || !SumsToZero(entryPoint.first(length))) {
      return std::nullopt;
    }
    const auto intermediate = entryPoint.subspan(0x10, 0x0F);
    if (!StartsWith(intermediate, "_DMI_") || !SumsToZero(intermediate)) return std::nullopt;
    announced = ReadLittleEndian(entryPoint, 0x16, 2);
  } else {
    return std::nullopt;
  }
  if (announced == 0) return std::nullopt;
  return announced;
}

std::string DecodeText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0U | (b >> 6U)));
      text.push_back(static_cast<char>(0x80U | (b & 0x3FU)));
    }
  }
  return text;
}

}  // namespace kelvarin::smbios
