#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "report/csv.h"
#include "report/report.h"
#include "test_console.h"

namespace kelvarin {
namespace {

using O = RunOptions;
using Change = std::function<void(RunOptions&)>;

RunOptions Csv(const Change& change) {
  RunOptions options;
  options.csv = true;
  if (change) change(options);
  return options;
}

struct CsvCase {
  InventoryRecord record;
  Change change;  // settings besides /C
  std::string line;
};

TEST(EncodeCsvLineTest, MarksReplacesQuotesAndJoins) {
  const CsvCase cases[] = {
      {{"Acme, Inc.", "Box 5", "S1", "B1"}, {}, "\"Acme, Inc.\",Box 5,S1,B1"},
      {{}, {}, "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#"},
      {{"", "M", "", "B"},
       [](O& o) { o.quoteAll = true; },
       "\"#NOTFOUND#\",\"M\",\"#NOTFOUND#\",\"B\""},
      {{"a\"b,c", "M", "S", "B"}, {}, "\"a\"b,c\",M,S,B"},
      {{"O'Neil (R) & Co", "12\" ^`", "S", "B"},
       [](O& o) { o.tabooReplacement = "_"; },
       "O_Neil _R_ & Co,12_ __,S,B"},
      {{"a,,b,c", "M", "S", "B"}, [](O& o) { o.delimiterReplacement = ";"; }, "a;;b;c,M,S,B"},
      {{"a,b", "M", "S", "B"},
       [](O& o) {
         o.delimiterReplacement = ";";
         o.quoteAll = true;
       },
       "\"a;b\",\"M\",\"S\",\"B\""},
      {{"Big Box", "M 2", "S", "B"}, [](O& o) { o.delimiter = " "; }, "\"Big Box\" \"M 2\" S B"},
      {{"Big Box", "M", "S", "B"},
       [](O& o) {
         o.delimiter = " ";
         o.delimiterReplacement = "_";
       },
       "Big_Box M S B"},
      {{"", "M", "S", "B"}, [](O& o) { o.delimiter = "#"; }, "\"#NOTFOUND#\"#M#S#B"},
      {{"", "M", "S", "B"},
       [](O& o) {
         o.delimiter = "#";
         o.delimiterReplacement = "-";
       },
       "-NOTFOUND-#M#S#B"},
      {{"a'b", "M", "S", "B"},
       [](O& o) { o.delimiter = o.tabooReplacement = ";"; },
       "\"a;b\";M;S;B"},
      {{"a'b", "M", "S", "B"},
       [](O& o) {
         o.delimiter = o.tabooReplacement = ";";
         o.delimiterReplacement = "+";
       },
       "a+b;M;S;B"},
      {{"a;b", "M", "S", "B"},
       [](O& o) { o.delimiter = o.delimiterReplacement = ";"; },
       "\"a;b\";M;S;B"},
  };
  for (const CsvCase& c : cases) {
    EXPECT_EQ(EncodeCsvLine(c.record, Csv(c.change)), c.line) << c.line;
  }
}

TEST(CsvErrorLineTest, QuotesOnlyUnderQuoteAll) {
  const std::pair<Change, std::string> cases[] = {
      {{}, "#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#"},
      {[](O& o) { o.quoteAll = true; },
       "\"#WMIERROR#\",\"#WMIERROR#\",\"#WMIERROR#\",\"#WMIERROR#\""},
      {[](O& o) {
         o.delimiter = "#";
         o.delimiterReplacement = "-";
         o.tabooReplacement = "_";
       },
       "#WMIERROR###WMIERROR###WMIERROR###WMIERROR#"},
  };
  for (const auto& [change, line] : cases) EXPECT_EQ(CsvErrorLine(Csv(change)), line);
}

TEST(IsTabooTest, SixCharactersOnly) {
  std::string taboo;
  for (int c = 0; c < 256; ++c) {
    if (IsTaboo(static_cast<char>(c))) taboo += static_cast<char>(c);
  }
  EXPECT_EQ(taboo, "\"'()^`");
}

struct ReportCase {
  InventoryRecord record;
  Change change;
  std::string output;
};

TEST(PrintReportTest, WritesNothingTheCsvLineOrFiveLines) {
  const std::string kAllEmpty =
      "\r\nManufacturer:   \r\nModel:          \r\nSerial Number:  \r\nBIOS Version:   \r\n";
  const InventoryRecord kOdd{"A, \"B\"", " m ", "", "1.0"};
  const std::string kOddReport =
      "\r\nManufacturer:   A, \"B\"\r\nModel:           m \r\nSerial Number:  \r\n"
      "BIOS Version:   1.0\r\n";
  const ReportCase cases[] = {
      {{}, [](O& o) { o.quiet = true; }, ""},
      {{}, [](O& o) { o.quiet = o.verbose = true; }, ""},
      {{}, [](O& o) { o.quiet = o.csv = true; }, ""},
      {{}, {}, kAllEmpty},
      {{},
       [](O& o) {
         o.csv = true;
         o.delimiter = ";";
       },
       "#NOTFOUND#;#NOTFOUND#;#NOTFOUND#;#NOTFOUND#\r\n"},
      {{"", "", "", "1.0"},
       [](O& o) { o.quiet = o.csv = true; },
       "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,1.0\r\n"},
      {kOdd,
       [](O& o) {
         o.quiet = true;
         o.delimiter = " ";
         o.tabooReplacement = "_";
       },
       kOddReport},
      {kOdd, [](O& o) { o.verbose = true; }, kOddReport},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.output);
    RunOptions options;
    if (c.change) c.change(options);
    testing::RecordingConsole console;
    PrintReport(c.record, options, console);
    EXPECT_EQ(console.output, c.output);
    EXPECT_TRUE(console.pauses.empty());
  }
}

}  // namespace
}  // namespace kelvarin
