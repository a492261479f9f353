// The report builder: sorting the match entries, the tally and the XHTML
// lines of result.htm.
//
// This file's external interface is Report.h; tests/app/ReportTest.cpp
// covers it.
#include "app/Report.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

std::int64_t CountAt(const TUnicodeStringList& list, int index) {
  const std::u16string& item = list.ItemRef(index);
  const std::size_t separator = item.find(list.PairSeparator());
  if (separator == std::u16string::npos) return 0;  // the name is empty
  const char16_t* begin = item.data();
  const char16_t* end = begin + separator;
  if (IsPlainNumber(begin, end)) return ParseCount(begin, end);
  const std::string bytes = WideToAnsi(item.substr(0, separator));
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
// byte; a plain number is its own byte string.
std::string TallyKey(const TUnicodeStringList& list, int index) {
  const std::u16string name = TrimWide(list.NameAt(index));
  if (IsPlainNumber(name.data(), name.data() + name.size()))
    return std::string(name.begin(), name.end());
  return WideToAnsi(name);
}

// Joins three pieces into a string of exactly their length: a report can
// hold millions of lines, and a string grown by + may keep twice the room.
std::u16string Concat(std::u16string_view head, std::u16string_view middle,
                      std::u16string_view tail) {
  std::u16string line;
  line.reserve(head.size() + middle.size() + tail.size());
  line.append(head).append(middle).append(tail);
  return line;
}

// The Text cell of a row from its match entry, whose name is `name_length`
// units long. The value follows the name and the separator; without a
// separator the name is empty and the value is the entry less its first
// unit, as ValueAt has it. The cell is built in the entry's own storage
// when that has room, and otherwise at its exact length.
std::u16string TextCell(std::u16string entry, std::size_t name_length) {
  constexpr std::u16string_view kOpen = u"<td class=\"text\">";
  constexpr std::u16string_view kClose = u"</td>";
  const std::size_t skip = std::min(name_length + 1, entry.size());
  if (entry.capacity() >= entry.size() - skip + kOpen.size() + kClose.size()) {
    entry.replace(0, skip, kOpen);
    entry.append(kClose);
    return entry;
  }
  return Concat(kOpen, std::u16string_view(entry).substr(skip), kClose);
}

std::u16string Decimal(long long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

int CompareEntries(TUnicodeStringList& list, int index1, int index2) {
  return CountDifference(CountAt(list, index1), CountAt(list, index2));
}

void Tally(TUnicodeStringList& matches, TUnicodeStringList& summary) {
  if (matches.ItemCount() == 0) return;
  matches.AppendItem(kSentinel);
  int start = 0;
  std::string key = TallyKey(matches, 0);
  for (int k = 0; k + 1 < matches.ItemCount(); ++k) {
    std::string next_key = TallyKey(matches, k + 1);
    if (next_key != key) {
      std::u16string line = u"【";
      line += matches.NameAt(k);
      line += u"】";
      line += summary.PairSeparator();
      line += Decimal(k + 1 - start);
      summary.AppendItem(std::move(line));
      start = k + 1;
    }
    key = std::move(next_key);
  }
}

void BuildReport(TUnicodeStringList& report, TUnicodeStringList& matches,
                 TUnicodeStringList& summary) {
  // The report's array is grown once: three lines per row and twelve more.
  const std::int64_t lines =
      std::int64_t{report.ItemCount()} + 12 + 3 * std::int64_t{matches.ItemCount()};
  report.ReserveFor(static_cast<int>(std::min<std::int64_t>(lines, INT_MAX)));
  SortByCount(matches);

  report.AppendItem(
      u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      u"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">");
  report.AppendItem(u"<html xmlns=\"http://www.w3.org/1999/xhtml\">");
  report.AppendItem(u"<head>");
  report.AppendItem(
      u"<meta http-equiv=\"Content-Type\" content=\"text/html; "
      u"charset=utf-8\" />");
  report.AppendItem(
      u"<title>Result</title><link type=\"text/css\" href=\"result.css\" "
      u"rel=\"stylesheet\"></head><body>");

  Tally(matches, summary);

  report.AppendItem(u"<table align=\"center\"><tr><td>");
  report.AppendItem(summary.JoinedText());
  summary.ClearItems();
  report.AppendItem(u"</td></tr></table>");
  report.AppendItem(
      u"<table align=\"center\"><tr class=\"header\" align=\"center\" "
      u"style=\"font-weight:bold; color: #906\"><td >No</td><td >Text</td>"
      u"<td >Freq.</td></tr>");

  // Every entry but the sentinel gets a row. The row number is plain ASCII,
  // which reads the same in every code page. Each entry is taken out of the
  // match list as its row is built, so the match list and the report never
  // both hold all the lines: with millions of them that would double the
  // search's memory.
  for (int i = 0; i + 1 < matches.ItemCount(); ++i) {
    const std::u16string name = matches.NameAt(i);
    report.AppendItem(Concat(u"<tr><td class=\"no\">", Decimal(i + 1), u"</td>"));
    report.AppendItem(TextCell(matches.TakeItem(i), name.size()));
    report.AppendItem(Concat(u"<td class=\"freq\">", name, u"</td></tr>"));
  }

  report.AppendItem(u"</table>");
  report.AppendItem(
      u"<p></p><div align=\"center\">© 2026 Norrow Tallyfold 1.0&nbsp;by the "
      u"Norrow Tallyfold authors</div><p></p>");
  report.AppendItem(u"</body></html>");
  matches.ClearItems();
}

}  // namespace tallyfold
