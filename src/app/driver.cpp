#include "app/driver.h"

#include "app/command_line.h"
#include "app/usage.h"
#include "automation/com.h"
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
  PrintReport(record, options, console);
  CloseConnection(connection);
  return ExitCode::Success;
}

}  // namespace

ExitCode RunInventory(std::string_view commandTail, Console& console) {
  (void)CoInitialize(nullptr);
  const ExitCode code = RunPhases(commandTail, console);
  CoUninitialize();
  return code;
}

}  // namespace kelvarin
