#pragma once

#include "core/console.h"

namespace kelvarin {

// The 26-line help screen.
void PrintUsage(Console& console);

}  // namespace kelvarin
