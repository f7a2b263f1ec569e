// A console that keeps what the program wrote and every pause, in order,
// so tests can check bytes and the pause sequence without sleeping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/console.h"

namespace kelvarin::testing {

class RecordingConsole : public Console {
 public:
  bool Write(std::string_view bytes) override {
    if (refuse) return false;
    output.append(bytes);
    events.emplace_back(bytes);
    return true;
  }
  void Pause(std::uint32_t milliseconds) override {
    pauses.push_back(milliseconds);
    events.push_back("<pause " + std::to_string(milliseconds) + ">");
  }

  bool refuse = false;                // every write fails while set
  std::string output;                 // every byte written
  std::vector<std::uint32_t> pauses;  // every pause, in order
  std::vector<std::string> events;    // writes and pauses interleaved
};

// The lines of the output, each without its CR LF (the output must consist of
// whole CR LF lines; a stray byte after the last one is returned as a line).
inline std::vector<std::string> SplitLines(std::string_view output) {
  std::vector<std::string> lines;
  while (!output.empty()) {
    auto end = output.find("\r\n");
    if (end == std::string_view::npos) {
      lines.emplace_back(output);
      break;
    }
    lines.emplace_back(output.substr(0, end));
    output.remove_prefix(end + 2);
  }
  return lines;
}

}  // namespace kelvarin::testing
