// The keyword-in-context view over kept results: choosing and ordering its
// rows, cutting a row's line at its match, and the tables written from it.
//
// This file's external interface is ResultView.h; tests/app/ResultViewTest.cpp
// covers it.
//
// Arranging a million rows must not compute a row's sort key once per
// comparison: the key of every row (a view of its match or of what is beside
// it, or its file and line) is taken once, into a vector of (key, row)
// entries, which std::stable_sort orders. The entries start in report order,
// so rows with equal keys keep it.
#include "app/ResultView.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
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

// Whether a character belongs to a script written without spaces between
// its words, whose neighbour is a character rather than a word: the CJK
// ideographs (the unified blocks, their extensions in the supplementary
// planes, the compatibility ideographs, the radicals) and the Japanese kana.
// Hangul is written with spaces and keeps the word rule.
bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) ||    // CJK and Kangxi radicals
         (c >= 0x3040 && c <= 0x30FF) ||    // Hiragana, Katakana
         (c >= 0x31F0 && c <= 0x31FF) ||    // Katakana phonetic extensions
         (c >= 0x3400 && c <= 0x4DBF) ||    // Extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // CJK Unified Ideographs
         (c >= 0xF900 && c <= 0xFAFF) ||    // Compatibility Ideographs
         (c >= 0x20000 && c <= 0x3FFFF);    // Extensions B and on, Supplement
}

// The character that ends at `end` of `text` (a surrogate pair as one, a
// surrogate without its partner as itself) and its width in code units.
char32_t CharacterBefore(std::u16string_view text, std::size_t end, std::size_t& width) {
  const char16_t unit = text[end - 1];
  if (IsLowSurrogate(unit) && end >= 2 && IsHighSurrogate(text[end - 2])) {
    width = 2;
    return 0x10000 + ((char32_t{text[end - 2]} - 0xD800) << 10) + (unit - 0xDC00);
  }
  width = 1;
  return unit;
}

char32_t CharacterAt(std::u16string_view text, std::size_t begin, std::size_t& width) {
  const char16_t unit = text[begin];
  if (IsHighSurrogate(unit) && begin + 1 < text.size() && IsLowSurrogate(text[begin + 1])) {
    width = 2;
    return 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[begin + 1] - 0xDC00);
  }
  width = 1;
  return unit;
}

// How many characters beside a match make a CJK neighbour key.
constexpr int kNeighbourCharacters = 3;

// The key of the left order (the right's is RightNeighbourKey). Beside a CJK character it holds
// the CJK characters next to the match, up to three, nearest first (1L,
// 2L, 3L or 1R, 2R, 3R); otherwise the word beside the match. Keys compare
// by code unit, so an empty one (nothing beside the match) comes first.
// Characters compare as their code units do, and no BMP character of a key
// equals a high surrogate, so comparing the units compares 1L first, then
// 2L, then 3L.
struct NeighbourKey {
  std::u16string_view word;                            // when not CJK
  std::array<char16_t, 2 * kNeighbourCharacters> near{};  // when CJK
  std::uint8_t near_size = 0;

  std::u16string_view Units() const {
    return near_size > 0 ? std::u16string_view(near.data(), near_size) : word;
  }
  bool operator<(const NeighbourKey& other) const { return Units() < other.Units(); }
};

NeighbourKey LeftNeighbourKey(std::u16string_view left) {
  NeighbourKey key;
  std::size_t end = left.size();
  for (int taken = 0; taken < kNeighbourCharacters && end > 0; ++taken) {
    std::size_t width = 0;
    if (!IsCjk(CharacterBefore(left, end, width))) break;
    for (std::size_t k = 0; k < width; ++k) key.near[key.near_size++] = left[end - width + k];
    end -= width;
  }
  if (key.near_size == 0) key.word = ResultView::WordLeftOf(left);
  return key;
}

// The right's nearest characters are in order already: a view will do.
std::u16string_view RightNeighbourKey(std::u16string_view right) {
  std::size_t end = 0;
  for (int taken = 0; taken < kNeighbourCharacters && end < right.size(); ++taken) {
    std::size_t width = 0;
    if (!IsCjk(CharacterAt(right, end, width))) break;
    end += width;
  }
  return end > 0 ? right.substr(0, end) : ResultView::WordRightOf(right);
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

// A row's line cut at its match.
Kwic KwicOf(const ResultSet& results, ResultHit hit) {
  const ResultLine line = results.Line(hit.line);
  return CutAtMatch(line.text, line.spans[hit.span]);
}

// A line of the results as the record it was found as.
MatchRecord RecordOf(const ResultLine& line) {
  return MatchRecord{line.line, line.text,
                     std::span<const MatchSpan>(line.spans, static_cast<std::size_t>(line.count))};
}

// One table printer per file, made when its first row is written.
class FilePrinters {
 public:
  FilePrinters(const ResultSet& results, OutputFormat format, int context = kWholeLine)
      : results_(results), format_(format), context_(context), printers_(results.Files().size()) {}

  const TableRowPrinter& For(int file) {
    std::unique_ptr<TableRowPrinter>& printer = printers_[static_cast<std::size_t>(file)];
    if (!printer) {
      const ResultFile& entry = results_.Files()[static_cast<std::size_t>(file)];
      printer = std::make_unique<TableRowPrinter>(format_, entry.path, entry.shown_name, context_);
    }
    return *printer;
  }

 private:
  const ResultSet& results_;
  OutputFormat format_;
  int context_;
  std::vector<std::unique_ptr<TableRowPrinter>> printers_;
};

// Rows are gathered this many code units at a time before they go out.
constexpr std::size_t kRowsPerOutput = std::size_t{1} << 15;

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

ResultView ResultView::Subset(const std::vector<std::size_t>& rows) const {
  std::vector<ResultHit> picked;
  picked.reserve(rows.size());
  for (const std::size_t row : rows) picked.push_back(rows_[row]);
  return ResultView(results_, std::move(picked));
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
    case ResultOrder::kLeft:
      SortBy<NeighbourKey>(
          rows, [&kwic](ResultHit hit) { return LeftNeighbourKey(kwic(hit).left); }, cancel,
          report);
      break;
    case ResultOrder::kRight:
      SortBy<std::u16string_view>(
          rows, [&kwic](ResultHit hit) { return RightNeighbourKey(kwic(hit).right); },
          cancel, report);
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

namespace {

// The rows of a view's table, in pieces of whole rows, as the table
// printers make them.
void WriteTableRows(const ResultView& view, TableFormat format,
                    const std::function<void(std::u16string_view rows)>& write,
                    const std::atomic<bool>* cancel, int context,
                    const std::function<void(int percent)>& progress) {
  FilePrinters printers(view.Results(), format, context);
  ProgressReport report(progress);
  write(TableHead(format));
  std::u16string rows;
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    if (row % kCheckEvery == 0) {
      if (IsCancelled(cancel)) throw ECancelled();
      report(static_cast<int>(row * 100 / view.RowCount()));
    }
    const ResultLine line = view.Line(row);
    printers.For(line.file).AppendMatchRow(rows, RecordOf(line), view.Row(row).span);
    if (rows.size() >= kRowsPerOutput) {
      write(rows);
      rows.clear();
    }
  }
  write(rows);
  report(100);
}

}  // namespace

void WriteTableText(const ResultView& view, TableFormat format,
                    const std::function<void(std::u16string_view rows)>& write,
                    const std::atomic<bool>* cancel, int context,
                    const std::function<void(int percent)>& progress) {
  // A surrogate without its partner becomes U+FFFD, as in the UTF-8 table;
  // a piece holds whole rows, so it never cuts a pair in two.
  std::u16string fixed;
  WriteTableRows(
      view, format,
      [&](std::u16string_view rows) {
        if (std::none_of(rows.begin(), rows.end(),
                         [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; })) {
          write(rows);
          return;
        }
        fixed.assign(rows);
        for (std::size_t i = 0; i < fixed.size(); ++i) {
          if (IsHighSurrogate(fixed[i]) && i + 1 < fixed.size() && IsLowSurrogate(fixed[i + 1]))
            ++i;
          else if (IsHighSurrogate(fixed[i]) || IsLowSurrogate(fixed[i]))
            fixed[i] = u'\uFFFD';
        }
        write(fixed);
      },
      cancel, context, progress);
}

std::size_t TableTextSizeHint(const ResultView& view, int context) {
  // Each row: the file's name, the line number, the count, the line (or
  // the context each side and the match), five separators and the line end;
  // escapes aside.
  const auto digits = [](int number) {
    std::size_t count = 1;
    for (; number >= 10; number /= 10) ++count;
    return count;
  };
  std::size_t units = TableHead(TableFormat::kCsv).size();
  const std::vector<ResultFile>& files = view.Results().Files();
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    const ResultLine line = view.Line(row);
    std::size_t text = line.text.size();
    if (context != kWholeLine) {
      const MatchSpan span = line.spans[view.Row(row).span];
      text = std::min<std::size_t>(text, 2 * static_cast<std::size_t>(context) +
                                        static_cast<std::size_t>(span.length));
    }
    units += files[static_cast<std::size_t>(line.file)].shown_name.size() + digits(line.line) +
             digits(line.count) + text + 6;
  }
  return units;
}

void WriteTable(const ResultView& view, TableFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel, int context,
                const std::function<void(int percent)>& progress) {
  TableOutput output(write);
  WriteTableRows(
      view, format, [&output](std::u16string_view rows) { output.Add(rows); }, cancel, context,
      progress);
  output.Flush();
}

HitsPerFile CountHitsPerFile(const ResultSet& results) {
  const auto rate = [](FileHits& hits) {
    hits.per_ten_thousand =
        hits.characters > 0
            ? static_cast<std::uint64_t>(static_cast<double>(hits.matches) * 1e6 /
                                             static_cast<double>(hits.characters) +
                                         0.5)
            : 0;
  };
  HitsPerFile table;
  for (std::size_t index = 0; index < results.Files().size(); ++index) {
    const ResultFile& file = results.Files()[index];
    FileHits hits{.file = static_cast<int>(index),
                  .lines = file.lines,
                  .matches = file.matches,
                  .characters = file.characters,
                  .replaced = file.read.malformed,
                  .nuls = file.read.nuls};
    rate(hits);
    table.files.push_back(hits);
    table.totals.lines += hits.lines;
    table.totals.matches += hits.matches;
    table.totals.characters += hits.characters;
    table.totals.replaced += hits.replaced;
    table.totals.nuls += hits.nuls;
  }
  rate(table.totals);
  return table;
}

std::string TwoDecimals(std::uint64_t hundredths) {
  return std::to_string(hundredths / 100) + '.' + static_cast<char>('0' + hundredths % 100 / 10) +
         static_cast<char>('0' + hundredths % 10);
}

void WriteHitsPerFile(const ResultSet& results, const HitsPerFile& hits,
                      const std::vector<int>& files, TableFormat format,
                      const std::function<void(std::string_view bytes)>& write) {
  const bool csv = format == TableFormat::kCsv;
  const char16_t separator = csv ? u',' : u'\t';
  const std::u16string_view end = csv ? u"\r\n" : u"\n";
  std::u16string rows(csv ? u"\uFEFF" : u"");
  for (const std::u16string_view name : {u"file", u"lines", u"matches", u"per_10000",
                                         u"characters", u"encoding", u"replaced", u"nuls"}) {
    if (name != u"file") rows += separator;
    rows += name;
  }
  rows += end;
  const auto ascii = [&rows](const std::string& text) {
    for (const char digit : text) rows += static_cast<char16_t>(digit);
  };
  const auto row = [&](const FileHits& file, std::u16string_view name, const std::string& codeset) {
    AppendTableField(rows, format, name);
    for (const std::string& field :
         {std::to_string(file.lines), std::to_string(file.matches),
          TwoDecimals(file.per_ten_thousand), std::to_string(file.characters)}) {
      rows += separator;
      ascii(field);
    }
    rows += separator;
    AppendTableField(rows, format, Utf8Decode(codeset));
    rows += separator;
    ascii(std::to_string(file.replaced));
    rows += separator;
    ascii(std::to_string(file.nuls));
    rows += end;
  };
  for (const int index : files) {
    const ResultFile& file = results.Files()[static_cast<std::size_t>(index)];
    row(hits.files[static_cast<std::size_t>(index)], Utf8Decode(file.shown_name),
        file.read.codeset);
  }
  row(hits.totals, u"total", std::string());
  TableOutput output(write);
  output.Add(rows);
  output.Flush();
}

void WriteJsonLines(const ResultSet& results,
                    const std::function<void(std::string_view bytes)>& write,
                    const std::atomic<bool>* cancel) {
  WriteResultTable(results, OutputFormat::kJsonLines, write, cancel);
}

void WriteResultTable(const ResultSet& results, OutputFormat format,
                      const std::function<void(std::string_view bytes)>& write,
                      const std::atomic<bool>* cancel) {
  FilePrinters printers(results, format);
  TableOutput output(write);
  output.Add(TableHead(format));
  std::u16string rows;
  for (std::size_t i = 0; i < results.LineCount(); ++i) {
    if (i % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    const ResultLine line = results.Line(i);
    printers.For(line.file).AppendRow(rows, RecordOf(line), cancel);
    if (rows.size() >= kRowsPerOutput) {
      output.Add(rows);
      rows.clear();
    }
  }
  output.Add(rows);
  output.Flush();
}

namespace {

// The writers hand over their bytes in pieces, which go to the file as
// they come.
std::function<void(std::string_view)> ToStream(TStream& stream) {
  return [&stream](std::string_view bytes) {
    stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  };
}

}  // namespace

void WriteTableFile(const ResultView& view, TableFormat format, const std::string& native_path,
                    const std::atomic<bool>* cancel, int context) {
  WriteFileWith(
      native_path,
      [&](TStream& stream) { WriteTable(view, format, ToStream(stream), cancel, context); },
      cancel);
}

void WriteJsonLinesFile(const ResultSet& results, const std::string& native_path,
                        const std::atomic<bool>* cancel) {
  WriteFileWith(
      native_path, [&](TStream& stream) { WriteJsonLines(results, ToStream(stream), cancel); },
      cancel);
}

}  // namespace tallyfold
