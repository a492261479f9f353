// Reading a matching line again from its file: every line of files in
// several encodings, as the search read them, against the whole file read
// into a list by the text layer; the matches placed. (A line gone, and a
// file gone, are the viewer's errors in tests/ui/ResultsWindowTest.cpp.)
#include "app/LineInFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "text/StringList.h"
#include "text/TextFile.h"

namespace tallyfold::testing {
namespace {

// A ResultSet of the one file at `path`, read as `read` says.
ResultSet OneFile(const std::string& path, const TTextReadInfo& read) {
  ResultSet results;
  results.AddFile(ResultFile{path, "f.txt", 0, 0, 0, read});
  return results;
}

TEST(LineInFile, EveryLineWithItsContextIsTheTextLayersWholeFile) {
  TempFolder folder;
  using namespace std::string_literals;
  const std::u16string mixed = u"第一行\r\n\r\n  大海 the sea  \rtab\there\nNUL\0in it\r\n\nlast"s;
  const struct {
    const char* name;
    std::string bytes;
    const char* decoding;  // the search's setting
  } files[] = {
      {"utf8.txt", Utf8Bytes(mixed), "auto"},
      {"utf16.txt", "\xFF\xFE" + Utf16LeBytes(mixed), "auto"},
      // 第一行 / 大海 the sea / last in GB18030, without a mark.
      {"gb.txt", "\xB5\xDA\xD2\xBB\xD0\xD0\r\n  \xB4\xF3\xBA\xA3 the sea\n\nlast\n", "auto"},
      // Read as named, though the automatic choice would differ now.
      {"named.txt", "\xB5\xDA\xD2\xBB\r\n\xD0\xD0 \xB4\xF3\nend", "WINDOWS-1252"},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const std::string path = folder / file.name;
    WriteBytes(path, file.bytes);
    TUnicodeStringList whole;
    TTextReadInfo read;
    ReadTextFileAs(whole, path, TextDecodingNamed(file.decoding), nullptr, &read);
    const ResultSet results = OneFile(path, read);
    const int count = whole.ItemCount();
    ASSERT_GE(count, 3);
    for (int number = 1; number <= count; ++number) {
      for (const int around : {0, 2}) {
        const LineInContext context =
            ReadLineInContext(results, ResultLine{0, number, 0, u"", nullptr}, around);
        const int first = std::max(1, number - around);
        const int last = std::min(count, number + around);
        std::u16string expected;
        std::size_t line_start = 0;
        for (int at = first; at <= last; ++at) {
          if (at > first) expected += u'\n';
          if (at == number) line_start = expected.size();
          expected += whole.ItemRef(at - 1);
        }
        EXPECT_EQ(context.text, expected) << "line " << number << ", around " << around;
        EXPECT_EQ(context.first_line, first);
        EXPECT_EQ(context.line_start, line_start);
        EXPECT_EQ(context.line_length, whole.ItemRef(number - 1).size());
      }
    }
  }
}

// The kept text starts after the line's leading blanks, with the space the
// search adds; a match over that space keeps what lies within the line.
TEST(LineInFile, TheMatchesAreFoundWhereTheLineHoldsThem) {
  TempFolder folder;
  const std::string path = folder / "a.txt";
  WriteBytes(path, "first\n  the cat and the dog \nlast\n");
  TTextReadInfo read;
  read.codeset = "UTF-8";
  const ResultSet results = OneFile(path, read);
  const std::u16string kept = u" the cat and the dog ";
  const MatchSpan spans[] = {{1, 3}, {13, 3}, {0, 4}};
  const LineInContext context =
      ReadLineInContext(results, ResultLine{0, 2, 3, kept, spans}, 1);
  EXPECT_EQ(context.line_start, 6u);
  const std::vector<std::pair<std::size_t, std::size_t>> expected = {
      {6 + 2, 3}, {6 + 2 + 12, 3}, {6 + 2, 3}};
  EXPECT_EQ(context.matches, expected);
  EXPECT_EQ(context.line_matches, 0u);
}

// The search's other lines in the text shown have their matches placed too,
// in the order of the text; lines outside it and other files' lines do not.
TEST(LineInFile, TheOtherMatchingLinesShownHaveTheirMatches) {
  TempFolder folder;
  const std::string path = folder / "a.txt";
  WriteBytes(path, "a cat\nthe cat\nno\ncat cat\nfar cat\n");
  TTextReadInfo read;
  read.codeset = "UTF-8";
  ResultSet results = OneFile(path, read);
  results.AddFile(ResultFile{folder / "b.txt", "b.txt", 0, 0, 0, read});
  results.AddLine(0, 4, u" cat cat ", {{1, 3}, {5, 3}});
  results.AddLine(0, 1, u" a cat ", {{3, 3}});
  results.AddLine(1, 3, u" cat ", {{1, 3}});     // another file
  results.AddLine(0, 5, u" far cat ", {{5, 3}});  // beyond the text shown
  const MatchSpan spans[] = {{5, 3}};
  const LineInContext context =
      ReadLineInContext(results, ResultLine{0, 2, 1, u" the cat ", spans}, 2);
  EXPECT_EQ(context.text, u"a cat\nthe cat\nno\ncat cat");
  const std::vector<std::pair<std::size_t, std::size_t>> expected = {
      {2, 3}, {10, 3}, {17, 3}, {21, 3}};
  EXPECT_EQ(context.matches, expected);
  EXPECT_EQ(context.line_matches, 1u);
}

}  // namespace
}  // namespace tallyfold::testing
