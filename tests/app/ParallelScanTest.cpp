// Tests of the scan on worker threads: the same report, byte for byte, as a
// scan on one thread, over generated corpora; the same error and the same
// match list when a search fails in the middle of the folder; progress on
// the calling thread in file order; and cancelling.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CorpusScan.h"
#include "app/ResultView.h"
#include "app/SearchCommand.h"
#include "regex/RegexEngine.h"
#include "text/TextFile.h"

namespace tallyfold::testing {
namespace {

// Thread counts compared with the scan on one thread; more workers than
// cores and more than files are both worth a run.
const std::vector<int> kThreadCounts = {2, 3, 8, 64};

std::string FileName(int index) {
  std::string digits = std::to_string(index);
  return "f" + std::string(3 - digits.size(), '0') + digits + ".txt";
}

// Writes `files` corpus files from `seed`: lines of a few words from a small
// vocabulary, so that counts are small and ties are everywhere (their order
// in the report is the unstable sort's, which depends on the match list's
// order); every encoding; blank lines and empty files; a long file now and
// then, so that workers finish out of order.
void WriteCorpus(const std::string& folder, int files, unsigned seed) {
  static const std::vector<std::u16string> kWords = {
      u"the", u"The", u"THE", u"cat", u"x", u"xx", u"theme", u"a", u"猫", u"中文", u"<b>", u"&"};
  std::mt19937 random(seed);
  for (int f = 0; f < files; ++f) {
    const int lines = f % 7 == 3 ? 1500 : static_cast<int>(random() % 40);
    std::u16string text;
    for (int l = 0; l < lines; ++l) {
      const int words = static_cast<int>(random() % 6);  // 0: a blank line
      for (int w = 0; w < words; ++w) {
        if (w > 0) text += u' ';
        text += kWords[random() % kWords.size()];
      }
      text += random() % 3 == 0 ? u"\r\n" : u"\n";
    }
    std::string bytes;
    switch (f % 4) {
      case 0: bytes = Utf8Bytes(text); break;
      case 1: bytes = "\xEF\xBB\xBF" + Utf8Bytes(text); break;
      case 2: bytes = "\xFF\xFE" + Utf16LeBytes(text); break;
      default: bytes = "\xFE\xFF" + Utf16BeBytes(text); break;
    }
    WriteBytes(folder + kSlash + FileName(f), bytes);
  }
}

// Everything a search leaves behind that the user or the next search sees.
struct Outcome {
  std::string error;                    // the exception's type and message
  std::vector<std::u16string> matches;  // the match list afterwards
  std::string report;                   // the report file's bytes
  int files_scanned = -1;
  int matching_lines = -1;
};

class ParallelScan : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MakeFolder(corpus_.c_str()), 0); }

  // A search of the corpus for `pattern`, without the \b wrap, written to
  // `output`.
  SearchOptions Options(const std::u16string& pattern, const std::string& output, int threads = 0,
                        std::uint64_t row_memory = kRowMemoryBudget) const {
    SearchOptions options;
    options.pattern_text = pattern;
    options.folder = corpus_;
    options.word_boundary = false;
    options.report_file = output;
    options.threads = threads;
    options.row_memory_budget = row_memory;
    return options;
  }

  Outcome Search(const std::u16string& pattern, bool case_sensitive, bool boundary,
                 int threads, std::uint64_t row_memory = kRowMemoryBudget,
                 bool line_filter = true, bool keep_results = false) {
    WriteBytes(report_, "previous report");
    SearchOptions options = Options(pattern, report_, threads, row_memory);
    options.case_sensitive = case_sensitive;
    options.word_boundary = boundary;
    options.line_filter = line_filter;
    options.keep_results = keep_results;
    SearchLists lists;
    SearchStats stats;
    Outcome outcome;
    try {
      RunSearch(options, lists, stats);
      outcome.files_scanned = stats.files_scanned;
      outcome.matching_lines = stats.matching_lines;
      if (keep_results) {
        EXPECT_EQ(stats.results->LineCount(), static_cast<std::size_t>(stats.matching_lines));
        EXPECT_EQ(stats.results->Files().size(), static_cast<std::size_t>(stats.files_scanned));
      }
    } catch (const Exception& error) {
      outcome.error = std::string(typeid(error).name()) + ": " + error.what();
    }
    for (int i = 0; i < lists.matches.ItemCount(); ++i) {
      outcome.matches.push_back(lists.matches.ItemAt(i));
    }
    outcome.report = ReadBytes(report_);
    return outcome;
  }

  // Runs the search on one thread with the rows in memory, then on each of
  // kThreadCounts, with rows set aside on disk beyond budgets of a few bytes
  // and a few segments, and with every line decoded instead of only those
  // whose bytes may hold a match, and expects the same outcome every time;
  // returns the first outcome.
  Outcome ExpectSameOutcome(const std::u16string& pattern, bool case_sensitive, bool boundary) {
    const Outcome reference = Search(pattern, case_sensitive, boundary, 1);
    struct Run {
      int threads;
      std::uint64_t row_memory;
      bool line_filter = true;
      bool keep_results = false;
    };
    std::vector<Run> runs;
    for (const int threads : kThreadCounts) runs.push_back({threads, kRowMemoryBudget});
    for (const int threads : {1, 3}) {
      runs.push_back({threads, 0});
      runs.push_back({threads, 5});
      runs.push_back({threads, std::uint64_t{3} << 20});
      runs.push_back({threads, kRowMemoryBudget, false});
      // The report made from the results kept, rows in memory and on disk.
      runs.push_back({threads, kRowMemoryBudget, true, true});
      runs.push_back({threads, 0, true, true});
    }
    for (const Run& run : runs) {
      SCOPED_TRACE(::testing::Message() << run.threads << " threads, rows in memory up to "
                                        << run.row_memory << " bytes, lines "
                                        << (run.line_filter ? "filtered" : "all decoded")
                                        << (run.keep_results ? ", results kept" : ""));
      const Outcome outcome = Search(pattern, case_sensitive, boundary, run.threads,
                                     run.row_memory, run.line_filter, run.keep_results);
      EXPECT_EQ(outcome.error, reference.error);
      EXPECT_EQ(outcome.files_scanned, reference.files_scanned);
      EXPECT_EQ(outcome.matching_lines, reference.matching_lines);
      // A failed search that kept results leaves no entries behind.
      if (!run.keep_results || reference.error.empty()) {
        EXPECT_TRUE(outcome.matches == reference.matches)
            << outcome.matches.size() << " entries against " << reference.matches.size();
      }
      EXPECT_TRUE(outcome.report == reference.report)
          << "the report differs (" << outcome.report.size() << " bytes against "
          << reference.report.size() << ")";
      // Rows set aside leave nothing in the report's folder.
      for (const auto& entry : std::filesystem::directory_iterator(root_.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "corpus" || name == "result.htm" || name == "result.css") << name;
      }
    }
    return reference;
  }

  // The table `format` a search writes, rows made on `threads` workers and
  // set aside beyond `row_memory` bytes.
  std::string Table(const std::u16string& pattern, OutputFormat format, int threads,
                    std::uint64_t row_memory, int context = kWholeLine) {
    SearchOptions options = Options(pattern, table_, threads, row_memory);
    options.format = format;
    options.context = context;
    SearchLists lists;
    RunSearch(options, lists);
    return ReadBytes(table_);
  }

  // The line numbers of a table's rows, in order: TSV's second column,
  // JSON Lines' "line" member.
  static std::vector<std::string> RowLines(const std::string& table, OutputFormat format) {
    std::vector<std::string> lines;
    std::size_t at = format == OutputFormat::kTsv ? table.find('\n') + 1 : 0;  // past the head
    while (at < table.size()) {
      const std::size_t end = table.find('\n', at);
      const std::string row = table.substr(at, end - at);
      std::size_t from = format == OutputFormat::kTsv ? row.find('\t') + 1
                                                      : row.find("\"line\":") + 7;
      lines.push_back(row.substr(from, row.find_first_of("\t,", from) - from));
      at = end + 1;
    }
    return lines;
  }

  TempFolder root_;
  const std::string corpus_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
  const std::string table_ = root_ / "result.table";
};

// Every output is a printer over the same records: the tables a search
// writes, with rows on any number of workers and set aside on disk, are
// the tables made from the results a search kept, byte for byte, and TSV,
// JSON Lines and the results list the same matches in the same order. The
// results keep the sizes of whole files, though the line filter passes
// most lines over.
TEST_F(ParallelScan, TablesAreTheTablesOfTheResultsKept) {
  WriteCorpus(corpus_, 40, 20261208);
  for (const char16_t* pattern : {u"the|猫", u"x*"}) {
    SCOPED_TRACE(Utf8Bytes(pattern));
    SearchOptions options = Options(pattern, report_);
    options.keep_results = true;
    options.write_report = false;
    SearchLists lists;
    SearchStats stats;
    RunSearch(options, lists, stats);
    // Each file's size in characters counts the lines the filter passed
    // over too.
    for (const ResultFile& file : stats.results->Files()) {
      TUnicodeStringList list;
      ReadTextFileAs(list, file.path, TextDecodingNamed("auto"));
      std::int64_t characters = 0;
      for (int i = 0; i < list.ItemCount(); ++i)
        characters += static_cast<std::int64_t>(list.ItemRef(i).size());
      EXPECT_EQ(file.characters, characters) << file.shown_name;
    }
    std::vector<std::string> match_lines;  // one per match, in report order
    for (std::size_t i = 0; i < stats.results->LineCount(); ++i) {
      const ResultLine line = stats.results->Line(i);
      match_lines.insert(match_lines.end(), static_cast<std::size_t>(line.count),
                         std::to_string(line.line));
    }
    for (const OutputFormat format : {OutputFormat::kTsv, OutputFormat::kJsonLines}) {
      std::string kept;
      WriteResultTable(*stats.results, format, [&kept](std::string_view bytes) { kept += bytes; });
      EXPECT_EQ(RowLines(kept, format), match_lines);
      for (const int threads : {1, 3}) {
        for (const std::uint64_t row_memory : {kRowMemoryBudget, std::uint64_t{0}}) {
          EXPECT_TRUE(Table(pattern, format, threads, row_memory) == kept)
              << OutputFormatName(format) << ", " << threads << " threads, rows in memory up to "
              << row_memory << " bytes";
        }
      }
      // With a context width the rows are still made on the workers, cut
      // as the kept results' view cuts them.
      std::string cut;
      WriteTable(ResultView(*stats.results), format,
                 [&cut](std::string_view bytes) { cut += bytes; }, nullptr, 2);
      EXPECT_TRUE(Table(pattern, format, 3, 0, 2) == cut) << OutputFormatName(format);
    }
  }
}

TEST_F(ParallelScan, ReportsAreByteForByteTheSameAsOnOneThread) {
  WriteCorpus(corpus_, 120, 20240611);
  struct Case {
    const char16_t* pattern;
    bool case_sensitive;
    bool boundary;
  };
  for (const Case& c : {Case{u"the", false, true}, Case{u"x*", false, false},
                        Case{u"[a-z]+|猫", true, false}}) {
    SCOPED_TRACE(Utf8Bytes(c.pattern));
    const Outcome reference = ExpectSameOutcome(c.pattern, c.case_sensitive, c.boundary);
    EXPECT_EQ(reference.error, "");
    EXPECT_EQ(reference.files_scanned, 120);
    EXPECT_GT(reference.matching_lines, 1000) << "a corpus with plenty of ties";
  }
}

// A budget smaller than every file has them read one at a time, one of a
// few kilobytes lets some of the small ones share it, and one of a few
// megabytes lets finished files wait beside those being read (a file with a
// match holds a chunk of 512 KiB); every way the match list is the one a
// scan on one thread makes.
TEST_F(ParallelScan, ABudgetChangesNoMatchWhateverTheThreads) {
  WriteCorpus(corpus_, 60, 99);
  auto scan = [&](int threads, std::uint64_t budget) {
    ScanControl control;
    control.threads = threads;
    control.memory_budget = budget;
    TUnicodeStringList matches;
    EXPECT_EQ(ScanFolder(u"the|猫", corpus_, false, matches, control), 60);
    std::vector<std::u16string> entries;
    for (int i = 0; i < matches.ItemCount(); ++i) entries.push_back(matches.ItemAt(i));
    return entries;
  };
  const std::vector<std::u16string> reference = scan(1, kScanMemoryBudget);
  ASSERT_GT(reference.size(), 500u);
  const std::uint64_t budgets[] = {1, 4096, std::uint64_t{3} << 20};
  for (const std::uint64_t budget : budgets) {
    for (const int threads : {1, 2, 8, 64}) {
      EXPECT_TRUE(scan(threads, budget) == reference)
          << threads << " threads, a budget of " << budget << " bytes";
    }
  }
}

TEST(ScanThreadCount, UsesAtMostFourThreadsPerCore) {
  const int cores = ScanThreadCount(0);
  EXPECT_GE(cores, 1);
  EXPECT_EQ(ScanThreadCount(-3), cores);
  EXPECT_EQ(ScanThreadLimit(), 4 * cores);
  EXPECT_EQ(ScanThreadCount(1), 1);
  EXPECT_EQ(ScanThreadCount(4 * cores), 4 * cores);
  EXPECT_EQ(ScanThreadCount(4 * cores + 1), 4 * cores);
  EXPECT_EQ(ScanThreadCount(1024), 4 * cores);
}

TEST_F(ParallelScan, AFolderNamedLikeAFileFailsAsOnOneThread) {
  WriteCorpus(corpus_, 60, 7);
  // Two unreadable entries: the first in the folder's order is the one
  // reported, whichever a worker reaches first.
  for (const int index : {30, 41}) {
    const std::string path = corpus_ + kSlash + FileName(index);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(MakeFolder(path.c_str()), 0);
  }
  const Outcome reference = ExpectSameOutcome(u"the", false, true);
  EXPECT_NE(reference.error.find("Cannot open file \"" + corpus_ + kSlash + FileName(30) + "\""),
            std::string::npos)
      << reference.error;
  EXPECT_FALSE(reference.matches.empty());
}

// A pattern that compiles but fails while matching, and only on a line with
// a "z": eleven nested counted loops exceed the matcher's loop stack. The
// file in the middle has such a line after lines that match, so its own
// earlier entries stay in the list, and nothing of a later file does.
TEST_F(ParallelScan, AMatchErrorInTheMiddleFailsAsOnOneThread) {
  WriteCorpus(corpus_, 50, 11);
  WriteBytes(corpus_ + kSlash + FileName(25), "the first\nthe second\nza\nthe fourth\n");
  std::u16string pattern = u"the|z";
  for (int i = 0; i < 11; ++i) pattern += u"(";
  pattern += u"a";
  for (int i = 0; i < 11; ++i) pattern += u"){1,2}";
  const Outcome reference = ExpectSameOutcome(pattern, false, false);
  EXPECT_NE(reference.error.find("TRegexEngine(exec)"), std::string::npos) << reference.error;
  ASSERT_GE(reference.matches.size(), 2u);
  const std::u16string tail = Widen(testing::Href(corpus_ + kSlash + FileName(25)));
  EXPECT_NE(reference.matches.back().find(tail), std::u16string::npos);
  EXPECT_NE(reference.matches.back().find(u"Line 2"), std::u16string::npos);
}

TEST_F(ParallelScan, AnInvalidPatternFailsAsOnOneThread) {
  // The first files hold no non-blank line, so the pattern is first compiled
  // in the middle of the folder.
  for (int i = 0; i < 10; ++i) WriteBytes(corpus_ + kSlash + FileName(i), i % 2 ? "" : " \t\r\n\n");
  for (int i = 10; i < 30; ++i) WriteBytes(corpus_ + kSlash + FileName(i), "the cat\n");
  const Outcome reference = ExpectSameOutcome(u"ca(t", false, true);
  EXPECT_NE(reference.error.find("Unmatched ()"), std::string::npos) << reference.error;
  EXPECT_TRUE(reference.matches.empty());
}

TEST_F(ParallelScan, ReportsProgressOnTheCallingThreadInFileOrder) {
  WriteCorpus(corpus_, 40, 3);
  for (const int threads : {1, 4}) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::string> reported;
    ScanControl control;
    control.threads = threads;
    control.progress = [&](int done, int total, const std::string& current) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      reported.push_back(std::to_string(done) + "/" + std::to_string(total) + " " + current);
    };
    TUnicodeStringList matches;
    EXPECT_EQ(ScanFolder(u"the", corpus_, false, matches, control), 40);
    std::vector<std::string> expected;
    for (int i = 0; i <= 40; ++i) {
      expected.push_back(std::to_string(i) + "/40 " +
                         (i < 40 ? corpus_ + kSlash + FileName(i) : std::string()));
    }
    EXPECT_EQ(reported, expected) << threads << " threads";
  }
}

TEST_F(ParallelScan, CancelEndsTheScanWithinTheBound) {
  // Eight files of 300 lines that each take a few milliseconds: seconds of
  // work in all, cut short between two lines.
  for (int i = 0; i < 8; ++i) {
    std::string text;
    for (int line = 0; line < 300; ++line) text += std::string(16, 'a') + "\n";
    WriteBytes(corpus_ + kSlash + FileName(i), text);
  }
  for (const int threads : {1, 2}) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> started{false};
    ScanControl control;
    control.threads = threads;
    control.cancel = &cancel;
    control.progress = [&](int, int, const std::string&) { started = true; };
    std::chrono::steady_clock::time_point cancelled_at;
    std::thread canceller([&] {
      while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      cancelled_at = std::chrono::steady_clock::now();
      cancel = true;
    });
    TUnicodeStringList matches;
    EXPECT_THROW(ScanFolder(kCatastrophicPattern, corpus_, false, matches, control), ECancelled);
    const auto ended_at = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_LT(ended_at - cancelled_at, kCancelBound) << threads << " threads";
  }
}

TEST_F(ParallelScan, ACancelledSearchWritesNoReport) {
  WriteCorpus(corpus_, 20, 5);
  WriteBytes(report_, "previous report");
  std::atomic<bool> cancel{true};
  for (const int threads : {1, 2}) {
    SearchOptions options;
    options.pattern_text = u"the";
    options.folder = corpus_;
    options.report_file = report_;
    options.threads = threads;
    options.cancel = &cancel;
    SearchLists lists;
    EXPECT_THROW(RunSearch(options, lists), ECancelled);
    EXPECT_EQ(ReadBytes(report_), "previous report");
  }
}

}  // namespace
}  // namespace tallyfold::testing
