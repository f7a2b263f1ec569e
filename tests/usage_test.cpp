#include "app/usage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_console.h"

namespace kelvarin {
namespace {

TEST(UsageTest, TwentySixCrLfLinesInTheirPlaces) {
  testing::RecordingConsole console;
  PrintUsage(console);
  const std::string& out = console.output;
  const auto lines = testing::SplitLines(out);
  ASSERT_EQ(lines.size(), 26U);
  // Whole CR LF lines, and no stray CR or LF inside one.
  EXPECT_TRUE(out.ends_with("\r\n"));
  EXPECT_EQ(std::ranges::count(out, '\r') + std::ranges::count(out, '\n'), 52);
  EXPECT_TRUE(console.pauses.empty());
  // The credit starts in column 51 whatever the title's length.
  EXPECT_EQ(lines[1].substr(0, 51), "Kelvarin v1.3" + std::string(37, ' ') + "W");
  const std::pair<std::size_t, std::string> exact[] = {
      {4, "Kelvarin [/M (Hostname | IPAddress) [/K | /L]] [/N] [/U username [/P password]]"},
      {5, "         [(/V | /C [/D delimchar] [/R delimreplchar] [/T tabooreplchar] [/A])]"},
      {12, "/M = Remote hostname or IP Address ."},
      {24, "         Taboo characters replaced (if /T specified):  ^ ` ' & ( ) \""},
  };
  for (const auto& [number, text] : exact) EXPECT_EQ(lines[number - 1], text) << number;
  for (const std::size_t number : {1U, 3U, 6U, 8U, 25U}) EXPECT_EQ(lines[number - 1], "");
  std::string switches;
  for (std::size_t i = 11; i < 23; ++i) switches += lines[i].substr(0, lines[i].find(" = ")) + "|";
  EXPECT_EQ(switches, "/M|/N|/U|/P|/K|/L|/V|/C|  /A  |  /D x|  /R x|  /T x|");
  EXPECT_NE(lines[25], "");
}

}  // namespace
}  // namespace kelvarin
