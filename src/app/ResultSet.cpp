// The kept results of a search: every line's text in one buffer, every
// line's matches in another, and a fixed-size record per line pointing into
// both.
//
// This file's external interface is ResultSet.h; tests/app/ResultViewTest.cpp
// covers it.
#include "app/ResultSet.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace tallyfold {

ResultLine ResultSet::Line(std::size_t index) const {
  const Stored& stored = lines_[index];
  ResultLine line;
  line.file = stored.file;
  line.line = stored.line;
  line.count = static_cast<int>(stored.count);
  line.text = std::u16string_view(text_.data() + stored.text, stored.length);
  line.spans = stored.count == 0 ? nullptr : spans_.data() + stored.spans;
  return line;
}

int ResultSet::AddFile(ResultFile file) {
  files_.push_back(std::move(file));
  return static_cast<int>(files_.size() - 1);
}

// Besides storing the line, adds it and its matches to its file's tallies,
// so that a file's `lines` and `matches` always agree with the lines kept.
void ResultSet::AddLine(int file, int line, std::u16string_view text,
                        const std::vector<MatchSpan>& spans) {
  if (file < 0 || static_cast<std::size_t>(file) >= files_.size()) {
    throw std::out_of_range("ResultSet::AddLine: no file " + std::to_string(file));
  }
  if (text.size() > std::numeric_limits<std::uint32_t>::max() ||
      spans.size() > std::numeric_limits<std::uint32_t>::max() ||
      lines_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("ResultSet::AddLine: line too long or too many lines");
  }
  // The view cuts the text at the spans and sorts by them, so a span that
  // leaves the line or goes back would read outside it or break the orders.
  std::size_t previous_start = 0;
  for (const MatchSpan& span : spans) {
    if (span.start < 0 || span.length < 0 ||
        static_cast<std::size_t>(span.start) < previous_start ||
        static_cast<std::size_t>(span.start) + static_cast<std::size_t>(span.length) >
            text.size()) {
      throw std::out_of_range("ResultSet::AddLine: a match outside its line or out of order");
    }
    previous_start = static_cast<std::size_t>(span.start);
  }

  Stored stored;
  stored.text = text_.size();
  stored.length = static_cast<std::uint32_t>(text.size());
  stored.count = static_cast<std::uint32_t>(spans.size());
  stored.spans = spans_.size();
  stored.file = file;
  stored.line = line;
  text_.append(text);
  spans_.insert(spans_.end(), spans.begin(), spans.end());
  lines_.push_back(stored);
  hits_ += spans.size();

  ResultFile& owner = files_[static_cast<std::size_t>(file)];
  owner.lines += 1;
  owner.matches += static_cast<std::int64_t>(spans.size());
}

}  // namespace tallyfold
