#include "core/console.h"

#include "core/text.h"

namespace kelvarin {

void WriteLine(Console& console, std::string_view text) {
  const bool textOut = text.empty() || console.Write(text);
  const bool endOut = console.Write("\r\n");
  if (!textOut || !endOut) console.lost_ = true;
}

void WriteReason(Console& console, std::string_view host, std::string_view text) {
  std::string line = "kelvarin: ";
  line.append(host).append(": ").append(text);
  line = BlankControls(DecodeText(line));
  if (line.size() >= kMaxReasonBytes) {
    std::size_t end = kMaxReasonBytes - 1;
    while ((static_cast<unsigned char>(line[end]) & 0xC0U) == 0x80U) --end;
    line.resize(end);
  }
  console.WriteError(line + "\n");
}

}  // namespace kelvarin
