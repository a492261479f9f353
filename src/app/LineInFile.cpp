// A matching line read again from its file.
//
// This file's external interface is LineInFile.h; tests/app/LineInFileTest.cpp
// covers it, and tests/ui/ResultsWindowTest.cpp shows it in the viewer.
#include "app/LineInFile.h"

#include <algorithm>
#include <map>

#include "platform/CodePage.h"
#include "text/TextLines.h"
#include "text/WideHelpers.h"

namespace tallyfold {
namespace {

// Ends the reading once the last line wanted has been kept.
struct EnoughLines {};

// The decoding that reads the file in `read.codeset` again. A named set
// decodes a file without a mark; a file with one reads as its mark says
// whatever is named, and UTF-16 named reads as that mark would.
TTextDecoding DecodingAsRead(const TTextReadInfo& read) {
  return TTextDecoding{TDecodingKind::CodePage, TCodePage(read.codeset)};
}

// Where the matches of `line` lie in `text`, the line as the file holds it
// now. The kept text is the line without its leading and trailing blanks
// (characters up to U+0020), with one space added on each side, where an
// empty match at either end lies; a file changed since may not hold it.
void FindMatches(const ResultLine& line, std::u16string_view text, std::size_t offset,
                 LineInContext& context) {
  const std::u16string_view kept =
      line.text.size() >= 2 ? line.text.substr(1, line.text.size() - 2) : std::u16string_view();
  std::size_t lead = 0;
  while (lead < text.size() && text[lead] <= u' ') ++lead;
  std::size_t at = lead;
  if (text.substr(lead, kept.size()) != kept) at = text.find(kept);
  if (at == std::u16string_view::npos) return;
  const auto size = static_cast<long long>(kept.size());
  for (int s = 0; s < line.count; ++s) {
    const MatchSpan span = line.spans[s];
    // Spans count from the added space; a match over it keeps what lies
    // within the line.
    const long long start = std::clamp<long long>(span.start - 1, 0, size);
    const long long end = std::clamp<long long>(span.start - 1 + span.length, start, size);
    context.matches.emplace_back(offset + at + static_cast<std::size_t>(start),
                                 static_cast<std::size_t>(end - start));
  }
}

std::string LineGoneMessage(const std::string& path, int line) {
  std::string message = "\"";
  message += Utf8Encode(AnsiToWide(path));
  message += "\" has no line ";
  message += std::to_string(line);
  message += " any more.";
  return message;
}

}  // namespace

ELineGone::ELineGone(std::string path, int line)
    : Exception(LineGoneMessage(path, line)), path_(std::move(path)), line_(line) {}

LineInContext ReadLineInContext(const ResultSet& results, const ResultLine& line, int around,
                                const std::atomic<bool>* cancel) {
  const ResultFile& file = results.Files()[static_cast<std::size_t>(line.file)];
  if (line.line < 1) throw ELineGone(file.path, line.line);
  LineInContext context;
  context.first_line = std::max(1, line.line - around);
  const long long last = static_cast<long long>(line.line) + std::max(around, 0);
  // The search's other lines of the file that the text shows, by number.
  std::map<int, ResultLine> shown;
  for (std::size_t i = 0; i < results.LineCount(); ++i) {
    const ResultLine other = results.Line(i);
    if (other.file == line.file && other.line != line.line && other.line >= context.first_line &&
        other.line <= last)
      shown.emplace(other.line, other);
  }
  int read_last = 0;  // the number of the last line kept
  try {
    ReadTextLines(file.path, DecodingAsRead(file.read), nullptr, cancel, nullptr,
                  [&](int index, std::u16string_view text) {
                    const int number = index + 1;
                    if (number < context.first_line) return;
                    if (number > context.first_line) context.text += u'\n';
                    if (number == line.line) {
                      context.line_start = context.text.size();
                      context.line_length = text.size();
                      context.line_matches = context.matches.size();
                      FindMatches(line, text, context.line_start, context);
                    } else if (const auto other = shown.find(number); other != shown.end()) {
                      FindMatches(other->second, text, context.text.size(), context);
                    }
                    context.text += text;
                    read_last = number;
                    if (number >= last) throw EnoughLines();
                  });
  } catch (const EnoughLines&) {
  }
  if (read_last < line.line) throw ELineGone(file.path, line.line);
  return context;
}

}  // namespace tallyfold
