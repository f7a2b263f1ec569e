#include <windows.h>

#include <algorithm>
#include <cstddef>

#include "app/standard_console.h"

namespace kelvarin {
namespace {

// A parent that passed explicit standard handles means those, even when this
// process also inherited a console.
HANDLE StartupOutputHandle() {
  STARTUPINFOA startup{};
  startup.cb = static_cast<DWORD>(sizeof(startup));
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESTDHANDLES) != 0) return startup.hStdOutput;
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

class StandardConsole final : public Console {
 public:
  StandardConsole() : output_(StartupOutputHandle()) {}

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

 private:
  HANDLE output_;
};

}  // namespace

std::unique_ptr<Console> MakeStandardConsole() { return std::make_unique<StandardConsole>(); }

}  // namespace kelvarin
