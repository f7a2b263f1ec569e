#include "automation/posix/wmi/smbios.h"

#include <gtest/gtest.h>

#include "smbios_builder.h"

namespace kelvarin::smbios {
namespace {

using testing::ByteBuffer;
using testing::EntryPoint2;
using testing::EntryPoint3;
using testing::SmbiosBuilder;

// "type/handle string..." for each structure, joined by '|'.
std::string Walk(const ByteBuffer& table) {
  std::string walked;
  for (const Structure& s : ParseTable(table)) {
    EXPECT_EQ(s.formatted.size(), std::size_t{s.formatted[1]});
    walked += (walked.empty() ? "" : "|") + std::to_string(s.type) + "/" + std::to_string(s.handle);
    for (const std::string_view text : s.strings) walked.append(" ").append(text);
  }
  return walked;
}

ByteBuffer Resized(ByteBuffer bytes, std::size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

TEST(ParseTableTest, WalksWhatIsSoundAndStopsAtTheFirstFault) {
  const auto bios = [] { return SmbiosBuilder().Bios("V", "1.0"); };
  const std::pair<ByteBuffer, std::string> cases[] = {
      {bios().System("M", "P", "S").BaseBoard("B1").BaseBoard("B2").Enclosure({}).End().Bytes(),
       "0/0 V 1.0|1/1 M P S|2/2 B1|2/3 B2|3/4"},
      {bios().Append({1, 3, 9, 0, 0, 0}).Enclosure("C").Bytes(), "0/0 V 1.0"},  // length under 4
      {bios().Append({1, 0x1B, 9, 0, 1, 2, 0, 0}).Bytes(), "0/0 V 1.0"},        // past the end
      {bios().Append({1, 4, 9, 0, 'M', 0}).Bytes(), "0/0 V 1.0"},  // unterminated strings
      {bios().End().System("M", "P", "S").Bytes(), "0/0 V 1.0"},
      {bios().Append({1}).Bytes(), "0/0 V 1.0"},  // a header cut short
      // An empty string ends the set; what follows it up to the double zero is skipped.
      {bios().Append({2, 5, 7, 1, 1, 0, 'x', 0, 0}).Enclosure("C").Bytes(),
       "0/0 V 1.0|2/263|3/1 C"},
      {Resized(bios().Bytes(), kMaxTableBytes), "0/0 V 1.0"},
      {Resized(bios().Bytes(), kMaxTableBytes + 1), ""},
  };
  for (const auto& [table, walked] : cases) EXPECT_EQ(Walk(table), walked);
}

TEST(DecodeTextTest, KeepsUtf8AndReadsAnythingElseAsLatin1) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x92\xBB",
       "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x92\xBB"},
      {"M\xFCller", "M\xC3\xBCller"},
      {"\xC3\x41", "\xC3\x83\x41"},                              // lead byte, no continuation
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                          // overlong
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},              // surrogate
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // past U+10FFFF
      {"ab\xE2\x82", "ab\xC3\xA2\xC2\x82"},                      // cut short
      {"\xFF", "\xC3\xBF"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeText(bytes), text);
}

// `ep` with one byte set, then the _SM_ checksums asked for made good again.
ByteBuffer Patched(ByteBuffer ep, std::size_t at, std::uint8_t value, bool fixIntermediate = false,
                   bool fixWhole = false) {
  ep[at] = value;
  if (fixIntermediate) testing::SetChecksum(ep, 0x10, 0x0F, 0x15);
  if (fixWhole) testing::SetChecksum(ep, 0, 0x1F, 0x04);
  return ep;
}

TEST(TableLengthFromEntryPointTest, TrustsOnlySoundEntryPoints) {
  const std::pair<ByteBuffer, std::optional<std::size_t>> cases[] = {
      {EntryPoint3(0x0A0B0C0D), 0x0A0B0C0D},
      {EntryPoint2(0x1234), 0x1234},
      {Patched(EntryPoint2(700), 0x05, 0x1E, true, true), 700},  // as some firmware announces
      {Patched(EntryPoint3(100), 0x0C, 99), {}},
      {Patched(EntryPoint2(100), 0x07, 9), {}},
      {Patched(EntryPoint2(100), 0x16, 99, false, true), {}},  // intermediate checksum
      {Patched(EntryPoint2(100), 0x12, 'X', true, true), {}},  // no _DMI_
      {Resized(EntryPoint3(100), 6), {}},
      {Resized(EntryPoint2(100), 5), {}},
      {EntryPoint3(0), {}},
      {Patched(EntryPoint3(100), 3, '4'), {}},
  };
  for (const auto& [entryPoint, length] : cases) {
    EXPECT_EQ(TableLengthFromEntryPoint(entryPoint), length)
        << ::testing::PrintToString(entryPoint);
  }
}

}  // namespace
}  // namespace kelvarin::smbios
