#pragma once

#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

// Writes zero, one or five lines: nothing for an all-empty record under /N,
// the CSV line in csv mode, the labelled report otherwise.
void PrintReport(const InventoryRecord& record, const RunOptions& options, Console& console);

// What a failed connection writes: nothing under /N, the CSV error line in
// csv mode, else an empty line and the error text.
void PrintConnectionFailure(const RunOptions& options, Console& console);

}  // namespace kelvarin
