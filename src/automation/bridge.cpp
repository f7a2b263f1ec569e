#include "automation/bridge.h"

#include <array>
#include <utility>

#include "automation/com_ptr.h"
#include "automation/variant_text.h"

namespace kelvarin {
namespace {

thread_local HRESULT t_lastResult = S_OK;

constexpr LCID kLocale = LOCALE_SYSTEM_DEFAULT;
constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
constexpr std::size_t kMaxProgIdChars = 39;
constexpr std::size_t kMaxArguments = 33;  // the value of a property write included

void Record(HRESULT hr) noexcept { t_lastResult = hr; }

// Looks the member up on `object`, recording the outcome.
bool LookUp(IDispatch* object, BSTR name, DISPID& id) {
  OLECHAR* names[] = {name};
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id);
  Record(hr);
  return hr >= 0;
}

HRESULT Call(IDispatch* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result) {
  EXCEPINFO exception{};
  UINT badArgument = 0;
  const HRESULT hr =
      object->Invoke(id, IID_NULL, kLocale, flags, &params, result, &exception, &badArgument);
  // The exception record is never read, but whatever it carries is ours to free.
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  Record(hr);
  return hr;
}

}  // namespace

void ObjectRef::Reset() noexcept {
  if (IDispatch* old = std::exchange(ptr_, nullptr)) old->Release();
}

HRESULT LastAutomationResult() noexcept { return t_lastResult; }

void AutoCreateObject(ObjectRef& target, std::string_view progId, REFIID iid) {
  target.Reset();
  if (progId.empty() || progId.size() > kMaxProgIdChars) return;
  // A BSTR ends in a zero character, as CLSIDFromProgID wants.
  const UniqueBstr wide = WidenName(progId);
  CLSID clsid{};
  if (!wide || CLSIDFromProgID(wide.get(), &clsid) < 0) return;
  Record(CoCreateInstance(clsid, nullptr, kClassContext, iid, target.Put()));
}

void AutoRelease(ObjectRef& target) { target.Reset(); }

bool AutoIsObject(const ObjectRef& object) noexcept { return object.Get() != nullptr; }

void AutoInvoke(const ObjectRef& object, std::string_view member, InvokeKind kind,
                std::initializer_list<VARIANT*> arguments, VARIANT* result) {
  const UniqueBstr name = WidenName(member);
  if (!name) return;
  const bool put = kind == InvokeKind::PropertyPut;
  const std::size_t count = arguments.size() + (put ? 1 : 0);
  if (count > kMaxArguments || (put && result == nullptr)) return;

  // Last argument first, each a reference to the caller's own VARIANT; a
  // property write puts a plain copy of its value in front, named -3.
  std::array<VARIANT, kMaxArguments> list{};
  std::size_t n = 0;
  if (put) list[n++] = *result;
  for (auto it = arguments.end(); it != arguments.begin();) {
    VARIANT& element = list[n++];
    element.vt = VT_BYREF | VT_VARIANT;
    element.pvarVal = *--it;
  }
  DISPID namedPut = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = count == 0 ? nullptr : list.data();
  params.cArgs = static_cast<UINT>(count);
  params.rgdispidNamedArgs = put ? &namedPut : nullptr;
  params.cNamedArgs = put ? 1 : 0;

  IDispatch* target = object.Get();
  if (target == nullptr) return;
  DISPID id = DISPID_UNKNOWN;
  if (!LookUp(target, name.get(), id)) return;
  Call(target, id, static_cast<WORD>(kind), params, put ? nullptr : result);
}

namespace {

// The object AutoGetSubobject yields, with its reference; null for none.
IDispatch* Subobject(const ObjectRef& object, std::string_view member) {
  const UniqueBstr name = WidenName(member);
  IDispatch* source = object.Get();
  if (!name || source == nullptr) return nullptr;
  DISPID id = DISPID_UNKNOWN;
  if (!LookUp(source, name.get(), id)) return nullptr;
  DISPPARAMS none{};
  UniqueVariant result;
  if (Call(source, id, DISPATCH_PROPERTYGET, none, result.get()) < 0 &&
      Call(source, id, DISPATCH_METHOD, none, result.get()) < 0) {
    return nullptr;
  }
  if (result->vt != VT_DISPATCH) return nullptr;
  // The reference the result carries passes to the caller.
  return std::exchange(result->pdispVal, nullptr);
}

}  // namespace

ObjectRef AutoGetSubobject(const ObjectRef& object, std::string_view member) {
  return ObjectRef(Subobject(object, member));
}

void AutoSetObject(ObjectRef& target, const VARIANT& source, REFIID iid) {
  target.Reset();
  VARTYPE tag = VT_EMPTY;
  const void* at = ValueOf(source, tag);
  if (at == nullptr || (tag != VT_DISPATCH && tag != VT_UNKNOWN)) return;
  IUnknown* const unknown = *static_cast<IUnknown* const*>(at);
  if (unknown != nullptr && unknown->QueryInterface(iid, target.Put()) < 0) target.Reset();
}

HRESULT IUnknownQueryInterface(IUnknown* unknown, REFIID iid, void** answer) {
  return unknown->QueryInterface(iid, answer);
}

ULONG IUnknownRelease(IUnknown* unknown) { return unknown->Release(); }

HRESULT IEnumVariantNext(IEnumVARIANT* enumerator, ULONG wanted, VARIANT* item, ULONG* fetched) {
  return enumerator->Next(wanted, item, fetched);
}

HRESULT IEnumVariantReset(IEnumVARIANT* enumerator) { return enumerator->Reset(); }

// The program asks only a set that counted objects for its enumerator.
std::uintptr_t WbemCollectionNewEnum(std::uintptr_t objectSet) {
  IUnknown* answer = nullptr;
  (void)reinterpret_cast<ISWbemObjectSet*>(objectSet)->get__NewEnum(&answer);
  return reinterpret_cast<std::uintptr_t>(answer);
}

LONG WbemCollectionCount(std::uintptr_t objectSet) {
  LONG count = 0;
  if (objectSet != 0) (void)reinterpret_cast<ISWbemObjectSet*>(objectSet)->get_Count(&count);
  return count;
}

}  // namespace kelvarin
