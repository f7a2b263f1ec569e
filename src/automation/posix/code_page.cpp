// UTF-8 stands in for the ANSI code page: lossless for every character, so
// firmware text reaches the report as it was.
#include <string>

#include "automation/posix/com_api.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at `i`; an invalid sequence yields U+FFFD for its first byte.
char32_t DecodeUtf8(const unsigned char* s, std::size_t n, std::size_t& i) {
  const unsigned char b0 = s[i];
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0U) == 0xC0U) {
    len = 2;
    cp = b0 & 0x1FU;
    min = 0x80;
  } else if ((b0 & 0xF0U) == 0xE0U) {
    len = 3;
    cp = b0 & 0x0FU;
    min = 0x800;
  } else if ((b0 & 0xF8U) == 0xF0U) {
    len = 4;
    cp = b0 & 0x07U;
    min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (n - i < len) {
    ++i;
    return kReplacement;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = s[i + k];
    if ((b & 0xC0U) != 0x80U) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6U) | (b & 0x3FU);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0U | (cp >> 6U));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0U | (cp >> 12U));
    out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else {
    out += static_cast<char>(0xF0U | (cp >> 18U));
    out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
    out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  }
}

template <class Char>
std::size_t MeasureInput(const Char* text, int count) {
  if (count >= 0) return static_cast<std::size_t>(count);
  std::size_t n = 0;  // -1: up to and including the terminating zero, as on Windows
  while (text[n] != 0) ++n;
  return n + 1;
}

}  // namespace

int MultiByteToWideChar(UINT /*codePage*/, DWORD /*flags*/, const char* text, int byteCount,
                        OLECHAR* wide, int wideCount) {
  if (text == nullptr || byteCount == 0 || wideCount < 0) return 0;
  const std::size_t n = MeasureInput(text, byteCount);
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::u16string out;
  for (std::size_t i = 0; i < n;) {
    const char32_t cp = DecodeUtf8(s, n, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10U));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FFU));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  if (out.size() > 0x7FFFFFFFU) return 0;
  const auto needed = static_cast<int>(out.size());
  if (wideCount == 0) return needed;
  if (wide == nullptr || wideCount < needed) return 0;
  out.copy(wide, out.size());
  return needed;
}

int WideCharToMultiByte(UINT /*codePage*/, DWORD /*flags*/, const OLECHAR* wide, int wideCount,
                        char* text, int byteCount, const char* /*defaultChar*/, BOOL* usedDefault) {
  if (usedDefault != nullptr) *usedDefault = 0;
  if (wide == nullptr || wideCount == 0 || byteCount < 0) return 0;
  const std::size_t n = MeasureInput(wide, wideCount);
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10U) +
                          (static_cast<char32_t>(wide[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += '?';  // an unpaired surrogate has no UTF-8 form
      if (usedDefault != nullptr) *usedDefault = 1;
    } else {
      AppendUtf8(out, c);
    }
  }
  if (out.size() > 0x7FFFFFFFU) return 0;
  const auto needed = static_cast<int>(out.size());
  if (byteCount == 0) return needed;
  if (text == nullptr || byteCount < needed) return 0;
  out.copy(text, out.size());
  return needed;
}
