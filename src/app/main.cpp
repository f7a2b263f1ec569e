// Entry point: wires the real console and the process command line to a run.
#include "app/command_line.h"
#include "app/console.h"
#include "app/driver.h"

#ifdef _WIN32
#include <windows.h>

int main() {
  const std::string tail = kelvarin::CutCommandTail(GetCommandLineA());
  auto console = kelvarin::MakeStandardConsole();
  const auto code = kelvarin::RunInventory(tail, *console);
  console.reset();
  ExitProcess(static_cast<UINT>(code));
}

#else
#include <span>

#include "automation/posix/wmi/standin.h"

int main(int argc, char** argv) {
  const auto arguments =
      std::span<const char* const>(argv, static_cast<std::size_t>(argc)).subspan(1);
  const std::string tail = kelvarin::JoinArguments(arguments);
  // On this platform WMI is the stand-in that serves the machine's SMBIOS data.
  kelvarin::wmi_standin::RegisterLocator("/sys");
  auto console = kelvarin::MakeStandardConsole();
  return static_cast<int>(kelvarin::RunInventory(tail, *console));
}
#endif
