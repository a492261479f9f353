// Internal to the app tests: the golden report and the report pages built
// from its fixed lines.
//
// tests/data/golden_report.htm is the report the command line wrote for the
// corpus tests/data/golden_corpus (pattern "cat", default options), with the
// corpus at kGoldenFolder; CliEndToEndTest holds the program to it byte for
// byte. Its lines before the tally (1-6), the table's head (8-9) and the
// footer (11-13) are what every report has, so the tests that expect a
// report take them from it rather than spell them out again.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"

#ifndef TALLYFOLD_TEST_DATA_DIR
#error "TALLYFOLD_TEST_DATA_DIR must name tests/data"
#endif

namespace tallyfold::testing {

inline const std::string kGoldenReport = TALLYFOLD_TEST_DATA_DIR "/golden_report.htm";
inline const std::string kGoldenCorpus = TALLYFOLD_TEST_DATA_DIR "/golden_corpus";
// Where the corpus was when the golden report was made: its rows link there.
inline const std::u16string kGoldenFolder = u"/tmp/tallyfold-golden/corpus";

// The fixed lines of a report.
struct ReportFrame {
  std::vector<std::u16string> head;        // lines 1-6, up to the tally
  std::vector<std::u16string> table_head;  // lines 8-9, after it
  std::vector<std::u16string> foot;        // lines 11-13, after the rows
};

// The golden report's fixed lines. In the file, the tally (line 7) is its
// summary lines, each ending in CR LF, and then the line's own CR LF: it
// ends at the first empty line after line 6.
inline const ReportFrame& GoldenFrame() {
  static const ReportFrame frame = [] {
    const std::u16string text = ReportText(ReadBytes(kGoldenReport));
    std::vector<std::u16string> lines;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find(u"\r\n", at);
      if (end == std::u16string::npos) throw std::runtime_error("golden report: no CR LF at end");
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    std::size_t tally_end = 6;
    while (tally_end < lines.size() && !lines[tally_end].empty()) ++tally_end;
    const std::size_t rows_start = tally_end + 3;
    if (rows_start + 3 > lines.size() || (lines.size() - rows_start - 3) % 3 != 0)
      throw std::runtime_error("golden report: not a head, a tally, rows and a foot");
    ReportFrame parts;
    parts.head.assign(lines.begin(), lines.begin() + 6);
    parts.table_head.assign(lines.begin() + static_cast<std::ptrdiff_t>(tally_end) + 1,
                            lines.begin() + static_cast<std::ptrdiff_t>(rows_start));
    parts.foot.assign(lines.end() - 3, lines.end());
    return parts;
  }();
  return frame;
}

// The report page for `rows` (already in report order) and `summary` (the
// tally lines without their line breaks), as its lines.
inline std::vector<std::u16string> ReportLines(const std::vector<Row>& rows,
                                               const std::vector<std::u16string>& summary) {
  const ReportFrame& frame = GoldenFrame();
  std::u16string tally;
  for (const std::u16string& line : summary) tally += line + u"\r\n";
  std::vector<std::u16string> lines = frame.head;
  lines.push_back(tally);
  lines.insert(lines.end(), frame.table_head.begin(), frame.table_head.end());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    lines.push_back(u"<tr><td class=\"no\">" + Widen(std::to_string(i + 1)) + u"</td>");
    lines.push_back(u"<td class=\"text\">" + rows[i].value + u"</td>");
    lines.push_back(u"<td class=\"freq\">" + Widen(std::to_string(rows[i].count)) +
                    u"</td></tr>");
  }
  lines.insert(lines.end(), frame.foot.begin(), frame.foot.end());
  return lines;
}

// The bytes of a report file holding `lines`: the mark FF FE, then every
// line in UTF-16 LE followed by CR LF.
inline std::string ReportFileBytes(const std::vector<std::u16string>& lines) {
  std::u16string text;
  for (const std::u16string& line : lines) text += line + u"\r\n";
  return "\xFF\xFE" + Utf16LeBytes(text);
}

}  // namespace tallyfold::testing
