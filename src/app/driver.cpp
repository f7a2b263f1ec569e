#include "app/driver.h"

#include <algorithm>
#include <utility>

#include "app/command_line.h"
#include "app/usage.h"
#include "automation/com.h"
#include "automation/variant_text.h"
#include "report/report.h"
#include "wmi/harvest.h"
#include "wmi/session.h"

namespace kelvarin {
namespace {

// The /P value that asks for the password instead: "-", and on Windows also
// "*" as net use takes it (a POSIX shell would expand a bare "*").
bool AsksForPassword(std::string_view password) {
#ifdef _WIN32
  if (password == "*") return true;
#endif
  return password == "-";
}

ExitCode RunPhases(std::string_view commandTail, Console& console, const ConnectionCheck& check) {
  InventoryRecord record;
  RunOptions options = ParseCommandLine(commandTail, console);
  if (options.showUsage) {
    PrintUsage(console);
    return ExitCode::UsageError;
  }
  if (!CheckCombinations(options, console)) return ExitCode::UsageError;
  const ExitCode checked = check ? check(options, console) : ExitCode::Success;
  if (checked == ExitCode::Failure) PrintConnectionFailure(options, console);
  if (checked != ExitCode::Success) return checked;
  if (AsksForPassword(options.password)) {
    auto password = console.ReadPassword();
    if (!password || password->empty()) {
      WriteReason(console, options.hostAsTyped, "no password was read");
      PrintConnectionFailure(options, console);
      return ExitCode::Failure;
    }
    options.password = *std::move(password);
  }

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

ExitCode RunInventory(std::string_view commandTail, Console& console,
                      const ConnectionCheck& check) {
  (void)CoInitialize(nullptr);
  const ExitCode code = RunPhases(commandTail, console, check);
  CoUninitialize();
  return code;
}

ExitCode RunInventoryFromArguments(std::span<const char* const> arguments, Console& console,
                                   const ConnectionCheck& check) {
  const auto quoted = std::ranges::find_if(arguments, [](const char* argument) {
    return argument != nullptr && std::string_view(argument).find('"') != std::string_view::npos;
  });
  if (quoted != arguments.end()) {
    PrintUnexpected(console, *quoted);
    PrintUsage(console);
    return ExitCode::UsageError;
  }
  return RunInventory(JoinArguments(arguments), console, check);
}

}  // namespace kelvarin
