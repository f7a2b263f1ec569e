// Whole runs in-process against the fake WMI: the command line, what WMI does,
// and the bytes, exit code and calls that come of it.
#include <gtest/gtest.h>

#include <tuple>

#include "app/driver.h"
#include "fake_wmi.h"
#include "support.h"

namespace kelvarin::testing {
namespace {

using Text = std::optional<std::string>;

// One object each in the computer system and BIOS classes; `more` adds to it.
FakeScenario Machine(
    Text maker, Text model, Text biosMaker, Text serial, Text version,
    const std::function<void(FakeScenario&)>& more = [](auto&) {}) {
  FakeScenario s;
  s.classes["Win32_ComputerSystem"].items = {{{"MANUFACTURER", maker}, {"MODEL", model}}};
  s.classes["Win32_BIOS"].items = {
      {{"MANUFACTURER", biosMaker}, {"SERIALNUMBER", serial}, {"SMBIOSBIOSVERSION", version}}};
  more(s);
  return s;
}
FakeScenario Full(const std::function<void(FakeScenario&)>& more = [](auto&) {}) {
  return Machine("Acme", "Rocket 9", "Acme BIOS", "SN-1", "2.1", more);
}
// No serial in the BIOS; the base board holds one object per serial given.
FakeScenario Boards(std::vector<Text> serials, Fault fault = Fault::None,
                    std::optional<LONG> count = {}) {
  return Machine("Acme", "Rocket 9", "x", {}, "2.1", [&](auto& s) {
    for (auto& serial : serials)
      s.classes["Win32_BaseBoard"].items.push_back({{"SERIALNUMBER", serial}});
    s.classes["Win32_BaseBoard"].fault = fault, s.classes["Win32_BaseBoard"].count = count;
  });
}

const std::string kConnectError = Lines({"", "ERROR: Failed to retrieve an SWbemServices object"});
const std::string kStep1 =
    Lines({"Checking Win32_ComputerSystem...", " + Found Manufacturer", " + Found Model",
           " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
           "Checking Win32_BIOS..."});
const std::string kNone = " - No objects found in collection\r\n";

// Every run must also leave no object and no string behind.
class Run : public ::testing::Test {
  void TearDown() override {
    EXPECT_EQ(com::LiveObjects().load(), 0) << "an object reference was not released";
    EXPECT_EQ(posix_com::LiveStringCount(), 0) << "a string was not freed";
  }
};

TEST_F(Run, PrintsExactlyAndEndsWithItsCode) {
  // clang-format off
  const std::tuple<const char*, FakeScenario, std::string, int> cases[] = {
      {"", Full(), Report("Acme", "Rocket 9", "SN-1", "2.1"), 0},
      {"/V", Full([](auto& s) { s.missing = {"SECURITY_"}; }),
       kStep1 + Lines({" + Found Serial Number", " + Found BIOS Version"}) + Report("Acme", "Rocket 9", "SN-1", "2.1"), 0},
      {"/C", Machine("Acme, Inc.", "R\"9", "x", "", "2.1"), "\"Acme, Inc.\",R\"9,#NOTFOUND#,2.1\r\n", 0},
      {"/C /D ; /R _ /T - /A", Machine(";Acme; (Inc)", "O'Neil", "x", "SN", {}),
       "\"_Acme_ -Inc-\";\"O-Neil\";\"SN\";\"#NOTFOUND#\"\r\n", 0},
      // Controls, separators and bidirectional formatting become blanks, at
      // the edges of each range; then blanks are trimmed.
      {"/C", Machine("Acme\r\nModel: FAKE", "R\0\x1F~\x7F\xC2\x9F\xC2\xA0" "9"s, "x", "\t S\x1B[1A\v",
                     "\xD8\x9C\xE2\x80\x8Dv\xE2\x80\x8E\xE2\x80\x8F\xE2\x80\x90\xE2\x80\xA7\xE2\x80\xA8\xE2\x80\xA9"
                     "\xE2\x80\xAA\xE2\x80\xAE\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA" "1\xC2\x85"),
       "Acme  Model: FAKE,R  ~  \xC2\xA0" "9,S [1A,\xE2\x80\x8Dv  \xE2\x80\x90\xE2\x80\xA7    \xE2\x80\xAF\xE2\x81\xA5  \xE2\x81\xAA" "1\r\n", 0},
      {"/N", Machine({}, {}, {}, {}, {}), "", 0}, {"/N /C /D ;", Machine({}, {}, {}, {}, "2.1"), "#NOTFOUND#;#NOTFOUND#;#NOTFOUND#;2.1\r\n", 0},
      {"/P x", Full(), "ERROR: A password can not be specified without also specifying a username.\r\n", 9},
      // No locator, or no connection: nothing harvested; a success code is a failure too.
      {"/V", Full([](auto& s) { s.creation = std::nullopt; }), "", 1}, {"/C", Full([](auto& s) { s.creation = E_FAIL; }), "", 1},
      {"", Full([](auto& s) { s.connect = MakeHresult(0x80070005U); }), kConnectError, 1},
      {"/V", Full([](auto& s) { s.missing = {"CONNECTSERVER"}; }), kConnectError, 1},
      {"/C", Full([](auto& s) { s.connect = S_FALSE; }), kErrorLine + "\r\n", 1},
      {"/C /A /D ; /T _ /R x", Full([](auto& s) { s.connect = E_FAIL; }),
       "\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\"\r\n", 1},
      {"/N /V", Full([](auto& s) { s.connect = E_FAIL; }), "", 1},
      // The serial steps, and every way a query, enumeration or read can go.
      {"/V", Machine({}, "M", "Bios Maker", {}, {}, [](auto& s) { s.classes["Win32_BaseBoard"].items = {{{"SERIALNUMBER", " B-7 "}}}; }),
       Lines({"Checking Win32_ComputerSystem...", " + Found Model", " - Still looking for Manufacturer..",
              " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
              "Checking Win32_BIOS...", " + Found Manufacturer", " - Still looking for Serial Number...",
              " - Still looking for BIOS Version...", "Checking Win32_BaseBoard...", " + Found Serial Number",
              " - Still looking for BIOS Version..."}) + Report("Bios Maker", "M", "B-7", ""), 0},
      {"/V", Machine("x", "x", "Acme BIOS", {}, "2.1", [](auto& s) {
         s.classes["Win32_ComputerSystem"].fault = Fault::NoSet;
         s.classes["Win32_ComputerSystemProduct"].items = {{{"IDENTIFYINGNUMBER", "P-1"}}}; }),
       "Checking Win32_ComputerSystem...\r\n" + kNone +
           Lines({"Checking Win32_BIOS...", " + Found Manufacturer", " + Found BIOS Version",
                  " - Still looking for Model...", " - Still looking for Serial Number...",
                  "Checking Win32_BaseBoard..."}) + kNone +
           Lines({"Checking Win32_ComputerSystemProduct...", " + Found Serial Number", " - Still looking for Model..."}) +
           Report("Acme BIOS", "", "P-1", "2.1"), 0},
      // A later object without a value keeps what an earlier one found.
      {"/V", Boards({"B-1", ""}),
       kStep1 + Lines({" + Found BIOS Version", " - Still looking for Serial Number...", "Checking Win32_BaseBoard...",
                       " + Found Serial Number", " + Found Serial Number"}) + Report("Acme", "Rocket 9", "B-1", "2.1"), 0},
      {"/V", Machine("x", "x", {}, {}, "2.1", [](auto& s) {
         s.classes["Win32_ComputerSystem"].count = 0;
         s.classes["Win32_BaseBoard"] = {{{{"SERIALNUMBER", "B"}}}, Fault::NoEnumerator};
         s.classes["Win32_ComputerSystemProduct"] = {{{{"IDENTIFYINGNUMBER", "P"}}}, Fault::ResetFails};
         s.classes["Win32_SystemEnclosure"].fault = Fault::QueryFails; }),
       "Checking Win32_ComputerSystem...\r\n" + kNone +
           Lines({"Checking Win32_BIOS...", " + Found BIOS Version", " - Still looking for Manufacturer...",
                  " - Still looking for Model...", " - Still looking for Serial Number...",
                  "Checking Win32_BaseBoard...", " - Unable to get a pointer to the iEnumVARIANT interface",
                  "Checking Win32_ComputerSystemProduct...", " - Unable to enumerate collection",
                  "Checking Win32_SystemEnclosure..."}) + kNone + Report("", "", "", "2.1"), 0},
      {"/C", Boards({"B-1"}, Fault::NotEnumerator), "Acme,Rocket 9,#NOTFOUND#,2.1\r\n", 0},
      {"/C", Boards({"B-1"}, Fault::TextFirst, 3), "Acme,Rocket 9,B-1,2.1\r\n", 0},
      {"/C", Boards({"B-1", "B-2"}, Fault::None, 3), "Acme,Rocket 9,B-2,2.1\r\n", 0},
      {"/C", Boards({"B-1", "B-2"}, Fault::None, 1), "Acme,Rocket 9,B-1,2.1\r\n", 0},
      {"/C", Boards({"B-1", "B-2", "B-3"}, Fault::NextFails), "Acme,Rocket 9,B-1,2.1\r\n", 0},
      // The refusal ends the step: the third object is not read.
      {"/C", Boards({"B-1", "B-2", "B-3"}, Fault::Refuses), "Acme,Rocket 9,B-1,2.1\r\n", 0}};
  // clang-format on
  for (const auto& [tail, scenario, output, code] : cases) {
    InstallFakeWmi(scenario);
    RecordingConsole console;
    EXPECT_EQ(static_cast<int>(RunInventory(tail, console)), code) << tail << " giving\n" << output;
    EXPECT_EQ(console.output, output) << tail;
  }
}

// Seven arguments, last first, each by reference, empty text as a null string.
TEST_F(Run, CallsWmiWithTheseArguments) {
  // A double quote cannot be carried inside one argument: nothing else happens.
  InstallFakeWmi(Full());
  RecordingConsole console;
  const char* const arguments[] = {"/C", "x\" /V", "/N"};
  EXPECT_EQ(RunInventoryFromArguments(arguments, console), ExitCode::UsageError);
  EXPECT_EQ(console.trace + g_log, "\r\n\ax\" /V was unexpected.\r\n<1000>" + Usage());
  RunInventory("/M \\\\srv1. /U \"dom\\me\" /P s3cret /K", console);
  const std::string log =
      "locator.CONNECTSERVER 1 [ref R8:128.000000, ref BSTR:\"Kerberos:\", ref BSTR:null, ref "
      "BSTR:\"s3cret\", ref BSTR:\"dom\\me\", ref BSTR:\"root\\CIMV2\", ref BSTR:\"srv1\"]|"
      "services.SECURITY_ 2 []|security.IMPERSONATIONLEVEL 4 [-3=I4:3] noresult|";
  EXPECT_EQ(g_log.substr(0, log.size()), log);
  // A security object that only a method call yields is still used.
  InstallFakeWmi(Full([](auto& s) { s.securityByMethodOnly = true; }));
  RunInventory("/C", console);
  EXPECT_NE(g_log.find("SECURITY_ 2 []|services.SECURITY_ 1 []|security.I"), g_log.npos) << g_log;
}

}  // namespace
}  // namespace kelvarin::testing
