// The automation bridge and the COM layer under it: VARIANT and text, code
// pages, GUIDs, strings, the class registry, table slots, and what each
// bridge operation records and leaves behind. Tags and identifiers are
// written as the numbers COM gives them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "app/driver.h"
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

// Only strings give text, numbers are read at their width; text is widened
// to UTF-16 and, what was valid UTF-8, narrowed back unchanged.
TEST(Conversion, TextIsUtf8AndOnlyStringsGiveIt) {
  UniqueVariant text;
  TextToVariant("Lenovo \xC3\xA9", *text);
  const BSTR raw = text->bstrVal;
  const VARIANT middle = Pointing(0x400C, text.get());
  const auto strings = posix_com::LiveStringCount();
  auto copy = std::make_unique<UniqueVariant>();  // copied twice: the first copy is freed
  VariantCopy(copy->get(), text.get()), VariantCopy(copy->get(), text.get());
  EXPECT_EQ(VariantToText(**copy), "Lenovo \xC3\xA9");
  EXPECT_EQ((copy.reset(), posix_com::LiveStringCount()), strings);
  // clang-format off
  const std::tuple<VARIANT, std::string, double> cases[] = {
      {Tagged(0), "", 0}, {Tagged(3, -7), "", -7}, {Tagged(8), "", 0}, {Tagged(11, std::int16_t{-1}), "", -1},
      {*text, "Lenovo \xC3\xA9", 0}, {Pointing(0x4008, &raw), "Lenovo \xC3\xA9", 0}, {Tagged(6, std::int64_t{25}), "", 0.0025},
      {Pointing(0x400C, &middle), "Lenovo \xC3\xA9", 0}, {Tagged(5, 2.5), "", 2.5}, {Tagged(19, ~0U), "", 4294967295.0},
      {Pointing(0x400C, nullptr), "", 0}, {Pointing(0x4008, nullptr), "", 0},
      {Tagged(0x2008, 1), "", 0}, {Tagged(0x1003, 1), "", 0}, {Tagged(0x8003, 1), "", 0},
      // Each width and signedness, in a payload of its own width.
      {Tagged(2, std::int16_t{-2}), "", -2}, {Tagged(4, 1.5F), "", 1.5}, {Tagged(7, 3.25), "", 3.25}, {Tagged(10, -1), "", -1},
      {Tagged(16, std::int8_t{-1}), "", -1}, {Tagged(17, std::uint8_t{255}), "", 255}, {Tagged(18, std::uint16_t{65535}), "", 65535},
      {Tagged(20, -3LL), "", -3}, {Tagged(21, 1ULL << 63), "", 9223372036854775808.0}, {Tagged(25, -1), "", -1},
      {Tagged(26, std::uintptr_t{1234}), "", 1234}, {Tagged(9, std::uintptr_t{99}), "", 99}};
  // clang-format on
  for (const auto& [value, expected, number] : cases) {
    EXPECT_EQ(VariantToText(value), expected) << "tag " << value.vt;
    EXPECT_DOUBLE_EQ(VariantToNumber(value), number) << "tag " << value.vt;
  }
  // clang-format off
  const std::pair<std::string, std::u16string> utf8[] = {
      {"Dell", u"Dell"}, {"\xC3\xA9\xDF", u"\u00E9\uFFFD"}, {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xF1\x80\x80\x80\xF4\x8F\xBF\xBF", u"\U00040000\U0010FFFF"}, {"a\0b"s, u"a\0b"s},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"}, {"\xC1\xBF", u"\uFFFD\uFFFD"}, {"\xF8", u"\uFFFD"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xE4\xB8", u"\uFFFD\uFFFD"},
      {"\xE4\x41", u"\uFFFDA"}, {"\xEE\x80\x80\xE1\x88\xB4\xE0\xA0\x80", u"\uE000\u1234\u0800"},
      {"\x7F\xC2\x80\xDF\xBF\xED\x9F\xBF\xEF\xBF\xBF\xF0\x90\x80\x80", u"\x7F\x80\u07FF\uD7FF\uFFFF\U00010000"}};
  // clang-format on
  for (const auto& [bytes, chars] : utf8) {
    TextToVariant(bytes, *text);
    EXPECT_EQ(std::u16string(text->bstrVal, SysStringByteLen(text->bstrVal) / 2), chars) << bytes;
    EXPECT_TRUE(chars.find(u'\uFFFD') != std::u16string::npos || VariantToText(*text) == bytes)
        << bytes;
  }
}

TEST(Conversion, GuidsInAnyWriting) {
  // clang-format off
  const GUID kEveryDigit = {0x0A1B2C3D, 0x4E5F, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  const std::pair<const char*, const IID*> cases[] = {
      {"{0a1b2c3d-4e5f-6789-abcd-ef0123456789}", &kEveryDigit}, {"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}", &kEveryDigit},
      {"{0002040400000000C000000000000046}", &IID_IEnumVARIANT}, {"x{-0002 0400-0000 0000-C000 0000 0000 0046 -}", &IID_IDispatch},
      {"{00020404-0000-0000-g000-000000000046}", nullptr}, {"00020404-0000-0000-c000-000000000046", nullptr},
      {"{00020404-0000-0000-c000-000000000046]", nullptr}, {"{0002}", nullptr},
      {"{00020404-0000-0000-c000-000000000046", nullptr}, {"{00020404-0000-0000-c000-000000000046 -", nullptr}};
  // clang-format on
  for (const auto& [text, iid] : cases) {
    const auto guid = TextToGuid(text);
    EXPECT_EQ(guid ? std::memcmp(&*guid, iid, 16) == 0 : iid == nullptr, true) << text;
  }
  const auto one = TextToGuid(""), other = TextToGuid("");
  EXPECT_TRUE(one && other && std::memcmp(&*one, &*other, 16) != 0) << "empty text: a new GUID";
}

// Calls the connection with `sizeof...(I)` references to one argument; whether the call was made.
template <std::size_t... I>
bool CallMade(const ObjectRef& locator, std::index_sequence<I...> /*count*/) {
  UniqueVariant argument, result;
  g_log.clear();
  AutoInvoke(locator, "CONNECTSERVER", InvokeKind::Method,
             {(static_cast<void>(I), argument.get())...}, result.get());
  return !g_log.empty();
}

TEST(Bridge, RecordsWhatTheCallsAnswerAndEnumerates) {
  InstallFakeWmi({.connect = S_FALSE, .classes = {{"X", {.items = std::vector<FakeItem>(3)}}}});
  ObjectRef locator, none, services;
  // Nothing is created before COM is initialised, and a whole run leaves it as it found it.
  RecordingConsole console;
  (void)RunInventory("/C", console);
  AutoCreateObject(locator, "WbemScripting.SWbemLocator", IID_IDispatch);
  EXPECT_TRUE(!AutoIsObject(locator) && LastAutomationResult() < 0);
  (void)CoInitialize(nullptr);
  // A ProgID has at most 39 characters.
  for (const std::size_t length : {std::size_t{39}, std::size_t{40}}) {
    posix_com::RegisterClass(std::u16string(length, u'P'), [](REFIID iid, void** object) {
      return ComPtr<IDispatch>::Attach(new Node("p", {}))->QueryInterface(iid, object);
    });
    AutoCreateObject(locator, std::string(length, 'P'), IID_IDispatch);
    EXPECT_EQ(AutoIsObject(locator), length == 39) << length;
  }
  AutoCreateObject(locator, "WbemScripting.SWbemLocator", IID_IUnknown);
  EXPECT_TRUE(AutoIsObject(locator));
  void* other = &other;  // an interface the object lacks leaves no pointer behind
  EXPECT_TRUE(locator.Get()->QueryInterface(IID_IEnumVARIANT, &other) < 0 && other == nullptr);
  AutoCreateObject(locator, "WbemScripting.SWbemLocator", IID_IDispatch);
  UniqueVariant result, query, set;
  // One call carries at most 33 arguments.
  EXPECT_TRUE(CallMade(locator, std::make_index_sequence<33>()));
  EXPECT_FALSE(CallMade(locator, std::make_index_sequence<34>()));
  AutoInvoke(locator, "connectserver", InvokeKind::Method, {}, result.get());
  AutoInvoke(none, "CONNECTSERVER", InvokeKind::Method, {}, result.get());
  EXPECT_FALSE(AutoIsObject(AutoGetSubobject(none, "SECURITY_")));
  EXPECT_EQ(LastAutomationResult(), 1) << "S_FALSE: nothing since the connection records";
  AutoSetObject(services, *result, IID_IDispatch);
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
  VARIANT slot{};  // no set, no slots
  EXPECT_EQ(EnumerateCollection(0, &slot, 1, 1) + EnumerateCollection(source, nullptr, 1, 1), 0);
  IUnknownRelease(reinterpret_cast<IUnknown*>(source));
  locator.Reset(), services.Reset(), set.reset(), result.reset();
  EXPECT_EQ(com::LiveObjects().load(), 0) << "the enumerator or an item leaked";
  CoUninitialize();
}

}  // namespace
}  // namespace kelvarin::testing
