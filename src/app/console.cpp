#include "app/console.h"

namespace kelvarin {

void WriteLine(Console& console, std::string_view text) {
  if (!text.empty()) console.Write(text);
  console.Write("\r\n");
}

}  // namespace kelvarin
