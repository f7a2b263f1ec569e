// Conversions between VARIANTs and the program's text and numbers.
#include <gtest/gtest.h>

#include "automation/com_object.h"
#include "automation/com_ptr.h"
#include "automation/variant_text.h"

namespace kelvarin {
namespace {

VARIANT Tagged(VARTYPE vt, LONGLONG payload = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = payload;
  return v;
}

TEST(VariantText, OnlyStringsGiveTextAlsoThroughReferenceChains) {
  UniqueVariant text;
  TextToVariant("Lenovo", *text);
  BSTR raw = text->bstrVal;
  VARIANT byRefString = Tagged(VT_BYREF | VT_BSTR);
  byRefString.pbstrVal = &raw;
  UniqueVariant middle;
  middle->vt = VT_BYREF | VT_VARIANT;
  middle->pvarVal = text.get();
  VARIANT chain = Tagged(VT_BYREF | VT_VARIANT);
  chain.pvarVal = middle.get();
  VARIANT array = *text;
  array.vt = VT_ARRAY | VT_BSTR;

  const std::pair<VARIANT, std::string> cases[] = {{Tagged(VT_NULL), ""},
                                                   {Tagged(VT_EMPTY), ""},
                                                   {Tagged(VT_I4, 42), ""},
                                                   {Tagged(VT_BOOL, 0xFFFF), ""},
                                                   {Tagged(VT_DATE, 0x40E5F4C000000000LL), ""},
                                                   {Tagged(VT_BSTR), ""},
                                                   {*text, "Lenovo"},
                                                   {byRefString, "Lenovo"},
                                                   {chain, "Lenovo"},
                                                   {array, ""}};
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(VariantToText(value), expected) << "tag " << value.vt;
  }
}

TEST(VariantText, EmbeddedZeroCharacterBecomesZeroByte) {
  const char16_t chars[] = {u'A', 0, u'B'};
  UniqueVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(chars, 3);
  EXPECT_EQ(VariantToText(*v), std::string("A\0B", 3));
}

TEST(VariantText, EmptyTextIsANullStringNotEmpty) {
  UniqueVariant v;
  v->vt = VT_I4;
  TextToVariant("", *v);
  EXPECT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(v->bstrVal, nullptr);
  TextToVariant("root\\CIMV2", *v);
  EXPECT_EQ(SysStringLen(v->bstrVal), 10U);
  EXPECT_EQ(VariantToText(*v), "root\\CIMV2");
}

VARIANT WithDouble(VARTYPE vt, double d) {
  VARIANT v = Tagged(vt);
  v.dblVal = d;
  return v;
}

TEST(VariantNumber, ReadsEachTagAtItsWidthAndNeverParsesText) {
  UniqueVariant digits;
  TextToVariant("42", *digits);
  LONG referenced = 17;
  VARIANT byRef = Tagged(VT_BYREF | VT_I4);
  byRef.byref = &referenced;
  const std::pair<VARIANT, double> cases[] = {{Tagged(VT_I2, 0xFFFE), -2},
                                              {Tagged(VT_UI4, 0xFFFFFFFFLL), 4294967295.0},
                                              {Tagged(VT_BOOL, 0xFFFF), -1},
                                              {Tagged(VT_CY, 25), 0.0025},
                                              {WithDouble(VT_R8, 128.0), 128.0},
                                              {WithDouble(VT_DATE, 45000.5), 45000.5},
                                              {Tagged(VT_I1, 0x80), -128},
                                              {Tagged(VT_UI1, 0x80), 128},
                                              {Tagged(VT_ERROR, 0x80004005LL), -2147467259.0},
                                              {Tagged(VT_DISPATCH), 0},
                                              {Tagged(VT_INT, 7), 0},
                                              {Tagged(VT_ARRAY | VT_I4, 9), 0},
                                              {*digits, 0},
                                              {byRef, 17}};
  for (const auto& [value, expected] : cases) {
    EXPECT_DOUBLE_EQ(VariantToNumber(value), expected) << "tag " << value.vt;
  }
}

class Plain final : public com::DispatchBase<> {
 protected:
  DISPID FindMember(const std::string&) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override { return E_FAIL; }
};

TEST(VariantPointer, KeepsTheFullPointerWidth) {
  auto object = ComPtr<IDispatch>::Attach(new Plain());
  UniqueVariant v;
  com::SetObjectResult(v.get(), object.get());
  const auto expected = reinterpret_cast<std::uintptr_t>(object.get());
  EXPECT_EQ(VariantToPointer(*v), expected);
  EXPECT_NE(VariantToNumber(*v), 0);
  IDispatch* held = object.get();
  VARIANT byRef = Tagged(VT_BYREF | VT_DISPATCH);
  byRef.ppdispVal = &held;
  EXPECT_EQ(VariantToPointer(byRef), expected);
  EXPECT_EQ(VariantToPointer(Tagged(VT_I4, 5)), 0U);
}

TEST(Guid, ReadsTheEnumeratorInterfaceInAnyWriting) {
  const std::pair<const char*, bool> cases[] = {
      {"{00020404-0000-0000-c000-000000000046}", true},
      {"{00020404-0000-0000-C000-000000000046}", true},
      {"{0002040400000000C000000000000046}", true},
      {"{-0002 0404-0000 0000-C000 0000 0000 0046 -}", true},
      {"{00020404000000000c000000000000046}", false},  // 33 digits
      {"00020404-0000-0000-c000-000000000046", false},
      {"{00020404-0000-0000-g000-000000000046}", false},
      {"{00020404-0000-0000-c000-000000000046 ", false},
      {"{0002}", false}};
  for (const auto& [text, isGuid] : cases) {
    const auto guid = TextToGuid(text);
    EXPECT_EQ(guid.has_value(), isGuid) << text;
    if (guid) {
      EXPECT_TRUE(*guid == IID_IEnumVARIANT) << text;
    }
  }
  const auto a = TextToGuid("");
  const auto b = TextToGuid("");
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(*a == *b) << "empty text makes a fresh GUID each time";
}

}  // namespace
}  // namespace kelvarin
