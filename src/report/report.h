#pragma once

#include "app/console.h"
#include "app/run_types.h"

namespace kelvarin {

// Writes zero, one or five lines: nothing for an all-empty record under /N,
// the CSV line in csv mode, the labelled report otherwise.
void PrintReport(const InventoryRecord& record, const RunOptions& options, Console& console);

}  // namespace kelvarin
