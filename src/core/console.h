// The program's only way out: whole lines on standard output, and the pause
// that follows some command-line messages.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvarin {

class Console {
 public:
  virtual ~Console() = default;
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Writes every byte, waiting out interruptions and full pipes; false when
  // they could not all be written.
  virtual bool Write(std::string_view bytes) = 0;
  // Suspends the thread for the full time.
  virtual void Pause(std::uint32_t milliseconds) = 0;

  // True once a line has failed to get out whole: a report that was not
  // written must not be taken for a success.
  [[nodiscard]] bool LostOutput() const noexcept { return lost_; }

 private:
  friend void WriteLine(Console& console, std::string_view text);
  bool lost_ = false;
};

// The text, then CR LF as a separate write.
void WriteLine(Console& console, std::string_view text);

}  // namespace kelvarin
