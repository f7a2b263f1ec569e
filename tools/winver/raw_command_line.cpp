// Starts a program with exactly the wide command line given, as any Windows
// caller can, where Wine's own launcher would quote and escape the arguments
// it is handed. The command line, program path first, comes as UTF-8 on
// standard input; the program shares this one's standard handles.
//
//   raw_command_line < COMMAND_LINE
//
// Exit code: the program's, or 255 when it could not be started.
#include <windows.h>

#include <string>
#include <vector>

int main() {
  std::string line;
  char buffer[4096];
  DWORD got = 0;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) line.append(buffer, got);
  const int length = static_cast<int>(line.size());
  std::vector<wchar_t> wide(line.size() + 1, L'\0');
  if (length > 0 &&
      MultiByteToWideChar(CP_UTF8, 0, line.data(), length, wide.data(), length) == 0) {
    return 255;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 255;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
