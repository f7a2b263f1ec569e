// The fuzzer's input is an SMBIOS table, and its start an entry point: every
// value the catalog hands back is copied to its end, so that a read past the
// table shows.
#include <cstdint>
#include <span>
#include <string>

#include "wmi_standin/catalog.h"
#include "wmi_standin/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span table(data, size);
  std::string all = std::to_string(kelvarin::smbios::TableLengthFromEntryPoint(table).value_or(0));
  for (const auto& cls : kelvarin::wmi_standin::CatalogFromTable(table)) {
    for (const auto& instance : cls.instances) {
      for (const auto& value : instance) all += value.value_or("");
    }
  }
  return all.empty() ? 1 : 0;
}
