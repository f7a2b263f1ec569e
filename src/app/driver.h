// One run of the tool, from the command line to the exit code.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

// What the platform checks of an accepted command line before it connects:
// Success goes on; Failure ends the run as a failed connection does; any
// other code ends it with that code. The check writes its own reason.
using ConnectionCheck = std::function<ExitCode(const RunOptions& options, Console& console)>;

// Initialises COM, parses, checks, connects, harvests, reports, releases and
// uninitialises. The locator comes from the COM class registry, so a test can
// put its own object model there.
ExitCode RunInventory(std::string_view commandTail, Console& console,
                      const ConnectionCheck& check = nullptr);

// The same for arguments already split by a shell (argv[1..]). An argument
// that holds a double quote cannot be carried into the tail as it was typed,
// so such a command line is refused before anything else happens.
ExitCode RunInventoryFromArguments(std::span<const char* const> arguments, Console& console,
                                   const ConnectionCheck& check = nullptr);

}  // namespace kelvarin
