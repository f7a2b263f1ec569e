// The fuzzer's input is an SMBIOS table (and, read from its start, an entry
// point). Every byte handed back is read, so that an over-read shows.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "automation/posix/wmi/catalog.h"
#include "automation/posix/wmi/smbios.h"

namespace {

volatile unsigned sink = 0;

void Touch(std::string_view text) {
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  sink = sink + sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace smbios = kelvarin::smbios;
  const std::span<const std::uint8_t> table(data, size);

  if (auto length = smbios::TableLengthFromEntryPoint(table))
    sink = sink + static_cast<unsigned>(*length);

  for (const smbios::Structure& s : smbios::ParseTable(table)) {
    for (std::uint8_t b : s.formatted) sink = sink + b;
    for (std::string_view text : s.strings) {
      Touch(text);
      Touch(smbios::DecodeText(text));
    }
    // Past the end of the formatted area too, where nothing may be found.
    for (std::size_t offset = 0; offset <= s.formatted.size() + 1; ++offset) {
      if (auto text = smbios::StringAt(s, offset)) Touch(*text);
    }
  }

  for (const auto& classData : kelvarin::wmi_standin::CatalogFromTable(table)) {
    Touch(classData.name);
    for (const auto& instance : classData.instances) {
      for (const auto& property : instance.properties) {
        Touch(property.name);
        if (property.value) Touch(*property.value);
      }
    }
  }
  return 0;
}
