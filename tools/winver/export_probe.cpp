// Release check: calls kelvarin.exe's export, built in from its source, with the
// SAFEARRAYs below, one result per line. (Wine binds no imports of an .exe
// loaded as a module, so the shipped file cannot be called in place.) The
// source yields 1, 2, 3, ... without end: an array let through shows as -1
// or a crash, not 0.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cstdio>
#include <utility>

#include "wmi_standin/com_server.h"

extern "C" LONG WINAPI WBEMCOLLECTION_ENUMERATE(ULONG_PTR source, SAFEARRAY** slots);

namespace {

// Each item a number, counting from 1 again after Reset.
struct Counter final : kelvarin::com::ObjectBase<IEnumVARIANT> {
  LONG count = 0;
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    V_VT(item) = VT_I4, V_I4(item) = ++count, *fetched = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reset() override { return count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }
  [[nodiscard]] bool Supports(REFIID) const override { return true; }
};

// A vector of two elements of `size` bytes, typed `type` (VT_EMPTY: untyped).
SAFEARRAY* Vector(VARTYPE type, ULONG size) {
  SAFEARRAY* array = nullptr;
  (void)(type == VT_EMPTY ? SafeArrayAllocDescriptor(1, &array)
                          : SafeArrayAllocDescriptorEx(type, 1, &array));
  array->cbElements = size, array->rgsabound[0] = {2, 0};
  SafeArrayAllocData(array);
  return array;
}

}  // namespace

int main() {
  auto* source = new Counter;
  SAFEARRAYBOUND square[] = {{2, 0}, {2, 0}};
  SAFEARRAY* const slots = SafeArrayCreateVector(VT_VARIANT, 5, 2);
  // clang-format off
  const std::pair<const char*, SAFEARRAY*> cases[] = {
      {"no array", nullptr}, {"two dimensions", SafeArrayCreate(VT_VARIANT, 2, square)}, {"4-byte elements", Vector(VT_EMPTY, 4)},
      {"DECIMAL elements", Vector(VT_DECIMAL, sizeof(VARIANT))}, {"slots 5..6", slots}};
  // clang-format on
  for (auto [name, array] : cases) {
    const ULONG_PTR from = reinterpret_cast<ULONG_PTR>(source);
    std::printf("%s: %ld\n", name, WBEMCOLLECTION_ENUMERATE(from, array ? &array : nullptr));
  }
  const auto* written = static_cast<const VARIANT*>(slots->pvData);
  std::printf("written: %ld %ld\n", V_I4(&written[0]), V_I4(&written[1]));
  return 0;
}
