// The report's rows: one matching line as the report shows it.
//
// A row is the line's text, HTML-escaped, with every counted match wrapped
// in <span class="key">...</span>, followed by a fragment that links to the
// file and names it and the line:
//
//    The <span class="key">cat</span> sat.  <span class="info"><a
//   href="/c/a.txt" target="_blank">(<span class="file">a.txt</span>, <span
//   class="line">Line 3</span>)</a></span>          (one row, one line)
//
// The corpus scan makes the rows where it finds the matches, one formatter
// per file, as the row printer of the report (app/MatchRecord.h); the
// formatter never reads a file and knows nothing of the engine: it is given
// the line and where its matches are.
//
//   RowFormatter rows("/c/a.txt", "a.txt");
//   const MatchSpan cat[] = {{5, 3}};
//   std::u16string row;
//   rows.AppendRow(row, MatchRecord{3, u" The cat sat. ", cat});
//
// Escaping writes each code unit that XML cannot hold as U+FFFD, so the
// report stays well-formed UTF-16 and XML and the matches keep their places.
#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "app/MatchRecord.h"

namespace tallyfold {

// Makes the report's rows of one file.
class RowFormatter : public RowPrinter {
 public:
  // For the file at `path` (a native byte path), named in its rows as
  // `shown_name`.
  RowFormatter(const std::string& path, const std::string& shown_name);

  // The row of a record: its text highlighted at its spans (ascending and
  // not overlapping, as the engine finds them), then the link to its line.
  // With `cancel`, a very long line looks at the flag as it is escaped.
  std::size_t RowLength(const MatchRecord& record,
                        const std::atomic<bool>* cancel = nullptr) const override;
  void AppendRow(std::u16string& out, const MatchRecord& record,
                 const std::atomic<bool>* cancel = nullptr) const override;

 private:
  std::u16string info_head_;  // the link fragment up to the line number
};

// The report's row printers, one RowFormatter per file.
RowPrinterFactory ReportRowPrinters();

// `line` HTML-escaped, with each span's text (escaped as well) between
// `open` and `close`, which are inserted as they are. `spans` must be in
// ascending, non-overlapping order. Escaping also writes each code unit that
// XML cannot hold (see EscapeHtml) as U+FFFD, so the spans keep their places
// and lengths.
std::u16string Highlight(std::u16string_view line, std::span<const MatchSpan> spans,
                         const std::u16string& open, const std::u16string& close);

// `&`, `<`, `>` and `"` as HTML character references. In Unicode text, a C0
// control other than tab, U+FFFE, U+FFFF and a surrogate without its
// partner become U+FFFD, so that the report stays well-formed UTF-16 and
// XML; everything else stays as is.
std::u16string EscapeHtml(std::u16string_view text);
std::string EscapeHtml(std::string_view bytes);

// The part of `path` after its last "/" (the whole path when there is none).
std::string FileNameOf(const std::string& path);

// The link fragment of a row for line `line_number` (1-based) of the file
// at `path`. The href is the path with "%", "#", "?" and the control bytes
// 00-1F and 7F percent-encoded and then HTML-escaped, so the link opens the
// file whatever its name; the name shown has its controls (and U+FFFE,
// U+FFFF) as U+FFFD.
std::u16string InfoFragment(const std::string& path, int line_number);

// The same with `shown_name` as the name shown instead of FileNameOf(path):
// a recursive scan shows the path relative to the searched folder.
std::u16string InfoFragment(const std::string& path, const std::string& shown_name,
                            int line_number);

}  // namespace tallyfold
