// Tests of the search command: the searched pattern, the error text, and a
// whole search's effect on the lists and on the report file.
#include "app/SearchCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/GoldenReport.h"
#include "app/ReportStyleSheet.h"
#include "text/TextFile.h"

namespace tallyfold {
namespace {

using testing::Info;
using testing::kEnd;
using testing::kKey;
using testing::ReadBytes;
using testing::MakeFolder;
using testing::kSlash;
using testing::TempFolder;
using testing::WriteBytes;

TEST(SearchPattern, TrimsAndAddsTheBoundaries) {
  struct Case {
    const char16_t* text;
    bool boundary;
    const char16_t* pattern;
  };
  const std::vector<Case> cases = {
      {u"cat", true, u"\\bcat\\b"},
      {u" cat\t\r\n", true, u"\\bcat\\b"},
      {u"cat|dog", true, u"\\bcat|dog\\b"},
      {u"a\\", true, u"\\ba\\\\b"},
      {u" x ", false, u"x"},
      {u"\u3000a\u00A0", false, u"\u3000a\u00A0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SearchPattern(c.text, c.boundary), c.pattern) << testing::Utf8Bytes(c.text);
  }
}

TEST(ErrorDisplayText, AddsAFullStopAfterACharacterAboveIt) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Stream write error", "Stream write error."},
      {"TRegexEngine(comp): Trailing \\ (pos 1)", "TRegexEngine(comp): Trailing \\ (pos 1)"},
      {"ends.", "ends."},
      {"ends-", "ends-"},
      {"ends/", "ends/."},
      {"检索", "检索."},
      {"", ""},
  };
  for (const auto& [message, shown] : cases) EXPECT_EQ(ErrorDisplayText(message), shown);
}

class RunSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(corpus_.c_str()), 0);
    options_.folder = corpus_;
    options_.report_file = report_;
  }

  // The Text cells of the written report, in row order, with their tags.
  std::vector<std::u16string> TextCells() const {
    std::vector<std::u16string> cells;
    for (const std::u16string& cell : testing::TextCells(ReadBytes(report_)))
      cells.push_back(u"<td class=\"text\">" + cell + u"</td>");
    return cells;
  }

  TempFolder root_;
  const std::string corpus_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
  SearchOptions options_;
  SearchLists lists_;
};

TEST_F(RunSearchTest, WritesTheReportAndLeavesTheListsEmpty) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the cat\nno\nthe the\n");
  options_.pattern_text = u" the ";
  lists_.report.AppendItem(u"stale");
  SearchStats stats;
  RunSearch(options_, lists_, stats);
  EXPECT_EQ(stats.files_scanned, 1);
  EXPECT_EQ(stats.matching_lines, 2);
  EXPECT_EQ(lists_.report.ItemCount(), 0);
  EXPECT_EQ(lists_.matches.ItemCount(), 0);
  EXPECT_EQ(lists_.summary.ItemCount(), 0);
  const std::vector<testing::Row> rows = {
      {2, u" " + kKey + u"the" + kEnd + u" " + kKey + u"the" + kEnd + u" " +
              Info(corpus_ + kSlash + "a.txt", "a.txt", 3)},
      {1, u" " + kKey + u"the" + kEnd + u" cat " + Info(corpus_ + kSlash + "a.txt", "a.txt", 1)}};
  const std::string written = ReadBytes(report_);
  EXPECT_EQ(written, testing::ReportFileBytes(testing::ReportLines(rows, {u"【2】=1", u"【1】=1"})));
}

// The report a failed search leaves is checked in FailedSearchTest.
TEST_F(RunSearchTest, FailedSearchKeepsItsMatchesAndTheNextStartsAfresh) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the first\n");
  ASSERT_EQ(MakeFolder((corpus_ + kSlash + "b.txt").c_str()), 0);
  options_.pattern_text = u"the";
  EXPECT_THROW(RunSearch(options_, lists_), EFOpenError);
  EXPECT_EQ(lists_.matches.ItemCount(), 1);

  ASSERT_EQ(rmdir((corpus_ + kSlash + "b.txt").c_str()), 0);
  WriteBytes(corpus_ + kSlash + "a.txt", "second the\n");
  RunSearch(options_, lists_);
  EXPECT_EQ(TextCells(), (std::vector<std::u16string>{
                             u"<td class=\"text\"> second " + kKey + u"the" + kEnd + u" " +
                             Info(corpus_ + kSlash + "a.txt", "a.txt", 1) + u"</td>"}));
}

TEST_F(RunSearchTest, UnicodeReportPathIsUsedWithoutANativeOne) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the\n");
  options_.pattern_text = u"the";
  options_.report_file.clear();
  options_.report_path = testing::Widen(root_ / "报告.htm");
  RunSearch(options_, lists_);
  EXPECT_EQ(ReadBytes(root_ / "报告.htm").substr(0, 2), "\xFF\xFE");
  EXPECT_FALSE(testing::Exists(report_));
}

TEST_F(RunSearchTest, WritesTheStyleSheetOnlyAfterTheReportAndOnlyWhereNoneIs) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the\n");
  const std::string sheet = root_ / "result.css";
  options_.pattern_text = u"th(e";
  EXPECT_THROW(RunSearch(options_, lists_), Exception);
  EXPECT_FALSE(testing::Exists(sheet)) << "a failed search writes no sheet";

  options_.pattern_text = u"the";
  SearchStats stats;
  RunSearch(options_, lists_, stats);
  EXPECT_EQ(stats.style_sheet.outcome, StyleSheetOutcome::kWritten);
  EXPECT_EQ(stats.style_sheet.path, sheet);
  EXPECT_EQ(ReadBytes(sheet), std::string(ReportStyleSheet()));

  WriteBytes(sheet, "/* mine */");
  RunSearch(options_, lists_, stats);
  EXPECT_EQ(stats.style_sheet.outcome, StyleSheetOutcome::kPresent);
  EXPECT_EQ(ReadBytes(sheet), "/* mine */");
}

TEST_F(RunSearchTest, NoStyleSheetWhenNotAskedOrForAStream) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the\n");
  options_.pattern_text = u"the";
  options_.write_style_sheet = false;
  SearchStats stats;
  RunSearch(options_, lists_, stats);
  EXPECT_EQ(stats.style_sheet.outcome, StyleSheetOutcome::kNotWritten);
  EXPECT_FALSE(testing::Exists(root_ / "result.css"));

  // A link to the null device (Windows: the device itself): the report is
  // written through to it, and its folder gets no sheet.
  options_.write_style_sheet = true;
#ifdef _WIN32
  options_.report_file = "NUL";
#else
  options_.report_file = root_ / "null.htm";
  ASSERT_EQ(symlink("/dev/null", options_.report_file.c_str()), 0);
#endif
  RunSearch(options_, lists_, stats);
  EXPECT_EQ(stats.style_sheet.outcome, StyleSheetOutcome::kNotWritten);
  EXPECT_FALSE(testing::Exists(root_ / "result.css"));
}

}  // namespace
}  // namespace tallyfold
