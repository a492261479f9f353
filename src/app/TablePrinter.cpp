// The table printers: escaping, the rows of a matching line, and the table
// written in the report's order.
//
// This file's external interface is TablePrinter.h;
// tests/app/TablePrinterTest.cpp covers them, tests/app/ResultViewTest.cpp
// through the results' exports.
#include "app/TablePrinter.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/Report.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

// Between two looks at the cancel flag while rows are written.
constexpr std::size_t kCancelCheckRows = 4096;

// Rows are turned into UTF-8 this many code units at a time.
constexpr std::size_t kPendingUnits = std::size_t{1} << 15;

void AppendAscii(std::u16string& out, std::string_view ascii) {
  out.append(ascii.begin(), ascii.end());
}

void AppendNumber(std::u16string& out, std::size_t value) {
  AppendAscii(out, std::to_string(value));
}

// Whether a spreadsheet would take a cell that starts with `text` for a
// formula: its first character after spaces and tabs is one a formula or a
// command starts with, in its ASCII or its full-width form (some
// spreadsheets fold those to ASCII). A tab or a carriage return at the very
// start counts too, since an import may strip it and what it hides.
bool StartsLikeFormula(std::u16string_view text) {
  if (text.empty()) return false;
  if (text.front() == u'\t' || text.front() == u'\r') return true;
  const std::size_t first = text.find_first_not_of(u" \t");
  return first != std::u16string_view::npos &&
         std::u16string_view(u"=+-@|\uFF1D\uFF0B\uFF0D\uFF20").find(text[first]) !=
             std::u16string_view::npos;
}

// A CSV field, quoted when it holds a comma, a quote or a line break, with
// its quotes doubled; one that would start a formula gets a leading
// apostrophe, which spreadsheets take as "text" and do not show.
void AppendCsvField(std::u16string& out, std::u16string_view text) {
  const bool formula = StartsLikeFormula(text);
  if (text.find_first_of(u",\"\r\n") == std::u16string_view::npos) {
    if (formula) out += u'\'';
    out.append(text);
    return;
  }
  out += u'"';
  if (formula) out += u'\'';
  for (const char16_t unit : text) {
    if (unit == u'"') out += u'"';
    out += unit;
  }
  out += u'"';
}

// A TSV field: tab, line feed, carriage return and backslash as \t, \n, \r
// and \\, so that a field never holds a separator.
void AppendTsvField(std::u16string& out, std::u16string_view text) {
  if (text.find_first_of(u"\t\n\r\\") == std::u16string_view::npos) {
    out.append(text);
    return;
  }
  for (const char16_t unit : text) {
    switch (unit) {
      case u'\t': out += u"\\t"; break;
      case u'\n': out += u"\\n"; break;
      case u'\r': out += u"\\r"; break;
      case u'\\': out += u"\\\\"; break;
      default: out += unit; break;
    }
  }
}

// Whether a JSON string must write `unit` escaped.
bool NeedsJsonEscape(char16_t unit) { return unit < 0x20 || unit == u'"' || unit == u'\\'; }

// A JSON string with its quotes.
void AppendJsonString(std::u16string& out, std::u16string_view text) {
  out += u'"';
  if (std::none_of(text.begin(), text.end(), NeedsJsonEscape)) {
    out.append(text);
    out += u'"';
    return;
  }
  for (const char16_t unit : text) {
    switch (unit) {
      case u'"': out += u"\\\""; continue;
      case u'\\': out += u"\\\\"; continue;
      case u'\b': out += u"\\b"; continue;
      case u'\f': out += u"\\f"; continue;
      case u'\n': out += u"\\n"; continue;
      case u'\r': out += u"\\r"; continue;
      case u'\t': out += u"\\t"; continue;
      default: break;
    }
    if (unit >= 0x20) {
      out += unit;
      continue;
    }
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    out += u"\\u00";
    out += kHex[unit >> 4];
    out += kHex[unit & 0xF];
  }
  out += u'"';
}

// Bytes in base64 (RFC 4648, with its padding), as a JSON string.
void AppendJsonBase64(std::u16string& out, std::string_view bytes) {
  static constexpr char16_t kDigits[] =
      u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out += u'"';
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t take = std::min<std::size_t>(3, bytes.size() - at);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group <<= 8;
      if (k < take) group |= static_cast<unsigned char>(bytes[at + k]);
    }
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= take ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : u'=';
  }
  out += u'"';
}

// The members that name a file in a JSON object: `member` with the name as
// text and, when its bytes are not valid UTF-8 (so that the text, with
// U+FFFD in their place, cannot open the file), `member`_bytes with the
// bytes themselves.
void AppendJsonFileName(std::u16string& out, std::string_view member, const std::string& bytes) {
  std::size_t malformed = 0;
  const std::u16string text = Utf8Decode(bytes, malformed);
  out += u'"';
  AppendAscii(out, member);
  out += u"\":";
  AppendJsonString(out, text);
  if (malformed == 0) return;
  out += u",\"";
  AppendAscii(out, member);
  out += u"_bytes\":";
  AppendJsonBase64(out, bytes);
}

// Where a match lies in the line as shown: the line's text less the space a
// search adds at each end.
struct Cut {
  std::size_t first;  // where the line as shown starts in the text
  std::size_t last;   // and where it ends
  std::size_t start;  // the match, within [first, last]
  std::size_t end;
};

Cut CutOf(std::u16string_view text, MatchSpan span) {
  const std::size_t first = text.empty() ? 0 : 1;
  const std::size_t last = text.size() < 2 ? first : text.size() - 1;
  const auto start = std::clamp(static_cast<std::size_t>(span.start), first, last);
  const auto end =
      std::clamp(static_cast<std::size_t>(span.start) + static_cast<std::size_t>(span.length),
                 start, last);
  return Cut{first, last, start, end};
}

// `part` of record.text as it was read: with its NULs, where the text shows
// U+FFFD. Every part a cut gives lies inside the spaces the search adds.
std::u16string_view AsRead(const MatchRecord& record, std::u16string_view part) {
  if (record.read.empty() || part.empty() || record.read.size() + 2 != record.text.size())
    return part;
  const auto at = static_cast<std::size_t>(part.data() - record.text.data());
  return record.read.substr(at - 1, part.size());
}

// The Unicode characters in `text`, a surrogate without its partner counting
// as one (it is written as U+FFFD).
std::size_t CodePoints(std::u16string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i, ++count) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
  }
  return count;
}

// Counts the characters of text[cursor, to) onto `characters`, a surrogate
// pair as one, and moves `cursor` on. A pair that `to` cuts in two is left
// where it starts; the caller counts its high half as a character of its
// own. The text is read from the left, so where its pairs are does not
// depend on where a match starts.
void CountCharacters(std::u16string_view text, std::size_t to, std::size_t& cursor,
                     std::size_t& characters) {
  while (cursor < to) {
    if (IsHighSurrogate(text[cursor]) && cursor + 1 < text.size() &&
        IsLowSurrogate(text[cursor + 1])) {
      if (cursor + 2 > to) break;
      cursor += 2;
    } else {
      ++cursor;
    }
    ++characters;
  }
}

// The characters of the line as shown before match `span` of `record`.
std::size_t CharactersBefore(const MatchRecord& record, std::size_t span) {
  const Cut cut = CutOf(record.text, record.spans[span]);
  std::size_t cursor = cut.first;
  std::size_t characters = 0;
  CountCharacters(record.text, cut.start, cursor, characters);
  return characters + (cursor < cut.start ? 1 : 0);
}

}  // namespace

Kwic CutAtMatch(std::u16string_view text, MatchSpan span) {
  const Cut cut = CutOf(text, span);
  return Kwic{text.substr(cut.first, cut.start - cut.first),
              text.substr(cut.start, cut.end - cut.start), text.substr(cut.end, cut.last - cut.end)};
}

void AppendTableField(std::u16string& out, OutputFormat format, std::u16string_view text) {
  (format == OutputFormat::kCsv ? AppendCsvField : AppendTsvField)(out, text);
}

Kwic WithContext(Kwic kwic, int context) {
  if (context < 0) return kwic;
  std::size_t end = 0;
  for (int taken = 0; taken < context && end < kwic.right.size(); ++taken) {
    const bool pair = IsHighSurrogate(kwic.right[end]) && end + 1 < kwic.right.size() &&
                      IsLowSurrogate(kwic.right[end + 1]);
    end += pair ? 2 : 1;
  }
  std::size_t begin = kwic.left.size();
  for (int taken = 0; taken < context && begin > 0; ++taken) {
    const bool pair = IsLowSurrogate(kwic.left[begin - 1]) && begin >= 2 &&
                      IsHighSurrogate(kwic.left[begin - 2]);
    begin -= pair ? 2 : 1;
  }
  return Kwic{kwic.left.substr(begin), kwic.match, kwic.right.substr(0, end)};
}

TableRowPrinter::TableRowPrinter(OutputFormat format, const std::string& path,
                                 const std::string& shown_name, int context)
    : format_(format), context_(context) {
  // File names are native bytes; in a UTF-8 table their invalid bytes
  // become U+FFFD (and JSON gives the bytes too).
  switch (format) {
    case OutputFormat::kCsv: AppendCsvField(file_field_, Utf8Decode(shown_name)); break;
    case OutputFormat::kJsonLines:
      file_field_ = u"{";
      AppendJsonFileName(file_field_, "file", shown_name);
      file_field_ += u',';
      AppendJsonFileName(file_field_, "path", path);
      break;
    default: AppendTsvField(file_field_, Utf8Decode(shown_name)); break;
  }
}

std::size_t TableRowPrinter::RowLength(const MatchRecord&, const std::atomic<bool>*) const {
  return kMeasuredLater;
}

void TableRowPrinter::AppendRow(std::u16string& out, const MatchRecord& record,
                                const std::atomic<bool>* cancel) const {
  // The characters before each match are counted along the line once (the
  // matches are in ascending order).
  const bool json = format_ == OutputFormat::kJsonLines;
  std::size_t cursor = record.text.empty() ? 0 : 1;
  std::size_t characters = 0;
  for (std::size_t span = 0; span < record.spans.size(); ++span) {
    if (span % kCancelCheckRows == kCancelCheckRows - 1 && IsCancelled(cancel)) throw ECancelled();
    std::size_t before = 0;
    if (json) {
      const Cut cut = CutOf(record.text, record.spans[span]);
      CountCharacters(record.text, cut.start, cursor, characters);
      // A pair that the match's start cuts leaves its high half in `left`
      // as one character.
      before = characters + (cursor < cut.start ? 1 : 0);
    }
    AppendOne(out, record, span, before);
  }
}

void TableRowPrinter::AppendMatchRow(std::u16string& out, const MatchRecord& record,
                                     std::size_t span) const {
  AppendOne(out, record, span,
            format_ == OutputFormat::kJsonLines ? CharactersBefore(record, span) : 0);
}

void TableRowPrinter::AppendOne(std::u16string& out, const MatchRecord& record, std::size_t span,
                                std::size_t characters_before) const {
  const Kwic kwic = WithContext(CutAtMatch(record.text, record.spans[span]), context_);
  const auto count = record.spans.size();
  const auto line = static_cast<std::size_t>(record.line);
  if (format_ == OutputFormat::kJsonLines) {
    out += file_field_;
    out += u",\"line\":";
    AppendNumber(out, line);
    out += u",\"count\":";
    AppendNumber(out, count);
    out += u",\"start\":";
    AppendNumber(out, characters_before);
    out += u",\"length\":";
    AppendNumber(out, CodePoints(kwic.match));
    // JSON holds a NUL (as \u0000), so the text is written as it was read.
    out += u",\"match\":";
    AppendJsonString(out, AsRead(record, kwic.match));
    out += u",\"left\":";
    AppendJsonString(out, AsRead(record, kwic.left));
    out += u",\"right\":";
    AppendJsonString(out, AsRead(record, kwic.right));
    out += u"}\n";
    return;
  }
  const bool csv = format_ == OutputFormat::kCsv;
  const auto field = csv ? AppendCsvField : AppendTsvField;
  const char16_t separator = csv ? u',' : u'\t';
  out += file_field_;
  out += separator;
  AppendNumber(out, line);
  out += separator;
  AppendNumber(out, count);
  out += separator;
  field(out, kwic.left);
  out += separator;
  field(out, kwic.match);
  out += separator;
  field(out, kwic.right);
  out += csv ? u"\r\n" : u"\n";
}

RowPrinterFactory TableRowPrinters(OutputFormat format, int context) {
  return [format, context](const RecordFile& file) -> std::unique_ptr<RowPrinter> {
    return std::make_unique<TableRowPrinter>(format, file.path, file.shown_name, context);
  };
}

std::u16string_view TableHead(OutputFormat format) {
  switch (format) {
    case OutputFormat::kCsv: return u"\uFEFFfile,line,count,left,match,right\r\n";
    case OutputFormat::kTsv: return u"file\tline\tcount\tleft\tmatch\tright\n";
    default: return u"";
  }
}

TableOutput::TableOutput(std::function<void(std::string_view bytes)> write)
    : write_(std::move(write)) {}

void TableOutput::Add(std::u16string_view rows) {
  AppendUtf8(buffer_, rows);
  if (buffer_.size() >= 4 * kPendingUnits) Flush();
}

void TableOutput::Flush() {
  if (!buffer_.empty()) write_(buffer_);
  buffer_.clear();
}

void WriteTable(MatchList& matches, OutputFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel) {
  SortMatchKeys(matches.keys);
  TableOutput output(write);
  output.Add(TableHead(format));
  {
    // Rows are gathered a few at a time before they are turned into UTF-8:
    // most are short.
    RowReader rows(matches.rows, matches.keys);
    std::u16string pending;
    for (std::size_t i = 0; i < matches.keys.size(); ++i) {
      if (i % kCancelCheckRows == 0 && IsCancelled(cancel)) throw ECancelled();
      const std::u16string_view row = rows.Next();
      if (pending.size() + row.size() > kPendingUnits) {
        output.Add(pending);
        pending.clear();
      }
      if (row.size() > kPendingUnits) {
        output.Add(row);
      } else {
        pending.append(row);
      }
    }
    output.Add(pending);
  }
  output.Flush();
  matches.Clear();
}

}  // namespace tallyfold
