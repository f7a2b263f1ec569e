// Text rules that several parts of the program share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kelvarin {

// The six characters refused as CSV delimiter and replacement characters on
// the command line, and replaced under /T: ^ ` ' " ( ). Not the ampersand.
bool IsTaboo(char c) noexcept;

// a-z as A-Z, in 8-bit text or UTF-16 alike; every other unit unchanged.
template <class Char>
constexpr Char AsciiUpper(Char c) noexcept {
  return c >= Char{'a'} && c <= Char{'z'} ? static_cast<Char>(c - Char{'a'} + Char{'A'}) : c;
}

// Names of WMI classes and properties, COM members and ProgIDs match without
// regard to ASCII case; `a` may be UTF-16.
template <class Char>
bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != static_cast<Char>(static_cast<unsigned char>(AsciiUpper(b[i])))) {
      return false;
    }
  }
  return true;
}
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  return EqualsIgnoringAsciiCase<char>(a, b);
}

// What the command line makes of a host name: a-z as A-Z, and the accented
// lower-case letters of the OEM code page as their capitals. Anything that
// compares with such a name must upper-case its side the same way.
char UpperCaseByte(char c) noexcept;
std::string UpperCase(std::string_view text);

// Characters that must not reach a report as themselves: controls (C0, DEL,
// C1), the line and paragraph separators and the bidirectional formatting
// characters can end a line, move the cursor or reorder what a terminal
// shows, so a firmware string could forge report lines.
constexpr bool IsBlankedInFact(char32_t c) noexcept {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Text another machine gave (firmware, ssh's messages) as UTF-8: the bytes
// themselves when they are valid UTF-8, else each byte as the Latin-1
// character of its value, so that no byte is lost or changes what it means.
std::string DecodeText(std::string_view bytes);

// UTF-8 text with each character that IsBlankedInFact names written as one blank.
std::string BlankControls(std::string_view utf8);

// How many bytes the character that starts at `at` takes in 8-bit text, by
// the rules of its code page; 0 when the bytes there are no whole character.
// Matching a byte anywhere else would match part of a character.
using CharacterLength = std::size_t (*)(std::string_view text, std::size_t at) noexcept;

// The same for UTF-8: a byte that starts no valid sequence gives 0.
std::size_t Utf8CharacterLength(std::string_view text, std::size_t at) noexcept;

// The character that starts at `at` in UTF-8 text, moving `at` past it.
// Nothing for a byte that starts no valid sequence (overlong, a surrogate,
// past U+10FFFF, cut short); `at` then moves past that one byte.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& at) noexcept;

}  // namespace kelvarin
