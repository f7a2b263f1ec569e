// The fuzzer's input is another machine's SMBIOS table, and its start that
// table's entry point, as a snapshot would bring them: every value the
// catalog hands back is copied to its end, so that a read past the table shows.
#include <cstdint>
#include <string>

#include "wmi_standin/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string table(data, data + size), start = table.substr(0, 64);
  const std::string bytes = "\nkelvarin-snapshot\nF firmware/dmi/tables/smbios_entry_point " +
                            std::to_string(start.size()) + "\n" + start +
                            "F firmware/dmi/tables/DMI " + std::to_string(size) + "\n" + table +
                            "E\n";
  const auto snapshot = kelvarin::wmi_standin::ParseSnapshot(
      bytes, kelvarin::wmi_standin::CatalogFiles(), kelvarin::wmi_standin::CatalogFolders());
  std::string all;
  for (const auto& cls : kelvarin::wmi_standin::LoadCatalog(*snapshot)) {
    for (const auto& instance : cls.instances) {
      for (const auto& value : instance) all += value.value_or("");
    }
  }
  return all.empty() ? 1 : 0;
}
