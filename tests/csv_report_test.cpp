#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "report/csv.h"
#include "report/report.h"
#include "test_console.h"

// Rows name only the options that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kelvarin {
namespace {

// A record, the options, and what comes out.
using Case = std::tuple<InventoryRecord, RunOptions, std::string>;

TEST(CsvLineTest, MarksReplacesQuotesAndJoinsInThatOrder) {
  // clang-format off
  const Case cases[] = {
      {{"Acme \"X\", Inc.", "", "S", "B"}, {}, "\"Acme \"X\", Inc.\",#NOTFOUND#,S,B"},
      {{"", "M", "", "B"}, {.quoteAll = true}, "\"#NOTFOUND#\",\"M\",\"#NOTFOUND#\",\"B\""},
      {{"O'Neil (R) & Co", "12\" ^`", "S", "B"}, {.tabooReplacement = "_"},
       "O_Neil _R_ & Co,12_ __,S,B"},
      {{"a,,b,c", "M", "S", "B"}, {.delimiterReplacement = ";"}, "a;;b;c,M,S,B"},
      {{"Big Box", "M 2", "S", "B"}, {.delimiter = " "}, "\"Big Box\" \"M 2\" S B"},
      {{"", "a'b", "S", "B"}, {.delimiter = "#", .tabooReplacement = "#"},
       "\"#NOTFOUND#\"#\"a#b\"#S#B"},
      {{"", "a'b", "S", "B"},
       {.delimiter = "#", .delimiterReplacement = "-", .tabooReplacement = "#"},
       "-NOTFOUND-#a-b#S#B"},
      {{"a;b", "M", "S", "B"}, {.delimiter = ";", .delimiterReplacement = ";"}, "\"a;b\";M;S;B"},
  };
  // clang-format on
  for (const auto& [record, options, line] : cases) EXPECT_EQ(EncodeCsvLine(record, options), line);
  EXPECT_EQ(CsvErrorLine({}), "#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#");
  // Neither replacement touches the error markers, and only /A quotes them.
  const RunOptions quoted{
      .quoteAll = true, .delimiter = "#", .delimiterReplacement = "-", .tabooReplacement = "_"};
  EXPECT_EQ(CsvErrorLine(quoted), "\"#WMIERROR#\"#\"#WMIERROR#\"#\"#WMIERROR#\"#\"#WMIERROR#\"");
}

TEST(PrintReportTest, WritesNothingTheCsvLineOrFiveLines) {
  const InventoryRecord odd{"A, \"B\"", " m ", "", "1.0"};
  // clang-format off
  const Case cases[] = {
      {{}, {.quiet = true}, ""},
      {{}, {.csv = true, .quiet = true}, ""},
      {{}, {},
       "\r\nManufacturer:   \r\nModel:          \r\nSerial Number:  \r\nBIOS Version:   \r\n"},
      {{"", "", "", "1.0"}, {.csv = true, .quiet = true, .delimiter = ";"},
       "#NOTFOUND#;#NOTFOUND#;#NOTFOUND#;1.0\r\n"},
      {odd, {.verbose = true, .quiet = true, .delimiter = " ", .tabooReplacement = "_"},
       "\r\nManufacturer:   A, \"B\"\r\nModel:           m \r\nSerial Number:  \r\n"
       "BIOS Version:   1.0\r\n"},
  };
  // clang-format on
  for (const auto& [record, options, output] : cases) {
    testing::RecordingConsole console;
    PrintReport(record, options, console);
    EXPECT_EQ(console.output, output);
    EXPECT_TRUE(console.pauses.empty());
  }
}

}  // namespace
}  // namespace kelvarin
