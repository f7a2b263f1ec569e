// Strings, VARIANTs, apartments and the class registry of the POSIX COM layer.
#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>

#include "automation/posix/com_api.h"
#include "core/text.h"

bool operator==(const GUID& a, const GUID& b) noexcept {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISWbemObjectSet = {
    0x76A6415F, 0xCB41, 0x11D1, {0x8B, 0x02, 0x00, 0x60, 0x08, 0x06, 0xD9, 0xB6}};

namespace {

std::atomic<long> g_liveStrings{0};

// A BSTR points just behind its 32-bit byte count; two zero bytes follow the text.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

// malloc's alignment suits both the count and the text behind it.
std::uint32_t* Header(BSTR text) {
  return static_cast<std::uint32_t*>(static_cast<void*>(reinterpret_cast<char*>(text) - kPrefix));
}

BSTR AllocateBytes(const void* bytes, std::size_t byteCount) {
  if (byteCount > 0x7FFFFFF0U) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kPrefix + byteCount + 2));
  if (block == nullptr) return nullptr;
  const auto count = static_cast<std::uint32_t>(byteCount);
  std::memcpy(block, &count, kPrefix);
  if (bytes != nullptr) {
    std::memcpy(block + kPrefix, bytes, byteCount);
  } else {
    std::memset(block + kPrefix, 0, byteCount);
  }
  block[kPrefix + byteCount] = 0;
  block[kPrefix + byteCount + 1] = 0;
  g_liveStrings.fetch_add(1, std::memory_order_relaxed);
  return static_cast<BSTR>(static_cast<void*>(block + kPrefix));
}

thread_local int t_initialised = 0;

// Holds a plain pthread mutex: std::mutex reports a failed lock by throwing
// std::system_error, whose messages would bring strerror and the C library's
// translation machinery into the static executable.
class Locked {
 public:
  explicit Locked(pthread_mutex_t& mutex) : mutex_(mutex) { ::pthread_mutex_lock(&mutex_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  ~Locked() { ::pthread_mutex_unlock(&mutex_); }

 private:
  pthread_mutex_t& mutex_;
};

struct RegisteredClass {
  CLSID clsid{};
  kelvarin::posix_com::ClassFactoryFn factory;
};

struct Registry {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  std::map<std::u16string, RegisteredClass> byProgId;  // key upper-cased
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::u16string FoldProgId(std::u16string_view progId) {
  std::u16string key(progId);
  for (auto& c : key) c = kelvarin::AsciiUpper(c);
  return key;
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

UINT SysStringLen(BSTR text) { return static_cast<UINT>(SysStringByteLen(text) / sizeof(OLECHAR)); }

void VariantInit(VARIANT* value) {
  std::memset(value, 0, sizeof *value);
  value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
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

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  if (target == nullptr || source == nullptr) return E_INVALIDARG;
  if (target == source) return S_OK;
  VARIANT copy = *source;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                         SysStringByteLen(source->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  VariantClear(target);
  *target = copy;
  return S_OK;
}

HRESULT CoInitialize(void* /*reserved*/) { return t_initialised++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initialised > 0) --t_initialised;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  auto& registry = TheRegistry();
  const Locked lock(registry.mutex);
  const auto found = registry.byProgId.find(FoldProgId(progId));
  if (found == registry.byProgId.end()) return CO_E_CLASSSTRING;
  *clsid = found->second.clsid;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* /*outer*/, DWORD /*context*/, REFIID riid,
                         void** object) {
  *object = nullptr;
  if (t_initialised == 0) return CO_E_NOTINITIALIZED;
  kelvarin::posix_com::ClassFactoryFn factory;
  {
    auto& registry = TheRegistry();
    const Locked lock(registry.mutex);
    for (const auto& [name, entry] : registry.byProgId) {
      if (entry.clsid == clsid) factory = entry.factory;
    }
  }
  if (!factory) return REGDB_E_CLASSNOTREG;
  return factory(riid, object);
}

HRESULT CoCreateGuid(GUID* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  // Straight from the kernel: std::random_device would link in its whole
  // implementation, token parsing and exceptions included.
  if (::getentropy(guid, sizeof *guid) != 0) return E_FAIL;
  guid->Data3 = static_cast<std::uint16_t>((guid->Data3 & 0x0FFFU) | 0x4000U);  // version 4
  guid->Data4[0] = static_cast<std::uint8_t>((guid->Data4[0] & 0x3FU) | 0x80U);
  return S_OK;
}

namespace kelvarin::posix_com {

CLSID RegisterClass(const std::u16string& progId, ClassFactoryFn factory) {
  // Identifiers only need to be unique within this process.
  static std::atomic<std::uint32_t> next{1};
  CLSID clsid{next.fetch_add(1), 0x4B45, 0x4C56, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
  auto& registry = TheRegistry();
  const Locked lock(registry.mutex);
  registry.byProgId[FoldProgId(progId)] = RegisteredClass{clsid, std::move(factory)};
  return clsid;
}

void UnregisterClass(const std::u16string& progId) {
  auto& registry = TheRegistry();
  const Locked lock(registry.mutex);
  registry.byProgId.erase(FoldProgId(progId));
}

long LiveStringCount() noexcept { return g_liveStrings.load(std::memory_order_relaxed); }

}  // namespace kelvarin::posix_com
