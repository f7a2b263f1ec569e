// Turning the command tail into RunOptions, with the messages and pauses that
// a misused switch earns, and the cross checks of an accepted command line.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/console.h"
#include "core/run_types.h"

namespace kelvarin {

// The tail of a raw process command line: everything after the program path.
std::string CutCommandTail(std::string_view commandLine);

// A tail rebuilt from already split arguments (argv[1..]): joined by single
// blanks, an argument that is empty or holds a blank enclosed in double quotes.
std::string JoinArguments(std::span<const char* const> arguments);

std::vector<std::string> Tokenize(std::string_view tail);

// The message for a token that is no switch, with its pause.
void PrintUnexpected(Console& console, std::string_view token);

// Examines every token, printing messages and pausing as it goes; a rejected
// command line comes back with showUsage on.
RunOptions ParseCommandLine(std::string_view tail, Console& console);

// Which token /P takes as its value in `tail`, as the parse reads it: where
// a password lies, to be hidden. Nothing without one.
std::optional<std::size_t> PasswordToken(std::string_view tail);

// The three cross checks, in order; the first that fails prints its line and
// the result is false.
bool CheckCombinations(const RunOptions& options, Console& console);

}  // namespace kelvarin
