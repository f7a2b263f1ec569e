// The fallback chain: five classes in a fixed order fill the four facts.
#pragma once

#include "automation/bridge.h"
#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

void Harvest(ObjectRef& services, const RunOptions& options, InventoryRecord& record,
             Console& console);

}  // namespace kelvarin
