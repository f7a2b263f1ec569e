#include "app/command_line.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "automation/variant_text.h"
#include "core/text.h"

namespace kelvarin {
namespace {

constexpr std::uint32_t kShortPause = 1000;
constexpr std::uint32_t kLongPause = 2000;
constexpr std::size_t kMaxTokens = 16;
constexpr std::string_view kKerberosAndNtlm =
    "/K and /L switches can not be used at the same time!";
constexpr std::string_view kCsvAndVerbose = "/C and /V switches can not be used at the same time!";
constexpr std::string_view kNotSameAsDelimiter =
    "       can NOT be the same as the delimeter character!";

// Compared as unsigned so that bytes above 0x7F never count as control codes.
bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view SkipSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view Strip(std::string_view text, std::string_view unwanted) {
  const auto first = text.find_first_not_of(unwanted);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(unwanted);
  return text.substr(first, last - first + 1);
}

// Whole characters of the code page, none of them taboo: a byte that is
// part of a character, or starts none, is no character to delimit with.
bool IsLegalCharacterText(std::string_view text) {
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    length = AnsiCharacterLength(text, at);
    if (length == 0 || (length == 1 && IsTaboo(text[at]))) return false;
  }
  return true;
}

// The switches that take one character: where the value goes and what a
// misuse prints. /D has no delimiter comparison, so its last entry is empty.
struct CharacterSwitch {
  std::string RunOptions::*field;
  std::string_view csvOnlyMessage;
  std::string_view illegalMessage;
  std::string_view sameAsDelimiterMessage;
};

constexpr CharacterSwitch kDelimiterSwitch{
    &RunOptions::delimiter,
    "ERROR: The /D switch can only be used with the /C switch.",
    "ERROR: Illegal delimiter character specified with the /D switch.",
    {}};
constexpr CharacterSwitch kDelimiterReplacementSwitch{
    &RunOptions::delimiterReplacement, "ERROR: The /R switch can only be used with the /C switch.",
    "ERROR: Illegal delimiter replacement character specified with the /R switch.",
    "ERROR: Delimiter replacement character specified with the /R switch"};
constexpr CharacterSwitch kTabooReplacementSwitch{
    &RunOptions::tabooReplacement, "ERROR: The /T switch can only be used with the /C switch.",
    "ERROR: Illegal taboo replacement character specified with the /T switch.",
    "ERROR: Taboo replacement character specified with the /T switch"};

// An empty line, the bell with the message, an optional second line, the pause.
void PrintErrorBlock(Console& console, std::string_view message, std::uint32_t pause,
                     std::optional<std::string_view> secondLine = std::nullopt) {
  WriteLine(console, "");
  std::string line = "\a";  // the bell
  line.append(message);
  WriteLine(console, line);
  if (secondLine) WriteLine(console, *secondLine);
  console.Pause(pause);
}

class Parser {
 public:
  explicit Parser(Console& console) : console_(console) {}

  RunOptions Run(std::string_view tail) {
    PreScan(tail);
    const std::vector<std::string> tokens = Tokenize(tail);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      const std::string& token = tokens[i];
      const char letter = SwitchLetter(token);
      if (TakesValue(letter)) {
        // The next token is the value whatever it looks like, and is never
        // examined as a switch of its own.
        if (i + 1 < tokens.size()) {
          if (letter == 'P') passwordToken_ = i + 1;
          ApplyValueSwitch(letter, tokens[++i]);
        } else {
          Reject();
        }
      } else {
        ApplyFlagSwitch(letter, token);
      }
    }
    AcceptanceTest(tokens.size());
    return options_;
  }

  // The token the last /P took as its value.
  std::optional<std::size_t> passwordToken_;

 private:
  // Lets /D, /R, /T and /A stand before the /C that allows them.
  void PreScan(std::string_view tail) {
    const std::string upper = UpperCase(tail);
    if (upper.find(" /C") != std::string::npos || upper.find(" -C") != std::string::npos) {
      options_.csv = true;
    }
  }

  // The letter of a "/x" or "-x" switch, upper-cased; 0 for anything else.
  static char SwitchLetter(std::string_view token) {
    if (token.size() < 2 || (token[0] != '/' && token[0] != '-')) return 0;
    return UpperCaseByte(token[1]);
  }

  static bool TakesValue(char letter) {
    return letter != 0 && std::string_view("MUPDRT").find(letter) != std::string_view::npos;
  }

  void ApplyValueSwitch(char letter, std::string_view value) {
    switch (letter) {
      case 'M':
        options_.hostAsTyped = std::string(Strip(value, " \\.\""));
        options_.host = UpperCase(options_.hostAsTyped);
        break;
      case 'U':
        options_.user = std::string(Strip(value, "\""));
        break;
      case 'P':
        options_.password = std::string(Strip(value, "\""));
        break;
      case 'D':
        ApplyCharacterSwitch(kDelimiterSwitch, value);
        break;
      case 'R':
        ApplyCharacterSwitch(kDelimiterReplacementSwitch, value);
        break;
      case 'T':
        ApplyCharacterSwitch(kTabooReplacementSwitch, value);
        break;
      default:
        break;
    }
  }

  void ApplyFlagSwitch(char letter, std::string_view token) {
    switch (letter) {
      case 'A':
        if (options_.csv) {
          options_.quoteAll = true;
        } else {
          Error("ERROR: The /A switch can only be used with the /C switch.", kLongPause);
        }
        break;
      case 'K':
        options_.authority = "Kerberos:";
        SetExclusive(options_.kerberos, options_.ntlm, kKerberosAndNtlm);
        break;
      case 'L':
        options_.authority = "NTLMDomain:";
        SetExclusive(options_.ntlm, options_.kerberos, kKerberosAndNtlm);
        break;
      case 'V':
        SetExclusive(options_.verbose, options_.csv, kCsvAndVerbose);
        break;
      case 'C':
        SetExclusive(options_.csv, options_.verbose, kCsvAndVerbose);
        break;
      case 'N':
        options_.quiet = true;
        break;
      case '?':
      case 'H':
        Reject();
        break;
      default:
        PrintUnexpected(console_, token);
        Reject();
        break;
    }
  }

  // The flag stays on even when its partner makes the pair a misuse.
  void SetExclusive(bool& flag, bool partner, std::string_view message) {
    flag = true;
    if (partner) Error(message, kShortPause);
  }

  void ApplyCharacterSwitch(const CharacterSwitch& kind, std::string_view value) {
    if (!options_.csv) {
      Error(kind.csvOnlyMessage, kLongPause);
      return;
    }
    // One taboo character on each side may wrap the character, so that it
    // survives the command interpreter: (;) ';' ";" " ".
    std::string_view text = Strip(value, " ");
    if (text.size() > 1 && IsTaboo(text.front())) text.remove_prefix(1);
    if (text.size() > 1 && IsTaboo(text.back())) text.remove_suffix(1);
    std::string& field = options_.*kind.field;
    field = std::string(text);
    if (field.size() > 1) Reject();
    if (!IsLegalCharacterText(field)) {
      Error(kind.illegalMessage, kLongPause);
      return;
    }
    if (!kind.sameAsDelimiterMessage.empty() && field == options_.delimiter) {
      Error(kind.sameAsDelimiterMessage, kLongPause, kNotSameAsDelimiter);
    }
  }

  void AcceptanceTest(std::size_t tokenCount) {
    if (tokenCount > kMaxTokens || options_.host.empty() ||
        options_.host.find_first_of(" ,\t") != std::string::npos) {
      Reject();
    }
  }

  void Reject() { options_.showUsage = true; }

  // The command line is rejected after every message.
  void Error(std::string_view message, std::uint32_t pause,
             std::optional<std::string_view> secondLine = std::nullopt) {
    PrintErrorBlock(console_, message, pause, secondLine);
    Reject();
  }

  Console& console_;
  RunOptions options_;
};

}  // namespace

std::string CutCommandTail(std::string_view commandLine) {
  std::size_t pathEnd = 0;
  if (!commandLine.empty() && commandLine.front() == '"') {
    const auto closingQuote = commandLine.find('"', 1);
    if (closingQuote == std::string_view::npos) return {};
    pathEnd = closingQuote + 1;
  } else {
    const auto stop = std::find_if(commandLine.begin(), commandLine.end(), IsSpaceOrControl);
    if (stop == commandLine.end()) return {};
    // A control character that ends the path belongs to the tail; a blank
    // goes with the blanks skipped below.
    pathEnd = static_cast<std::size_t>(stop - commandLine.begin());
  }
  return std::string(SkipSpaces(commandLine.substr(pathEnd)));
}

std::string JoinArguments(std::span<const char* const> arguments) {
  std::string tail;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i] != nullptr ? arguments[i] : "";
    if (i > 0) tail += ' ';
    if (argument.empty() || argument.find(' ') != std::string_view::npos) {
      tail.append("\"").append(argument).append("\"");
    } else {
      tail.append(argument);
    }
  }
  return tail;
}

std::vector<std::string> Tokenize(std::string_view tail) {
  std::vector<std::string> tokens;
  // Leading blanks never start a token, not even the first one.
  std::string_view rest = SkipSpaces(tail);
  while (!rest.empty()) {
    std::size_t length = rest.size();
    if (rest.front() == '"') {
      const auto closingQuote = rest.find('"', 1);
      if (closingQuote != std::string_view::npos) length = closingQuote + 1;
    } else {
      const auto stop = rest.find_first_of("\" /", 1);
      if (stop != std::string_view::npos) length = stop;
    }
    tokens.emplace_back(rest.substr(0, length));
    rest = SkipSpaces(rest.substr(length));
  }
  return tokens;
}

void PrintUnexpected(Console& console, std::string_view token) {
  PrintErrorBlock(console, std::string(token) + " was unexpected.", kShortPause);
}

RunOptions ParseCommandLine(std::string_view tail, Console& console) {
  return Parser(console).Run(tail);
}

std::optional<std::size_t> PasswordToken(std::string_view tail) {
  // The same parse, with its messages and pauses going nowhere.
  struct Quiet final : Console {
    bool Write(std::string_view) override { return true; }
    void Pause(std::uint32_t) override {}
    void WriteError(std::string_view) override {}
    std::optional<std::string> ReadPassword() override { return std::nullopt; }
  } quiet;
  Parser parser(quiet);
  (void)parser.Run(tail);
  return parser.passwordToken_;
}

bool CheckCombinations(const RunOptions& options, Console& console) {
  const char* failure = nullptr;
  if (options.user.empty() && !options.password.empty()) {
    failure = "ERROR: A password can not be specified without also specifying a username.";
  } else if (options.kerberos && options.host == ".") {
    failure = "ERROR: /K switch can only be used when querying a remote host (see /M switch).";
  } else if (options.ntlm && options.host == ".") {
    failure = "ERROR: /L switch can only be used when querying a remote host (see /M switch).";
  }
  if (failure == nullptr) return true;
  WriteLine(console, failure);
  return false;
}

}  // namespace kelvarin
