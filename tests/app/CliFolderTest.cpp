// The command line's FOLDER: a link to a folder is a folder, and --recursive
// takes in the text files of the sub-folders, named in the rows by their
// path inside FOLDER. Run in-process, but for the run as another user.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"
#include "app/CliInProcess.h"

namespace tallyfold::testing {
namespace {

// A root folder with a corpus folder in it.
class CliFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(corpus_.c_str(), 0755), 0);
  }
  void Folder(const std::string& relative) {
    ASSERT_EQ(mkdir((corpus_ + "/" + relative).c_str(), 0755), 0) << relative;
  }
  void File(const std::string& relative, const std::string& bytes) {
    WriteBytes(corpus_ + "/" + relative, bytes);
  }
  // Runs the command line in-process in the root folder.
  CliResult Run(const std::vector<std::string>& args) {
    return RunCliInProcess(args, root_.Path());
  }
  // Runs the program there as an unprivileged user, so that file
  // permissions apply even to root.
  CliResult RunUnprivileged(std::vector<std::string> args) {
    CliLaunch launch{std::move(args), root_.Path(), std::nullopt, true};
    return LaunchedCli(launch).Finish(std::chrono::seconds(60));
  }

  TempFolder root_;
  const std::string corpus_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
};

// A FOLDER that is not there or is no folder is refused with the other
// failures in FailedSearchTest.
TEST_F(CliFolder, ALinkToAFolderIsAFolder) {
  File("a.txt", "the cat\n");
  ASSERT_EQ(symlink(corpus_.c_str(), (root_ / "via").c_str()), 0);
  const CliResult result = Run({"--quiet", "the", "via"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(TextCells(ReadBytes(report_)).size(), 1U);
}

// Each file's count differs, so the report's order is the count's alone.
TEST_F(CliFolder, RecursiveRowsNameThePathInsideTheFolderAndLinkTheFullPath) {
  Folder("a");
  Folder("b");
  Folder("b/deep");
  Folder("sub.txt");
  File("a.txt", "cat\n");
  File("a/z.txt", "\ncat cat\n");
  File("b/deep/c & d.txt", "cat cat cat\n");
  File("sub.txt/in.txt", "cat cat cat cat\n");
  File("b/skip.md", "cat\n");

  const CliResult result = Run({"--recursive", "cat", "corpus"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "10 matches in 4 matching lines in 4 files scanned; report written to " + report_ + "\n");
  auto row = [](int count) {
    std::u16string text = u" ";
    for (int i = 0; i < count; ++i) text += (i > 0 ? u" " : u"") + kKey + u"cat" + kEnd;
    return text + u" ";
  };
  const std::vector<std::u16string> expected = {
      row(4) + Info(corpus_ + "/sub.txt/in.txt", "sub.txt/in.txt", 1),
      row(3) + Info(corpus_ + "/b/deep/c &amp; d.txt", "b/deep/c &amp; d.txt", 1),
      row(2) + Info(corpus_ + "/a/z.txt", "a/z.txt", 2),
      row(1) + Info(corpus_ + "/a.txt", "a.txt", 1),
  };
  EXPECT_EQ(TextCells(ReadBytes(report_)), expected);

  // Without the option the same folder is searched as it always was: the
  // sub-folder named like a text file ends the search.
  const CliResult flat = Run({"cat", "corpus"});
  EXPECT_EQ(flat.status, 1);
  EXPECT_EQ(flat.err, "Cannot open file \"" + corpus_ + "/sub.txt\". Is a directory.\n");
}

TEST_F(CliFolder, RecursiveSearchFollowsNoLinkToAFolder) {
  Folder("loop");
  File("loop/a.txt", "cat\n");
  ASSERT_EQ(symlink("..", (corpus_ + "/loop/up").c_str()), 0);
  ASSERT_EQ(symlink(corpus_.c_str(), (corpus_ + "/loop/again.txt").c_str()), 0);
  ASSERT_EQ(symlink("loop", (corpus_ + "/side").c_str()), 0);
  const CliResult result = Run({"--recursive", "cat", "corpus"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "1 match in 1 matching line in 1 file scanned; report written to " + report_ + "\n");
  EXPECT_EQ(TextCells(ReadBytes(report_)),
            std::vector<std::u16string>{u" " + kKey + u"cat" + kEnd + u" " +
                                        Info(corpus_ + "/loop/a.txt", "loop/a.txt", 1)});
}

// An unreadable sub-folder ends a recursive search (FailedSearchTest); the
// flat search does not look inside, and finds the top file.
TEST_F(CliFolder, AFlatSearchDoesNotLookIntoAnUnreadableSubFolder) {
  File("a.txt", "cat\n");
  Folder("b");
  Folder("b/locked");
  File("b/locked/x.txt", "cat\n");
  GiveToUnprivileged(root_.Path());
  ASSERT_EQ(chmod((corpus_ + "/b/locked").c_str(), 0), 0);
  const CliResult flat = RunUnprivileged({"--quiet", "cat", "corpus"});
  EXPECT_EQ(flat.status, 0) << flat.err;
  EXPECT_EQ(TextCells(ReadBytes(report_)).size(), 1U);
  chmod((corpus_ + "/b/locked").c_str(), 0755);
}

}  // namespace
}  // namespace tallyfold::testing
