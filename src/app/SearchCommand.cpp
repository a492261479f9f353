// The search command shared by the window and the command line.
//
// This file's external interface is SearchCommand.h;
// tests/app/SearchCommandTest.cpp covers it.
#include "app/SearchCommand.h"

#include "app/CorpusScan.h"
#include "app/Report.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

void ThrowIfCancelled(const std::atomic<bool>* cancel) {
  if (cancel != nullptr && cancel->load()) throw ECancelled();
}

// Hands the report's lines straight to the file being written.
class WriterSink : public ReportSink {
 public:
  explicit WriterSink(TTextWriter& writer) : writer_(writer) {}
  void Line(std::initializer_list<std::u16string_view> pieces) override {
    writer_.WriteLine(pieces);
  }

 private:
  TTextWriter& writer_;
};

}  // namespace

SearchLists::SearchLists() {
  matches.SetPairSeparator(u'=');
  summary.SetPairSeparator(u'=');
}

std::u16string SearchPattern(const std::u16string& text, bool word_boundary) {
  std::u16string pattern = TrimWide(text);
  if (word_boundary) pattern = u"\\b" + pattern + u"\\b";
  return pattern;
}

void RunSearch(const SearchOptions& options, SearchLists& lists) {
  SearchStats stats;
  RunSearch(options, lists, stats);
}

void RunSearch(const SearchOptions& options, SearchLists& lists, SearchStats& stats) {
  const std::u16string pattern = SearchPattern(options.pattern_text, options.word_boundary);
  lists.report.ClearItems();
  lists.matches.ClearItems();
  // The report builder leaves the summary empty, but a search it never
  // reached must not leave stale tally lines for the next one either.
  lists.summary.ClearItems();
  stats = SearchStats();
  ScanControl control;
  control.threads = options.threads;
  control.cancel = options.cancel;
  control.progress = options.progress;
  stats.files_scanned = ScanFolder(pattern, options.folder, options.case_sensitive,
                                   lists.matches, control);
  stats.matching_lines = lists.matches.ItemCount();
  // The report's lines are written as they are built, so the search never
  // holds the report besides the matches. Building and writing cannot stop
  // half-way; a cancel that comes meanwhile is honoured before the file is
  // touched.
  ThrowIfCancelled(options.cancel);
  const std::string path =
      options.report_file.empty() ? WideToAnsi(options.report_path) : options.report_file;
  WriteTextFileWith(path, [&lists](TTextWriter& writer) {
    WriterSink sink(writer);
    BuildReport(sink, lists.matches, lists.summary);
  });
}

std::string ErrorDisplayText(const std::string& message) {
  // Compared as an unsigned byte: the last byte of a multi-byte UTF-8
  // character is above '.', as is the character itself.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
    return message + ".";
  }
  return message;
}

}  // namespace tallyfold
