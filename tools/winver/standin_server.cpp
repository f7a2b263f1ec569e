// An in-process COM server: the WMI stand-in behind a class factory, so that
// the Windows executable can run its whole path (ProgID lookup,
// CoCreateInstance, late-bound calls, enumeration) on a real COM runtime
// against known firmware. The firmware is the sysfs-like folder "sys" beside
// this DLL, filled before each run. Never shipped.
#include <atomic>
#include <filesystem>
#include <string_view>

#include "automation/com.h"
#include "automation/com_ptr.h"
#include "automation/variant_text.h"
#include "wmi_standin/com_server.h"
#include "wmi_standin/standin.h"

namespace {

// The class under which the server is registered for "WbemScripting.SWbemLocator";
// tools/wine-standin.sh reads it from here to write the registration.
constexpr std::string_view kStandinClsid = "{64B42BC6-76C1-4003-9857-2E5C090EB69A}";
HMODULE g_module = nullptr;
std::atomic<long> g_locks{0};

class LocatorFactory final : public kelvarin::com::ObjectBase<IClassFactory> {
 public:
  // The folder is found anew at every creation, so a table swapped between
  // runs is what the next connection sees.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    wchar_t path[4096] = {};
    GetModuleFileNameW(g_module, path, 4096);
    const auto root = std::filesystem::path(path).parent_path() / L"sys";
    return kelvarin::ComPtr<IDispatch>::Attach(
               kelvarin::wmi_standin::NewStandinLocator(root.native()))
        ->QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    g_locks += lock ? 1 : -1;
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
  *object = nullptr;
  const auto ours = kelvarin::TextToGuid(kStandinClsid);
  if (!ours || !IsEqualGUID(clsid, *ours)) return CLASS_E_CLASSNOTAVAILABLE;
  return kelvarin::ComPtr<IClassFactory>::Attach(new LocatorFactory())->QueryInterface(iid, object);
}

// Every object the server made counts, its class factories included.
STDAPI DllCanUnloadNow() {
  return kelvarin::com::LiveObjects().load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}
