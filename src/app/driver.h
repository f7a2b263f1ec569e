// One run of the tool, from the command line to the exit code.
#pragma once

#include <span>
#include <string_view>

#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

// Initialises COM, parses, checks, connects, harvests, reports, releases and
// uninitialises. The locator comes from the COM class registry, so a test can
// put its own object model there.
ExitCode RunInventory(std::string_view commandTail, Console& console);

// The same for arguments already split by a shell (argv[1..]). An argument
// that holds a double quote cannot be carried into the tail as it was typed,
// so such a command line is refused before anything else happens.
ExitCode RunInventoryFromArguments(std::span<const char* const> arguments, Console& console);

}  // namespace kelvarin
