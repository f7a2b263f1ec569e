// The Linux stand-in for WMI: whole runs over firmware laid out as /sys
// shows it (the SMBIOS table, /sys/class/dmi/id, the device tree), and what
// its objects answer to other calls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "app/driver.h"
#include "automation/bridge.h"
#include "automation/com_ptr.h"
#include "automation/variant_text.h"
#include "support.h"
#include "wmi_standin/com_server.h"
#include "wmi_standin/standin.h"

namespace kelvarin::testing {
namespace {

class Firmware : public ::testing::Test {
 protected:
  void TearDown() override {
    posix_com::UnregisterClass(u"WbemScripting.SWbemLocator");
    EXPECT_EQ(com::LiveObjects().load(), 0) << "an object reference was not released";
    EXPECT_EQ(posix_com::LiveStringCount(), 0) << "a string was not freed";
  }
};

const std::string kMachine = Bios("Insyde", " 1.07 ") + System("Acme", "Box", "") + Board("B1");
Files With(Files files, const Files& more) {
  for (const auto& [name, content] : more) files[name] = content;
  return files;
}

TEST_F(Firmware, ReportsWhatItHolds) {
  const std::string fifo = "<fifo>";
  const std::string pi = "raspberrypi,4-model-b\0brcm,bcm2711\0"s;
  const Files piTree = {{kTree + "compatible", pi},
                        {kTree + "model", "Raspberry Pi 4 Model B Rev 1.4\0"s},
                        {kTree + "serial-number", "10000000a1b2c3d4\0"s}};
  // clang-format off
  const std::tuple<std::string, Files, std::string> cases[] = {
      {"/V", Smbios(Bios("AMI", "  2.17  ") + System("Caf\xE9", "Model \xC3\xB8", "") + Board("B-1") +
                    Board("   ") + Enclosure("CH-9") + kEnd),
       Lines({"Checking Win32_ComputerSystem...", " + Found Manufacturer", " + Found Model",
              " - Still looking for Serial Number...", " - Still looking for BIOS Version...",
              "Checking Win32_BIOS...", " + Found BIOS Version",
              " - Still looking for Serial Number...", "Checking Win32_BaseBoard...",
              " + Found Serial Number", " + Found Serial Number", "",
              "Manufacturer:   Caf\xC3\xA9", "Model:          Model \xC3\xB8",
              "Serial Number:  B-1", "BIOS Version:   2.17"}) + "=0"},
      {"/C", Smbios(Bios("Vendor", "") + System("", "P", "") + Enclosure("") + Enclosure("E2")),
       "Vendor,P,E2,#NOTFOUND#\r\n=0"},
      {"/C", Smbios(System("M", "P", "S\r\nModel: X") + kEnd + Board("after the end")),
       "M,P,S  Model: X,#NOTFOUND#\r\n=0"},
      // Broken structures end the walk; what came before stands.
      {"/C", Smbios(System("M", "", "") + "\2\3\0\0\0\0"s + Board("B")), "M,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", Smbios(System("M", "", "") + "\2\x0F\0\0"s), "M,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", Smbios(System("M", "", "") + "\2\5\0\0\1x"s), "M,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", Smbios(System("M", "", "") + "\2"s), "M,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      // String number 0, past the strings, an offset past the formatted area;
      // an empty string ends the set.
      {"/C", Smbios(Structure(1, 6, {{4, "M"}}) + Structure(2, 8, {{7, "x"}}).replace(7, 1, "\2") +
                    "\3\x15\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0x\0\0"s),
       "M,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      // The entry point narrows the table; an unsound one does not.
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, EntryPoint3(0x21)}}),
       "M,P,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, EntryPoint2(0x21)}}),
       "M,P,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, EntryPoint2(0x21, 0x1E)}}),
       "M,P,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")),
                  {{kEntryPoint, Summed(EntryPoint3(0x21).replace(6, 1, "\x17"), 0, 0x17, 5)}}),
       "M,P,B,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")),
                  {{kEntryPoint, EntryPoint2(0x21).replace(0x16, 1, "\x20")}}),
       "M,P,B,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")),
                  {{kEntryPoint, Summed(EntryPoint2(0x21).replace(0x12, 1, "X"), 0x10, 0x0F, 0x15)}}),
       "M,P,B,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, EntryPoint3(0)}}),
       "M,P,B,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, "_SM3_"}}),
       "M,P,B,#NOTFOUND#\r\n=0"},
      // Without a table, or with one that is too big or holds nothing: dmi/id.
      {"/C", {{kDmiId + "sys_vendor", "  M  \n"}, {kDmiId + "product_name", "P\n\n"},
              {kDmiId + "bios_version", "Caf\xE9"}, {kDmiId + "board_serial/x", ""},
              {kDmiId + "chassis_serial", "C\0D\n"s}},
       "M,P,C D,Caf\xC3\xA9\r\n=0"},
      {"/C", {{kDmi, kEnd + System("M", "P", "S")}, {kDmiId + "sys_vendor", "D"}},
       "D,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", {{kDmi, System("M", "P", "S") + std::string(1 << 20, '\0')}, {kDmiId + "product_serial", "S2"}},
       "#NOTFOUND#,#NOTFOUND#,S2,#NOTFOUND#\r\n=0"},
      // Boards without SMBIOS: the device tree.
      {"", piTree, Lines({"", "Manufacturer:   Raspberry Pi Foundation",
                          "Model:          Raspberry Pi 4 Model B Rev 1.4",
                          "Serial Number:  10000000a1b2c3d4", "BIOS Version:   "}) + "=0"},
      {"/C", With(piTree, Smbios(System("M", "P", "S"))), "M,P,S,#NOTFOUND#\r\n=0"},
      {"/C", {{kTree + "compatible", "acme-boards,x1\0"s}, {kTree + "model", "X\xE9" "1"},
              {kTree + "serial-number", ""}}, "acme-boards,X\xC3\xA9" "1,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", {{kTree + "compatible", "generic\0acme,x\0"s}}, "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", {{kTree + "name", "soc"}, {kTree + "serial-number", "S"}},
       "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      // A FIFO counts as absent, and the next source serves.
      {"/C", With(Smbios(System("M", "P", "S")), {{kDmi, fifo}, {kDmiId + "sys_vendor", "D"}}),
       "D,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", With(Smbios(System("M", "P", "") + Board("B")), {{kEntryPoint, fifo}}), "M,P,B,#NOTFOUND#\r\n=0"},
      {"/C", {{kDmiId + "sys_vendor", fifo}, {kDmiId + "product_name", "P"}},
       "#NOTFOUND#,P,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/C", {{kTree + "model", fifo}, {kTree + "compatible", "a,b"}}, "a,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n=0"},
      {"/N", {}, "=0"},
      {"/M far-away-host /C", Smbios(kMachine), "#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#\r\n=1"},
      {"/U admin /P pw", Smbios(kMachine), "\r\nERROR: Failed to retrieve an SWbemServices object\r\n=1"},
  };
  // clang-format on
  for (const auto& [tail, files, output] : cases) {
    Files laid = files;
    std::vector<std::string> fifos;
    for (auto& [name, content] : laid) {
      if (content == fifo) fifos.push_back(name), content = "";
    }
    const TempDir root;
    Lay(root.path(), laid);
    for (const auto& name : fifos) {
      std::filesystem::remove(root.path() / name);
      ASSERT_EQ(::mkfifo((root.path() / name).c_str(), 0600), 0);
    }
    wmi_standin::RegisterLocator(root.path().native());
    RecordingConsole console;
    const auto code = RunInventory(tail, console);
    EXPECT_EQ(console.output + "=" + std::to_string(static_cast<int>(code)), output) << tail;
  }
}

// What the stand-in's objects answer to calls the program does not make.
TEST_F(Firmware, AnswersOtherCallsAsWmiWould) {
  const TempDir root;
  Lay(root.path(), Smbios(kMachine));
  (void)CoInitialize(nullptr);
  ObjectRef locator, services;
  *locator.Put() = wmi_standin::NewStandinLocator(root.path().native());
  const auto connect = [&](const char* server, const char* space, const char* user) {
    UniqueVariant a, b, c, result;
    TextToVariant(server, *a), TextToVariant(space, *b), TextToVariant(user, *c);
    AutoInvoke(locator, "ConnectServer", InvokeKind::Method, {a.get(), b.get(), c.get()},
               result.get());
    AutoSetObject(services, *result, IID_IDispatch);
    return LastAutomationResult();
  };
  EXPECT_EQ(connect(".", "root\\default", ""), MakeHresult(0x8004100EU));
  EXPECT_EQ(connect("10.1.2.3", "", "admin"), MakeHresult(0x800706BAU));
  EXPECT_EQ(connect("", "ROOT\\cimv2", "admin"), MakeHresult(0x80041064U));
  EXPECT_FALSE(AutoIsObject(services));
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  ASSERT_EQ(connect(host, "", ""), S_OK);
  // A query, a property, how it is read: the HRESULT of the read and its text.
  const std::tuple<const char*, const char*, InvokeKind, HRESULT, std::string> cases[] = {
      {"select serialnumber from win32_baseboard", "serialNumber", InvokeKind::Method, S_OK, "B1"},
      {"SELECT * FROM Win32_BIOS", "SMBIOSBIOSVERSION", InvokeKind::PropertyGet, S_OK, " 1.07 "},
      {"SELECT Manufacturer FROM Win32_BIOS", "SMBIOSBIOSVERSION", InvokeKind::PropertyGet, S_OK,
       ""},
      {"SELECT Model FROM Win32_ComputerSystem", "SERIALNUMBER", InvokeKind::PropertyGet,
       DISP_E_UNKNOWNNAME, ""},
      {"SELECT Model FROM Win32_ComputerSystem", "MODEL", InvokeKind::PropertyPut,
       DISP_E_MEMBERNOTFOUND, ""},
      {"SELECT Name FROM Win32_Processor", "", InvokeKind::Method, MakeHresult(0x80041010U), ""},
      {"SELECT Nonsense FROM Win32_BIOS", "", InvokeKind::Method, MakeHresult(0x80041017U), ""},
      {"SELECT * FROM Win32_BIOS WHERE Name = 'x'", "", InvokeKind::Method,
       MakeHresult(0x80041017U), ""},
      {"SELECT FROM Win32_BIOS", "", InvokeKind::Method, MakeHresult(0x80041017U), ""},
      {"SELECT *, Name FROM Win32_BIOS", "", InvokeKind::Method, MakeHresult(0x80041017U), ""},
      {"DELETE FROM Win32_BIOS", "", InvokeKind::Method, MakeHresult(0x80041017U), ""},
  };
  for (const auto& [wql, member, kind, answer, text] : cases) {
    UniqueVariant query, set, slot, value;
    TextToVariant(wql, *query);
    AutoInvoke(services, "EXECQUERY", InvokeKind::Method, {query.get()}, set.get());
    const auto pointer = VariantToPointer(*set);
    if (pointer != 0) {
      const auto source = WbemCollectionNewEnum(pointer);
      EXPECT_EQ(WbemCollectionCount(pointer), 1);
      ComPtr<IEnumVARIANT> items;
      ASSERT_EQ(IUnknownQueryInterface(reinterpret_cast<IUnknown*>(source), IID_IEnumVARIANT,
                                       items.put_void()),
                S_OK);
      IUnknownRelease(reinterpret_cast<IUnknown*>(source));
      ULONG fetched = 0;
      ASSERT_EQ(items->Next(1, slot.get(), &fetched), S_OK);
      EXPECT_EQ(items->Next(1, value.get(), &fetched), S_FALSE);
      ObjectRef item;
      AutoSetObject(item, *slot, IID_IDispatch);
      AutoInvoke(item, member, kind, {}, value.get());
    }
    EXPECT_EQ(LastAutomationResult(), answer) << wql << " " << member;
    EXPECT_EQ(VariantToText(*value), text) << wql << " " << member;
  }
  const ObjectRef security = AutoGetSubobject(services, "SECURITY_");
  for (LONG level = 0; level <= 5; ++level) {
    UniqueVariant value;
    value->vt = VT_I4, value->lVal = level;
    AutoInvoke(security, "IMPERSONATIONLEVEL", InvokeKind::PropertyPut, {}, value.get());
    EXPECT_EQ(LastAutomationResult() == S_OK, level >= 1 && level <= 4) << level;
  }
  services.Reset(), locator.Reset();
  CoUninitialize();
}

TEST(LocalHost, FixedNamesAndThisMachinesNameFullOrShort) {
  // clang-format off
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "", true}, {".", "", true}, {"localhost", "", true}, {"127.0.0.1", "", true},
      {"::1", "", true}, {"VM", "", false}, {"vm", "vm", true}, {"vm.other.example", "vm", false},
      {"VM", "vm.example.org", true}, {"vm.Example.org", "vm.example.org", true},
      {"vm.example", "vm.example.org", false}, {"example.org", "vm.example.org", false},
  };
  // clang-format on
  for (const auto& [server, own, local] : cases) {
    EXPECT_EQ(wmi_standin::IsLocalHost(server, own), local) << server << " on " << own;
  }
}

}  // namespace
}  // namespace kelvarin::testing
