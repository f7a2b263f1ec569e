#include "wmi/harvest.h"

#include <algorithm>
#include <string>
#include <utility>

#include "automation/com_ptr.h"
#include "automation/variant_text.h"
#include "wmi/query.h"

namespace kelvarin {
namespace {

// Controls, separators and bidirectional formatting become blanks, so that a
// value can neither end its line, move the cursor nor split a CSV record;
// then the blanks at either end are trimmed.
std::string ReadPropertyText(const ObjectRef& item, std::string_view member) {
  UniqueVariant value;
  AutoInvoke(item, member, InvokeKind::PropertyGet, {}, value.get());
  std::string text = VariantToText(*value, TextUse::Fact);
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  text.erase(text.find_last_not_of(' ') + 1);
  text.erase(0, first);
  return text;
}

// A read that finds nothing leaves what an earlier object of the step found.
void Store(std::string& field, std::string text) {
  if (!text.empty()) field = std::move(text);
}

class Chain {
 public:
  Chain(const RunOptions& options, InventoryRecord& record, Console& console)
      : verbose_(options.Mode() == OutputMode::Verbose), record_(record), console_(console) {}

  void Say(std::string_view line) {
    if (verbose_) WriteLine(console_, line);
  }

  // The "still looking" lines of steps 2 to 5, in record order.
  void SayMissing() {
    if (record_.manufacturer.empty()) Say(" - Still looking for Manufacturer...");
    if (record_.model.empty()) Say(" - Still looking for Model...");
    if (record_.serialNumber.empty()) Say(" - Still looking for Serial Number...");
    if (record_.biosVersion.empty()) Say(" - Still looking for BIOS Version...");
  }

  void ComputerSystem(const ObjectRef& item) {
    Store(record_.manufacturer, ReadPropertyText(item, "MANUFACTURER"));
    Store(record_.model, ReadPropertyText(item, "MODEL"));
    if (!record_.manufacturer.empty()) Say(" + Found Manufacturer");
    if (!record_.model.empty()) Say(" + Found Model");
    if (record_.manufacturer.empty()) Say(" - Still looking for Manufacturer..");
    if (record_.model.empty()) Say(" - Still looking for Model...");
    Say(" - Still looking for Serial Number...");
    Say(" - Still looking for BIOS Version...");
  }

  void Bios(const ObjectRef& item) {
    if (record_.manufacturer.empty()) {
      Store(record_.manufacturer, ReadPropertyText(item, "MANUFACTURER"));
      if (!record_.manufacturer.empty()) Say(" + Found Manufacturer");
    }
    Store(record_.serialNumber, ReadPropertyText(item, "SERIALNUMBER"));
    Store(record_.biosVersion, ReadPropertyText(item, "SMBIOSBIOSVERSION"));
    if (!record_.serialNumber.empty()) Say(" + Found Serial Number");
    if (!record_.biosVersion.empty()) Say(" + Found BIOS Version");
    SayMissing();
  }

  void Serial(const ObjectRef& item, std::string_view member) {
    Store(record_.serialNumber, ReadPropertyText(item, member));
    if (!record_.serialNumber.empty()) Say(" + Found Serial Number");
    SayMissing();
  }

 private:
  bool verbose_;
  InventoryRecord& record_;
  Console& console_;
};

struct SerialStep {
  const char* progress;
  const char* query;
  const char* member;
};

constexpr SerialStep kSerialSteps[] = {
    {"Checking Win32_BaseBoard...", "SELECT SerialNumber FROM Win32_BaseBoard", "SERIALNUMBER"},
    {"Checking Win32_ComputerSystemProduct...",
     "SELECT IdentifyingNumber FROM Win32_ComputerSystemProduct", "IDENTIFYINGNUMBER"},
    {"Checking Win32_SystemEnclosure...", "SELECT SerialNumber FROM Win32_SystemEnclosure",
     "SERIALNUMBER"},
};

}  // namespace

void Harvest(ObjectRef& services, const RunOptions& options, InventoryRecord& record,
             Console& console) {
  Chain chain(options, record, console);
  chain.Say("Checking Win32_ComputerSystem...");
  RunQueryStep(
      services, "Select AdminPasswordStatus, Manufacturer, Model FROM Win32_ComputerSystem",
      [&](ObjectRef& item) { chain.ComputerSystem(item); }, options, console);
  chain.Say("Checking Win32_BIOS...");
  RunQueryStep(
      services, "SELECT Manufacturer, SerialNumber, SMBIOSBIOSVersion FROM Win32_BIOS",
      [&](ObjectRef& item) { chain.Bios(item); }, options, console);
  for (const auto& step : kSerialSteps) {
    if (!record.serialNumber.empty()) break;
    chain.Say(step.progress);
    RunQueryStep(
        services, step.query, [&](ObjectRef& item) { chain.Serial(item, step.member); }, options,
        console);
  }
}

}  // namespace kelvarin
