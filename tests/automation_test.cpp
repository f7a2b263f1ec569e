// The automation bridge and the COM layer under it: VARIANT and text, code
// pages, GUIDs, strings, the class registry, table slots, and what each
// bridge operation records and leaves behind. Tags and identifiers are
// written as the numbers COM gives them.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "automation/bridge.h"
#include "fake_wmi.h"
#include "support.h"
#include "wmi/query.h"

namespace kelvarin::testing {
namespace {

// The payload's bytes at the start of the union, as the member of its type holds them.
template <typename T = int>
VARIANT Tagged(VARTYPE vt, T payload = {}) {
  VARIANT v{};
  v.vt = vt;
  std::memcpy(&v.llVal, &payload, sizeof payload);
  return v;
}
VARIANT Pointing(VARTYPE vt, const void* to) { return Tagged(vt, to); }

TEST(Conversion, OnlyStringsGiveTextAndNumbersAreReadAtTheirWidth) {
  UniqueVariant text;
  TextToVariant("Lenovo \xC3\xA9", *text);
  const BSTR raw = text->bstrVal;
  const VARIANT middle = Pointing(0x400C, text.get());
  // clang-format off
  const std::tuple<VARIANT, std::string, double> cases[] = {
      {Tagged(0), "", 0}, {Tagged(3, -7), "", -7}, {Tagged(8), "", 0},
      {*text, "Lenovo \xC3\xA9", 0}, {Pointing(0x4008, &raw), "Lenovo \xC3\xA9", 0},
      {Pointing(0x400C, &middle), "Lenovo \xC3\xA9", 0}, {Tagged(5, 2.5), "", 2.5},
      {Pointing(0x400C, nullptr), "", 0}, {Pointing(0x4008, nullptr), "", 0},
      {Tagged(0x2008, 1), "", 0}, {Tagged(0x1003, 1), "", 0}, {Tagged(0x8003, 1), "", 0}};
  // clang-format on
  for (const auto& [value, expected, number] : cases) {
    EXPECT_EQ(VariantToText(value), expected) << "tag " << value.vt;
    EXPECT_DOUBLE_EQ(VariantToNumber(value), number) << "tag " << value.vt;
  }
  const UniqueBstr wide = WidenName("Ab\xE9");
  EXPECT_EQ(std::u16string(wide.get(), SysStringByteLen(wide.get()) / 2), u"Ab\u00E9");
}

TEST(Conversion, CodePageIsUtf8WithReplacements) {
  // clang-format off
  const std::pair<std::string, std::u16string> widened[] = {
      {"Dell", u"Dell"}, {"\xC3\xA9\xDF", u"\u00E9\uFFFD"}, {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xF1\x80\x80\x80\xF4\x8F\xBF\xBF", u"\U00040000\U0010FFFF"}, {"a\0b"s, u"a\0b"s},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"}, {"\xC1\xBF", u"\uFFFD\uFFFD"}, {"\xF8", u"\uFFFD"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xE4\xB8", u"\uFFFD\uFFFD"},
      {"\xE4\x41", u"\uFFFDA"}, {"\xEE\x80\x80\xE1\x88\xB4\xE0\xA0\x80", u"\uE000\u1234\u0800"}};
  const std::pair<std::u16string_view, std::string> narrowed[] = {
      {u"\U00010000\u00E9\u4E2D", "\xF0\x90\x80\x80\xC3\xA9\xE4\xB8\xAD"}, {u"\U0010FFFF\uFFFF", "\xF4\x8F\xBF\xBF\xEF\xBF\xBF"},
      {u"\x7F\x80\u07FF\u0800\uD7FF\uE000", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"}};
  // clang-format on
  for (const auto& [bytes, chars] : widened) {
    std::u16string out(8, u'\0');
    const int n =
        MultiByteToWideChar(0, 1, bytes.data(), static_cast<int>(bytes.size()), out.data(), 8);
    EXPECT_EQ(out.substr(0, static_cast<std::size_t>(n)), chars) << bytes;
    EXPECT_EQ(MultiByteToWideChar(0, 1, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0),
              n);
  }
  for (const auto& [chars, bytes] : narrowed) {
    std::string out(16, '\0');
    const int n = WideCharToMultiByte(0, 0, chars.data(), static_cast<int>(chars.size()),
                                      out.data(), 16, nullptr, nullptr);
    EXPECT_EQ(out.substr(0, static_cast<std::size_t>(n)), bytes);
  }
}

TEST(Conversion, GuidsInAnyWriting) {
  const GUID kEveryDigit = {
      0x0A1B2C3D, 0x4E5F, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  // clang-format off
  const std::pair<const char*, const IID*> cases[] = {
      {"{00020404-0000-0000-c000-000000000046}", &IID_IEnumVARIANT}, {"{0002040400000000C000000000000046}", &IID_IEnumVARIANT},
      {"{00000000-0000-0000-C000-000000000046}", &IID_IUnknown}, {"{00000000-0000-0000-0000-000000000000}", &IID_NULL},
      {"{0a1b2c3d-4e5f-6789-abcd-ef0123456789}", &kEveryDigit}, {"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}", &kEveryDigit},
      {"x{-0002 0400-0000 0000-C000 0000 0000 0046 -}", &IID_IDispatch},
      {"{00020404-0000-0000-g000-000000000046}", nullptr}, {"00020404-0000-0000-c000-000000000046", nullptr},
      {"{00020404-0000-0000-c000-000000000046]", nullptr}, {"{0002}", nullptr}};
  // clang-format on
  for (const auto& [text, iid] : cases) {
    const auto guid = TextToGuid(text);
    EXPECT_EQ(guid ? std::memcmp(&*guid, iid, 16) == 0 : iid == nullptr, true) << text;
  }
  const auto a = TextToGuid(""), b = TextToGuid("");  // new each time
  EXPECT_TRUE(a && b && std::memcmp(&*a, &*b, 16) != 0);
}

// On a thread of its own, where LastAutomationResult starts at 0.
TEST(Bridge, RecordsWhatTheCallsAnswerAndEnumerates) {
  std::thread([] {
    EXPECT_EQ(LastAutomationResult(), 0);
    InstallFakeWmi({.connect = S_FALSE, .classes = {{"X", {.items = std::vector<FakeItem>(3)}}}});
    (void)CoInitialize(nullptr);
    ObjectRef locator, none, services;
    AutoCreateObject(locator, "WbemScripting.SWbemLocator", IID_IUnknown);
    EXPECT_TRUE(AutoIsObject(locator));
    AutoCreateObject(locator, "WbemScripting.SWbemLocator", IID_IDispatch);
    UniqueVariant result, query, set;
    AutoInvoke(locator, "NOSUCH", InvokeKind::Method, {}, result.get());
    EXPECT_LT(LastAutomationResult(), 0);
    AutoInvoke(locator, "connectserver", InvokeKind::Method, {}, result.get());
    AutoInvoke(none, "CONNECTSERVER", InvokeKind::Method, {}, result.get());
    EXPECT_FALSE(AutoIsObject(AutoGetSubobject(none, "SECURITY_")));
    EXPECT_EQ(LastAutomationResult(), S_FALSE) << "nothing since the connection records";
    const IUnknown* held = result->punkVal;
    AutoSetObject(services, Pointing(0x400D, &held), IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(services));
    TextToVariant("SELECT * FROM X", *query);
    AutoInvoke(services, "EXECQUERY", InvokeKind::Method, {query.get()}, set.get());
    const auto source = WbemCollectionNewEnum(VariantToPointer(*set));
    // Items, bounds, result, slots filled.
    const std::tuple<LONG, LONG, LONG, int> cases[] = {
        {1, 3, -1, 3}, {1, 2, -1, 2}, {0, -1, 0, 0}, {0, 3, -1, 3}, {5, 5, -1, 1}};
    for (const auto& [lower, upper, returns, filled] : cases) {
      VARIANT slots[4] = {};
      EXPECT_EQ(EnumerateCollection(source, slots, lower, upper), returns);
      EXPECT_EQ(std::ranges::count_if(slots, [](auto& s) { return s.vt == VT_DISPATCH; }), filled);
      for (auto& slot : slots) VariantClear(&slot);
    }
    VARIANT untouched = Tagged(3, 7);
    EXPECT_EQ(EnumerateCollection(0, &untouched, 1, 1) + EnumerateCollection(0, nullptr, 1, 1), 0);
    EXPECT_EQ(std::tuple(untouched.lVal, WbemCollectionNewEnum(0), WbemCollectionCount(0)),
              std::tuple(7, std::uintptr_t{0}, 0));
    IUnknownRelease(reinterpret_cast<IUnknown*>(source));
    locator.Reset(), services.Reset(), set.reset(), result.reset();
    EXPECT_EQ(com::LiveObjects().load(), 0) << "the enumerator or an item leaked";
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace kelvarin::testing
