// Test-only in-process COM server: the WMI stand-in behind a class factory,
// so that the Windows executable can run its whole path (ProgID lookup,
// CoCreateInstance, late-bound calls, enumeration) on a real COM runtime
// against a known SMBIOS table. The table is the sysfs-like folder "sys"
// beside this DLL; the tests fill it before each run. Never shipped.
#include <atomic>
#include <filesystem>
#include <string>

#include "automation/com.h"
#include "automation/com_object.h"
#include "automation/com_ptr.h"
#include "automation/posix/wmi/standin.h"
#include "automation/variant_text.h"
#include "windows/standin_clsid.h"

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_serverLocks{0};

// Read at every creation, so a fixture swapped between runs is what the next
// connection sees.
std::filesystem::path FixtureRoot() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
  return std::filesystem::path(path).parent_path() / L"sys";
}

class LocatorFactory final : public kelvarin::com::ObjectBase<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const auto locator =
        kelvarin::ComPtr<IDispatch>::Attach(kelvarin::wmi_standin::CreateLocator(FixtureRoot()));
    return locator->QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_serverLocks;
    } else {
      --g_serverLocks;
    }
    return S_OK;
  }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IClassFactory);
  }
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const auto ours = kelvarin::TextToGuid(kelvarin::testing::kStandinClsid);
  if (!ours || !IsEqualGUID(clsid, *ours)) return CLASS_E_CLASSNOTAVAILABLE;
  const auto factory = kelvarin::ComPtr<IClassFactory>::Attach(new LocatorFactory());
  return factory->QueryInterface(iid, object);
}

// Every object the server made counts, its class factories included.
STDAPI DllCanUnloadNow() {
  return kelvarin::com::LiveObjects().load() == 0 && g_serverLocks.load() == 0 ? S_OK : S_FALSE;
}
