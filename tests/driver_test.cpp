// Whole runs in-process against the fake WMI: every mode, and every way a
// connection, query, enumeration or property read can go, byte for byte.
#include <gtest/gtest.h>

#include <tuple>

#include "app/driver.h"
#include "automation/com_object.h"
#include "fake_wmi.h"
#include "test_console.h"

namespace kelvarin::testing {
namespace {

// One object each in the computer system and BIOS classes; none in the others.
FakeScenario Machine(FakeValue maker, FakeValue model, FakeValue biosMaker, FakeValue serial,
                     FakeValue version) {
  FakeScenario s;
  s.classes["Win32_ComputerSystem"].items = {{{"MANUFACTURER", maker}, {"MODEL", model}}};
  s.classes["Win32_BIOS"].items = {
      {{"MANUFACTURER", biosMaker}, {"SERIALNUMBER", serial}, {"SMBIOSBIOSVERSION", version}}};
  return s;
}

template <class F>
FakeScenario With(FakeScenario s, F change) {
  change(s);
  return s;
}

// Every fact found in the first two steps, then changed as given.
FakeScenario Full(void (*change)(FakeScenario&) = [](FakeScenario&) {}) {
  return With(Machine("Acme", "Rocket 9", "Acme BIOS", "SN-1", "2.1"), change);
}

FakeScenario Add(FakeScenario s, const std::string& name, FakeItem item) {
  s.classes[name].items.push_back(std::move(item));
  return s;
}

// No serial in the BIOS; the base board holds one object per serial given.
FakeScenario Board(std::vector<FakeValue> serials, Fault fault = Fault::None,
                   std::optional<LONG> count = {}) {
  FakeScenario s = Machine("Acme", "Rocket 9", "x", nullptr, "2.1");
  for (auto& serial : serials) s = Add(std::move(s), "Win32_BaseBoard", {{"SERIALNUMBER", serial}});
  s.classes["Win32_BaseBoard"].fault = fault;
  s.classes["Win32_BaseBoard"].count = count;
  return s;
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::string Report(const std::string& maker, const std::string& model, const std::string& serial,
                   const std::string& version) {
  return Lines({"", "Manufacturer:   " + maker, "Model:          " + model,
                "Serial Number:  " + serial, "BIOS Version:   " + version});
}

const FakeScenario kConnectFails = Full([](auto& s) { s.connect = E_FAIL; });
const std::string kConnectError = Lines({"", "ERROR: Failed to retrieve an SWbemServices object"});
const std::string kMakerAndModelFound =
    Lines({"Checking Win32_ComputerSystem...", " + Found Manufacturer", " + Found Model",
           " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
           "Checking Win32_BIOS..."});

// Every case must also leave no object and no string behind.
template <class Case>
class FakeRun : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override {
    UninstallFakeWmi();
    EXPECT_EQ(com::LiveObjects().load(), 0) << "an object reference was not released";
    EXPECT_EQ(posix_com::LiveStringCount(), 0) << "a string was not freed";
  }
};

const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

struct RunCase {
  const char* name;
  const char* tail;
  FakeScenario scenario;
  std::string output;
  ExitCode code = ExitCode::Success;
};

using WholeRun = FakeRun<RunCase>;

TEST_P(WholeRun, PrintsExactly) {
  InstallFakeWmi(GetParam().scenario);
  RecordingConsole console;
  EXPECT_EQ(RunInventory(GetParam().tail, console), GetParam().code);
  EXPECT_EQ(console.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WholeRun,
    ::testing::Values(
        // Every mode.
        RunCase{"PlainDespiteImpersonationFailing", "",
                Full([](auto& s) { s.impersonation = E_FAIL; }),
                Report("Acme", "Rocket 9", "SN-1", "2.1")},
        RunCase{"VerboseWithoutSecurity", "/V", Full([](auto& s) { s.missing = {"SECURITY_"}; }),
                kMakerAndModelFound + Lines({" + Found Serial Number", " + Found BIOS Version"}) +
                    Report("Acme", "Rocket 9", "SN-1", "2.1")},
        RunCase{"Csv", "/C", Machine("Acme, Inc.", "R\"9", "x", "", "2.1"),
                Lines({"\"Acme, Inc.\",R\"9,#NOTFOUND#,2.1"})},
        RunCase{"CsvAllOptions", "/C /D ; /R _ /T - /A",
                Machine("Acme; (Inc)", "O'Neil", "x", "SN", ""),
                Lines({"\"Acme_ -Inc-\";\"O-Neil\";\"SN\";\"#NOTFOUND#\""})},
        // A firmware string cannot start a line of its own or split the record.
        RunCase{"LineBreaksAndNulsBecomeBlanks", "/C",
                Machine("Acme\r\nModel: FAKE", std::string("R\0\n9", 4), "x", "S\r", "2.1"),
                Lines({"Acme  Model: FAKE,R  9,S,2.1"})},
        RunCase{"QuietWithNothingFound", "/N", Machine(nullptr, nullptr, nullptr, nullptr, nullptr),
                ""},
        // Numbers and booleans are no text; only blanks are trimmed.
        RunCase{
            "QuietVerboseWithOneOddFact", "/N /V", Machine(42, true, "   ", "  ", "\tv 1 "),
            Lines({"Checking Win32_ComputerSystem...", " - Still looking for Manufacturer..",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   " - Still looking for BIOS Version...", "Checking Win32_BIOS...",
                   " + Found BIOS Version", " - Still looking for Manufacturer...",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   "Checking Win32_BaseBoard...", " - No objects found in collection",
                   "Checking Win32_ComputerSystemProduct...", " - No objects found in collection",
                   "Checking Win32_SystemEnclosure...", " - No objects found in collection"}) +
                Report("", "", "", "\tv 1")},
        // No locator, or no connection: nothing harvested.
        RunCase{"LocatorNotRegistered", "/V",
                Full([](auto& s) { s.creation = REGDB_E_CLASSNOTREG; }), "", ExitCode::Failure},
        RunCase{"LocatorCreationFails", "/C", Full([](auto& s) { s.creation = E_OUTOFMEMORY; }), "",
                ExitCode::Failure},
        RunCase{"ConnectFailsPlain", "",
                Full([](auto& s) { s.connect = MakeHresult(0x80070005U); }), kConnectError,
                ExitCode::Failure},
        RunCase{"ConnectLookupFailsVerbose", "/V",
                Full([](auto& s) { s.missing = {"CONNECTSERVER"}; }), kConnectError,
                ExitCode::Failure},
        // A positive success code is a failure too.
        RunCase{"ConnectAnswersFalseCsv", "/C", Full([](auto& s) { s.connect = S_FALSE; }),
                Lines({"#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#"}), ExitCode::Failure},
        RunCase{"ConnectFailsCsvQuotedSemicolon", "/C /A /D ; /T _ /R x", kConnectFails,
                Lines({"\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\""}),
                ExitCode::Failure},
        RunCase{"ConnectFailsQuiet", "/N /V", kConnectFails, "", ExitCode::Failure},
        // The serial steps, and every way a query, enumeration or read can go.
        RunCase{
            "MakerFromBiosSerialFromBoard", "/V",
            Add(Machine(nullptr, "M", "Bios Maker", nullptr, "V"), "Win32_BaseBoard",
                {{"SERIALNUMBER", " B-7 "}}),
            Lines({"Checking Win32_ComputerSystem...", " + Found Model",
                   " - Still looking for Manufacturer..", " - Still looking for Serial Number...",
                   " - Still looking for BIOS Version...", "Checking Win32_BIOS...",
                   " + Found Manufacturer", " + Found BIOS Version",
                   " - Still looking for Serial Number...", "Checking Win32_BaseBoard...",
                   " + Found Serial Number"}) +
                Report("Bios Maker", "M", "B-7", "V")},
        RunCase{"NoObjectSetThenSerialFromProduct", "/V",
                With(Add(Machine("x", "x", "Acme BIOS", nullptr, "2.1"),
                         "Win32_ComputerSystemProduct", {{"IDENTIFYINGNUMBER", "P-1"}}),
                     [](auto& s) { s.classes["Win32_ComputerSystem"].fault = Fault::NoObjectSet; }),
                Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
                       "Checking Win32_BIOS...", " + Found Manufacturer", " + Found BIOS Version",
                       " - Still looking for Model...", " - Still looking for Serial Number...",
                       "Checking Win32_BaseBoard...", " - No objects found in collection",
                       "Checking Win32_ComputerSystemProduct...", " + Found Serial Number",
                       " - Still looking for Model..."}) +
                    Report("Acme BIOS", "", "P-1", "2.1")},
        // A later object without a value keeps what an earlier one found.
        RunCase{"SecondObjectKeepsTheFirstSerial", "/V",
                Add(Board({"B-1", ""}), "Win32_SystemEnclosure", {{"SERIALNUMBER", "E-1"}}),
                kMakerAndModelFound +
                    Lines({" + Found BIOS Version", " - Still looking for Serial Number...",
                           "Checking Win32_BaseBoard...", " + Found Serial Number",
                           " + Found Serial Number"}) +
                    Report("Acme", "Rocket 9", "B-1", "2.1")},
        RunCase{
            "CountZeroThenEnumerationFailures", "/V",
            With(Board({"B"}, Fault::NoEnumerator),
                 [](auto& s) {
                   s.classes["Win32_ComputerSystem"].count = 0;
                   s.classes["Win32_ComputerSystemProduct"] = {
                       {{{"IDENTIFYINGNUMBER", "P"}}}, {}, Fault::ResetFails};
                   s.classes["Win32_SystemEnclosure"].fault = Fault::QueryFails;
                 }),
            Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
                   "Checking Win32_BIOS...", " + Found Manufacturer", " + Found BIOS Version",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   "Checking Win32_BaseBoard...",
                   " - Unable to get a pointer to the iEnumVARIANT interface",
                   "Checking Win32_ComputerSystemProduct...", " - Unable to enumerate collection",
                   "Checking Win32_SystemEnclosure...", " - No objects found in collection"}) +
                Report("x", "", "", "2.1")},
        RunCase{"CountLargerThanDelivered", "/C", Board({"B-1", "B-2"}, Fault::None, 3),
                Lines({"Acme,Rocket 9,B-2,2.1"})},
        RunCase{"CountSmallerThanHeld", "/C", Board({"B-1", "B-2"}, Fault::None, 1),
                Lines({"Acme,Rocket 9,B-1,2.1"})},
        RunCase{"NextFailsPartWay", "/C", Board({"B-1", "B-2"}, Fault::NextFails),
                Lines({"Acme,Rocket 9,B-1,2.1"})},
        // The refusal ends the step: the third object is not read.
        RunCase{"ItemRefusesDispatch", "/C", Board({"B-1", "B-2", "B-3"}, Fault::Refuses),
                Lines({"Acme,Rocket 9,B-1,2.1"})}),
    kCaseName);

// Output that cannot be written makes a report run fail; other outcomes stand.
TEST(LostOutput, TurnsSuccessIntoFailureOnly) {
  const std::tuple<const char*, FakeScenario, ExitCode> cases[] = {
      {"", Full(), ExitCode::Failure},
      {"/N", Machine(nullptr, nullptr, nullptr, nullptr, nullptr), ExitCode::Success},
      {"/?", Full(), ExitCode::UsageError},
      {"/C", kConnectFails, ExitCode::Failure}};
  for (const auto& [tail, scenario, code] : cases) {
    InstallFakeWmi(scenario);
    RecordingConsole console;
    console.refuse = true;
    EXPECT_EQ(RunInventory(tail, console), code) << tail;
    UninstallFakeWmi();
  }
}

TEST(QuotedArgument, RefusesTheWholeCommandLine) {
  InstallFakeWmi(Full());
  RecordingConsole console;
  const char* const arguments[] = {"/C", "x\" /V", "/N"};
  EXPECT_EQ(RunInventoryFromArguments(arguments, console), ExitCode::UsageError);
  EXPECT_TRUE(console.output.starts_with("\r\n\ax\" /V was unexpected.\r\n\r\nKelvarin v1.3"));
  EXPECT_EQ(console.pauses, std::vector<std::uint32_t>{1000});
  EXPECT_TRUE(FakeWmiLog().empty());
  UninstallFakeWmi();
}

struct CallCase {
  const char* name;
  const char* tail;
  FakeScenario scenario;
  std::vector<std::string> log;
};

using ConnectCalls = FakeRun<CallCase>;

TEST_P(ConnectCalls, LogsEveryCall) {
  InstallFakeWmi(GetParam().scenario);
  RecordingConsole console;
  RunInventory(GetParam().tail, console);
  EXPECT_EQ(FakeWmiLog(), GetParam().log);
}

// Seven arguments, last first, each by reference, empty text as a null
// string; the level written with no place for a result; the BIOS maker and
// steps 3 to 5 skipped once their facts are found.
const std::vector<std::string> kLocalLog = {
    "locator.CONNECTSERVER 1 [ref R8:128.000000, ref BSTR:null, ref BSTR:null, ref BSTR:null, "
    "ref BSTR:null, ref BSTR:\"root\\CIMV2\", ref BSTR:\".\"]",
    "services.SECURITY_ 2 []",
    "security.IMPERSONATIONLEVEL 4 [-3=I4:3] noresult",
    "services.EXECQUERY 1 [ref BSTR:\"Select AdminPasswordStatus, Manufacturer, Model FROM "
    "Win32_ComputerSystem\"]",
    "item.MANUFACTURER 2 []",
    "item.MODEL 2 []",
    "services.EXECQUERY 1 [ref BSTR:\"SELECT Manufacturer, SerialNumber, SMBIOSBIOSVersion FROM "
    "Win32_BIOS\"]",
    "item.SERIALNUMBER 2 []",
    "item.SMBIOSBIOSVERSION 2 []"};

INSTANTIATE_TEST_SUITE_P(
    Arguments, ConnectCalls,
    ::testing::Values(
        CallCase{"LocalDefaults", "", Full(), kLocalLog},
        CallCase{"SecurityReadAsMethodWhenPropertyReadFails", "",
                 Full([](auto& s) { s.securityOnlyAsMethod = true; }),
                 [] {
                   auto log = kLocalLog;
                   log.insert(log.begin() + 2, "services.SECURITY_ 1 []");
                   return log;
                 }()},
        CallCase{"RemoteKerberosWithCredentials",
                 "/M \\\\srv1. /U \"dom\\me\" /P s3cret /K",
                 kConnectFails,
                 {"locator.CONNECTSERVER 1 [ref R8:128.000000, ref BSTR:\"Kerberos:\", ref "
                  "BSTR:null, ref BSTR:\"s3cret\", ref BSTR:\"dom\\me\", ref BSTR:\"root\\CIMV2\", "
                  "ref BSTR:\"SRV1\"]"}},
        CallCase{"Ntlm",
                 "/M host /L",
                 kConnectFails,
                 {"locator.CONNECTSERVER 1 [ref R8:128.000000, ref BSTR:\"NTLMDomain:\", ref "
                  "BSTR:null, ref BSTR:null, ref BSTR:null, ref BSTR:\"root\\CIMV2\", ref "
                  "BSTR:\"HOST\"]"}}),
    kCaseName);

}  // namespace
}  // namespace kelvarin::testing
