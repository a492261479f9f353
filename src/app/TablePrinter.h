// Tables of matches: one row per match, as TSV, CSV or JSON Lines.
//
// A table printer is a row printer (app/MatchRecord.h): given a matching
// line, it makes one row for each of its matches. Rows are made as UTF-16,
// like every row a search keeps, and go out as UTF-8 (a surrogate without
// its partner as U+FFFD, so that a table is always valid UTF-8).
//
// Columns, in this order: the file (its name as the report shows it), the
// line number, the line's count of matches, the text left of the match, the
// match, the text right of it (CutAtMatch below).
//   TSV:   UTF-8 without a mark, LF line ends, a head row; a tab, line
//          feed, carriage return or backslash in a field as \t, \n, \r, \\.
//   CSV:   UTF-8 with a byte-order mark (so that spreadsheets read it as
//          UTF-8), CR LF line ends, a head row; a field with a comma, a
//          quote or a line break quoted as RFC 4180 asks. A field whose
//          first character is =, +, -, @, a tab or a carriage return gets a
//          leading apostrophe, so that no cell of a corpus line or a file
//          name can start a spreadsheet formula ('=cmd.txt). TSV and JSON
//          Lines write every field exactly.
//   JSONL: one object per match, LF after each, no head:
//          {"file":"a.txt","path":"/c/a.txt","line":3,"count":2,"start":4,
//           "length":3,"match":"the","left":"...","right":"..."}
//          with start and length in Unicode characters (code points) of the
//          line as shown, so that left + match + right is the trimmed line
//          (with a context width, the part of it that is shown; start is
//          still counted from the line's start).
//          A file name or path that is not valid UTF-8 has its bad bytes as
//          U+FFFD and is followed by its bytes in base64, which a script can
//          open the file by: "file_bytes" after "file", "path_bytes" after
//          "path", each only then.
//
// A search writes a table as it writes the report: the scan makes the rows
// of each file with that file's printer, the rows wait in the row store
// (within its memory budget, then in its spill file) and WriteTable sends
// them out in the report's order:
//
//   control.printers = TableRowPrinters(OutputFormat::kTsv);
//   ScanFolder(pattern, folder, false, matches, control);
//   WriteTable(matches, OutputFormat::kTsv, write);
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "app/MatchRecord.h"
#include "app/MatchStore.h"
#include "app/OutputFormat.h"

namespace tallyfold {

// A line cut at one of its matches: views into the line as shown, that is
// without the space a search adds at each end of a line (MatchRecord::text).
// A match over one of those spaces keeps only what lies within the line.
struct Kwic {
  std::u16string_view left;   // the line before the match
  std::u16string_view match;  // the match (may be empty)
  std::u16string_view right;  // the line after the match
};

// `text` (a MatchRecord's) cut at `span`, one of its matches.
Kwic CutAtMatch(std::u16string_view text, MatchSpan span);

// How much of a line a table or a view shows beside a match, in characters
// each side (a surrogate pair is one character and is never cut).
constexpr int kWholeLine = -1;  // all of it
// `kwic` with only the `context` characters of its left and of its right
// that are nearest the match (all of them for kWholeLine).
Kwic WithContext(Kwic kwic, int context);

// Appends `text` as one field of a kTsv or kCsv table, escaped (TSV) or
// quoted and kept from starting a formula (CSV) as the match tables are:
// for other tables of the same formats.
void AppendTableField(std::u16string& out, OutputFormat format, std::u16string_view text);

// The rows of one file's matches in a table format (not kHtml).
class TableRowPrinter : public RowPrinter {
 public:
  // `context`: the characters of left and right written (WithContext).
  TableRowPrinter(OutputFormat format, const std::string& path, const std::string& shown_name,
                  int context = kWholeLine);

  // Measured as the row is made: the escaping decides its length.
  std::size_t RowLength(const MatchRecord& record,
                        const std::atomic<bool>* cancel = nullptr) const override;
  // Appends one row per match of `record`, from left to right.
  void AppendRow(std::u16string& out, const MatchRecord& record,
                 const std::atomic<bool>* cancel = nullptr) const override;
  // Appends the row of match `span` (an index into record.spans) alone.
  void AppendMatchRow(std::u16string& out, const MatchRecord& record, std::size_t span) const;

 private:
  void AppendOne(std::u16string& out, const MatchRecord& record, std::size_t span,
                 std::size_t characters_before) const;

  OutputFormat format_;
  int context_;
  std::u16string file_field_;  // TSV and CSV: the file's field; JSONL: the object's head
};

// The table printers of a search, one TableRowPrinter per file.
RowPrinterFactory TableRowPrinters(OutputFormat format, int context = kWholeLine);

// The head of a table: the CSV's byte-order mark and head row, the TSV's
// head row; nothing for JSON Lines.
std::u16string_view TableHead(OutputFormat format);

// Turns whole rows of a table into UTF-8 and hands the bytes to `write` in
// pieces of about 64 KiB. Rows must be given whole (a surrogate pair is
// never cut between two calls of Add); Flush hands over the rest.
class TableOutput {
 public:
  explicit TableOutput(std::function<void(std::string_view bytes)> write);
  void Add(std::u16string_view rows);
  void Flush();

 private:
  std::function<void(std::string_view bytes)> write_;
  std::string buffer_;
};

// Sorts the keys of a search whose rows are a table's (TableRowPrinters of
// `format`) into the report's order and writes the table: its head, then
// the rows. Empties `matches`. With `cancel`, raises ECancelled soon after
// *cancel is set; a row that cannot be read back from the spill file raises
// EReadError.
void WriteTable(MatchList& matches, OutputFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
