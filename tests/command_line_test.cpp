// The command line: the tail, its tokens, every switch with its messages and
// pauses, the acceptance test and the cross checks.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support.h"

namespace kelvarin::testing {
namespace {

// A misuse: an empty line, the bell with the message, then the pause.
std::string Error(const std::string& message, int pause = 1000) {
  return "\r\n\a" + message + "\r\n<" + std::to_string(pause) + ">";
}
std::string CsvOnly(char letter) {
  return Error("ERROR: The /"s + letter + " switch can only be used with the /C switch.", 2000);
}
const std::string kCsvAndVerbose = "/C and /V switches can not be used at the same time!";
const std::string kSame = "\r\n       can NOT be the same as the delimeter character!";
const std::string k8 = "/N/N/N/N/N/N/N/N";  // eight tokens

auto Fields(const RunOptions& o) {
  return std::tie(o.host, o.user, o.password, o.authority, o.kerberos, o.ntlm, o.verbose, o.csv,
                  o.quiet, o.quoteAll, o.delimiter, o.delimiterReplacement, o.tabooReplacement,
                  o.showUsage);
}

// The tail, the options it gives, and what is written, pauses included.
// clang-format off
const std::tuple<std::string, RunOptions, std::string> kCases[] = {
    {"", {}, ""}, {"/?", {.showUsage = true}, ""}, {"-help", {.showUsage = true}, ""},
    {"/Mserver box", {.host = "BOX"}, ""}, {R"(/M \\server.)", {.host = "SERVER"}, ""}, {"/M .", {.host = "", .showUsage = true}, ""},
    {"/M \"\x81\x82\x84\x86\x87\x94\xA4\xE9`az{.lan\"", {.host = "\x9A\x90\x8E\x8F\x80\x99\xA5\xE9`AZ{.LAN"}, ""},
    {"/M a,b", {.host = "A,B", .showUsage = true}, ""}, {"/M a\tb", {.host = "A\tB", .showUsage = true}, ""},
    {"/M \"a b\"", {.host = "A B", .showUsage = true}, ""}, {"/M", {.showUsage = true}, ""}, {"/U /P", {.user = "/P"}, ""},
    {"/U \"\" /P \"pw\"", {.password = "pw"}, "ERROR: A password can not be specified without also specifying a username.\r\n"},
    {"/D ;", {.showUsage = true}, CsvOnly('D')}, {"/T x /R y /A", {.showUsage = true}, CsvOnly('T') + CsvOnly('R') + CsvOnly('A')},
    {"/D (;) -c", {.csv = true, .delimiter = ";"}, ""}, {"/C /D ';' /T \" \"", {.csv = true, .delimiter = ";", .tabooReplacement = " "}, ""},
    {"/C /D ab", {.csv = true, .delimiter = "ab", .showUsage = true}, ""},
    // A byte that is part of a character (of UTF-8 here) is none of its own.
    {"/C /D \xA9 /R a^b /T '", {.csv = true, .delimiter = "\xA9", .delimiterReplacement = "a^b", .tabooReplacement = "'", .showUsage = true},
     Error("ERROR: Illegal delimiter character specified with the /D switch.", 2000) +
         Error("ERROR: Illegal delimiter replacement character specified with the /R switch.", 2000) +
         Error("ERROR: Illegal taboo replacement character specified with the /T switch.", 2000)},
    {"/C /D \" \" /A", {.csv = true, .quoteAll = true, .delimiter = " "}, ""},
    {"/C /R , /D ; /T ;", {.csv = true, .delimiter = ";", .delimiterReplacement = ",", .tabooReplacement = ";", .showUsage = true},
     Error("ERROR: Delimiter replacement character specified with the /R switch" + kSame, 2000) +
         Error("ERROR: Taboo replacement character specified with the /T switch" + kSame, 2000)},
    // Compared with the delimiter of the moment, byte for byte.
    {"/C /R ; /D ;", {.csv = true, .delimiter = ";", .delimiterReplacement = ";"}, ""},
    {"/C /D A /R a", {.csv = true, .delimiter = "A", .delimiterReplacement = "a"}, ""},
    {"/V /C", {.verbose = true, .csv = true, .showUsage = true}, Error(kCsvAndVerbose) + Error(kCsvAndVerbose)},
    {"/C /V", {.verbose = true, .csv = true, .showUsage = true}, Error(kCsvAndVerbose)},
    {"-l /K", {.authority = "Kerberos:", .kerberos = true, .ntlm = true, .showUsage = true}, Error("/K and /L switches can not be used at the same time!")},
    {"\"/n x\" -h", {.showUsage = true}, Error("\"/n x\" was unexpected.")}, {k8 + k8, {.quiet = true}, ""},
    {k8 + k8 + "/n", {.quiet = true, .showUsage = true}, ""},
    {"/K", {.authority = "Kerberos:", .kerberos = true}, "ERROR: /K switch can only be used when querying a remote host (see /M switch).\r\n"},
    {"/L", {.authority = "NTLMDomain:", .ntlm = true}, "ERROR: /L switch can only be used when querying a remote host (see /M switch).\r\n"},
    {"/M localhost /K", {.host = "LOCALHOST", .authority = "Kerberos:", .kerberos = true}, ""},
    {"/P \"pw\" /K", {.password = "pw", .authority = "Kerberos:", .kerberos = true}, "ERROR: A password can not be specified without also specifying a username.\r\n"},
    {"/U \"me -c\" /P x", {.user = "me -c", .password = "x", .csv = true}, ""},
};
// clang-format on

TEST(CommandLine, OptionsOutputAndOutcome) {
  for (const auto& [tail, expected, written] : kCases) {
    RecordingConsole console;
    const RunOptions options = ParseCommandLine(tail, console);
    const bool goesOn = !options.showUsage && CheckCombinations(options, console);
    EXPECT_EQ(Fields(options), Fields(expected)) << tail;
    EXPECT_EQ(console.trace, written) << tail;
    // Only a line that is neither rejected nor answered goes on to WMI.
    EXPECT_EQ(goesOn, !expected.showUsage && written.empty()) << tail;
  }
}

TEST(CommandLine, TailCutJoinedAndSplitIntoTokens) {
  // clang-format off
  const std::pair<std::string, std::string> cut[] = {
      {"kelvarin.exe", ""}, {"kelvarin.exe    /C /V  ", "/C /V  "}, {"  /C", "/C"},
      {"\"C:\\Program Files\\k.exe\" /C", "/C"}, {"\"C:\\k.exe\"/C", "/C"}, {"\"C:\\Program Files\\k.exe /C", ""}, {"k\xE9lvarin!.exe /C", "/C"},
      {"kelvarin.exe\t/C", "\t/C"},  // a control character ends the path and stays
  };
  // clang-format on
  for (const auto& [line, tail] : cut) EXPECT_EQ(CutCommandTail(line), tail) << line;
  const std::vector<const char*> none, some = {"/U", "dom\\me you", "", "x\ty"};
  EXPECT_EQ(JoinArguments(none), "");
  EXPECT_EQ(JoinArguments(some), "/U \"dom\\me you\" \"\" x\ty");
  const std::vector<std::string> tokens = {"/C", "/V", "-C-V", "\"a /b\"", "c",    "x",
                                           "/y", "/",  "/",    "a\tb",     "\"d e"};
  EXPECT_EQ(Tokenize("  /C/V -C-V \"a /b\"c x/y // a\tb \"d e"), tokens);
}

}  // namespace
}  // namespace kelvarin::testing
