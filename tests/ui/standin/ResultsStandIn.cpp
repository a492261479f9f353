// A stand-in for the kept results (app/ResultSet.h, app/ResultView.h), built
// into the window only with -DTALLYFOLD_RESULTS_STAND_IN=ON, so that the
// results window and its tests link before the real implementation is
// there. It follows the headers' contract plainly, without their care for
// speed or memory; the real files replace it, and this folder and the
// option then go.
#include <algorithm>
#include <cstdint>
#include <string>

#include <QChar>
#include <QString>

#include "app/ResultSet.h"
#include "app/ResultView.h"
#include "platform/Exception.h"

namespace tallyfold {
namespace {

bool IsWordUnit(char32_t c) { return c == U'_' || QChar::isLetterOrNumber(c); }

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char16_t FoldAscii(char16_t u) { return (u >= u'A' && u <= u'Z') ? u + 32 : u; }

bool ContainsFolded(std::u16string_view text, const std::u16string& filter) {
  if (filter.empty()) return true;
  auto it = std::search(text.begin(), text.end(), filter.begin(), filter.end(),
                        [](char16_t a, char16_t b) { return FoldAscii(a) == FoldAscii(b); });
  return it != text.end();
}

std::string Utf8(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

Kwic KwicOf(const ResultSet& results, const ResultHit& hit) {
  const ResultLine line = results.Line(hit.line);
  const MatchSpan span = line.spans[hit.span];
  const auto start =
      static_cast<std::size_t>(std::clamp(span.start, 0, static_cast<int>(line.text.size())));
  const std::size_t length = std::min(static_cast<std::size_t>(std::max(span.length, 0)),
                                      line.text.size() - start);
  return Kwic{line.text.substr(0, start), line.text.substr(start, length),
              line.text.substr(start + length)};
}

}  // namespace

ResultLine ResultSet::Line(std::size_t index) const {
  const Stored& s = lines_[index];
  ResultLine line;
  line.file = s.file;
  line.line = s.line;
  line.count = static_cast<int>(s.count);
  line.text = std::u16string_view(text_).substr(s.text, s.length);
  line.spans = spans_.data() + s.spans;
  return line;
}

int ResultSet::AddFile(ResultFile file) {
  files_.push_back(std::move(file));
  return static_cast<int>(files_.size()) - 1;
}

void ResultSet::AddLine(int file, int line, std::u16string_view text,
                        const std::vector<MatchSpan>& spans) {
  lines_.push_back(Stored{text_.size(), static_cast<std::uint32_t>(text.size()),
                          static_cast<std::uint32_t>(spans.size()), spans_.size(), file, line});
  text_.append(text);
  spans_.insert(spans_.end(), spans.begin(), spans.end());
  hits_ += spans.size();
}

ResultView::ResultView(const ResultSet& results) : results_(results) {
  for (std::size_t i = 0; i < results.LineCount(); ++i) {
    const ResultLine line = results.Line(i);
    for (int s = 0; s < line.count; ++s)
      rows_.push_back(ResultHit{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(s)});
  }
}

Kwic ResultView::Context(std::size_t row) const { return KwicOf(results_, rows_[row]); }

std::u16string_view ResultView::WordLeftOf(std::u16string_view text) {
  std::size_t end = text.size();
  auto code_before = [&](std::size_t at, std::size_t& width) {
    width = 1;
    if (at >= 2 && IsLow(text[at - 1]) && IsHigh(text[at - 2])) {
      width = 2;
      return QChar::surrogateToUcs4(text[at - 2], text[at - 1]);
    }
    return static_cast<char32_t>(text[at - 1]);
  };
  std::size_t width = 0;
  while (end > 0 && !IsWordUnit(code_before(end, width))) end -= width;
  std::size_t begin = end;
  while (begin > 0 && IsWordUnit(code_before(begin, width))) begin -= width;
  return text.substr(begin, end - begin);
}

std::u16string_view ResultView::WordRightOf(std::u16string_view text) {
  auto code_at = [&](std::size_t at, std::size_t& width) {
    width = 1;
    if (at + 1 < text.size() && IsHigh(text[at]) && IsLow(text[at + 1])) {
      width = 2;
      return QChar::surrogateToUcs4(text[at], text[at + 1]);
    }
    return static_cast<char32_t>(text[at]);
  };
  std::size_t width = 0;
  std::size_t begin = 0;
  while (begin < text.size() && !IsWordUnit(code_at(begin, width))) begin += width;
  std::size_t end = begin;
  while (end < text.size() && IsWordUnit(code_at(end, width))) end += width;
  return text.substr(begin, end - begin);
}

void ResultView::Arrange(ResultOrder order, const std::u16string& filter,
                         const std::atomic<bool>* cancel,
                         const std::function<void(int percent)>& progress) {
  ResultView all(results_);
  std::vector<ResultHit> rows;
  for (std::size_t i = 0; i < all.rows_.size(); ++i) {
    if (cancel != nullptr && (i % 1024) == 0 && cancel->load()) throw ECancelled();
    if (progress && (i % 65536) == 0) progress(static_cast<int>(i * 50 / all.rows_.size()));
    if (ContainsFolded(results_.Line(all.rows_[i].line).text, filter)) rows.push_back(all.rows_[i]);
  }
  auto kwic = [&](const ResultHit& hit) { return KwicOf(results_, hit); };
  auto less = [&](const ResultHit& a, const ResultHit& b) -> bool {
    switch (order) {
      case ResultOrder::kReport:
        return false;
      case ResultOrder::kFileAndLine: {
        const ResultLine la = results_.Line(a.line), lb = results_.Line(b.line);
        if (la.file != lb.file) return la.file < lb.file;
        if (la.line != lb.line) return la.line < lb.line;
        return la.spans[a.span].start < lb.spans[b.span].start;
      }
      case ResultOrder::kMatch:
        return kwic(a).match < kwic(b).match;
      case ResultOrder::kLeftWord:
        return WordLeftOf(kwic(a).left) < WordLeftOf(kwic(b).left);
      case ResultOrder::kRightWord:
        return WordRightOf(kwic(a).right) < WordRightOf(kwic(b).right);
    }
    return false;
  };
  std::stable_sort(rows.begin(), rows.end(), less);
  if (cancel != nullptr && cancel->load()) throw ECancelled();
  if (progress) progress(100);
  rows_.swap(rows);
}

void WriteTable(const ResultView& view, TableFormat format,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel) {
  const bool csv = format == TableFormat::kCsv;
  const char sep = csv ? ',' : '\t';
  const std::string end = csv ? "\r\n" : "\n";
  auto field = [&](std::string& out, const std::string& text) {
    if (csv) out.push_back('"');
    for (char c : text) {
      if (csv) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
        continue;
      }
      switch (c) {
        case '\t': out.append("\\t"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\\': out.append("\\\\"); break;
        default: out.push_back(c);
      }
    }
    if (csv) out.push_back('"');
  };
  if (csv) write("\xEF\xBB\xBF");
  std::string head;
  for (const char* name : {"file", "line", "count", "left", "match", "right"}) {
    if (!head.empty()) head.push_back(sep);
    head.append(name);
  }
  write(head + end);
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    if (cancel != nullptr && cancel->load()) throw ECancelled();
    const ResultLine line = view.Line(row);
    const Kwic kwic = view.Context(row);
    std::string out;
    field(out, view.Results().Files()[static_cast<std::size_t>(line.file)].shown_name);
    out.push_back(sep);
    out.append(std::to_string(line.line));
    out.push_back(sep);
    out.append(std::to_string(line.count));
    for (std::u16string_view part : {kwic.left, kwic.match, kwic.right}) {
      out.push_back(sep);
      field(out, Utf8(part));
    }
    out.append(end);
    write(out);
  }
}

}  // namespace tallyfold
