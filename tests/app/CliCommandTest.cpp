// The command line run inside the test (app/CommandLine.h): the arguments
// read into their options, the usage errors and their messages, help and
// version, and the failures with their messages and exit statuses.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
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
      {!options.style_sheet, "no-css"}, {options.recursive, "recursive"}};
  std::string text;
  for (const auto& [set, name] : flags) {
    if (set) text += std::string(name) + " ";
  }
  return text + "threads=" + std::to_string(options.threads) +
         " row-memory=" + std::to_string(options.row_memory) + " encoding=" + options.encoding +
         " fallback=" + options.fallback + " format=" + std::string(OutputFormatName(options.format)) + " o=" + options.output +
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
      {{"--format", "xml", "the", "c"}, "--format needs html, tsv or jsonl, not 'xml'"},
      {{"--format", "HTML", "the", "c"}, "--format needs html, tsv or jsonl, not 'HTML'"},
      {{"--format", "", "the", "c"}, "--format needs html, tsv or jsonl, not ''"},
      {{"the", "c", "--format"}, "option --format needs html, tsv or jsonl"},
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
  EXPECT_TRUE(help.out.ends_with("2 usage error, 130 stopped by Ctrl-C (143 by SIGTERM).\n"));
  for (const char* option : {"--encoding NAME", "--fallback NAME", "--format NAME",
                             "--row-memory SIZE", "--threads N", "--recursive", "--no-css"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(root.Path()));
}

// A corpus folder with one matching file, and the place the report goes.
class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    WriteBytes(folder_ + "/a.txt", "the cat\n");
  }

  TempFolder root_;
  const std::string folder_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
};

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
      {"folder is a file", {"the", folder_ + "/a.txt"}, {}, 1,
       "Cannot search folder \"" + folder_ + "/a.txt\". Not a directory.\n"},
      {"report in a missing folder", {"-o", root_ / "no such folder/r.htm", "the", folder_}, {}, 1,
       "Cannot create file \"" + root_ / "no such folder/r.htm" +
           "\". No such file or directory.\n"},
      {"sub-folder named like a text file", {"the", root_ / "other"}, {}, 1,
       "Cannot open file \"" + root_ / "other/x.txt" + "\". Is a directory.\n"},
      {"pattern that does not compile", {"ri(ver", folder_}, {}, 1,
       "TRegexEngine(comp): ParseReg Unmatched () (pos 10)\n"},
      {"stopped with no signal told", {"the", folder_}, {&stop}, 128 + SIGINT,
       "tallyfold-cli: cancelled\n"},
      {"stopped by SIGTERM", {"the", folder_}, {&stop, &term}, 128 + SIGTERM,
       "tallyfold-cli: cancelled\n"},
  };
  ASSERT_EQ(mkdir((root_ / "other").c_str(), 0700), 0);
  WriteBytes(root_ / "other/a.txt", "the river\n");
  ASSERT_EQ(mkdir((root_ / "other/x.txt").c_str(), 0700), 0);
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
  WriteBytes(folder_ + "/a.txt", " \t\r\n\r\n");
  const CliResult result = RunCliInProcess({"--quiet", "--no-boundary", "*a", folder_},
                                           root_.Path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const std::string report = ReadBytes(report_);
  EXPECT_EQ(report, ReportFileBytes(ReportLines({}, {})));
}

TEST_F(CliRun, RelativePathsAreMadeAbsolute) {
  ASSERT_EQ(mkdir((root_ / "out").c_str(), 0700), 0);
  WriteBytes(folder_ + "/a.txt", "the\n");
  const CliResult result =
      RunCliInProcess({"-o", "out/../out/r.htm", "the", "./corpus/"}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "1 matching line in 1 file scanned; report written to " + root_.Path() +
                            "/out/r.htm\n");
  const std::string report = ReadBytes(root_ / "out/r.htm");
  const std::vector<Row> rows = {
      {1, u" " + kKey + u"the" + kEnd + u" " + Info(folder_ + "/a.txt", "a.txt", 1)}};
  EXPECT_EQ(report, ReportFileBytes(ReportLines(rows, {u"【1】=1"})));
}

}  // namespace
}  // namespace tallyfold::testing
