// Fuzz target for the report as a search builds it: the keys and rows of a
// match list (app/MatchStore.h) through BuildReport into the UTF-16 writer.
//
// Each line of the input (UTF-8, as FuzzInput.h decodes it) is one matching
// line, "count=row": the count is the decimal number before the first '='
// (held to 1..2^31-1; anything else counts 1), the row is what follows it,
// or the whole line when it has no '='. The rows go into segments of one to
// four rows, as the scan writes a file's rows, and the input's length
// chooses the row budget: nothing kept in memory, 64 bytes, or the default,
// so that rows are read back from the spill file too.
//
// The report must have 12 + 3 x N lines: the head and the foot of a report
// without rows, the tally of the runs of counts, and the rows numbered 1 to
// N with counts that never rise, holding exactly the input's (count, row)
// pairs. The match list is empty afterwards, and the written bytes are the
// mark FF FE and the lines in UTF-16 LE, each followed by CR LF.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "app/MatchStore.h"
#include "app/Report.h"
#include "text/StringList.h"
#include "text/TextFile.h"

namespace {

using tallyfold::MatchKey;
using tallyfold::MatchList;

[[noreturn]] void Fail() { __builtin_trap(); }

void Check(bool condition) {
  if (!condition) Fail();
}

// Collects the lines and writes them as the search command does.
class Sink : public tallyfold::ReportSink {
 public:
  Sink() : writer_(stream_) {}
  void Line(std::initializer_list<std::u16string_view> pieces) override {
    std::u16string line;
    for (const std::u16string_view piece : pieces) line.append(piece);
    lines.push_back(std::move(line));
    writer_.WriteLine(pieces);
  }
  std::string Bytes() {
    writer_.Flush();
    return stream_.Bytes();
  }

  std::vector<std::u16string> lines;

 private:
  tallyfold::TMemoryStream stream_;
  tallyfold::TTextWriter writer_;
};

std::vector<std::u16string> Report(MatchList& matches) {
  Sink sink;
  tallyfold::TUnicodeStringList summary;
  summary.SetPairSeparator(u'=');
  const std::atomic<bool> cancel{false};
  tallyfold::BuildReport(sink, matches, summary, &cancel);
  Check(summary.ItemCount() == 0 && matches.keys.empty());
  std::u16string expected = u"\uFEFF";
  for (const std::u16string& line : sink.lines) expected += line + u"\r\n";
  const std::string bytes = sink.Bytes();
  Check(bytes.size() == 2 * expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    Check(static_cast<unsigned char>(bytes[2 * i]) == (expected[i] & 0xFF) &&
          static_cast<unsigned char>(bytes[2 * i + 1]) == (expected[i] >> 8));
  return std::move(sink.lines);
}

std::u16string Decimal(long long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The count a line's name stands for: its decimal value, or 1.
std::int32_t CountOf(std::u16string_view name) {
  if (name.empty() || name.size() > 10) return 1;
  long long value = 0;
  for (const char16_t unit : name) {
    if (unit < u'0' || unit > u'9') return 1;
    value = value * 10 + (unit - u'0');
  }
  return value < 1 || value > INT32_MAX ? 1 : static_cast<std::int32_t>(value);
}

// Cuts `line` as "prefix" + middle + "suffix"; false when it is not so.
bool Cut(std::u16string_view line, std::u16string_view prefix, std::u16string_view suffix,
         std::u16string_view& middle) {
  if (line.size() < prefix.size() + suffix.size() || !line.starts_with(prefix) ||
      !line.ends_with(suffix))
    return false;
  middle = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A row must start less than 2^24 units into its segment.
  if (size >= (std::size_t{1} << 20)) return 0;
  std::vector<std::pair<std::int32_t, std::u16string>> entries;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      if (i > start || i < size) {
        const std::u16string line = tallyfold::fuzz::DecodeField(data + start, i - start);
        const std::size_t separator = line.find(u'=');
        entries.emplace_back(
            separator == std::u16string::npos ? 1 : CountOf(line.substr(0, separator)),
            separator == std::u16string::npos ? line : line.substr(separator + 1));
      }
      start = i + 1;
    }
  }

  static const std::uint64_t kBudgets[] = {0, 64, tallyfold::kRowMemoryBudget};
  MatchList matches(tallyfold::RowStoreOptions{kBudgets[size % 3], "", nullptr});
  const std::size_t per_segment = 1 + size % 4;
  for (std::size_t first = 0; first < entries.size(); first += per_segment) {
    std::u16string segment;
    std::vector<MatchKey> keys;
    for (std::size_t k = first; k < std::min(entries.size(), first + per_segment); ++k) {
      keys.push_back({entries[k].first, static_cast<std::uint32_t>(entries[k].second.size()),
                      segment.size()});
      segment += entries[k].second;
    }
    const std::uint64_t number = matches.rows.Put(std::move(segment));
    for (MatchKey& key : keys) key.where = MatchKey::Place(number, key.where);
    matches.keys.Append(keys);
  }
  const std::size_t n = entries.size();
  const std::vector<std::u16string> lines = Report(matches);

  static const std::vector<std::u16string> kFrame = [] {
    MatchList none;
    return Report(none);
  }();
  Check(kFrame.size() == 12 && lines.size() == 12 + 3 * n);
  Check(std::equal(kFrame.begin(), kFrame.begin() + 6, lines.begin()) &&
        std::equal(kFrame.begin() + 7, kFrame.begin() + 9, lines.begin() + 7) &&
        std::equal(kFrame.end() - 3, kFrame.end(), lines.end() - 3));

  std::vector<std::pair<std::int32_t, std::u16string>> rows;
  for (std::size_t i = 0; i < n; ++i) {
    std::u16string_view number, text, count;
    Check(Cut(lines[9 + 3 * i], u"<tr><td class=\"no\">", u"</td>", number) &&
          number == Decimal(static_cast<long long>(i) + 1));
    Check(Cut(lines[10 + 3 * i], u"<td class=\"text\">", u"</td>", text));
    Check(Cut(lines[11 + 3 * i], u"<td class=\"freq\">", u"</td></tr>", count));
    const std::int32_t value = CountOf(count);
    Check(count == Decimal(value));
    Check(rows.empty() || rows.back().first >= value);
    rows.emplace_back(value, std::u16string(text));
  }

  std::u16string tally;
  for (std::size_t k = 0, run = 0; k < n; ++k) {
    ++run;
    if (k + 1 < n && rows[k + 1].first == rows[k].first) continue;
    tally.append(u"【").append(Decimal(rows[k].first)).append(u"】=");
    tally.append(Decimal(static_cast<long long>(run))).append(u"\r\n");
    run = 0;
  }
  Check(lines[6] == tally);

  std::sort(rows.begin(), rows.end());
  std::sort(entries.begin(), entries.end());
  Check(rows == entries);
  return 0;
}
