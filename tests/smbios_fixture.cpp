// Writes a typical machine's SMBIOS table at the sysfs paths below a folder,
// for benchmarks and manual runs:  kelvarin_fixture DIR
#include <cstdio>

#include "smbios_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kelvarin_fixture DIR\n", stderr);
    return 2;
  }
  kelvarin::testing::SmbiosBuilder()
      .Bios("American Megatrends International, LLC.", "F.40")
      .System("Hewlett-Packard", "HP EliteDesk 800 G4 SFF", "CZC8301ABC")
      .BaseBoard("PFXXU0BBCD1234")
      .Enclosure("CZC8301ABC")
      .End()
      .WriteTo(argv[1]);
  return 0;
}
