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
//   view.Arrange(ResultOrder::kLeftWord, u"sea", nullptr, nullptr);
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
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/ResultSet.h"

namespace tallyfold {

enum class ResultOrder {
  kReport,       // the report's order: most matches first, then as the report
  kFileAndLine,  // file (in the order searched), then line, then position
  kMatch,        // the matched text, compared by code unit
  kLeftWord,     // the first word left of the match (the nearest), by code unit
  kRightWord,    // the first word right of the match, by code unit
};

// One row's text: views into the line as shown, that is without the space a
// search adds at each end of a line (ResultLine::text). A match over one of
// those spaces keeps only what lies within the line.
struct Kwic {
  std::u16string_view left;   // the line before the match
  std::u16string_view match;  // the match (may be empty)
  std::u16string_view right;  // the line after the match
};

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

// Tables: one row per shown row of the view, in its order, with a head row.
// CSV is UTF-8 with a byte-order mark (so that spreadsheets read it as
// UTF-8), fields quoted as RFC 4180 asks, CR LF line ends; TSV is UTF-8
// without a mark, LF line ends, tabs and line breaks in a field written as
// \t, \n and \r (and a backslash as \\). Columns: file, line, count, left,
// match, right.
enum class TableFormat { kCsv, kTsv };
void WriteTable(const ResultView& view, TableFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel = nullptr);

// One JSON object per match, one per line (UTF-8, LF), in report order:
// {"file":"a.txt","path":"/c/a.txt","line":3,"count":2,"start":4,"length":3,
//  "match":"the","left":"...","right":"..."}; start and length are in
// Unicode characters (code points) of the line as shown (see Kwic), so that
// left + match + right is the trimmed line. A file name or path that is not
// valid UTF-8 has its bad bytes as U+FFFD, and is followed by its bytes in
// base64, which a script can open the file by: "file_bytes" after "file",
// "path_bytes" after "path", each only then.
void WriteJsonLines(const ResultSet& results,
                    const std::function<void(std::string_view bytes)>& write,
                    const std::atomic<bool>* cancel = nullptr);

// The same written to the file at `native_path` as a report is written
// (WriteFileWith in text/TextFile.h): a regular file is replaced only once
// the table is whole, a stream is written straight through, and the errors
// are the report's. A cancel leaves the old file as it was.
void WriteTableFile(const ResultView& view, TableFormat format, const std::string& native_path,
                    const std::atomic<bool>* cancel = nullptr);
void WriteJsonLinesFile(const ResultSet& results, const std::string& native_path,
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
