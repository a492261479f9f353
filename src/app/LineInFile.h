// A matching line read again from its corpus file, with the lines around it,
// as the search read them.
//
// The results of a search (app/ResultSet.h) keep each matching line trimmed;
// a viewer shows the line where it stands in its file. ReadLineInContext
// reads the file with the text layer (ReadTextLines in text/TextLines.h) in
// the character set the search read it in (ResultFile::read), so the lines
// and their numbers are the search's, whatever the encoding setting is now,
// and finds the matches in it, the line's and those of the search's other
// lines there:
//
//   const tallyfold::LineInContext context =
//       tallyfold::ReadLineInContext(results, view.Line(row), 2000);
//   // context.text: the line and up to 2000 lines on either side, LF between
//   // context.text.substr(context.line_start, context.line_length): the line
//   // context.matches: where the matches are in context.text, the line's
//   // from context.matches[context.line_matches] on
//
// The file is read up to the last line wanted, one line at a time, so a
// file of any size costs only the lines kept. Errors: those of
// ReadTextLines (EFOpenError for a file gone or unreadable, EReadError,
// ECancelled once `cancel` is set), and ELineGone when the file no longer
// has the line. A file changed since the search is shown as it is now; the
// matches are marked only where the line still holds the text that was
// matched.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "app/ResultSet.h"
#include "platform/Exception.h"

namespace tallyfold {

// A line with the text around it.
struct LineInContext {
  std::u16string text;   // the lines around the line and the line, LF between them
  int first_line = 0;    // the 1-based number of text's first line
  std::size_t line_start = 0;  // where the line starts in text
  std::size_t line_length = 0;
  // Where the matches of the search's lines in text are, in the order of
  // the text: start and length, in code units.
  std::vector<std::pair<std::size_t, std::size_t>> matches;
  std::size_t line_matches = 0;  // the index in matches of the line's first
};

// The file at `path` has fewer lines than `line`: it has changed since the
// search. The message is "\"<path>\" has no line <line> any more."
class ELineGone : public Exception {
 public:
  ELineGone(std::string path, int line);
  const std::string& Path() const { return path_; }
  int Line() const { return line_; }

 private:
  std::string path_;  // native byte path
  int line_;
};

// Reads `line` of `results` from its file with `around` lines on either
// side (fewer at the file's start and end).
LineInContext ReadLineInContext(const ResultSet& results, const ResultLine& line, int around,
                                const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
