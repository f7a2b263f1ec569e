#include "app/command_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "test_console.h"

namespace kelvarin {
namespace {

using Lines = std::vector<std::string>;

std::string PauseOf(int milliseconds) { return "<pause " + std::to_string(milliseconds) + ">"; }

// What the console saw: each line without its CR LF, each pause in its place.
Lines Transcript(const testing::RecordingConsole& console) {
  Lines transcript;
  std::string line;
  for (const std::string& event : console.events) {
    if (event.starts_with("<pause ")) {
      transcript.push_back(event);
    } else if (event == "\r\n") {
      transcript.push_back(line);
      line.clear();
    } else {
      line += event;
    }
  }
  if (!line.empty()) transcript.push_back(line + "<no line end>");
  return transcript;
}

Lines Block(const std::string& message, int milliseconds) {
  return {"", "\a" + message, PauseOf(milliseconds)};
}

Lines SameAsDelimiterBlock(const std::string& first) {
  return {"", "\a" + first, "       can NOT be the same as the delimeter character!",
          PauseOf(2000)};
}

Lines operator+(Lines first, const Lines& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

const std::string kCsvAndVerbose = "/C and /V switches can not be used at the same time!";
const std::string kNoUserLine =
    "ERROR: A password can not be specified without also specifying a username.";

std::string Repeated(const std::string& token, int count) {
  std::string tail;
  for (int i = 0; i < count; ++i) tail += token + " ";
  return tail;
}

auto Fields(const RunOptions& o) {
  return std::tie(o.host, o.user, o.password, o.authority, o.kerberos, o.ntlm, o.verbose, o.csv,
                  o.quiet, o.quoteAll, o.delimiter, o.delimiterReplacement, o.tabooReplacement,
                  o.showUsage);
}

struct ParseCase {
  std::string tail;
  std::function<void(RunOptions&)> change;  // expected options, as changes to the defaults
  Lines transcript;
  ExitCode outcome;  // Failure: accepted and checked, the run goes on to WMI
};

using O = RunOptions;
constexpr ExitCode kGoesOn = ExitCode::Failure;
constexpr ExitCode kStops = ExitCode::UsageError;

void Reject(O& o) { o.showUsage = true; }

// clang-format off
const ParseCase kParseCases[] = {
    {"", {}, {}, kGoesOn},
    {"/c", [](O& o) { o.csv = true; }, {}, kGoesOn},
    {"-C", [](O& o) { o.csv = true; }, {}, kGoesOn},
    {"/CSV", [](O& o) { o.csv = true; }, {}, kGoesOn},
    {"/Help", Reject, {}, kStops},
    {"/C-V", [](O& o) { o.csv = true; }, {}, kGoesOn},
    {"/Mserver box", [](O& o) { o.host = "BOX"; }, {}, kGoesOn},
    {R"(/M \\server.)", [](O& o) { o.host = "SERVER"; }, {}, kGoesOn},
    {"/M \"sr\x87v.lan\"", [](O& o) { o.host = "SR\x80V.LAN"; }, {}, kGoesOn},
    {"/M .", [](O& o) { o.host = ""; o.showUsage = true; }, {}, kStops},
    {"/M a,b", [](O& o) { o.host = "A,B"; o.showUsage = true; }, {}, kStops},
    {"/M a\tb", [](O& o) { o.host = "A\tB"; o.showUsage = true; }, {}, kStops},
    {"/M", Reject, {}, kStops},
    {"/U /P", [](O& o) { o.user = "/P"; }, {}, kGoesOn},
    {"/D ;", Reject,
     Block("ERROR: The /D switch can only be used with the /C switch.", 2000), kStops},
    {"/T x /A", Reject,
     Block("ERROR: The /T switch can only be used with the /C switch.", 2000) +
         Block("ERROR: The /A switch can only be used with the /C switch.", 2000),
     kStops},
    {"/D ; /C", [](O& o) { o.csv = true; o.delimiter = ";"; }, {}, kGoesOn},
    {"/C /D ;", [](O& o) { o.csv = true; o.delimiter = ";"; }, {}, kGoesOn},
    {"/C /D ab", [](O& o) { o.csv = o.showUsage = true; o.delimiter = "ab"; }, {}, kStops},
    {"/C /D ^", [](O& o) { o.csv = o.showUsage = true; o.delimiter = "^"; },
     Block("ERROR: Illegal delimiter character specified with the /D switch.", 2000), kStops},
    {"/C /D a^b", [](O& o) { o.csv = o.showUsage = true; o.delimiter = "a^b"; },
     Block("ERROR: Illegal delimiter character specified with the /D switch.", 2000), kStops},
    {"/C /D (;)", [](O& o) { o.csv = true; o.delimiter = ";"; }, {}, kGoesOn},
    {"/C /D \";\" /A", [](O& o) { o.csv = o.quoteAll = true; o.delimiter = ";"; }, {}, kGoesOn},
    {"/C /D \";  ", [](O& o) { o.csv = true; o.delimiter = ";"; }, {}, kGoesOn},
    {"/C /D \" \"", [](O& o) { o.csv = true; o.delimiter = " "; }, {}, kGoesOn},
    {"/C /R ,", [](O& o) { o.csv = o.showUsage = true; o.delimiterReplacement = ","; },
     SameAsDelimiterBlock("ERROR: Delimiter replacement character specified with the /R switch"),
     kStops},
    {"/C /D ; /T ;",
     [](O& o) { o.csv = o.showUsage = true; o.delimiter = o.tabooReplacement = ";"; },
     SameAsDelimiterBlock("ERROR: Taboo replacement character specified with the /T switch"),
     kStops},
    {"/C /D ^ /R ^",
     [](O& o) { o.csv = o.showUsage = true; o.delimiter = o.delimiterReplacement = "^"; },
     Block("ERROR: Illegal delimiter character specified with the /D switch.", 2000) +
         Block("ERROR: Illegal delimiter replacement character specified with the /R switch.",
               2000),
     kStops},
    {"/C /T ' /R x",
     [](O& o) {
       o.csv = o.showUsage = true;
       o.tabooReplacement = "'";
       o.delimiterReplacement = "x";
     },
     Block("ERROR: Illegal taboo replacement character specified with the /T switch.", 2000),
     kStops},
    {"/C /R ; /D ;", [](O& o) { o.csv = true; o.delimiter = o.delimiterReplacement = ";"; },
     {}, kGoesOn},
    {"/C /R a /D A", [](O& o) { o.csv = true; o.delimiterReplacement = "a"; o.delimiter = "A"; },
     {}, kGoesOn},
    {"/V /C", [](O& o) { o.csv = o.verbose = o.showUsage = true; },
     Block(kCsvAndVerbose, 1000) + Block(kCsvAndVerbose, 1000), kStops},
    {"/C /V", [](O& o) { o.csv = o.verbose = o.showUsage = true; },
     Block(kCsvAndVerbose, 1000), kStops},
    {"/K /L", [](O& o) { o.kerberos = o.ntlm = o.showUsage = true; o.authority = "NTLMDomain:"; },
     Block("/K and /L switches can not be used at the same time!", 1000), kStops},
    {"-l /K", [](O& o) { o.kerberos = o.ntlm = o.showUsage = true; o.authority = "Kerberos:"; },
     Block("/K and /L switches can not be used at the same time!", 1000), kStops},
    {"/X", Reject, Block("/X was unexpected.", 1000), kStops},
    {"\"/n x\" -h", Reject, Block("\"/n x\" was unexpected.", 1000), kStops},
    {Repeated("/N", 16), [](O& o) { o.quiet = true; }, {}, kGoesOn},
    {Repeated("/N", 17), [](O& o) { o.quiet = o.showUsage = true; }, {}, kStops},
    {"/K", [](O& o) { o.kerberos = true; o.authority = "Kerberos:"; },
     {"ERROR: /K switch can only be used when querying a remote host (see /M switch)."}, kStops},
    {"/L", [](O& o) { o.ntlm = true; o.authority = "NTLMDomain:"; },
     {"ERROR: /L switch can only be used when querying a remote host (see /M switch)."}, kStops},
    {"/M localhost /K",
     [](O& o) { o.host = "LOCALHOST"; o.kerberos = true; o.authority = "Kerberos:"; },
     {}, kGoesOn},
    {"/P \"pw\" /K", [](O& o) { o.password = "pw"; o.kerberos = true; o.authority = "Kerberos:"; },
     {kNoUserLine}, kStops},
    {"/U \"\" /P x", [](O& o) { o.password = "x"; }, {kNoUserLine}, kStops},
    {"/U \"me -c\" /P x", [](O& o) { o.user = "me -c"; o.password = "x"; o.csv = true; },
     {}, kGoesOn},
};
// clang-format on

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, OptionsOutputAndOutcome) {
  const ParseCase& c = GetParam();
  SCOPED_TRACE("tail: " + c.tail);
  testing::RecordingConsole console;
  const RunOptions options = ParseCommandLine(c.tail, console);
  const ExitCode outcome = options.showUsage || !CheckCombinations(options, console)
                               ? ExitCode::UsageError
                               : ExitCode::Failure;
  RunOptions expected;
  if (c.change) c.change(expected);
  EXPECT_EQ(Fields(options), Fields(expected));
  EXPECT_EQ(Transcript(console), c.transcript);
  EXPECT_EQ(outcome, c.outcome);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, ParseTest, ::testing::ValuesIn(kParseCases));

TEST(CutCommandTailTest, CutsAfterTheProgramPath) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"kelvarin.exe", ""},
      {"kelvarin.exe /c", "/c"},
      {"kelvarin.exe    /C /V  ", "/C /V  "},
      {"\"C:\\Program Files\\k.exe\" /C", "/C"},
      {"\"C:\\k.exe\"/C", "/C"},
      {"\"C:\\Program Files\\k.exe /C", ""},
      {"kelvarin.exe\t/C", "\t/C"},
      {"  /C", "/C"},
      {"k\xE9lvarin.exe /C", "/C"},
  };
  for (const auto& [line, tail] : cases) EXPECT_EQ(CutCommandTail(line), tail) << line;
}

TEST(JoinArgumentsTest, QuotesOnlyEmptyAndBlankArguments) {
  const std::pair<std::vector<const char*>, std::string> cases[] = {
      {{}, ""},
      {{"/M", "host", "/C"}, "/M host /C"},
      {{"/U", "dom\\me you"}, "/U \"dom\\me you\""},
      {{"/U", "", "/C"}, "/U \"\" /C"},
      {{"/P", "a\"b", "x\ty"}, "/P a\"b x\ty"},
  };
  for (const auto& [arguments, tail] : cases) EXPECT_EQ(JoinArguments(arguments), tail);
}

TEST(TokenizeTest, SplitsAtQuotesBlanksAndSlashes) {
  const std::pair<std::string, Lines> cases[] = {
      {"", {}},
      {"/C/V -C-V", {"/C", "/V", "-C-V"}},
      {"  /M   host  ", {"/M", "host"}},
      {"\"a /b\"c\"d", {"\"a /b\"", "c", "\"d"}},
      {"x/y //", {"x", "/y", "/", "/"}},
      {"a\tb /U", {"a\tb", "/U"}},
  };
  for (const auto& [tail, tokens] : cases) EXPECT_EQ(Tokenize(tail), tokens) << tail;
}

TEST(UpperCaseTest, LettersAndTheSevenAccentedBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"az AZ 09 `{@[", "AZ AZ 09 `{@["},
      {"\x81\x82\x84\x86\x87\x94\xA4", "\x9A\x90\x8E\x8F\x80\x99\xA5"},
      {"\x80\x83\x9A\xA5\xE9\xFF", "\x80\x83\x9A\xA5\xE9\xFF"},
  };
  for (const auto& [text, upper] : cases) EXPECT_EQ(UpperCase(text), upper);
}

}  // namespace
}  // namespace kelvarin
