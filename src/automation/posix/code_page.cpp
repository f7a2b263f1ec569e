// UTF-8 stands in for the ANSI code page: lossless for every character, so
// firmware text reaches the report as it was.
#include <string_view>

#include "automation/posix/com_api.h"
#include "core/text.h"

namespace {

// What an invalid UTF-8 byte widens to.
constexpr char32_t kReplacement = 0xFFFD;

// Each conversion writes what fits in `room` units of `out` and counts all
// it makes, in one pass: with no room it only measures.
std::size_t Widen(std::string_view text, char16_t* out, std::size_t room) {
  std::size_t units = 0;
  const auto put = [&](char32_t unit) {
    if (units < room) out[units] = static_cast<char16_t>(unit);
    ++units;
  };
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {  // most text is ASCII: no decoding needed
      put(byte);
      ++at;
      continue;
    }
    const char32_t c = kelvarin::NextUtf8(text, at).value_or(kReplacement);
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10U));
      put(0xDC00 + (c & 0x3FFU));
    } else {
      put(c);
    }
  }
  return units;
}

std::size_t Narrow(std::u16string_view wide, char* out, std::size_t room) {
  std::size_t bytes = 0;
  const auto put = [&](char32_t byte) {
    if (bytes < room) out[bytes] = static_cast<char>(byte);
    ++bytes;
  };
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    // Surrogates come in pairs: all UTF-16 here was widened from UTF-8 (and
    // a BSTR's closing zero stands behind its last character).
    if (c >= 0xD800 && c <= 0xDFFF) c = 0x10000 + ((c - 0xD800) << 10U) + (wide[++i] - 0xDC00U);
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0U | (c >> 6U));
      put(0x80U | (c & 0x3FU));
    } else if (c < 0x10000) {
      put(0xE0U | (c >> 12U));
      put(0x80U | ((c >> 6U) & 0x3FU));
      put(0x80U | (c & 0x3FU));
    } else {
      put(0xF0U | (c >> 18U));
      put(0x80U | ((c >> 12U) & 0x3FU));
      put(0x80U | ((c >> 6U) & 0x3FU));
      put(0x80U | (c & 0x3FU));
    }
  }
  return bytes;
}

}  // namespace

// Either call writes nothing past the room it is given, and counts what the
// whole conversion needs.
int MultiByteToWideChar(UINT /*codePage*/, DWORD /*flags*/, const char* text, int byteCount,
                        OLECHAR* wide, int wideCount) {
  const std::string_view input(text, static_cast<std::size_t>(byteCount));
  return static_cast<int>(Widen(input, wide, static_cast<std::size_t>(wideCount)));
}

int WideCharToMultiByte(UINT /*codePage*/, DWORD /*flags*/, const OLECHAR* wide, int wideCount,
                        char* text, int byteCount, const char* /*defaultChar*/,
                        BOOL* /*usedDefault*/) {
  const std::u16string_view input(wide, static_cast<std::size_t>(wideCount));
  return static_cast<int>(Narrow(input, text, static_cast<std::size_t>(byteCount)));
}
