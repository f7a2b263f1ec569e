// The Linux stand-in for WMI: whole runs over firmware laid out as /sys
// shows it (the SMBIOS table, /sys/class/dmi/id, the device tree), and which
// hosts it serves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

#include "app/standin_posix.h"
#include "support.h"
#include "wmi_standin/catalog.h"
#include "wmi_standin/com_server.h"
#include "wmi_standin/standin.h"

namespace kelvarin::testing {
namespace {

// Contents that lay a FIFO, or a link to a file of the kernel's whose size
// reads as 0 however much it holds; text that ends in "<3 GiB>" is a file of
// 3 GiB, larger than a 32-bit file offset.
const std::string kNotFound = "#NOTFOUND#", kFifo = "<fifo>", kProcFile = "/proc/sys/kernel/ostype";
// The CSV line of a run, then "=" and the exit code.
std::string Csv(std::string_view maker, std::string_view model, std::string_view serial,
                std::string_view version = kNotFound) {
  return std::string(maker) + "," + std::string(model) + "," + std::string(serial) + "," +
         std::string(version) + "\r\n=0";
}
Files With(Files files, const Files& more) {
  for (const auto& [name, content] : more) files[name] = content;
  return files;
}

TEST(Firmware, ReportsWhatItHolds) {
  const std::string machine = System("M", "P", "") + Board("B"),
                    n = kNotFound;  // 0x20 + 0x12 bytes
  // clang-format off
  const std::string kUBoot = kTree + "chosen/u-boot,version", kSoc = "devices/soc0/serial_number",
                    pim = "Raspberry Pi Foundation", piv = "86a7e6f5be0f1fa8a8c1e8b7f6e0d6c4b1a3f2e9";
  const Files pi = {{kTree + "compatible", "raspberrypi,4-model-b\0brcm,bcm2711\0"s}, {kTree + "model", "Pi 4\0"s},
                    {kTree + "serial-number", "10000000a1b2c3d4\0"s}, {kTree + "chosen/bootloader/version", piv + '\0'}};
  // clang-format on
  // Past the 4 KiB cap a value is cut before the character that straddles it.
  std::string emoji = "a";
  while (emoji.size() < 4400) emoji += "\xF1\x81\x81\x81";
  // clang-format off
  const std::tuple<std::string, Files, std::string> cases[] = {
      {"/C", Smbios(Bios("AMI", "  2.17  ") + System("Caf\xE8", "Model \xC3\xB8", "") + Board("B-1") + Board("   ") + Enclosure("CH-9") + kEnd),
       Csv("Caf\xC3\xA8", "Model \xC3\xB8", "B-1", "2.17")},
      {"/C", Smbios(Bios("Vendor", "") + System("", "P", "") + Enclosure("") + Enclosure("E2")), Csv("Vendor", "P", "E2")},
      {"/C", Smbios(System("M", "P", "S\r\nModel: X") + kEnd + Board("after the end")), Csv("M", "P", "S  Model: X")},
      // Broken structures end the walk; what came before stands.
      {"/C", Smbios(System("M", "", "") + "\2\3\0\0\0\0"s + Board("B")), Csv("M", n, n)},
      {"/C", Smbios(System("M", "", "") + "\2\x0F\0\0"s), Csv("M", n, n)}, {"/C", Smbios(System("M", "", "") + "\2\5\0\0\1x"s), Csv("M", n, n)},
      {"/C", Smbios(System("M", "", "") + "\2"s), Csv("M", n, n)},
      {"/C", Smbios(machine.substr(0, machine.size() - 1)), Csv("M", "P", n)},  // one NUL short
      {"/C", Smbios(Structure(126, 4, {}) + System("M", "\x80P", "")), Csv("M", "P", n)},
      {"/C", Smbios(Structure(1, 7, {{4, "\1M"}})), Csv("M", n, n)},  // the serial's offset is past the area
      // String number 0, past the strings, an offset past the formatted area;
      // an empty string ends the set.
      {"/C", Smbios(Structure(1, 6, {{4, "M"}}) + Structure(2, 8, {{7, "x"}}).replace(7, 1, "\2") +
                    "\3\x15\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0x\0\0"s), Csv("M", n, n)},
      // The entry point narrows the table; an unsound one does not.
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint3(0x21)}}), Csv("M", "P", n)},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint2(0x21)}}), Csv("M", "P", n)},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint2(0x21, 0x1E)}}), Csv("M", "P", n)},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint2(0x21) + "\x05"}}), Csv("M", "P", n)},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint2(0x21, 0x1D)}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, Summed(EntryPoint3(0x21).replace(6, 1, "\x17"), 0, 0x17, 5)}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, Summed(EntryPoint2(0x20).replace(0x16, 1, "\x21"), 0, 0x1F, 4)}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint3(0x21).replace(0x17, 1, "\1")}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, Summed(EntryPoint2(0x21).replace(0x12, 1, "X"), 0x10, 0x0F, 0x15)}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint3(0)}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, EntryPoint2(0x21).replace(6, 1, "\3")}}), Csv("M", "P", "B")},
      {"/C", With(Smbios(machine), {{kEntryPoint, "_SM3_"}}), Csv("M", "P", "B")},
      // Without a table, or with one that is too big or holds nothing: dmi/id.
      {"/C", {{kDmiId + "sys_vendor", "  M  \n"}, {kDmiId + "product_name", "P\n\n"}, {kDmiId + "bios_version", "Caf\xE9"},
              {kDmiId + "board_serial/x", ""}, {kDmiId + "chassis_serial", "C\0D\n"s}}, Csv("M", "P", "C D", "Caf\xC3\xA9")},
      {"/C", {{kDmi, kEnd + machine}, {kDmiId + "sys_vendor", "D"}}, Csv("D", n, n)},
      {"/C", {{kDmi, machine + std::string(1 << 20, '\0')}, {kDmiId + "product_serial", "S2"}}, Csv(n, n, "S2")},
      // Boards without SMBIOS: the device tree, when there is neither.
      {"/C", pi, Csv(pim, "Pi 4", "10000000a1b2c3d4", piv)},
      // U-Boot's version beats the Pi firmware's, the tree's serial the SoC's; an empty or blank one falls through.
      {"/C", With(pi, {{kUBoot, "U-Boot 2024.01 (Jan 08 2024)\0"s}, {kSoc, "S\n"}}), Csv(pim, "Pi 4", "10000000a1b2c3d4", "U-Boot 2024.01 (Jan 08 2024)")},
      {"/C", {{kTree + "model", "X"}, {kSoc, "0x1234\n"}, {kUBoot, "2024.01"}}, Csv(n, "X", "0x1234", "2024.01")},
      {"/C", With(pi, {{kTree + "serial-number", " \t\0"s}, {kSoc, "S"}, {kUBoot, "   \t"}}), Csv(pim, "Pi 4", "S", piv)},
      {"/C", With(pi, Smbios(machine)), Csv("M", "P", "B")},
      {"/C", {{kTree + "compatible", "acme-boards,x1\0"s}, {kTree + "model", "X\xED\xBF\xBF"}, {kTree + "serial-number", ""}},
       Csv("acme-boards", "X\xC3\xAD\xC2\xBF\xC2\xBF", n)},  // a surrogate is no UTF-8
      {"/C", {{kTree + "compatible", "zyxel,nsa325\0"s}}, Csv("ZyXEL Communications Corp.", n, n)},  // the last prefix
      {"/C", {{kTree + "compatible", "sipeed,x"}}, Csv("\"Shenzhen Sipeed Technology Co., Ltd.\"", n, n)},  // no-break spaces in the list
      {"/C", {{kTree + "compatible", "generic\0acme,x\0"s}, {kTree + "model", emoji}}, Csv(n, emoji.substr(0, 4093), n)},
      {"/C", {{kTree + "model", std::string(5000, 'x')}}, Csv(n, std::string(4096, 'x'), n)},
      {"/C", {{kTree + "name", "soc"}, {kTree + "serial-number", "S"}}, Csv(n, n, n)}, {"/C", {{kTree + "model", "Big\0<3 GiB>"s}}, Csv(n, "Big", n)},
      // A FIFO counts as absent, and the next source serves.
      {"/C", With(Smbios(machine), {{kDmi, kFifo}, {kDmiId + "sys_vendor", "D"}}), Csv("D", n, n)},
      {"/C", With(Smbios(machine), {{kEntryPoint, kFifo}}), Csv("M", "P", "B")},
      {"/C", {{kDmiId + "sys_vendor", kFifo}, {kDmiId + "product_name", "P"}}, Csv(n, "P", n)},
      {"/C", {{kTree + "model", kFifo}, {kTree + "compatible", "a,b"}}, Csv("a", n, n)},
      {"/C", {{"class/dmi/id", "not a folder"}, {kTree + "model", "X"}}, Csv(n, "X", n)},
      {"/C", {{kDmiId + "sys_vendor", kProcFile}}, Csv("Linux", n, n)}, {"/N", {}, "=0"},
      // One object per machine for its classes, one per structure for boards and enclosures.
      {"/V", Smbios(Bios("AMI", "2.17") + System("M", "P", "") + Board("") + Board("B") + kEnd), Lines({"Checking Win32_ComputerSystem...",
       " + Found Manufacturer", " + Found Model", " - Still looking for Serial Number...", " - Still looking for BIOS Version...", "Checking Win32_BIOS...",
       " + Found BIOS Version", " - Still looking for Serial Number...", "Checking Win32_BaseBoard...", " - Still looking for Serial Number...",
       " + Found Serial Number"}) + Report("M", "P", "B", "2.17") + "=0"},
      {"/U admin /P pw", Smbios(machine), "\r\nERROR: Failed to retrieve an SWbemServices object\r\n=1"}};
  // clang-format on
  // Another machine: ssh's stand-in runs the remote command over the folder.
  const TempDir ssh;
  std::ofstream(ssh.path + "/ssh")
      << "for last; do :; done; eval \"$(printf %s \"$last\" | sed s,/sys,.,)\"";
  for (const auto& [tail, files, output] : cases) {
    const TempDir root;
    Lay(root.path, files);
    for (const auto& [name, content] : files) {
      const std::string path = root.path + "/" + name;
      if (content == kFifo || content == kProcFile) std::filesystem::remove(path);
      if (content == kFifo) ::mkfifo(path.c_str(), 0600);
      if (content == kProcFile) std::filesystem::create_symlink(content, path);
      EXPECT_TRUE(!content.ends_with("<3 GiB>") || ::truncate64(path.c_str(), 3LL << 30) == 0);
    }
    for (const std::string other : {"", "/M other "}) {
      if (!other.empty() && (tail.starts_with("/M") || tail.starts_with("/U"))) continue;
      RecordingConsole console;
      const auto check = UseStandin(
          root.path, {.command = "cd " + root.path + " && sh " + ssh.path + "/ssh"}, console);
      const auto code = RunInventory(other + tail, console, check);
      EXPECT_EQ(console.output + "=" + std::to_string(static_cast<int>(code)), output)
          << other << tail;
      EXPECT_EQ(com::LiveObjects().load() + posix_com::LiveStringCount(), 0)
          << "a reference or string stayed";
    }
  }
}

// What another machine sends is read only when every length and path holds.
TEST(Firmware, TakesASnapshotOnlyWhole) {
  const std::string f = "\nkelvarin-snapshot\n", e = "E\n", vendor = "F class/dmi/id/sys_vendor ";
  // clang-format off
  // The vendor's first two bytes, "-" when it was not sent, "!" for a refusal.
  const std::pair<std::string, std::string> cases[] = {
      {"Last backup: OK" + f + "D class/dmi/id\n" + vendor + "3\nab\n" + e + "after", "ab"}, {f + vendor + "0\n" + e, ""}, {f + e, "-"},
      {"", "!"}, {f.substr(1) + e, "!"}, {f, "!"}, {f + vendor + "3\nab" + e, "!"}, {f + vendor + "1\na", "!"},
      {f + vendor + "4097\n" + std::string(4097, 'x') + e, "xx"}, {f + vendor + "4098\n" + std::string(4098, 'x') + e, "!"},
      {f + vendor + "1\na" + vendor + "1\na" + e, "!"},
      {f + "F ../../etc/shadow 1\nx" + e, "!"}, {f + "D class\n" + e, "!"}, {f + "D class/dmi/id\nD class/dmi/id\n" + e, "!"},
      {f + vendor + "-1\n" + e, "!"}, {f + vendor + "\n" + e, "!"}, {f + vendor + "1x\na" + e, "!"}, {f + "E \n", "!"},
      // A login banner that fills the answer up to its cap, and one byte past it.
      {std::string(1310720 - f.size() - e.size(), '\n') + f + e, "-"}, {std::string(1310721 - f.size() - e.size(), '\n') + f + e, "!"}};
  // clang-format on
  for (const auto& [bytes, vendorText] : cases) {
    const auto got =
        ParseSnapshot(bytes, wmi_standin::CatalogFiles(), wmi_standin::CatalogFolders());
    const auto read = got ? got->Read("class/dmi/id/sys_vendor", 2) : std::nullopt;
    const std::string seen = !got ? "!" : read ? std::string(read->Text()) : "-";
    EXPECT_EQ(seen, vendorText) << bytes.substr(0, 80);
    EXPECT_EQ(got && got->IsFolder("class/dmi/id"), bytes.starts_with("Last"));
  }
}

// Letters compare without case only in ASCII: "bår" is never "bär".
TEST(Firmware, LocalHostIsThisMachinesNameFullOrShort) {
  // clang-format off
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"VM", "", false}, {"vm.other.example", "vm", false}, {"Vm", "vM.example.org", true}, {"LocalHost", "", true}, {"127.0.0.1", "", true}, {"::1", "", true},
      {"b\xC3\xA5r", "b\xC3\xA4r.lan", false}, {"B\xC3\xA4R", "b\xC3\xA4r.lan", true}, {"B\xC3\x84R", "b\xC3\xA4r", false}};
  // clang-format on
  for (const auto& [server, own, local] : cases) {
    EXPECT_EQ(wmi_standin::IsLocalHost(server, own), local) << server << " on " << own;
  }
}

}  // namespace
}  // namespace kelvarin::testing
