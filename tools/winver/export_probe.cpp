// Release check: calls kelvarin.exe's export, built in from its source, with the
// SAFEARRAYs below, one result per line. (Wine binds no imports of an .exe
// loaded as a module, so the shipped file cannot be called in place.) The
// source yields 1, 2, 3, ... without end: an array let through shows as -1
// or a crash, not 0.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cstdio>

extern "C" LONG WINAPI WBEMCOLLECTION_ENUMERATE(ULONG_PTR source, SAFEARRAY** slots);

namespace {

struct Counter final : IEnumVARIANT {
  LONG count = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    V_VT(item) = VT_I4;
    V_I4(item) = ++count;
    *fetched = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }
};

// Two elements of `size` bytes; VT_EMPTY: an array that names no type.
SAFEARRAY* Vector(VARTYPE type, ULONG size) {
  SAFEARRAY* array = nullptr;
  if (type == VT_EMPTY)
    SafeArrayAllocDescriptor(1, &array);
  else
    SafeArrayAllocDescriptorEx(type, 1, &array);
  array->cbElements = size;
  array->rgsabound[0] = {2, 0};
  SafeArrayAllocData(array);
  return array;
}

}  // namespace

int main() {
  Counter source;
  SAFEARRAYBOUND square[] = {{2, 0}, {2, 0}};
  SAFEARRAY* const slots = SafeArrayCreateVector(VT_VARIANT, 5, 2);
  const struct {
    const char* name;
    SAFEARRAY* array;
  } cases[] = {{"no array", nullptr},
               {"two dimensions", SafeArrayCreate(VT_VARIANT, 2, square)},
               {"4-byte elements", Vector(VT_EMPTY, 4)},
               {"DECIMAL elements", Vector(VT_DECIMAL, sizeof(VARIANT))},
               {"slots 5..6", slots}};
  for (auto [name, array] : cases) {
    std::printf(
        "%s: %ld\n", name,
        WBEMCOLLECTION_ENUMERATE(reinterpret_cast<ULONG_PTR>(&source), array ? &array : nullptr));
  }
  const auto* written = static_cast<const VARIANT*>(slots->pvData);
  std::printf("written: %ld %ld\n", V_I4(&written[0]), V_I4(&written[1]));
  return 0;
}
