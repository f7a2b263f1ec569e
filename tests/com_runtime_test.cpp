// The POSIX COM layer: strings, VARIANT ownership, the class registry, the
// code-page stand-in and the interface table layout the bridge relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "automation/com.h"
#include "automation/com_object.h"
#include "automation/com_ptr.h"

namespace kelvarin {
namespace {

TEST(Bstr, KeepsByteCountEmbeddedZerosAndTerminator) {
  const long before = posix_com::LiveStringCount();
  {
    const char bytes[] = {'a', 0, 'b', 0, 0, 0, 'c', 0};
    UniqueBstr text(SysAllocStringByteLen(bytes, sizeof bytes));
    ASSERT_TRUE(text);
    EXPECT_EQ(SysStringByteLen(text.get()), 8U);
    EXPECT_EQ(SysStringLen(text.get()), 4U);
    EXPECT_EQ(text.get()[2], u'\0');
    EXPECT_EQ(text.get()[3], u'c');
    EXPECT_EQ(text.get()[4], u'\0');  // terminator behind the counted text
    UniqueBstr odd(SysAllocStringByteLen("abc", 3));
    EXPECT_EQ(SysStringByteLen(odd.get()), 3U);
    EXPECT_EQ(SysStringLen(odd.get()), 1U);
    EXPECT_EQ(posix_com::LiveStringCount(), before + 2);
  }
  EXPECT_EQ(posix_com::LiveStringCount(), before);
  EXPECT_EQ(SysStringByteLen(nullptr), 0U);
  SysFreeString(nullptr);
}

std::u16string Widen(const std::string& utf8) {
  const int bytes = static_cast<int>(utf8.size());
  const int chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, utf8.data(), bytes, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(chars), u'\0');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 1, utf8.data(), bytes, wide.data(), chars), chars);
  return wide;
}

std::string Narrow(const std::u16string& wide) {
  const int chars = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, narrow.data(), bytes, nullptr, nullptr),
      bytes);
  return narrow;
}

TEST(CodePage, WidensLosslesslyAndReplacesInvalidBytes) {
  const std::pair<std::string, std::u16string> roundTrips[] = {
      {"Dell Inc.", u"Dell Inc."},
      {"Fujitsu Siemens \xC3\xA9", u"Fujitsu Siemens \u00E9"},
      {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xF0\x9F\x92\xBB", u"\U0001F4BB"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)}};
  for (const auto& [utf8, utf16] : roundTrips) {
    EXPECT_EQ(Widen(utf8), utf16);
    EXPECT_EQ(Narrow(utf16), utf8);
  }
  const std::pair<std::string, std::u16string> invalid[] = {{"caf\xE9", u"caf\uFFFD"},
                                                            {"\xE4\xB8", u"\uFFFD\uFFFD"},
                                                            {"\xC0\xAF", u"\uFFFD\uFFFD"},
                                                            {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                                                            {"a\x80z", u"a\uFFFDz"}};
  for (const auto& [bytes, widened] : invalid) EXPECT_EQ(Widen(bytes), widened);
}

TEST(CodePage, UnpairedSurrogateNarrowsToQuestionMark) {
  const char16_t wide[] = {u'a', 0xD800, u'b', 0xDC00};
  char out[8] = {};
  BOOL usedDefault = 0;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 4, out, 8, nullptr, &usedDefault), 4);
  EXPECT_EQ(std::string(out, 4), "a?b?");
  EXPECT_EQ(usedDefault, 1);
}

TEST(CodePage, TooSmallBufferGivesZero) {
  char16_t wide[2] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 1, "abc", 3, wide, 2), 0);
  char narrow[1] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9", 1, narrow, 1, nullptr, nullptr), 0);
}

class Counted final : public com::DispatchBase<> {
 protected:
  DISPID FindMember(const std::string&) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override { return E_FAIL; }
};

TEST(Variant, CopyIsDeepAndClearFreesEverything) {
  const long strings = posix_com::LiveStringCount();
  {
    auto object = ComPtr<IDispatch>::Attach(new Counted());
    UniqueVariant text;
    TextToVariant("serial", *text);
    UniqueVariant copy;
    ASSERT_EQ(VariantCopy(copy.get(), text.get()), S_OK);
    EXPECT_NE(copy->bstrVal, text->bstrVal);
    EXPECT_EQ(VariantToText(*copy), "serial");

    UniqueVariant holder;
    com::SetObjectResult(holder.get(), object.get());
    ASSERT_EQ(VariantCopy(copy.get(), holder.get()), S_OK);  // frees the string copy first
    EXPECT_EQ(copy->vt, VT_DISPATCH);
    EXPECT_EQ(posix_com::LiveStringCount(), strings + 1);
    holder.reset();
    EXPECT_EQ(holder->vt, VT_EMPTY);
    EXPECT_EQ(com::LiveObjects().load(), 1);  // the copy still holds it
  }
  EXPECT_EQ(com::LiveObjects().load(), 0);
  EXPECT_EQ(posix_com::LiveStringCount(), strings);
}

TEST(Registry, FindsProgIdWithoutRegardToCaseAndNeedsAnApartment) {
  posix_com::RegisterClass(u"Test.Counted", [](REFIID iid, void** out) {
    auto object = ComPtr<IDispatch>::Attach(new Counted());
    return object->QueryInterface(iid, out);
  });
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"TEST.COUNTED", &clsid), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"Test.Missing", &clsid), CO_E_CLASSSTRING);

  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, 5, IID_IDispatch, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, 5, IID_IEnumVARIANT, &object), E_NOINTERFACE);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, 5, IID_IDispatch, &object), S_OK);
  static_cast<IDispatch*>(object)->Release();
  CoUninitialize();
  posix_com::UnregisterClass(u"test.counted");
  EXPECT_EQ(CLSIDFromProgID(u"Test.Counted", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(com::LiveObjects().load(), 0);
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

TEST(InterfaceLayout, MethodsSitInTheirComSlots) {
  EXPECT_EQ(Slot(&IUnknown::QueryInterface), 0);
  EXPECT_EQ(Slot(&IUnknown::Release), 2);
  EXPECT_EQ(Slot(&IDispatch::GetIDsOfNames), 5);
  EXPECT_EQ(Slot(&IDispatch::Invoke), 6);
  EXPECT_EQ(Slot(&IEnumVARIANT::Next), 3);
  EXPECT_EQ(Slot(&IEnumVARIANT::Reset), 5);
  EXPECT_EQ(Slot(&ISWbemObjectSet::get__NewEnum), 7);
  EXPECT_EQ(Slot(&ISWbemObjectSet::get_Count), 9);
}
#endif

}  // namespace
}  // namespace kelvarin
