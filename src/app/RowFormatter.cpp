// The report's rows: escaping, highlighting and the link to the line.
//
// This file's external interface is RowFormatter.h; tests/app/CorpusScanTest.cpp
// covers it through the scan, tests/app/ReportTest.cpp through the report.
#include "app/RowFormatter.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <type_traits>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

const std::u16string kKeyOpen = u"<span class=\"key\">";
const std::u16string kKeyClose = u"</span>";

// Stands in the report for a code unit that XML text cannot hold.
constexpr char16_t kReplacementCharacter = u'\uFFFD';

// How many code units of a long line are escaped, measured or copied
// between two looks at the cancel flag: about a millisecond's work.
constexpr std::size_t kCancelCheckUnits = std::size_t{1} << 20;

template <typename Char>
bool IsMarkupCharacter(Char ch) {
  return ch == '&' || ch == '<' || ch == '>' || ch == '"';
}

// Whether text[i] may not stand in the report as it is, because strict
// UTF-16 decoders or XML would reject the file: a C0 control other than tab
// (a line holds no CR or LF), U+FFFE, U+FFFF, or a surrogate that is not
// half of a pair within `text`. A high surrogate pairs with a low one right
// after it, and that is the only pairing, so the neighbours decide it.
bool IsUnfitForXml(std::u16string_view text, std::size_t i) {
  const char16_t ch = text[i];
  if (ch < 0x20) return ch != u'\t';
  if (ch >= 0xFFFE) return true;
  if (ch >= 0xD800 && ch <= 0xDBFF)
    return i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF;
  if (ch >= 0xDC00 && ch <= 0xDFFF) return i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF;
  return false;
}

// Appends `text` with the four markup characters as character references,
// and in Unicode text each unit IsUnfitForXml finds as U+FFFD, one unit for
// one, so lengths and positions keep. A surrogate pair that `text` cuts in
// two is replaced too, as its halves end up apart. Runs with nothing to
// change are appended whole: almost every line has none. With `cancel`, the
// flag is looked at every kCancelCheckUnits units.
template <typename String, typename View>
void AppendEscaped(String& out, View text, const std::atomic<bool>* cancel = nullptr) {
  constexpr bool kWide = std::is_same_v<typename View::value_type, char16_t>;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    ThrowIfCancelled(cancel);
    const std::size_t block_end = std::min(text.size(), i + kCancelCheckUnits);
    for (; i < block_end; ++i) {
      const auto ch = text[i];
      if constexpr (kWide) {
        // Neither markup nor unfit: nearly every unit of a line.
        if (ch >= 0x40 && ch < 0xD800) continue;
        if (IsUnfitForXml(text, i)) {
          out.append(text.substr(start, i - start));
          out.push_back(kReplacementCharacter);
          start = i + 1;
          continue;
        }
      }
      if (!IsMarkupCharacter(ch)) continue;
      out.append(text.substr(start, i - start));
      switch (ch) {
        case '&': out.append({'&', 'a', 'm', 'p', ';'}); break;
        case '<': out.append({'&', 'l', 't', ';'}); break;
        case '>': out.append({'&', 'g', 't', ';'}); break;
        default: out.append({'&', 'q', 'u', 'o', 't', ';'}); break;
      }
      start = i + 1;
    }
  }
  out.append(text.substr(start));
}

// `text` with each unit IsUnfitForXml finds as U+FFFD.
std::u16string ReplaceUnfitForXml(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    out.push_back(IsUnfitForXml(text, i) ? kReplacementCharacter : text[i]);
  return out;
}

// The length of the well-formed UTF-8 character that starts `text` at `at`
// when it is one of two bytes or more; 0 when the byte there starts none.
std::size_t Utf8CharacterLength(const std::string& text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = at + 1; i < at + length; ++i, low = 0x80, high = 0xBF)
    if (byte(i) < low || byte(i) > high) return 0;
  return length;
}

// Percent-encodes the bytes that would otherwise end or change the path
// part of a URL, "%" itself, "#" (fragment) and "?" (query), and the control
// bytes 00-1F and 7F, which a URL may not hold. None of them is ever part of
// a longer character in a code page a locale can have. In a UTF-8 locale,
// where the page's text is decoded as UTF-8, so are the bytes of a name
// that are not part of a well-formed character: decoded, they would become
// U+FFFD and the link would name another file; percent-encoded, a browser
// hands the very bytes to the file system. A well-formed name keeps its
// bytes. So are, there, the two characters a browser reads as something
// else in a file: URL, "\\" as "/" (so that "..\\..\\x.txt" would climb out
// of the folder) and "|" as the ":" of a drive letter ("c|"). In the
// double-byte code pages their bytes may be the second half of a character,
// which must not be cut; Windows names hold neither.
std::string PercentEncodePath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool utf8 = SystemCodePage().IsUtf8();
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (utf8 && byte >= 0x80) {
      if (const std::size_t length = Utf8CharacterLength(path, i)) {
        out.append(path, i, length);
        i += length - 1;
        continue;
      }
    }
    if (byte == '%' || byte == '#' || byte == '?' || byte < 0x20 || byte == 0x7F ||
        (utf8 && (byte == '\\' || byte == '|' || byte >= 0x80))) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out.push_back(path[i]);
    }
  }
  return out;
}

// The info fragment's bytes before and after the line number, for the file
// at `path` shown as `shown_name`. The head depends only on the file, so a
// scan builds it once per file.
std::string InfoHead(const std::string& path, const std::string& shown_name) {
  return " <span class=\"info\"><a href=\"" + EscapeHtml(PercentEncodePath(PathForLink(path))) +
         "\" target=\"_blank\">(<span class=\"file\">" + EscapeHtml(shown_name) +
         "</span>, <span class=\"line\">Line ";
}

// The head widened, with the file name's control characters (and a U+FFFE
// or U+FFFF its bytes decode to) as U+FFFD; the markup around it has none,
// and the href's controls are percent-encoded already.
std::u16string WideInfoHead(const std::string& path, const std::string& shown_name) {
  return ReplaceUnfitForXml(AnsiToWide(InfoHead(path, shown_name)));
}
constexpr char kInfoTail[] = "</span>)</a></span>";
constexpr char16_t kWideInfoTail[] = u"</span>)</a></span>";

void AppendDecimal(std::u16string& out, int value) {
  const std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

// With `cancel`, the flag is looked at as the text is escaped, and at each
// of the spans, which may be many.
void AppendHighlight(std::u16string& out, std::u16string_view text,
                     std::span<const MatchSpan> spans, const std::u16string& open,
                     const std::u16string& close, const std::atomic<bool>* cancel = nullptr) {
  std::size_t copied = 0;
  for (const MatchSpan& span : spans) {
    const auto start = static_cast<std::size_t>(span.start);
    const auto length = static_cast<std::size_t>(span.length);
    AppendEscaped(out, text.substr(copied, start - copied), cancel);
    out += open;
    AppendEscaped(out, text.substr(start, length), cancel);
    out += close;
    copied = start + length;
  }
  AppendEscaped(out, text.substr(copied), cancel);
}

// The length of `line` escaped and highlighted at `spans`, each span
// adding `markup` code units. A unit replaced by U+FFFD keeps its length.
std::size_t HighlightLength(std::u16string_view line, std::span<const MatchSpan> spans,
                            std::size_t markup, const std::atomic<bool>* cancel = nullptr) {
  std::size_t length = line.size() + spans.size() * markup;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (i % kCancelCheckUnits == 0) ThrowIfCancelled(cancel);
    switch (line[i]) {
      case u'&': length += 4; break;
      case u'<':
      case u'>': length += 3; break;
      case u'"': length += 5; break;
      default: break;
    }
  }
  return length;
}

std::size_t DecimalLength(int value) { return std::to_string(value).size(); }

}  // namespace

std::u16string EscapeHtml(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string EscapeHtml(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendEscaped(out, bytes);
  return out;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = LastPathSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::u16string InfoFragment(const std::string& path, int line_number) {
  return InfoFragment(path, FileNameOf(path), line_number);
}

std::u16string InfoFragment(const std::string& path, const std::string& shown_name,
                            int line_number) {
  return ReplaceUnfitForXml(
      AnsiToWide(InfoHead(path, shown_name) + std::to_string(line_number) + kInfoTail));
}

std::u16string Highlight(std::u16string_view line, std::span<const MatchSpan> spans,
                         const std::u16string& open, const std::u16string& close) {
  std::u16string out;
  out.reserve(line.size() + spans.size() * (open.size() + close.size()) + 16);
  AppendHighlight(out, line, spans, open, close);
  return out;
}


RowFormatter::RowFormatter(const std::string& path, const std::string& shown_name)
    // Widened once per file. The head ends in ASCII after ASCII, where the
    // decoder of any code page a locale can have is back in its first
    // state, and the number and the tail are ASCII; so the pieces widened
    // apart give exactly what InfoFragment gives for the whole.
    : info_head_(WideInfoHead(path, shown_name)) {}

std::size_t RowFormatter::RowLength(const MatchRecord& record,
                                    const std::atomic<bool>* cancel) const {
  return HighlightLength(record.text, record.spans, kKeyOpen.size() + kKeyClose.size(), cancel) +
         info_head_.size() + DecimalLength(record.line) + std::size(kWideInfoTail) - 1;
}

void RowFormatter::AppendRow(std::u16string& out, const MatchRecord& record,
                             const std::atomic<bool>* cancel) const {
  AppendHighlight(out, record.text, record.spans, kKeyOpen, kKeyClose, cancel);
  out += info_head_;
  AppendDecimal(out, record.line);
  out += kWideInfoTail;
}

RowPrinterFactory ReportRowPrinters() {
  return [](const RecordFile& file) -> std::unique_ptr<RowPrinter> {
    return std::make_unique<RowFormatter>(file.path, file.shown_name);
  };
}

}  // namespace tallyfold
