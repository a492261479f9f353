// Where the report goes, tried as a hostile user would: -o naming a device, a
// FIFO, a link to the program's own standard output, a broken link or a
// loop, a folder, or one of the corpus files; paths through links with "..";
// and messages in a locale that is not UTF-8. Each run is the real
// tallyfold-cli. How a run ends when stopped or out of memory is among the
// failures of FailedSearchTest.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"

namespace tallyfold::testing {
namespace {

namespace fs = std::filesystem;

const std::string kPrevious = std::string("\xFF\xFE<\0p\0>\0\r\0\n\0", 10);

bool IsCharacterDevice(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool IsLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A working folder with a corpus of one matching line and a previous report
// beside it; `Reference` is the report a plain run writes to a file.
class Place {
 public:
  Place() {
    fs::create_directory(corpus);
    WriteBytes(corpus + "/a.txt", "the cat\nno match here\nthe dog and the bird\n");
    WriteBytes(report, kPrevious);
  }

  CliResult Run(std::vector<std::string> args) {
    return RunCli(CliLaunch{std::move(args), root.Path()});
  }

  std::string Reference() {
    const std::string path = root / "reference.htm";
    const CliResult result = Run({"-o", path, "the", corpus});
    EXPECT_EQ(result.status, 0) << result.err;
    std::string bytes = ReadBytes(path);
    fs::remove(path);
    return bytes;
  }

  // The run failed with `message` and exit status 1, and the previous
  // report is as it was.
  void ExpectFailed(const CliResult& result, const std::string& message) const {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message + "\n");
    EXPECT_EQ(ReadBytes(report), kPrevious);
  }

  TempFolder root;
  const std::string corpus = root / "corpus";
  const std::string report = root / "result.htm";
};

TEST(ReportTarget, DeviceIsWrittenThroughAndStaysADevice) {
  Place place;
  // Private copies of /dev/null and /dev/full, so that a fault cannot harm
  // the system's own nodes.
  const std::string null = place.root / "null";
  const std::string full = place.root / "full";
  if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make device nodes here";
  }
  CliResult result = place.Run({"-o", "null", "the", place.corpus});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(IsCharacterDevice(null));

  result = place.Run({"-o", "full", "the", place.corpus});
  place.ExpectFailed(result, "Cannot write file \"" + full + "\". No space left on device.");
  EXPECT_TRUE(IsCharacterDevice(full));
  EXPECT_EQ(FolderNames(place.root.Path()),
            (std::vector<std::string>{"corpus", "full", "null", "result.htm"}));
}

TEST(ReportTarget, FifoGetsTheWholeReportAndStaysAFifo) {
  Place place;
  const std::string expected = place.Reference();
  const std::string fifo = place.root / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open for reading (and writing, so that opening it never waits)
  // while the search runs; the small report fits the pipe's buffer.
  const int pipe_end = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(pipe_end, 0);
  const CliResult result = place.Run({"-o", fifo, "the", place.corpus});
  std::string received;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_end, buffer, sizeof buffer)) > 0;)
    received.append(buffer, static_cast<std::size_t>(n));
  close(pipe_end);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(received, expected);
  struct stat info;
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(ReportTarget, StandardOutputByDashOrByLink) {
  Place place;
  const std::string expected = place.Reference();
  // "-" and a link to the program's own descriptor 1 both put the report on
  // standard output, and the summary on standard error; the link stays.
  const std::string link = place.root / "out.htm";
  ASSERT_EQ(symlink("/proc/self/fd/1", link.c_str()), 0);
  for (const std::string& target : {std::string("-"), std::string("out.htm"),
                                    std::string("/dev/stdout")}) {
    SCOPED_TRACE(target);
    const CliResult result = place.Run({"-o", target, "the", place.corpus});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_NE(result.err.find(" matches in 2 matching lines in 1 file scanned"), std::string::npos)
        << result.err;
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(ReadBytes(place.report), kPrevious);
  }
  const CliResult open = place.Run({"--open", "-o", "-", "the", place.corpus});
  EXPECT_EQ(open.status, 2);
}

TEST(ReportTarget, LinksAreFollowedOrRefusedByName) {
  Place place;
  const std::string expected = place.Reference();
  const std::string real = place.root / "real.htm";
  WriteBytes(real, kPrevious);
  ASSERT_EQ(symlink("real.htm", (place.root / "link.htm").c_str()), 0);
  ASSERT_EQ(symlink("nowhere.htm", (place.root / "broken.htm").c_str()), 0);
  ASSERT_EQ(symlink("loop2.htm", (place.root / "loop1.htm").c_str()), 0);
  ASSERT_EQ(symlink("loop1.htm", (place.root / "loop2.htm").c_str()), 0);

  CliResult result = place.Run({"-o", "link.htm", "the", place.corpus});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(real), expected);
  EXPECT_TRUE(IsLink(place.root / "link.htm"));

  result = place.Run({"-o", "broken.htm", "the", place.corpus});
  place.ExpectFailed(result, "Cannot create file \"" + place.root / "broken.htm" +
                                 "\". The link names a file that does not exist.");
  EXPECT_FALSE(Exists(place.root / "nowhere.htm"));
  EXPECT_TRUE(IsLink(place.root / "broken.htm"));

  result = place.Run({"-o", "loop1.htm", "the", place.corpus});
  place.ExpectFailed(result, "Cannot create file \"" + place.root / "loop1.htm" +
                                 "\". Too many levels of symbolic links.");

  result = place.Run({"-o", "corpus", "the", place.corpus});
  place.ExpectFailed(result,
                     "Cannot create file \"" + place.corpus + "\". Is a directory.");
  result = place.Run({"-o", "new/", "the", place.corpus});
  EXPECT_EQ(result.status, 2);
  EXPECT_FALSE(Exists(place.root / "new"));
  EXPECT_EQ(FolderNames(place.root.Path()),
            (std::vector<std::string>{"broken.htm", "corpus", "link.htm", "loop1.htm",
                                      "loop2.htm", "real.htm", "result.css", "result.htm"}));
}

TEST(ReportTarget, CorpusFileIsNeverTheReport) {
  Place place;
  const std::string corpus_file = place.corpus + "/a.txt";
  const std::string before = ReadBytes(corpus_file);
  ASSERT_EQ(symlink("corpus/a.txt", (place.root / "alias.htm").c_str()), 0);
  ASSERT_EQ(link(corpus_file.c_str(), (place.root / "hard.htm").c_str()), 0);
  for (const std::string& target :
       {std::string("corpus/a.txt"), std::string("alias.htm"), std::string("hard.htm")}) {
    SCOPED_TRACE(target);
    const CliResult result = place.Run({"-o", target, "the", place.corpus});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Cannot create file \"" + place.root / target +
                              "\". It is one of the corpus files being searched.\n");
    EXPECT_EQ(ReadBytes(corpus_file), before);
  }
}

// A link named like the report in a shared folder: another user could plant
// it to have the run write over any file the runner may write. It is
// followed only when the runner or root owns it, or in a folder that is not
// both sticky and world-writable; a link on the way counts as much as the
// last one.
TEST(ReportTarget, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "making another user's link needs root";
  constexpr uid_t kOther = 65534;
  const struct {
    const char* name;
    mode_t folder_mode;
    uid_t first_owner;   // the link named by -o
    uid_t second_owner;  // the link it names, which names the victim
    bool followed;
  } cases[] = {
      {"shared, another user's link", 01777, kOther, 0, false},
      {"shared, another user's link behind the runner's", 01777, 0, kOther, false},
      {"shared, the runner's links", 01777, 0, 0, true},
      {"world-writable without the sticky bit", 0777, kOther, kOther, true},
      {"sticky but not world-writable", 01775, kOther, kOther, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Place place;
    const std::string expected = place.Reference();
    const std::string shared = place.root / "shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), c.folder_mode), 0);
    const std::string victim = place.root / "victim.htm";
    WriteBytes(victim, kPrevious);
    ASSERT_EQ(symlink("second.htm", (shared + "/result.htm").c_str()), 0);
    ASSERT_EQ(symlink("../victim.htm", (shared + "/second.htm").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/result.htm").c_str(), c.first_owner, c.first_owner), 0);
    ASSERT_EQ(lchown((shared + "/second.htm").c_str(), c.second_owner, c.second_owner), 0);

    const CliResult result = place.Run({"-o", shared + "/result.htm", "the", place.corpus});
    if (c.followed) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(ReadBytes(victim), expected);
    } else {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, "Cannot create file \"" + shared +
                                "/result.htm\". The name is another user's link in a folder "
                                "anyone may write to, and is not followed.\n");
      EXPECT_EQ(ReadBytes(victim), kPrevious);
    }
    EXPECT_TRUE(IsLink(shared + "/result.htm"));
  }
}

// ---- Paths ----

TEST(Paths, DotDotAfterALinkIsWhereTheSystemGoes) {
  Place place;
  // lnk leads to real/sub, so lnk/.. is real, not the working folder.
  fs::create_directories(place.root / "real/sub");
  fs::create_directories(place.root / "real/corpus");
  WriteBytes(place.root / "real/corpus/b.txt", "the real one\n");
  ASSERT_EQ(symlink("real/sub", (place.root / "lnk").c_str()), 0);

  const CliResult result = place.Run({"-o", "lnk/../r.htm", "the", "lnk/../corpus"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(Exists(place.root / "r.htm"));
  const std::string report = ReadBytes(place.root / "real/r.htm");
  const std::vector<std::u16string> cells = TextCells(report);
  ASSERT_EQ(cells.size(), 1U);
  EXPECT_NE(cells[0].find(Widen("href=\"" + place.root / "real/corpus/b.txt\"")),
            std::u16string::npos)
      << Utf8Bytes(cells[0]);
  EXPECT_EQ(ReadBytes(place.report), kPrevious);
}

// A locale whose character set is Latin-1, made with localedef into
// `folder`; false when the system cannot make one.
bool MakeLatin1Locale(const std::string& folder) {
  const std::string command = "localedef -i en_US -f ISO-8859-1 '" + folder +
                              "/en_US.ISO-8859-1' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST(Paths, FolderErrorsAreUtf8InAnyLocale) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  Place place;
  const std::string locales = place.root / "locales";
  fs::create_directory(locales);
  if (!MakeLatin1Locale(locales)) GTEST_SKIP() << "localedef cannot make a Latin-1 locale";
  // "café" in Latin-1, unreadable for the user the search runs as.
  const std::string folder = place.root / "caf\xE9";
  fs::create_directory(folder);
  GiveToUnprivileged(place.root.Path());
  chmod(folder.c_str(), 0);
  CliLaunch launch{{"the", "caf\xE9"}, place.root.Path(), std::nullopt, true};
  launch.environment = {{"LOCPATH", locales}, {"LC_ALL", "en_US.ISO-8859-1"}};
  const CliResult result = RunCli(launch);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Cannot open folder \"" + place.root / "caf\xC3\xA9" +
                            "\". Permission denied.\n");
  chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace tallyfold::testing
