// The fallback chain: five classes in a fixed order fill the four facts.
#pragma once

#include "app/console.h"
#include "app/run_types.h"
#include "automation/bridge.h"

namespace kelvarin {

void Harvest(ObjectRef& services, const RunOptions& options, InventoryRecord& record,
             Console& console);

}  // namespace kelvarin
