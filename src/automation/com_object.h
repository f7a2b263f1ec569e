// Building blocks for COM objects of our own (the WMI stand-in, test doubles):
// reference counting with a count of live objects, and IDispatch answered by
// member name without type libraries.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "automation/com.h"
#include "automation/variant_text.h"

namespace kelvarin::com {

// Objects made from ObjectBase and not yet destroyed.
inline std::atomic<long>& LiveObjects() noexcept {
  static std::atomic<long> count{0};
  return count;
}

template <class Interface>
class ObjectBase : public Interface {
 public:
  ObjectBase() noexcept { LiveObjects().fetch_add(1); }
  ObjectBase(const ObjectBase&) = delete;
  ObjectBase& operator=(const ObjectBase&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const bool dispatch =
        std::is_base_of_v<IDispatch, Interface> && IsEqualGUID(iid, IID_IDispatch);
    if (!(IsEqualGUID(iid, IID_IUnknown) || dispatch || Supports(iid))) {
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ObjectBase() { LiveObjects().fetch_sub(1); }
  // Interfaces beyond IUnknown and IDispatch that the object answers to.
  [[nodiscard]] virtual bool Supports(REFIID /*iid*/) const { return false; }

 private:
  std::atomic<ULONG> references_{1};
};

// Upper-cases an ASCII member name; nothing for a name with other characters.
inline std::optional<std::string> FoldMemberName(const OLECHAR* name) {
  if (name == nullptr) return std::nullopt;
  std::string out;
  for (; *name != 0; ++name) {
    const auto c = static_cast<unsigned>(*name);
    if (c >= 0x80) return std::nullopt;
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return out;
}

// IDispatch by member name, without regard to case, as the Windows objects do.
template <class Interface = IDispatch>
class DispatchBase : public ObjectBase<Interface> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    const auto folded = FoldMemberName(names[0]);
    ids[0] = folded ? FindMember(*folded) : DISPID_UNKNOWN;
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    DISPPARAMS none{};
    return InvokeMember(id, flags, params == nullptr ? none : *params, result);
  }

 protected:
  // DISPID_UNKNOWN when the object has no such member.
  virtual DISPID FindMember(const std::string& upperName) = 0;
  virtual HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params,
                               VARIANT* result) = 0;
};

// The positional argument `index` in source order, by-reference chains
// followed; null when the caller passed fewer.
inline const VARIANT* PositionalArgument(const DISPPARAMS& params, UINT index) {
  const UINT positional = params.cArgs - params.cNamedArgs;
  if (params.cArgs < params.cNamedArgs || index >= positional || params.rgvarg == nullptr) {
    return nullptr;
  }
  const VARIANT* v = &params.rgvarg[params.cArgs - 1 - index];
  while (v != nullptr && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

// The value of a property write: the argument named DISPID_PROPERTYPUT.
inline const VARIANT* PutValue(const DISPPARAMS& params) {
  for (UINT i = 0; i < params.cNamedArgs && i < params.cArgs; ++i) {
    if (params.rgdispidNamedArgs != nullptr && params.rgdispidNamedArgs[i] == DISPID_PROPERTYPUT) {
      const VARIANT* v = &params.rgvarg[i];
      while (v != nullptr && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
      return v;
    }
  }
  return nullptr;
}

// Stores UTF-8 text as VT_BSTR, or VT_NULL when there is none. UTF-8 whatever
// the ANSI code page: the strings must reach the caller as the characters
// they are, as WMI's do, and only the caller converts to its code page.
inline void SetTextResult(VARIANT* result, const std::optional<std::string>& text) {
  if (result == nullptr) return;
  VariantClear(result);
  if (!text) {
    result->vt = VT_NULL;
    return;
  }
  TextToVariant(*text, *result, CP_UTF8);
}

// Hands a new reference to `object` out through `result` as VT_DISPATCH.
inline void SetObjectResult(VARIANT* result, IDispatch* object) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
  if (object != nullptr) object->AddRef();
}

}  // namespace kelvarin::com
