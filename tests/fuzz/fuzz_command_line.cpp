// Arbitrary bytes as a command tail: the parse must end, and a line it accepts
// must be one the rest of the run can rely on.
#include <cstdlib>

#include "../support.h"
#include "app/command_line.h"
#include "report/csv.h"

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
  // A message always rejects, and lines are whole.
  Require(console.trace == console.output || o.showUsage);
  Require(console.output.empty() || console.output.ends_with("\r\n"));
  if (o.showUsage) return 0;
  Require(kelvarin::Tokenize(input).size() <= 16 && !o.host.empty() &&
          o.host.find_first_of(" ,\t") == std::string::npos);
  Require(!(o.kerberos && o.ntlm) && !(o.csv && o.verbose) && (o.csv || !o.quoteAll));
  Require(IsCharacter(o.delimiter, false) && IsCharacter(o.delimiterReplacement, true) &&
          IsCharacter(o.tabooReplacement, true));
  // The cross checks: a failure prints exactly one plain line.
  const bool fails =
      (o.user.empty() && !o.password.empty()) || (o.host == "." && (o.kerberos || o.ntlm));
  Require(kelvarin::CheckCombinations(o, console) != fails);
  Require(fails ? console.output.find("\r\n") == console.output.size() - 2
                : console.output.empty());
  return 0;
}
