// The only road from the program's logic to COM Automation: objects created
// by ProgID, object variables, calls by member name, and a few direct calls
// through fixed interface slots. Nothing here prints or throws; a failed step
// shows in LastAutomationResult, an empty object or an untouched result.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "automation/com.h"

namespace kelvarin {

enum class InvokeKind : WORD { Method = 1, PropertyGet = 2, PropertyPut = 4 };

// An object variable: one interface pointer and the one reference it owns.
// It stays where it was declared: never copied or moved.
class ObjectRef {
 public:
  ObjectRef() noexcept = default;
  // Takes over a reference the caller owns.
  explicit ObjectRef(IDispatch* ptr) noexcept : ptr_(ptr) {}
  ~ObjectRef() { Reset(); }
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;

  [[nodiscard]] IDispatch* Get() const noexcept { return ptr_; }
  void Reset() noexcept;
  // Releases what is held and hands out the place for a new reference.
  void** Put() noexcept {
    Reset();
    return reinterpret_cast<void**>(&ptr_);
  }

 private:
  IDispatch* ptr_ = nullptr;
};

// The HRESULT of the latest recorded step on this thread; 0 at thread start.
HRESULT LastAutomationResult() noexcept;

void AutoCreateObject(ObjectRef& target, std::string_view progId, REFIID iid);
void AutoRelease(ObjectRef& target);
bool AutoIsObject(const ObjectRef& object) noexcept;

// Arguments are the caller's own VARIANTs, in source order; the callee reads
// them by reference. For PropertyPut, `result` is the value to write.
void AutoInvoke(const ObjectRef& object, std::string_view member, InvokeKind kind,
                std::initializer_list<VARIANT*> arguments, VARIANT* result);

// Reads an object-valued property (or, failing that, calls it as a method)
// as the first link of a member chain. The caller owns what it yields.
ObjectRef AutoGetSubobject(const ObjectRef& object, std::string_view member);

void AutoSetObject(ObjectRef& target, const VARIANT& source, REFIID iid);

// Direct calls through fixed slots of an interface's table. None records.
HRESULT IUnknownQueryInterface(IUnknown* unknown, REFIID iid, void** answer);
ULONG IUnknownRelease(IUnknown* unknown);
HRESULT IEnumVariantNext(IEnumVARIANT* enumerator, ULONG wanted, VARIANT* item, ULONG* fetched);
HRESULT IEnumVariantReset(IEnumVARIANT* enumerator);
// The object set's _NewEnum and Count; 0 when the read fails.
std::uintptr_t WbemCollectionNewEnum(std::uintptr_t objectSet);
LONG WbemCollectionCount(std::uintptr_t objectSet);

}  // namespace kelvarin
