#include "app/usage.h"

#include <array>
#include <string>
#include <string_view>

#include "core/version.h"

namespace kelvarin {
namespace {

// "1.30" is shown as "v1.3": the minor number without its trailing zeros.
std::string Title() {
  std::string version = KELVARIN_VERSION;
  while (version.ends_with('0') && version[version.size() - 2] != '.') version.pop_back();
  return "Kelvarin v" + version;
}
constexpr std::string_view kCredit = "Written by the Kelvarin developers";
// The credit starts in the same column whatever the title's length.
constexpr std::size_t kBannerWidth = 50;

constexpr std::array<std::string_view, 23> kBody = {
    "",
    "Kelvarin [/M (Hostname | IPAddress) [/K | /L]] [/N] [/U username [/P password]]",
    "         [(/V | /C [/D delimchar] [/R delimreplchar] [/T tabooreplchar] [/A])]",
    "",
    "Displays Manufacturer, Model, Serial Number, and BIOS version when available.",
    "",
    "NOTES:",
    "WMI must be functional! Some systems may not return all (or any) data.",
    "Sets error code: 0 = success, 1 = failure, and 9 = usage or syntax error.",
    "/M = Remote hostname or IP Address .",
    "/N = Show nothing on WMI/Unknown errors. Does still set error code though.",
    "/U = Username to connect with. May include domain name (domain\\username).",
    "/P = Password for the username specified with the /U switch.",
    "/K = Use Kerberos authentication. Can't be used with the /L switch.",
    "/L = User NT Lan Manager authentication. Can't be used with the /K switch.",
    "/V = Verbose output (WMI classes used). Can't be used with the /C switch.",
    "/C = CSV output. Can't be used with the /V switch. Needed for the following:",
    "  /A   = Always surround each output value in double quotes.",
    "  /D x = Delimeter character to use (instead of comma) for CSV output.",
    "  /R x = Character to replace the delimeter character (if found) in output.",
    "  /T x = Character to replace special characters that may be hard to parse.",
    "         Taboo characters replaced (if /T specified):  ^ ` ' & ( ) \"",
    "",
};

constexpr std::string_view kContact =
    "Comments and suggestions are welcome through the project's issue tracker.";

}  // namespace

void PrintUsage(Console& console) {
  WriteLine(console, "");
  std::string banner = Title();
  banner.resize(kBannerWidth, ' ');
  banner += kCredit;
  WriteLine(console, banner);
  for (const std::string_view line : kBody) WriteLine(console, line);
  WriteLine(console, kContact);
}

}  // namespace kelvarin
