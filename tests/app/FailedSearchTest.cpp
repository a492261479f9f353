// Every way a run of tallyfold-cli can fail, in one table: a pattern that
// does not compile or fails while matching, a corpus entry that is no
// readable text file, a FOLDER that is not there, a report that cannot be
// written or outgrows the disk, memory running out, and a stop by Ctrl-C or
// SIGTERM while searching, while rows are set aside and while the report is
// written, and a kill by a signal the program does not catch at several
// moments of writing the report. Whatever the cause, the run ends with its
// status and its one message on stderr (a killed run with neither), prints
// nothing on stdout, and leaves the previous report byte for byte as it was,
// with no temporary file beside it.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"
#include "platform/File.h"
#include "regex/RegexEngine.h"

namespace tallyfold::testing {
namespace {

// A report as an earlier search might have left it, with a mode of its own:
// the new report takes it over, and is told by it from the rows set aside
// (0600) while both are being written.
const std::string kPrevious = std::string("\xFF\xFE<\0p\0>\0\r\0\n\0", 10);
constexpr mode_t kPreviousMode = 0640;

std::string Repeat(const std::string& unit, std::size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// `text` with every "{root}" and "{corpus}" replaced by the scene's paths.
std::string Expand(std::string text, const std::string& root, const std::string& corpus) {
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"{corpus}", corpus},
                                   std::pair<std::string, std::string>{"{root}", root}}) {
    for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos;) {
      text.replace(at, key.size(), value);
      at += value.size();
    }
  }
  return text;
}

// A working folder holding the previous report, result.htm, and a corpus
// folder with one file, a.txt, whose one line matches "the".
struct Scene {
  Scene() {
    std::filesystem::create_directory(corpus);
    WriteBytes(corpus + "/a.txt", "the cat\n");
    WriteBytes(report, kPrevious);
    chmod(report.c_str(), kPreviousMode);
  }

  TempFolder root;
  const std::string corpus = root / "corpus";
  const std::string report = root / "result.htm";
  // What a case keeps alive while the search runs (a descriptor, a mount);
  // released before the folder is removed.
  std::vector<std::shared_ptr<void>> held;
};

// When the run is stopped, and by which signal.
enum class Stop {
  kNone,
  kWhileSearching,      // once it has been searching for a moment
  kWhileSettingAside,   // once it holds rows in a nameless file beside the report
  kWhileWriting,        // once the report's new file holds `written` bytes
};

struct Failure {
  std::string name;               // the test's name
  std::vector<std::string> args;  // "{corpus}" and "{root}" are expanded
  int status = 1;
  std::string message;            // stderr without its line break, expanded
  // Prepares the scene and the launch; a non-empty answer skips the case.
  std::function<std::string(Scene&, CliLaunch&)> prepare = nullptr;
  Stop stop = Stop::kNone;
  int signal = 0;
  std::string report = "result.htm";  // the previous report, in the working folder
  std::int64_t written = 0;           // for kWhileWriting
};

// Names the case in test listings, instead of its bytes.
void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

// ---- What the cases prepare ----

// Closes a descriptor a case keeps open while the search runs.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// A tmpfs of 64 KiB mounted for the length of a case.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where) : where_(where) {
    mounted_ = mkdir(where.c_str(), 0755) == 0 &&
               mount("tmpfs", where.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (!mounted_) error_ = SystemErrorText(errno);
  }
  ~SmallDisk() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }

 private:
  std::string where_;
  bool mounted_ = false;
  std::string error_;
};

// Makes the corpus entry `name` with `make`, keeping what it opens.
std::function<std::string(Scene&, CliLaunch&)> Entry(
    const std::string& name, std::function<void(const std::string&, Descriptor&)> make,
    bool unprivileged = false) {
  return [=](Scene& scene, CliLaunch& launch) {
    auto held = std::make_shared<Descriptor>();
    make(scene.corpus + "/" + name, *held);
    scene.held.push_back(held);
    if (unprivileged) {
      GiveToUnprivileged(scene.root.Path());
      launch.unprivileged = true;
    }
    return std::string();
  };
}

// Lines of forty "the": a report of some 170 MB per 60,000 of them, so that
// setting rows aside and writing the report take a while.
std::string ManyMatchingLines() {
  return Repeat(Repeat("the ", 40) + "\n", 60000);
}

// A corpus whose report is about 400 KB: 2,000 matching lines.
void WriteLargeReportCorpus(const std::string& folder) {
  std::string text;
  for (int n = 0; n < 2000; ++n) text += "the line " + std::to_string(n) + " of a long corpus\n";
  WriteBytes(folder + "/b.txt", text);
}

std::string FullDiskMessage(bool rows_on_disk, const std::string& report,
                            const std::string& reason) {
  if (!rows_on_disk) return "Cannot write file \"" + report + "\". " + reason;
  return "Cannot set rows aside in \"" + report.substr(0, report.rfind('/')) + "\". " + reason;
}

// ---- The table ----

std::vector<Failure> Failures() {
  std::vector<Failure> table;

  // Patterns that do not compile. Codes 100 (no expression), 105, 114, 119
  // and 126 cannot come from a pattern, and 128 only from setting the line
  // separators; 101 needs a pattern longer than a command-line argument can
  // be (see CompileHostileTest).
  struct Compile {
    const char* name;
    std::string pattern;
    bool boundary;  // searched as \b + pattern + \b
    int code;
    int position;
  };
  const std::size_t depth = (kLongestArgument - 1) / 2;
  const Compile compiles[] = {
      {"FifteenGroups", Repeat("(a)", 15), false, 102, 43},
      {"NestedGroupsAsLongAsTheLongestArgument", Repeat("(", depth) + "a" + Repeat(")", depth),
       false, 102, 15},
      {"UnmatchedOpening", "(a", false, 103, 2},
      {"UnmatchedOpeningWithTheBoundary", "(a", true, 103, 6},
      {"UnmatchedClosing", "a)", false, 104, 1},
      {"UnmatchedClosingWithTheBoundary", "a)", true, 104, 3},
      {"OperandCouldBeEmpty", "(a*)*", false, 106, 4},
      {"NestedQuantifiers", "a**", false, 107, 2},
      {"BadHexDigit", "\\xg1", false, 108, 2},
      {"RangeOutOfOrder", "[z-a]", false, 109, 3},
      {"ClassEndingInABackslash", "[ab\\", false, 110, 4},
      {"NoHexCode", "\\x", false, 111, 2},
      {"HexCodeTooBig", "\\x{12345}", false, 112, 7},
      {"UnmatchedBracket", "[a", false, 113, 2},
      {"QuantifierAfterNothing", "*a", false, 115, 1},
      {"TrailingBackslash", "a\\", false, 116, 2},
      {"CountTooBig", "a{123456789}", false, 122, 11},
      {"MinimumAboveMaximum", "a{3,2}", false, 124, 5},
      {"UnclosedComment", "(?#x", false, 125, 4},
      {"UnknownModifierGroup", "(?:a)", false, 127, 4},
      // Positions count UTF-16 units: 中 is one, 😀 two.
      {"PositionInUtf16Units", "中😀(", false, 103, 4},
      // Malformed UTF-8 is one unit per broken sequence.
      {"PositionAfterMalformedUtf8", "\xFF\xE4\xB8(", false, 103, 3},
  };
  for (const Compile& c : compiles) {
    Failure failure{std::string("Pattern") + c.name, {c.pattern, "{corpus}"}, 1,
                    CompileMessage(c.code, c.position)};
    if (!c.boundary) failure.args.insert(failure.args.begin(), "--no-boundary");
    table.push_back(failure);
  }
  // The wording once as a user reads it, apart from the engine's table: a
  // compile message ends in ")", below ".", so no full stop is added.
  for (Failure& failure : table) {
    if (failure.name == "PatternUnmatchedOpening")
      failure.message = "TRegexEngine(comp): ParseReg Unmatched () (pos 2)";
  }

  // A pattern that compiles but fails while matching: eleven nested counted
  // loops overflow the loop stack at the "a" of "cat". The message ends in a
  // letter, so it gets its full stop.
  table.push_back({"PatternFailsWhileMatching",
                   {"--no-boundary", Repeat("(", 11) + "a" + Repeat("){1,2}", 11), "{corpus}"},
                   1,
                   "TRegexEngine(exec): Loop Stack Exceeded."});

  // A FOLDER that is not there or is no folder, with and without
  // --recursive: refused before anything is read.
  const struct {
    const char* name;
    std::string given;
    std::string message;
  } folders[] = {
      {"Misspelt", "corpsu",
       "Cannot search folder \"{root}/corpsu\". No such file or directory."},
      {"InAFolderNotThere", "{root}/no such/deeper",
       "Cannot search folder \"{root}/no such/deeper\". No such file or directory."},
      {"AFile", "corpus/a.txt", "Cannot search folder \"{corpus}/a.txt\". Not a directory."},
      {"InsideAFile", "corpus/a.txt/x",
       "Cannot search folder \"{corpus}/a.txt/x\". Not a directory."},
  };
  for (const auto& folder : folders) {
    table.push_back({std::string("Folder") + folder.name, {"the", folder.given}, 1,
                     folder.message});
    table.push_back({std::string("Folder") + folder.name + "Recursive",
                     {"--recursive", "the", folder.given}, 1, folder.message});
  }
  table.push_back({"UnreadableSubFolderOfARecursiveSearch",
                   {"--recursive", "the", "corpus"}, 1,
                   "Cannot open folder \"{corpus}/b/locked\". Permission denied.",
                   [](Scene& scene, CliLaunch& launch) {
                     std::filesystem::create_directories(scene.corpus + "/b/locked");
                     WriteBytes(scene.corpus + "/b/locked/x.txt", "the cat\n");
                     GiveToUnprivileged(scene.root.Path());
                     chmod((scene.corpus + "/b/locked").c_str(), 0);
                     launch.unprivileged = true;
                     return std::string();
                   }});

  // Corpus entries that are no readable text file. FIFOs, sockets and
  // devices are refused at once, like a folder: such an entry holds no text
  // file, and reading one could wait for a writer or never end.
  // `name` is the entry's name as bytes, `shown` as the message gives it.
  const auto entry = [&](const std::string& test, const std::string& name,
                         const std::string& shown,
                         std::function<void(const std::string&, Descriptor&)> make,
                         const std::string& reason, bool unprivileged = false) {
    table.push_back({"Entry" + test, {"the", "{corpus}"}, 1,
                     "Cannot open file \"{corpus}/" + shown + "\". " + reason + ".",
                     Entry(name, make, unprivileged)});
  };
  entry("Folder", "x.txt", "x.txt", [](const std::string& path, Descriptor&) { mkdir(path.c_str(), 0755); },
        "Is a directory");
  entry("DanglingLink", "x.txt", "x.txt",
        [](const std::string& path, Descriptor&) { symlink("nowhere.txt", path.c_str()); },
        "No such file or directory");
  entry("LinkToItself", "x.txt", "x.txt",
        [](const std::string& path, Descriptor&) { symlink("x.txt", path.c_str()); },
        "Too many levels of symbolic links");
  entry("FifoWithoutAWriter", "x.txt", "x.txt",
        [](const std::string& path, Descriptor&) { mkfifo(path.c_str(), 0644); },
        "Not a regular file");
  entry("FifoWithAWriterAndTextWaiting", "x.txt", "x.txt",
        [](const std::string& path, Descriptor& held) {
          mkfifo(path.c_str(), 0644);
          held.fd = open(path.c_str(), O_RDWR);
          if (write(held.fd, "the dog\n", 8) != 8) throw std::runtime_error("FIFO write failed");
        },
        "Not a regular file");
  entry("Device", "x.txt", "x.txt",
        [](const std::string& path, Descriptor&) { symlink("/dev/zero", path.c_str()); },
        "Not a regular file");
  entry("Socket", "x.txt", "x.txt",
        [](const std::string& path, Descriptor& held) {
          held.fd = socket(AF_UNIX, SOCK_STREAM, 0);
          sockaddr_un address{};
          address.sun_family = AF_UNIX;
          std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
          if (bind(held.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("bind failed");
        },
        "No such device or address");
  entry("FileItsReaderMayNotRead", "x.txt", "x.txt",
        [](const std::string& path, Descriptor&) {
          WriteBytes(path, "the secret\n");
          chmod(path.c_str(), 0);
        },
        "Permission denied", true);
  entry("FolderWhoseNameIsNotUtf8", "d\xFF.txt", "d\xEF\xBF\xBD.txt",
        [](const std::string& path, Descriptor&) { mkdir(path.c_str(), 0755); },
        "Is a directory");
  // Among many files on two threads, the first entry in the folder's order
  // is the one reported, whichever a worker reaches first.
  table.push_back({"EntryFolderAmongManyFilesOnTwoThreads",
                   {"--threads", "2", "the", "{corpus}"}, 1,
                   "Cannot open file \"{corpus}/f030.txt\". Is a directory.",
                   [](Scene& scene, CliLaunch&) {
                     for (int i = 0; i < 60; ++i) {
                       const std::string digits = std::to_string(i);
                       const std::string path = scene.corpus + "/f" +
                                                std::string(3 - digits.size(), '0') + digits +
                                                ".txt";
                       if (i == 30 || i == 41) {
                         mkdir(path.c_str(), 0755);
                       } else {
                         WriteBytes(path, Repeat("the line\n", 7));
                       }
                     }
                     return std::string();
                   }});

  // Reports that cannot be replaced: the previous one is in out/.
  const auto locked = [](mode_t folder_mode, mode_t report_mode) {
    return [=](Scene& scene, CliLaunch& launch) {
      mkdir((scene.root / "out").c_str(), 0755);
      WriteBytes(scene.root / "out/result.htm", kPrevious);
      GiveToUnprivileged(scene.root.Path());
      chmod((scene.root / "out/result.htm").c_str(), report_mode);
      chmod((scene.root / "out").c_str(), folder_mode);
      launch.unprivileged = true;
      return std::string();
    };
  };
  table.push_back({"ReportInAReadOnlyFolder", {"-o", "out/result.htm", "the", "{corpus}"}, 1,
                   "Cannot create file \"{root}/out/result.htm\". Permission denied.",
                   locked(0555, 0644), Stop::kNone, 0, "out/result.htm"});
  table.push_back({"ReadOnlyReport", {"-o", "out/result.htm", "the", "{corpus}"}, 1,
                   "Cannot create file \"{root}/out/result.htm\". Permission denied.",
                   locked(0755, 0444), Stop::kNone, 0, "out/result.htm"});

  // A full disk: first a limit on the size of any file the program writes
  // (RLIMIT_FSIZE), which fails a write as a full disk does, then a real
  // small disk. With --row-memory 0 the rows go to disk beside the report
  // as they are found, so the disk fills while searching.
  for (const bool rows_on_disk : {false, true}) {
    std::vector<std::string> rows;
    if (rows_on_disk) rows = {"--row-memory", "0"};
    const std::string kind = rows_on_disk ? "RowsOnDisk" : "RowsInMemory";
    std::vector<std::string> args = rows;
    args.insert(args.end(), {"the", "{corpus}"});
    table.push_back({"WriteLimit" + kind, args, 1,
                     FullDiskMessage(rows_on_disk, "{root}/result.htm", "File too large."),
                     [](Scene& scene, CliLaunch& launch) {
                       WriteLargeReportCorpus(scene.corpus);
                       launch.file_size_limit = rlim_t{65536};
                       return std::string();
                     }});
    args = rows;
    args.insert(args.end(), {"-o", "disk/result.htm", "the", "{corpus}"});
    table.push_back({"FullDisk" + kind, args, 1,
                     FullDiskMessage(rows_on_disk, "{root}/disk/result.htm",
                                     "No space left on device."),
                     [](Scene& scene, CliLaunch&) {
                       WriteLargeReportCorpus(scene.corpus);
                       auto disk = std::make_shared<SmallDisk>(scene.root / "disk");
                       if (!disk->Mounted()) return "cannot mount a tmpfs here: " + disk->Error();
                       scene.held.push_back(disk);
                       WriteBytes(scene.root / "disk/result.htm", kPrevious);
                       return std::string();
                     },
                     Stop::kNone, 0, "disk/result.htm"});
  }

  // Memory running out: one line of 30 MB with an empty match at every
  // position, whose row alone is far more than the limit allows. (Rows of
  // many lines would not do: they are set aside on disk beyond a budget.)
  for (const std::string threads : {"1", "2"}) {
    table.push_back({"OutOfMemoryOn" + threads + "Threads",
                     {"--no-boundary", "--threads", threads, "x*", "{corpus}"}, 1,
                     "Out of memory while searching \"{corpus}\"",
                     [](Scene& scene, CliLaunch& launch) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
                       (void)scene;
                       (void)launch;
                       return std::string(
                           "the sanitizers' shadow memory does not fit an address-space limit");
#else
                       WriteBytes(scene.corpus + "/a.txt", Repeat("ab", 15000000) + "\n");
                       launch.memory_limit = rlim_t{768} << 20;
                       return std::string();
#endif
                     }});
  }

  // Stops: the program ends with 128 + the signal's number and says so.
  const auto slow_corpus = [](int files, int lines, const std::string& line) {
    return [=](Scene& scene, CliLaunch&) {
      for (int i = 0; i < files; ++i)
        WriteBytes(scene.corpus + "/" + std::to_string(i) + ".txt",
                   Repeat(line + "\n", static_cast<std::size_t>(lines)));
      return std::string();
    };
  };
  const std::string catastrophic = Utf8Bytes(kCatastrophicPattern);
  const struct {
    const char* name;
    int signal;
    int files, lines;
    std::string line;
  } searching[] = {
      {"CtrlCBetweenLines", SIGINT, 8, 300, std::string(16, 'a')},
      {"SigtermBetweenLines", SIGTERM, 8, 300, std::string(16, 'a')},
      // One line of seconds of matching, cut short inside the line.
      {"CtrlCInsideOneLongMatch", SIGINT, 1, 1, LongBacktrackingLine()},
  };
  for (const auto& stop : searching) {
    table.push_back({stop.name, {"--no-boundary", catastrophic, "{corpus}"}, 128 + stop.signal,
                     "tallyfold-cli: cancelled", slow_corpus(stop.files, stop.lines, stop.line),
                     Stop::kWhileSearching, stop.signal});
  }
  const auto big_report = [](Scene& scene, CliLaunch&) {
    WriteBytes(scene.corpus + "/big.txt", ManyMatchingLines());
    return std::string();
  };
  for (const int signal : {SIGTERM, SIGINT}) {
    const std::string name = signal == SIGINT ? "CtrlC" : "Sigterm";
    table.push_back({name + "WhileRowsAreSetAside",
                     {"--row-memory", "0", "--threads", "1", "the", "{corpus}"}, 128 + signal,
                     "tallyfold-cli: cancelled",
                     [](Scene& scene, CliLaunch&) {
                       const std::string text = ManyMatchingLines();
                       for (const char* name : {"a.txt", "b.txt", "c.txt"})
                         WriteBytes(scene.corpus + "/" + name, text);
                       return std::string();
                     },
                     Stop::kWhileSettingAside, signal});
    table.push_back({name + "WhileTheReportIsWritten", {"the", "{corpus}"}, 128 + signal,
                     "tallyfold-cli: cancelled", big_report, Stop::kWhileWriting, signal});
  }

  // Signals the program does not catch end it at once, with no message
  // (status -1: it did not exit). The report's new file has no name until
  // it is whole, so none is left behind, however far the writing got.
  const struct {
    const char* name;
    int signal;
    std::int64_t written;
  } kills[] = {
      {"SigkillAsTheReportIsStarted", SIGKILL, 0},
      {"SigkillWithTheReportPartWritten", SIGKILL, std::int64_t{8} << 20},
      {"SigkillWithMostOfTheReportWritten", SIGKILL, std::int64_t{100} << 20},
      {"SighupWhileTheReportIsWritten", SIGHUP, std::int64_t{1} << 20},
      {"SigquitWhileTheReportIsWritten", SIGQUIT, std::int64_t{1} << 20},
  };
  for (const auto& killed : kills) {
    table.push_back({killed.name, {"the", "{corpus}"}, -1, "", big_report, Stop::kWhileWriting,
                     killed.signal, "result.htm", killed.written});
  }
  table.push_back({"SigkillWhileRowsAreSetAside",
                   {"--row-memory", "0", "--threads", "1", "the", "{corpus}"}, -1, "",
                   big_report, Stop::kWhileSettingAside, SIGKILL});
  return table;
}

// ---- Running a case ----

// Whether process `pid` has a handler of its own for `signal`, which the
// program installs before it starts searching.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("SigCgt:"))
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U;
  }
  return false;
}

// A file process `pid` holds open in `folder`, found through its
// descriptors.
struct HeldFile {
  bool nameless = false;  // made without a name there, or removed since
  bool temporary = false;  // named as a report's temporary file: ".NAME....tmp"
  mode_t mode = 0;
  std::int64_t size = 0;
};

std::vector<HeldFile> HeldFiles(pid_t pid, const std::string& folder) {
  std::vector<HeldFile> held;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error);
    struct stat info;
    if (error || !target.starts_with(folder + "/") || stat(entry.path().c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode))
      continue;
    const std::string name = target.substr(folder.size() + 1);
    held.push_back({name.ends_with(" (deleted)") || name.starts_with("#"),
                    name.starts_with(".") && name.ends_with(".tmp"), info.st_mode & 07777,
                    info.st_size});
  }
  return held;
}

// Whether the file system of `folder` can make a file without a name.
bool MakesNamelessFiles(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The rows process `pid` sets aside in a nameless file in `folder`.
bool SetsRowsAsideIn(pid_t pid, const std::string& folder) {
  for (const HeldFile& file : HeldFiles(pid, folder)) {
    if (file.nameless && file.mode == 0600) return true;
  }
  return false;
}

// The new report process `pid` writes in `folder` (it has the previous
// report's mode), or nothing.
std::optional<HeldFile> ReportBeingWritten(pid_t pid, const std::string& folder) {
  for (const HeldFile& file : HeldFiles(pid, folder)) {
    if ((file.nameless || file.temporary) && file.mode == kPreviousMode) return file;
  }
  return std::nullopt;
}

// Waits, a little at a time, until `ready` holds or two minutes have passed.
bool WaitFor(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class FailedSearch : public ::testing::TestWithParam<Failure> {};

TEST_P(FailedSearch, KeepsThePreviousReportByteForByte) {
  const Failure& failure = GetParam();
  Scene scene;
  const std::string root = scene.root.Path();
  std::vector<std::string> args;
  for (const std::string& arg : failure.args) args.push_back(Expand(arg, root, scene.corpus));
  CliLaunch launch{args, root};
  if (failure.prepare) {
    const std::string skip = failure.prepare(scene, launch);
    if (!skip.empty()) GTEST_SKIP() << skip;
  }
  const std::string report = scene.root / failure.report;
  const std::string report_folder = report.substr(0, report.rfind('/'));
  ASSERT_EQ(ReadBytes(report), kPrevious);
  const std::vector<std::string> before = FolderNames(report_folder);

  LaunchedCli run(launch);
  switch (failure.stop) {
    case Stop::kNone:
      break;
    case Stop::kWhileSearching:
      ASSERT_TRUE(WaitFor([&] { return Catches(run.Pid(), failure.signal); }));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      break;
    case Stop::kWhileSettingAside:
      ASSERT_TRUE(WaitFor([&] { return SetsRowsAsideIn(run.Pid(), root); }))
          << "no rows were ever seen set aside";
      EXPECT_FALSE(ReportBeingWritten(run.Pid(), root)) << "the report is already being written";
      break;
    case Stop::kWhileWriting: {
      std::optional<HeldFile> written;
      ASSERT_TRUE(WaitFor([&] {
        written = ReportBeingWritten(run.Pid(), root);
        return written && written->size >= failure.written;
      })) << "the report was never seen being written that far";
      // Where the file system cannot make a nameless file, a killed writer
      // leaves its named one for the next to remove (see TextFileTest).
      if (failure.status == -1 && !MakesNamelessFiles(root))
        GTEST_SKIP() << "this file system makes no nameless files";
      break;
    }
  }
  if (failure.stop != Stop::kNone) {
    ASSERT_EQ(kill(run.Pid(), failure.signal), 0);
  }
  const CliResult result = run.Finish();

  EXPECT_EQ(result.status, failure.status) << result.err;
  EXPECT_EQ(result.err,
            failure.message.empty() ? "" : Expand(failure.message, root, scene.corpus) + "\n");
  EXPECT_EQ(result.out, "");
  chmod(report_folder.c_str(), 0755);
  EXPECT_EQ(ReadBytes(report), kPrevious);
  EXPECT_EQ(FolderNames(report_folder), before) << "a file was left beside the report";
}

INSTANTIATE_TEST_SUITE_P(EveryCause, FailedSearch, ::testing::ValuesIn(Failures()),
                         [](const ::testing::TestParamInfo<Failure>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace tallyfold::testing
