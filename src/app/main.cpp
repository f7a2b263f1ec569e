// Entry point: wires the real console and the process command line to a run.
#include "app/command_line.h"
#include "app/driver.h"
#include "app/standard_console.h"

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
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "wmi_standin/standin.h"

namespace {

// A standard descriptor the caller left closed gets /dev/null, read-only: no
// file the run opens can land there, and writes to it still fail.
void OccupyClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", O_RDONLY);
  }
}

}  // namespace

int main(int argc, char** argv) {
  OccupyClosedStandardDescriptors();
  // A caller may start a program with no argv[0] at all: then there are no
  // arguments either, rather than whatever lies behind the array.
  const auto arguments =
      std::span<const char* const>(argv, static_cast<std::size_t>(argc)).subspan(argc > 0 ? 1 : 0);
  // On this platform WMI is the stand-in that serves the machine's firmware data.
  kelvarin::wmi_standin::RegisterLocator("/sys");
  auto console = kelvarin::MakeStandardConsole();
  return static_cast<int>(kelvarin::RunInventoryFromArguments(arguments, *console));
}
#endif
