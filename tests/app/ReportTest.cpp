// Tests of the report builder: the fixed lines, the order of rows, the tally
// and the comparison of counts.
#include "app/Report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/GoldenReport.h"
#include "text/ListItems.h"

namespace tallyfold {
namespace {

using test::Items;
using testing::ReportLines;

struct Built {
  std::vector<std::u16string> lines;
  int matches_left, summary_left;
};

Built Build(const std::vector<std::u16string>& entries) {
  TUnicodeStringList report, matches, summary;
  for (const auto& entry : entries) matches.AppendItem(entry);
  BuildReport(report, matches, summary);
  return {Items(report), matches.ItemCount(), summary.ItemCount()};
}

TEST(BuildReport, NoMatchingLineGivesTwelveLines) {
  const Built built = Build({});
  ASSERT_EQ(built.lines.size(), 12U);
  EXPECT_EQ(built.lines, ReportLines({}, {}));
  EXPECT_EQ(built.matches_left, 0);
  EXPECT_EQ(built.summary_left, 0);
}

TEST(BuildReport, OneLineWithFourMatches) {
  const Built built = Build({u"4=a <b>x</b> line<span class=\"info\">f</span>"});
  ASSERT_EQ(built.lines.size(), 15U);
  EXPECT_EQ(built.lines,
            ReportLines({{4, u"a <b>x</b> line<span class=\"info\">f</span>"}}, {u"【4】=1"}));
}

TEST(BuildReport, FiveLinesSortAndTally) {
  const Built built = Build({u"2=V", u"1=W", u"2=X", u"3=Y", u"1=Z"});
  ASSERT_EQ(built.lines.size(), 12U + 3 * 5);
  EXPECT_EQ(built.lines, ReportLines({{3, u"Y"}, {2, u"X"}, {2, u"V"}, {1, u"Z"}, {1, u"W"}},
                                     {u"【3】=1", u"【2】=2", u"【1】=2"}));
  EXPECT_EQ(built.matches_left, 0);
  EXPECT_EQ(built.summary_left, 0);
}

TEST(BuildReport, CountsSortByValueNotAsText) {
  const Built built = Build({u"9=nine", u"10=ten", u"100=hundred", u"2=two"});
  EXPECT_EQ(built.lines,
            ReportLines({{100, u"hundred"}, {10, u"ten"}, {9, u"nine"}, {2, u"two"}},
                        {u"【100】=1", u"【10】=1", u"【9】=1", u"【2】=1"}));
}

TEST(BuildReport, TextGoesInUnescapedAndValueKeepsLaterSeparators) {
  const Built built = Build({u"1=a<b>&c=d"});
  EXPECT_EQ(built.lines[10], u"<td class=\"text\">a<b>&c=d</td>");
}

TEST(BuildReport, WrittenFileHasTheSameLines) {
  const Built built = Build({u"2=V", u"1=W"});
  TUnicodeStringList report;
  for (const auto& line : built.lines) report.AppendItem(line);
  const auto path = std::filesystem::temp_directory_path() /
                    ("tallyfold-report-" + std::to_string(::getpid()) + ".htm");
  report.WriteTextFile(path.string());
  TUnicodeStringList back;
  back.ReadTextFile(path.string());
  std::filesystem::remove(path);
  // Line 7 holds CR LF pairs of its own, so the file has one more line per
  // summary line than the list has entries.
  std::vector<std::u16string> expected = built.lines;
  expected.erase(expected.begin() + 6);
  expected.insert(expected.begin() + 6, {u"【2】=1", u"【1】=1", u""});
  EXPECT_EQ(Items(back), expected);
}

TEST(BuildReport, RowsFollowTheListSortExactly) {
  // Many equal counts, where the quicksort's order of ties shows, plus
  // names that count as 0 and entries without a separator.
  std::mt19937 random(99);
  TUnicodeStringList matches, sorted, report, summary;
  for (int i = 0; i < 5000; ++i) {
    const unsigned kind = random() % 50;
    std::string name = kind == 0   ? "x"
                       : kind == 1 ? ""
                       : kind == 3 ? "_"
                                   : std::to_string(random() % 6);
    if (kind == 4) name.insert(name.begin(), ' ');  // trimmed by the tally only
    std::u16string entry(name.begin(), name.end());
    entry += kind == 2 ? u"row " : u"=row ";
    entry += std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    const std::string number = std::to_string(i);
    entry.append(number.begin(), number.end());
    matches.AppendItem(entry);
    sorted.AppendItem(entry);
  }
  sorted.SortWith(CompareEntries);
  BuildReport(report, matches, summary);
  ASSERT_EQ(report.ItemCount(), 12 + 3 * 5000);
  for (int i = 0; i < sorted.ItemCount(); ++i) {
    ASSERT_EQ(report.ItemAt(9 + 3 * i + 1), u"<td class=\"text\">" + sorted.ValueAt(i) + u"</td>")
        << "row " << i + 1;
    ASSERT_EQ(report.ItemAt(9 + 3 * i + 2),
              u"<td class=\"freq\">" + sorted.NameAt(i) + u"</td></tr>")
        << "row " << i + 1;
  }
  // The tally of the list sorted by SortWith, runs of trimmed names included.
  TUnicodeStringList tally;
  Tally(sorted, tally);
  EXPECT_EQ(report.ItemAt(6), tally.JoinedText());
  EXPECT_GT(tally.ItemCount(), 6);
}

TEST(Tally, EmptyListGetsNoSentinel) {
  TUnicodeStringList matches, summary;
  Tally(matches, summary);
  EXPECT_EQ(matches.ItemCount(), 0);
  EXPECT_EQ(summary.ItemCount(), 0);
}

TEST(Tally, OneLinePerRunOfEqualTrimmedNames) {
  TUnicodeStringList matches, summary;
  for (const char16_t* entry : {u"3=a", u" 3=b", u"2=c", u"2 =d", u"2=e", u"1=f"})
    matches.AppendItem(entry);
  Tally(matches, summary);
  EXPECT_EQ(matches.ItemCount(), 7);
  EXPECT_EQ(matches.ItemAt(6), u"_=_");
  // The group's last name is shown as it stands, untrimmed.
  EXPECT_EQ(Items(summary),
            (std::vector<std::u16string>{u"【 3】=2", u"【2】=3", u"【1】=1"}));
}

TEST(Tally, UsesTheSummarySeparator) {
  TUnicodeStringList matches, summary;
  matches.AppendItem(u"5=x");
  summary.SetPairSeparator(u':');
  Tally(matches, summary);
  EXPECT_EQ(Items(summary), std::vector<std::u16string>{u"【5】:1"});
}

TEST(CompareEntries, ParsesCountsLeniently) {
  struct Case {
    std::u16string first, second;
    int result;
  };
  const std::vector<Case> cases = {
      {u"3=a", u"5=b", 2},
      {u"10=a", u"9=b", -1},
      {u"007=a", u"7=b", 0},
      {u"+4=a", u"-4=b", -8},
      {u"x=a", u"2=b", 2},     // not a number: 0
      {u"12x=a", u"1=b", 1},   // trailing text: 0
      {u"=a", u"3=b", 3},      // empty name: 0
      {u"none", u"3=b", 3},    // no separator, empty name: 0
      {u"-=a", u"1=b", 1},     // a sign alone: 0
      {u" 5=a", u"5=b", 5},    // spaces are not skipped: 0
      {u"\uFF15=a", u"1=b", 1},  // a full-width digit is no ASCII digit: 0
      {u"99999999999=a", u"0=b", -2147483647},
      {u"-99999999999=a", u"99999999999=b", 2147483647},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list;
    list.AppendItem(c.first);
    list.AppendItem(c.second);
    EXPECT_EQ(CompareEntries(list, 0, 1), c.result)
        << ::testing::PrintToString(c.first) << " vs " << ::testing::PrintToString(c.second);
    EXPECT_EQ(CompareEntries(list, 0, 0), 0);
  }
}

}  // namespace
}  // namespace tallyfold
