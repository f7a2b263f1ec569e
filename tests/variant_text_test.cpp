// Conversions between VARIANTs and the program's text and numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "automation/com_object.h"
#include "automation/com_ptr.h"
#include "automation/variant_text.h"

namespace kelvarin {
namespace {

// Variables that by-reference VARIANTs point at must outlive the case.
struct Store {
  UniqueVariant inner;
  UniqueVariant middle;
  BSTR text = nullptr;
  LONG number = 0;
};

struct TextCase {
  const char* name;
  std::function<VARIANT(Store&)> make;
  std::string text;
};

VARIANT Tagged(VARTYPE vt, LONGLONG payload = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = payload;
  return v;
}

class ToText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ToText, OnlyStringsGiveText) {
  Store store;
  TextToVariant("Lenovo", *store.inner);
  const VARIANT v = GetParam().make(store);
  EXPECT_EQ(VariantToText(v), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToText,
    ::testing::Values(TextCase{"Null", [](Store&) { return Tagged(VT_NULL); }, ""},
                      TextCase{"Empty", [](Store&) { return Tagged(VT_EMPTY); }, ""},
                      TextCase{"Integer", [](Store&) { return Tagged(VT_I4, 42); }, ""},
                      TextCase{"BooleanTrue", [](Store&) { return Tagged(VT_BOOL, 0xFFFF); }, ""},
                      TextCase{"Date", [](Store&) { return Tagged(VT_DATE, 0x40E5F4C000000000LL); },
                               ""},
                      TextCase{"NullString", [](Store&) { return Tagged(VT_BSTR); }, ""},
                      TextCase{"String", [](Store& s) { return *s.inner; }, "Lenovo"},
                      TextCase{"StringByReference",
                               [](Store& s) {
                                 s.text = s.inner->bstrVal;
                                 VARIANT v = Tagged(VT_BYREF | VT_BSTR);
                                 v.pbstrVal = &s.text;
                                 return v;
                               },
                               "Lenovo"},
                      TextCase{"ChainOfVariantReferences",
                               [](Store& s) {
                                 s.middle->vt = VT_BYREF | VT_VARIANT;
                                 s.middle->pvarVal = s.inner.get();
                                 VARIANT v = Tagged(VT_BYREF | VT_VARIANT);
                                 v.pvarVal = s.middle.get();
                                 return v;
                               },
                               "Lenovo"},
                      TextCase{"ArrayOfStrings",
                               [](Store& s) {
                                 VARIANT v = *s.inner;
                                 v.vt = VT_ARRAY | VT_BSTR;
                                 return v;
                               },
                               ""}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(ToText, EmbeddedZeroCharacterBecomesZeroByte) {
  const char16_t chars[] = {u'A', 0, u'B'};
  UniqueVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(chars, 3);
  EXPECT_EQ(VariantToText(*v), std::string("A\0B", 3));
}

TEST(FromText, EmptyTextIsANullStringNotEmpty) {
  UniqueVariant v;
  v->vt = VT_I4;
  TextToVariant("", *v);
  EXPECT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(v->bstrVal, nullptr);
  TextToVariant("root\\CIMV2", *v);
  EXPECT_EQ(SysStringLen(v->bstrVal), 10U);
  EXPECT_EQ(VariantToText(*v), "root\\CIMV2");
}

struct NumberCase {
  const char* name;
  VARIANT value;
  double number;
};

VARIANT WithDouble(VARTYPE vt, double d) {
  VARIANT v = Tagged(vt);
  v.dblVal = d;
  return v;
}

class ToNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ToNumber, ReadsEachTagAtItsWidth) {
  EXPECT_DOUBLE_EQ(VariantToNumber(GetParam().value), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, ToNumber,
    ::testing::Values(NumberCase{"I2Negative", Tagged(VT_I2, 0xFFFE), -2},
                      NumberCase{"I4", Tagged(VT_I4, 0x7FFFFFFF), 2147483647.0},
                      NumberCase{"UI4AllBits", Tagged(VT_UI4, 0xFFFFFFFFLL), 4294967295.0},
                      NumberCase{"BoolTrue", Tagged(VT_BOOL, 0xFFFF), -1},
                      NumberCase{"Currency", Tagged(VT_CY, 25), 0.0025},
                      NumberCase{"R8", WithDouble(VT_R8, 128.0), 128.0},
                      NumberCase{"Date", WithDouble(VT_DATE, 45000.5), 45000.5},
                      NumberCase{"I1", Tagged(VT_I1, 0x80), -128},
                      NumberCase{"UI1", Tagged(VT_UI1, 0x80), 128},
                      NumberCase{"I8", Tagged(VT_I8, -5), -5},
                      NumberCase{"Error", Tagged(VT_ERROR, 0x80004005LL), -2147467259.0},
                      NumberCase{"NullDispatch", Tagged(VT_DISPATCH), 0},
                      NumberCase{"Int", Tagged(VT_INT, 7), 0},
                      NumberCase{"Empty", Tagged(VT_EMPTY, 9), 0},
                      NumberCase{"ArrayOfI4", Tagged(VT_ARRAY | VT_I4, 9), 0}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(ToNumber, TextIsNeverParsedAndReferencesAreFollowed) {
  UniqueVariant digits;
  TextToVariant("42", *digits);
  EXPECT_EQ(VariantToNumber(*digits), 0);

  LONG n = 17;
  VARIANT byRef = Tagged(VT_BYREF | VT_I4);
  byRef.byref = &n;
  EXPECT_EQ(VariantToNumber(byRef), 17);
}

class Plain final : public com::DispatchBase<> {
 protected:
  DISPID FindMember(const std::string&) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override { return E_FAIL; }
};

TEST(ToPointer, KeepsTheFullPointerWidth) {
  auto object = ComPtr<IDispatch>::Attach(new Plain());
  UniqueVariant v;
  com::SetObjectResult(v.get(), object.get());
  EXPECT_EQ(VariantToPointer(*v), reinterpret_cast<std::uintptr_t>(object.get()));
  EXPECT_NE(VariantToNumber(*v), 0);
  IDispatch* held = object.get();
  VARIANT byRef = Tagged(VT_BYREF | VT_DISPATCH);
  byRef.ppdispVal = &held;
  EXPECT_EQ(VariantToPointer(byRef), reinterpret_cast<std::uintptr_t>(held));
  EXPECT_EQ(VariantToPointer(Tagged(VT_I4, 5)), 0U);
}

struct GuidCase {
  const char* name;
  const char* text;
  bool isGuid;
};

class Guid : public ::testing::TestWithParam<GuidCase> {};

TEST_P(Guid, ReadsTheEnumeratorInterfaceInAnyWriting) {
  const auto guid = TextToGuid(GetParam().text);
  ASSERT_EQ(guid.has_value(), GetParam().isGuid);
  if (guid) {
    EXPECT_TRUE(*guid == IID_IEnumVARIANT);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Guid,
    ::testing::Values(GuidCase{"Usual", "{00020404-0000-0000-c000-000000000046}", true},
                      GuidCase{"UpperCase", "{00020404-0000-0000-C000-000000000046}", true},
                      GuidCase{"ThirtyThreeDigits", "{00020404000000000c000000000000046}", false},
                      GuidCase{"NoDashes34", "{0002040400000000C000000000000046}", true},
                      GuidCase{"DashesAnywhere", "{-0002 0404-0000 0000-C000 0000 0000 0046 -}",
                               true},
                      GuidCase{"NoBraces", "00020404-0000-0000-c000-000000000046", false},
                      GuidCase{"LetterG", "{00020404-0000-0000-g000-000000000046}", false},
                      GuidCase{"NoClosingBrace", "{00020404-0000-0000-c000-000000000046 ", false},
                      GuidCase{"TooShort", "{0002}", false}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(Guid, EmptyTextGivesAFreshGuidEachTime) {
  const auto a = TextToGuid("");
  const auto b = TextToGuid("");
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(*a == *b);
}

}  // namespace
}  // namespace kelvarin
