#pragma once

#include "core/console.h"
#include "core/run_types.h"
#include "core/text.h"

namespace kelvarin {

// Writes zero, one or five lines: nothing for an all-empty record under /N,
// the CSV line in csv mode, the labelled report otherwise. `length` measures
// the characters of the record's code page.
void PrintReport(const InventoryRecord& record, const RunOptions& options, CharacterLength length,
                 Console& console);

// What a failed connection writes: nothing under /N, the CSV error line in
// csv mode, else an empty line and the error text.
void PrintConnectionFailure(const RunOptions& options, Console& console);

}  // namespace kelvarin
