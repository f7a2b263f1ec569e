// The program's only way out: whole lines on standard output, and the pause
// that follows some command-line messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kelvarin {

class Console {
 public:
  virtual ~Console() = default;
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Writes the bytes as they are; a failed or short write is ignored.
  virtual void Write(std::string_view bytes) = 0;
  // Suspends the thread for the full time.
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

// The text, then CR LF as a separate write.
void WriteLine(Console& console, std::string_view text);

// Standard output of this process, unbuffered.
std::unique_ptr<Console> MakeStandardConsole();

}  // namespace kelvarin
