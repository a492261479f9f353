// The keyword-in-context view over kept results: choosing and ordering its
// rows, cutting a row's line at its match, and the tables written from it.
//
// This file's external interface is ResultView.h; tests/app/ResultViewTest.cpp
// covers it.
//
// Arranging a million rows must not compute a row's sort key once per
// comparison: the key of every row (a view of its match or of a word beside
// it, or its file and line) is taken once, into a vector of (key, row)
// entries, which std::stable_sort orders. The entries start in report order,
// so rows with equal keys keep it.
#include "app/ResultView.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

// Whether a code unit that is not a surrogate belongs to a word. The rule is
// deliberately simple and needs no character tables: '_', ASCII letters and
// digits, and everything from U+0080 up except the blocks that hold
// punctuation and spaces in running text: C1 controls and the Latin-1
// punctuation and symbols (keeping ª, ², ³, µ, ¹, º and the fractions),
// × and ÷, General Punctuation (U+2000-U+206F, the typographic spaces,
// dashes and quotes), CJK Symbols and Punctuation (U+3000-U+303F, the
// ideographic space, comma and full stop, the corner brackets) and the
// full-width ASCII punctuation U+FF00-U+FF0F. Letters of other scripts,
// their digits and ideographs all count as word units.
bool IsWordUnit(char16_t unit) {
  if (unit < 0x80) {
    return unit == u'_' || (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
           (unit >= u'A' && unit <= u'Z');
  }
  if (unit < 0xC0) {
    return unit == 0xAA || unit == 0xB2 || unit == 0xB3 || unit == 0xB5 || unit == 0xB9 ||
           unit == 0xBA || (unit >= 0xBC && unit <= 0xBE);
  }
  if (unit == 0xD7 || unit == 0xF7) return false;
  if (unit >= 0x2000 && unit <= 0x206F) return false;
  if (unit >= 0x3000 && unit <= 0x303F) return false;
  if (unit >= 0xFF00 && unit <= 0xFF0F) return false;
  return true;
}

char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

// Whether `text` contains `folded` (already lower-case in ASCII), ignoring
// the case of ASCII letters.
bool ContainsFolded(std::u16string_view text, std::u16string_view folded) {
  if (folded.empty()) return true;
  return std::search(text.begin(), text.end(), folded.begin(), folded.end(),
                     [](char16_t a, char16_t b) { return FoldAscii(a) == b; }) != text.end();
}

// Hands the caller's callback each new percentage once, rising only.
class ProgressReport {
 public:
  explicit ProgressReport(const std::function<void(int)>& progress) : progress_(progress) {}
  void operator()(int percent) {
    if (progress_ && percent > last_) {
      last_ = percent;
      progress_(percent);
    }
  }

 private:
  const std::function<void(int)>& progress_;
  int last_ = -1;
};

// Arrange's share of the progress bar: choosing the rows, taking their keys,
// sorting them.
constexpr int kSelectEnd = 20;
constexpr int kKeysEnd = 30;
constexpr int kSortEnd = 99;
// How often the loops look at the cancel flag and report progress.
constexpr std::size_t kCheckEvery = std::size_t{1} << 14;

// Counts the comparisons of a sort, looking at the cancel flag and
// reporting progress every kCheckEvery of them. A stable sort of n rows
// makes about n log2 n comparisons; the estimate only moves the bar.
class SortWatch {
 public:
  SortWatch(std::size_t rows, const std::atomic<bool>* cancel, ProgressReport& report)
      : cancel_(cancel), report_(report) {
    std::uint64_t log2 = 1;
    while ((std::uint64_t{1} << log2) < rows) ++log2;
    expected_ = std::max<std::uint64_t>(1, rows * log2);
  }
  void Tick() {
    if ((++done_ % kCheckEvery) != 0) return;
    if (IsCancelled(cancel_)) throw ECancelled();
    const std::uint64_t share = std::min<std::uint64_t>(done_, expected_) *
                                (kSortEnd - kKeysEnd) / expected_;
    report_(kKeysEnd + static_cast<int>(share));
  }

 private:
  const std::atomic<bool>* cancel_;
  ProgressReport& report_;
  std::uint64_t done_ = 0;
  std::uint64_t expected_;
};

template <class Key>
struct Keyed {
  Key key;
  ResultHit hit;
};

// Takes each row's key with `key_of(hit)`, sorts stably by it and writes
// the rows back in the new order.
template <class Key, class KeyOf>
void SortBy(std::vector<ResultHit>& rows, KeyOf key_of, const std::atomic<bool>* cancel,
            ProgressReport& report) {
  std::vector<Keyed<Key>> keyed;
  keyed.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i % kCheckEvery == 0) {
      if (IsCancelled(cancel)) throw ECancelled();
      report(kSelectEnd + static_cast<int>(i * (kKeysEnd - kSelectEnd) / rows.size()));
    }
    keyed.push_back({key_of(rows[i]), rows[i]});
  }
  SortWatch watch(rows.size(), cancel, report);
  std::stable_sort(keyed.begin(), keyed.end(), [&watch](const Keyed<Key>& a, const Keyed<Key>& b) {
    watch.Tick();
    return a.key < b.key;
  });
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].hit;
}

// A row's place in the corpus: file, line, then the match's index in its
// line (the spans of a line are in ascending order).
struct PlaceKey {
  std::uint64_t file_and_line;
  std::uint32_t span;
  bool operator<(const PlaceKey& other) const {
    return file_and_line != other.file_and_line ? file_and_line < other.file_and_line
                                                : span < other.span;
  }
};

// ---- UTF-8 output ----

// The Unicode characters in `text`, a surrogate without its partner counting
// as one (it is written as U+FFFD).
std::size_t CodePoints(std::u16string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i, ++count) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
  }
  return count;
}

// File names are native bytes; in a UTF-8 table their invalid bytes become
// U+FFFD. Decoded once per file, not once per row.
std::vector<std::u16string> DecodedNames(const ResultSet& results) {
  std::vector<std::u16string> names;
  names.reserve(results.Files().size());
  for (const ResultFile& file : results.Files()) names.push_back(Utf8Decode(file.shown_name));
  return names;
}

// Collects the output and hands it to `write` in pieces of about this size.
constexpr std::size_t kWritePiece = std::size_t{1} << 16;

class Output {
 public:
  explicit Output(const std::function<void(std::string_view)>& write) : write_(write) {
    buffer_.reserve(kWritePiece + 1024);
  }
  std::string& Buffer() { return buffer_; }
  void MaybeFlush() {
    if (buffer_.size() >= kWritePiece) Flush();
  }
  void Flush() {
    if (!buffer_.empty()) write_(buffer_);
    buffer_.clear();
  }

 private:
  const std::function<void(std::string_view)>& write_;
  std::string buffer_;
};

bool NoEscape(char16_t, std::string&) { return false; }

// A CSV field, quoted when it holds a comma, a quote or a line break, with
// its quotes doubled.
void AppendCsvField(std::string& out, std::u16string_view text) {
  const bool quote = text.find_first_of(u",\"\r\n") != std::u16string_view::npos;
  if (!quote) {
    AppendUtf8(out, text, NoEscape);
    return;
  }
  out += '"';
  AppendUtf8(out, text, [](char16_t unit, std::string& to) {
    if (unit != u'"') return false;
    to += "\"\"";
    return true;
  });
  out += '"';
}

// A TSV field: tab, line feed, carriage return and backslash as \t, \n, \r
// and \\, so that a field never holds a separator.
void AppendTsvField(std::string& out, std::u16string_view text) {
  AppendUtf8(out, text, [](char16_t unit, std::string& to) {
    switch (unit) {
      case u'\t': to += "\\t"; return true;
      case u'\n': to += "\\n"; return true;
      case u'\r': to += "\\r"; return true;
      case u'\\': to += "\\\\"; return true;
      default: return false;
    }
  });
}

// A JSON string with its quotes.
void AppendJsonString(std::string& out, std::u16string_view text) {
  out += '"';
  AppendUtf8(out, text, [](char16_t unit, std::string& to) {
    switch (unit) {
      case u'"': to += "\\\""; return true;
      case u'\\': to += "\\\\"; return true;
      case u'\b': to += "\\b"; return true;
      case u'\f': to += "\\f"; return true;
      case u'\n': to += "\\n"; return true;
      case u'\r': to += "\\r"; return true;
      case u'\t': to += "\\t"; return true;
      default: break;
    }
    if (unit >= 0x20) return false;
    static constexpr char kHex[] = "0123456789abcdef";
    to += "\\u00";
    to += kHex[unit >> 4];
    to += kHex[unit & 0xF];
    return true;
  });
  out += '"';
}

// Bytes in base64 (RFC 4648, with its padding), as a JSON string.
void AppendJsonBase64(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out += '"';
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t take = std::min<std::size_t>(3, bytes.size() - at);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group <<= 8;
      if (k < take) group |= static_cast<unsigned char>(bytes[at + k]);
    }
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= take ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  out += '"';
}

// The members that name a file in a JSON object: `member` with the name as
// text and, when its bytes are not valid UTF-8 (so that the text, with
// U+FFFD in their place, cannot open the file), `member`_bytes with the
// bytes themselves.
void AppendJsonFileName(std::string& out, const char* member, const std::string& bytes) {
  std::size_t malformed = 0;
  const std::u16string text = Utf8Decode(bytes, malformed);
  out += '"';
  out += member;
  out += "\":";
  AppendJsonString(out, text);
  if (malformed == 0) return;
  out += ",\"";
  out += member;
  out += "_bytes\":";
  AppendJsonBase64(out, bytes);
}

// Where a match lies in the line as shown: the line's text less the space a
// search adds at each end. A match over one of those spaces (or an empty one
// beyond it) keeps only what lies within the line.
struct Cut {
  std::size_t start;  // in the text, at least 1
  std::size_t end;    // in the text, at most its size less 1
};

Cut CutOf(std::u16string_view text, const MatchSpan& span) {
  const std::size_t first = text.empty() ? 0 : 1;
  const std::size_t last = text.size() < 2 ? first : text.size() - 1;
  const auto start = std::clamp(static_cast<std::size_t>(span.start), first, last);
  const auto end =
      std::clamp(static_cast<std::size_t>(span.start) + static_cast<std::size_t>(span.length),
                 start, last);
  return Cut{start, end};
}

// A row's line cut at its match.
Kwic KwicOf(const ResultSet& results, ResultHit hit) {
  const ResultLine line = results.Line(hit.line);
  const Cut cut = CutOf(line.text, line.spans[hit.span]);
  const std::size_t first = line.text.empty() ? 0 : 1;
  const std::size_t last = line.text.size() < 2 ? first : line.text.size() - 1;
  return Kwic{line.text.substr(first, cut.start - first),
              line.text.substr(cut.start, cut.end - cut.start),
              line.text.substr(cut.end, last - cut.end)};
}

}  // namespace

ResultView::ResultView(const ResultSet& results) : results_(results) {
  rows_.reserve(results_.HitCount());
  for (std::size_t i = 0; i < results_.LineCount(); ++i) {
    const int count = results_.Line(i).count;
    for (int span = 0; span < count; ++span) {
      rows_.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(span)});
    }
  }
}

void ResultView::Arrange(ResultOrder order, const std::u16string& filter,
                         const std::atomic<bool>* cancel,
                         const std::function<void(int percent)>& progress) {
  ProgressReport report(progress);
  if (IsCancelled(cancel)) throw ECancelled();
  report(0);

  // The rows are made in report order whatever the order asked for, so the
  // stable sort below leaves equal rows in it.
  std::u16string folded(filter);
  for (char16_t& unit : folded) unit = FoldAscii(unit);
  std::vector<ResultHit> rows;
  rows.reserve(folded.empty() ? results_.HitCount() : 0);
  const std::size_t lines = results_.LineCount();
  for (std::size_t i = 0; i < lines; ++i) {
    if (i % kCheckEvery == 0) {
      if (IsCancelled(cancel)) throw ECancelled();
      report(static_cast<int>(i * kSelectEnd / lines));
    }
    const ResultLine line = results_.Line(i);
    if (!ContainsFolded(line.text, folded)) continue;
    for (int span = 0; span < line.count; ++span) {
      rows.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(span)});
    }
  }

  const auto kwic = [this](ResultHit hit) { return KwicOf(results_, hit); };
  switch (order) {
    case ResultOrder::kReport:
      break;
    case ResultOrder::kFileAndLine:
      SortBy<PlaceKey>(rows, [this](ResultHit hit) {
        const ResultLine line = results_.Line(hit.line);
        return PlaceKey{(std::uint64_t{static_cast<std::uint32_t>(line.file)} << 32) |
                            static_cast<std::uint32_t>(line.line),
                        hit.span};
      }, cancel, report);
      break;
    case ResultOrder::kMatch:
      SortBy<std::u16string_view>(rows, [&kwic](ResultHit hit) { return kwic(hit).match; },
                                  cancel, report);
      break;
    case ResultOrder::kLeftWord:
      SortBy<std::u16string_view>(
          rows, [&kwic](ResultHit hit) { return WordLeftOf(kwic(hit).left); }, cancel, report);
      break;
    case ResultOrder::kRightWord:
      SortBy<std::u16string_view>(
          rows, [&kwic](ResultHit hit) { return WordRightOf(kwic(hit).right); }, cancel, report);
      break;
  }
  if (IsCancelled(cancel)) throw ECancelled();
  rows_.swap(rows);
  report(100);
}

Kwic ResultView::Context(std::size_t row) const { return KwicOf(results_, rows_[row]); }

// Both walk from the match outwards: first over what is not a word (spaces,
// punctuation), then over the word itself. A surrogate pair is a character
// of a word; a surrogate without its partner is not.
std::u16string_view ResultView::WordLeftOf(std::u16string_view text) {
  // The width (1 or 2) of the character that ends at `end`, and whether it
  // belongs to a word.
  const auto before = [text](std::size_t end, bool& word) -> std::size_t {
    const char16_t unit = text[end - 1];
    if (IsLowSurrogate(unit) && end >= 2 && IsHighSurrogate(text[end - 2])) {
      word = true;
      return 2;
    }
    word = !IsHighSurrogate(unit) && !IsLowSurrogate(unit) && IsWordUnit(unit);
    return 1;
  };
  std::size_t end = text.size();
  bool word = false;
  while (end > 0) {
    const std::size_t width = before(end, word);
    if (word) break;
    end -= width;
  }
  std::size_t begin = end;
  while (begin > 0) {
    const std::size_t width = before(begin, word);
    if (!word) break;
    begin -= width;
  }
  return text.substr(begin, end - begin);
}

std::u16string_view ResultView::WordRightOf(std::u16string_view text) {
  const auto at = [text](std::size_t begin, bool& word) -> std::size_t {
    const char16_t unit = text[begin];
    if (IsHighSurrogate(unit) && begin + 1 < text.size() && IsLowSurrogate(text[begin + 1])) {
      word = true;
      return 2;
    }
    word = !IsHighSurrogate(unit) && !IsLowSurrogate(unit) && IsWordUnit(unit);
    return 1;
  };
  std::size_t begin = 0;
  bool word = false;
  while (begin < text.size()) {
    const std::size_t width = at(begin, word);
    if (word) break;
    begin += width;
  }
  std::size_t end = begin;
  while (end < text.size()) {
    const std::size_t width = at(end, word);
    if (!word) break;
    end += width;
  }
  return text.substr(begin, end - begin);
}

void WriteTable(const ResultView& view, TableFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel) {
  const bool csv = format == TableFormat::kCsv;
  const auto field = csv ? AppendCsvField : AppendTsvField;
  const char separator = csv ? ',' : '\t';
  const char* line_end = csv ? "\r\n" : "\n";
  const std::vector<std::u16string> names = DecodedNames(view.Results());

  Output output(write);
  std::string& out = output.Buffer();
  if (csv) out += "\xEF\xBB\xBF";
  out += csv ? "file,line,count,left,match,right" : "file\tline\tcount\tleft\tmatch\tright";
  out += line_end;
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    if (row % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    const ResultLine line = view.Line(row);
    const Kwic kwic = view.Context(row);
    field(out, names[static_cast<std::size_t>(line.file)]);
    out += separator;
    out += std::to_string(line.line);
    out += separator;
    out += std::to_string(line.count);
    out += separator;
    field(out, kwic.left);
    out += separator;
    field(out, kwic.match);
    out += separator;
    field(out, kwic.right);
    out += line_end;
    output.MaybeFlush();
  }
  output.Flush();
}

void WriteJsonLines(const ResultSet& results,
                    const std::function<void(std::string_view bytes)>& write,
                    const std::atomic<bool>* cancel) {
  // Each file's members, made once: every row of the file starts with them.
  std::vector<std::string> heads;
  heads.reserve(results.Files().size());
  for (const ResultFile& file : results.Files()) {
    std::string head = "{";
    AppendJsonFileName(head, "file", file.shown_name);
    head += ',';
    AppendJsonFileName(head, "path", file.path);
    heads.push_back(std::move(head));
  }

  Output output(write);
  std::string& out = output.Buffer();
  for (std::size_t i = 0; i < results.LineCount(); ++i) {
    if (i % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    const ResultLine line = results.Line(i);
    const auto file = static_cast<std::size_t>(line.file);
    // The characters before each match, counted along the line once (the
    // matches are in ascending order), a surrogate pair as one. The line is
    // read from the left, so its pairs do not depend on where a match
    // starts. The line is shown less the space a search adds at each end
    // (see KwicOf), so the count starts after the first unit.
    std::size_t cursor = line.text.empty() ? 0 : 1;
    std::size_t characters = 0;
    for (int s = 0; s < line.count; ++s) {
      const Cut cut = CutOf(line.text, line.spans[s]);
      while (cursor < cut.start) {
        if (IsHighSurrogate(line.text[cursor]) && cursor + 1 < line.text.size() &&
            IsLowSurrogate(line.text[cursor + 1])) {
          if (cursor + 2 > cut.start) break;
          cursor += 2;
        } else {
          ++cursor;
        }
        ++characters;
      }
      // A pair that the match's start cuts leaves its high half in `left`
      // as one character.
      const std::size_t start = characters + (cursor < cut.start ? 1 : 0);
      const Kwic kwic = KwicOf(results, ResultHit{static_cast<std::uint32_t>(i),
                                                  static_cast<std::uint32_t>(s)});
      const std::u16string_view left = kwic.left;
      const std::u16string_view match = kwic.match;
      const std::u16string_view right = kwic.right;

      out += heads[file];
      out += ",\"line\":" + std::to_string(line.line);
      out += ",\"count\":" + std::to_string(line.count);
      out += ",\"start\":" + std::to_string(start);
      out += ",\"length\":" + std::to_string(CodePoints(match));
      out += ",\"match\":";
      AppendJsonString(out, match);
      out += ",\"left\":";
      AppendJsonString(out, left);
      out += ",\"right\":";
      AppendJsonString(out, right);
      out += "}\n";
      output.MaybeFlush();
    }
  }
  output.Flush();
}

namespace {

// The writers hand over pieces of kWritePiece bytes, which go to the file
// as they come.
std::function<void(std::string_view)> ToStream(TStream& stream) {
  return [&stream](std::string_view bytes) {
    stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  };
}

}  // namespace

void WriteTableFile(const ResultView& view, TableFormat format, const std::string& native_path,
                    const std::atomic<bool>* cancel) {
  WriteFileWith(
      native_path, [&](TStream& stream) { WriteTable(view, format, ToStream(stream), cancel); },
      cancel);
}

void WriteJsonLinesFile(const ResultSet& results, const std::string& native_path,
                        const std::atomic<bool>* cancel) {
  WriteFileWith(
      native_path, [&](TStream& stream) { WriteJsonLines(results, ToStream(stream), cancel); },
      cancel);
}

}  // namespace tallyfold
