// Tests of the corpus scan: counting, highlighting in agreement with the
// count, escaping (with what XML cannot hold replaced), the match entry,
// line numbering and the scan's failures.
#include "app/CorpusScan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "platform/DirList.h"
#include "text/TextFile.h"
#include "text/TextLines.h"
#include "text/ListItems.h"

namespace tallyfold {
namespace {

using testing::Info;
using testing::kEnd;
using testing::kKey;
using testing::MakeFolder;
using testing::kSlash;
using testing::TempFolder;
using testing::WindowsForbidsName;
using testing::WriteBytes;

using test::Items;

TEST(CountMatches, CountsWithExecAndExecNext) {
  struct Case {
    const char16_t* pattern;
    const char16_t* line;
    int count;
    std::vector<MatchSpan> spans;
  };
  const std::vector<Case> cases = {
      {u"\\b", u" ab ", 2, {{1, 0}, {3, 0}}},
      {u"x*", u" ab ", 5, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {u"a*", u" aab ", 5, {{0, 0}, {1, 2}, {3, 0}, {4, 0}, {5, 0}}},
      {u"a", u"", 0, {}},
      {u"\\bthe\\b", u" The theme, the end ", 2, {{1, 3}, {12, 3}}},
  };
  for (const Case& c : cases) {
    TRegexEngine engine;
    engine.SetModifier(1, true);
    std::vector<MatchSpan> spans;
    EXPECT_EQ(CountMatches(engine, c.pattern, c.line, &spans), c.count)
        << testing::Utf8Bytes(c.pattern);
    ASSERT_EQ(spans.size(), c.spans.size()) << testing::Utf8Bytes(c.pattern);
    for (std::size_t i = 0; i < spans.size(); ++i) {
      EXPECT_EQ(spans[i].start, c.spans[i].start) << testing::Utf8Bytes(c.pattern) << " #" << i;
      EXPECT_EQ(spans[i].length, c.spans[i].length) << testing::Utf8Bytes(c.pattern) << " #" << i;
    }
  }
}

// The highlighting built from the counted spans must be exactly what
// ReplaceAll with "$&" and the same expression gives, with the corpus text
// escaped and the markup not. Private-use marks stand in for the markup in
// the ReplaceAll pass, so escaping can be applied to the text alone.
TEST(Highlight, AgreesWithReplaceAllOfTheSameExpression) {
  struct Case {
    const char16_t* pattern;
    const char16_t* line;
  };
  const std::vector<Case> cases = {
      {u"\\bthe\\b", u" The theme, the end "},
      {u"x*", u" ab "},
      {u"x*", u" xx "},
      {u"a*", u" aab "},
      {u"(a)\\1", u" aa a aaaa "},
      {u"<[^>]*>", u" a <b> & \"c\" "},
      {u"&|\"", u" & && \"q\" "},
      {u"\\s", u" a\tb "},
      {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)", u" abcdefghijklmn abcdefghijklmn "},
      {u"猫", u" 猫\u3000猫 "},
      {u"zzz", u" <no match> "},
  };
  for (const Case& c : cases) {
    TRegexEngine counting;
    std::vector<MatchSpan> spans;
    const int count = CountMatches(counting, c.pattern, c.line, &spans);
    const std::u16string highlighted = Highlight(c.line, spans, kKey, kEnd);

    TRegexEngine replacing;
    replacing.SetExpression(c.pattern);
    const std::u16string marked = replacing.ReplaceAll(c.line, u"\uE000$&\uE001", true);
    std::u16string expected;
    int wrapped = 0;
    for (const char16_t ch : EscapeHtml(marked)) {
      if (ch == u'\uE000') {
        expected += kKey;
        ++wrapped;
      } else if (ch == u'\uE001') {
        expected += kEnd;
      } else {
        expected += ch;
      }
    }
    EXPECT_EQ(highlighted, expected) << testing::Utf8Bytes(c.pattern);
    EXPECT_EQ(wrapped, count) << testing::Utf8Bytes(c.pattern);
  }
}

TEST(EscapeHtml, EscapesTheFourMarkupCharactersOnly) {
  EXPECT_EQ(EscapeHtml(std::u16string_view(u"a&b<c>d\"e'f\u3000")),
            u"a&amp;b&lt;c&gt;d&quot;e'f\u3000");
  EXPECT_EQ(EscapeHtml(std::string_view("&amp;")), "&amp;amp;");
  EXPECT_EQ(EscapeHtml(std::string_view("")), "");
}

// What strict UTF-16 decoders and XML reject becomes U+FFFD, one unit for
// one; everything else, tab, DEL and whole surrogate pairs among it, stays.
TEST(EscapeHtml, WritesWhatXmlCannotHoldAsReplacementCharacters) {
  struct Case {
    std::u16string text;
    std::u16string escaped;
  };
  const std::vector<Case> cases = {
      {u"a\x01" u"b\x1F" u"c\td\x7F", u"a\uFFFDb\uFFFDc\td\x7F"},
      {u"\xFFFE<\xFFFF>\uFFFD\uE000", u"\uFFFD&lt;\uFFFD&gt;\uFFFD\uE000"},
      {u"x\xD800", u"x\uFFFD"},
      {u"\xDC00x", u"\uFFFDx"},
      {u"\xDC00\xD800", u"\uFFFD\uFFFD"},
      {u"\xD83D\xDE00&", u"\xD83D\xDE00&amp;"},
      {u"\xD800\xD83D\xDE00\xDE00", u"\uFFFD\xD83D\xDE00\uFFFD"},
      {u"\xDBFF\xDFFF\xD800\xDC00", u"\xDBFF\xDFFF\xD800\xDC00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EscapeHtml(std::u16string_view(c.text)), c.escaped) << testing::Utf8Bytes(c.text);
  // Byte strings are widened first and checked then (InfoFragment).
  EXPECT_EQ(EscapeHtml(std::string_view("a\x01&")), "a\x01&amp;");
}

TEST(Highlight, ASurrogatePairCutByASpanIsReplacedOnBothSides) {
  const std::u16string line = u" a\xD83D\xDE00" u"b ";
  EXPECT_EQ(Highlight(line, std::vector<MatchSpan>{{2, 1}}, u"[", u"]"), u" a[\uFFFD]\uFFFDb ");
  EXPECT_EQ(Highlight(line, std::vector<MatchSpan>{{3, 2}}, u"[", u"]"), u" a\uFFFD[\uFFFDb] ");
  EXPECT_EQ(Highlight(line, std::vector<MatchSpan>{{2, 2}}, u"[", u"]"), u" a[\xD83D\xDE00]b ");
}

TEST(FileNameOf, TakesThePartAfterTheLastSlash) {
  EXPECT_EQ(FileNameOf("/c/a.txt"), "a.txt");
  EXPECT_EQ(FileNameOf("/c//a.txt"), "a.txt");
  EXPECT_EQ(FileNameOf("a.txt"), "a.txt");
#ifdef _WIN32
  EXPECT_EQ(FileNameOf("C:\\c/d\\e.txt"), "e.txt");
#else
  EXPECT_EQ(FileNameOf("/c/d\\e.txt"), "d\\e.txt");
#endif
}

TEST(InfoFragment, LinksToTheFileAndNamesTheLine) {
  EXPECT_EQ(InfoFragment("/c/a.txt", 3),
            u" <span class=\"info\"><a href=\"/c/a.txt\" target=\"_blank\">(<span "
            u"class=\"file\">a.txt</span>, <span class=\"line\">Line 3</span>)</a></span>");
  EXPECT_EQ(InfoFragment("/c%/#?&/x\"<y>.txt", 12),
            u" <span class=\"info\"><a href=\"/c%25/%23%3F&amp;/x&quot;&lt;y&gt;.txt\" "
            u"target=\"_blank\">(<span class=\"file\">x&quot;&lt;y&gt;.txt</span>, <span "
            u"class=\"line\">Line 12</span>)</a></span>");
  EXPECT_EQ(InfoFragment("/语料/读书.txt", 1),
            u" <span class=\"info\"><a href=\"/语料/读书.txt\" target=\"_blank\">(<span "
            u"class=\"file\">读书.txt</span>, <span class=\"line\">Line 1</span>)</a></span>");
  // Control bytes are percent-encoded in the link and shown as U+FFFD, tab
  // and DEL kept; U+FFFF, which a name's bytes can decode to, is replaced.
  EXPECT_EQ(InfoFragment("/c/t\x01\x1F\t\x7F\xEF\xBF\xBF.txt", 2),
            u" <span class=\"info\"><a href=\"/c/t%01%1F%09%7F\uFFFD.txt\" "
            u"target=\"_blank\">(<span class=\"file\">t\uFFFD\uFFFD\t\x7F\uFFFD.txt</span>, "
            u"<span class=\"line\">Line 2</span>)</a></span>");
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() { matches_.SetPairSeparator(u'='); }

  TempFolder folder_;
  TUnicodeStringList matches_;
};

TEST_F(ScanTest, NumbersEveryLineAndSkipsBlankOnes) {
  const std::string path = folder_ / "a.txt";
  WriteBytes(path, "\r\n  \t \r\nThe cat sat.\r\n\x01\x02\r\nCAT\r\n\tcat\t\r\n");
  ScanFile(u"\\bcat\\b", path, false, matches_);
  EXPECT_EQ(Items(matches_),
            (std::vector<std::u16string>{
                u"1= The " + kKey + u"cat" + kEnd + u" sat. " + Info(path, "a.txt", 3),
                u"1= " + kKey + u"CAT" + kEnd + u" " + Info(path, "a.txt", 5),
                u"1= " + kKey + u"cat" + kEnd + u" " + Info(path, "a.txt", 6),
            }));

  matches_.ClearItems();
  ScanFile(u"\\bcat\\b", path, true, matches_);
  EXPECT_EQ(Items(matches_),
            (std::vector<std::u16string>{
                u"1= The " + kKey + u"cat" + kEnd + u" sat. " + Info(path, "a.txt", 3),
                u"1= " + kKey + u"cat" + kEnd + u" " + Info(path, "a.txt", 6),
            }));
}

// A back-reference that backtracks past the budget on one line ends the
// scan with the engine's error, naming the file and the line, and keeps
// the entries of the lines before it; no line is passed over as if it had
// no match.
TEST_F(ScanTest, ALineThatMustBacktrackTooLongIsAnErrorNamingItsPlace) {
  const std::string path = folder_ / "a.txt";
  WriteBytes(path, "aab\r\n\r\n" + std::string(30, 'a') + "!b\r\naab\r\n");
  try {
    ScanFile(u"(a+)+\\1b", path, false, matches_);
    ADD_FAILURE() << "no error";
  } catch (const ERegexEngine& error) {
    EXPECT_EQ(error.Code, kErrorStepBudget);
    EXPECT_EQ(std::string(error.what()),
              "TRegexEngine(exec): Backtracking Step Budget Exceeded, Try A Simpler Pattern (\"" +
                  path + "\", line 3)");
  }
  EXPECT_EQ(matches_.ItemCount(), 1);
}

TEST_F(ScanTest, AddedSpacesCanBeMatchedAndAreHighlighted) {
  const std::string path = folder_ / "s.txt";
  WriteBytes(path, "the end the\n");
  ScanFile(u"\\sthe\\s", path, false, matches_);
  EXPECT_EQ(Items(matches_), (std::vector<std::u16string>{
                                   u"2=" + kKey + u" the " + kEnd + u"end" + kKey + u" the " +
                                   kEnd + Info(path, "s.txt", 1)}));
}

TEST_F(ScanTest, OnlyAsciiLettersAreFolded) {
  const std::string path = folder_ / "e.txt";
  WriteBytes(path, testing::Utf8Bytes(u"É é E e") + "\n");
  ScanFile(u"é", path, false, matches_);
  ScanFile(u"e", path, false, matches_);
  EXPECT_EQ(Items(matches_),
            (std::vector<std::u16string>{
                u"1= É " + kKey + u"é" + kEnd + u" E e " + Info(path, "e.txt", 1),
                u"2= É é " + kKey + u"E" + kEnd + u" " + kKey + u"e" + kEnd + u" " +
                    Info(path, "e.txt", 1)}));
}

// Highlighting runs the pattern itself, not one wrapped in a further group:
// a back-reference keeps its meaning, and 14 groups stay within the limit.
TEST_F(ScanTest, GroupsOfThePatternKeepTheirNumbers) {
  const std::string path = folder_ / "g.txt";
  WriteBytes(path, "aa a abcdefghijklmn\n");
  ScanFile(u"(a)\\1", path, false, matches_);
  ScanFile(u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)", path, false, matches_);
  EXPECT_EQ(Items(matches_),
            (std::vector<std::u16string>{
                u"1= " + kKey + u"aa" + kEnd + u" a abcdefghijklmn " + Info(path, "g.txt", 1),
                u"1= aa a " + kKey + u"abcdefghijklmn" + kEnd + u" " + Info(path, "g.txt", 1)}));
}

TEST_F(ScanTest, FolderOrderIsByteOrderOfTheTextFileNames) {
  for (const std::string name : {"b.txt", "B.txt", "a.TXT", ".hidden.txt", ".txt", "c.txt.bak"}) {
    WriteBytes(folder_ / name, "cat\n");
  }
  ASSERT_EQ(MakeFolder((folder_ / "sub").c_str()), 0);
  WriteBytes(folder_ / "sub/in.txt", "cat\n");
#ifdef _WIN32
  // "B.txt" is "b.txt" again, which keeps the name it was made with.
  const std::vector<std::string> names = {".hidden.txt", ".txt", "a.TXT", "b.txt"};
#else
  const std::vector<std::string> names = {".hidden.txt", ".txt", "B.txt", "a.TXT", "b.txt"};
#endif
  EXPECT_EQ(ScanFolder(u"cat", folder_.Path(), false, matches_), static_cast<int>(names.size()));
  std::vector<std::u16string> expected;
  for (const std::string& name : names) {
    expected.push_back(u"1= " + kKey + u"cat" + kEnd + u" " + Info(folder_ / name, name, 1));
  }
  EXPECT_EQ(Items(matches_), expected);
}

// With sub-folders the entries follow the byte order of the paths inside
// the folder, name the file by that path and link its full path; on one
// thread or several alike.
TEST_F(ScanTest, RecursiveScanNamesTheRelativePath) {
  if (WindowsForbidsName("<d>.txt")) GTEST_SKIP() << "Windows cannot name a file <d>.txt";
  for (const std::string sub : {"a", "b", "b/c"}) {
    ASSERT_EQ(MakeFolder((folder_ / sub).c_str()), 0);
  }
  for (const std::string name : {"b/a.txt", "a.txt", "a/z.txt", "b/c/<d>.txt", "b.md"}) {
    WriteBytes(folder_ / name, "cat\n");
  }
  for (const int threads : {1, 3}) {
    matches_.ClearItems();
    ScanControl control;
    control.recursive = true;
    control.threads = threads;
    std::vector<std::string> waits;
    control.progress = [&](int, int, const std::string& current) { waits.push_back(current); };
    EXPECT_EQ(ScanFolder(u"cat", folder_.Path(), false, matches_, control), 4);
    std::vector<std::u16string> expected;
    for (const std::string name : {"a.txt", "a/z.txt", "b/a.txt", "b/c/<d>.txt"}) {
      const std::u16string info = InfoFragment(folder_ / name, name, 1);
      expected.push_back(u"1= " + kKey + u"cat" + kEnd + u" " + info);
    }
    EXPECT_EQ(Items(matches_), expected) << threads << " threads";
    ASSERT_EQ(matches_.ItemCount(), 4);
    EXPECT_TRUE(matches_.ItemRef(3).ends_with(
              u"href=\"" + testing::Widen(folder_ / "b/c/&lt;d&gt;.txt") +
                  u"\" target=\"_blank\">(<span class=\"file\">b/c/&lt;d&gt;.txt</span>, "
                  u"<span class=\"line\">Line 1</span>)</a></span>"))
        << "the shown name is the path inside the folder, escaped like the file's name";
    EXPECT_EQ(waits, (std::vector<std::string>{folder_ / "a.txt", folder_ / "a/z.txt",
                                               folder_ / "b/a.txt", folder_ / "b/c/<d>.txt",
                                               ""}));
  }
  // Without the option, only the top folder, named as before.
  matches_.ClearItems();
  EXPECT_EQ(ScanFolder(u"cat", folder_.Path(), false, matches_), 1);
  EXPECT_EQ(Items(matches_), std::vector<std::u16string>{u"1= " + kKey + u"cat" + kEnd + u" " +
                                                            Info(folder_ / "a.txt", "a.txt", 1)});
  EXPECT_EQ(InfoFragment(folder_ / "a.txt", 7), InfoFragment(folder_ / "a.txt", "a.txt", 7));
}

// Long entries are kept apart from short ones while a file is scanned; the
// list still has them all in line order.
TEST_F(ScanTest, LongAndShortEntriesKeepTheLinesOrder) {
  const std::string path = folder_ / "l.txt";
  const std::string long_text(70000, 'x');
  WriteBytes(path, "cat 1\ncat " + long_text + "\ncat 3\n\ncat " + long_text + " <\ncat 6\n");
  ScanFile(u"cat", path, false, matches_);
  const std::u16string cat = kKey + u"cat" + kEnd;
  const std::u16string xs(long_text.begin(), long_text.end());
  EXPECT_EQ(Items(matches_), (std::vector<std::u16string>{
                                   u"1= " + cat + u" 1 " + Info(path, "l.txt", 1),
                                   u"1= " + cat + u" " + xs + u" " + Info(path, "l.txt", 2),
                                   u"1= " + cat + u" 3 " + Info(path, "l.txt", 3),
                                   u"1= " + cat + u" " + xs + u" &lt; " + Info(path, "l.txt", 5),
                                   u"1= " + cat + u" 6 " + Info(path, "l.txt", 6),
                               }));
  for (int i = 0; i < matches_.ItemCount(); ++i) {
    EXPECT_EQ(matches_.ItemRef(i).capacity(), matches_.ItemRef(i).size()) << "entry " << i;
  }
}

// A line long enough that the reader hands its own string over is trimmed
// and padded in that string: around the length where that starts, with
// blanks on either side to trim, after a blank line, by the UTF-8 and the
// UTF-16 reader, with and without a needle to look for (\w+ has none), its
// row is the one a short line of the same make gets.
TEST_F(ScanTest, LinesTheReaderHandsOverAreTrimmedAndPaddedAsOthers) {
  const std::string path = folder_ / "long.txt";
  const struct {
    std::string head;
    std::string tail;
  } blanks[] = {{"", ""}, {" \t ", ""}, {"", "\t  "}, {"\t", "\t"}};
  for (const std::size_t body : {kTakenLineUnits - 6, kTakenLineUnits - 4, kTakenLineUnits,
                                 kTakenLineUnits * 3 + 1}) {
    for (const auto& [head, tail] : blanks) {
      for (const bool utf16 : {false, true}) {
        for (const std::u16string& pattern : {std::u16string(u"cat"), std::u16string(u"\\w+")}) {
          const std::string text = head + "cat " + std::string(body, 'x') + tail;
          const std::string lines = "\n" + text + "\r\nend\n";
          std::string bytes = lines;
          if (utf16) {
            bytes = "\xFF\xFE";
            for (const char ch : lines) bytes += std::string{ch, '\0'};
          }
          WriteBytes(path, bytes);
          matches_.ClearItems();
          ScanFile(pattern, path, false, matches_);
          const std::u16string xs(body, u'x');
          const bool words = pattern != u"cat";
          const std::vector<std::u16string> expected =
              words ? std::vector<std::u16string>{u"2= " + kKey + u"cat" + kEnd + u" " + kKey +
                                                      xs + kEnd + u" " + Info(path, "long.txt", 2),
                                                  u"1= " + kKey + u"end" + kEnd + u" " +
                                                      Info(path, "long.txt", 3)}
                    : std::vector<std::u16string>{u"1= " + kKey + u"cat" + kEnd + u" " + xs +
                                                  u" " + Info(path, "long.txt", 2)};
          EXPECT_EQ(Items(matches_), expected)
              << body << (utf16 ? " UTF-16 " : " UTF-8 ") << Utf8Encode(pattern) << " ["
              << head << "|" << tail << "]";
        }
      }
    }
  }
}

// The scan's entries, long ones included, are made at their exact length
// with the unfit units replaced; the counts and spans are those of the
// line as read.
TEST_F(ScanTest, UnfitUnitsBecomeReplacementCharactersInEntriesOfExactLength) {
  const std::string path = folder_ / "u.txt";
  const std::u16string middle = u" \xD800 \x01 \xFFFF ";
  const std::u16string xs(70000, u'x');
  WriteBytes(path, "\xFF\xFE" + testing::Utf16LeBytes(u"cat" + middle + u"cat\r\n\x1B" + u"cat " +
                                                      xs + u"\xDC00 cat\x02\r\n"));
  ScanFile(u"\\bcat\\b", path, false, matches_);
  const std::u16string cat = kKey + u"cat" + kEnd;
  EXPECT_EQ(Items(matches_),
            (std::vector<std::u16string>{
                u"2= " + cat + u" \uFFFD \uFFFD \uFFFD " + cat + u" " + Info(path, "u.txt", 1),
                u"2= " + cat + u" " + xs + u"\uFFFD " + cat + u" " + Info(path, "u.txt", 2),
            }));
  for (int i = 0; i < matches_.ItemCount(); ++i)
    EXPECT_EQ(matches_.ItemRef(i).capacity(), matches_.ItemRef(i).size()) << "entry " << i;
}

// The scan builds the link of each entry from pieces; it must be exactly
// InfoFragment's, whatever the file's name holds.
TEST_F(ScanTest, EveryEntryEndsInTheFilesInfoFragment) {
  const std::vector<std::string> names = {"a&b \"c\" <d>.txt", "%#?.txt", "读书.txt",
                                          "\xC3\xA9\xC3.txt", "\xFF\xFE.txt",
                                          "\x01\t\x7F\xEF\xBF\xBE.txt"};
  int kept = 0;
  for (const std::string& name : names) {
    if (WindowsForbidsName(name)) continue;
    WriteBytes(folder_ / name, "cat\n\nthe cat\n");
    ++kept;
  }
  ASSERT_EQ(ScanFolder(u"cat", folder_.Path(), false, matches_), kept);
  ASSERT_EQ(matches_.ItemCount(), 2 * kept);
  for (int i = 0; i < matches_.ItemCount(); ++i) {
    const std::string path = folder_.Path() + kSlash + ListTextFiles(folder_.Path())[i / 2];
    const std::u16string info = InfoFragment(path, i % 2 == 0 ? 1 : 3);
    EXPECT_TRUE(matches_.ItemRef(i).ends_with(info)) << testing::Utf8Bytes(matches_.ItemRef(i));
  }
}

TEST_F(ScanTest, FileDeletedAfterTheListingFailsToOpen) {
  WriteBytes(folder_ / "a.txt", "cat\n");
  WriteBytes(folder_ / "b.txt", "cat\n");
  std::vector<std::string> reported;
  ScanControl control;
  control.threads = 1;  // b.txt must not be read before a.txt is done
  control.progress = [&](int done, int total, const std::string& current) {
    reported.push_back(std::to_string(done) + "/" + std::to_string(total) + " " + current);
    if (done == 1) unlink((folder_ / "b.txt").c_str());
  };
  EXPECT_THROW(
      {
        try {
          ScanFolder(u"cat", folder_.Path(), false, matches_, control);
        } catch (const EFOpenError& error) {
          EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + (folder_ / "b.txt") +
                                                   "\". No such file or directory");
          throw;
        }
      },
      EFOpenError);
  EXPECT_EQ(reported, (std::vector<std::string>{"0/2 " + (folder_ / "a.txt"),
                                                "1/2 " + (folder_ / "b.txt")}));
  EXPECT_EQ(matches_.ItemCount(), 1);
}

}  // namespace
}  // namespace tallyfold
