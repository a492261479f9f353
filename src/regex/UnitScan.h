// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// Scans over arrays of UTF-16 code units: finding one of a few units, a unit
// in one of a few ranges, a literal (each unit in either of two cases), and
// copying a text while finding its first 0 unit or a literal in the same
// pass. Each compares eight units at a time where SSE2 is there; each has a
// plain version in namespace `scalar` that gives the same answer unit by
// unit, which the tests hold the wide ones to.
//
// Positions are indexes into the arrays; every scan reads only the units it
// is given ([from, to) or [0, length)), whatever their alignment.
#pragma once

namespace tallyfold::regex_internal {

// A literal as the matcher compares it: text unit k matches when it equals
// units[k] or others[k] (others[k] == units[k] when case does not matter).
// `length` is at least 1.
struct LiteralUnits {
  const char16_t* units;
  const char16_t* others;
  int length;
};

// Whether `literal` occurs at `pos` and ends at or before `end`.
inline bool LiteralAt(const LiteralUnits& literal, const char16_t* text, int pos, int end) {
  if (pos < 0 || literal.length > end - pos) return false;
  for (int k = 0; k < literal.length; ++k)
    if (text[pos + k] != literal.units[k] && text[pos + k] != literal.others[k]) return false;
  return true;
}

// The first position in [from, to) holding one of `units[0..count)` (1 to
// 4 units), else `to`.
int FindUnits(const char16_t* text, int from, int to, const char16_t* units, int count);

// The first position in [from, to) whose unit lies in one of the ranges
// first[k]..last[k], k < count (1 to 4 ranges), else `to`.
int FindRanges(const char16_t* text, int from, int to, const char16_t* first,
               const char16_t* last, int count);

// The start of the first occurrence of `literal` at or after `from` that
// ends at or before `end`, or -1.
int FindLiteral(const LiteralUnits& literal, const char16_t* text, int from, int end);

// Copies `length` units and returns the index of the first 0 unit among
// them, or `length`.
int CopyFindingZero(char16_t* to, const char16_t* from, int length);

// Copies `length` units and finds `literal` in the same pass: `hit` is then
// what FindLiteral(literal, to, 0, length) gives. False, with the copy
// complete but `hit` unset, when the text holds a 0 unit.
bool CopyAndFindLiteral(const LiteralUnits& literal, char16_t* to, const char16_t* from,
                        int length, int& hit);

// The same scans, one unit at a time.
namespace scalar {
int FindUnits(const char16_t* text, int from, int to, const char16_t* units, int count);
int FindRanges(const char16_t* text, int from, int to, const char16_t* first,
               const char16_t* last, int count);
int FindLiteral(const LiteralUnits& literal, const char16_t* text, int from, int end);
int CopyFindingZero(char16_t* to, const char16_t* from, int length);
bool CopyAndFindLiteral(const LiteralUnits& literal, char16_t* to, const char16_t* from,
                        int length, int& hit);
}  // namespace scalar

}  // namespace tallyfold::regex_internal
