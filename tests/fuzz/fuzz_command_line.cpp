// Arbitrary bytes as a command tail: the parse must end, and its result must
// be one the rest of the run can rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/console.h"
#include "report/csv.h"

namespace {

using kelvarin::RunOptions;

// Keeps only what the checks below need; never sleeps.
class CountingConsole final : public kelvarin::Console {
 public:
  void Write(std::string_view bytes) override {
    if (bytes.empty()) return;
    lastWrite = bytes.back();
    if (bytes == "\r\n") ++lines;
  }
  void Pause(std::uint32_t milliseconds) override {
    if (milliseconds != 1000 && milliseconds != 2000) std::abort();
    ++pauses;
  }
  char lastWrite = '\n';
  std::size_t lines = 0;
  std::size_t pauses = 0;
};

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsCharacterValue(const std::string& value, bool mayBeEmpty) {
  if (value.empty()) return mayBeEmpty;
  return value.size() == 1 && !kelvarin::IsTaboo(value[0]);
}

// What an accepted command line promises to the connection and the report.
void CheckAccepted(const RunOptions& options, std::size_t tokenCount) {
  Require(tokenCount <= 16);
  Require(!options.host.empty());
  Require(options.host.find_first_of(" ,\t") == std::string::npos);
  Require(!(options.kerberos && options.ntlm) && !(options.csv && options.verbose));
  Require(!options.quoteAll || options.csv);
  Require(IsCharacterValue(options.delimiter, false));
  Require(IsCharacterValue(options.delimiterReplacement, true));
  Require(IsCharacterValue(options.tabooReplacement, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(data, data + size);
  Require(input.ends_with(kelvarin::CutCommandTail(input)));

  CountingConsole console;
  const RunOptions options = kelvarin::ParseCommandLine(input, console);
  const std::size_t tokenCount = kelvarin::Tokenize(input).size();
  // A message always rejects, and no token earns more than one.
  Require(console.pauses == 0 || options.showUsage);
  Require(console.pauses <= tokenCount);
  Require(console.lastWrite == '\n');

  // Exit 9 for a rejected line or a failed cross check, else the run goes on
  // with exit code 1; a failed check prints exactly one plain line.
  kelvarin::ExitCode code = kelvarin::ExitCode::UsageError;
  if (!options.showUsage) {
    CheckAccepted(options, tokenCount);
    const std::size_t linesBefore = console.lines;
    const std::size_t pausesBefore = console.pauses;
    if (kelvarin::CheckCombinations(options, console)) code = kelvarin::ExitCode::Failure;
    const bool local = options.host == ".";
    const bool mustFail = (options.user.empty() && !options.password.empty()) ||
                          (local && (options.kerberos || options.ntlm));
    Require((code == kelvarin::ExitCode::UsageError) == mustFail);
    Require(console.lines == linesBefore + (mustFail ? 1 : 0));
    Require(console.pauses == pausesBefore);
  }
  return 0;
}
