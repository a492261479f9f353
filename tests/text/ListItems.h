// Internal to the tests: a string list's entries as a vector, so that a
// whole list can be compared in one EXPECT_EQ and printed when it differs,
// and the lines a file reader should give for a text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/StringList.h"

namespace tallyfold::test {

inline std::vector<std::u16string> Items(const TUnicodeStringList& list) {
  std::vector<std::u16string> items;
  for (int i = 0; i < list.ItemCount(); ++i) items.push_back(list.ItemAt(i));
  return items;
}

// The lines of a decoded text as a file reader gives them, worked out
// plainly: CR LF, CR and LF each end a line, a final line end adds no empty
// line, and a 0 unit is a character of its line like any other.
inline std::vector<std::u16string> FileLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::u16string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') {
      line += text[i];
      continue;
    }
    lines.push_back(line);
    line.clear();
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// A number in decimal, as UTF-16.
inline std::u16string Utf16Of(long long number) {
  std::u16string text;
  for (const char c : std::to_string(number)) text += static_cast<char16_t>(c);
  return text;
}

}  // namespace tallyfold::test
