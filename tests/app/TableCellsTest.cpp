// The cells of the match tables (app/TablePrinter.h): which CSV cells are
// kept from starting a formula, and how a NUL of a line reaches each table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CliInProcess.h"
#include "app/TablePrinter.h"
#include "platform/CodePage.h"

namespace tallyfold::testing {
namespace {

// The text of one CSV field as a reader gets it: unquoted, quotes undoubled.
std::u16string CsvCellText(std::u16string field) {
  if (field.empty() || field.front() != u'"') return field;
  EXPECT_EQ(field.back(), u'"');
  std::u16string text;
  for (std::size_t i = 1; i + 1 < field.size(); ++i) {
    text += field[i];
    if (field[i] == u'"') ++i;
  }
  return text;
}

// Every code unit (U+0000, separators, quotes, surrogates, U+FFFF and the
// full-width forms among them) as the first character of a cell, alone,
// after spaces and tabs, and with text after it. A spreadsheet would run
// the cell as a formula exactly when that first character is one a
// formula starts with, or when the cell starts with a tab or a carriage
// return; such a cell, and only such a cell, gets the apostrophe, and the
// rest of the field is the text as it was.
TEST(CsvCells, AnyCellThatCouldStartAFormulaGetsAnApostrophe) {
  const std::u16string starts = u"=+-@|\uFF1D\uFF0B\uFF0D\uFF20";
  const std::u16string prefixes[] = {u"", u" ", u"\t", u"  \t ", u"\r"};
  int guarded = 0;
  for (const std::u16string& prefix : prefixes) {
    for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
      for (const std::u16string_view after : {u"", u"1"}) {
        std::u16string text = prefix;
        text += static_cast<char16_t>(unit);
        text += after;
        std::u16string field;
        AppendTableField(field, OutputFormat::kCsv, text);
        const std::u16string cell = CsvCellText(field);
        const std::size_t first = text.find_first_not_of(u" \t");
        const bool formula = text.front() == u'\t' || text.front() == u'\r' ||
                             (first != std::u16string::npos &&
                              starts.find(text[first]) != std::u16string::npos);
        guarded += formula ? 1 : 0;
        ASSERT_EQ(cell, (formula ? u"'" : u"") + text)
            << "prefix " << Utf8Encode(prefix) << " unit U+" << std::hex << unit;
      }
    }
  }
  // So the sweep is not vacuous: every cell after a tab or CR prefix, the
  // nine starts, the tab and the CR unit alone, and the nine after spaces.
  EXPECT_EQ(guarded, 2 * 2 * 0x10000 + 2 * 11 + 2 * 2 * 9);
  // TSV writes every cell exactly, with or without such a start.
  std::u16string tsv;
  AppendTableField(tsv, OutputFormat::kTsv, u" =1");
  EXPECT_EQ(tsv, u" =1");
}

// Lines with NULs in a match, beside it and in a row before it, searched
// through the command line into each table. JSON Lines writes each NUL as
// \u0000, where TSV and CSV, which cannot hold it, write U+FFFD.
TEST(TableNuls, JsonLinesKeepsEachNulAndTheOthersShowTheReplacement) {
  TempFolder root;
  const std::string corpus = root / "corpus";
  ASSERT_EQ(MakeFolder(corpus.c_str()), 0);
  // Marked as UTF-8: without a mark, so many zero bytes between letters
  // would be taken for UTF-16.
  WriteBytes(corpus + kSlash + "a.txt", std::string("\xEF\xBB\xBFx\0a\0b\0y\nz\0\0a\0b\n", 18));
  std::string path = corpus + kSlash + "a.txt";
  for (std::size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2)
    path.insert(at, 1, '\\');
  const struct {
    const char* format;
    std::vector<std::string> rows;
  } cases[] = {
      {"jsonl",
       {R"({"file":"a.txt","path":")" + path +
            R"(","line":1,"count":1,"start":2,"length":3,"match":"a\u0000b","left":"x\u0000","right":"\u0000y"})",
        R"({"file":"a.txt","path":")" + path +
            R"(","line":2,"count":1,"start":3,"length":3,"match":"a\u0000b","left":"z\u0000\u0000","right":""})"}},
      {"tsv",
       {"file\tline\tcount\tleft\tmatch\tright",
        "a.txt\t1\t1\tx\xEF\xBF\xBD\ta\xEF\xBF\xBD" "b\t\xEF\xBF\xBDy",
        "a.txt\t2\t1\tz\xEF\xBF\xBD\xEF\xBF\xBD\ta\xEF\xBF\xBD" "b\t"}},
      {"csv",
       {"\xEF\xBB\xBF" "file,line,count,left,match,right\r",
        "a.txt,1,1,x\xEF\xBF\xBD,a\xEF\xBF\xBD" "b,\xEF\xBF\xBDy\r",
        "a.txt,2,1,z\xEF\xBF\xBD\xEF\xBF\xBD,a\xEF\xBF\xBD" "b,\r"}},
  };
  for (const auto& c : cases) {
    const std::string out = root / (std::string("t.") + c.format);
    const CliResult result = RunCliInProcess(
        {"--quiet", "--no-boundary", "--format", c.format, "-o", out, "a.b", corpus}, root.Path());
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> rows;
    const std::string bytes = ReadBytes(out);
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t end = bytes.find('\n', at);
      rows.push_back(bytes.substr(at, end - at));
      at = end + 1;
    }
    // The two rows tie in the report's order, which is not at stake here.
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> expected = c.rows;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected) << c.format;
  }
}

}  // namespace
}  // namespace tallyfold::testing
