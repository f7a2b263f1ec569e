// The WMI scripting objects for systems without WMI: a locator, services,
// object sets, enumerators and objects that answer through IDispatch like
// the Windows ones, serving a catalog of the five classes.
#pragma once

#include <functional>
#include <string_view>

#include "automation/com.h"
#include "wmi_standin/firmware_file.h"

namespace kelvarin::wmi_standin {

// Result codes as the Windows objects give them.
inline constexpr HRESULT kWbemInvalidClass = MakeHresult(0x80041010U);
inline constexpr HRESULT kWbemLocalCredentials = MakeHresult(0x80041064U);
inline constexpr HRESULT kRpcServerUnavailable = MakeHresult(0x800706BAU);

// Whether a ConnectServer host names this machine: ".", localhost,
// 127.0.0.1, ::1, or `ownName` (this machine's name) in full or up to its
// first dot. Letters compare without regard to case only in ASCII, where
// case maps whole characters. An empty `ownName` adds nothing.
bool IsLocalHost(std::string_view server, std::string_view ownName);

// The same with this machine's own name.
bool NamesThisMachine(std::string_view server);

// What the stand-in asks of another machine: the bytes `script` prints there,
// at most `limit` of them, fetched as the login says and handed to `read`.
// False when they did not come, or `read` did not take them; the fetch tells why.
struct RemoteRequest {
  std::string_view host;
  std::string_view user;
  std::string_view password;
  std::string_view authority;
  std::string_view script;
  std::size_t limit;
};
using RemoteFetch = std::function<bool(const RemoteRequest& request,
                                       const std::function<bool(std::string_view)>& read)>;

// A new locator (one reference, the caller's) whose connections load the
// catalog from the sysfs root given here, and other machines' through
// `fetch` (none: they are out of reach).
IDispatch* NewStandinLocator(NativePath sysRoot, RemoteFetch fetch = nullptr);

#ifndef _WIN32
// Registers such a locator as "WbemScripting.SWbemLocator".
void RegisterLocator(NativePath sysRoot, RemoteFetch fetch);
#endif

}  // namespace kelvarin::wmi_standin
