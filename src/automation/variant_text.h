// Between the program's 8-bit text and the VARIANTs and UTF-16 strings of COM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/com.h"
#include "automation/com_ptr.h"

namespace kelvarin {

// The VARIANT at the end of a chain of VT_BYREF | VT_VARIANT references (the
// VARIANT itself when it is no such reference); null when a link is null.
const VARIANT* EndOfReferences(const VARIANT* value) noexcept;

// Where the value of a single VARIANT lies, after EndOfReferences: its payload,
// or what its by-reference pointer points at. `tag` gets the type without
// VT_BYREF. Null for arrays, vectors, the reserved bit and null references.
const void* ValueOf(const VARIANT& value, VARTYPE& tag) noexcept;

// Only a string (also by reference) gives text; every other value gives "".
// As a fact, each character IsBlankedInFact names becomes a blank first,
// whatever the code page can or cannot write of it.
enum class TextUse { AsIs, Fact };
std::string VariantToText(const VARIANT& value, TextUse use = TextUse::AsIs);

// The length of the character at `at` in the ANSI code page: one or two bytes
// in a double-byte code page, as UTF-8 where text is UTF-8 (Linux, always).
std::size_t AnsiCharacterLength(std::string_view text, std::size_t at) noexcept;

// Clears the target, then stores VT_BSTR; empty text travels as a null BSTR.
// The bytes are in the ANSI code page, as all of the program's text is, or in
// the code page given (CP_UTF8 for the WMI stand-in's data).
void TextToVariant(std::string_view text, VARIANT& target, UINT codePage = CP_ACP);

// Numbers and pointers as a number; 0 for everything else. Text is never parsed.
double VariantToNumber(const VARIANT& value);

// The object set's pointer a VT_DISPATCH holds, at full width so that 64-bit
// pointers survive (a double does not hold them all); 0 for everything else.
std::uintptr_t VariantToPointer(const VARIANT& value);

// Each byte becomes one UTF-16 character of the same value.
UniqueBstr WidenName(std::string_view name);

// The 16 bytes of a GUID written as text; a new GUID for empty text; nothing
// for text that is not a GUID.
std::optional<GUID> TextToGuid(std::string_view text);

}  // namespace kelvarin
