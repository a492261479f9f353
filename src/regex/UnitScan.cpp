// Unit scans: the wide (SSE2) loops that find start units, required units,
// literals and the input's end, and their plain versions.
//
// This file's external interface is UnitScan.h, used by the search plan
// (SearchPlan.cpp) and the search driver (SearchDriver.cpp). Covered by
// tests/regex/UnitScanTest.cpp, which holds every wide scan to its plain
// version.
#include "regex/UnitScan.h"

#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tallyfold::regex_internal {
namespace {

// The wide loops with their compare count fixed, so that the constants stay
// in registers.
template <int kCount>
int FindUnitsWide(const char16_t* text, int from, int to, const char16_t* units) {
#ifdef __SSE2__
  __m128i needles[kCount];
  for (int k = 0; k < kCount; ++k) needles[k] = _mm_set1_epi16(static_cast<short>(units[k]));
  for (; from + 8 <= to; from += 8) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
    __m128i hit = _mm_cmpeq_epi16(chunk, needles[0]);
    for (int k = 1; k < kCount; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(chunk, needles[k]));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return from + (std::countr_zero(static_cast<unsigned>(mask)) >> 1);
  }
#endif
  for (; from < to; ++from)
    for (int k = 0; k < kCount; ++k)
      if (text[from] == units[k]) return from;
  return to;
}

template <int kCount>
int FindRangesWide(const char16_t* text, int from, int to, const char16_t* first,
                   const char16_t* last) {
#ifdef __SSE2__
  __m128i low[kCount], span[kCount];
  for (int k = 0; k < kCount; ++k) {
    low[k] = _mm_set1_epi16(static_cast<short>(first[k]));
    span[k] = _mm_set1_epi16(static_cast<short>(last[k] - first[k]));
  }
  const __m128i zero = _mm_setzero_si128();
  for (; from + 8 <= to; from += 8) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
    __m128i hit = zero;
    for (int k = 0; k < kCount; ++k) {
      // unit - first <= last - first, unsigned: the saturating difference
      // to the span is 0 exactly then.
      const __m128i offset = _mm_sub_epi16(chunk, low[k]);
      hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_subs_epu16(offset, span[k]), zero));
    }
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return from + (std::countr_zero(static_cast<unsigned>(mask)) >> 1);
  }
#endif
  for (; from < to; ++from)
    for (int k = 0; k < kCount; ++k)
      if (text[from] >= first[k] && text[from] <= last[k]) return from;
  return to;
}

#ifdef __SSE2__
// The literal's first and last unit (either case), eight starts at a time.
struct WideLiteral {
  explicit WideLiteral(const LiteralUnits& literal)
      : tail(literal.length - 1),
        first_unit(_mm_set1_epi16(static_cast<short>(literal.units[0]))),
        first_other(_mm_set1_epi16(static_cast<short>(literal.others[0]))),
        last_unit(_mm_set1_epi16(static_cast<short>(literal.units[tail]))),
        last_other(_mm_set1_epi16(static_cast<short>(literal.others[tail]))) {}

  // Of the starts [max(at, from), at + 8), the first where the literal
  // occurs, or -1; text[at, at + tail + 8) must be readable. Requiring the
  // first and the last unit to fit rules out most places where only the
  // first does.
  int FirstIn(const LiteralUnits& literal, const char16_t* text, int from, int at, int end,
              __m128i head) const {
    const __m128i end_units =
        tail == 0 ? head : _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + tail));
    const __m128i fits = _mm_and_si128(
        _mm_or_si128(_mm_cmpeq_epi16(head, first_unit), _mm_cmpeq_epi16(head, first_other)),
        _mm_or_si128(_mm_cmpeq_epi16(end_units, last_unit),
                     _mm_cmpeq_epi16(end_units, last_other)));
    // Two mask bits per unit: clearing the lowest two moves to the next.
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(fits)); mask != 0;
         mask &= mask - 1, mask &= mask - 1) {
      const int pos = at + (std::countr_zero(mask) >> 1);
      if (pos >= from && LiteralAt(literal, text, pos, end)) return pos;
    }
    return -1;
  }

  int tail;
  __m128i first_unit, first_other, last_unit, last_other;
};
#endif

}  // namespace

int FindUnits(const char16_t* text, int from, int to, const char16_t* units, int count) {
  // Dense candidates are common (each attempt resumes one unit further on):
  // look at the first unit before setting up the wide compare.
  if (from < to)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
  switch (count) {
    case 1: return FindUnitsWide<1>(text, from, to, units);
    case 2: return FindUnitsWide<2>(text, from, to, units);
    case 3: return FindUnitsWide<3>(text, from, to, units);
    default: return FindUnitsWide<4>(text, from, to, units);
  }
}

int FindRanges(const char16_t* text, int from, int to, const char16_t* first,
               const char16_t* last, int count) {
  switch (count) {
    case 1: return FindRangesWide<1>(text, from, to, first, last);
    case 2: return FindRangesWide<2>(text, from, to, first, last);
    case 3: return FindRangesWide<3>(text, from, to, first, last);
    default: return FindRangesWide<4>(text, from, to, first, last);
  }
}

int FindLiteral(const LiteralUnits& literal, const char16_t* text, int from, int end) {
  const int last = end - literal.length;  // last possible start
  if (from > last) return -1;
#ifdef __SSE2__
  if (last + 1 >= 8) {
    const WideLiteral wide(literal);
    int at = from;
    for (; at + 8 <= last + 1; at += 8) {
      const int hit = wide.FirstIn(literal, text, from, at, end,
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)));
      if (hit >= 0) return hit;
    }
    if (at > last) return -1;
    // The last starts: one more block that overlaps starts already ruled out.
    at = last + 1 - 8;
    return wide.FirstIn(literal, text, from, at, end,
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)));
  }
#endif
  const char16_t lead[2] = {literal.units[0], literal.others[0]};
  const int leads = lead[0] == lead[1] ? 1 : 2;
  for (int at = from; at <= last; ++at) {
    at = FindUnits(text, at, last + 1, lead, leads);
    if (at > last) break;
    if (LiteralAt(literal, text, at, end)) return at;
  }
  return -1;
}

// The copy and the search for the input's end in one pass over the text.
int CopyFindingZero(char16_t* to, const char16_t* from, int length) {
  int i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= length; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), units);
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero));
    if (mask != 0) {
      const int first = i + (std::countr_zero(static_cast<unsigned>(mask)) >> 1);
      std::memcpy(to + i + 8, from + i + 8, sizeof(char16_t) * (length - i - 8));
      return first;
    }
  }
#endif
  for (; i < length; ++i) {
    to[i] = from[i];
    if (from[i] == 0) {
      std::memcpy(to + i + 1, from + i + 1, sizeof(char16_t) * (length - i - 1));
      return i;
    }
  }
  return length;
}

bool CopyAndFindLiteral(const LiteralUnits& literal, char16_t* to, const char16_t* from,
                        int length, int& hit) {
  hit = -1;
  int at = 0;
  int searched = 0;  // every start before this is ruled out
  const auto copy_rest = [&](int pos) {
    std::memcpy(to + pos, from + pos, sizeof(char16_t) * static_cast<std::size_t>(length - pos));
  };
#ifdef __SSE2__
  const WideLiteral wide(literal);
  const __m128i zero = _mm_setzero_si128();
  for (; at + 8 <= length; at += 8) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), chunk);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, zero)) != 0) {
      copy_rest(at + 8);
      return false;
    }
    if (hit >= 0 || at + wide.tail + 8 > length) continue;
    hit = wide.FirstIn(literal, from, 0, at, length, chunk);
    searched = at + 8;
  }
  if (at < length && length >= 8) {
    // The last units: one more block that overlaps units already copied.
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + length - 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + length - 8), chunk);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, zero)) != 0) return false;
    at = length;
  }
  const int last = length - literal.length;  // last possible start
  if (hit < 0 && searched <= last && last + 1 >= 8) {
    // The last starts, the same way.
    const int block = last + 1 - 8;
    hit = wide.FirstIn(literal, to, searched, block, length,
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + block)));
    return true;
  }
#endif
  for (; at < length; ++at) {
    to[at] = from[at];
    if (from[at] == 0) {
      copy_rest(at + 1);
      return false;
    }
  }
  if (hit < 0) hit = FindLiteral(literal, to, searched, length);
  return true;
}

namespace scalar {

int FindUnits(const char16_t* text, int from, int to, const char16_t* units, int count) {
  for (; from < to; ++from)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
  return to;
}

int FindRanges(const char16_t* text, int from, int to, const char16_t* first,
               const char16_t* last, int count) {
  for (; from < to; ++from)
    for (int k = 0; k < count; ++k)
      if (text[from] >= first[k] && text[from] <= last[k]) return from;
  return to;
}

int FindLiteral(const LiteralUnits& literal, const char16_t* text, int from, int end) {
  for (int at = from; at <= end - literal.length; ++at)
    if (LiteralAt(literal, text, at, end)) return at;
  return -1;
}

int CopyFindingZero(char16_t* to, const char16_t* from, int length) {
  int zero = length;
  for (int i = 0; i < length; ++i) {
    to[i] = from[i];
    if (from[i] == 0 && zero == length) zero = i;
  }
  return zero;
}

bool CopyAndFindLiteral(const LiteralUnits& literal, char16_t* to, const char16_t* from,
                        int length, int& hit) {
  hit = -1;
  if (scalar::CopyFindingZero(to, from, length) < length) return false;
  hit = scalar::FindLiteral(literal, to, 0, length);
  return true;
}

}  // namespace scalar

}  // namespace tallyfold::regex_internal
