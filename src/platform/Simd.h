// Internal to the engine and the text layer; they include it, nothing else
// does.
//
// Scans over arrays of bytes and of UTF-16 code units that compare sixteen
// bytes at a time where SSE2 is there: skipping ASCII, counting 0 units,
// line breaks and the units of UTF-8, finding a literal (each unit in either of two forms), one of
// a few units or a unit in one of a few ranges, and copying a text while
// finding its first 0 unit or a literal in the same pass. Each has a plain
// twin in namespace `scalar` that gives the same answer unit by unit; the
// tests (tests/text/SimdTest.cpp) hold every wide scan to its twin.
//
//   const char16_t units[] = u"cat", others[] = u"CAT";
//   const simd::Literal<char16_t> cat{units, others, 3};
//   simd::FindLiteral(cat, text, 0, size, size);   // first "cat", any case
//   simd::CountLineBreaks(bytes, 0, n, '\r', '\n');  // CR LF counts once
//
// Positions are indexes into the arrays; a scan reads only the units it is
// given ([from, to), [0, size) or [0, end)), whatever their alignment.
#pragma once

#include <cstddef>

namespace tallyfold::simd {

// What a search for a literal gives when there is none.
inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// A literal as the scans compare it: text unit k matches when it equals
// units[k] or others[k] (others[k] == units[k] when case does not matter).
// `length` is at least 1.
template <typename Unit>
struct Literal {
  const Unit* units;
  const Unit* others;
  std::size_t length;
};

// Whether `literal` occurs at `at` (its `length` units must be readable).
template <typename Unit>
bool LiteralAt(const Literal<Unit>& literal, const Unit* at) {
  for (std::size_t k = 0; k < literal.length; ++k)
    if (at[k] != literal.units[k] && at[k] != literal.others[k]) return false;
  return true;
}

// The first position in [from, size) holding a byte of 0x80 or more, else
// `size`.
std::size_t SkipAscii(const char* text, std::size_t from, std::size_t size);

// The number of 0 units in [0, size).
std::size_t CountZeros(const char* text, std::size_t size);
std::size_t CountZeros(const char16_t* text, std::size_t size);

// The number of line ends in [from, to): a `cr`, a `lf`, and a `cr`
// followed by a `lf` counting once. A `lf` at `from` counts, whatever is
// before it.
std::size_t CountLineBreaks(const char* text, std::size_t from, std::size_t to, char cr,
                            char lf);
std::size_t CountLineBreaks(const char16_t* text, std::size_t from, std::size_t to,
                            char16_t cr, char16_t lf);

// The number of units in [0, size) that are a `cr` or a `lf`: the units of
// the line ends.
std::size_t CountBreakUnits(const char* text, std::size_t size, char cr, char lf);
std::size_t CountBreakUnits(const char16_t* text, std::size_t size, char16_t cr, char16_t lf);

// The UTF-16 units the valid UTF-8 in [0, size) decodes to: one for each
// byte that is not a continuation byte, and one more for each that leads a
// sequence of four.
std::size_t CountUtf8Units(const char* text, std::size_t size);

// The first start p in [from, stop) at which `literal` occurs ending at or
// before `end` (p + length <= end), or kNotFound.
std::size_t FindLiteral(const Literal<char>& literal, const char* text, std::size_t from,
                        std::size_t stop, std::size_t end);
std::size_t FindLiteral(const Literal<char16_t>& literal, const char16_t* text,
                        std::size_t from, std::size_t stop, std::size_t end);

// The first position in [from, to) holding one of `units[0..count)` (1 to
// 4 units), else `to` (also when from > to).
std::size_t FindUnits(const char16_t* text, std::size_t from, std::size_t to,
                      const char16_t* units, int count);

// The first position in [from, to) whose unit lies in one of the ranges
// first[k]..last[k], k < count (1 to 4 ranges), else `to`.
std::size_t FindRanges(const char16_t* text, std::size_t from, std::size_t to,
                       const char16_t* first, const char16_t* last, int count);

// Copies `length` units and returns the index of the first 0 unit among
// them, or `length`.
std::size_t CopyFindingZero(char16_t* to, const char16_t* from, std::size_t length);

// Copies `length` units and finds `literal` in the same pass: `hit` is then
// what FindLiteral(literal, to, 0, length, length) gives. False, with the
// copy complete but `hit` unspecified, when the text holds a 0 unit.
bool CopyAndFindLiteral(const Literal<char16_t>& literal, char16_t* to, const char16_t* from,
                        std::size_t length, std::size_t& hit);

// The same scans, one unit at a time.
namespace scalar {
std::size_t SkipAscii(const char* text, std::size_t from, std::size_t size);
std::size_t CountZeros(const char* text, std::size_t size);
std::size_t CountZeros(const char16_t* text, std::size_t size);
std::size_t CountLineBreaks(const char* text, std::size_t from, std::size_t to, char cr,
                            char lf);
std::size_t CountLineBreaks(const char16_t* text, std::size_t from, std::size_t to,
                            char16_t cr, char16_t lf);
std::size_t CountBreakUnits(const char* text, std::size_t size, char cr, char lf);
std::size_t CountBreakUnits(const char16_t* text, std::size_t size, char16_t cr, char16_t lf);
std::size_t CountUtf8Units(const char* text, std::size_t size);
std::size_t FindLiteral(const Literal<char>& literal, const char* text, std::size_t from,
                        std::size_t stop, std::size_t end);
std::size_t FindLiteral(const Literal<char16_t>& literal, const char16_t* text,
                        std::size_t from, std::size_t stop, std::size_t end);
std::size_t FindUnits(const char16_t* text, std::size_t from, std::size_t to,
                      const char16_t* units, int count);
std::size_t FindRanges(const char16_t* text, std::size_t from, std::size_t to,
                       const char16_t* first, const char16_t* last, int count);
std::size_t CopyFindingZero(char16_t* to, const char16_t* from, std::size_t length);
bool CopyAndFindLiteral(const Literal<char16_t>& literal, char16_t* to, const char16_t* from,
                        std::size_t length, std::size_t& hit);
}  // namespace scalar

}  // namespace tallyfold::simd
