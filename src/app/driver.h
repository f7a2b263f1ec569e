// One run of the tool, from the command tail to the exit code.
#pragma once

#include <string_view>

#include "app/console.h"
#include "app/run_types.h"

namespace kelvarin {

// Initialises COM, parses, checks, connects, harvests, reports, releases and
// uninitialises. The locator comes from the COM class registry, so a test can
// put its own object model there.
ExitCode RunInventory(std::string_view commandTail, Console& console);

}  // namespace kelvarin
