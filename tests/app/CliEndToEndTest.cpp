// End-to-end tests of tallyfold-cli: the real binary in a temporary folder,
// its report compared byte for byte with a page written out by hand from the
// report's rules, very long lines and very many files, its exit statuses,
// and the stop by Ctrl-C or SIGTERM. The arguments and the messages are
// tested in-process (CliCommandTest).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WineSupport.h"
#include "app/AppTestSupport.h"
#include "app/CliRunner.h"
#include "app/GoldenReport.h"

namespace tallyfold::testing {
namespace {

// A corpus file: its name and its exact bytes.
struct CorpusFile {
  std::string name;
  std::string bytes;
};

const std::string kUtf8Mark = "\xEF\xBB\xBF";
const std::string kUtf16LeMark = "\xFF\xFE";
const std::string kUtf16BeMark = "\xFE\xFF";

std::u16string Padded(const std::u16string& text) { return u" " + text + u" "; }

// One search over a small corpus and the report it must produce.
struct ReportCase {
  const char* name;
  std::vector<CorpusFile> files;
  std::vector<std::string> options;  // everything before PATTERN FOLDER
  std::string pattern;
  // The rows in report order, given the corpus folder's path.
  std::function<std::vector<Row>(const std::string& folder)> rows;
  std::vector<std::u16string> summary;
  int files_scanned;
};

// Test names show the case's name rather than its bytes.
void PrintTo(const ReportCase& test_case, std::ostream* out) { *out << test_case.name; }

std::vector<ReportCase> ReportCases() {
  return {
      {"EveryEncodingWithEscapingAndTheUnstableOrder",
       {
           // UTF-8 without a mark, LF, a blank line, markup characters.
           {"a.txt", "The cat sat.\n\n\tcat & <dog> \"cat\"\n"},
           // UTF-8 with a mark, CR LF, a line of spaces, Chinese and U+3000.
           {"b.txt", kUtf8Mark + "  \r\n" + Utf8Bytes(u"\u3000猫 cat\u3000") + "\r\n"},
           // UTF-16 LE with a tab inside the line.
           {"c.txt", kUtf16LeMark + Utf16LeBytes(u"CAT cat\tCat\r\n")},
           // UTF-16 BE with lone CR line ends.
           {"d.txt", kUtf16BeMark + Utf16BeBytes(u"x\r中文cat，好 cat\r")},
           // Upper-case extension, no match; another extension is not read.
           {"e.TXT", "no match here\n"},
           {"f.txt.bak", "cat cat cat cat\n"},
       },
       {},
       "cat",
       // Scan order counts 1, 2, 1, 3, 2; the quicksort gives the 4th,
       // 2nd, 5th, 1st and 3rd entry.
       [](const std::string& folder) {
         return std::vector<Row>{
             {3, Padded(kKey + u"CAT" + kEnd + u" " + kKey + u"cat" + kEnd + u"\t" + kKey + u"Cat" +
                        kEnd) +
                     Info(folder + kSlash + "c.txt", "c.txt", 1)},
             {2, Padded(kKey + u"cat" + kEnd + u" &amp; &lt;dog&gt; &quot;" + kKey + u"cat" + kEnd +
                        u"&quot;") +
                     Info(folder + kSlash + "a.txt", "a.txt", 3)},
             {2, Padded(u"中文" + kKey + u"cat" + kEnd + u"，好 " + kKey + u"cat" + kEnd) +
                     Info(folder + kSlash + "d.txt", "d.txt", 2)},
             {1, Padded(u"The " + kKey + u"cat" + kEnd + u" sat.") +
                     Info(folder + kSlash + "a.txt", "a.txt", 1)},
             {1, Padded(u"\u3000猫 " + kKey + u"cat" + kEnd + u"\u3000") +
                     Info(folder + kSlash + "b.txt", "b.txt", 2)},
         };
       },
       {u"【3】=1", u"【2】=2", u"【1】=2"},
       5},

      {"MarkupCharactersInFileNamesAreEncodedAndEscaped",
       {
           {"a&b<\"c\">#1?%.txt", "the end\n"},
           {"读书 notes.txt", Utf8Bytes(u"读了 THE 书") + "\n"},
       },
       {},
       "the",
       // Two equal counts leave the sort swapped.
       [](const std::string& folder) {
         return std::vector<Row>{
             {1, Padded(u"读了 " + kKey + u"THE" + kEnd + u" 书") +
                     Info(folder + kSlash + "读书 notes.txt", "读书 notes.txt", 1)},
             {1, Padded(kKey + u"the" + kEnd + u" end") +
                     Info(folder + kSlash + "a&amp;b&lt;&quot;c&quot;&gt;%231%3F%25.txt",
                          "a&amp;b&lt;&quot;c&quot;&gt;#1?%.txt", 1)},
         };
       },
       {u"【1】=2"},
       2},

      {"EqualCountsLeaveTheSortInItsOwnOrder",
       {
           {"1.txt", "a xxxxx\n"},
           {"2.txt", "b x\n"},
           {"3.txt", "c xxxxx\n"},
           {"4.txt", "d x\n"},
           {"5.txt", "e xxxxx\n"},
           {"6.txt", "f x\n"},
       },
       {"--no-boundary"},
       "x",
       // Counts 5, 1, 5, 1, 5, 1 come out as the 3rd, 5th, 1st, 6th, 2nd
       // and 4th entry.
       [](const std::string& folder) {
         const std::u16string five = kKey + u"x" + kEnd + kKey + u"x" + kEnd + kKey + u"x" + kEnd +
                                     kKey + u"x" + kEnd + kKey + u"x" + kEnd;
         const std::u16string one = kKey + u"x" + kEnd;
         return std::vector<Row>{
             {5, Padded(u"c " + five) + Info(folder + kSlash + "3.txt", "3.txt", 1)},
             {5, Padded(u"e " + five) + Info(folder + kSlash + "5.txt", "5.txt", 1)},
             {5, Padded(u"a " + five) + Info(folder + kSlash + "1.txt", "1.txt", 1)},
             {1, Padded(u"f " + one) + Info(folder + kSlash + "6.txt", "6.txt", 1)},
             {1, Padded(u"b " + one) + Info(folder + kSlash + "2.txt", "2.txt", 1)},
             {1, Padded(u"d " + one) + Info(folder + kSlash + "4.txt", "4.txt", 1)},
         };
       },
       {u"【5】=3", u"【1】=3"},
       6},

      {"CountsOfTenAndMoreSortByValue",
       {{"n.txt",
         "x x x x x x x x x\n"
         "x x x x x x x x x x\n"
         "x x\n"
         "x x x x x x x x x x x x\n"}},
       {},
       "x",
       [](const std::string& folder) {
         auto xs = [](int n) {
           std::u16string text;
           for (int i = 0; i < n; ++i) text += (i ? u" " : u"") + kKey + u"x" + kEnd;
           return Padded(text);
         };
         return std::vector<Row>{
             {12, xs(12) + Info(folder + kSlash + "n.txt", "n.txt", 4)},
             {10, xs(10) + Info(folder + kSlash + "n.txt", "n.txt", 2)},
             {9, xs(9) + Info(folder + kSlash + "n.txt", "n.txt", 1)},
             {2, xs(2) + Info(folder + kSlash + "n.txt", "n.txt", 3)},
         };
       },
       {u"【12】=1", u"【10】=1", u"【9】=1", u"【2】=1"},
       1},

      {"EmptyMatchesAreCountedAndHighlighted",
       {{"e.txt", "ab\nxx\n"}},
       {"--no-boundary"},
       "x*",
       [](const std::string& folder) {
         const std::u16string empty = kKey + kEnd;
         return std::vector<Row>{
             {5, empty + u" " + empty + u"a" + empty + u"b" + empty + u" " + empty +
                     Info(folder + kSlash + "e.txt", "e.txt", 1)},
             {4, empty + u" " + kKey + u"xx" + kEnd + empty + u" " + empty +
                     Info(folder + kSlash + "e.txt", "e.txt", 2)},
         };
       },
       {u"【5】=1", u"【4】=1"},
       1},

      {"PatternEndingInBackslashCompilesWithTheBoundary",
       {{"s.txt", "x a\\b y\na\\\n"}},
       {},
       "a\\",
       [](const std::string& folder) {
         return std::vector<Row>{
             {1, Padded(u"x " + kKey + u"a\\b" + kEnd + u" y") + Info(folder + kSlash + "s.txt", "s.txt", 1)},
         };
       },
       {u"【1】=1"},
       1},

      {"CaseOptionAndTrimmedPattern",
       {{"c.txt", "The the THE theme\n"}},
       {"--case"},
       "  the\t",
       [](const std::string& folder) {
         return std::vector<Row>{
             {1, Padded(u"The " + kKey + u"the" + kEnd + u" THE theme") +
                     Info(folder + kSlash + "c.txt", "c.txt", 1)},
         };
       },
       {u"【1】=1"},
       1},

      {"BinaryJunkIsReadAsReplacementCharacters",
       {{"j.txt", std::string("\x01\x02the\x80\xC3(\x1B the \x7F\n", 16) + "\x03\x04\n"}},
       {},
       "the",
       [](const std::string& folder) {
         return std::vector<Row>{
             {2, Padded(kKey + u"the" + kEnd + u"\uFFFD\uFFFD(\uFFFD " + kKey + u"the" + kEnd +
                        u" \x7F") +
                     Info(folder + kSlash + "j.txt", "j.txt", 1)},
         };
       },
       {u"【2】=1"},
       1},

      // Lone surrogates, controls but tab, U+FFFE and U+FFFF are written as
      // U+FFFD, in the text and in the name shown, and the link's controls
      // percent-encoded; the counts are those of the text as read.
      {"WhatXmlCannotHoldIsReplaced",
       {
           {"u.txt", kUtf16LeMark + Utf16LeBytes(u"cat \xD800 cat\r\n"
                                                 u"\xDC00 cat\x01" u"cat cat\r\n"
                                                 u"cat \xFFFE\xFFFF cat cat\tcat\r\n"
                                                 u"\xD83D\xDE00 cat\x1B" u"cat cat cat\x7F" u"cat\r\n")},
           {"t\x01\x1F\t\x7F.txt", "x cat\n"},
       },
       {},
       "cat",
       [](const std::string& folder) {
         const std::u16string cat = kKey + u"cat" + kEnd;
         return std::vector<Row>{
             {5, Padded(u"\xD83D\xDE00 " + cat + u"\uFFFD" + cat + u" " + cat + u" " + cat + u"\x7F" +
                        cat) +
                     Info(folder + kSlash + "u.txt", "u.txt", 4)},
             {4, Padded(cat + u" \uFFFD\uFFFD " + cat + u" " + cat + u"\t" + cat) +
                     Info(folder + kSlash + "u.txt", "u.txt", 3)},
             {3, Padded(u"\uFFFD " + cat + u"\uFFFD" + cat + u" " + cat) +
                     Info(folder + kSlash + "u.txt", "u.txt", 2)},
             {2, Padded(cat + u" \uFFFD " + cat) + Info(folder + kSlash + "u.txt", "u.txt", 1)},
             {1, Padded(u"x " + cat) +
                     Info(folder + kSlash + "t%01%1F%09%7F.txt", "t\xEF\xBF\xBD\xEF\xBF\xBD\t\x7F.txt", 1)},
         };
       },
       {u"【5】=1", u"【4】=1", u"【3】=1", u"【2】=1", u"【1】=1"},
       2},

      {"NoMatchingLineGivesTheEmptyPage",
       {{"a.txt", "nothing to see\n\n"}, {"b.txt", ""}},
       {},
       "cat",
       [](const std::string&) { return std::vector<Row>{}; },
       {},
       2},
  };
}

// Whether `report` is a UTF-16 LE file with a mark whose units pair up
// strictly and whose characters all may stand in XML: tab, CR, LF,
// U+0020-U+D7FF, U+E000-U+FFFD and those beyond U+FFFF. Returns what is
// wrong, or "" when nothing is.
std::string StrictXmlCharacterFault(const std::string& report) {
  if (report.size() % 2 != 0 || !report.starts_with("\xFF\xFE")) return "no UTF-16 LE mark";
  const std::u16string text = ReportText(report);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const std::string at = " at unit " + std::to_string(i);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return "lone high surrogate" + at;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return "lone low surrogate" + at;
    } else if ((unit < 0x20 && unit != u'\t' && unit != u'\r' && unit != u'\n') ||
               unit >= 0xFFFE) {
      return "character " + std::to_string(unit) + at;
    }
  }
  return "";
}

// Each case's corpus in root/corpus.
class CliReport : public ::testing::TestWithParam<ReportCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(folder_.c_str()), 0);
    for (const CorpusFile& file : GetParam().files)
      if (WindowsForbidsName(file.name)) GTEST_SKIP() << "Windows cannot name a file " << file.name;
    for (const CorpusFile& file : GetParam().files)
      WriteBytes(folder_ + kSlash + file.name, file.bytes);
  }

  TempFolder root_;
  const std::string folder_ = root_ / "corpus";
};

TEST_P(CliReport, WritesTheReportByteForByte) {
  const ReportCase& test_case = GetParam();
  const TempFolder& root = root_;
  const std::string& folder = folder_;

  std::vector<std::string> args = test_case.options;
  args.push_back(test_case.pattern);
  args.push_back(folder);
  const CliResult result = RunCli(args, root.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  // Standard error says at most how the files were read (junk bytes, a
  // legacy set), never an error.
  std::istringstream err(result.err);
  for (std::string line; std::getline(err, line);)
    EXPECT_TRUE(line.starts_with("tallyfold-cli: ") && !line.starts_with("tallyfold-cli: hint"))
        << line;

  const std::string report = ReadBytes(root / "result.htm");
  const std::vector<Row> rows = test_case.rows(folder);
  EXPECT_EQ(report, ReportFileBytes(ReportLines(rows, test_case.summary)));
  // Whatever the corpus holds, strict decoders and XML tools accept it.
  EXPECT_EQ(StrictXmlCharacterFault(report), "");

  int matches = 0;
  for (const Row& row : rows) matches += row.count;
  EXPECT_EQ(result.out, std::to_string(matches) + (matches == 1 ? " match in " : " matches in ") +
                            std::to_string(rows.size()) +
                            (rows.size() == 1 ? " matching line in " : " matching lines in ") +
                            std::to_string(test_case.files_scanned) +
                            (test_case.files_scanned == 1 ? " file" : " files") +
                            " scanned; report written to " + root.Path() + kSlash + "result.htm\n");

  // One thread or several, rows held in memory or set aside on disk, the
  // same page.
  args.insert(args.begin(), {"--threads", "1", "-o", root / "one-thread.htm"});
  ASSERT_EQ(RunCli(args, root.Path()).status, 0);
  EXPECT_EQ(ReadBytes(root / "one-thread.htm"), report);
  for (const char* size : {"0", "1k", "64M"}) {
    std::vector<std::string> spilled = args;
    spilled[3] = root / "spilled.htm";  // in place of the -o above
    spilled.insert(spilled.begin(), {"--row-memory", size});
    ASSERT_EQ(RunCli(spilled, root.Path()).status, 0) << size;
    EXPECT_EQ(ReadBytes(root / "spilled.htm"), report) << size;
  }
}

// What the report's rows say, one line per match: the file shown, the line
// number, the line's count and the match's text, as tab-separated UTF-8.
std::string MatchesOfRows(const std::vector<Row>& rows) {
  const auto between = [](const std::u16string& text, const std::u16string& open,
                          std::size_t from, std::size_t& end) {
    const std::size_t start = text.find(open, from) + open.size();
    end = text.find(u"</span>", start);
    return text.substr(start, end - start);
  };
  const auto unescape = [](std::u16string text) {
    for (const auto& [entity, ch] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"&lt;", u"<"}, {u"&gt;", u">"}, {u"&quot;", u"\""}, {u"&amp;", u"&"}}) {
      for (std::size_t at = text.find(entity); at != std::u16string::npos;
           at = text.find(entity, at + 1))
        text.replace(at, entity.size(), ch);
    }
    return text;
  };
  std::string out;
  for (const Row& row : rows) {
    std::size_t end = 0;
    const std::size_t info = row.value.find(u"<span class=\"info\">");
    const std::u16string file = between(row.value, u"<span class=\"file\">", info, end);
    const std::u16string line = between(row.value, u"<span class=\"line\">Line ", end, end);
    std::size_t at = 0;
    for (int k = 0; k < row.count; ++k) {
      const std::u16string match = between(row.value, kKey, at, at);
      out += Utf8Bytes(unescape(file)) + "\t" + Utf8Bytes(line) + "\t" +
             std::to_string(row.count) + "\t" + Utf8Bytes(unescape(match)) + "\n";
    }
  }
  return out;
}

// Python's own readers read the tables back and print the same lines.
std::string ReadBackWithPython(const std::string& script, const std::string& file) {
  const std::string command = "python3 -c '" + script + "' '" + file + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run python3";
  std::string out;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  pclose(pipe);
  return out;
}

constexpr char kReadJsonLines[] =
    "import json,sys\n"
    "for raw in open(sys.argv[1], encoding=\"utf-8\"):\n"
    "  o = json.loads(raw)\n"
    "  line = o[\"left\"] + o[\"match\"] + o[\"right\"]\n"
    "  assert line[o[\"start\"]:o[\"start\"] + o[\"length\"]] == o[\"match\"], raw\n"
    "  sys.stdout.write(\"%s\\t%d\\t%d\\t%s\\n\" % (o[\"file\"], o[\"line\"], o[\"count\"], o[\"match\"]))\n";

constexpr char kReadTable[] =
    "import sys\n"
    "rows = open(sys.argv[1], encoding=\"utf-8\", newline=\"\").read().split(\"\\n\")\n"
    "assert rows[-1] == \"\" and len(rows[0].split(\"\\t\")) == 6, rows[0]\n"
    "def plain(f):\n"
    "  return f.replace(\"\\\\t\", \"\\t\").replace(\"\\\\n\", \"\\n\").replace(\"\\\\r\", \"\\r\").replace(\"\\\\\\\\\", \"\\\\\")\n"
    "for row in rows[1:-1]:\n"
    "  f = row.split(\"\\t\")\n"
    "  sys.stdout.write(\"%s\\t%s\\t%s\\t%s\\n\" % (plain(f[0]), f[1], f[2], plain(f[4])))\n";

TEST_P(CliReport, TablesHoldTheReportsMatchesInItsOrder) {
  if (wine::UnderWine()) GTEST_SKIP() << "the tables are read back by the host's Python";
  const ReportCase& test_case = GetParam();
  const TempFolder& root = root_;
  const std::string& folder = folder_;
  const std::string expected = MatchesOfRows(test_case.rows(folder));
  for (const std::string format : {"jsonl", "tsv"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> args = test_case.options;
    args.insert(args.end(), {"--format", format, test_case.pattern, folder});
    const CliResult result = RunCli(args, root.Path());
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string table = root / ("result." + format);
    EXPECT_NE(result.out.find("results written to " + table), std::string::npos) << result.out;
    EXPECT_FALSE(Exists(root / "result.htm"));
    // The tables give file names as they are; the report shows a control
    // character in one as U+FFFD, which XML cannot hold.
    std::string read = ReadBackWithPython(format == "jsonl" ? kReadJsonLines : kReadTable, table);
    for (std::size_t at = 0; at < read.size(); ++at) {
      const auto byte = static_cast<unsigned char>(read[at]);
      if (byte < 0x20 && byte != '\t' && byte != '\n') read.replace(at, 1, "\xEF\xBF\xBD");
    }
    EXPECT_EQ(read, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpora, CliReport, ::testing::ValuesIn(ReportCases()),
                         [](const ::testing::TestParamInfo<ReportCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tallyfold::testing

namespace tallyfold::testing {
namespace {

// The program returns what the command line makes of its arguments, each
// message on its own stream; what each status and message means is tested
// in-process (CliCommandTest).
TEST(Cli, ExitStatusesAndStreamsComeThroughTheProgram) {
  TempFolder root;
  WriteBytes(root / "a.txt", "the\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--version"}, 0, "Norrow Tallyfold 1.0\n", ""},
      {{"the", "."}, 0,
       "1 match in 1 matching line in 1 file scanned; report written to " + root / "result.htm" +
           "\n",
       ""},
      {{"the", "none"}, 1, "",
       "Cannot search folder \"" + root / "none" + "\". No such file or directory.\n"},
      {{"the"}, 2, "",
       "tallyfold-cli: PATTERN and FOLDER are required\n"
       "Try 'tallyfold-cli --help' for more information.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CliResult result = RunCli(c.args, root.Path());
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}

// The golden report, whose fixed lines the other cases take, is what the
// program writes for its corpus, byte for byte, once its links name where
// the corpus is now.
TEST(Cli, WritesTheGoldenReport) {
  TempFolder root;
  const std::string folder = root / "corpus";
  std::filesystem::copy(kGoldenCorpus, folder);
  const CliResult result = RunCli({"cat", folder}, root.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "8 matches in 5 matching lines in 2 files scanned; report written to " +
                            root.Path() +
                            kSlash + "result.htm\n");
  std::u16string golden = ReportText(ReadBytes(kGoldenReport));
  const std::u16string here = Widen(Href(folder));
  int links = 0;
  for (std::size_t at = golden.find(kGoldenFolder); at != std::u16string::npos;
       at = golden.find(kGoldenFolder, at + here.size()), ++links)
    golden.replace(at, kGoldenFolder.size(), here);
  EXPECT_EQ(links, 5);
  EXPECT_EQ(ReadBytes(root / "result.htm"), "\xFF\xFE" + Utf16LeBytes(golden));
}

TEST(Cli, TenMegabyteLine) {
  TempFolder root;
  const std::size_t length = 10 * 1024 * 1024;
  WriteBytes(root / "big.txt", "the " + std::string(length, 'a') + " the\n");
  const CliResult result = RunCli({"--quiet", "the", root.Path()}, root.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string report = ReadBytes(root / "result.htm");
  const std::vector<Row> rows = {
      {2, Padded(kKey + u"the" + kEnd + u" " + std::u16string(length, u'a') + u" " + kKey +
                 u"the" + kEnd) +
              Info(root.Path() + kSlash + "big.txt", "big.txt", 1)}};
  EXPECT_EQ(report, ReportFileBytes(ReportLines(rows, {u"【2】=1"})));
}

// Takes a few seconds (about 7 s, 12 s under the sanitizers), most of it
// creating the files.
TEST(Cli, HundredThousandFilesOfOneLine) {
  if (wine::UnderWine()) GTEST_SKIP() << "wine makes 100,000 files too slowly (over ten minutes)";
  TempFolder root;
  const std::string folder = root / "corpus";
  ASSERT_EQ(MakeFolder(folder.c_str()), 0);
  constexpr int kFiles = 100000;
  for (int i = 0; i < kFiles; ++i) WriteBytes(folder + kSlash + std::to_string(i) + ".txt", "the\n");
  const CliResult result = RunCli({"the", folder}, root.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "100000 matches in 100000 matching lines in 100000 files scanned; report written to " +
                            root.Path() + kSlash + "result.htm\n");

  // Equal counts leave the rows in the quicksort's order, so the page is
  // checked by its parts: the frame with the tally, the rows numbered 1 to
  // 100,000 in turn, and every file in exactly one of them.
  const std::string report = ReadBytes(root / "result.htm");
  const std::u16string text = ReportText(report);
  const std::vector<std::u16string> page = ReportLines({}, {u"【1】=100000"});
  std::u16string head, tail;
  for (std::size_t i = 0; i < page.size(); ++i) (i < 9 ? head : tail) += page[i] + u"\r\n";
  ASSERT_TRUE(text.starts_with(head));
  ASSERT_TRUE(text.ends_with(tail));
  const std::u16string cell = u"<td class=\"text\"> " + kKey + u"the" + kEnd + u" ";
  std::vector<bool> seen(kFiles, false);
  std::size_t pos = head.size();
  for (int row = 1; row <= kFiles; ++row) {
    const std::u16string start = u"<tr><td class=\"no\">" + Widen(std::to_string(row)) +
                                 u"</td>\r\n" + cell;
    ASSERT_EQ(text.compare(pos, start.size(), start), 0) << "row " << row;
    const std::size_t name = text.find(u"<span class=\"file\">", pos) + 19;
    const int file = std::stoi(std::string(text.begin() + name, text.begin() + name + 6));
    ASSERT_FALSE(seen[file]) << "file " << file << " listed twice";
    seen[file] = true;
    const std::u16string info = Info(folder + kSlash + std::to_string(file) + ".txt",
                                     std::to_string(file) + ".txt", 1);
    const std::u16string end = u"</td>\r\n<td class=\"freq\">1</td></tr>\r\n";
    ASSERT_EQ(text.compare(pos + start.size(), info.size() + end.size(), info + end), 0)
        << "row " << row;
    pos += start.size() + info.size() + end.size();
  }
  EXPECT_EQ(pos + tail.size(), text.size());
}

// Ctrl-C and SIGTERM stop a running search: the program ends promptly with
// 128 + the signal's number and says so on stderr. (That the previous report
// stays as it was is checked with every other failure in FailedSearchTest.)
class CliCancel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(folder_.c_str()), 0);
  }

  // Starts a search over `files` files of `lines` lines of `run` letters "a"
  // with the catastrophic pattern, sends `signal` once it has been searching
  // for a moment, and checks how it ends.
  void ExpectStoppedBy(int signal, int files, int lines, const std::string& line) {
    for (int i = 0; i < files; ++i) {
      std::string text;
      for (int k = 0; k < lines; ++k) text += line + "\n";
      WriteBytes(folder_ + kSlash + std::to_string(i) + ".txt", text);
    }
    CliProcess cli({"--no-boundary", Utf8Bytes(kCatastrophicPattern), folder_}, root_.Path());
#ifdef _WIN32
    // Windows sends Ctrl+C to every process of a console, the test's own
    // included; Ctrl+Break goes to the program's group alone, and stands
    // for SIGTERM. There is no handler to wait for: the program is given
    // time to be searching.
    if (signal != SIGTERM) GTEST_SKIP() << "Ctrl+C reaches the whole console on Windows";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto sent_at = Clock::now();
    if (!cli.SendCtrlBreak()) GTEST_SKIP() << "no console to send Ctrl+Break through (wine)";
#else
    const auto give_up = Clock::now() + std::chrono::seconds(30);
    while (!cli.Catches(signal) && Clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(cli.Catches(signal));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto sent_at = Clock::now();
    ASSERT_EQ(kill(cli.Pid(), signal), 0);
#endif
    const CliResult result = cli.Wait();
    EXPECT_LT(Clock::now() - sent_at, kCancelBound);
    EXPECT_EQ(result.status, 128 + signal) << result.err;
    EXPECT_EQ(result.err, "tallyfold-cli: cancelled\n");
    EXPECT_EQ(result.out, "");
  }

  using Clock = std::chrono::steady_clock;
  TempFolder root_;
  const std::string folder_ = root_ / "corpus";
};

TEST_F(CliCancel, CtrlCBetweenLinesEndsWithinTheBound) {
  ExpectStoppedBy(SIGINT, 8, 300, std::string(16, 'a'));
}

TEST_F(CliCancel, SigtermEndsWithItsOwnStatus) { ExpectStoppedBy(SIGTERM, 8, 300, std::string(16, 'a')); }

// One line of 30 letters: minutes inside a single match attempt.
TEST_F(CliCancel, CtrlCInsideOneLongMatch) { ExpectStoppedBy(SIGINT, 1, 1, LongBacktrackingLine()); }

}  // namespace
}  // namespace tallyfold::testing
