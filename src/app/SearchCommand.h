// The search command: one search from a typed pattern to a written report.
//
// The window and the command line both run a search through RunSearch. It
// trims the pattern, adds the word boundaries when asked, empties the lists,
// scans the corpus folder, and builds the report while writing it; then it
// writes the report's style sheet, result.css, beside a report whose folder
// has none (app/ReportStyleSheet.h). Instead of the report it can write a
// table of every match (SearchOptions::format, app/TablePrinter.h), made
// and kept the same way, within the same memory; or the forms of the
// matches with their counts.
//
//   tallyfold::SearchLists lists;
//   tallyfold::SearchOptions options;
//   options.pattern_text = u"cat|dog";
//   options.folder = "/home/me/corpus";
//   tallyfold::RunSearch(options, lists);   // writes result.htm
//
// Any failure (a pattern that does not compile, a file that cannot be opened,
// a report that cannot be written) raises a tallyfold::Exception and ends the
// search; the previous report file is left as it was. So does a cancel: once
// *SearchOptions::cancel is set, the search ends with ECancelled at its next
// check (between lines, inside long matches, between the pieces of the
// report being written). Running out of memory ends it with an error that
// says so. A report path that names one of the corpus files is refused
// before anything is read.
// app/BackgroundTask.h runs the command on a thread of its own (SearchWork).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MatchStore.h"
#include "app/OutputFormat.h"
#include "app/ReportStyleSheet.h"
#include "app/ResultSet.h"
#include "app/ResultView.h"
#include "app/SearchNotes.h"
#include "text/StringList.h"
#include "text/TextFile.h"

namespace tallyfold {

// The three lists a search works with. The window owns one set for its
// whole life; between searches all three are empty: the search keeps its
// matches as keys (app/MatchStore.h) and writes the report's lines to the
// file as it builds them, so the report list is only for callers of
// BuildReport that want the lines themselves. A search that fails (other
// than by a cancel) leaves the entries "count=row" it found before the
// failure in `matches`.
struct SearchLists {
  SearchLists();  // sets the pair separator of matches and summary to '='
  TUnicodeStringList report;   // emptied by a search
  TUnicodeStringList matches;  // see above
  TUnicodeStringList summary;  // one line per distinct count
};

struct SearchOptions {
  std::u16string pattern_text;  // as typed; the command trims it
  // What is written: the report, or a table of every match in the report's
  // order. "report" below means whichever it is.
  OutputFormat format = OutputFormat::kHtml;
  std::string folder;           // byte string in the system code page
  bool case_sensitive = false;  // false: ASCII letters match either case
  bool word_boundary = true;    // search "\b" + pattern + "\b"
  std::u16string report_path = u"result.htm";
  // When not empty, the report's native byte path, used instead of
  // report_path (a path from the command line need not be valid text).
  std::string report_file;
  // Called on the searching thread before the first corpus file and after
  // each, with the files done, the total and the file now being scanned (see
  // ScanProgress in app/CorpusScan.h).
  std::function<void(int done, int total, const std::string& current)> progress;
  // Worker threads for the scan: 0 one per core, 1 none (the report is the
  // same either way).
  int threads = 0;
  // When set, the search stops soon after *cancel becomes true.
  const std::atomic<bool>* cancel = nullptr;
  // Write result.css beside a report whose folder has none (never one that
  // goes to a stream, nor beside a table); see app/ReportStyleSheet.h.
  bool write_style_sheet = true;
  // How files without a byte-order mark are read: "auto", "utf-8",
  // "locale" or an iconv name; "auto" reads UTF-8 and else the fallback.
  // A name that is none of these fails the search with EUnknownEncoding
  // before anything is read (TextDecodingNamed in text/TextFile.h).
  std::string encoding = "auto";
  std::string fallback_encoding = kDefaultFallbackEncoding;
  // Also search the text files of the sub-folders at any depth; the rows
  // then name each file by its path relative to the folder.
  bool recursive = false;
  // The bytes of report rows held in memory while searching; the rows
  // beyond go to a spill file without a name beside the report (in the
  // temporary folder for a report written to a stream), which is gone when
  // the search ends, however it ends (app/MatchStore.h).
  std::uint64_t row_memory_budget = kRowMemoryBudget;
  // Decode and match only the lines whose bytes hold what every match
  // holds (ScanControl::line_filter); the report is the same either way.
  bool line_filter = true;
  // Keep what the search found as a ResultSet (SearchStats::results), to be
  // shown or taken away as tables. The same lines are decoded either way;
  // the report's rows are then made once the order is known, on the
  // searching thread.
  bool keep_results = false;
  // Write the report; false (only with keep_results) writes nothing.
  bool write_report = true;
  // A table of matches in another order than the report's, or with only
  // `context` characters each side of a match (app/ResultView.h), and the
  // forms (app/MatchForms.h), are made from the results, which the search
  // then keeps in memory as with keep_results.
  ResultOrder order = ResultOrder::kReport;
  int context = kWholeLine;
  // The forms with the case of ASCII letters folded (CountForms).
  bool fold_case = false;
};

// What the user chose for a search, in any front end: the window's controls
// and reading settings, or the command line's arguments.
struct SearchChoices {
  std::u16string pattern;      // as typed
  std::string folder;          // native byte path
  bool case_sensitive = false;
  bool word_boundary = true;   // the \b wrap
  std::string encoding = "auto";
  std::string fallback_encoding = kDefaultFallbackEncoding;
  bool recursive = false;
};
// The search those choices ask for; the rest of the options keep their
// defaults for the front end to set (report file, format, threads, ...).
SearchOptions SearchOptionsFor(const SearchChoices& choices);

// The pattern that is searched for `text`: trimmed, and wrapped in \b...\b
// when `word_boundary` is set (plain concatenation, no group).
std::u16string SearchPattern(const std::u16string& text, bool word_boundary);

// What a finished search found.
struct SearchStats {
  int files_scanned = 0;   // corpus files read
  int matching_lines = 0;  // rows of the report
  std::int64_t matches = 0;  // the matches in them
  // What became of result.css beside the report. A sheet that cannot be
  // written does not fail the search: the report is there all the same.
  StyleSheetResult style_sheet;
  // With SearchOptions::keep_results: the matching lines in the report's
  // order and the files searched.
  std::shared_ptr<const ResultSet> results;
  // How every corpus file was read, in file order (app/SearchNotes.h).
  std::vector<FileReading> readings;
  // The matching lines the pattern has without the \b wrap, when the search
  // worked that out (the wrap stood beside a character that is never a word
  // character); -1 otherwise.
  int lines_without_boundary = -1;
};

// Runs one search. Throws tallyfold::Exception on failure, ECancelled when
// cancelled.
void RunSearch(const SearchOptions& options, SearchLists& lists);
void RunSearch(const SearchOptions& options, SearchLists& lists, SearchStats& stats);

// The text an error box shows for an error message: the message, with a full
// stop appended when its last character's code is above that of '.'.
std::string ErrorDisplayText(const std::string& message);

}  // namespace tallyfold
