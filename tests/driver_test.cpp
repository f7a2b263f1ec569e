// Whole runs in-process against the fake WMI: every mode, every way a
// connection, query, enumeration or property read can go, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/driver.h"
#include "automation/com_object.h"
#include "fake_wmi.h"
#include "test_console.h"

namespace kelvarin::testing {
namespace {

FakeValue T(std::string text) { return FakeValue::Text(std::move(text)); }

FakeItem Object(std::initializer_list<std::pair<const std::string, FakeValue>> properties) {
  return FakeItem{properties, false};
}

FakeClass Class(std::initializer_list<FakeItem> items) {
  FakeClass c;
  c.items = items;
  return c;
}

// A machine whose first two classes each hold one object with the given values.
FakeScenario Machine(FakeValue maker, FakeValue model, FakeValue biosMaker, FakeValue serial,
                     FakeValue version) {
  FakeScenario s;
  s.classes["Win32_ComputerSystem"] = Class({Object({{"MANUFACTURER", maker}, {"MODEL", model}})});
  s.classes["Win32_BIOS"] = Class({Object(
      {{"MANUFACTURER", biosMaker}, {"SERIALNUMBER", serial}, {"SMBIOSBIOSVERSION", version}})});
  s.classes["Win32_BaseBoard"] = Class({});
  s.classes["Win32_ComputerSystemProduct"] = Class({});
  s.classes["Win32_SystemEnclosure"] = Class({});
  return s;
}

FakeScenario FullMachine() {
  return Machine(T("Acme"), T("Rocket 9"), T("Acme BIOS"), T("SN-1"), T("2.1"));
}

FakeScenario WithClass(FakeScenario s, const std::string& name, FakeClass c) {
  s.classes[name] = std::move(c);
  return s;
}

template <class Thing, class F>
Thing Tweak(Thing s, F change) {
  change(s);
  return s;
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::string PlainReport(const std::string& maker, const std::string& model,
                        const std::string& serial, const std::string& version) {
  return Lines({"", "Manufacturer:   " + maker, "Model:          " + model,
                "Serial Number:  " + serial, "BIOS Version:   " + version});
}

const std::string kVerboseFound =
    Lines({"Checking Win32_ComputerSystem...", " + Found Manufacturer", " + Found Model",
           " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
           "Checking Win32_BIOS...", " + Found Serial Number", " + Found BIOS Version"});

struct RunCase {
  const char* name;
  const char* tail;
  FakeScenario scenario;
  std::string output;
  ExitCode code;
};

class WholeRun : public ::testing::TestWithParam<RunCase> {
 protected:
  void TearDown() override { UninstallFakeWmi(); }
};

TEST_P(WholeRun, PrintsExactlyAndReleasesEverything) {
  const RunCase& c = GetParam();
  InstallFakeWmi(c.scenario);
  RecordingConsole console;
  const ExitCode code = RunInventory(c.tail, console);
  EXPECT_EQ(console.output, c.output);
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(com::LiveObjects().load(), 0) << "an object reference was not released";
  EXPECT_EQ(posix_com::LiveStringCount(), 0) << "a string was not freed";
}

const std::string kBlankFacts = PlainReport("", "", "", "");

INSTANTIATE_TEST_SUITE_P(
    Modes, WholeRun,
    ::testing::Values(
        RunCase{"Plain", "", FullMachine(), PlainReport("Acme", "Rocket 9", "SN-1", "2.1"),
                ExitCode::Success},
        RunCase{"Verbose", "/V", FullMachine(),
                kVerboseFound + PlainReport("Acme", "Rocket 9", "SN-1", "2.1"), ExitCode::Success},
        RunCase{"Csv", "/C", Machine(T("Acme, Inc."), T("R\"9"), T("x"), T(""), T("2.1")),
                Lines({"\"Acme, Inc.\",R\"9,#NOTFOUND#,2.1"}), ExitCode::Success},
        RunCase{"CsvAllOptions", "/C /D ; /R _ /T - /A",
                Machine(T("Acme; (Inc)"), T("O'Neil"), T("x"), T("SN"), T("")),
                Lines({"\"Acme_ -Inc-\";\"O-Neil\";\"SN\";\"#NOTFOUND#\""}), ExitCode::Success},
        RunCase{"QuietWithNothingFound", "/N",
                Machine(FakeValue::Null(), FakeValue::Null(), FakeValue::Null(), FakeValue::Null(),
                        FakeValue::Null()),
                "", ExitCode::Success},
        RunCase{"QuietCsvWithNothingFound", "/C /N", Machine(T(" "), T(""), T(""), T(""), T("")),
                "", ExitCode::Success},
        RunCase{"NothingFoundWithoutQuiet", "", Machine(T(""), T(""), T(""), T(""), T("")),
                kBlankFacts, ExitCode::Success},
        RunCase{"NothingFoundCsv", "/C /D #", Machine(T(""), T(""), T(""), T(""), T("")),
                Lines({"\"#NOTFOUND#\"#\"#NOTFOUND#\"#\"#NOTFOUND#\"#\"#NOTFOUND#\""}),
                ExitCode::Success},
        RunCase{"QuietWithOneFact", "/N", Machine(T(""), T("M"), T(""), T(""), T("")),
                PlainReport("", "M", "", ""), ExitCode::Success}),
    [](const auto& tc) { return std::string(tc.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Connection, WholeRun,
    ::testing::Values(
        RunCase{"LocatorNotRegistered", "/V",
                Tweak(FullMachine(), [](auto& s) { s.locatorRegistered = false; }), "",
                ExitCode::Failure},
        RunCase{"LocatorCreationFails", "/C",
                Tweak(FullMachine(), [](auto& s) { s.locatorCreation = E_OUTOFMEMORY; }), "",
                ExitCode::Failure},
        RunCase{"ConnectFailsPlain", "",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = MakeHresult(0x80070005U); }),
                Lines({"", "ERROR: Failed to retrieve an SWbemServices object"}),
                ExitCode::Failure},
        RunCase{"ConnectFailsVerbose", "/V",
                Tweak(FullMachine(), [](auto& s) { s.connectLookupFails = true; }),
                Lines({"", "ERROR: Failed to retrieve an SWbemServices object"}),
                ExitCode::Failure},
        RunCase{"ConnectFailsCsv", "/C",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = E_FAIL; }),
                Lines({"#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#"}), ExitCode::Failure},
        RunCase{"ConnectFailsCsvQuotedSemicolon", "/C /A /D ; /T _ /R x",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = E_FAIL; }),
                Lines({"\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\";\"#WMIERROR#\""}),
                ExitCode::Failure},
        RunCase{"ConnectFailsCsvHashDelimiter", "/C /D #",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = E_FAIL; }),
                Lines({"#WMIERROR###WMIERROR###WMIERROR###WMIERROR#"}), ExitCode::Failure},
        RunCase{"ConnectFailsQuiet", "/N /V",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = E_FAIL; }), "",
                ExitCode::Failure},
        RunCase{"ConnectPositiveSuccessIsFailure", "",
                Tweak(FullMachine(), [](auto& s) { s.connectResult = S_FALSE; }),
                Lines({"", "ERROR: Failed to retrieve an SWbemServices object"}),
                ExitCode::Failure},
        RunCase{"ImpersonationFails", "",
                Tweak(FullMachine(), [](auto& s) { s.impersonationResult = E_FAIL; }),
                PlainReport("Acme", "Rocket 9", "SN-1", "2.1"), ExitCode::Success},
        RunCase{"SecurityMissing", "",
                Tweak(FullMachine(), [](auto& s) { s.securityMissing = true; }),
                PlainReport("Acme", "Rocket 9", "SN-1", "2.1"), ExitCode::Success}),
    [](const auto& tc) { return std::string(tc.param.name); });

FakeScenario NoSerialMachine() {
  return Machine(T("Acme"), T("Rocket 9"), T("x"), FakeValue::Null(), T("2.1"));
}

const std::string kVerboseNoSerial = Lines(
    {"Checking Win32_ComputerSystem...", " + Found Manufacturer", " + Found Model",
     " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
     "Checking Win32_BIOS...", " + Found BIOS Version", " - Still looking for Serial Number..."});

const std::string kSerialMissingLine = " - Still looking for Serial Number...";

INSTANTIATE_TEST_SUITE_P(
    Harvest, WholeRun,
    ::testing::Values(
        RunCase{
            "ManufacturerFromBios", "/V",
            Machine(FakeValue::Null(), T("M"), T("Bios Maker"), T("S"), T("V")),
            Lines({"Checking Win32_ComputerSystem...", " + Found Model",
                   " - Still looking for Manufacturer..", " - Still looking for Serial Number...",
                   " - Still looking for BIOS Version...", "Checking Win32_BIOS...",
                   " + Found Manufacturer", " + Found Serial Number", " + Found BIOS Version"}) +
                PlainReport("Bios Maker", "M", "S", "V"),
            ExitCode::Success},
        RunCase{
            "NumbersBooleansAndBlanksAreNotFound", "/V",
            Machine(FakeValue::Number(), FakeValue::Boolean(), T("   "), T("  "), T("\tv 1 ")),
            Lines({"Checking Win32_ComputerSystem...", " - Still looking for Manufacturer..",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   " - Still looking for BIOS Version...", "Checking Win32_BIOS...",
                   " + Found BIOS Version", " - Still looking for Manufacturer...",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   "Checking Win32_BaseBoard...", " - No objects found in collection",
                   "Checking Win32_ComputerSystemProduct...", " - No objects found in collection",
                   "Checking Win32_SystemEnclosure...", " - No objects found in collection"}) +
                PlainReport("", "", "", "\tv 1"),
            ExitCode::Success},
        RunCase{"SerialFromBaseBoard", "/V",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Class({Object({{"SERIALNUMBER", T(" B-7 ")}})})),
                kVerboseNoSerial +
                    Lines({"Checking Win32_BaseBoard...", " + Found Serial Number"}) +
                    PlainReport("Acme", "Rocket 9", "B-7", "2.1"),
                ExitCode::Success},
        RunCase{"SerialFromProduct", "/C",
                WithClass(NoSerialMachine(), "Win32_ComputerSystemProduct",
                          Class({Object({{"IDENTIFYINGNUMBER", T("P-1")}})})),
                Lines({"Acme,Rocket 9,P-1,2.1"}), ExitCode::Success},
        RunCase{"SerialFromEnclosure", "/V",
                WithClass(NoSerialMachine(), "Win32_SystemEnclosure",
                          Class({Object({{"SERIALNUMBER", T("E-1")}})})),
                kVerboseNoSerial +
                    Lines({"Checking Win32_BaseBoard...", " - No objects found in collection",
                           "Checking Win32_ComputerSystemProduct...",
                           " - No objects found in collection", "Checking Win32_SystemEnclosure...",
                           " + Found Serial Number"}) +
                    PlainReport("Acme", "Rocket 9", "E-1", "2.1"),
                ExitCode::Success},
        RunCase{"SecondObjectWipesFirst", "/V",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Class({Object({{"SERIALNUMBER", T("B-1")}}),
                                 Object({{"SERIALNUMBER", T("")}})})),
                kVerboseNoSerial +
                    Lines({"Checking Win32_BaseBoard...", " + Found Serial Number",
                           kSerialMissingLine, "Checking Win32_ComputerSystemProduct...",
                           " - No objects found in collection", "Checking Win32_SystemEnclosure...",
                           " - No objects found in collection"}) +
                    PlainReport("Acme", "Rocket 9", "", "2.1"),
                ExitCode::Success},
        RunCase{"CountLargerThanDelivered", "/C",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Tweak(Class({Object({{"SERIALNUMBER", T("B-1")}}),
                                       Object({{"SERIALNUMBER", T("B-2")}})}),
                                [](auto& c) { c.announcedCount = 3; })),
                Lines({"Acme,Rocket 9,B-2,2.1"}), ExitCode::Success},
        RunCase{"CountSmallerThanHeld", "/C",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Tweak(Class({Object({{"SERIALNUMBER", T("B-1")}}),
                                       Object({{"SERIALNUMBER", T("B-2")}})}),
                                [](auto& c) { c.announcedCount = 1; })),
                Lines({"Acme,Rocket 9,B-1,2.1"}), ExitCode::Success},
        RunCase{"NextFailsPartWay", "/C",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Tweak(Class({Object({{"SERIALNUMBER", T("B-1")}}),
                                       Object({{"SERIALNUMBER", T("B-2")}})}),
                                [](auto& c) { c.nextFailsAfter = 1; })),
                Lines({"Acme,Rocket 9,B-1,2.1"}), ExitCode::Success},
        RunCase{"ItemRefusesDispatch", "/C",
                WithClass(NoSerialMachine(), "Win32_BaseBoard",
                          Class({Object({{"SERIALNUMBER", T("B-1")}}),
                                 FakeItem{{{"SERIALNUMBER", T("B-2")}}, true},
                                 Object({{"SERIALNUMBER", T("B-3")}})})),
                Lines({"Acme,Rocket 9,B-1,2.1"}), ExitCode::Success},
        RunCase{
            "CountZeroThenEnumerationFailures", "/V",
            Tweak(NoSerialMachine(),
                  [](auto& s) {
                    s.classes["Win32_ComputerSystem"].announcedCount = 0;
                    s.classes["Win32_BaseBoard"] =
                        Tweak(Class({Object({{"SERIALNUMBER", T("B")}})}),
                              [](auto& c) { c.noEnumerator = true; });
                    s.classes["Win32_ComputerSystemProduct"] =
                        Tweak(Class({Object({{"IDENTIFYINGNUMBER", T("P")}})}),
                              [](auto& c) { c.resetFails = true; });
                    s.classes["Win32_SystemEnclosure"].execQueryResult = MakeHresult(0x80041017U);
                  }),
            Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
                   "Checking Win32_BIOS...", " + Found Manufacturer", " + Found BIOS Version",
                   " - Still looking for Model...", " - Still looking for Serial Number...",
                   "Checking Win32_BaseBoard...",
                   " - Unable to get a pointer to the iEnumVARIANT interface",
                   "Checking Win32_ComputerSystemProduct...", " - Unable to enumerate collection",
                   "Checking Win32_SystemEnclosure...", " - No objects found in collection"}) +
                PlainReport("x", "", "", "2.1"),
            ExitCode::Success},
        RunCase{"QueryReturnsNoObjectSet", "/V",
                Tweak(FullMachine(),
                      [](auto& s) { s.classes["Win32_ComputerSystem"].execReturnsNothing = true; }),
                Lines({"Checking Win32_ComputerSystem...", " - No objects found in collection",
                       "Checking Win32_BIOS...", " + Found Manufacturer", " + Found Serial Number",
                       " + Found BIOS Version", " - Still looking for Model..."}) +
                    PlainReport("Acme BIOS", "", "SN-1", "2.1"),
                ExitCode::Success}),
    [](const auto& tc) { return std::string(tc.param.name); });

// What the locator and services are handed, call by call.
struct CallCase {
  const char* name;
  const char* tail;
  std::vector<std::string> expectedPrefix;
};

class ConnectCalls : public ::testing::TestWithParam<CallCase> {
 protected:
  void TearDown() override { UninstallFakeWmi(); }
};

TEST_P(ConnectCalls, PassesSevenArgumentsLastFirstByReference) {
  InstallFakeWmi(FullMachine());
  RecordingConsole console;
  RunInventory(GetParam().tail, console);
  const auto& log = FakeWmiLog();
  const auto& want = GetParam().expectedPrefix;
  ASSERT_GE(log.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(log[i], want[i]) << "call " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ConnectCalls,
    ::testing::Values(
        CallCase{"LocalDefaults",
                 "",
                 {"factory", "locator.GetIDsOfNames CONNECTSERVER",
                  "locator.Invoke CONNECTSERVER kind=1 args=[ref R8:128, ref BSTR:null, ref "
                  "BSTR:null, ref BSTR:null, ref BSTR:null, ref BSTR:\"root\\CIMV2\", ref "
                  "BSTR:\".\"] named=[]",
                  "services.GetIDsOfNames SECURITY_",
                  "services.Invoke SECURITY_ kind=2 args=[] named=[]",
                  "security.GetIDsOfNames IMPERSONATIONLEVEL",
                  "security.Invoke IMPERSONATIONLEVEL kind=4 args=[I4:3] named=[-3] noresult",
                  "services.GetIDsOfNames EXECQUERY",
                  "services.Invoke EXECQUERY kind=1 args=[ref BSTR:\"Select AdminPasswordStatus, "
                  "Manufacturer, Model FROM Win32_ComputerSystem\"] named=[]",
                  "Win32_ComputerSystem.set.Count", "Win32_ComputerSystem.set._NewEnum",
                  "Win32_ComputerSystem.enum.Reset", "Win32_ComputerSystem.enum.Next 1",
                  "Win32_ComputerSystem[0].GetIDsOfNames MANUFACTURER",
                  "Win32_ComputerSystem[0].Invoke MANUFACTURER kind=2 args=[] named=[]"}},
        CallCase{"RemoteKerberosWithCredentials",
                 "/M \\\\srv1. /U \"dom\\me\" /P s3cret /K",
                 {"factory", "locator.GetIDsOfNames CONNECTSERVER",
                  "locator.Invoke CONNECTSERVER kind=1 args=[ref R8:128, ref BSTR:\"Kerberos:\", "
                  "ref BSTR:null, ref BSTR:\"s3cret\", ref BSTR:\"dom\\me\", ref "
                  "BSTR:\"root\\CIMV2\", ref BSTR:\"SRV1\"] named=[]"}},
        CallCase{"Ntlm",
                 "/M host /L",
                 {"factory", "locator.GetIDsOfNames CONNECTSERVER",
                  "locator.Invoke CONNECTSERVER kind=1 args=[ref R8:128, ref "
                  "BSTR:\"NTLMDomain:\", ref BSTR:null, ref BSTR:null, ref BSTR:null, ref "
                  "BSTR:\"root\\CIMV2\", ref BSTR:\"HOST\"] named=[]"}}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(ConnectCallsFallback, SecurityReadAsMethodWhenPropertyReadFails) {
  InstallFakeWmi(Tweak(FullMachine(), [](auto& s) { s.securityOnlyAsMethod = true; }));
  RecordingConsole console;
  EXPECT_EQ(RunInventory("", console), ExitCode::Success);
  const auto& log = FakeWmiLog();
  const std::vector<std::string> want = {"services.Invoke SECURITY_ kind=2 args=[] named=[]",
                                         "services.Invoke SECURITY_ kind=1 args=[] named=[]",
                                         "security.GetIDsOfNames IMPERSONATIONLEVEL"};
  auto at = std::search(log.begin(), log.end(), want.begin(), want.end());
  EXPECT_NE(at, log.end());
  UninstallFakeWmi();
  EXPECT_EQ(com::LiveObjects().load(), 0);
}

TEST(ConnectCallsFallback, SkipsLaterStepsOnceSerialIsFound) {
  InstallFakeWmi(FullMachine());
  RecordingConsole console;
  RunInventory("/C", console);
  for (const auto& line : FakeWmiLog()) {
    EXPECT_EQ(line.find("Win32_BaseBoard"), std::string::npos) << line;
  }
  UninstallFakeWmi();
}

}  // namespace
}  // namespace kelvarin::testing
