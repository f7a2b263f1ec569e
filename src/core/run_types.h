// The state that several phases of a run share.
#pragma once

#include <cstdint>
#include <string>

namespace kelvarin {

enum class ExitCode : std::int32_t { Success = 0, Failure = 1, UsageError = 9 };

enum class OutputMode { Plain, Verbose, Csv };

// The parsed command line. All text is 8-bit, as typed (after the value rules).
struct RunOptions {
  std::string host = ".";
  // The /M value before it was upper-cased: what ssh matches its
  // configuration against, letter case and all.
  std::string hostAsTyped = ".";
  std::string user;
  std::string password;
  std::string authority;
  bool kerberos = false;
  bool ntlm = false;
  bool verbose = false;
  bool csv = false;
  bool quiet = false;
  bool quoteAll = false;
  std::string delimiter = ",";
  std::string delimiterReplacement;
  std::string tabooReplacement;
  bool showUsage = false;

  [[nodiscard]] OutputMode Mode() const noexcept {
    if (csv) return OutputMode::Csv;
    if (verbose) return OutputMode::Verbose;
    return OutputMode::Plain;
  }
};

// The four facts; empty text means "not found".
struct InventoryRecord {
  std::string manufacturer;
  std::string model;
  std::string serialNumber;
  std::string biosVersion;

  [[nodiscard]] bool AllEmpty() const noexcept {
    return manufacturer.empty() && model.empty() && serialNumber.empty() && biosVersion.empty();
  }
};

}  // namespace kelvarin
