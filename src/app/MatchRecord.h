// One matching line as a search finds it, and the printers that turn it
// into the rows of an output.
//
// The corpus scan hands every line with a match to a row printer as one
// plain record: the line number, the line as it was matched (trimmed, with
// one space added on each side, so that an empty match at either end has a
// place) and the spans of its matches. The printer makes the line's row
// in the output it serves: a row of the report (app/RowFormatter.h), the
// rows of a table (app/TablePrinter.h) or the record kept for the results
// (app/ResultSet.h). There is one printer per file, made and used on the
// worker thread that scans the file, so it may keep what it needs of the
// file (its name, escaped, for one) and make rows without locks.
//
//   const MatchRecord record{3, u" The cat sat. ", spans};   // spans {{5, 3}}
//   std::u16string row;
//   row.reserve(printer->RowLength(record));
//   printer->AppendRow(row, record);
//
// The rows are stored as they are made (app/MatchStore.h) and read back in
// the output's order once the search is over; what a row holds is the
// printer's affair.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tallyfold {

// One counted match in a line: 0-based start and length in code units.
struct MatchSpan {
  int start;
  int length;
};

// One matching line.
struct MatchRecord {
  int line = 0;                      // 1-based line number in its file
  std::u16string_view text;          // " " + the trimmed line + " "
  std::span<const MatchSpan> spans;  // the matches, ascending, not overlapping
  // The trimmed line as it was read, when it differs from the inside of
  // `text`: a NUL is matched (and shown) as U+FFFD, but an output that can
  // hold a NUL writes it from here. Empty when the inside of `text` is it.
  std::u16string_view read = {};

  int Count() const { return static_cast<int>(spans.size()); }
};

// A file whose records a printer is made for.
struct RecordFile {
  int index = 0;                   // in the order the files are searched
  const std::string& path;         // native byte path
  const std::string& shown_name;   // the name rows show
};

// Makes the rows of one file's records.
class RowPrinter {
 public:
  virtual ~RowPrinter() = default;

  // RowLength's answer when the row's length is only known once it is
  // made: the row is then measured as it is appended.
  static constexpr std::size_t kMeasuredLater = static_cast<std::size_t>(-1);

  // The length in code units of the row AppendRow makes of `record`, so
  // that the row can be made at its exact size; or kMeasuredLater.
  virtual std::size_t RowLength(const MatchRecord& record,
                                const std::atomic<bool>* cancel = nullptr) const = 0;

  // Appends the row of `record`. With `cancel`, a very long line looks at
  // the flag as its row is made and raises ECancelled once it is set.
  virtual void AppendRow(std::u16string& out, const MatchRecord& record,
                         const std::atomic<bool>* cancel = nullptr) const = 0;
};

// Makes the printer of a file; called on the thread that scans the file.
using RowPrinterFactory = std::function<std::unique_ptr<RowPrinter>(const RecordFile& file)>;

}  // namespace tallyfold
