#include "automation/posix/wmi/smbios.h"

#include <gtest/gtest.h>

#include "smbios_builder.h"

namespace kelvarin::smbios {
namespace {

using kelvarin::testing::ByteBuffer;
using kelvarin::testing::EntryPoint2;
using kelvarin::testing::EntryPoint3;
using kelvarin::testing::SetChecksum;
using kelvarin::testing::SmbiosBuilder;

struct Walked {
  int type;
  int handle;
  std::vector<std::string> strings;
  bool operator==(const Walked&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Walked& w) {
  out << "{type " << w.type << ", handle " << w.handle << ",";
  for (const std::string& s : w.strings) out << " \"" << s << "\"";
  return out << "}";
}

std::vector<Walked> Walk(const ByteBuffer& table) {
  std::vector<Walked> walked;
  for (const Structure& s : ParseTable(table)) {
    EXPECT_EQ(s.formatted.size(), std::size_t{s.formatted[1]});
    walked.push_back({s.type, s.handle, {s.strings.begin(), s.strings.end()}});
  }
  return walked;
}

ByteBuffer PadTo(ByteBuffer table, std::size_t size) {
  table.resize(size, 0);
  return table;
}

TEST(ParseTableTest, WalksWhatIsSoundAndStopsAtTheFirstFault) {
  const ByteBuffer bios = SmbiosBuilder().Bios("V", "1.0").Bytes();
  const std::vector<Walked> justBios = {{0, 0, {"V", "1.0"}}};
  const struct {
    const char* name;
    ByteBuffer table;
    std::vector<Walked> expected;
  } cases[] = {
      {"whole table",
       SmbiosBuilder()
           .Bios("V", "1.0")
           .System("M", "P", "S")
           .BaseBoard("B1")
           .BaseBoard("B2")
           .Enclosure(std::nullopt)
           .End()
           .Bytes(),
       {{0, 0, {"V", "1.0"}}, {1, 1, {"M", "P", "S"}}, {2, 2, {"B1"}}, {2, 3, {"B2"}}, {3, 4, {}}}},
      {"empty", {}, {}},
      {"header length under 4",
       SmbiosBuilder().Bios("V", "1.0").Append({1, 3, 9, 0, 0, 0}).Enclosure("C").Bytes(),
       justBios},
      {"structure past the end",
       SmbiosBuilder().Bios("V", "1.0").Append({1, 0x1B, 9, 0, 1, 2, 0, 0}).Bytes(), justBios},
      {"unterminated strings",
       SmbiosBuilder().Bios("V", "1.0").Append({1, 4, 9, 0, 'M', 0}).Bytes(), justBios},
      {"no strings, one zero byte",
       SmbiosBuilder().Bios("V", "1.0").Append({1, 4, 9, 0, 0}).Bytes(), justBios},
      {"type 127 then more", SmbiosBuilder().Bios("V", "1.0").End().System("M", "P", "S").Bytes(),
       justBios},
      {"trailing bytes", SmbiosBuilder().Bios("V", "1.0").Append({1, 0x1B, 0}).Bytes(), justBios},
      {"leading empty string",
       SmbiosBuilder()
           .Bios("V", "1.0")
           .Append({2, 5, 7, 1, 1, 0, 'x', 0, 0})
           .Enclosure("C")
           .Bytes(),
       {{0, 0, {"V", "1.0"}}, {2, 0x107, {}}, {3, 1, {"C"}}}},
      {"exactly the limit", PadTo(bios, kMaxTableBytes), justBios},
      {"over the limit", PadTo(bios, kMaxTableBytes + 1), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk(c.table), c.expected);
  }
}

TEST(StringAtTest, FollowsTheStringNumberInTheFormattedArea) {
  // Bytes 4..8 hold string numbers 1, 0, 3, 2, 4 over three strings; the first
  // string, right past the formatted area, would itself read as number 2.
  const ByteBuffer table = SmbiosBuilder().Raw(1, {1, 0, 3, 2, 4}, {"\x02", "b", "c"}).Bytes();
  const std::vector<Structure> structures = ParseTable(table);
  ASSERT_EQ(structures.size(), 1U);
  const struct {
    std::size_t offset = 0;
    std::optional<std::string_view> expected;
  } cases[] = {{4, "\x02"},       {5, std::nullopt},   {6, "c"}, {7, "b"}, {8, std::nullopt},
               {9, std::nullopt}, {1000, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(StringAt(structures[0], c.offset), c.expected);
  }
}

TEST(DecodeTextTest, KeepsUtf8AndReadsAnythingElseAsLatin1) {
  const struct {
    std::string_view bytes;
    std::string_view expected;
  } cases[] = {
      {"", ""},
      {"  \t ", "  \t "},
      {"M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x92\xBB",
       "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x92\xBB"},
      {"M\xFCller", "M\xC3\xBCller"},
      {"\xC3\x41", "\xC3\x83\x41"},                  // lead byte without its continuation
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},              // overlong
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // surrogate
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},       // past U+10FFFF
      {std::string_view("ab\xE2\x82\xAC", 4), "ab\xC3\xA2\xC2\x82"},  // cut short
      {"\xFF", "\xC3\xBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(DecodeText(c.bytes), c.expected);
  }
}

TEST(TableLengthFromEntryPointTest, TrustsOnlySoundEntryPoints) {
  const auto changed = [](ByteBuffer ep, std::size_t at) {
    ep[at] ^= 0x01;
    return ep;
  };
  ByteBuffer lenient = EntryPoint2(700);
  lenient[0x05] = 0x1E;
  SetChecksum(lenient, 0, 0x1E, 0x04);
  ByteBuffer noDmi = EntryPoint2(700);
  noDmi[0x12] = 'X';
  SetChecksum(noDmi, 0x10, 0x0F, 0x15);
  SetChecksum(noDmi, 0, 0x1F, 0x04);
  ByteBuffer badIntermediate = EntryPoint2(700);
  badIntermediate[0x16] = 0xFF;
  SetChecksum(badIntermediate, 0, 0x1F, 0x04);
  const struct {
    const char* name;
    ByteBuffer entryPoint;
    std::optional<std::size_t> expected;
  } cases[] = {
      {"_SM3_", EntryPoint3(0x0A0B0C0D), 0x0A0B0C0D},
      {"_SM_", EntryPoint2(0x1234), 0x1234},
      {"_SM_ announcing 0x1E bytes", lenient, 700},
      {"_SM3_ checksum", changed(EntryPoint3(100), 0x0C), std::nullopt},
      {"_SM_ checksum", changed(EntryPoint2(100), 0x07), std::nullopt},
      {"_SM_ intermediate checksum", badIntermediate, std::nullopt},
      {"_SM_ without _DMI_", noDmi, std::nullopt},
      {"_SM3_ cut short", PadTo(EntryPoint3(100), 6), std::nullopt},
      {"_SM_ cut short", PadTo(EntryPoint2(100), 5), std::nullopt},
      {"zero length", EntryPoint3(0), std::nullopt},
      {"other anchor", changed(EntryPoint3(100), 3), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TableLengthFromEntryPoint(c.entryPoint), c.expected);
  }
}

}  // namespace
}  // namespace kelvarin::smbios
