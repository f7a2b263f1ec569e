// The automation bridge and the COM layer under it: VARIANT and text, code
// pages, GUIDs, strings, the class registry, table slots, and what each
// bridge operation records and leaves behind. Tags and identifiers are
// written as the numbers COM gives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <tuple>

#include "automation/bridge.h"
#include "automation/variant_text.h"
#include "fake_wmi.h"
#include "support.h"
#include "wmi/query.h"
#include "wmi_standin/com_server.h"

// Rows name only what differs from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kelvarin::testing {
namespace {

VARIANT Tagged(VARTYPE vt, LONGLONG payload = 0) {
  VARIANT v{};
  v.vt = vt;
  v.llVal = payload;
  return v;
}
VARIANT Pointing(VARTYPE vt, void* to) {
  VARIANT v = Tagged(vt);
  v.byref = to;
  return v;
}

TEST(Conversion, OnlyStringsGiveTextAndNumbersAreReadAtTheirWidth) {
  UniqueVariant text;
  TextToVariant("Lenovo \xC3\xA9", *text);
  BSTR raw = text->bstrVal;
  VARIANT middle = Pointing(0x400C, text.get());
  double dbl = 2.5;
  // clang-format off
  const std::tuple<VARIANT, std::string, double> cases[] = {
      {Tagged(0), "", 0}, {Tagged(1), "", 0}, {Tagged(2, 0xFFFE), "", -2}, {Tagged(3, -7), "", -7},
      {Tagged(4, 0x40200000), "", 2.5}, {Tagged(5, 0x4060000000000000), "", 128},
      {Tagged(6, 25), "", 0.0025}, {Tagged(7, 0x4060000000000000), "", 128},
      {Tagged(10, 0x80004005), "", -2147467259.0}, {Tagged(11, 0xFFFF), "", -1},
      {Tagged(16, 0x80), "", -128}, {Tagged(17, 0x80), "", 128}, {Tagged(18, 0xFFFF), "", 65535},
      {Tagged(19, 0xFFFFFFFF), "", 4294967295.0}, {Tagged(20, -3), "", -3},
      {Tagged(21, 3), "", 3}, {Tagged(25, 0x80000000), "", -2147483648.0},
      {Tagged(22, 7), "", 0}, {Tagged(8), "", 0}, {*text, "Lenovo \xC3\xA9", 0},
      {Pointing(0x4008, &raw), "Lenovo \xC3\xA9", 0}, {Pointing(0x400C, &middle), "Lenovo \xC3\xA9", 0},
      {Pointing(0x4005, &dbl), "", 2.5}, {Pointing(0x400C, nullptr), "", 0},
      {Tagged(0x2008, 1), "", 0}, {Tagged(0x1003, 1), "", 0}, {Tagged(0x8003, 1), "", 0},
  };
  // clang-format on
  for (const auto& [value, expectedText, number] : cases) {
    EXPECT_EQ(VariantToText(value), expectedText) << "tag " << value.vt;
    EXPECT_DOUBLE_EQ(VariantToNumber(value), number) << "tag " << value.vt;
  }
  UniqueVariant zero;
  zero->vt = 8;
  zero->bstrVal = SysAllocStringLen(u"A\0B", 3);
  EXPECT_EQ(VariantToText(*zero), "A\0B"s);
  TextToVariant("", *zero);
  EXPECT_EQ(zero->vt, 8);
  EXPECT_EQ(zero->bstrVal, nullptr);
  const UniqueBstr wide = WidenName("Ab\xE9");
  EXPECT_EQ(std::u16string(wide.get(), SysStringLen(wide.get())), u"Ab\u00E9");
}

TEST(Conversion, PointersKeepTheirFullWidth) {
  int object = 0;
  void* at = &object;
  const auto expected = reinterpret_cast<std::uintptr_t>(at);
  for (const VARIANT& v : {Pointing(9, at), Pointing(13, at), Pointing(26, at)}) {
    EXPECT_EQ(VariantToPointer(v), expected);
    EXPECT_NE(VariantToNumber(v), 0);
  }
  EXPECT_EQ(VariantToPointer(Pointing(0x4009, &at)), expected);
  EXPECT_EQ(VariantToPointer(Pointing(3, at)), 0U);
}

TEST(Conversion, CodePageIsUtf8WithReplacements) {
  const auto widen = [](std::string_view bytes) {
    std::u16string out(8, u'\0');
    const int n =
        MultiByteToWideChar(0, 1, bytes.data(), static_cast<int>(bytes.size()), out.data(), 8);
    EXPECT_EQ(MultiByteToWideChar(0, 1, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0),
              n);
    return out.substr(0, static_cast<std::size_t>(n));
  };
  const auto narrow = [](std::u16string_view wide) {
    std::string out(16, '\0');
    const int n = WideCharToMultiByte(0, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                      16, nullptr, nullptr);
    return out.substr(0, static_cast<std::size_t>(n));
  };
  // clang-format off
  const std::pair<std::string, std::u16string> roundTrips[] = {
      {"Dell", u"Dell"}, {"\xC3\xA9\xDF", u"\u00E9\uFFFD"}, {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"}, {"a\0b"s, u"a\0b"s},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"}, {"\xC1\xBF", u"\uFFFD\uFFFD"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xE4\xB8", u"\uFFFD\uFFFD"},
      {"\xE4\x41", u"\uFFFDA"}, {"\xF8", u"\uFFFD"},
  };
  // clang-format on
  for (const auto& [bytes, chars] : roundTrips) EXPECT_EQ(widen(bytes), chars) << bytes;
  EXPECT_EQ(narrow(u"\U00010000\u00E9\u4E2D"), "\xF0\x90\x80\x80\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(narrow(u"a\xD800"
                   u"b\xDC00\xDBFF\xDFFF"),
            "a?b?\xF4\x8F\xBF\xBF");
  // A counted buffer that ends in a high surrogate: the unit behind is not read.
  EXPECT_EQ(narrow(std::u16string_view(u"x\xD800\xDC00", 2)), "x?");
  BOOL usedDefault = 0;
  char out[4];
  EXPECT_EQ(WideCharToMultiByte(0, 0, u"\xDC00", 1, out, 4, nullptr, &usedDefault), 1);
  EXPECT_EQ(usedDefault, 1);
  EXPECT_EQ(WideCharToMultiByte(0, 0, u"\u00E9", 1, out, 1, nullptr, nullptr), 0);  // too small
  EXPECT_EQ(WideCharToMultiByte(0, 0, u"ab", -1, nullptr, 0, nullptr, nullptr), 3);
  char16_t wide[2];
  EXPECT_EQ(MultiByteToWideChar(0, 1, "abc", 3, wide, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(0, 1, "ab", -1, nullptr, 0), 3);
}

TEST(Conversion, GuidsInAnyWriting) {
  const std::pair<const char*, const IID*> cases[] = {
      {"{00020404-0000-0000-c000-000000000046}", &IID_IEnumVARIANT},
      {"{0002040400000000C000000000000046}", &IID_IEnumVARIANT},
      {"x{-0002 0400-0000 0000-C000 0000 0000 0046 -}", &IID_IDispatch},
      {"{00000000-0000-0000-C000-000000000046}", &IID_IUnknown},
      {"{76A6415F-CB41-11D1-8B02-00600806D9B6}", &IID_ISWbemObjectSet},
      {"{00000000-0000-0000-0000-000000000000}", &IID_NULL},
      {"{00020404000000000c000000000000046}", nullptr},  // 33 digits
      {"00020404-0000-0000-c000-000000000046", nullptr},
      {"{00020404-0000-0000-g000-000000000046}", nullptr},
      {"{00020404-0000-0000-c000-000000000046 ", nullptr},
      {"{00020404-0000-0000-c000-00000000046", nullptr},
      {"{0002}", nullptr}};
  for (const auto& [text, iid] : cases) {
    const auto guid = TextToGuid(text);
    EXPECT_EQ(guid.has_value(), iid != nullptr) << text;
    if (guid && iid) {
      EXPECT_EQ(std::memcmp(&*guid, iid, 16), 0) << text;
    }
  }
  const auto a = TextToGuid(""), b = TextToGuid("");
  ASSERT_TRUE(a && b);
  EXPECT_NE(std::memcmp(&a->Data1, &b->Data1, 8), 0) << "empty text makes a fresh GUID each time";
  EXPECT_NE(std::memcmp(a->Data4, b->Data4, 8), 0);
}

TEST(ComLayer, StringsVariantsRegistryAndSlots) {
  const long strings = posix_com::LiveStringCount();
  const char bytes[] = {'a', 0, 'b', 0, 0, 0, 'c', 0};
  const UniqueBstr text(SysAllocStringByteLen(bytes, sizeof bytes)),
      odd(SysAllocStringByteLen("abc", 3));
  EXPECT_EQ(SysStringByteLen(text.get()), 8U);
  EXPECT_EQ(std::u16string(text.get(), 5), u"ab\0c\0"s);  // a terminator behind the text
  EXPECT_EQ(SysStringByteLen(odd.get()), 3U);
  EXPECT_EQ(SysStringLen(odd.get()), 1U);
  EXPECT_EQ(posix_com::LiveStringCount(), strings + 2);
  {
    UniqueVariant copy;
    const VARIANT source = Pointing(8, text.get());
    ASSERT_EQ(VariantCopy(copy.get(), &source), S_OK);
    EXPECT_NE(copy->bstrVal, text.get());
    EXPECT_EQ(std::u16string(copy->bstrVal, 5), u"ab\0c\0"s);
  }
  EXPECT_EQ(posix_com::LiveStringCount(), strings + 2);

  InstallFakeWmi({});
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"WBEMSCRIPTING.swbemlocator", &clsid), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"WbemScripting.Other", &clsid), CO_E_CLASSSTRING);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, 5, IID_IDispatch, &object), CO_E_NOTINITIALIZED);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, 4, IID_IDispatch, &object), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, 5, IID_IDispatch, &object), S_OK);
  {
    UniqueVariant holder, copy;
    com::SetObjectResult(holder.get(), static_cast<IDispatch*>(object));
    static_cast<IDispatch*>(object)->Release();
    ASSERT_EQ(VariantCopy(copy.get(), holder.get()), S_OK);
    holder.reset();
    EXPECT_EQ(com::LiveObjects().load(), 1) << "the copy holds its own reference";
  }
  EXPECT_EQ(com::LiveObjects().load(), 0);
  CoUninitialize();
  UninstallFakeWmi();
  EXPECT_EQ(CLSIDFromProgID(u"WbemScripting.SWbemLocator", &clsid), CO_E_CLASSSTRING);
}

#if defined(__x86_64__) || defined(__i386__)
// On the Itanium C++ ABI a pointer to a virtual member holds 1 + its byte
// offset in the table, so the slot each method landed in can be read back.
template <class M>
std::ptrdiff_t Slot(M member) {
  std::ptrdiff_t raw = 0;
  std::memcpy(&raw, &member, sizeof raw);
  return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(ComLayer, MethodsSitInTheirComSlots) {
  const std::ptrdiff_t slots[] = {Slot(&IUnknown::QueryInterface),
                                  Slot(&IUnknown::Release),
                                  Slot(&IDispatch::GetIDsOfNames),
                                  Slot(&IDispatch::Invoke),
                                  Slot(&IEnumVARIANT::Next),
                                  Slot(&IEnumVARIANT::Reset),
                                  Slot(&ISWbemObjectSet::get__NewEnum),
                                  Slot(&ISWbemObjectSet::get_Count)};
  EXPECT_EQ(std::vector<std::ptrdiff_t>(std::begin(slots), std::end(slots)),
            (std::vector<std::ptrdiff_t>{0, 2, 5, 6, 3, 5, 7, 9}));
}
#endif

// An enumerator over n plain objects.
class Items final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Items(ULONG n) : n_(n) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    *fetched = given_ < n_ ? 1 : 0;
    if (given_++ >= n_) return S_FALSE;
    item->vt = VT_UNKNOWN;
    item->punkVal = new Items(0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return given_ = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  ULONG n_, given_ = 0;
};

// On a thread of its own, where LastAutomationResult starts at 0.
TEST(Bridge, RecordsWhatTheCallsAnswer) {
  std::thread([] {
    EXPECT_EQ(LastAutomationResult(), 0);
    InstallFakeWmi({.connect = S_FALSE});
    const std::string name39 = "WbemScripting." + std::string(25, 'x');
    for (const std::string& name : {name39, name39 + "x"}) {
      posix_com::RegisterClass(
          std::u16string(name.begin(), name.end()), [](REFIID iid, void** out) {
            return ComPtr<IUnknown>::Attach(new Items(0))->QueryInterface(iid, out);
          });
    }
    (void)CoInitialize(nullptr);
    ObjectRef locator, none;
    AutoCreateObject(locator, name39 + "x", IID_IUnknown);
    EXPECT_FALSE(AutoIsObject(locator)) << "40 characters is an unknown ProgID";
    EXPECT_EQ(LastAutomationResult(), 0);
    AutoCreateObject(locator, name39, IID_IDispatch);
    EXPECT_EQ(LastAutomationResult(), E_NOINTERFACE);
    AutoCreateObject(locator, name39, IID_IUnknown);
    EXPECT_TRUE(AutoIsObject(locator));
    AutoCreateObject(locator, "wbemscripting.swbemlocator", IID_IDispatch);
    ASSERT_TRUE(AutoIsObject(locator));
    UniqueVariant result;
    AutoInvoke(locator, "NOSUCH", InvokeKind::Method, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), DISP_E_UNKNOWNNAME);
    AutoInvoke(locator, "connectserver", InvokeKind::Method, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), S_FALSE);
    AutoInvoke(none, "CONNECTSERVER", InvokeKind::Method, {}, result.get());
    EXPECT_FALSE(AutoIsObject(AutoGetSubobject(none, "SECURITY_")));
    AutoCreateObject(locator, "", IID_NULL);  // only releases
    EXPECT_FALSE(AutoIsObject(locator));
    ObjectRef services;
    AutoSetObject(services, Tagged(9), IID_IDispatch);
    EXPECT_FALSE(AutoIsObject(services));
    EXPECT_EQ(LastAutomationResult(), S_FALSE) << "nothing above records";
    AutoSetObject(services, Pointing(0x400C, result.get()), IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(services));
    AutoSetObject(services, *result, IID_IEnumVARIANT);
    EXPECT_FALSE(AutoIsObject(services));
    IUnknown* held = result->punkVal;
    AutoSetObject(services, Pointing(0x400D, &held), IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(AutoGetSubobject(services, "SECURITY_")));
    for (const std::string& name : {name39, name39 + "x"}) {
      posix_com::UnregisterClass(std::u16string(name.begin(), name.end()));
    }
    CoUninitialize();
    UninstallFakeWmi();
  }).join();
}

TEST(Bridge, EnumerationFillsAtMostTheSlotsThereAre) {
  // Items, bounds, result, slots filled.
  const std::tuple<ULONG, LONG, LONG, LONG, int> cases[] = {
      {2, 1, 3, -1, 2}, {5, 1, 2, -1, 2}, {0, 1, 4, -1, 0}, {3, 0, -1, 0, 0}, {4, 0, 3, -1, 4}};
  for (const auto& [items, lower, upper, returns, filled] : cases) {
    const auto source = ComPtr<Items>::Attach(new Items(items));
    VARIANT slots[4] = {};
    EXPECT_EQ(
        EnumerateCollection(reinterpret_cast<std::uintptr_t>(source.get()), slots, lower, upper),
        returns);
    EXPECT_EQ(std::ranges::count_if(slots, [](auto& s) { return s.vt == VT_UNKNOWN; }), filled);
    for (auto& slot : slots) VariantClear(&slot);
  }
  EXPECT_EQ(com::LiveObjects().load(), 0) << "the enumerator or an item leaked";
  EXPECT_EQ(EnumerateCollection(0, nullptr, 1, 1), 0);
}

}  // namespace
}  // namespace kelvarin::testing
