// The server side of COM for the stand-in's objects (and test doubles):
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
#include "core/text.h"

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
    const bool dispatch =
        std::is_base_of_v<IDispatch, Interface> && IsEqualGUID(iid, IID_IDispatch);
    if (!(IsEqualGUID(iid, IID_IUnknown) || dispatch || Supports(iid))) {
      *object = nullptr;
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

// A member name as GetIDsOfNames receives it.
using MemberName = std::basic_string_view<OLECHAR>;

// IDispatch by member name, without regard to case, as the Windows objects do.
template <class Interface = IDispatch>
class DispatchBase : public ObjectBase<Interface> {
 public:
  // No type information: the program finds members by name alone.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  // The program looks up one member name at a time.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    ids[0] = FindMember(MemberName(names[0]));
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    return InvokeMember(id, flags, *params, result);
  }

 protected:
  // DISPID_UNKNOWN when the object has no such member; see MemberIs.
  virtual DISPID FindMember(MemberName name) = 0;
  virtual HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params,
                               VARIANT* result) = 0;
};

// An object set read only through its interface table, as the program reads
// it, from the pointer it was handed: the members it does not use answer
// E_NOTIMPL, and none has a name.
class ObjectSetBase : public DispatchBase<ISWbemObjectSet> {
 public:
  HRESULT STDMETHODCALLTYPE Item(BSTR, LONG, ISWbemObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Security_(ISWbemSecurity**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ItemIndex(LONG, ISWbemObject**) override { return E_NOTIMPL; }

 protected:
  DISPID FindMember(MemberName) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

// Whether a name asked for through GetIDsOfNames is `member`, an ASCII name.
inline bool MemberIs(MemberName name, std::string_view member) {
  return EqualsIgnoringAsciiCase(name, member);
}

// The positional argument `index` in source order, by-reference chains
// followed. The program passes every argument these objects read, and none
// by name.
inline const VARIANT* PositionalArgument(const DISPPARAMS& params, UINT index) {
  return EndOfReferences(&params.rgvarg[params.cArgs - 1 - index]);
}

// Stores UTF-8 text as VT_BSTR, or VT_NULL when there is none, into the
// empty result the program hands in. UTF-8 whatever the ANSI code page: the
// strings must reach the caller as the characters they are, as WMI's do, and
// only the caller converts to its code page.
inline void SetTextResult(VARIANT* result, const std::optional<std::string_view>& text) {
  if (!text) {
    result->vt = VT_NULL;
    return;
  }
  TextToVariant(*text, *result, CP_UTF8);
}

// Hands a new reference to `object` out through the empty `result` as VT_DISPATCH.
inline void SetObjectResult(VARIANT* result, IDispatch* object) {
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
  object->AddRef();
}

}  // namespace kelvarin::com
