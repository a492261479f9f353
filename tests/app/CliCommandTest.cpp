// The command line run inside the test (app/CommandLine.h): the arguments
// read into their options, the usage errors and their messages, help and
// version, and the failures with their messages and exit statuses.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CliInProcess.h"
#include "app/GoldenReport.h"

namespace tallyfold::testing {
namespace {

// Every field of the options in one line, unset flags left out.
std::string Described(const CliOptions& options) {
  const std::pair<bool, const char*> flags[] = {
      {options.show_help, "help"},     {options.show_version, "version"},
      {options.case_sensitive, "case"}, {!options.word_boundary, "no-boundary"},
      {options.open_report, "open"},   {options.quiet, "quiet"},
      {!options.style_sheet, "no-css"}, {options.recursive, "recursive"},
      {options.fold_case, "fold-case"}};
  std::string text;
  for (const auto& [set, name] : flags) {
    if (set) text += std::string(name) + " ";
  }
  return text + "threads=" + std::to_string(options.threads) +
         " row-memory=" + std::to_string(options.row_memory) + " encoding=" + options.encoding +
         " fallback=" + options.fallback + " format=" + std::string(OutputFormatName(options.format)) +
         (options.order != ResultOrder::kReport || options.context != kWholeLine
              ? " order=" + std::to_string(static_cast<int>(options.order)) +
                    " context=" + std::to_string(options.context)
              : std::string()) +
         " o=" + options.output +
         " [" + options.pattern + "] [" + options.folder + "]";
}

TEST(CliArguments, AreReadIntoTheirOptions) {
  const std::string defaults = "threads=0 row-memory=268435456 encoding=auto fallback=GB18030 ";
  const struct {
    std::vector<std::string> args;
    std::string options;
  } cases[] = {
      {{"cat", "corpus"}, defaults + "format=html o=result.htm [cat] [corpus]"},
      {{"--case", "--no-boundary", "--open", "--quiet", "--no-css", "--recursive", "cat", "c"},
       "case no-boundary open quiet no-css recursive " + defaults +
           "format=html o=result.htm [cat] [c]"},
      // Options may come after the arguments; a later value wins.
      {{"cat", "c", "--threads", "007", "--row-memory", "1k", "--encoding", "locale",
        "--fallback", "big5", "--threads", "1024"},
       "threads=1024 row-memory=1024 encoding=locale fallback=big5 format=html o=result.htm "
       "[cat] [c]"},
      {{"--row-memory", "0", "cat", "c"},
       "threads=0 row-memory=0 encoding=auto fallback=GB18030 format=html o=result.htm [cat] [c]"},
      {{"--row-memory", "64M", "cat", "c"},
       "threads=0 row-memory=67108864 encoding=auto fallback=GB18030 format=html o=result.htm "
       "[cat] [c]"},
      {{"--row-memory", "1048576g", "cat", "c"},
       "threads=0 row-memory=1125899906842624 encoding=auto fallback=GB18030 format=html "
       "o=result.htm [cat] [c]"},
      {{"--row-memory", "1125899906842624", "cat", "c"},
       "threads=0 row-memory=1125899906842624 encoding=auto fallback=GB18030 format=html "
       "o=result.htm [cat] [c]"},
      // The report's name follows the format unless -o names it.
      {{"--format", "tsv", "cat", "c"}, defaults + "format=tsv o=result.tsv [cat] [c]"},
      {{"--format", "jsonl", "cat", "c"}, defaults + "format=jsonl o=result.jsonl [cat] [c]"},
      {{"--format", "csv", "cat", "c"}, defaults + "format=csv o=result.csv [cat] [c]"},
      {{"--format", "forms", "cat", "c"}, defaults + "format=forms o=forms.tsv [cat] [c]"},
      {{"--fold-case", "--format", "forms", "cat", "c"},
       "fold-case " + defaults + "format=forms o=forms.tsv [cat] [c]"},
      {{"--format", "csv", "--order", "right", "--context", "0", "cat", "c"},
       defaults + "format=csv order=4 context=0 o=result.csv [cat] [c]"},
      {{"--order", "file", "--context", "0012", "--format", "jsonl", "--order", "report", "cat", "c"},
       defaults + "format=jsonl order=0 context=12 o=result.jsonl [cat] [c]"},
      {{"--format", "tsv", "--format", "html", "cat", "c"},
       defaults + "format=html o=result.htm [cat] [c]"},
      {{"--format", "jsonl", "-o", "out/r.json", "cat", "c"},
       defaults + "format=jsonl o=out/r.json [cat] [c]"},
      {{"-o", "-", "cat", "c"}, defaults + "format=html o=- [cat] [c]"},
      // After "--", and alone, a dash starts no option.
      {{"--no-boundary", "--", "-known", "--case"},
       "no-boundary " + defaults + "format=html o=result.htm [-known] [--case]"},
      {{"-", "c"}, defaults + "format=html o=result.htm [-] [c]"},
      {{"  the\t", "./corpus/"}, defaults + "format=html o=result.htm [  the\t] [./corpus/]"},
      // Help and version need nothing else, and nothing else is checked.
      {{"--help"}, "help threads=0 row-memory=268435456 encoding=auto fallback=GB18030 "
                   "format=html o= [] []"},
      {{"-h", "a", "b", "c", "--encoding", "NO-SUCH-SET"},
       "help threads=0 row-memory=268435456 encoding=NO-SUCH-SET fallback=GB18030 format=html "
       "o= [] []"},
      {{"--version", " "}, "version threads=0 row-memory=268435456 encoding=auto "
                           "fallback=GB18030 format=html o= [] []"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    try {
      EXPECT_EQ(Described(ParseArguments(c.args)), c.options);
    } catch (const UsageError& error) {
      ADD_FAILURE() << "refused: " << error.what();
    }
  }
}

TEST(CliArguments, UsageErrorsSayWhatIsWrongAndExitWithTwo) {
  const std::string encodings = "; use auto, locale, utf-8 or a character set such as ";
  const struct {
    std::vector<std::string> args;
    std::string message;  // up to the end, or up to a list of examples after "such as "
  } cases[] = {
      {{}, "PATTERN and FOLDER are required"},
      {{"the"}, "PATTERN and FOLDER are required"},
      {{"the", "c", "extra"}, "too many arguments"},
      {{"--bogus", "the", "c"}, "unknown option --bogus"},
      {{"-x", "the", "c"}, "unknown option -x"},
      {{"--help", "--bogus"}, "unknown option --bogus"},
      {{" \t ", "c"}, "the pattern is blank"},
      {{"the", ""}, "the folder is empty"},
      {{"the", "c", "-o"}, "option -o needs a file name"},
      {{"-o", "", "the", "c"}, "the report file name is empty"},
      {{"-o", "out/", "the", "c"}, "the report file name 'out/' ends in '/'"},
      {{"--open", "-o", "-", "the", "c"}, "--open needs a report file, not standard output"},
      {{"--threads", "0", "the", "c"}, "--threads needs a number from 1 to 1024, not '0'"},
      {{"--threads", "2x", "the", "c"}, "--threads needs a number from 1 to 1024, not '2x'"},
      {{"--threads", "", "the", "c"}, "--threads needs a number from 1 to 1024, not ''"},
      {{"--threads", "1025", "the", "c"}, "--threads needs a number from 1 to 1024, not '1025'"},
      {{"--threads", "99999999999", "the", "c"},
       "--threads needs a number from 1 to 1024, not '99999999999'"},
      {{"the", "c", "--threads"}, "option --threads needs a number"},
      {{"--row-memory", "", "the", "c"}, "--row-memory needs a size such as 64M or 1G, not ''"},
      {{"--row-memory", "M", "the", "c"}, "--row-memory needs a size such as 64M or 1G, not 'M'"},
      {{"--row-memory", "12X", "the", "c"},
       "--row-memory needs a size such as 64M or 1G, not '12X'"},
      {{"--row-memory", "-1", "the", "c"}, "--row-memory needs a size such as 64M or 1G, not '-1'"},
      {{"--row-memory", "64MB", "the", "c"},
       "--row-memory needs a size such as 64M or 1G, not '64MB'"},
      {{"--row-memory", "1048577G", "the", "c"},
       "--row-memory needs a size such as 64M or 1G, not '1048577G'"},
      {{"--row-memory", "99999999999G", "the", "c"},
       "--row-memory needs a size such as 64M or 1G, not '99999999999G'"},
      {{"the", "c", "--row-memory"}, "option --row-memory needs a size"},
      {{"--format", "xml", "the", "c"}, "--format needs html, tsv, csv, jsonl or forms, not 'xml'"},
      {{"--format", "HTML", "the", "c"}, "--format needs html, tsv, csv, jsonl or forms, not 'HTML'"},
      {{"--format", "", "the", "c"}, "--format needs html, tsv, csv, jsonl or forms, not ''"},
      {{"the", "c", "--format"}, "option --format needs html, tsv, csv, jsonl or forms"},
      {{"--order", "word", "the", "c"}, "--order needs report, file, match, left or right, not 'word'"},
      {{"the", "c", "--order"}, "option --order needs an order"},
      {{"--context", "-1", "--format", "tsv", "the", "c"},
       "--context needs a number of characters from 0 to 1000000, not '-1'"},
      {{"--context", "1000001", "the", "c"},
       "--context needs a number of characters from 0 to 1000000, not '1000001'"},
      {{"--context", "", "the", "c"}, "--context needs a number of characters from 0 to 1000000, not ''"},
      {{"the", "c", "--context"}, "option --context needs a number"},
      {{"--order", "left", "the", "c"},
       "--order and --context need a table of matches: --format tsv, csv or jsonl"},
      {{"--context", "5", "--format", "forms", "the", "c"},
       "--order and --context need a table of matches: --format tsv, csv or jsonl"},
      {{"--fold-case", "the", "c"}, "--fold-case needs --format forms"},
      {{"--fold-case", "--format", "tsv", "the", "c"}, "--fold-case needs --format forms"},
      {{"the", "c", "--encoding"}, "option --encoding needs an encoding name"},
      {{"the", "c", "--fallback"}, "option --fallback needs an encoding name"},
      // The encodings are checked before the arguments are counted.
      {{"--encoding", "NO-SUCH-SET"}, "unknown encoding 'NO-SUCH-SET'" + encodings},
      {{"--encoding", "", "x", "c"}, "unknown encoding ''" + encodings},
      {{"--fallback", "auto", "x", "c"},
       "unknown fallback encoding 'auto'; use locale, utf-8 or a character set such as "},
      {{"--fallback", "NO-SUCH-SET", "--encoding", "auto", "x", "c"},
       "unknown fallback encoding 'NO-SUCH-SET'; use locale, utf-8 or a character set such as "},
  };
  TempFolder root;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_THROW(ParseArguments(c.args), UsageError);
    const CliResult result = RunCliInProcess(c.args, root.Path());
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    const std::string hint = "\nTry 'tallyfold-cli --help' for more information.\n";
    if (c.message.ends_with("such as ")) {
      const std::string examples = "GB18030, BIG5, SHIFT_JIS";
      EXPECT_TRUE(result.err.starts_with("tallyfold-cli: " + c.message + examples)) << result.err;
      EXPECT_TRUE(result.err.ends_with(hint)) << result.err;
    } else {
      EXPECT_EQ(result.err, "tallyfold-cli: " + c.message + hint);
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(root.Path()));
}

TEST(CliArguments, HelpAndVersionGoToStandardOutput) {
  TempFolder root;
  const CliResult version = RunCliInProcess({"--version"}, root.Path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Norrow Tallyfold 1.0\n");
  EXPECT_EQ(version.err, "");
  const CliResult help = RunCliInProcess({"--help"}, root.Path());
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: tallyfold-cli [--case] [--no-boundary] [-o FILE]"))
      << help.out;
  EXPECT_TRUE(help.out.ends_with("2 usage error, 3 report written but a file changed while it "
                                 "was searched\n(its counts may be incomplete), 130 stopped by "
                                 "Ctrl-C (143 by SIGTERM).\n"))
      << help.out;
  for (const char* option : {"--encoding NAME", "--fallback NAME", "--format NAME", "--order NAME",
                             "--context N",
                             "--row-memory SIZE", "--threads N", "--recursive", "--no-css"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(root.Path()));
}

// A corpus folder with one matching file, and the place the report goes.
class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(folder_.c_str()), 0);
    WriteBytes(folder_ + kSlash + "a.txt", "the cat\n");
  }

  TempFolder root_;
  const std::string folder_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
};

// The forms with ASCII case folded or not, and the summary's matches and
// lines.
TEST_F(CliRun, FormsFoldAsciiCaseOnRequest) {
  WriteBytes(folder_ + kSlash + "a.txt", "The the THE\nthe end\n");
  const struct {
    std::vector<std::string> args;
    std::string forms;
  } cases[] = {
      {{}, "the\t2\t2\t1\nTHE\t1\t1\t1\nThe\t1\t1\t1\n"},
      {{"--fold-case"}, "the\t4\t2\t1\n"},
  };
  for (const auto& test : cases) {
    std::vector<std::string> args = test.args;
    for (const char* arg : {"--format", "forms", "-o", "forms.tsv", "the", "./corpus"})
      args.push_back(arg);
    const CliResult result = RunCliInProcess(args, root_.Path());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadBytes(root_ / "forms.tsv"), "form\tmatches\tlines\tfiles\n" + test.forms);
    EXPECT_TRUE(result.out.starts_with("4 matches in 2 matching lines in 1 file scanned"))
        << result.out;
  }
}

// Each failure has its message on standard error and its exit status, and
// writes neither a report nor a style sheet.
TEST_F(CliRun, FailuresSayWhyAndWriteNothing) {
  std::atomic<bool> stop{true};
  volatile std::sig_atomic_t term = SIGTERM;
  const struct {
    const char* name;
    std::vector<std::string> args;
    CliControl control;
    int status;
    std::string err;
  } cases[] = {
      {"missing folder", {"the", root_ / "no such folder"}, {}, 1,
       "Cannot search folder \"" + root_ / "no such folder" + "\". No such file or directory.\n"},
      {"folder is a file", {"the", folder_ + kSlash + "a.txt"}, {}, 1,
       "Cannot search folder \"" + folder_ + kSlash + "a.txt\". Not a directory.\n"},
      {"report in a missing folder", {"-o", root_ / ("no such folder" + kSlash + "r.htm"), "the", folder_}, {}, 1,
       "Cannot create file \"" + root_ / ("no such folder" + kSlash + "r.htm") +
           "\". No such file or directory.\n"},
      {"sub-folder named like a text file", {"the", root_ / "other"}, {}, 1,
       "Cannot open file \"" + root_ / ("other" + kSlash + "x.txt") + "\". Is a directory.\n"},
      {"pattern that does not compile", {"ri(ver", folder_}, {}, 1,
       "TRegexEngine(comp): ParseReg Unmatched () (pos 10)\n"},
      {"stopped with no signal told", {"the", folder_}, {&stop}, 128 + SIGINT,
       "tallyfold-cli: cancelled\n"},
      {"stopped by SIGTERM", {"the", folder_}, {&stop, &term}, 128 + SIGTERM,
       "tallyfold-cli: cancelled\n"},
  };
  ASSERT_EQ(MakeFolder((root_ / "other").c_str()), 0);
  WriteBytes(root_ / "other/a.txt", "the river\n");
  ASSERT_EQ(MakeFolder((root_ / "other/x.txt").c_str()), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CliResult result = RunCliInProcess(c.args, root_.Path(), c.control);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(Exists(report_));
    EXPECT_FALSE(Exists(root_ / "result.css"));
  }
}

TEST_F(CliRun, InvalidPatternWithoutNonBlankLinesStillWritesAReport) {
  WriteBytes(folder_ + kSlash + "a.txt", " \t\r\n\r\n");
  const CliResult result = RunCliInProcess({"--quiet", "--no-boundary", "*a", folder_},
                                           root_.Path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const std::string report = ReadBytes(report_);
  EXPECT_EQ(report, ReportFileBytes(ReportLines({}, {})));
}

TEST_F(CliRun, RelativePathsAreMadeAbsolute) {
  ASSERT_EQ(MakeFolder((root_ / "out").c_str()), 0);
  WriteBytes(folder_ + kSlash + "a.txt", "the\n");
  const CliResult result =
      RunCliInProcess({"-o", "out/../out/r.htm", "the", "./corpus/"}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "1 match in 1 matching line in 1 file scanned; report written to " +
                            root_.Path() +
                            kSlash + "out" + kSlash + "r.htm\n");
  const std::string report = ReadBytes(root_ / "out/r.htm");
  const std::vector<Row> rows = {
      {1, u" " + kKey + u"the" + kEnd + u" " + Info(folder_ + kSlash + "a.txt", "a.txt", 1)}};
  EXPECT_EQ(report, ReportFileBytes(ReportLines(rows, {u"【1】=1"})));
}

// The rows of a TSV table, head left out, each split into its fields (the
// test's lines hold nothing the TSV escapes).
std::vector<std::vector<std::u16string>> TsvRows(const std::string& bytes) {
  std::vector<std::vector<std::u16string>> rows;
  std::istringstream in(bytes);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    rows.emplace_back();
    std::istringstream fields(line + "\t");
    for (std::string field; std::getline(fields, field, '\t');) rows.back().push_back(Widen(field));
  }
  return rows;
}

// Chinese prose, where the neighbour of 时间 is a character, beside Latin
// text, where it is a word; matches at a line's ends have none.
TEST_F(CliRun, TablesTakeTheirOrderContextAndFormsFromTheOptions) {
  WriteBytes(folder_ + kSlash + "a.txt",
             "我们的时间不多，时间就是生命。\n时间\n那个时间，这个时间。长时间\n"
             "Time 时间 is 时间money\n");
  WriteBytes(folder_ + kSlash + "b.txt", "的时间和空间的时间\n他们有时间\n");
  const auto table = [&](std::vector<std::string> options) {
    const std::string out = root_ / "t.tsv";
    options.insert(options.end(), {"--quiet", "--no-boundary", "-o", out, "时间", folder_});
    const CliResult result = RunCliInProcess(options, root_.Path());
    EXPECT_EQ(result.status, 0) << result.err;
    return ReadBytes(out);
  };
  const auto report = TsvRows(table({"--format", "tsv"}));
  ASSERT_EQ(report.size(), 11u);
  constexpr std::size_t kLeft = 3, kMatch = 4, kRight = 5;

  // Each neighbour order is the report's rows sorted stably by the CJK
  // characters nearest the match (all that the corpus has is in the main
  // block), else by the nearest word; spaces and the two punctuation marks
  // are all that separate words here.
  const auto cjk = [](char16_t c) { return c >= 0x4E00 && c <= 0x9FFF; };
  const auto word = [](char16_t c) { return c != u' ' && c != u'\uFF0C' && c != u'\u3002'; };
  const auto left_key = [&](const std::vector<std::u16string>& row) {
    std::u16string left = row[kLeft];
    std::u16string key;
    for (std::size_t i = left.size(); i > 0 && key.size() < 3 && cjk(left[i - 1]); --i) key += left[i - 1];
    if (!key.empty()) return key;
    while (!left.empty() && !word(left.back())) left.pop_back();
    while (!left.empty() && word(left.back())) {
      key.insert(key.begin(), left.back());
      left.pop_back();
    }
    return key;
  };
  const auto right_key = [&](const std::vector<std::u16string>& row) {
    const std::u16string& right = row[kRight];
    std::size_t n = 0;
    while (n < right.size() && n < 3 && cjk(right[n])) ++n;
    if (n > 0) return right.substr(0, n);
    while (n < right.size() && !word(right[n])) ++n;
    std::size_t end = n;
    while (end < right.size() && word(right[end])) ++end;
    return right.substr(n, end - n);
  };
  for (const auto& [name, key] : {std::pair{"left", std::function(left_key)}, std::pair{"right", std::function(right_key)}}) {
    SCOPED_TRACE(name);
    auto expected = report;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const auto& a, const auto& b) { return key(a) < key(b); });
    EXPECT_EQ(TsvRows(table({"--format", "tsv", "--order", name})), expected);
  }

  // Two characters each side, from next to the match.
  const auto narrow = TsvRows(table({"--format", "tsv", "--context", "2"}));
  ASSERT_EQ(narrow.size(), report.size());
  for (std::size_t i = 0; i < report.size(); ++i) {
    const std::u16string& left = report[i][kLeft];
    EXPECT_EQ(narrow[i][kLeft], left.substr(left.size() - std::min<std::size_t>(2, left.size())));
    EXPECT_EQ(narrow[i][kRight], report[i][kRight].substr(0, 2));
    EXPECT_EQ(narrow[i][kMatch], report[i][kMatch]);
  }

  // The forms add up to the rows: one form here, in 6 lines of 2 files.
  EXPECT_EQ(table({"--format", "forms"}),
            "form\tmatches\tlines\tfiles\n"
            "\xE6\x97\xB6\xE9\x97\xB4\t11\t6\t2\n");
  const std::string csv = table({"--format", "csv"});
  EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBF" "file,line,count,left,match,right\r\n")) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12);
}

}  // namespace
}  // namespace tallyfold::testing
