// The CSV line: markers, taboo and delimiter replacement, quoting and join,
// in that order; and the error line.
#include <gtest/gtest.h>

#include <tuple>

#include "report/csv.h"

// Rows name only the options that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kelvarin {
namespace {

TEST(Csv, MarksReplacesQuotesAndJoinsInThatOrder) {
  // clang-format off
  const std::tuple<InventoryRecord, RunOptions, std::string> cases[] = {
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
  EXPECT_EQ(CsvErrorLine({.delimiter = "#", .delimiterReplacement = "-", .tabooReplacement = "_"}),
            "#WMIERROR###WMIERROR###WMIERROR###WMIERROR#");
}

}  // namespace
}  // namespace kelvarin
