// The kept results and their keyword-in-context view: the line store, the
// five orders against a plain reference, the filter, a row's context and the
// words beside it, cancelling, and the tables as Python's readers see them.
#include "WineSupport.h"
#include "app/ResultView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/MatchForms.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

namespace tallyfold {
namespace {

using testing::TempFolder;

struct LineSpec {
  int file;
  int line;
  std::u16string text;
  std::vector<MatchSpan> spans;
};

// Adds `text` as a search keeps a line: with a space added at each end,
// the spans moved along with it.
void AddPadded(ResultSet& set, int file, int line, const std::u16string& text,
               std::vector<MatchSpan> spans) {
  for (MatchSpan& span : spans) ++span.start;
  set.AddLine(file, line, u" " + text + u" ", spans);
}

// Files f0.txt, f1.txt, ... under /corpus, then the lines in report order.
void Fill(ResultSet& set, int files, const std::vector<LineSpec>& lines) {
  for (int f = 0; f < files; ++f) {
    ResultFile file;
    file.shown_name = "f";
    file.shown_name += std::to_string(f);
    file.shown_name += ".txt";
    file.path = "/corpus/";
    file.path += file.shown_name;
    set.AddFile(file);
  }
  for (const LineSpec& line : lines) AddPadded(set, line.file, line.line, line.text, line.spans);
}

using Rows = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Rows RowsOf(const ResultView& view) {
  Rows rows;
  for (std::size_t i = 0; i < view.RowCount(); ++i) rows.emplace_back(view.Row(i).line, view.Row(i).span);
  return rows;
}

// ---- A plain reference for the orders ----
//
// Generated lines use only the characters below, so that which of them make
// words can be listed by hand instead of repeating the view's rule.

bool RefIsWord(const std::u16string& character) {
  static const std::vector<std::u16string> kNotWord = {u" ", u",", u"\uFF0C", u"\u2014", u"\u3002"};
  return std::find(kNotWord.begin(), kNotWord.end(), character) == kNotWord.end();
}

// The CJK characters of the generated lines (one of them outside the BMP).
bool RefIsCjk(const std::u16string& character) {
  static const std::vector<std::u16string> kCjk = {u"\u4E2D", u"\u6587", u"\u7684", u"\u65F6",
                                                   u"\u95F4", u"\u306E", u"\U00020000"};
  return std::find(kCjk.begin(), kCjk.end(), character) != kCjk.end();
}

// The text as characters: a surrogate pair is one.
std::vector<std::u16string> Characters(const std::u16string& text) {
  std::vector<std::u16string> out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    out.push_back(text.substr(i, pair ? 2 : 1));
    if (pair) ++i;
  }
  return out;
}

std::u16string RefWordLeft(const std::u16string& text) {
  std::vector<std::u16string> chars = Characters(text);
  while (!chars.empty() && !RefIsWord(chars.back())) chars.pop_back();
  std::u16string word;
  while (!chars.empty() && RefIsWord(chars.back())) {
    word.insert(0, chars.back());
    chars.pop_back();
  }
  return word;
}

std::u16string RefWordRight(const std::u16string& text) {
  std::u16string word;
  bool started = false;
  for (const std::u16string& c : Characters(text)) {
    if (RefIsWord(c)) {
      word += c;
      started = true;
    } else if (started) {
      break;
    }
  }
  return word;
}

// The neighbour keys: up to three CJK characters next to the match, the
// nearest first; else the nearest word.
std::u16string RefNeighbourLeft(const std::u16string& text) {
  const std::vector<std::u16string> chars = Characters(text);
  std::u16string key;
  for (std::size_t n = 0; n < 3 && n < chars.size() && RefIsCjk(chars[chars.size() - 1 - n]); ++n)
    key += chars[chars.size() - 1 - n];
  return key.empty() ? RefWordLeft(text) : key;
}

std::u16string RefNeighbourRight(const std::u16string& text) {
  const std::vector<std::u16string> chars = Characters(text);
  std::u16string key;
  for (std::size_t n = 0; n < 3 && n < chars.size() && RefIsCjk(chars[n]); ++n) key += chars[n];
  return key.empty() ? RefWordRight(text) : key;
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

// Every match of every line that contains the filter, its key computed
// afresh, sorted on (key, place in the report).
Rows ReferenceRows(const ResultSet& set, ResultOrder order, const std::u16string& filter) {
  struct Row {
    std::u16string key;
    int file, line;
    std::uint32_t index, span;
  };
  std::vector<Row> rows;
  for (std::uint32_t i = 0; i < set.LineCount(); ++i) {
    const ResultLine line = set.Line(i);
    const std::u16string text(line.text);
    if (Lower(text).find(Lower(filter)) == std::u16string::npos) continue;
    for (int s = 0; s < line.count; ++s) {
      const std::size_t start = static_cast<std::size_t>(line.spans[s].start);
      const std::size_t end = start + static_cast<std::size_t>(line.spans[s].length);
      std::u16string key;
      if (order == ResultOrder::kMatch) key = text.substr(start, end - start);
      if (order == ResultOrder::kLeft) key = RefNeighbourLeft(text.substr(0, start));
      if (order == ResultOrder::kRight) key = RefNeighbourRight(text.substr(end));
      rows.push_back({key, line.file, line.line, i, static_cast<std::uint32_t>(s)});
    }
  }
  std::sort(rows.begin(), rows.end(), [order](const Row& a, const Row& b) {
    if (order == ResultOrder::kFileAndLine) {
      return std::tie(a.file, a.line, a.span, a.index) < std::tie(b.file, b.line, b.span, b.index);
    }
    return std::tie(a.key, a.index, a.span) < std::tie(b.key, b.index, b.span);
  });
  Rows out;
  for (const Row& row : rows) out.emplace_back(row.index, row.span);
  return out;
}

// Lines made of a few words and separators, with many equal matches, words
// and places, so that every order has ties to keep in report order.
std::vector<LineSpec> GeneratedLines(int count, unsigned seed) {
  // Words run into each other (no separator) and CJK words of one, two
  // and three characters, so that matches have CJK neighbours near and far.
  static const std::vector<std::u16string> kWords = {
      u"sea", u"Sea", u"see", u"a", u"B", u"\u4E2D\u6587", u"\U0001F600", u"x_1", u"\u7684",
      u"\u65F6\u95F4", u"\u306E\U00020000\u7684"};
  static const std::vector<std::u16string> kSeparators = {u" ", u", ", u"\uFF0C", u"\u2014",
                                                          u"\u3002 ", u"", u""};
  std::mt19937 random(seed);
  const auto pick = [&random](std::size_t n) {
    return static_cast<std::size_t>(std::uniform_int_distribution<std::size_t>(0, n - 1)(random));
  };
  std::vector<LineSpec> lines;
  for (int i = 0; i < count; ++i) {
    LineSpec line{static_cast<int>(pick(3)), static_cast<int>(1 + pick(20)), u"", {}};
    const std::size_t words = 1 + pick(5);
    for (std::size_t w = 0; w < words; ++w) {
      if (w > 0 || pick(2) == 0) line.text += kSeparators[pick(kSeparators.size())];
      const std::u16string& word = kWords[pick(kWords.size())];
      const int start = static_cast<int>(line.text.size());
      line.text += word;
      if (pick(2) == 0 || (w + 1 == words && line.spans.empty())) {
        line.spans.push_back({start, pick(8) == 0 ? 0 : static_cast<int>(word.size())});
      }
    }
    if (pick(2) == 0) line.text += kSeparators[pick(kSeparators.size())];
    lines.push_back(line);
  }
  return lines;
}

constexpr ResultOrder kOrders[] = {ResultOrder::kReport, ResultOrder::kFileAndLine, ResultOrder::kMatch,
                                   ResultOrder::kLeft, ResultOrder::kRight};

// ---- The line store ----

TEST(ResultSet, KeepsEachLineWithItsMatchesAndCountsThemInItsFile) {
  ResultSet set;
  Fill(set, 2, {{1, 7, u"one two one", {{0, 3}, {8, 3}}}, {0, 2, u"two", {{0, 3}}}, {1, 9, u"x", {{0, 0}}}});
  ASSERT_EQ(set.LineCount(), 3u);
  EXPECT_EQ(set.HitCount(), 4u);
  const ResultLine first = set.Line(0);
  EXPECT_EQ(first.file, 1);
  EXPECT_EQ(first.line, 7);
  EXPECT_EQ(first.count, 2);
  EXPECT_EQ(first.text, u" one two one ");
  EXPECT_EQ(first.spans[1].start, 9);
  EXPECT_EQ(set.Line(1).text, u" two ");
  EXPECT_EQ(set.Line(2).text, u" x ");
  EXPECT_EQ(set.Line(2).spans[0].length, 0);
  EXPECT_EQ(set.Files()[0].lines, 1);
  EXPECT_EQ(set.Files()[0].matches, 1);
  EXPECT_EQ(set.Files()[1].lines, 2);
  EXPECT_EQ(set.Files()[1].matches, 3);
}

TEST(ResultSet, RejectsMatchesOutsideTheLineOrOutOfOrderAndUnknownFiles) {
  ResultSet set;
  Fill(set, 1, {});
  EXPECT_THROW(set.AddLine(1, 1, u"abc", {{0, 1}}), std::out_of_range);
  EXPECT_THROW(set.AddLine(-1, 1, u"abc", {{0, 1}}), std::out_of_range);
  EXPECT_THROW(set.AddLine(0, 1, u"abc", {{2, 2}}), std::out_of_range);
  EXPECT_THROW(set.AddLine(0, 1, u"abc", {{-1, 1}}), std::out_of_range);
  EXPECT_THROW(set.AddLine(0, 1, u"abc", {{2, 1}, {0, 1}}), std::out_of_range);
  EXPECT_EQ(set.LineCount(), 0u);
  EXPECT_EQ(set.HitCount(), 0u);
  EXPECT_EQ(set.Files()[0].lines, 0);
  AddPadded(set, 0, 1, u"abc", {{1, 1}, {3, 0}});
  EXPECT_EQ(set.HitCount(), 2u);
}

// ---- Orders and the filter ----

TEST(ResultView, StartsWithEveryMatchInReportOrder) {
  ResultSet set;
  Fill(set, 1, {{0, 5, u"aa", {{0, 1}, {1, 1}}}, {0, 2, u"b", {{0, 1}}}, {0, 9, u"cc", {{0, 0}, {2, 0}}}});
  const ResultView view(set);
  EXPECT_EQ(RowsOf(view), (Rows{{0, 0}, {0, 1}, {1, 0}, {2, 0}, {2, 1}}));
  EXPECT_EQ(view.Line(2).text, u" b ");
}

TEST(ResultView, EveryOrderMatchesAPlainStableSortWithAndWithoutAFilter) {
  ResultSet set;
  Fill(set, 3, GeneratedLines(700, 20240611));
  ResultView view(set);
  for (const std::u16string& filter : {std::u16string(), std::u16string(u"SEA"), std::u16string(u"\u4E2D")}) {
    for (const ResultOrder order : kOrders) {
      view.Arrange(order, filter, nullptr, nullptr);
      const Rows expected = ReferenceRows(set, order, filter);
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(RowsOf(view), expected) << "order " << static_cast<int>(order) << ", filter size "
                                        << filter.size();
    }
  }
}

TEST(ResultView, ComparesTextsByCodeUnit) {
  // Capitals before small letters, a supplementary character (high
  // surrogate, D800-DBFF) before U+FF01, and a prefix before its extensions.
  ResultSet set;
  Fill(set, 1, {{0, 1, u"\uFF01", {{0, 1}}}, {0, 2, u"b", {{0, 1}}}, {0, 3, u"\U0001F600", {{0, 2}}},
                {0, 4, u"B", {{0, 1}}}, {0, 5, u"bb", {{0, 2}}}});
  ResultView view(set);
  view.Arrange(ResultOrder::kMatch, u"", nullptr, nullptr);
  EXPECT_EQ(RowsOf(view), (Rows{{3, 0}, {1, 0}, {4, 0}, {2, 0}, {0, 0}}));
}

TEST(ResultView, FilterKeepsEveryMatchOfTheLinesThatContainItIgnoringAsciiCaseOnly) {
  ResultSet set;
  Fill(set, 1, {{0, 1, u"The Sea", {{0, 3}}},
                {0, 2, u"nothing here", {{0, 7}, {8, 4}}},
                {0, 3, u"SEAT and sea", {{5, 3}, {9, 3}}},
                {0, 4, u"s\u00E9a", {{0, 3}}},
                {0, 5, u"se", {{0, 2}}}});
  ResultView view(set);
  // The filter is looked for in the whole line, not only in the match.
  view.Arrange(ResultOrder::kReport, u"sEa", nullptr, nullptr);
  EXPECT_EQ(RowsOf(view), (Rows{{0, 0}, {2, 0}, {2, 1}}));
  // Letters outside ASCII keep their case.
  view.Arrange(ResultOrder::kReport, u"S\u00C9A", nullptr, nullptr);
  EXPECT_EQ(view.RowCount(), 0u);
  view.Arrange(ResultOrder::kReport, u"S\u00E9A", nullptr, nullptr);
  EXPECT_EQ(RowsOf(view), (Rows{{3, 0}}));
  view.Arrange(ResultOrder::kReport, u"here and", nullptr, nullptr);
  EXPECT_EQ(view.RowCount(), 0u);
  view.Arrange(ResultOrder::kMatch, u"", nullptr, nullptr);
  EXPECT_EQ(view.RowCount(), 7u);
}

// ---- A row's context and the words beside its match ----

TEST(ResultView, ContextCutsTheLineAtTheMatchIncludingEmptyMatchesAtItsEnds) {
  ResultSet set;
  // U+1F600 is a surrogate pair at units 2-3.
  Fill(set, 1, {{0, 1, u"ab\U0001F600cd", {{0, 0}, {2, 2}, {4, 2}, {6, 0}}},
                {0, 2, u"\U0001F600x\U0001F600", {{2, 1}}}});
  const ResultView view(set);
  struct Expected {
    std::u16string left, match, right;
  };
  const std::vector<Expected> expected = {{u"", u"", u"ab\U0001F600cd"},
                                          {u"ab", u"\U0001F600", u"cd"},
                                          {u"ab\U0001F600", u"cd", u""},
                                          {u"ab\U0001F600cd", u"", u""},
                                          {u"\U0001F600", u"x", u"\U0001F600"}};
  ASSERT_EQ(view.RowCount(), expected.size());
  for (std::size_t row = 0; row < expected.size(); ++row) {
    const Kwic kwic = view.Context(row);
    EXPECT_EQ(kwic.left, expected[row].left) << row;
    EXPECT_EQ(kwic.match, expected[row].match) << row;
    EXPECT_EQ(kwic.right, expected[row].right) << row;
  }
}

TEST(ResultView, WordLeftOfTakesTheNearestWordAndKeepsSurrogatePairsWhole) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"the big ", u"big"},
      {u"", u""},
      {u"  ,, ", u""},
      {u"foo_bar2", u"foo_bar2"},
      {u"x \U0001F600\U0001F600", u"\U0001F600\U0001F600"},
      {u"\u4E2D\u6587\uFF0C", u"\u4E2D\u6587"},
      {u"word\u2014", u"word"},
      {u"\u00ABmot\u00BB\u00A0", u"mot"},
      {u"caf\u00E9 \u00D7 ", u"caf\u00E9"},
      {u"\u4E00\u3000", u"\u4E00"},
      {u"\u0434\u043E\u043C!", u"\u0434\u043E\u043C"},
      // A surrogate half alone is not part of a word.
      {u"ab\xDC00", u"ab"},
      {u"x\xD83D", u"x"},
      {u"\xDE00" u"abc", u"abc"},
      {u"\xD83D" u"abc", u"abc"},
  };
  for (const auto& [text, word] : cases) EXPECT_EQ(ResultView::WordLeftOf(text), word);
}

TEST(ResultView, WordRightOfTakesTheNearestWordAndKeepsSurrogatePairsWhole) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u" big the", u"big"},
      {u"", u""},
      {u"\u3002 ", u""},
      {u"\U0001F600\U0001F600 x", u"\U0001F600\U0001F600"},
      {u"\uFF0C\u4E2D\u6587\u3002", u"\u4E2D\u6587"},
      {u"\u201Cquote\u201D", u"quote"},
      {u"x1_y", u"x1_y"},
      {u"\xDE00" u"abc", u"abc"},
      {u"ab\xD83D", u"ab"},
      {u"ab\xDC00" u"cd", u"ab"},
  };
  for (const auto& [text, word] : cases) EXPECT_EQ(ResultView::WordRightOf(text), word);
}

// ---- Cancel and progress ----

TEST(ResultView, CancelRaisesAndLeavesTheRowsAsTheyWere) {
  ResultSet set;
  Fill(set, 3, GeneratedLines(300, 7));
  ResultView view(set);
  view.Arrange(ResultOrder::kRight, u"a", nullptr, nullptr);
  const Rows before = RowsOf(view);
  ASSERT_NE(before, ReferenceRows(set, ResultOrder::kReport, u""));

  std::atomic<bool> cancel{true};
  for (const ResultOrder order : kOrders) {
    EXPECT_THROW(view.Arrange(order, u"", &cancel, nullptr), ECancelled);
    EXPECT_EQ(RowsOf(view), before);
  }
}

TEST(ResultView, CancelDuringALargeArrangeLeavesTheRowsAsTheyWere) {
  // Enough rows that the work reports progress many times before it ends;
  // the flag is set from the progress callback once the sort is well under
  // way (the sort is the larger, later part of the work).
  std::vector<LineSpec> lines;
  for (int i = 0; i < 50000; ++i) {
    const std::u16string word(1 + static_cast<std::size_t>(i * 7919 % 13), static_cast<char16_t>(u'a' + i % 26));
    lines.push_back({i % 3, 1 + i, u"x " + word + u" y " + word, {{0, 1}, {2, 1}, {4, 1}, {6, 1}}});
  }
  ResultSet set;
  Fill(set, 3, lines);
  ResultView view(set);
  view.Arrange(ResultOrder::kReport, u"B", nullptr, nullptr);
  const Rows before = RowsOf(view);

  for (const ResultOrder order : {ResultOrder::kLeft, ResultOrder::kFileAndLine}) {
    std::atomic<bool> cancel{false};
    std::vector<int> seen;
    EXPECT_THROW(view.Arrange(order, u"", &cancel,
                              [&](int percent) {
                                seen.push_back(percent);
                                if (percent >= 40) cancel = true;
                              }),
                 ECancelled);
    EXPECT_EQ(RowsOf(view), before);
    ASSERT_FALSE(seen.empty());
    EXPECT_LT(seen.back(), 100);
  }
}

TEST(ResultView, ProgressRisesFromZeroToAHundred) {
  ResultSet set;
  Fill(set, 3, GeneratedLines(40000, 11));
  ResultView view(set);
  std::vector<int> seen;
  view.Arrange(ResultOrder::kMatch, u"", nullptr, [&](int percent) { seen.push_back(percent); });
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// ---- Tables ----

std::string Collect(const std::function<void(const std::function<void(std::string_view)>&)>& produce) {
  std::string bytes;
  produce([&bytes](std::string_view piece) { bytes += piece; });
  return bytes;
}

std::string TableBytes(const ResultView& view, TableFormat format) {
  return Collect([&](const auto& write) { WriteTable(view, format, write); });
}

std::string JsonBytes(const ResultSet& set) {
  return Collect([&](const auto& write) { WriteJsonLines(set, write); });
}

TEST(ResultTables, CsvHasAMarkQuotesWhereNeededAndEndsLinesInCrLf) {
  ResultSet set;
  ResultFile file;
  file.path = "/c/a,b.txt";
  file.shown_name = "a,b.txt";
  set.AddFile(file);
  AddPadded(set, 0, 3, u"say \"hi\", x\ny", {{4, 4}});
  AddPadded(set, 0, 4, u"plain \u00E9", {{6, 1}});
  AddPadded(set, 0, 5, u"-1 +x, y", {{3, 2}});
  const ResultView view(set);
  EXPECT_EQ(TableBytes(view, TableFormat::kCsv),
            "\xEF\xBB\xBF"
            "file,line,count,left,match,right\r\n"
            "\"a,b.txt\",3,1,say ,\"\"\"hi\"\"\",\", x\ny\"\r\n"
            "\"a,b.txt\",4,1,plain ,\xC3\xA9,\r\n"
            "\"a,b.txt\",5,1,'-1 ,'+x,\", y\"\r\n");
}

TEST(ResultTables, TsvEscapesTabsLineBreaksAndBackslashes) {
  ResultSet set;
  ResultFile file;
  file.shown_name = "t\tx\ny\rz\\.txt";
  set.AddFile(file);
  AddPadded(set, 0, 1, u"a\tb\\c\r\nd \"q\", e", {{2, 1}});
  const ResultView view(set);
  EXPECT_EQ(TableBytes(view, TableFormat::kTsv),
            "file\tline\tcount\tleft\tmatch\tright\n"
            "t\\tx\\ny\\rz\\\\.txt\t1\t1\ta\\t\tb\t\\\\c\\r\\nd \"q\", e\n");
}

TEST(ResultTables, JsonLinesEscapeControlsAndCountCharactersNotUnits) {
  ResultSet set;
  ResultFile file;
  file.path = "/c/a.txt";
  file.shown_name = "a.txt";
  set.AddFile(file);
  AddPadded(set, 0, 3, u"\U0001F600\"x\\\x01\t", {{2, 1}, {3, 3}});
  EXPECT_EQ(JsonBytes(set),
            "{\"file\":\"a.txt\",\"path\":\"/c/a.txt\",\"line\":3,\"count\":2,\"start\":1,\"length\":1,"
            "\"match\":\"\\\"\",\"left\":\"\xF0\x9F\x98\x80\",\"right\":\"x\\\\\\u0001\\t\"}\n"
            "{\"file\":\"a.txt\",\"path\":\"/c/a.txt\",\"line\":3,\"count\":2,\"start\":2,\"length\":3,"
            "\"match\":\"x\\\\\\u0001\",\"left\":\"\xF0\x9F\x98\x80\\\"\",\"right\":\"\\t\"}\n");
}

// A script opens a file by "path"; where the name's bytes are not valid
// UTF-8, its text has U+FFFD in their place and cannot, so the bytes come
// along in base64.
TEST(ResultTables, JsonLinesGiveTheBytesOfNamesThatAreNotUtf8) {
  const struct {
    std::string path, shown_name;
    std::string members;  // what the object holds before "line"
  } cases[] = {
      {"/c/bad\xFF\xC3.txt", "bad\xFF\xC3.txt",
       "\"file\":\"bad\xEF\xBF\xBD\xEF\xBF\xBD.txt\",\"file_bytes\":\"YmFk/8MudHh0\","
       "\"path\":\"/c/bad\xEF\xBF\xBD\xEF\xBF\xBD.txt\",\"path_bytes\":\"L2MvYmFk/8MudHh0\""},
      // Only the folder's name is not valid UTF-8.
      {"/c\xE4\xB8/a.txt", "a.txt",
       "\"file\":\"a.txt\",\"path\":\"/c\xEF\xBF\xBD/a.txt\",\"path_bytes\":\"L2PkuC9hLnR4dA==\""},
      {"/c/x\xFF", "x\xFF",
       "\"file\":\"x\xEF\xBF\xBD\",\"file_bytes\":\"eP8=\",\"path\":\"/c/x\xEF\xBF\xBD\","
       "\"path_bytes\":\"L2MveP8=\""},
      // Valid UTF-8, a U+FFFD of its own and controls among it: text only.
      {"/c/\xEF\xBF\xBD\ttab\nline\\.txt", "\xEF\xBF\xBD\ttab\nline\\.txt",
       "\"file\":\"\xEF\xBF\xBD\\ttab\\nline\\\\.txt\","
       "\"path\":\"/c/\xEF\xBF\xBD\\ttab\\nline\\\\.txt\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ResultSet set;
    ResultFile file;
    file.path = c.path;
    file.shown_name = c.shown_name;
    set.AddFile(file);
    AddPadded(set, 0, 7, u"x", {{0, 1}});
    EXPECT_EQ(JsonBytes(set), "{" + c.members +
                                  ",\"line\":7,\"count\":1,\"start\":0,\"length\":1,"
                                  "\"match\":\"x\",\"left\":\"\",\"right\":\"\"}\n");
  }
}

TEST(ResultTables, CancelRaises) {
  ResultSet set;
  Fill(set, 1, {{0, 1, u"a", {{0, 1}}}});
  const ResultView view(set);
  std::atomic<bool> cancel{true};
  const auto ignore = [](std::string_view) {};
  EXPECT_THROW(WriteTable(view, TableFormat::kCsv, ignore, &cancel), ECancelled);
  EXPECT_THROW(WriteTable(view, TableFormat::kTsv, ignore, &cancel), ECancelled);
  EXPECT_THROW(WriteJsonLines(set, ignore, &cancel), ECancelled);
}

// ---- Tables read back by Python's readers ----

// Text as the reader prints it: the hex code points joined by '.', a
// surrogate pair as one character and a surrogate alone as U+FFFD.
std::string CodePointField(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(c));
    if (!out.empty()) out += '.';
    out += hex;
  }
  return out;
}

std::string CodePointField(const std::string& ascii) { return CodePointField(Utf8Decode(ascii)); }

// Bytes as the reader prints them: hex, joined by '.'.
std::string ByteField(const std::string& bytes) {
  std::string out;
  for (const char byte : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(byte));
    if (!out.empty()) out += '.';
    out += hex;
  }
  return out;
}

std::string CodePointCount(std::u16string_view text) {
  const std::string field = CodePointField(text);
  return CodePointField(std::to_string(field.empty() ? 0 : std::count(field.begin(), field.end(), '.') + 1));
}

std::string Join(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += '|';
    out += fields[i];
  }
  return out;
}

// Runs the reader on `bytes` and returns its lines; fails the test when it
// rejects them.
std::vector<std::string> ReadBack(const std::string& kind, const std::string& bytes) {
  TempFolder folder;
  const std::string path = folder / ("table." + kind);
  testing::WriteBytes(path, bytes);
  const std::string command =
      std::string("python3 '") + TALLYFOLD_TABLE_READER + "' " + kind + " '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output.substr(0, 2000);
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The rows of the view as a reader sees them. In CSV a cell that would
// start a formula has an apostrophe before it; with `context`, left and
// right keep that many characters next to the match.
std::vector<std::string> ExpectedTable(const ResultView& view, bool csv, int context = kWholeLine) {
  const auto cell = [csv](std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u" \t");
    const bool formula = !text.empty() && (text.front() == u'\t' || text.front() == u'\r' ||
                                           (first != std::u16string_view::npos &&
                                            std::u16string_view(u"=+-@|\uFF1D\uFF0B\uFF0D\uFF20").find(text[first]) !=
                                                std::u16string_view::npos));
    std::u16string shown(csv && formula ? 1 : 0, u'\'');
    shown.append(text);
    return CodePointField(shown);
  };
  const auto nearby = [context](std::u16string_view text, bool from_end) {
    std::vector<std::u16string> chars = Characters(std::u16string(text));
    const std::size_t keep = context < 0 ? chars.size() : std::min(chars.size(), static_cast<std::size_t>(context));
    if (from_end) chars.erase(chars.begin(), chars.end() - static_cast<std::ptrdiff_t>(keep));
    chars.resize(keep);
    std::u16string out;
    for (const std::u16string& c : chars) out += c;
    return out;
  };
  std::vector<std::string> rows = {Join({CodePointField(std::string("file")), CodePointField(std::string("line")),
                                         CodePointField(std::string("count")), CodePointField(std::string("left")),
                                         CodePointField(std::string("match")), CodePointField(std::string("right"))})};
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    const ResultLine line = view.Line(row);
    const Kwic kwic = view.Context(row);
    rows.push_back(Join({cell(Utf8Decode(view.Results().Files()[static_cast<std::size_t>(line.file)].shown_name)),
                         CodePointField(std::to_string(line.line)), CodePointField(std::to_string(line.count)),
                         cell(nearby(kwic.left, true)), cell(kwic.match), cell(nearby(kwic.right, false))}));
  }
  return rows;
}

std::vector<std::string> ExpectedJson(const ResultSet& set) {
  std::vector<std::string> rows;
  for (std::size_t i = 0; i < set.LineCount(); ++i) {
    const ResultLine line = set.Line(i);
    const ResultFile& file = set.Files()[static_cast<std::size_t>(line.file)];
    // The line as shown: without the space added at each end, which no
    // match of these lines touches.
    const std::u16string_view shown = line.text.substr(1, line.text.size() - 2);
    for (int s = 0; s < line.count; ++s) {
      const auto start = static_cast<std::size_t>(line.spans[s].start) - 1;
      const auto length = static_cast<std::size_t>(line.spans[s].length);
      const std::u16string_view left = shown.substr(0, start);
      const std::u16string_view match = shown.substr(start, length);
      rows.push_back(Join({CodePointField(file.shown_name), CodePointField(file.path),
                           CodePointField(std::to_string(line.line)), CodePointField(std::to_string(line.count)),
                           CodePointCount(left), CodePointCount(match), CodePointField(match),
                           CodePointField(left), CodePointField(shown.substr(start + length)),
                           ByteField(file.shown_name), ByteField(file.path)}));
    }
  }
  return rows;
}

// Lines with every character the formats treat specially: separators,
// quotes, line breaks, controls, backslashes, non-ASCII text, surrogate
// pairs, surrogates alone, and matches that cut a pair; file names that are
// not valid UTF-8, in part or in their folder only, and one with a tab, line
// breaks and a backslash.
void FillAwkward(ResultSet& set) {
  ResultFile named;
  named.path = "/corpus/\"odd\", name.txt";
  named.shown_name = "\"odd\", name.txt";
  set.AddFile(named);
  ResultFile bad;
  bad.path = "/corpus/bad\xFF\xC3.txt";
  bad.shown_name = "bad\xFF\xC3.txt";
  set.AddFile(bad);
  ResultFile controls;
  controls.path = "/corpus\xE4\xB8/tab\there\nnew\r\\line.txt";
  controls.shown_name = "tab\there\nnew\r\\line.txt";
  set.AddFile(controls);
  AddPadded(set, 2, 9, u"the name is the odd part", {{0, 3}});
  AddPadded(set, 0, 1, u"a,b \"c\" d\te\\f", {{0, 1}, {4, 3}, {10, 0}});
  // A NUL is an ordinary character of its line, written as the other
  // controls are (never raw in JSON).
  AddPadded(set, 1, 2, std::u16string(u"line\r\nbreak\rand\nmore\x01\x1F\b\f\0nul", 28),
            {{4, 2}, {11, 1}, {24, 2}});
  AddPadded(set, 0, 3, u"\U0001F600\u4E2D\xD800x\xDC00y\U0001F600", {{1, 2}, {3, 1}, {5, 1}});
  AddPadded(set, 1, 4, u"\U0001F600\U0001F601z", {{1, 2}, {3, 1}});
  AddPadded(set, 0, 5, u"\u00E9\u00E8 \\t \\n", {{0, 2}, {3, 2}, {8, 0}});
  // Cells a spreadsheet would run as formulas, in a file named like one.
  ResultFile formula;
  formula.path = "/corpus/=cmd.txt";
  formula.shown_name = "=cmd.txt";
  set.AddFile(formula);
  AddPadded(set, 3, 6, u"=1+2 @x -y +z", {{5, 2}, {8, 2}, {11, 2}});
  AddPadded(set, 3, 7, u"-a\tb\rc,=d", {{2, 2}, {4, 2}, {8, 0}});
  AddPadded(set, 3, 8, u"@SUM(A1)", {{0, 1}});
}

// A search matches " " + line + " ": a match may lie on one of those
// spaces or beside it, but what is shown and written is the line itself.
TEST(ResultView, TheSpacesAddedAtTheLineEndsAreNotShown) {
  ResultSet set;
  Fill(set, 1, {});
  set.AddLine(0, 1, u" a b ", {{0, 1}, {2, 1}, {4, 1}});  // \s
  set.AddLine(0, 2, u" ab ", {{0, 0}, {1, 0}, {4, 0}});   // x*
  const ResultView view(set);
  const auto shown = [&view](std::size_t row) {
    const Kwic kwic = view.Context(row);
    return std::u16string(kwic.left) + u"[" + std::u16string(kwic.match) + u"]" +
           std::u16string(kwic.right);
  };
  ASSERT_EQ(view.RowCount(), 6u);
  EXPECT_EQ(shown(0), u"[]a b");
  EXPECT_EQ(shown(1), u"a[ ]b");
  EXPECT_EQ(shown(2), u"a b[]");
  EXPECT_EQ(shown(3), u"[]ab");
  EXPECT_EQ(shown(4), u"[]ab");
  EXPECT_EQ(shown(5), u"ab[]");
  std::string json;
  WriteJsonLines(set, [&json](std::string_view bytes) { json += bytes; });
  std::vector<std::string> starts;
  for (std::size_t at = json.find("\"start\":"); at != std::string::npos;
       at = json.find("\"start\":", at + 1))
    starts.push_back(json.substr(at + 8, json.find(',', at) - at - 8));
  EXPECT_EQ(starts, (std::vector<std::string>{"0", "1", "3", "0", "0", "2"}));
}

TEST(ResultTables, CsvAndTsvReadBackAsTheViewsRows) {
  if (wine::UnderWine()) GTEST_SKIP() << "the tables are read back by the host's Python";
  ResultSet set;
  FillAwkward(set);
  Fill(set, 2, GeneratedLines(2000, 99));  // more than one piece of output
  ResultView view(set);
  const struct {
    ResultOrder order;
    std::u16string filter;
    int context;
  } cases[] = {{ResultOrder::kReport, u"", kWholeLine},
               {ResultOrder::kRight, u"E", kWholeLine},
               {ResultOrder::kLeft, u"", 0},
               {ResultOrder::kReport, u"", 1},
               {ResultOrder::kMatch, u"", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.context);
    view.Arrange(c.order, c.filter, nullptr, nullptr);
    const auto bytes = [&](TableFormat format) {
      return Collect([&](const auto& write) { WriteTable(view, format, write, nullptr, c.context); });
    };
    ASSERT_GT(view.RowCount(), 100u);
    EXPECT_EQ(ReadBack("csv", bytes(TableFormat::kCsv)), ExpectedTable(view, true, c.context));
    EXPECT_EQ(ReadBack("tsv", bytes(TableFormat::kTsv)), ExpectedTable(view, false, c.context));
    // The text the clipboard gets is the TSV table, unit for unit (lone
    // surrogates among the rows included).
    std::u16string text;
    WriteTableText(view, TableFormat::kTsv, [&text](std::u16string_view rows) { text += rows; },
                   nullptr, c.context);
    EXPECT_EQ(Utf8Encode(text), bytes(TableFormat::kTsv));
    EXPECT_EQ(Utf8Decode(bytes(TableFormat::kTsv)), text);
    // The size the copy reserves is the text's within a tenth, escapes and
    // context cut at surrogates aside.
    const std::size_t hint = TableTextSizeHint(view, c.context);
    EXPECT_GE(hint * 10, text.size() * 9);
    EXPECT_LE(hint * 10, text.size() * 11);
  }
}

// The text whose code points the reader printed as hex joined by '.'.
std::u16string FromCodePointField(const std::string& field) {
  std::u16string text;
  std::istringstream in(field);
  for (std::string hex; std::getline(in, hex, '.');) {
    const auto c = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
    if (c < 0x10000) {
      text += static_cast<char16_t>(c);
    } else {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return text;
}

std::vector<std::string> FieldsOf(const std::string& row) {
  std::vector<std::string> fields;
  std::istringstream in(row + "|");
  for (std::string field; std::getline(in, field, '|');) fields.push_back(field);
  return fields;
}

// The forms as the JSON Lines rows of the same results add them up, read
// by Python's json module, against the forms table read back as TSV.
TEST(MatchForms, AddUpToTheJsonLinesRows) {
  if (wine::UnderWine()) GTEST_SKIP() << "the tables are read back by the host's Python";
  ResultSet set;
  FillAwkward(set);
  Fill(set, 2, GeneratedLines(3000, 77));
  const ResultView view(set);
  const std::vector<std::string> json = ReadBack("jsonl", JsonBytes(set));
  ASSERT_EQ(json.size(), set.HitCount());
  for (const bool fold : {false, true}) {
    SCOPED_TRACE(fold);
    struct Counts {
      std::size_t matches = 0;
      std::set<std::pair<std::string, std::string>> lines;  // path bytes, line
      std::set<std::string> files;
    };
    std::map<std::u16string, Counts> counted;
    for (const std::string& row : json) {
      const std::vector<std::string> fields = FieldsOf(row);  // file, path, line, ..., match at 6
      Counts& counts = counted[fold ? Lower(FromCodePointField(fields[6])) : FromCodePointField(fields[6])];
      ++counts.matches;
      counts.lines.emplace(fields[10], fields[2]);
      counts.files.insert(fields[10]);
    }
    std::vector<std::pair<std::u16string, const Counts*>> forms;
    for (const auto& [form, counts] : counted) forms.emplace_back(form, &counts);
    std::stable_sort(forms.begin(), forms.end(), [](const auto& a, const auto& b) {
      return a.second->matches > b.second->matches;  // map order: by form within a count
    });
    std::vector<std::string> expected = {Join({CodePointField(std::string("form")), CodePointField(std::string("matches")),
                                               CodePointField(std::string("lines")), CodePointField(std::string("files"))})};
    for (const auto& [form, counts] : forms) {
      expected.push_back(Join({CodePointField(form), CodePointField(std::to_string(counts->matches)),
                               CodePointField(std::to_string(counts->lines.size())),
                               CodePointField(std::to_string(counts->files.size()))}));
    }
    ASSERT_GT(expected.size(), 10u);
    const std::string bytes = Collect([&](const auto& write) { WriteForms(CountForms(view, fold), write); });
    EXPECT_EQ(ReadBack("tsv", bytes), expected);
  }
}

TEST(MatchForms, CountOnlyTheRowsShownAndCancel) {
  ResultSet set;
  Fill(set, 2, {{0, 1, u"ab AB ab", {{0, 2}, {3, 2}, {6, 2}}}, {1, 1, u"ab x", {{0, 2}, {3, 0}}}, {1, 2, u"AB", {{0, 2}}}});
  ResultView view(set);
  view.Arrange(ResultOrder::kReport, u"x", nullptr, nullptr);
  const std::vector<MatchForm> forms = CountForms(view, false);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[0].form, u"");  // ties in count go by form
  EXPECT_EQ(forms[1].form, u"ab");
  EXPECT_EQ(forms[1].matches, 1u);
  view.Arrange(ResultOrder::kReport, u"nothing", nullptr, nullptr);
  EXPECT_TRUE(CountForms(view, true).empty());
  std::atomic<bool> cancel{true};
  EXPECT_THROW(CountForms(view, false, &cancel), ECancelled);
}

TEST(ResultTables, JsonLinesReadBackAsEveryMatchInReportOrder) {
  if (wine::UnderWine()) GTEST_SKIP() << "the tables are read back by the host's Python";
  ResultSet set;
  FillAwkward(set);
  Fill(set, 2, GeneratedLines(2000, 5));
  ResultView view(set);
  view.Arrange(ResultOrder::kMatch, u"sea", nullptr, nullptr);  // the view's order does not matter
  const std::vector<std::string> expected = ExpectedJson(set);
  ASSERT_EQ(expected.size(), set.HitCount());
  EXPECT_EQ(ReadBack("jsonl", JsonBytes(set)), expected);
}

}  // namespace
}  // namespace tallyfold
