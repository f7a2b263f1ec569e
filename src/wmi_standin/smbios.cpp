#include "wmi_standin/smbios.h"

#include "core/text.h"

namespace kelvarin::smbios {
namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::uint8_t kEndOfTable = 127;

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view anchor) {
  return AsText(bytes).starts_with(anchor);
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

}  // namespace

std::vector<Structure> ParseTable(std::span<const std::uint8_t> table) {
  std::vector<Structure> structures;
  if (table.size() > kMaxTableBytes) return structures;
  const auto* bytes = table.data();
  const std::size_t size = table.size();
  std::size_t pos = 0;
  while (size - pos >= kHeaderBytes && bytes[pos] != kEndOfTable) {
    const std::size_t length = bytes[pos + 1];
    if (length < kHeaderBytes || length > size - pos) break;
    // The string set runs up to the first pair of zero bytes; with no strings
    // the pair follows the formatted area directly.
    const std::size_t first = pos + length;
    const std::string_view rest = AsText(table.subspan(first));
    const std::size_t pair = rest.find(std::string_view("\0\0", 2));
    if (pair == std::string_view::npos) break;
    structures.push_back({bytes[pos], table.subspan(pos, length), rest.substr(0, pair + 1)});
    pos = first + pair + 2;
  }
  return structures;
}

std::optional<std::string_view> StringAt(const Structure& s, std::size_t offset) {
  if (offset >= s.formatted.size() || s.formatted[offset] == 0) return std::nullopt;
  std::string_view rest = s.strings;
  for (std::size_t number = s.formatted[offset];; --number) {
    const std::string_view text = rest.substr(0, rest.find('\0'));
    if (text.empty()) return std::nullopt;
    if (number == 1) return text;
    rest.remove_prefix(text.size() + 1);
  }
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

}  // namespace kelvarin::smbios
