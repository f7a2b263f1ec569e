#include "app/driver.h"

#include <algorithm>

#include "app/command_line.h"
#include "app/usage.h"
#include "automation/com.h"
#include "automation/variant_text.h"
#include "report/report.h"
#include "wmi/harvest.h"
#include "wmi/session.h"

namespace kelvarin {
namespace {

ExitCode RunPhases(std::string_view commandTail, Console& console) {
  InventoryRecord record;
  const RunOptions options = ParseCommandLine(commandTail, console);
  if (options.showUsage) {
    PrintUsage(console);
    return ExitCode::UsageError;
  }
  if (!CheckCombinations(options, console)) return ExitCode::UsageError;

  WmiConnection connection;
  if (!CreateLocator(connection)) return ExitCode::Failure;
  if (!ConnectToWmi(connection, options, console)) {
    CloseConnection(connection);
    return ExitCode::Failure;
  }
  Harvest(connection.services, options, record, console);
  PrintReport(record, options, AnsiCharacterLength, console);
  CloseConnection(connection);
  // A report that did not reach its reader is no success.
  return console.LostOutput() ? ExitCode::Failure : ExitCode::Success;
}

}  // namespace

ExitCode RunInventory(std::string_view commandTail, Console& console) {
  (void)CoInitialize(nullptr);
  const ExitCode code = RunPhases(commandTail, console);
  CoUninitialize();
  return code;
}

ExitCode RunInventoryFromArguments(std::span<const char* const> arguments, Console& console) {
  const auto quoted = std::ranges::find_if(arguments, [](const char* argument) {
    return argument != nullptr && std::string_view(argument).find('"') != std::string_view::npos;
  });
  if (quoted != arguments.end()) {
    PrintUnexpected(console, *quoted);
    PrintUsage(console);
    return ExitCode::UsageError;
  }
  return RunInventory(JoinArguments(arguments), console);
}

}  // namespace kelvarin
