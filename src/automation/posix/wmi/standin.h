// The WMI scripting objects for systems without WMI: a locator, services,
// security object, object sets, enumerators and objects that answer through
// IDispatch like the Windows ones, serving a catalog of the five classes.
#pragma once

#include <filesystem>

#include "automation/com.h"
#include "automation/posix/wmi/catalog.h"

namespace kelvarin::wmi_standin {

inline constexpr HRESULT WBEM_E_INVALID_NAMESPACE = MakeHresult(0x8004100EU);
inline constexpr HRESULT WBEM_E_INVALID_CLASS = MakeHresult(0x80041010U);
inline constexpr HRESULT WBEM_E_INVALID_QUERY = MakeHresult(0x80041017U);
inline constexpr HRESULT WBEM_E_LOCAL_CREDENTIALS = MakeHresult(0x80041064U);
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MakeHresult(0x800706BAU);

// A new locator (one reference, the caller's) whose connections load the
// catalog from the sysfs root given here.
IDispatch* CreateLocator(const std::filesystem::path& sysRoot);

// Registers "WbemScripting.SWbemLocator"; each connection loads the catalog
// from the sysfs root given here.
void RegisterLocator(const std::filesystem::path& sysRoot);

}  // namespace kelvarin::wmi_standin
