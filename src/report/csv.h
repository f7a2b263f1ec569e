// The one-line form of the report for scripts, and its error line.
#pragma once

#include <string>

#include "core/run_types.h"
#include "core/text.h"

namespace kelvarin {

inline constexpr const char* kNotFoundMarker = "#NOTFOUND#";
inline constexpr const char* kWmiErrorMarker = "#WMIERROR#";

// Markers, taboo replacement, delimiter replacement, quoting, join; the
// replacements and the delimiter match whole characters only, as `length`
// measures them in the code page of the values.
std::string EncodeCsvLine(InventoryRecord values, const RunOptions& options,
                          CharacterLength length);

// Four error markers joined by the delimiter, quoted only under /A.
std::string CsvErrorLine(const RunOptions& options);

}  // namespace kelvarin
