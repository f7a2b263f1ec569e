// Arbitrary bytes as a command tail: the parse must end without a memory
// error, and a line it accepts must be one the rest of the run can rely on.
#include <cstdlib>

#include "../support.h"
#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(data, data + size);
  if (!input.ends_with(kelvarin::CutCommandTail(input))) std::abort();
  kelvarin::testing::RecordingConsole console;
  const kelvarin::RunOptions o = kelvarin::ParseCommandLine(input, console);
  // An accepted line printed nothing, names a usable host and no clashing switches.
  if (!o.showUsage && (!console.trace.empty() || o.host.empty() ||
                       o.host.find_first_of(" ,\t") != std::string::npos || (o.csv && o.verbose) ||
                       (o.kerberos && o.ntlm) || o.delimiter.size() != 1)) {
    std::abort();
  }
  if (!o.showUsage) kelvarin::CheckCombinations(o, console);
  return 0;
}
