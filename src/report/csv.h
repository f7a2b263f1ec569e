// The one-line form of the report for scripts, and its error line.
#pragma once

#include <string>

#include "core/run_types.h"

namespace kelvarin {

inline constexpr const char* kNotFoundMarker = "#NOTFOUND#";
inline constexpr const char* kWmiErrorMarker = "#WMIERROR#";

// Markers, taboo replacement, delimiter replacement, quoting, join.
std::string EncodeCsvLine(InventoryRecord values, const RunOptions& options);

// Four error markers joined by the delimiter, quoted only under /A.
std::string CsvErrorLine(const RunOptions& options);

}  // namespace kelvarin
