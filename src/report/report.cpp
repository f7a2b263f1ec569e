#include "report/report.h"

#include <string>
#include <string_view>

#include "report/csv.h"

namespace kelvarin {
namespace {

void WriteLabelled(Console& console, std::string_view label, std::string_view value) {
  std::string line(label);
  line.append(value);
  WriteLine(console, line);
}

}  // namespace

void PrintReport(const InventoryRecord& record, const RunOptions& options, CharacterLength length,
                 Console& console) {
  // Decided on the record as found, before any marker goes in.
  if (options.quiet && record.AllEmpty()) return;
  if (options.Mode() == OutputMode::Csv) {
    WriteLine(console, EncodeCsvLine(record, options, length));
    return;
  }
  // Verbose adds nothing here: its trace was written during the harvest.
  WriteLine(console, "");
  WriteLabelled(console, "Manufacturer:   ", record.manufacturer);
  WriteLabelled(console, "Model:          ", record.model);
  WriteLabelled(console, "Serial Number:  ", record.serialNumber);
  WriteLabelled(console, "BIOS Version:   ", record.biosVersion);
}

void PrintConnectionFailure(const RunOptions& options, Console& console) {
  if (options.quiet) return;
  if (options.Mode() == OutputMode::Csv) {
    WriteLine(console, CsvErrorLine(options));
    return;
  }
  WriteLine(console, "");
  WriteLine(console, "ERROR: Failed to retrieve an SWbemServices object");
}

}  // namespace kelvarin
