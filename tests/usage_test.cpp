#include "app/usage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_console.h"

namespace kelvarin {
namespace {

class UsageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrintUsage(console_);
    lines_ = testing::SplitLines(console_.output);
  }

  testing::RecordingConsole console_;
  std::vector<std::string> lines_;
};

TEST_F(UsageTest, TwentySixWholeLinesAndNoPause) {
  ASSERT_EQ(lines_.size(), 26u);
  ASSERT_TRUE(console_.output.ends_with("\r\n"));
  EXPECT_TRUE(console_.pauses.empty());
  for (const std::string& line : lines_) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
  }
}

TEST_F(UsageTest, EmptyLinesSeparateTheSections) {
  ASSERT_EQ(lines_.size(), 26u);
  for (const std::size_t number : {1u, 3u, 6u, 8u, 25u}) EXPECT_EQ(lines_[number - 1], "");
  EXPECT_NE(lines_.back(), "");
}

TEST_F(UsageTest, BannerCreditStartsInColumnFiftyOne) {
  ASSERT_EQ(lines_.size(), 26u);
  const std::string& banner = lines_[1];
  ASSERT_GT(banner.size(), 50u);
  EXPECT_EQ(banner.substr(0, 50), "Kelvarin v1.3" + std::string(37, ' '));
  EXPECT_NE(banner[50], ' ');
}

TEST_F(UsageTest, FixedLinesAreExact) {
  ASSERT_EQ(lines_.size(), 26u);
  const std::pair<std::size_t, std::string> lines[] = {
      {4, "Kelvarin [/M (Hostname | IPAddress) [/K | /L]] [/N] [/U username [/P password]]"},
      {5, "         [(/V | /C [/D delimchar] [/R delimreplchar] [/T tabooreplchar] [/A])]"},
      {12, "/M = Remote hostname or IP Address ."},
      {24, "         Taboo characters replaced (if /T specified):  ^ ` ' & ( ) \""},
  };
  for (const auto& [number, text] : lines) EXPECT_EQ(lines_[number - 1], text);
}

TEST_F(UsageTest, SwitchLinesKeepTheirOrderAndIndent) {
  ASSERT_EQ(lines_.size(), 26u);
  const char* const starts[] = {
      "/M = ", "/N = ", "/U = ",     "/P = ",     "/K = ",     "/L = ",
      "/V = ", "/C = ", "  /A   = ", "  /D x = ", "  /R x = ", "  /T x = "};
  for (std::size_t i = 0; i < std::size(starts); ++i) {
    EXPECT_TRUE(lines_[11 + i].starts_with(starts[i])) << "line " << 12 + i;
  }
}

}  // namespace
}  // namespace kelvarin
