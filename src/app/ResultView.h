// The keyword-in-context view of a search's results, and the tables taken
// away from it.
//
// A ResultView shows a ResultSet (app/ResultSet.h) one match per row: the
// text left of the match, the match, the text right of it, the file, the
// line and the line's count. It starts in the report's order with every
// match shown; Arrange puts the rows in another order and shows only those
// whose line contains a text. Every order is stable: rows that compare equal
// keep the report's order.
//
//   ResultView view(results);
//   view.Arrange(ResultOrder::kLeft, u"sea", nullptr, nullptr);
//   for (std::size_t row = 0; row < view.RowCount(); ++row) {
//     const Kwic kwic = view.Context(row);   // left, match, right
//   }
//   WriteTable(view, TableFormat::kCsv, [&](std::string_view bytes) { out << bytes; });
//
// Arranging a million rows takes a moment: a window runs it off its own
// thread, with `progress` (0 to 100) and `cancel`. The view holds one small
// index entry per shown row; the text stays in the ResultSet, which must
// outlive the view. Rows are read-only and may be read from several threads
// while no Arrange runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/OutputFormat.h"
#include "app/ResultSet.h"
#include "app/TablePrinter.h"

namespace tallyfold {

enum class ResultOrder {
  kReport,       // the report's order: most matches first, then as the report
  kFileAndLine,  // file (in the order searched), then line, then position
  kMatch,        // the matched text, compared by code unit
  kLeft,         // what is left of the match (see below), by code unit
  kRight,        // what is right of the match, by code unit
};
// The left and right orders sort by the match's neighbour. Beside a CJK
// character (an ideograph or kana) it is the CJK characters next to the
// match, up to three: the nearest first, then the next (1L, 2L, 3L; 1R, 2R,
// 3R). Otherwise it is the nearest word (WordLeftOf, WordRightOf). A match
// with nothing beside it (at a line's end, or only punctuation there)
// sorts first.

class ResultView {
 public:
  explicit ResultView(const ResultSet& results);

  // Shows the rows whose line contains `filter` (every row when it is
  // empty; compared by code unit, ignoring the case of ASCII letters) in
  // `order`. Raises ECancelled, leaving the view as it was, soon after
  // *cancel is set; calls progress(percent) now and then.
  void Arrange(ResultOrder order, const std::u16string& filter,
               const std::atomic<bool>* cancel,
               const std::function<void(int percent)>& progress);

  std::size_t RowCount() const { return rows_.size(); }
  ResultHit Row(std::size_t row) const { return rows_[row]; }
  ResultLine Line(std::size_t row) const { return results_.Line(rows_[row].line); }
  // The row's line cut at its match (Kwic in app/TablePrinter.h).
  Kwic Context(std::size_t row) const;
  const ResultSet& Results() const { return results_; }

  // A view of some of the rows shown: `rows`, each below RowCount(), in the
  // order given (the rows a user selected, written as a table).
  ResultView Subset(const std::vector<std::size_t>& rows) const;

  // A word is a run of letters and digits (any script) and '_'; a
  // surrogate pair counts as one character and is never cut.
  static std::u16string_view WordLeftOf(std::u16string_view text);   // nearest, may be empty
  static std::u16string_view WordRightOf(std::u16string_view text);  // nearest, may be empty

 private:
  ResultView(const ResultSet& results, std::vector<ResultHit> rows)
      : results_(results), rows_(std::move(rows)) {}

  const ResultSet& results_;
  std::vector<ResultHit> rows_;
};

// Tables (app/TablePrinter.h): one row per shown row of the view, in its
// order, with the format's head. `format` is kCsv, kTsv or kJsonLines;
// `context` is the characters of each side of a match written
// (WithContext in app/TablePrinter.h); `progress` hears the share of the
// rows written, 0 to 100, now and then.
using TableFormat = OutputFormat;
void WriteTable(const ResultView& view, TableFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel = nullptr, int context = kWholeLine,
                const std::function<void(int percent)>& progress = {});

// The same table as UTF-16 text, handed over in pieces of whole rows, for a
// clipboard that takes text as it is: the text the UTF-8 table decodes to
// (a surrogate without its partner as U+FFFD).
void WriteTableText(const ResultView& view, TableFormat format,
                    const std::function<void(std::u16string_view rows)>& write,
                    const std::atomic<bool>* cancel = nullptr, int context = kWholeLine,
                    const std::function<void(int percent)>& progress = {});

// About the code units WriteTableText gives for `view` (a little more for
// most tables), so that a caller gathering the whole text can reserve it
// once instead of growing it as it goes.
std::size_t TableTextSizeHint(const ResultView& view, int context = kWholeLine);

// The hits per file: a row for each file searched, and their totals. The
// rate, matches per 10,000 characters, is counted once here in hundredths,
// rounded, so that every table and copy shows the same two decimals.
struct FileHits {
  int file = -1;  // index into ResultSet::Files(); -1 for the totals
  int lines = 0;  // matching lines
  std::int64_t matches = 0;
  std::int64_t characters = 0;
  std::uint64_t per_ten_thousand = 0;  // hundredths
  std::size_t replaced = 0;            // byte sequences read as U+FFFD
  std::size_t nuls = 0;
};
struct HitsPerFile {
  std::vector<FileHits> files;  // in the order searched
  FileHits totals;
};
HitsPerFile CountHitsPerFile(const ResultSet& results);

// `hundredths` with two decimals: 1368 as "13.68", 1730 as "17.30".
std::string TwoDecimals(std::uint64_t hundredths);

// The hits per file of `results` as a table in `format` (kTsv or kCsv,
// fields as in app/TablePrinter.h): a head row "file, lines, matches,
// per_10000, characters, encoding, replaced, nuls", then the files
// `files` (indexes into results.Files()) in the order given, then the
// totals of all files, named "total".
void WriteHitsPerFile(const ResultSet& results, const HitsPerFile& hits,
                      const std::vector<int>& files, TableFormat format,
                      const std::function<void(std::string_view bytes)>& write);

// JSON Lines (app/TablePrinter.h) of every match of `results`, in report
// order.
void WriteJsonLines(const ResultSet& results,
                    const std::function<void(std::string_view bytes)>& write,
                    const std::atomic<bool>* cancel = nullptr);

// The table of every match of `results` in `format` (not kHtml), in report
// order, as a search writes it.
void WriteResultTable(const ResultSet& results, OutputFormat format,
                      const std::function<void(std::string_view bytes)>& write,
                      const std::atomic<bool>* cancel = nullptr);

// The same written to the file at `native_path` as a report is written
// (WriteFileWith in text/TextFile.h): a regular file is replaced only once
// the table is whole, a stream is written straight through, and the errors
// are the report's. A cancel leaves the old file as it was.
void WriteTableFile(const ResultView& view, TableFormat format, const std::string& native_path,
                    const std::atomic<bool>* cancel = nullptr, int context = kWholeLine);
void WriteJsonLinesFile(const ResultSet& results, const std::string& native_path,
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
