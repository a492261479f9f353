// Matching lines packed into code units while a search runs.
//
// This file's external interface is the packing part of ResultSet.h;
// tests/app/ResultSearchTest.cpp covers it through the search.
#include <cstdint>

#include "app/ResultSet.h"

namespace tallyfold {

namespace {

void AppendNumber(std::u16string& out, std::uint32_t value) {
  out += static_cast<char16_t>(value >> 16);
  out += static_cast<char16_t>(value & 0xFFFF);
}

std::uint32_t NumberAt(std::u16string_view packed, std::size_t at) {
  return std::uint32_t{packed[at]} << 16 | packed[at + 1];
}

}  // namespace

std::size_t PackedLineLength(std::size_t text_units, std::size_t spans) {
  return 6 + 4 * spans + text_units;
}

void AppendPackedLine(std::u16string& out, int file, int line, std::u16string_view text,
                      const std::vector<MatchSpan>& spans) {
  AppendNumber(out, static_cast<std::uint32_t>(file));
  AppendNumber(out, static_cast<std::uint32_t>(line));
  AppendNumber(out, static_cast<std::uint32_t>(spans.size()));
  for (const MatchSpan& span : spans) {
    AppendNumber(out, static_cast<std::uint32_t>(span.start));
    AppendNumber(out, static_cast<std::uint32_t>(span.length));
  }
  out += text;
}

void AddPackedLine(ResultSet& results, std::u16string_view packed) {
  const auto file = static_cast<int>(NumberAt(packed, 0));
  const auto line = static_cast<int>(NumberAt(packed, 2));
  const std::size_t count = NumberAt(packed, 4);
  std::vector<MatchSpan> spans(count);
  for (std::size_t k = 0; k < count; ++k) {
    spans[k].start = static_cast<int>(NumberAt(packed, 6 + 4 * k));
    spans[k].length = static_cast<int>(NumberAt(packed, 8 + 4 * k));
  }
  results.AddLine(file, line, packed.substr(6 + 4 * count), spans);
}

}  // namespace tallyfold
