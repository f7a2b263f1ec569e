#include "core/text.h"

namespace kelvarin {

bool IsTaboo(char c) noexcept {
  switch (c) {
    case '^':
    case '`':
    case '\'':
    case '"':
    case '(':
    case ')':
      return true;
    default:
      return false;
  }
}

char UpperCaseByte(char c) noexcept {
  switch (static_cast<unsigned char>(c)) {
    case 0x81:
      return static_cast<char>(0x9A);
    case 0x82:
      return static_cast<char>(0x90);
    case 0x84:
      return static_cast<char>(0x8E);
    case 0x86:
      return static_cast<char>(0x8F);
    case 0x87:
      return static_cast<char>(0x80);
    case 0x94:
      return static_cast<char>(0x99);
    case 0xA4:
      return static_cast<char>(0xA5);
    default:
      break;
  }
  return AsciiUpper(c);
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperCaseByte(c);
  return upper;
}

std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& at) noexcept {
  const auto lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  // The length the lead byte announces, and the smallest value that needs it.
  const std::size_t length = (lead & 0xE0U) == 0xC0U   ? 2
                             : (lead & 0xF0U) == 0xE0U ? 3
                             : (lead & 0xF8U) == 0xF0U ? 4
                                                       : 0;
  constexpr char32_t kSmallest[] = {0x80, 0x800, 0x10000};  // for 2, 3 and 4 bytes
  if (length == 0 || text.size() - at < length - 1) return std::nullopt;
  char32_t code = lead & (0x7FU >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k - 1]);
    if ((next & 0xC0U) != 0x80U) return std::nullopt;
    code = (code << 6U) | (next & 0x3FU);
  }
  if (code < kSmallest[length - 2] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return std::nullopt;
  }
  at += length - 1;
  return code;
}

std::size_t Utf8CharacterLength(std::string_view text, std::size_t at) noexcept {
  std::size_t next = at;
  return NextUtf8(text, next) ? next - at : 0;
}

}  // namespace kelvarin
