// The command line's style sheet and what it says besides the summary: the
// sheet written beside the report or left out, the note when it cannot be
// written, and the hint after a search the word boundaries kept from finding
// anything.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"
#include "app/ReportStyleSheet.h"
#include "app/SearchCommand.h"

namespace tallyfold::testing {
namespace {

namespace fs = std::filesystem;

// A corpus of one Chinese line and one English line, and a working folder.
class CliMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(corpus_);
    WriteBytes(corpus_ + "/a.txt", "\xEF\xBB\xBF" "河水 flows\nthe river\n");
    fs::create_directory(work_);
  }

  CliResult Run(std::vector<std::string> args) {
    args.push_back(corpus_);
    return RunCli(args, work_);
  }

  TempFolder root_;
  const std::string corpus_ = root_ / "corpus";
  const std::string work_ = root_ / "work";
  const std::string sheet_ = work_ + "/result.css";
};

TEST_F(CliMessages, WritesTheStyleSheetOnceAndNeverReplacesIt) {
  CliResult result = Run({"river"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadBytes(sheet_), std::string(ReportStyleSheet()));

  WriteBytes(sheet_, "td { color: red }\n");
  result = Run({"river"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(sheet_), "td { color: red }\n");
}

TEST_F(CliMessages, NoCssOrAReportOnStandardOutputWritesNoSheet) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--no-css", "river"},
        std::vector<std::string>{"-o", "-", "river"},
        std::vector<std::string>{"--no-css", "-o", "sub/r.htm", "river"}}) {
    SCOPED_TRACE(args[1]);
    fs::create_directory(work_ + "/sub");
    const CliResult result = Run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(Exists(sheet_));
    EXPECT_FALSE(Exists(work_ + "/sub/result.css"));
  }
  // Beside a report given by -o, in that report's folder.
  const CliResult result = Run({"-o", "sub/r.htm", "river"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(Exists(work_ + "/sub/result.css"));
  EXPECT_FALSE(Exists(sheet_));
}

TEST_F(CliMessages, ASearchThatFailsLeavesNoSheet) {
  const CliResult result = Run({"ri(ver"});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(Exists(work_ + "/result.htm"));
  EXPECT_FALSE(Exists(sheet_));
}

TEST_F(CliMessages, TheBoundaryHintGoesToStandardErrorUnlessQuiet) {
  const std::string hint =
      "tallyfold-cli: hint: " +
      BoundaryHint(u"河", true, 0, BoundaryOptionName::kCommandLine) + "\n";
  CliResult result = Run({"河"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out.starts_with("0 matching lines")) << result.out;
  EXPECT_EQ(result.err, hint);
  EXPECT_NE(hint.find("--no-boundary"), std::string::npos);
  EXPECT_TRUE(Exists(work_ + "/result.htm")) << "the empty report is written all the same";

  result = Run({"--quiet", "河"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");

  // Without the boundaries 河 is found; an ASCII pattern that finds nothing
  // gets no hint either.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--no-boundary", "河"}, std::vector<std::string>{"ocean"}}) {
    result = Run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "") << args.back();
  }
}

// The report reached through a link in a folder the search may not write:
// the report is replaced beside the file the link names, the sheet cannot be
// written beside the link, and the run still succeeds, with a note. The same
// folder as the report's own folder fails the report first, and leaves no
// sheet either. As root the runs are made as an unprivileged user.
TEST_F(CliMessages, ASheetThatCannotBeWrittenIsANoteAndNoFailure) {
  const std::string locked = root_ / "locked";
  const std::string open = root_ / "open";
  fs::create_directory(locked);
  fs::create_directory(open);
  WriteBytes(open + "/result.htm", "previous");
  ASSERT_EQ(symlink((open + "/result.htm").c_str(), (locked + "/result.htm").c_str()), 0);
  GiveToUnprivileged(root_.Path());
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);

  CliResult result = RunCli(CliLaunch{{"river", corpus_}, locked, std::nullopt, true});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "tallyfold-cli: note: the report is written, but its style sheet is "
                        "not: Cannot create file \"" + locked + "/result.css\". Permission denied.\n");
  EXPECT_NE(ReadBytes(open + "/result.htm"), "previous");
  EXPECT_FALSE(Exists(locked + "/result.css"));
  EXPECT_FALSE(Exists(open + "/result.css")) << "the sheet goes beside the link, not the file";

  result = RunCli(CliLaunch{{"-o", "new.htm", "river", corpus_}, locked, std::nullopt, true});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.starts_with("Cannot create file \"" + locked + "/new.htm\".")) << result.err;
  EXPECT_EQ(FolderNames(locked), std::vector<std::string>{"result.htm"});
  chmod(locked.c_str(), 0755);
}

}  // namespace
}  // namespace tallyfold::testing
