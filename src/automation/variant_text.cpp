#include "automation/variant_text.h"

#include <cstring>
#include <string>

#include "core/text.h"

namespace kelvarin {
namespace {

constexpr VARTYPE kNotSingle = VT_ARRAY | VT_VECTOR | VT_RESERVED;

template <class T>
T Read(const void* from) {
  T out{};
  std::memcpy(&out, from, sizeof out);
  return out;
}

}  // namespace

const VARIANT* EndOfReferences(const VARIANT* value) noexcept {
  while (value != nullptr && value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
  return value;
}

const void* ValueOf(const VARIANT& value, VARTYPE& tag) noexcept {
  const VARIANT* v = EndOfReferences(&value);
  if (v == nullptr || (v->vt & kNotSingle) != 0) return nullptr;
  tag = static_cast<VARTYPE>(v->vt & ~VT_BYREF);
  return (v->vt & VT_BYREF) != 0 ? v->byref : static_cast<const void*>(&v->llVal);
}

std::string VariantToText(const VARIANT& value, TextUse use) {
  VARTYPE tag = VT_EMPTY;
  const void* at = ValueOf(value, tag);
  if (at == nullptr || tag != VT_BSTR) return {};
  const OLECHAR* text = Read<BSTR>(at);
  const auto wide = static_cast<int>(SysStringByteLen(Read<BSTR>(at)) / 2);
  if (wide == 0) return {};
  // Blanked in UTF-16, before the code page maps a character to '?' or to
  // bytes that no longer show what it was. A surrogate is never blanked.
  std::basic_string<OLECHAR> blanked;
  if (use == TextUse::Fact) {
    blanked.assign(text, static_cast<std::size_t>(wide));
    for (OLECHAR& c : blanked) {
      if (IsBlankedInFact(static_cast<char32_t>(c))) c = OLECHAR{' '};
    }
    text = blanked.c_str();
  }
  const int length = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, wide, out.data(), length, nullptr, nullptr) <= 0) {
    return {};
  }
  return out;
}

std::size_t AnsiCharacterLength(std::string_view text, std::size_t at) noexcept {
#ifdef _WIN32
  if (GetACP() != CP_UTF8) {
    if (!IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[at]))) return 1;
    return at + 1 < text.size() ? 2 : 0;  // a lead byte without its second byte
  }
#endif
  return Utf8CharacterLength(text, at);
}

void TextToVariant(std::string_view text, VARIANT& target, UINT codePage) {
  VariantClear(&target);
  BSTR converted = nullptr;
  // Windows refuses MB_PRECOMPOSED for UTF-8.
  const DWORD flags = codePage == CP_UTF8 ? 0 : MB_PRECOMPOSED;
  if (!text.empty() && text.size() <= 0x7FFFFFFFU) {
    const int bytes = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(codePage, flags, text.data(), bytes, nullptr, 0);
    if (chars > 0) {
      // Measured first, so the text fits.
      converted = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
      if (converted != nullptr) {
        MultiByteToWideChar(codePage, flags, text.data(), bytes, converted, chars);
      }
    }
  }
  target.vt = VT_BSTR;
  target.bstrVal = converted;
}

double VariantToNumber(const VARIANT& value) {
  VARTYPE tag = VT_EMPTY;
  const void* at = ValueOf(value, tag);
  if (at == nullptr) return 0;
  switch (tag) {
    case VT_I2:
    case VT_BOOL:
      return Read<std::int16_t>(at);
    case VT_I4:
    case VT_ERROR:
    case VT_HRESULT:
      return Read<std::int32_t>(at);
    case VT_R4:
      return Read<float>(at);
    case VT_R8:
    case VT_DATE:
      return Read<double>(at);
    case VT_CY:
      return static_cast<double>(Read<std::int64_t>(at)) / 10000.0;
    case VT_I1:
      return Read<std::int8_t>(at);
    case VT_UI1:
      return Read<std::uint8_t>(at);
    case VT_UI2:
      return Read<std::uint16_t>(at);
    case VT_UI4:
      return Read<std::uint32_t>(at);
    case VT_I8:
      return static_cast<double>(Read<std::int64_t>(at));
    case VT_UI8:
      return static_cast<double>(Read<std::uint64_t>(at));
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
      return static_cast<double>(Read<std::uintptr_t>(at));
    default:
      return 0;
  }
}

std::uintptr_t VariantToPointer(const VARIANT& value) {
  return value.vt == VT_DISPATCH ? reinterpret_cast<std::uintptr_t>(value.pdispVal) : 0;
}

UniqueBstr WidenName(std::string_view name) {
  const BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(name.size()));
  for (std::size_t i = 0; wide != nullptr && i < name.size(); ++i) {
    wide[i] = static_cast<OLECHAR>(static_cast<unsigned char>(name[i]));
  }
  return UniqueBstr(wide);
}

std::optional<GUID> TextToGuid(std::string_view text) {
  if (text.empty()) {
    GUID fresh{};
    if (CoCreateGuid(&fresh) != S_OK) return std::nullopt;
    return fresh;
  }
  if (text.size() < 34) return std::nullopt;
  const auto brace = text.find('{');
  if (brace == std::string_view::npos) return std::nullopt;
  std::size_t i = brace + 1;
  auto skipFillers = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '-')) ++i;
  };
  std::uint8_t nibbles[32] = {};
  for (auto& nibble : nibbles) {
    skipFillers();
    if (i >= text.size()) return std::nullopt;
    const char c = text[i++];
    if (c >= '0' && c <= '9') {
      nibble = static_cast<std::uint8_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      nibble = static_cast<std::uint8_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      nibble = static_cast<std::uint8_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  skipFillers();
  if (i >= text.size() || text[i] != '}') return std::nullopt;
  auto field = [&](std::size_t from, std::size_t digits) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < digits; ++k) v = (v << 4U) | nibbles[from + k];
    return v;
  };
  GUID guid{};
  guid.Data1 = field(0, 8);
  guid.Data2 = static_cast<std::uint16_t>(field(8, 4));
  guid.Data3 = static_cast<std::uint16_t>(field(12, 4));
  for (std::size_t k = 0; k < 8; ++k)
    guid.Data4[k] = static_cast<std::uint8_t>(field(16 + 2 * k, 2));
  return guid;
}

}  // namespace kelvarin
