// Fuzz target for the table printers: one matching line with arbitrary
// text, matches and file name, printed as TSV, CSV and JSON Lines.
//
// The input is the file name's raw bytes, a 0 byte, the line's text and,
// after another 0 byte, the matches: each pair of units is a start and a
// length, folded into the line and put in order. Every table must be valid
// UTF-8 with one row per match, and each row must read back, by the
// format's own rules, as the file name, the line number, the count and the
// text left of the match, the match and the text right of it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "app/TablePrinter.h"
#include "platform/CodePage.h"

namespace {

using tallyfold::OutputFormat;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Splits `text` at `separator`; a final empty piece is dropped.
std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      if (i < text.size() || i > start) pieces.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return pieces;
}

std::string UnescapeTsv(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    Check(i + 1 < field.size());
    const char next = field[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    Check(next == 't' || next == 'n' || next == 'r' || next == '\\');
  }
  return out;
}

// The rows of a CSV table as RFC 4180 reads them.
std::vector<std::vector<std::string>> ReadCsv(std::string_view text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      Check(field.empty());
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r') {
      Check(i + 1 < text.size() && text[i + 1] == '\n');
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  Check(!quoted && field.empty() && rows.back().empty());
  rows.pop_back();
  return rows;
}

// The value of the JSON string member `name` of an object, unescaped.
// `"name":`, the start of a member.
std::string MemberHead(std::string_view name) {
  std::string head(1, '"');
  head.append(name);
  head.append("\":");
  return head;
}

std::string JsonString(std::string_view object, std::string_view name) {
  const std::size_t at = object.find(MemberHead(name) + '"');
  Check(at != std::string_view::npos);
  std::string out;
  for (std::size_t i = at + name.size() + 4;; ++i) {
    Check(i < object.size());
    const char c = object[i];
    Check(static_cast<unsigned char>(c) >= 0x20);
    if (c == '"') return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    const char next = object[++i];
    switch (next) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u':
        Check(object.substr(i + 1, 2) == "00");
        out += static_cast<char>(std::stoi(std::string(object.substr(i + 3, 2)), nullptr, 16));
        i += 4;
        break;
      default: Check(next == '"' || next == '\\'); out += next; break;
    }
  }
}

std::size_t JsonNumber(std::string_view object, std::string_view name) {
  const std::size_t at = object.find(MemberHead(name));
  Check(at != std::string_view::npos);
  return std::stoul(std::string(object.substr(at + name.size() + 3)));
}

// Characters of UTF-8 text: its bytes that start one.
std::size_t CodePoints(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* end = data + size;
  const auto* name_end = std::find(data, end, uint8_t{0});
  const std::string name(data, name_end);
  const std::vector<std::u16string> fields =
      tallyfold::fuzz::SplitFields(name_end + (name_end < end ? 1 : 0),
                                   static_cast<size_t>(end - name_end) - (name_end < end ? 1 : 0), 2);
  const std::u16string text = u" " + fields[0] + u" ";
  std::vector<tallyfold::MatchSpan> spans;
  int from = 0;
  for (std::size_t k = 0; k + 1 < fields[1].size() && spans.size() < 64; k += 2) {
    const int room = static_cast<int>(text.size()) - from;
    if (room < 0) break;
    const int start = from + fields[1][k] % (room + 1);
    const int length = fields[1][k + 1] % (static_cast<int>(text.size()) - start + 1);
    spans.push_back({start, length});
    from = start + std::max(length, 1);
  }
  const tallyfold::MatchRecord record{7, text, spans};
  const std::string path = "/corpus/" + name;

  for (const OutputFormat format :
       {OutputFormat::kTsv, OutputFormat::kCsv, OutputFormat::kJsonLines}) {
    const tallyfold::TableRowPrinter printer(format, path, name);
    std::u16string rows(tallyfold::TableHead(format));
    printer.AppendRow(rows, record);
    std::string bytes;
    tallyfold::TableOutput output([&bytes](std::string_view piece) { bytes += piece; });
    output.Add(rows);
    output.Flush();
    std::size_t malformed = 0;
    tallyfold::Utf8Decode(bytes, malformed);
    Check(malformed == 0);

    const std::string shown_name = tallyfold::Utf8Encode(tallyfold::Utf8Decode(name));
    std::vector<std::vector<std::string>> table;
    if (format == OutputFormat::kCsv) {
      Check(bytes.starts_with("\xEF\xBB\xBF"));
      table = ReadCsv(std::string_view(bytes).substr(3));
    } else if (format == OutputFormat::kTsv) {
      for (const std::string& row : Split(bytes, '\n')) {
        table.emplace_back();
        for (const std::string& field : Split(row + "\t", '\t'))
          table.back().push_back(UnescapeTsv(field));
      }
    }
    const std::vector<std::string> json_rows = Split(bytes, '\n');
    Check(format == OutputFormat::kJsonLines ? json_rows.size() == spans.size()
                                             : table.size() == spans.size() + 1);
    for (std::size_t k = 0; k < spans.size(); ++k) {
      const tallyfold::Kwic kwic = tallyfold::CutAtMatch(text, spans[k]);
      const std::string left = tallyfold::Utf8Encode(kwic.left);
      const std::string match = tallyfold::Utf8Encode(kwic.match);
      const std::string right = tallyfold::Utf8Encode(kwic.right);
      if (format == OutputFormat::kJsonLines) {
        const std::string& object = json_rows[k];
        Check(object.starts_with("{\"file\":") && object.ends_with("}"));
        Check(JsonString(object, "file") == shown_name);
        Check(JsonString(object, "match") == match && JsonString(object, "left") == left &&
              JsonString(object, "right") == right);
        Check(JsonNumber(object, "line") == 7 && JsonNumber(object, "count") == spans.size());
        Check(JsonNumber(object, "start") == CodePoints(left) &&
              JsonNumber(object, "length") == CodePoints(match));
        continue;
      }
      // A CSV cell that a spreadsheet could take for a formula has an
      // apostrophe before it: one that starts with a tab or CR, or whose
      // first character after spaces and tabs is = + - @ | or a full-width
      // = + - @ (U+FF1D, U+FF0B, U+FF0D, U+FF20, here in UTF-8).
      const auto cell = [format](const std::string& text) {
        bool formula = !text.empty() && (text[0] == '\t' || text[0] == '\r');
        const std::size_t first = text.find_first_not_of(" \t");
        if (first != std::string::npos) {
          const std::string_view rest = std::string_view(text).substr(first);
          formula = formula || std::string_view("=+-@|").find(rest[0]) != std::string_view::npos;
          for (const std::string_view wide :
               {"\xEF\xBC\x9D", "\xEF\xBC\x8B", "\xEF\xBC\x8D", "\xEF\xBC\xA0"})
            formula = formula || rest.starts_with(wide);
        }
        return format == OutputFormat::kCsv && formula ? "'" + text : text;
      };
      const std::vector<std::string>& row = table[k + 1];
      Check(row == std::vector<std::string>{cell(shown_name), "7", std::to_string(spans.size()),
                                            cell(left), cell(match), cell(right)});
    }
  }
  return 0;
}
