#include "core/console.h"

namespace kelvarin {

void WriteLine(Console& console, std::string_view text) {
  const bool textOut = text.empty() || console.Write(text);
  const bool endOut = console.Write("\r\n");
  if (!textOut || !endOut) console.lost_ = true;
}

}  // namespace kelvarin
