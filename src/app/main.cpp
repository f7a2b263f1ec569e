// Entry point: wires the real console and the process command line to a run.
#include "app/command_line.h"
#include "app/driver.h"
#include "app/standard_console.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

namespace {

// The command line in the ANSI code page, from its wide form. Best-fit
// mapping (what GetCommandLineA does) would turn a fullwidth quote, slash or
// hyphen, or an ideographic space, into the ASCII syntax it only looks like;
// without it such a character becomes the default character, a "?", which
// is no syntax. UTF-8 holds every character and takes no such flag.
std::string AnsiCommandLine() {
  const wchar_t* wide = GetCommandLineW();
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = utf8 ? nullptr : "?";
  const int size = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, defaultChar, nullptr);
  std::vector<char> text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  if (size > 0) {
    (void)WideCharToMultiByte(CP_ACP, flags, wide, -1, text.data(), size, defaultChar, nullptr);
  }
  return text.data();
}

}  // namespace

int main() {
  const std::string tail = kelvarin::CutCommandTail(AnsiCommandLine());
  auto console = kelvarin::MakeStandardConsole();
  const auto code = kelvarin::RunInventory(tail, *console);
  console.reset();
  ExitProcess(static_cast<UINT>(code));
}

#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/standin_posix.h"
#include "core/text.h"
#include "ssh/askpass.h"

namespace {

// A standard descriptor the caller left closed gets /dev/null, read-only: no
// file the run opens can land there, and writes to it still fail.
void OccupyClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", O_RDONLY);
  }
}

// Blanks the /P value in the process's own argument list, so that `ps`
// shows no password; the run uses a copy. Each argument is one or more
// whole tokens of the joined command line: one when it is empty or holds a
// blank (it is quoted there), else as its own text splits.
void HidePassword(std::span<char*> arguments, const std::string& tail) {
  const auto password = kelvarin::PasswordToken(tail);
  std::size_t token = 0;
  for (char* argument : arguments) {
    const std::string_view text = argument;
    if (text.empty() || text.find(' ') != std::string_view::npos) {
      if (token++ == password) std::memset(argument, 0, text.size());
      continue;
    }
    std::size_t end = 0;
    for (const std::string& part : kelvarin::Tokenize(text)) {
      const std::size_t at = text.find(part, end);
      end = at + part.size();
      if (token++ == password) std::memset(argument + at, 0, part.size());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  OccupyClosedStandardDescriptors();
  if (argc > 0 && kelvarin::ssh::IsAskpassHelper(argv[0])) {
    return kelvarin::ssh::RunAskpassHelper(argv[0], argc > 1 ? argv[1] : nullptr);
  }
  // A caller may start a program with no argv[0] at all: then there are no
  // arguments either, rather than whatever lies behind the array.
  const auto given =
      std::span<char*>(argv, static_cast<std::size_t>(argc)).subspan(argc > 0 ? 1 : 0);
  std::vector<std::string> copies(given.begin(), given.end());
  std::vector<const char*> arguments;
  arguments.reserve(copies.size());
  for (const auto& copy : copies) arguments.push_back(copy.c_str());
  HidePassword(given, kelvarin::JoinArguments(arguments));
  auto console = kelvarin::MakeStandardConsole();
  // On this platform WMI is the stand-in that serves the machine's firmware data.
  const auto check =
      kelvarin::UseStandin("/sys", kelvarin::ssh::SettingsFromEnvironment(), *console);
  return static_cast<int>(kelvarin::RunInventoryFromArguments(arguments, *console, check));
}
#endif
