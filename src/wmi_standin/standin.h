// The WMI scripting objects for systems without WMI: a locator, services,
// object sets, enumerators and objects that answer through IDispatch like
// the Windows ones, serving a catalog of the five classes.
#pragma once

#include <string_view>

#include "automation/com.h"
#include "wmi_standin/firmware_file.h"

namespace kelvarin::wmi_standin {

// Result codes as the Windows objects give them.
inline constexpr HRESULT kWbemInvalidClass = MakeHresult(0x80041010U);
inline constexpr HRESULT kWbemLocalCredentials = MakeHresult(0x80041064U);
inline constexpr HRESULT kRpcServerUnavailable = MakeHresult(0x800706BAU);

// Whether a ConnectServer host names this machine: "", ".", LOCALHOST,
// 127.0.0.1, ::1, or `ownName` (this machine's name) in full or up to its
// first dot, without regard to case. An empty `ownName` adds nothing.
bool IsLocalHost(std::string_view server, std::string_view ownName);

// A new locator (one reference, the caller's) whose connections load the
// catalog from the sysfs root given here.
IDispatch* NewStandinLocator(NativePath sysRoot);

#ifndef _WIN32
// Registers "WbemScripting.SWbemLocator"; each connection loads the catalog
// from the sysfs root given here.
void RegisterLocator(NativePath sysRoot);
#endif

}  // namespace kelvarin::wmi_standin
