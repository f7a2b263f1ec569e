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

std::string DecodeText(std::string_view bytes) {
  bool valid = true;
  for (std::size_t at = 0; valid && at < bytes.size();) {
    if (static_cast<unsigned char>(bytes[at]) < 0x80) {
      ++at;  // ASCII needs no decoding
    } else {
      valid = NextUtf8(bytes, at).has_value();
    }
  }
  if (valid) return std::string(bytes);
  std::string text;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0U | (b >> 6U)));
      text.push_back(static_cast<char>(0x80U | (b & 0x3FU)));
    }
  }
  return text;
}

std::string BlankControls(std::string_view utf8) {
  std::string text;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t from = at;
    const auto c = NextUtf8(utf8, at);
    if (c && IsBlankedInFact(*c)) {
      text.push_back(' ');
    } else {
      text.append(utf8.substr(from, at - from));
    }
  }
  return text;
}

std::size_t Utf8CharacterLength(std::string_view text, std::size_t at) noexcept {
  std::size_t next = at;
  return NextUtf8(text, next) ? next - at : 0;
}

}  // namespace kelvarin
