// A secret typed by a person, or handed over by a program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvarin::system {

// When standard input is a terminal: `prompt` on the terminal (never on
// standard output), then one line read there without echo; the terminal is
// restored afterwards, after Ctrl-C too (which then ends the process as it
// would have). Otherwise one line of standard input. Without its line end;
// at the end of input, what came before it; nothing after an error or
// past 64 KiB.
std::optional<std::string> ReadSecretLine(std::string_view prompt);

}  // namespace kelvarin::system
