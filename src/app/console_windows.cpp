#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "app/standard_console.h"

namespace kelvarin {
namespace {

// A parent that passed explicit standard handles means those, even when this
// process also inherited a console.
HANDLE StartupHandle(DWORD which) {
  STARTUPINFOA startup{};
  startup.cb = static_cast<DWORD>(sizeof(startup));
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESTDHANDLES) != 0) {
    return which == STD_INPUT_HANDLE    ? startup.hStdInput
           : which == STD_OUTPUT_HANDLE ? startup.hStdOutput
                                        : startup.hStdError;
  }
  return GetStdHandle(which);
}

constexpr std::size_t kMaxPasswordBytes = 65536;

// The console's mode while it reads without echo, for Ctrl-C to put back.
HANDLE g_echoless = nullptr;
DWORD g_mode = 0;
BOOL WINAPI RestoreEcho(DWORD) {
  SetConsoleMode(g_echoless, g_mode);
  return FALSE;  // and on to the default: the process ends
}

// One line typed on the console, without echo, in the ANSI code page.
std::optional<std::string> ReadFromConsole(HANDLE input, DWORD mode) {
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD done = 0;
  WriteFile(screen, "Password: ", 10, &done, nullptr);
  g_echoless = input, g_mode = mode;
  SetConsoleCtrlHandler(RestoreEcho, TRUE);
  SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                            ENABLE_PROCESSED_INPUT);
  std::wstring line;
  for (wchar_t c = 0; line.size() < kMaxPasswordBytes;) {
    if (!ReadConsoleW(input, &c, 1, &done, nullptr) || done == 0 || c == L'\n') break;
    if (c != L'\r') line.push_back(c);
  }
  SetConsoleMode(input, mode);
  SetConsoleCtrlHandler(RestoreEcho, FALSE);
  WriteFile(screen, "\r\n", 2, &done, nullptr);
  if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
  if (line.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

// One line of redirected input, a byte at a time so that nothing after it is taken.
std::optional<std::string> ReadFromFile(HANDLE input) {
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    if (line.size() == kMaxPasswordBytes) return std::nullopt;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

class StandardConsole final : public Console {
 public:
  StandardConsole() : output_(StartupHandle(STD_OUTPUT_HANDLE)) {}

  // Plain file writes, so a file or pipe receives the same bytes a console
  // shows: no code page translation, no CRT buffering.
  bool Write(std::string_view bytes) override {
    constexpr std::size_t kMaxChunk = 0x7FFFFFFF;
    while (!bytes.empty()) {
      const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxChunk));
      DWORD written = 0;
      if (!WriteFile(output_, bytes.data(), chunk, &written, nullptr) || written == 0) {
        return false;
      }
      bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
    }
    return true;
  }

  void Pause(std::uint32_t milliseconds) override { Sleep(milliseconds); }

  void WriteError(std::string_view line) override {
    DWORD written = 0;
    WriteFile(StartupHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
  }

  // On a console without echo; else one line of what standard input holds.
  std::optional<std::string> ReadPassword() override {
    const HANDLE input = StartupHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) ? ReadFromConsole(input, mode) : ReadFromFile(input);
  }

 private:
  HANDLE output_;
};

}  // namespace

std::unique_ptr<Console> MakeStandardConsole() { return std::make_unique<StandardConsole>(); }

}  // namespace kelvarin
