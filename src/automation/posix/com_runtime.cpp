// Strings, VARIANTs, apartments and the class registry of the POSIX COM layer.
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>

#include "automation/posix/com_api.h"

bool operator==(const GUID& a, const GUID& b) noexcept {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

std::atomic<long> g_liveStrings{0};

// A BSTR points just behind its 32-bit byte count; two zero bytes follow the text.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

// malloc's alignment suits both the count and the text behind it.
std::uint32_t* Header(BSTR text) {
  return static_cast<std::uint32_t*>(static_cast<void*>(reinterpret_cast<char*>(text) - kPrefix));
}

// The program's strings are far shorter than the 32-bit count can say.
BSTR AllocateBytes(const void* bytes, std::size_t byteCount) {
  auto* block = static_cast<char*>(std::malloc(kPrefix + byteCount + 2));
  if (block == nullptr) return nullptr;
  const auto count = static_cast<std::uint32_t>(byteCount);
  std::memcpy(block, &count, kPrefix);
  // Without text, the caller writes every character itself.
  if (bytes != nullptr) std::memcpy(block + kPrefix, bytes, byteCount);
  block[kPrefix + byteCount] = 0;
  block[kPrefix + byteCount + 1] = 0;
  g_liveStrings.fetch_add(1, std::memory_order_relaxed);
  return static_cast<BSTR>(static_cast<void*>(block + kPrefix));
}

// Creating an object before CoInitialize fails, as on Windows.
thread_local int t_initialised = 0;

struct RegisteredClass {
  CLSID clsid{};
  kelvarin::posix_com::ClassFactoryFn factory;
};

// By ProgID, spelt as the program spells it. One thread registers and
// creates, so nothing is locked.
std::map<std::u16string, RegisteredClass>& TheRegistry() {
  static std::map<std::u16string, RegisteredClass> registry;
  return registry;
}

}  // namespace

BSTR SysAllocStringByteLen(const char* bytes, UINT byteCount) {
  return AllocateBytes(bytes, byteCount);
}

BSTR SysAllocStringLen(const OLECHAR* chars, UINT charCount) {
  return AllocateBytes(chars, std::size_t{charCount} * sizeof(OLECHAR));
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  g_liveStrings.fetch_sub(1, std::memory_order_relaxed);
  std::free(Header(text));
}

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : *Header(text); }

void VariantInit(VARIANT* value) { std::memset(value, 0, sizeof *value); }  // VT_EMPTY is 0

HRESULT VariantClear(VARIANT* value) {
  switch (value->vt) {
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (value->punkVal != nullptr) value->punkVal->Release();
      break;
    default:
      break;  // by-reference values and plain numbers own nothing
  }
  VariantInit(value);
  return S_OK;
}

// The program copies each enumerated item into a slot of its own.
HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  VARIANT copy = *source;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                         SysStringByteLen(source->bstrVal));
  } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  VariantClear(target);
  *target = copy;
  return S_OK;
}

// The program initialises once and ignores the answer.
HRESULT CoInitialize(void* /*reserved*/) {
  ++t_initialised;
  return S_OK;
}

void CoUninitialize() { --t_initialised; }

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  const auto found = TheRegistry().find(progId);
  if (found == TheRegistry().end()) return CO_E_CLASSSTRING;
  *clsid = found->second.clsid;
  return S_OK;
}

// The class identifier comes from CLSIDFromProgID just before: its class is registered.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* /*outer*/, DWORD /*context*/, REFIID riid,
                         void** object) {
  if (t_initialised == 0) return CO_E_NOTINITIALIZED;
  const auto entry =
      std::ranges::find(TheRegistry(), clsid, [](auto& e) { return e.second.clsid; });
  return entry->second.factory(riid, object);
}

// Nothing reads a GUID's version bits: 16 random bytes are as unique.
HRESULT CoCreateGuid(GUID* guid) {
  // Straight from the kernel: std::random_device would link in its whole
  // implementation, token parsing and exceptions included.
  return ::getentropy(guid, sizeof *guid) == 0 ? S_OK : E_FAIL;
}

namespace kelvarin::posix_com {

CLSID RegisterClass(const std::u16string& progId, ClassFactoryFn factory) {
  // Identifiers only need to be unique within this process.
  static std::uint32_t next = 0;
  const CLSID clsid{++next, 0, 0, {}};
  TheRegistry()[progId] = RegisteredClass{clsid, std::move(factory)};
  return clsid;
}

void UnregisterClass(const std::u16string& progId) { TheRegistry().erase(progId); }

long LiveStringCount() noexcept { return g_liveStrings.load(std::memory_order_relaxed); }

}  // namespace kelvarin::posix_com
