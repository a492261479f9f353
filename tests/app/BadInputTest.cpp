// The bad-input matrix: tallyfold-cli run on what it must take in spite of
// its size or its bytes. Huge patterns; NUL bytes, lone surrogates and
// malformed UTF-8 in text and in names; a file rewritten while it is read;
// a report whose place is taken; two searches racing for one report. A
// success must give its exact report. The failures, each with its message
// and the previous report kept byte for byte, are in FailedSearchTest.
//
// The very large cases are the suite BadInputSlow. They run only when
// TALLYFOLD_SLOW_TESTS is set, which the ctest entry labelled "slow" does
// (ctest -L slow); the test presets leave that label out.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/BadInputSupport.h"
#include "app/GoldenReport.h"
#include "app/SearchCommand.h"
#include "platform/File.h"
#include "regex/RegexEngine.h"

namespace tallyfold::testing {
namespace {

std::u16string Padded(const std::u16string& text) { return u" " + text + u" "; }

// A string literal with every byte, 0 included, but not its terminator.
template <typename Char, std::size_t N>
std::basic_string<Char> Whole(const Char (&literal)[N]) {
  return std::basic_string<Char>(literal, N - 1);
}

// A report as an earlier search might have left it.
const std::string kPrevious = Whole("\xFF\xFE<\0p\0>\0\r\0\n\0");

std::string Repeat(const std::string& unit, std::size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// A working folder holding the previous report and a corpus folder with one
// ordinary file, a.txt, whose one line matches "the".
class Scene {
 public:
  Scene() {
    if (mkdir(folder.c_str(), 0755) != 0) throw std::runtime_error("mkdir failed");
    WriteBytes(folder + "/a.txt", "the cat\n");
    WriteBytes(report, kPrevious);
  }

  CliResult Search(const std::vector<std::string>& args, bool unprivileged = false) {
    if (unprivileged) GiveToUnprivileged(root.Path());
    return RunCli(CliLaunch{args, root.Path(), std::nullopt, unprivileged});
  }

  // The search succeeded and wrote exactly these rows and tally lines.
  void ExpectReport(const CliResult& result, const std::vector<Row>& rows,
                    const std::vector<std::u16string>& summary,
                    const std::string& path = "") const {
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string bytes = ReadBytes(path.empty() ? report : path);
    EXPECT_EQ(bytes, ReportFileBytes(ReportLines(rows, summary)));
  }

  TempFolder root;
  const std::string folder = root / "corpus";
  const std::string report = root / "result.htm";
};

// The longest nesting of groups, refused at the fifteenth, is among the
// failures of FailedSearchTest.
TEST(BadInput, LongestLiteralTheCommandLineCarries) {
  {
    Scene scene;
    const std::string literal(kLongestArgument, 'q');
    WriteBytes(scene.folder + "/b.txt", "x " + literal + " y\n" + literal.substr(1) + "\n");
    const CliResult result = scene.Search({"--quiet", "--no-boundary", literal, scene.folder});
    const std::vector<Row> rows = {
        {1, Padded(u"x " + kKey + std::u16string(literal.begin(), literal.end()) + kEnd + u" y") +
                Info(scene.folder + "/b.txt", "b.txt", 1)}};
    scene.ExpectReport(result, rows, {u"【1】=1"});
  }
}

TEST(BadInput, MegabytePatternsThroughTheSearchCommand) {
  struct Case {
    const char* what;
    std::u16string pattern;
    std::string error;  // empty: the search succeeds
  };
  const std::size_t kMegabyte = 1 << 20;
  const std::u16string literal(kMegabyte, u'q');
  const std::u16string nested =
      std::u16string(100000, u'(') + u"a" + std::u16string(100000, u')');
  std::u16string in_a_row;
  for (int i = 0; i < 100000; ++i) in_a_row += u"(a)";
  const std::vector<Case> cases = {
      {"a literal of 1 MiB", literal, ""},
      {"100,000 nested groups", nested, CompileMessage(102, 15)},
      {"100,000 groups in a row", in_a_row, CompileMessage(102, 43)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    WriteBytes(scene.folder + "/b.txt", "x " + std::string(kMegabyte, 'q') + " y\n");
    SearchOptions options;
    options.pattern_text = c.pattern;
    options.folder = scene.folder;
    options.word_boundary = false;
    options.report_file = scene.report;
    SearchLists lists;
    try {
      RunSearch(options, lists);
      EXPECT_EQ(c.error, "") << "the search succeeded";
    } catch (const ERegexEngine& e) {
      EXPECT_EQ(e.what(), c.error);
    }
    if (c.error.empty()) {
      const std::vector<Row> rows = {
          {1, Padded(u"x " + kKey + literal + kEnd + u" y") +
                  Info(scene.folder + "/b.txt", "b.txt", 1)}};
      const std::string bytes = ReadBytes(scene.report);
      EXPECT_EQ(bytes, ReportFileBytes(ReportLines(rows, {u"【1】=1"})));
    } else {
      EXPECT_EQ(ReadBytes(scene.report), kPrevious);
    }
  }
}

TEST(BadInput, HostileBytesInTextAndNames) {
  struct Case {
    const char* what;
    std::string name;  // the file's name, as bytes
    std::string shown;  // the name in the report, as UTF-8
    std::string bytes;
    std::vector<std::string> options;
    std::string pattern;
    // The rows, given the folder and the link's href and name as UTF-8.
    std::function<std::vector<Row>(const std::string& href, const std::string& name)> rows;
    std::vector<std::u16string> summary;
  };
  const std::vector<Case> cases = {
      {"a NUL byte is an ordinary character of its line, matched and shown as U+FFFD",
       "n.txt", "n.txt", Whole("the the one\nthe two\0the the three\nthe four\n"), {}, "the",
       [](const std::string& href, const std::string& name) {
         const std::u16string the = kKey + u"the" + kEnd;
         return std::vector<Row>{
             {3, Padded(the + u" two\uFFFD" + the + u" " + the + u" three") + Info(href, name, 2)},
             {2, Padded(the + u" " + the + u" one") + Info(href, name, 1)},
             {1, Padded(the + u" four") + Info(href, name, 3)}};
       },
       {u"【3】=1", u"【2】=1", u"【1】=1"}},
      {"a NUL unit in UTF-16 text likewise", "n.txt", "n.txt",
       "\xFF\xFE" + Utf16LeBytes(Whole(u"the a\r\nthe\0the c\r\n")), {}, "the",
       [](const std::string& href, const std::string& name) {
         const std::u16string the = kKey + u"the" + kEnd;
         return std::vector<Row>{{2, Padded(the + u"\uFFFD" + the + u" c") + Info(href, name, 2)},
                                 {1, Padded(the + u" a") + Info(href, name, 1)}};
       },
       {u"【2】=1", u"【1】=1"}},
      {"a pattern that names U+0000 finds a line's NULs, shown as U+FFFD", "n.txt", "n.txt",
       Whole("a\0b\0\0c\nab\n"), {"--no-boundary"}, "\\x00",
       [](const std::string& href, const std::string& name) {
         const std::u16string nul = kKey + u"\uFFFD" + kEnd;
         return std::vector<Row>{
             {3, Padded(u"a" + nul + u"b" + nul + nul + u"c") + Info(href, name, 1)}};
       },
       {u"【3】=1"}},
      {"a NUL byte at the start of a line is trimmed like a space", "n.txt", "n.txt",
       Whole("\0the\n"), {}, "the",
       [](const std::string& href, const std::string& name) {
         return std::vector<Row>{{1, Padded(kKey + u"the" + kEnd) + Info(href, name, 1)}};
       },
       {u"【1】=1"}},
      {"lone surrogates in UTF-16 LE are counted and shown as U+FFFD", "s.txt", "s.txt",
       "\xFF\xFE" + Utf16LeBytes(u"the \xD800 x the\r\n\xDC00 the\r\n"), {}, "the",
       [](const std::string& href, const std::string& name) {
         return std::vector<Row>{
             {2, Padded(kKey + u"the" + kEnd + u" \uFFFD x " + kKey + u"the" + kEnd) +
                     Info(href, name, 1)},
             {1, Padded(u"\uFFFD " + kKey + u"the" + kEnd) + Info(href, name, 2)}};
       },
       {u"【2】=1", u"【1】=1"}},
      {"lone surrogates in UTF-16 BE matched by a pattern that names one: the same "
       "matches, shown as U+FFFD",
       "s.txt", "s.txt", "\xFE\xFF" + Utf16BeBytes(u"a\xDBFFz \xDBFF\xDBFF\r\n"), {"--no-boundary"},
       "\\x{DBFF}",
       [](const std::string& href, const std::string& name) {
         return std::vector<Row>{{3, Padded(u"a" + kKey + u"\uFFFD" + kEnd + u"z " + kKey +
                                            u"\uFFFD" + kEnd + kKey + u"\uFFFD" + kEnd) +
                                         Info(href, name, 1)}};
       },
       {u"【3】=1"}},
      {"malformed UTF-8 after a mark: one U+FFFD per broken sequence", "m.txt", "m.txt",
       "\xEF\xBB\xBFthe \xC3 x\xFF the\nthe \xE4\xB8\n\xED\xA0\x80 the the the\n", {}, "the",
       [](const std::string& href, const std::string& name) {
         const std::u16string the = kKey + u"the" + kEnd;
         return std::vector<Row>{
             {3, Padded(u"\uFFFD\uFFFD\uFFFD " + the + u" " + the + u" " + the) +
                     Info(href, name, 3)},
             {2, Padded(the + u" \uFFFD x\uFFFD " + the) + Info(href, name, 1)},
             {1, Padded(the + u" \uFFFD") + Info(href, name, 2)}};
       },
       {u"【3】=1", u"【2】=1", u"【1】=1"}},
      {"malformed UTF-8 without a mark, read as UTF-8 and matched by a malformed pattern",
       "m.txt", "m.txt", "a\xFE" "b \xF0\x9F\n", {"--no-boundary", "--encoding", "utf-8"},
       "\xFF",
       [](const std::string& href, const std::string& name) {
         return std::vector<Row>{{2, Padded(u"a" + kKey + u"\uFFFD" + kEnd + u"b " + kKey +
                                            u"\uFFFD" + kEnd) +
                                         Info(href, name, 1)}};
       },
       {u"【2】=1"}},
      {"a file name that is not UTF-8: shown with U+FFFD, linked with its bytes "
       "percent-encoded",
       "n\xFF\xC3.txt", "n\xEF\xBF\xBD\xEF\xBF\xBD.txt", "the\n", {}, "the",
       [](const std::string& href, const std::string& name) {
         const std::string link = href.substr(0, href.size() - name.size()) + "n%FF%C3.txt";
         return std::vector<Row>{{1, Padded(kKey + u"the" + kEnd) + Info(link, name, 1)}};
       },
       {u"【1】=1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    std::filesystem::remove(scene.folder + "/a.txt");
    WriteBytes(scene.folder + "/" + c.name, c.bytes);
    std::vector<std::string> args = c.options;
    args.insert(args.begin(), "--quiet");
    args.push_back(c.pattern);
    args.push_back(scene.folder);
    scene.ExpectReport(scene.Search(args), c.rows(scene.folder + "/" + c.shown, c.shown),
                       c.summary);
  }
}

TEST(BadInput, FolderAndReportNamesThatAreNotUtf8) {
  Scene scene;
  const std::string folder = scene.root / "c\xFF";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteBytes(folder + "/a.txt", "the\n");
  const std::string report = scene.root / "r\xFE.htm";
  const CliResult result = scene.Search({"-o", report, "the", folder});
  EXPECT_EQ(result.out,
            "1 match in 1 matching line in 1 file scanned; report written to " + report + "\n");
  const std::vector<Row> rows = {
      {1, Padded(kKey + u"the" + kEnd) + Info(scene.root / "c%FF/a.txt", "a.txt", 1)}};
  scene.ExpectReport(result, rows, {u"【1】=1"}, report);
}

TEST(BadInput, FileRewrittenWhileItIsReadGivesLinesThatWereThere) {
  // Line n reads "the" when n is 1 more than a multiple of 100 and "x"
  // otherwise. A writer truncates the file and writes it again, 4 KiB at a
  // time, while searches read it: each must see some first part of the
  // file, so its rows are lines 1, 101, 201, ... up to some line, each
  // exactly as in the file.
  Scene scene;
  const std::string path = scene.folder + "/a.txt";
  constexpr int kLines = 200000;
  std::string text;
  for (int n = 1; n <= kLines; ++n) text += n % 100 == 1 ? "the\n" : "x\n";
  WriteBytes(path, text);

  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) {
      const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
      if (fd < 0) return;
      for (std::size_t at = 0; at < text.size() && !stop; at += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, text.size() - at);
        if (write(fd, text.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      close(fd);
    }
  });
  std::set<std::size_t> row_counts;
  int changed = 0;
  for (int run = 0; run < 20; ++run) {
    const CliResult result = scene.Search({"--quiet", "the", scene.folder});
    // 3: the file was seen to change while it was read, and the run says
    // its counts may be incomplete.
    ASSERT_TRUE(result.status == 0 || result.status == 3) << result.status << result.err;
    changed += result.status == 3 ? 1 : 0;
    const std::vector<std::u16string> cells = TextCells(ReadBytes(scene.report));
    std::set<int> lines;
    for (const std::u16string& cell : cells) {
      const std::size_t at = cell.find(u"Line ");
      ASSERT_NE(at, std::u16string::npos);
      const int line = std::stoi(std::string(cell.begin() + at + 5, cell.end() - 19));
      ASSERT_EQ(cell, Padded(kKey + u"the" + kEnd) + Info(path, "a.txt", line)) << "run " << run;
      lines.insert(line);
    }
    ASSERT_EQ(lines.size(), cells.size()) << "a line listed twice, run " << run;
    int expected = 1;
    for (const int line : lines) {
      ASSERT_EQ(line, expected) << "run " << run;
      expected += 100;
    }
    row_counts.insert(cells.size());
  }
  stop = true;
  writer.join();
  // Which first parts the searches saw depends on the race; the number of
  // different ones is recorded, not checked.
  RecordProperty("distinct_row_counts", static_cast<int>(row_counts.size()));
  RecordProperty("runs_that_saw_a_change", changed);
}

// One line of 64 MiB, in the report and in each table (with a context: a
// table of whole lines holds the line in every row). The search holds the
// line's bytes as read, the line decoded and padded in the reader's own
// string, and one working copy (the engine's while it is matched, the row
// while it is made): about five times its bytes, twice its decoded size
// and its bytes, besides the program itself. Copying the decoded line once
// more to pad it took seven and a half times its bytes.
TEST(BadInput, OneLongLineCostsItsDecodedSizeTwiceAndItsBytes) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine, so the peak is its, not ours";
#endif
  Scene scene;
  const std::size_t kBytes = std::size_t{64} << 20;
  WriteBytes(scene.folder + "/a.txt", "the " + std::string(kBytes - 9, 'a') + " the\n");
  const std::vector<std::string> formats[] = {
      {"--format", "html"},
      {"--format", "tsv", "--context", "10"},
      {"--format", "csv", "--context", "10"},
      {"--format", "jsonl", "--context", "10"},
  };
  for (const std::vector<std::string>& format : formats) {
    SCOPED_TRACE(format[1]);
    std::vector<std::string> args = format;
    args.insert(args.end(), {"--quiet", "--row-memory", "16M", "-o", scene.root / "out", "the",
                             scene.folder});
    LaunchedCli search(CliLaunch(args, scene.root.Path()));
    const CliResult result = search.Finish();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_LE(search.PeakKilobytes(), static_cast<long>((5 * kBytes + kBytes / 2) / 1024 + 48 * 1024));
  }
}

TEST(BadInput, ReportWhosePlaceIsTakenLeavesEverythingAsItWas) {
  struct Case {
    const char* what;
    std::function<void(Scene&)> make;
    std::string target;  // relative to the working folder
    std::string reason;
  };
  // A read-only folder or report: among the failures of FailedSearchTest.
  // Here the report's place is taken by something that is no report.
  const std::vector<Case> cases = {
      {"a folder in the report's place",
       [](Scene& scene) {
         mkdir((scene.root / "out").c_str(), 0755);
         mkdir((scene.root / "out/result.htm").c_str(), 0755);
       },
       "out/result.htm", "Is a directory"},
      {"a file in the place of the report's folder",
       [](Scene& scene) { WriteBytes(scene.root / "out", "not a folder"); }, "out/result.htm",
       "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    c.make(scene);
    const std::vector<std::string> before = FolderNames(scene.root.Path());
    const std::string out = scene.root / "out";
    const std::vector<std::string> out_before =
        std::filesystem::is_directory(out) ? FolderNames(out) : std::vector<std::string>{};
    const CliResult result =
        RunCli(CliLaunch{{"-o", c.target, "the", scene.folder}, scene.root.Path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Cannot create file \"" + (scene.root / c.target) + "\". " + c.reason +
                              ".\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(FolderNames(scene.root.Path()), before);
    if (std::filesystem::is_directory(out)) {
      EXPECT_EQ(FolderNames(out), out_before);
    }
  }
}

TEST(BadInput, TwoSearchesWritingOneReportLeaveOneWholeReport) {
  Scene scene;
  const std::string cats = scene.root / "cats";
  const std::string dogs = scene.root / "dogs";
  ASSERT_EQ(mkdir(cats.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dogs.c_str(), 0755), 0);
  std::string cat_text, dog_text;
  for (int n = 0; n < 3000; ++n) {
    cat_text += "a cat " + std::to_string(n) + "\n";
    dog_text += "the dog " + std::to_string(n) + " and another dog\n";
  }
  WriteBytes(cats + "/c.txt", cat_text);
  WriteBytes(dogs + "/d.txt", dog_text);
  // Each search alone gives the report it must leave when it wins.
  const std::string shared = scene.root / "shared.htm";
  ASSERT_EQ(RunCli(CliLaunch{{"-o", shared, "cat", cats}, scene.root.Path()}).status, 0);
  const std::string cat_report = ReadBytes(shared);
  ASSERT_EQ(RunCli(CliLaunch{{"-o", shared, "dog", dogs}, scene.root.Path()}).status, 0);
  const std::string dog_report = ReadBytes(shared);
  ASSERT_NE(cat_report, dog_report);

  const std::string busy = "Cannot create file \"" + shared +
                           "\". Another search is writing this file.\n";
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    WriteBytes(shared, kPrevious);
    LaunchedCli cat_search(CliLaunch{{"--quiet", "-o", shared, "cat", cats}, scene.root.Path()});
    LaunchedCli dog_search(CliLaunch{{"--quiet", "-o", shared, "dog", dogs}, scene.root.Path()});
    // Whoever looks while they run sees one whole report.
    for (int look = 0; look < 200; ++look) {
      const std::string seen = ReadBytes(shared);
      ASSERT_TRUE(seen == kPrevious || seen == cat_report || seen == dog_report)
          << "a torn or mixed report of " << seen.size() << " bytes";
    }
    const CliResult cat = cat_search.Finish();
    const CliResult dog = dog_search.Finish();
    // The one that finds the report held by the other may fail, with the
    // message of a file in use.
    for (const CliResult* result : {&cat, &dog}) {
      EXPECT_TRUE(result->status == 0 ? result->err.empty()
                                      : result->status == 1 && result->err == busy)
          << result->status << ": " << result->err;
    }
    ASSERT_TRUE(cat.status == 0 || dog.status == 0);
    const std::string final_report = ReadBytes(shared);
    EXPECT_TRUE((cat.status == 0 && final_report == cat_report) ||
                (dog.status == 0 && final_report == dog_report));
    EXPECT_EQ(FolderNames(scene.root.Path()),
              (std::vector<std::string>{"cats", "corpus", "dogs", "result.css", "result.htm",
                                        "shared.htm"}));
  }
}

// ---- The very large cases ----

bool SlowTestsWanted() { return std::getenv("TALLYFOLD_SLOW_TESTS") != nullptr; }

// Compares the file at `path` with head + `count` times `unit` + tail, all
// UTF-16 LE after the mark, reading it a piece at a time: the report of a
// gigabyte line is too big to hold twice.
void ExpectFileIsRun(const std::string& path, const std::u16string& head, char16_t unit,
                     std::size_t count, const std::u16string& tail) {
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  const std::string mark = "\xFF\xFE";
  const std::string head_bytes = mark + Utf16LeBytes(head);
  std::string piece(head_bytes.size(), '\0');
  in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
  ASSERT_EQ(piece, head_bytes);
  const std::string unit_bytes = Utf16LeBytes(std::u16string(1, unit));
  const std::string block = Repeat(unit_bytes, 1 << 20);
  for (std::size_t left = count; left > 0;) {
    const std::size_t n = std::min<std::size_t>(left, 1 << 20);
    piece.assign(n * 2, '\0');
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    ASSERT_TRUE(piece == std::string_view(block).substr(0, n * 2))
        << "at unit " << count - left;
    left -= n;
  }
  const std::string tail_bytes = Utf16LeBytes(tail);
  piece.assign(tail_bytes.size() + 1, '\0');
  in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
  EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(tail_bytes.size()));
  piece.resize(static_cast<std::size_t>(in.gcount()));
  EXPECT_EQ(piece, tail_bytes);
}

TEST(BadInputSlow, OneLineOfAGigabyte) {
  if (!SlowTestsWanted()) GTEST_SKIP() << "slow case: run with ctest -L slow";
  Scene scene;
  const std::size_t kBytes = 1000 * 1000 * 1000;
  const std::size_t middle = kBytes - 9;  // "the " + middle + " the\n"
  {
    std::ofstream out(scene.folder + "/a.txt", std::ios::binary | std::ios::trunc);
    out << "the ";
    const std::string block(1 << 20, 'a');
    for (std::size_t left = middle; left > 0;) {
      const std::size_t n = std::min(left, block.size());
      out.write(block.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    out << " the\n";
    ASSERT_TRUE(out);
  }
  LaunchedCli search(CliLaunch({"--quiet", "the", scene.folder}, scene.root.Path()));
  const CliResult result = search.Finish();
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // A search may hold seven times its largest file besides the match list,
  // which here is the one line as UTF-16 with a little markup.
  EXPECT_LE(search.PeakKilobytes(), (7 * kBytes + 2 * kBytes + 4096) / 1024);
  // Lines 1 to 9 of the page, the row, lines 11 to 13.
  const std::vector<std::u16string> page = ReportLines({}, {u"【2】=1"});
  std::u16string head, tail;
  for (std::size_t i = 0; i < page.size(); ++i) (i < 9 ? head : tail) += page[i] + u"\r\n";
  head += u"<tr><td class=\"no\">1</td>\r\n<td class=\"text\"> " + kKey + u"the" + kEnd + u" ";
  tail = u" " + kKey + u"the" + kEnd + u" " + Info(scene.folder + "/a.txt", "a.txt", 1) +
         u"</td>\r\n<td class=\"freq\">2</td></tr>\r\n" + tail;
  ExpectFileIsRun(scene.report, head, u'a', middle, tail);
}

TEST(BadInputSlow, FileBeyond4GiBInBoundedMemory) {
  if (!SlowTestsWanted()) GTEST_SKIP() << "slow case: run with ctest -L slow";
  // 4 GiB and one byte, in lines of 4 KiB; the first and the last line
  // match. The file is read in pieces, so its size does not show in the
  // search's memory.
  Scene scene;
  const std::int64_t kBytes = (std::int64_t{1} << 32) + 1;
  const std::string filler = std::string(4095, 'x') + "\n";
  const std::string first = "the " + filler.substr(4);
  const std::int64_t filler_lines = (kBytes - 4096 - 5) / 4096;
  const std::string last(static_cast<std::size_t>(kBytes - 4096 - filler_lines * 4096 - 4), 'y');
  {
    std::ofstream out(scene.folder + "/a.txt", std::ios::binary | std::ios::trunc);
    out << first;
    const std::string block = Repeat(filler, 256);
    for (std::int64_t left = filler_lines; left > 0; left -= 256)
      out.write(block.data(), static_cast<std::streamsize>(std::min<std::int64_t>(left, 256) * 4096));
    out << last << " the";
    ASSERT_TRUE(out);
  }
  ASSERT_EQ(std::filesystem::file_size(scene.folder + "/a.txt"), static_cast<std::uintmax_t>(kBytes));
  LaunchedCli search(CliLaunch({"--quiet", "the", scene.folder}, scene.root.Path()));
  const CliResult result = search.Finish();
  // Far below the file's size: a few pieces of it and two short rows.
  EXPECT_LE(search.PeakKilobytes(), 256 * 1024);
  const int last_line = static_cast<int>(filler_lines) + 2;
  const std::u16string first_text = Padded(kKey + u"the" + kEnd + u" " + std::u16string(4091, u'x'));
  const std::u16string last_text =
      Padded(std::u16string(last.size(), u'y') + u" " + kKey + u"the" + kEnd);
  const std::vector<Row> rows = {
      {1, last_text + Info(scene.folder + "/a.txt", "a.txt", last_line)},
      {1, first_text + Info(scene.folder + "/a.txt", "a.txt", 1)}};
  scene.ExpectReport(result, rows, {u"【1】=2"});
}

}  // namespace
}  // namespace tallyfold::testing
