// The class under which the test-only stand-in server is registered for
// "WbemScripting.SWbemLocator" in the Wine prefix of the differential tests.
// Shared by the server and by the test that writes the registration.
#pragma once

#include <string_view>

namespace kelvarin::testing {

inline constexpr std::string_view kStandinClsid = "{64B42BC6-76C1-4003-9857-2E5C090EB69A}";

}  // namespace kelvarin::testing
