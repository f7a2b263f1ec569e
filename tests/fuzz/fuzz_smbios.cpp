// The fuzzer's input is an SMBIOS table: every value the catalog hands back
// is read to its end, so that a read past the table shows.
#include <cstdint>
#include <span>

#include "wmi_standin/catalog.h"
#include "wmi_standin/smbios.h"

namespace {
volatile unsigned sink = 0;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sink = sink + static_cast<unsigned>(
                    kelvarin::smbios::TableLengthFromEntryPoint(std::span(data, size)).value_or(0));
  for (const auto& cls : kelvarin::wmi_standin::CatalogFromTable(std::span(data, size))) {
    for (const auto& instance : cls.instances) {
      for (const auto& property : instance.properties) {
        for (const char c : property.value.value_or(""))
          sink = sink + static_cast<unsigned char>(c);
      }
    }
  }
  return 0;
}
