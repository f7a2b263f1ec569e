// The console of a real run: this process's standard output.
#pragma once

#include <memory>

#include "core/console.h"

namespace kelvarin {

// Standard output of this process, unbuffered.
std::unique_ptr<Console> MakeStandardConsole();

}  // namespace kelvarin
