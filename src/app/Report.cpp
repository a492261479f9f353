// The report builder: sorting the match entries, the tally and the XHTML
// lines of result.htm.
//
// This file's external interface is Report.h; tests/app/ReportTest.cpp
// covers it.
#include "app/Report.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/ResultPacking.h"
#include "app/RowFormatter.h"
#include "platform/Exception.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

constexpr char16_t kSentinel[] = u"_=_";

// Names of match entries are counts written by the scan. Those made only of
// these characters read the same in every code page, so they are parsed and
// compared without a conversion.
template <typename Char>
bool IsPlainNumber(const Char* begin, const Char* end) {
  for (const Char* p = begin; p < end; ++p)
    if (!((*p >= '0' && *p <= '9') || *p == '+' || *p == '-')) return false;
  return true;
}

// A lenient decimal parse: an optional sign and at least one ASCII digit,
// nothing else; any other text is 0. The value is held at the ends of the
// 32-bit range, like the counts it stands for.
template <typename Char>
std::int64_t ParseCount(const Char* p, const Char* end) {
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end) return 0;
  constexpr std::int64_t kLimit = std::int64_t{INT_MAX} + 1;
  std::int64_t value = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = std::min(value * 10 + (*p - '0'), kLimit);
  }
  if (negative) return -value;
  return std::min<std::int64_t>(value, INT_MAX);
}

// An entry read as a name=value pair, as the list's NameAt and ValueAt read
// it but without copies: without a separator the name is empty and the value
// is the entry less its first unit.
struct EntryParts {
  std::u16string_view name;
  std::u16string_view value;
};

EntryParts SplitEntry(std::u16string_view entry, char16_t separator) {
  const std::size_t found = entry.find(separator);
  const std::size_t skip = found == std::u16string_view::npos ? 1 : found + 1;
  return {found == std::u16string_view::npos ? std::u16string_view() : entry.substr(0, found),
          skip >= entry.size() ? std::u16string_view() : entry.substr(skip)};
}

std::u16string_view NameOf(const TUnicodeStringList& list, int index) {
  return SplitEntry(list.ItemRef(index), list.PairSeparator()).name;
}

std::int64_t CountAt(const TUnicodeStringList& list, int index) {
  const std::u16string_view name = NameOf(list, index);
  if (IsPlainNumber(name.data(), name.data() + name.size()))
    return ParseCount(name.data(), name.data() + name.size());
  const std::string bytes = WideToAnsi(std::u16string(name));
  return ParseCount(bytes.data(), bytes.data() + bytes.size());
}

int CountDifference(std::int64_t first, std::int64_t second) {
  return static_cast<int>(std::clamp<std::int64_t>(second - first, INT_MIN, INT_MAX));
}

// Sorts exactly as SortWith(CompareEntries) does, but parses each count once
// instead of twice per comparison: with a million entries the comparisons
// would otherwise spend their time fetching entries from all over memory.
void SortByCount(TUnicodeStringList& matches) {
  std::vector<std::int64_t> counts(static_cast<std::size_t>(matches.ItemCount()));
  for (int i = 0; i < matches.ItemCount(); ++i)
    counts[static_cast<std::size_t>(i)] = CountAt(matches, i);
  matches.SortPositions(
      [&counts](int index1, int index2) {
        return CountDifference(counts[static_cast<std::size_t>(index1)],
                               counts[static_cast<std::size_t>(index2)]);
      },
      [&counts](int a, int b) {
        std::swap(counts[static_cast<std::size_t>(a)], counts[static_cast<std::size_t>(b)]);
      });
}

// The tally compares names trimmed and in the system code page, byte by
// byte. A plain number is its own byte string and is put in `key` without
// a conversion, so the buffer is reused from entry to entry.
void TallyKey(const TUnicodeStringList& list, int index, std::string& key) {
  const std::u16string_view name = NameOf(list, index);
  if (IsPlainNumber(name.data(), name.data() + name.size())) {
    key.assign(name.begin(), name.end());
    return;
  }
  key = WideToAnsi(TrimWide(std::u16string(name)));
}

std::u16string Decimal(long long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The decimal digits of a positive `value`, written at the end of `buffer`.
std::u16string_view DecimalDigits(int value, char16_t (&buffer)[24]) {
  char16_t* p = std::end(buffer);
  do {
    *--p = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value > 0);
  return std::u16string_view(p, static_cast<std::size_t>(std::end(buffer) - p));
}

// Appends each line to a list, made at its exact length: a report can hold
// millions of lines, and a string grown piece by piece may keep twice the
// room.
class ListSink : public ReportSink {
 public:
  explicit ListSink(TUnicodeStringList& list) : list_(list) {}

  void Line(std::initializer_list<std::u16string_view> pieces) override {
    std::size_t length = 0;
    for (const std::u16string_view piece : pieces) length += piece.size();
    std::u16string line;
    line.reserve(length);
    for (const std::u16string_view piece : pieces) line.append(piece);
    list_.AppendItem(std::move(line));
  }

 private:
  TUnicodeStringList& list_;
};

// Between two looks at the cancel flag while rows are written.
constexpr std::size_t kCancelCheckRows = 4096;

void WriteHead(ReportSink& sink) {
  sink.Line(
      {u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
       u"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"});
  sink.Line({u"<html xmlns=\"http://www.w3.org/1999/xhtml\">"});
  sink.Line({u"<head>"});
  sink.Line(
      {u"<meta http-equiv=\"Content-Type\" content=\"text/html; "
       u"charset=utf-8\" />"});
  sink.Line(
      {u"<title>Result</title><link type=\"text/css\" href=\"result.css\" "
       u"rel=\"stylesheet\"></head><body>"});
}

// The tally as one line, then the head of the table of rows; empties
// `summary`.
void WriteTally(ReportSink& sink, TUnicodeStringList& summary) {
  sink.Line({u"<table align=\"center\"><tr><td>"});
  sink.Line({summary.JoinedText()});
  summary.ClearItems();
  sink.Line({u"</td></tr></table>"});
  sink.Line(
      {u"<table align=\"center\"><tr class=\"header\" align=\"center\" "
       u"style=\"font-weight:bold; color: #906\"><td >No</td><td >Text</td>"
       u"<td >Freq.</td></tr>"});
}

// The three lines of row `index` (0-based): its number (plain ASCII, which
// reads the same in every code page), the Text cell and the Freq. cell.
void WriteRow(ReportSink& sink, int index, std::u16string_view text, std::u16string_view count,
              char16_t (&number)[24]) {
  sink.Line({u"<tr><td class=\"no\">", DecimalDigits(index + 1, number), u"</td>"});
  sink.Line({u"<td class=\"text\">", text, u"</td>"});
  sink.Line({u"<td class=\"freq\">", count, u"</td></tr>"});
}

void WriteFoot(ReportSink& sink) {
  sink.Line({u"</table>"});
  sink.Line(
      {u"<p></p><div align=\"center\">© 2026 Norrow Tallyfold 1.0&nbsp;by the "
       u"Norrow Tallyfold authors</div><p></p>"});
  sink.Line({u"</body></html>"});
}

// What Tally gives for `size` entries named by the counts count_at(k), in
// this order: one line per run of equal counts, "【count】=lines".
template <typename CountAt>
void TallyCounts(std::size_t size, CountAt count_at, TUnicodeStringList& summary) {
  std::size_t start = 0;
  for (std::size_t k = 0; k < size; ++k) {
    if (k + 1 < size && count_at(k + 1) == count_at(k)) continue;
    std::u16string line = u"【";
    line += Decimal(count_at(k));
    line += u"】";
    line += summary.PairSeparator();
    line += Decimal(static_cast<long long>(k + 1 - start));
    summary.AppendItem(std::move(line));
    start = k + 1;
  }
}

}  // namespace

int CompareEntries(TUnicodeStringList& list, int index1, int index2) {
  return CountDifference(CountAt(list, index1), CountAt(list, index2));
}

void Tally(TUnicodeStringList& matches, TUnicodeStringList& summary) {
  if (matches.ItemCount() == 0) return;
  matches.AppendItem(kSentinel);
  int start = 0;
  std::string key;
  std::string next_key;
  TallyKey(matches, 0, key);
  for (int k = 0; k + 1 < matches.ItemCount(); ++k) {
    TallyKey(matches, k + 1, next_key);
    if (next_key != key) {
      std::u16string line = u"【";
      line += matches.NameAt(k);
      line += u"】";
      line += summary.PairSeparator();
      line += Decimal(k + 1 - start);
      summary.AppendItem(std::move(line));
      start = k + 1;
    }
    key.swap(next_key);
  }
}

void BuildReport(ReportSink& sink, TUnicodeStringList& matches, TUnicodeStringList& summary) {
  SortByCount(matches);
  WriteHead(sink);
  Tally(matches, summary);
  WriteTally(sink, summary);
  // Every entry but the sentinel gets a row: the value as the Text cell and
  // the name as the Freq. cell.
  const char16_t separator = matches.PairSeparator();
  char16_t number[24];
  for (int i = 0; i + 1 < matches.ItemCount(); ++i) {
    const EntryParts parts = SplitEntry(matches.ItemRef(i), separator);
    WriteRow(sink, i, parts.value, parts.name, number);
  }
  WriteFoot(sink);
  matches.ClearItems();
}

void SortMatchKeys(MatchKeys& keys) {
  if (keys.size() > static_cast<std::size_t>(INT_MAX))
    throw Exception("Too many matching lines for one report");
  // The list's sort over the counts alone: the entries it sorted compared
  // by their counts and nothing else, so the keys end in the same order.
  QuickSortPositions(
      static_cast<int>(keys.size()),
      [&keys](int index1, int index2) {
        return CountDifference(keys[static_cast<std::size_t>(index1)].count,
                               keys[static_cast<std::size_t>(index2)].count);
      },
      [&keys](int a, int b) {
        std::swap(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
      });
}

void BuildReport(ReportSink& sink, MatchList& matches, TUnicodeStringList& summary,
                 const std::atomic<bool>* cancel) {
  MatchKeys& keys = matches.keys;
  SortMatchKeys(keys);
  WriteHead(sink);
  TallyCounts(keys.size(), [&keys](std::size_t k) { return keys[k].count; }, summary);
  WriteTally(sink, summary);
  char16_t number[24];
  char16_t count[24];
  {
    RowReader rows(matches.rows, keys);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i % kCancelCheckRows == 0) ThrowIfCancelled(cancel);
      WriteRow(sink, static_cast<int>(i), rows.Next(), DecimalDigits(keys[i].count, count),
               number);
    }
  }
  WriteFoot(sink);
  matches.Clear();
}

void BuildReport(ReportSink& sink, const ResultSet& results, TUnicodeStringList& summary,
                 const std::atomic<bool>* cancel) {
  const std::size_t lines = results.LineCount();
  if (lines > static_cast<std::size_t>(INT_MAX))
    throw Exception("Too many matching lines for one report");
  WriteHead(sink);
  TallyCounts(lines, [&results](std::size_t k) { return results.Line(k).count; }, summary);
  WriteTally(sink, summary);
  // The rows are made here, one formatter per file, exactly as the scan
  // makes them.
  std::vector<std::unique_ptr<RowFormatter>> formatters(results.Files().size());
  char16_t number[24];
  char16_t count[24];
  std::u16string row;
  for (std::size_t i = 0; i < lines; ++i) {
    if (i % kCancelCheckRows == 0) ThrowIfCancelled(cancel);
    const ResultLine line = results.Line(i);
    std::unique_ptr<RowFormatter>& formatter = formatters[static_cast<std::size_t>(line.file)];
    if (!formatter) {
      const ResultFile& file = results.Files()[static_cast<std::size_t>(line.file)];
      formatter = std::make_unique<RowFormatter>(file.path, file.shown_name);
    }
    row.clear();
    formatter->AppendRow(
        row,
        MatchRecord{line.line, line.text,
                    std::span<const MatchSpan>(line.spans, static_cast<std::size_t>(line.count))},
        cancel);
    WriteRow(sink, static_cast<int>(i), row, DecimalDigits(line.count, count), number);
  }
  WriteFoot(sink);
}

void BuildResults(MatchList& matches, ResultSet& results) {
  SortMatchKeys(matches.keys);
  RowReader rows(matches.rows, matches.keys);
  for (std::size_t i = 0; i < matches.keys.size(); ++i) app_internal::AddPackedLine(results, rows.Next());
}

void BuildReport(TUnicodeStringList& report, TUnicodeStringList& matches,
                 TUnicodeStringList& summary) {
  // The report's array is grown once: three lines per row and twelve more.
  const std::int64_t lines =
      std::int64_t{report.ItemCount()} + 12 + 3 * std::int64_t{matches.ItemCount()};
  report.ReserveFor(static_cast<int>(std::min<std::int64_t>(lines, INT_MAX)));
  ListSink sink(report);
  BuildReport(sink, matches, summary);
}

}  // namespace tallyfold
