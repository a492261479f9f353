// What a search found, kept to be looked at in the program and taken away as
// tables: every matching line with its matches, in the report's order, and
// the files they are in.
//
// A search that is asked for its results (SearchOptions::keep_results) fills
// a ResultSet besides, or instead of, writing the report. The lines come in
// the report's order (most matches first, ties as the report has them); a
// line's text is the line as it was matched, trimmed and with one space
// added on each side (so that an empty match at either end has a place),
// and each match is a span of it in UTF-16 code units:
//
//   const ResultSet& results = ...;
//   for (std::size_t i = 0; i < results.LineCount(); ++i) {
//     const ResultLine line = results.Line(i);
//     // line.text, line.spans, results.Files()[line.file].shown_name, ...
//   }
//
// The text of all lines is held in one buffer and the spans in another, so a
// million lines cost their text and a few dozen bytes each. A ResultSet does
// not change once made; several threads may read it at once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/MatchRecord.h"
#include "text/TextFile.h"      // TTextReadInfo

namespace tallyfold {

// A corpus file that was searched.
struct ResultFile {
  std::string path;        // native byte path
  std::string shown_name;  // as the report's rows name it
  // The file's text in UTF-16 code units, line breaks not counted.
  std::int64_t characters = 0;
  int lines = 0;             // its matching lines
  std::int64_t matches = 0;  // the matches in them
  TTextReadInfo read;        // how it was read (encoding, replacements, NULs)
};

// One matching line, as ResultSet::Line gives it.
struct ResultLine {
  int file = 0;   // index into ResultSet::Files()
  int line = 0;   // 1-based line number in the file
  int count = 0;  // matches in the line: spans.size()
  std::u16string_view text;           // " " + the trimmed line + " "
  const MatchSpan* spans = nullptr;   // `count` spans into `text`, ascending
};

// One match: a row of the keyword-in-context view.
struct ResultHit {
  std::uint32_t line;  // index of the line in report order
  std::uint32_t span;  // index of the match within the line
};

class ResultSet {
 public:
  ResultSet() = default;

  const std::vector<ResultFile>& Files() const { return files_; }
  std::size_t LineCount() const { return lines_.size(); }
  ResultLine Line(std::size_t index) const;
  // Every match in report order: the lines in order, each line's matches
  // from left to right.
  std::size_t HitCount() const { return hits_; }

  // Building (the search does this): files first, then the lines in report
  // order.
  int AddFile(ResultFile file);
  void AddLine(int file, int line, std::u16string_view text, const std::vector<MatchSpan>& spans);
  ResultFile& File(int index) { return files_[static_cast<std::size_t>(index)]; }

 private:
  struct Stored {
    std::uint64_t text;    // offset into text_
    std::uint32_t length;  // of the text
    std::uint32_t count;   // spans
    std::uint64_t spans;   // index into spans_ of the first
    std::int32_t file;
    std::int32_t line;
  };
  std::vector<ResultFile> files_;
  std::vector<Stored> lines_;
  std::u16string text_;
  std::vector<MatchSpan> spans_;
  std::size_t hits_ = 0;
};

// The row printers of a search that keeps its results: a row is the record
// itself, with the index of its file, kept with the other rows until the
// search is over and the order is known; then BuildResults (app/Report.h)
// adds the lines to a ResultSet.
RowPrinterFactory ResultRecordPrinters();

}  // namespace tallyfold
