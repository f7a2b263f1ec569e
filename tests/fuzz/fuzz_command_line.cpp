// Arbitrary bytes as a command tail: the parse must end, and a line it accepts
// must be one the rest of the run can rely on.
#include <cstdlib>

#include "../support.h"
#include "app/command_line.h"
#include "core/text.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}
// One character that the CSV line can use, or none where that means "off".
bool IsCharacter(const std::string& value, bool mayBeEmpty) {
  return value.empty() ? mayBeEmpty : value.size() == 1 && !kelvarin::IsTaboo(value[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(data, data + size);
  Require(input.ends_with(kelvarin::CutCommandTail(input)));
  kelvarin::testing::RecordingConsole console;
  const kelvarin::RunOptions o = kelvarin::ParseCommandLine(input, console);
  // A message rejects; an accepted line keeps the promises the run relies on.
  Require(o.showUsage ||
          (console.trace.empty() && kelvarin::Tokenize(input).size() <= 16 && !o.host.empty() &&
           o.host.find_first_of(" ,\t") == std::string::npos && !(o.kerberos && o.ntlm) &&
           !(o.csv && o.verbose) && (o.csv || !o.quoteAll) && IsCharacter(o.delimiter, false) &&
           IsCharacter(o.delimiterReplacement, true) && IsCharacter(o.tabooReplacement, true)));
  // The cross checks: a failure prints exactly one plain line.
  const bool fails =
      (o.user.empty() && !o.password.empty()) || (o.host == "." && (o.kerberos || o.ntlm));
  if (!o.showUsage) {
    Require(kelvarin::CheckCombinations(o, console) != fails);
    Require(console.trace ==
            (fails ? console.output.substr(0, console.output.find("\r\n") + 2) : ""));
  }
  return 0;
}
