// The skeleton shared by the five queries: execute, count, copy the objects
// out of the result set, then visit them one by one.
#pragma once

#include <functional>
#include <string_view>

#include "automation/bridge.h"
#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

using HarvestAction = std::function<void(ObjectRef& item)>;

void RunQueryStep(ObjectRef& services, std::string_view query, const HarvestAction& action,
                  const RunOptions& options, Console& console);

// Copies the enumerator's items into slots[0 .. upper-lower]; the slots are
// numbered lower..upper, and upper < lower means the array has no bounds.
// Returns -1 when the enumeration ran, 0 when it did not start. Adds no
// reference to `source` and does not release it.
LONG EnumerateCollection(std::uintptr_t source, VARIANT* slots, LONG lower, LONG upper);

}  // namespace kelvarin
