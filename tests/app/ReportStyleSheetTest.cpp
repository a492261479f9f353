// Tests of the report's style sheet: the bytes built into the program, where
// the sheet goes, and that one already there is never touched.
#include "app/ReportStyleSheet.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"

#ifndef TALLYFOLD_SAMPLE_CSS
#error "TALLYFOLD_SAMPLE_CSS must name samples/result.css"
#endif

namespace tallyfold {
namespace {

using testing::Exists;
using testing::ReadBytes;
using testing::MakeFolder;
using testing::TempFolder;
using testing::WriteBytes;

TEST(ReportStyleSheet, IsTheProjectsSampleByteForByte) {
  const std::string sample = ReadBytes(TALLYFOLD_SAMPLE_CSS);
  ASSERT_FALSE(sample.empty());
  EXPECT_EQ(std::string(ReportStyleSheet()), sample);
}

TEST(StyleSheetPathFor, IsResultCssInTheReportsFolder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/home/me/reports/result.htm", "/home/me/reports/result.css"},
      {"/r.htm", "/result.css"},
      {"result.htm", "result.css"},
      {"out/today.htm", "out/result.css"},
      {"a/../b/x.htm", "a/../b/result.css"},
      {"/home/me/result.css", "/home/me/result.css"},
  };
  for (const auto& [report, sheet] : cases) EXPECT_EQ(StyleSheetPathFor(report), sheet) << report;
}

class WriteStyleSheet : public ::testing::Test {
 protected:
  TempFolder root_;
  const std::string report_ = root_ / "result.htm";
  const std::string sheet_ = root_ / "result.css";
};

TEST_F(WriteStyleSheet, WritesTheSheetWhereThereIsNone) {
  const StyleSheetResult result = WriteStyleSheetBeside(report_);
  EXPECT_EQ(result.outcome, StyleSheetOutcome::kWritten);
  EXPECT_EQ(result.path, sheet_);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(ReadBytes(sheet_), std::string(ReportStyleSheet()));
}

TEST_F(WriteStyleSheet, NeverReplacesWhatIsThere) {
  // The built-in sheet, another one, an empty one: all stay byte for byte.
  for (const std::string& present :
       {std::string(ReportStyleSheet()), std::string("td { color: red }\n"), std::string()}) {
    WriteBytes(sheet_, present);
    const StyleSheetResult result = WriteStyleSheetBeside(report_);
    EXPECT_EQ(result.outcome, StyleSheetOutcome::kPresent);
    EXPECT_EQ(ReadBytes(sheet_), present);
  }
}

TEST_F(WriteStyleSheet, ALinkOrAFolderOfThatNameCountsAsPresent) {
  // A link is not followed, not even to a file that does not exist yet.
  ASSERT_EQ(symlink("elsewhere.css", sheet_.c_str()), 0);
  EXPECT_EQ(WriteStyleSheetBeside(report_).outcome, StyleSheetOutcome::kPresent);
  EXPECT_FALSE(Exists(root_ / "elsewhere.css"));

  ASSERT_EQ(unlink(sheet_.c_str()), 0);
  ASSERT_EQ(MakeFolder(sheet_.c_str()), 0);
  EXPECT_EQ(WriteStyleSheetBeside(report_).outcome, StyleSheetOutcome::kPresent);
}

TEST_F(WriteStyleSheet, AFolderThatCannotTakeItGivesTheReasonWithoutThrowing) {
  const std::string missing = root_ / "gone";
  const StyleSheetResult result = WriteStyleSheetBeside(missing + "/result.htm");
  EXPECT_EQ(result.outcome, StyleSheetOutcome::kFailed);
  EXPECT_EQ(result.error,
            "Cannot create file \"" + missing + "/result.css\". No such file or directory");
  EXPECT_FALSE(Exists(missing));
}

TEST_F(WriteStyleSheet, AReadOnlyFolderGivesPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  const std::string locked = root_ / "locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
  const StyleSheetResult result = WriteStyleSheetBeside(locked + "/result.htm");
  EXPECT_EQ(result.outcome, StyleSheetOutcome::kFailed);
  EXPECT_EQ(result.error,
            "Cannot create file \"" + locked + "/result.css\". Permission denied");
  chmod(locked.c_str(), 0700);
}

// A sheet is named only once whole: one that cannot be written whole
// leaves nothing, so that the next search writes it instead of finding a
// broken one "present".
TEST_F(WriteStyleSheet, AHalfWrittenSheetLeavesNothing) {
  if (ReportStyleSheet().size() < 2) GTEST_SKIP() << "the sheet is too short to cut";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit below the sheet's size: the write fails with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1, 1};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    const StyleSheetResult result = WriteStyleSheetBeside(report_);
    const bool as_expected = result.outcome == StyleSheetOutcome::kFailed &&
                             result.error.starts_with("Cannot write file \"" + sheet_ + "\". ");
    _exit(as_expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(Exists(sheet_));
}

}  // namespace
}  // namespace tallyfold
