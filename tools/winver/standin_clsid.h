// The class under which the stand-in server is registered for
// "WbemScripting.SWbemLocator" in a Wine prefix; tools/wine-standin.sh reads
// it from here to write the registration.
#pragma once

#include <string_view>

namespace kelvarin::tools {

inline constexpr std::string_view kStandinClsid = "{64B42BC6-76C1-4003-9857-2E5C090EB69A}";

}  // namespace kelvarin::tools
