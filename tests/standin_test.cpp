// The WMI stand-in: its objects answer like the Windows scripting objects,
// and whole runs report what an SMBIOS table holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <tuple>

#include "app/driver.h"
#include "automation/bridge.h"
#include "automation/com_object.h"
#include "automation/com_ptr.h"
#include "automation/posix/wmi/standin.h"
#include "automation/variant_text.h"
#include "smbios_builder.h"
#include "test_console.h"
#include "wmi/query.h"

namespace kelvarin::testing {
namespace {

using wmi_standin::CreateLocator;

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override { (void)CoInitialize(nullptr); }
  void TearDown() override {
    services_.Reset();
    locator_.Reset();
    CoUninitialize();
    posix_com::UnregisterClass(u"WbemScripting.SWbemLocator");
    EXPECT_EQ(com::LiveObjects().load(), 0) << "an object reference was not released";
    EXPECT_EQ(posix_com::LiveStringCount(), 0) << "a string was not freed";
  }

  // ConnectServer with the given server, namespace and user; the HRESULT.
  HRESULT Connect(const std::string& server, const std::string& nameSpace = "root\\CIMV2",
                  const std::string& user = "") {
    *locator_.Put() = CreateLocator(dir_.path());
    UniqueVariant a[7];
    TextToVariant(server, *a[0]);
    TextToVariant(nameSpace, *a[1]);
    TextToVariant(user, *a[2]);
    for (int i = 3; i < 6; ++i) TextToVariant("", *a[i]);
    a[6]->vt = VT_R8;
    a[6]->dblVal = 128.0;
    UniqueVariant result;
    AutoInvoke(locator_, "CONNECTSERVER", InvokeKind::Method,
               {a[0].get(), a[1].get(), a[2].get(), a[3].get(), a[4].get(), a[5].get(), a[6].get()},
               result.get());
    AutoSetObject(services_, *result, IID_IDispatch);
    return LastAutomationResult();
  }

  // Runs a query and returns each object's value of `property` ("<null>" for NULL).
  std::vector<std::string> Query(const std::string& wql, const std::string& property,
                                 InvokeKind kind = InvokeKind::PropertyGet) {
    std::vector<std::string> values;
    UniqueVariant text;
    TextToVariant(wql, *text);
    UniqueVariant set;
    AutoInvoke(services_, "EXECQUERY", InvokeKind::Method, {text.get()}, set.get());
    queryResult_ = LastAutomationResult();
    const auto pointer = VariantToPointer(*set);
    if (pointer == 0) return values;
    const LONG count = WbemCollectionCount(pointer);
    const auto source = WbemCollectionNewEnum(pointer);
    std::vector<VARIANT> slots(static_cast<std::size_t>(count));
    for (auto& s : slots) VariantInit(&s);
    EnumerateCollection(source, slots.data(), 1, count);
    IUnknownRelease(reinterpret_cast<IUnknown*>(source));
    for (auto& slot : slots) {
      ObjectRef item;
      AutoSetObject(item, slot, IID_IDispatch);
      UniqueVariant value;
      AutoInvoke(item, property, kind, {}, value.get());
      readResult_ = LastAutomationResult();
      values.push_back(value->vt == VT_NULL ? "<null>" : VariantToText(*value));
      VariantClear(&slot);
    }
    return values;
  }

  TempDir dir_;
  ObjectRef locator_;
  ObjectRef services_;
  HRESULT queryResult_ = S_OK;
  HRESULT readResult_ = S_OK;
};

TEST(LocalHost, FixedNamesAndThisMachinesNameFullOrShort) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "", true},
      {".", "", true},
      {"localhost", "", true},
      {"127.0.0.1", "", true},
      {"::1", "", true},
      {"VM", "", false},
      {"vm", "vm", true},
      {"vm.other.example", "vm", false},
      {"VM", "vm.example.org", true},
      {"vm.Example.org", "vm.example.org", true},
      {"vm.example", "vm.example.org", false},
      {"example.org", "vm.example.org", false},
  };
  for (const auto& [server, own, local] : cases) {
    EXPECT_EQ(wmi_standin::IsLocalHost(server, own), local) << server << " on " << own;
  }
}

TEST_F(StandIn, ConnectsOnlyLocallyToTheOneNamespace) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string own(host);
  struct Case {
    std::string server, nameSpace, user;
    HRESULT expected;
  };
  const Case cases[] = {
      {".", "root\\CIMV2", "", S_OK},
      {"", "ROOT\\cimv2", "", S_OK},
      {"LOCALHOST", "root\\CIMV2", "", S_OK},
      {"127.0.0.1", "root\\CIMV2", "", S_OK},
      {"::1", "root\\CIMV2", "", S_OK},
      {own, "root\\CIMV2", "", S_OK},
      {".", "root\\default", "", wmi_standin::kWbemInvalidNamespace},
      {".", "root\\CIMV2", "admin", wmi_standin::kWbemLocalCredentials},
      {"SERVER-NOT-HERE", "root\\CIMV2", "", wmi_standin::kRpcServerUnavailable},
      {"10.1.2.3", "root\\CIMV2", "admin", wmi_standin::kRpcServerUnavailable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Connect(c.server, c.nameSpace, c.user), c.expected)
        << c.server << " " << c.nameSpace << " " << c.user;
    EXPECT_EQ(AutoIsObject(services_), c.expected == S_OK);
  }
}

TEST_F(StandIn, QueriesSelectByClassAndPropertyWithoutRegardToCase) {
  SmbiosBuilder()
      .Bios("Vendor", "1.0")
      .System("Maker", "Box", "SYS-SN")
      .BaseBoard("B1")
      .BaseBoard("B2")
      .Enclosure(std::nullopt)
      .End()
      .WriteTo(dir_.path());
  ASSERT_EQ(Connect("."), S_OK);
  struct Case {
    const char* wql;
    const char* property;
    std::vector<std::string> values;
    HRESULT query;
  };
  const Case cases[] = {
      {"SELECT SerialNumber FROM Win32_BaseBoard", "SERIALNUMBER", {"B1", "B2"}, S_OK},
      {"select serialnumber from win32_baseboard", "serialNumber", {"B1", "B2"}, S_OK},
      {"SELECT * FROM Win32_BIOS", "SMBIOSBIOSVERSION", {"1.0"}, S_OK},
      {"SELECT Manufacturer FROM Win32_BIOS", "SMBIOSBIOSVERSION", {"<null>"}, S_OK},
      {"Select AdminPasswordStatus, Manufacturer, Model FROM Win32_ComputerSystem",
       "ADMINPASSWORDSTATUS",
       {"<null>"},
       S_OK},
      {"SELECT SerialNumber FROM Win32_SystemEnclosure", "SERIALNUMBER", {"<null>"}, S_OK},
      {"SELECT IdentifyingNumber FROM Win32_ComputerSystemProduct",
       "IDENTIFYINGNUMBER",
       {"SYS-SN"},
       S_OK},
      {"SELECT Name FROM Win32_Processor", "NAME", {}, wmi_standin::kWbemInvalidClass},
      {"SELECT Nonsense FROM Win32_BIOS", "NONSENSE", {}, wmi_standin::kWbemInvalidQuery},
      {"SELECT * FROM Win32_BIOS WHERE Manufacturer = 'x'",
       "X",
       {},
       wmi_standin::kWbemInvalidQuery},
      {"SELECT FROM Win32_BIOS", "X", {}, wmi_standin::kWbemInvalidQuery},
      {"DELETE FROM Win32_BIOS", "X", {}, wmi_standin::kWbemInvalidQuery},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Query(c.wql, c.property), c.values) << c.wql;
    EXPECT_EQ(queryResult_, c.query) << c.wql;
  }
}

TEST_F(StandIn, PropertiesAnswerReadsAsPropertyOrMethodAndRefuseUnknownNames) {
  SmbiosBuilder().System("Maker", "Box", "SN").End().WriteTo(dir_.path());
  ASSERT_EQ(Connect("."), S_OK);
  const std::string wql = "SELECT Manufacturer, Model FROM Win32_ComputerSystem";
  EXPECT_EQ(Query(wql, "MODEL", InvokeKind::Method), std::vector<std::string>{"Box"});
  EXPECT_EQ(Query(wql, "MODEL", static_cast<InvokeKind>(3)), std::vector<std::string>{"Box"});
  EXPECT_EQ(Query(wql, "SERIALNUMBER"), std::vector<std::string>{""});
  EXPECT_EQ(readResult_, DISP_E_UNKNOWNNAME);
}

TEST_F(StandIn, SecurityAcceptsImpersonationLevelsOneToFour) {
  ASSERT_EQ(Connect("."), S_OK);
  const ObjectRef security = AutoGetSubobject(services_, "SECURITY_");
  ASSERT_TRUE(AutoIsObject(security));
  for (LONG level = 0; level <= 5; ++level) {
    UniqueVariant value;
    value->vt = VT_I4;
    value->lVal = level;
    AutoInvoke(security, "IMPERSONATIONLEVEL", InvokeKind::PropertyPut, {}, value.get());
    EXPECT_EQ(LastAutomationResult() == S_OK, level >= 1 && level <= 4) << level;
  }
}

TEST_F(StandIn, EnumeratorSkipsResetsAndClones) {
  SmbiosBuilder().BaseBoard("B1").BaseBoard("B2").BaseBoard("B3").End().WriteTo(dir_.path());
  ASSERT_EQ(Connect("."), S_OK);
  UniqueVariant text;
  TextToVariant("SELECT SerialNumber FROM Win32_BaseBoard", *text);
  UniqueVariant set;
  AutoInvoke(services_, "EXECQUERY", InvokeKind::Method, {text.get()}, set.get());
  const auto source = WbemCollectionNewEnum(VariantToPointer(*set));
  ASSERT_NE(source, 0U);
  ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(reinterpret_cast<IUnknown*>(source)->QueryInterface(IID_IEnumVARIANT, items.put_void()),
            S_OK);
  IUnknownRelease(reinterpret_cast<IUnknown*>(source));

  EXPECT_EQ(items->Skip(2), S_OK);
  ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(items->Clone(copy.put()), S_OK);
  VARIANT got[3];
  ULONG fetched = 9;
  EXPECT_EQ(items->Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1U);
  VariantClear(&got[0]);
  EXPECT_EQ(items->Skip(1), S_FALSE);
  EXPECT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(items->Next(2, got, &fetched), S_OK);
  EXPECT_EQ(fetched, 2U);
  VariantClear(&got[0]);
  VariantClear(&got[1]);
  EXPECT_EQ(copy->Next(1, got, &fetched), S_OK) << "the clone keeps its own position";
  VariantClear(&got[0]);
  EXPECT_EQ(copy->Next(1, got, &fetched), S_FALSE);
}

// Firmware with padded and non-UTF-8 strings, the system serial left out,
// two boards of which the second is blank, and an enclosure serial.
TEST_F(StandIn, WholeRunsReportTheTable) {
  SmbiosBuilder()
      .Bios("American Megatrends Inc.", "  2.17.1246  ")
      .System("Caf\xE9 Systems", "Model \xC3\xB8", std::nullopt)
      .BaseBoard("BOARD-1")
      .BaseBoard("   ")
      .Enclosure("CHASSIS-9")
      .End()
      .WriteTo(dir_.path());
  wmi_standin::RegisterLocator(dir_.path());
  const std::string missingSerial = " - Still looking for Serial Number...\r\n";
  const struct {
    const char* tail;
    std::string output;
    ExitCode code;
  } cases[] = {
      {"/V",
       "Checking Win32_ComputerSystem...\r\n + Found Manufacturer\r\n + Found Model\r\n" +
           missingSerial + " - Still looking for BIOS Version...\r\nChecking Win32_BIOS...\r\n" +
           " + Found BIOS Version\r\n" + missingSerial + "Checking Win32_BaseBoard...\r\n" +
           " + Found Serial Number\r\n + Found Serial Number\r\n\r\n"
           "Manufacturer:   Caf\xC3\xA9 Systems\r\nModel:          Model \xC3\xB8\r\n"
           "Serial Number:  BOARD-1\r\nBIOS Version:   2.17.1246\r\n",
       ExitCode::Success},
      {"/M far-away-host /C", "#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#\r\n", ExitCode::Failure},
      {"/U admin /P pw", "\r\nERROR: Failed to retrieve an SWbemServices object\r\n",
       ExitCode::Failure}};
  for (const auto& c : cases) {
    RecordingConsole console;
    EXPECT_EQ(RunInventory(c.tail, console), c.code) << c.tail;
    EXPECT_EQ(console.output, c.output) << c.tail;
  }
}

TEST_F(StandIn, MachineWithoutSmbiosDataReportsNothingAndSucceeds) {
  wmi_standin::RegisterLocator(dir_.path());
  RecordingConsole console;
  EXPECT_EQ(RunInventory("/C", console), ExitCode::Success);
  EXPECT_EQ(console.output, "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n");
}

}  // namespace
}  // namespace kelvarin::testing
