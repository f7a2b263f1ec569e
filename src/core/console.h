// The program's standard streams: whole lines of the report on standard
// output, the pause that follows some command-line messages, the reasons a
// connection failed on standard error, and a password asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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
  // One whole line for people and logs, in one write; a failure is ignored.
  virtual void WriteError(std::string_view line) = 0;
  // A password from the person or program that started the run, never
  // shown; nothing when none could be read.
  virtual std::optional<std::string> ReadPassword() = 0;

  // True once a line has failed to get out whole: a report that was not
  // written must not be taken for a success.
  [[nodiscard]] bool LostOutput() const noexcept { return lost_; }

 private:
  friend void WriteLine(Console& console, std::string_view text);
  bool lost_ = false;
};

// The text, then CR LF as a separate write.
void WriteLine(Console& console, std::string_view text);

// At most this many bytes, so that a pipe keeps each line whole however many
// runs write to it at once.
inline constexpr std::size_t kMaxReasonBytes = 4096;

// "kelvarin: HOST: TEXT" and a line feed on standard error: why `host` could
// not be reached. Control characters are written as blanks, as in a fact,
// and a longer line is cut before the character that would pass the limit.
void WriteReason(Console& console, std::string_view host, std::string_view text);

}  // namespace kelvarin
