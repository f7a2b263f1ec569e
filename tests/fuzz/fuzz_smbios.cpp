// The fuzzer's input is an SMBIOS table, and its start an entry point: every
// value the catalog hands back is read to its end, so that a read past the
// table shows.
#include <cstdint>
#include <span>

#include "wmi_standin/catalog.h"
#include "wmi_standin/smbios.h"

namespace {
volatile unsigned sink = 0;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span table(data, size);
  sink =
      sink + static_cast<unsigned>(kelvarin::smbios::TableLengthFromEntryPoint(table).value_or(0));
  for (const auto& cls : kelvarin::wmi_standin::CatalogFromTable(table)) {
    for (const auto& instance : cls.instances) {
      for (const auto& value : instance) {
        for (const char c : value.value_or("")) sink = sink + static_cast<unsigned char>(c);
      }
    }
  }
  return 0;
}
