// The command line's style sheet and what it says besides the summary: the
// sheet written beside the report or left out, the note when it cannot be
// written, the pattern's hints and the opener's note. The command line runs
// in-process, but for a report on standard output and for runs as another
// user, which need a process of their own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"
#include "app/CliInProcess.h"
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

  // Runs the command line in-process with `args` and the corpus, in the
  // working folder.
  CliResult Run(std::vector<std::string> args) {
    args.push_back(corpus_);
    return RunCliInProcess(args, work_);
  }
  // The same through the program, for a report on its standard output.
  CliResult RunProgram(std::vector<std::string> args) {
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
    const CliResult result = RunProgram(args);
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

// The pattern's notes come whenever they apply, not only when nothing
// matched: the \b note with the count without the wrap, and the anchors
// with the form that works.
TEST_F(CliMessages, PatternHintsGoToStandardErrorUnlessQuiet) {
  WriteBytes(corpus_ + "/b.txt", "\xEF\xBB\xBF" "a 河 b\n河x\nx河x\nthe end\n");
  const std::string boundary =
      "\\b counts only ASCII letters, digits and \"_\" as word characters, so the \\b added "
      "there matches only beside one of those. ";
  const struct {
    std::vector<std::string> args;
    std::string out_start;
    std::string err;
  } cases[] = {
      {{"河"}, "1 matching line",
       "tallyfold-cli: hint: the pattern is \"河\", and " + boundary +
           "1 line matched; without the \\b wrap 4 would: pass --no-boundary\n"},
      {{"河水"}, "0 matching lines",
       "tallyfold-cli: hint: the pattern begins and ends with \"河\" and \"水\", and " +
           boundary + "0 lines matched; without the \\b wrap 1 would: pass --no-boundary\n"},
      {{"x河"}, "1 matching line",
       "tallyfold-cli: hint: the pattern ends with \"河\", and " + boundary +
           "1 line matched, as many as without the \\b wrap\n"},
      // Without the wrap it does not compile: no count.
      {{"河\\"}, "0 matching lines",
       "tallyfold-cli: hint: the pattern begins with \"河\", and " + boundary +
           "0 lines matched; pass --no-boundary to search without the \\b wrap\n"},
      {{"--no-boundary", "^the"}, "0 matching lines",
       "tallyfold-cli: hint: each line is searched with a space added at each end, so \"^the\" "
       "can never match as typed; search for \"^ the\"\n"},
      {{"end$"}, "0 matching lines",
       "tallyfold-cli: hint: each line is searched with a space added at each end, so \"end$\" "
       "can never match as typed; search for \"end $\" with --no-boundary\n"},
      {{"^ the"}, "0 matching lines",
       "tallyfold-cli: hint: each line is searched with a space added at each end, so the \\b "
       "added beside \"^\" can never match; search with --no-boundary\n"},
      {{"--no-boundary", "河"}, "4 matching lines", ""},
      {{"--no-boundary", "^ the"}, "2 matching lines", ""},
      {{"ocean"}, "0 matching lines", ""},
      {{"--quiet", "河"}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const CliResult result = Run(c.args);
    ASSERT_EQ(result.status, 0) << result.err;
    // The summary: "N matches in " the lines "in ..."
    if (!c.out_start.empty()) {
      EXPECT_NE(result.out.find(" in " + c.out_start + " in "), std::string::npos) << result.out;
    }
    EXPECT_EQ(result.out.empty(), c.out_start.empty());
    EXPECT_EQ(result.err, c.err);
  }
}

// Files that are not what their size says: a link to a file of /proc, whose
// size is 0 whatever it holds, is named and searched as empty, beside an
// ordinary file; the run still succeeds, and --quiet says nothing.
TEST_F(CliMessages, AFileOfSizeZeroThatHoldsBytesIsNamed) {
  ASSERT_EQ(symlink("/proc/self/status", (corpus_ + "/status.txt").c_str()), 0);
  const std::string note = "tallyfold-cli: status.txt has a size of 0 but gave bytes when read, "
                           "as the system's own files (/proc, /sys) do: it was searched as empty\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {{{"river"}, note}, {{"--quiet", "river"}, ""}};
  for (const auto& c : cases) {
    const CliResult result = Run(c.args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, c.err);
  }
}

// Waits until the process `pid` has the file at `path` open; false when the
// process ends first (it is then waited for).
bool WaitUntilOpen(pid_t pid, const std::string& path) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (;;) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fds, error)) {
      std::error_code gone;
      if (fs::read_symlink(entry.path(), gone) == path) return true;
    }
    if (error) return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A file cut short while the program searches it, as a log rotated away
// under a search would be: its counts are incomplete, and the run says so
// by name and by its exit status, also with --quiet, where it says nothing
// else. The file is big enough that it is still being read long after it
// is cut.
TEST_F(CliMessages, AFileCutShortWhileSearchedIsNamedAndTheExitStatusSaysSo) {
  std::string big;
  for (int i = 0; i < 1 << 22; ++i) big += "the cat\n";
  const std::string path = corpus_ + "/big.txt";
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "not quiet");
    WriteBytes(path, big);
    const std::string err = root_ / "err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> args = {TALLYFOLD_CLI_PATH, "--threads", "1", "-o",
                                     work_ + "/r.htm", "cat", corpus_};
    if (quiet) args.insert(args.begin() + 1, "--quiet");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(WaitUntilOpen(pid, path)) << "the program ended before it opened the file";
    EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(big.size() / 2)), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    const std::string said = ReadBytes(err);
    EXPECT_EQ(said.find("tallyfold-cli: big.txt changed while it was searched: the counts for it "
                        "may be incomplete\n") != std::string::npos,
              !quiet)
        << said;
    if (quiet) {
      EXPECT_EQ(said, "");
    }
  }
}

// --open: an opener that exits non-zero says the same as one that is not
// there; one that hands the report over says nothing. Stand-ins for
// xdg-open are put on PATH.
TEST_F(CliMessages, AnOpenerThatFailsOrIsMissingIsANote) {
  const std::string bin = root_ / "bin";
  fs::create_directory(bin);
  const std::string opened = root_ / "opened";
  const char* const saved = std::getenv("PATH");
  const std::string path = saved != nullptr ? saved : "";
  setenv("PATH", bin.c_str(), 1);
  const std::string note =
      "tallyfold-cli: note: the report is written, but the desktop did not open it (xdg-open "
      "is missing or failed)\n";
  const struct {
    const char* name;
    std::string script;  // empty: no xdg-open
    std::string err;
  } cases[] = {
      {"missing", "", note},
      {"exits 4", "#!/bin/sh\necho \"$1\" > " + opened + "\nexit 4\n", note},
      {"exits 3", "#!/bin/sh\nexit 3\n", note},
      {"opens", "#!/bin/sh\necho \"$1\" > " + opened + "\nexit 0\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(bin + "/xdg-open");
    fs::remove(opened);
    if (!c.script.empty()) {
      WriteBytes(bin + "/xdg-open", c.script);
      chmod((bin + "/xdg-open").c_str(), 0755);
    }
    const CliResult result = Run({"--quiet", "--open", "river"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, c.err);
    if (c.script.find(opened) != std::string::npos) {
      EXPECT_EQ(ReadBytes(opened), work_ + "/result.htm\n");
    }
  }
  setenv("PATH", path.c_str(), 1);
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
