// Test helper: the code units at which an engine goes wrong when it takes
// some unit for a terminator or a sentinel, or when a table, a bitmap or a
// range ends there: U+0000, U+FFFF, the lone surrogates, the line
// separators and the case-folding edges, with the ways a pattern can spell
// them as literals, set members and range ends, and texts that hold them.
// The generated tests draw from here, so every path meets these units in
// every construct.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace tallyfold::test {

inline constexpr char16_t kCornerUnits[] = {
    // The ends of the 16-bit range and of ASCII.
    0x0000, 0x0001, 0x007F, 0x0080, 0x00FF, 0x0100, 0xFFFE, 0xFFFF,
    // Lone surrogates: both ends of both halves.
    0xD800, 0xDBFF, 0xDC00, 0xDFFF,
    // Line separators and the paired separator's units.
    0x000A, 0x000D, 0x000B, 0x000C, 0x0085, 0x2028, 0x2029,
    // Case-folding edges: next to the ASCII letters, letters whose other
    // case lies outside ASCII, Latin-1 pairs and the two it leaves out.
    u'@', u'[', u'`', u'{', u'Z', u'z', u'K', u'k', u's', 0x212A, 0x017F, 0x00C0, 0x00E0,
    0x00DE, 0x00FE, 0x00D7, 0x00F7, 0x0178, 0x0130, 0x0131, 0x00DF};

inline char16_t CornerUnit(std::mt19937& rng) {
  constexpr int kCount = sizeof kCornerUnits / sizeof kCornerUnits[0];
  return kCornerUnits[std::uniform_int_distribution<int>(0, kCount - 1)(rng)];
}

// The unit as a hex escape, in one of the forms the dialect has for it:
// \xHH below U+0100, \x{...} with or without leading zeros, and \x{} for
// U+0000.
inline std::u16string HexEscape(char16_t unit, std::mt19937& rng) {
  const int form = std::uniform_int_distribution<int>(0, 3)(rng);
  char buffer[16];
  if (unit == 0 && form == 0) return u"\\x{}";
  if (unit < 0x100 && form == 1)
    std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(unit));
  else if (form == 2)
    std::snprintf(buffer, sizeof buffer, "\\x{%04x}", static_cast<unsigned>(unit));
  else
    std::snprintf(buffer, sizeof buffer, "\\x{%X}", static_cast<unsigned>(unit));
  return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

// Whether a unit may stand for itself, unescaped, in a pattern (outside
// and inside brackets): not U+0000, which ends the expression, nor any
// ASCII punctuation, which may be syntax.
inline bool WritesPlain(char16_t unit) {
  if (unit == 0) return false;
  if (unit >= 0x80) return true;
  return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}

// A corner unit as a literal atom: escaped, or plain when it can be.
inline std::u16string CornerLiteral(std::mt19937& rng) {
  const char16_t unit = CornerUnit(rng);
  if (WritesPlain(unit) && std::uniform_int_distribution<int>(0, 2)(rng) == 0)
    return std::u16string(1, unit);
  return HexEscape(unit, rng);
}

// A set member at a corner: one unit, or a range that starts or ends at a
// corner (a few of them reach across the surrogates or over the whole
// 16-bit range).
inline std::u16string CornerClassMember(std::mt19937& rng) {
  static const char16_t kRanges[][2] = {
      {0x0000, 0x0001}, {0x0000, 0x0020}, {0x0000, 0x007F}, {0x007F, 0x0085},
      {0x00DE, 0x00E0}, {0x2027, 0x202A}, {0xFFFE, 0xFFFF}, {0xDBFF, 0xDC00},
      {0xD7FF, 0xE000}, {0xFF00, 0xFFFF}, {0x0000, 0x0000}, {0xFFFF, 0xFFFF}};
  constexpr int kRangeCount = sizeof kRanges / sizeof kRanges[0];
  const int kind = std::uniform_int_distribution<int>(0, 199)(rng);
  if (kind == 0) return HexEscape(0, rng) + u"-" + HexEscape(0xFFFF, rng);
  if (kind < 70) {
    const auto& range = kRanges[std::uniform_int_distribution<int>(0, kRangeCount - 1)(rng)];
    return HexEscape(range[0], rng) + u"-" + HexEscape(range[1], rng);
  }
  return CornerLiteral(rng);
}

// A text unit: one of `ordinary` most of the time, a corner unit else.
inline char16_t TextUnit(std::mt19937& rng, const std::u16string& ordinary) {
  if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) return CornerUnit(rng);
  return ordinary[std::uniform_int_distribution<std::size_t>(0, ordinary.size() - 1)(rng)];
}

}  // namespace tallyfold::test
