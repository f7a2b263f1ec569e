// The one-line form of the report for scripts, and its error line.
#pragma once

#include <string>

#include "app/run_types.h"

namespace kelvarin {

inline constexpr const char* kNotFoundMarker = "#NOTFOUND#";
inline constexpr const char* kWmiErrorMarker = "#WMIERROR#";

// Markers, taboo replacement, delimiter replacement, quoting, join.
std::string EncodeCsvLine(InventoryRecord values, const RunOptions& options);

// Four error markers joined by the delimiter, quoted only under /A.
std::string CsvErrorLine(const RunOptions& options);

// The six characters refused as delimiter and replacement, and replaced under /T.
bool IsTaboo(char c) noexcept;

}  // namespace kelvarin
