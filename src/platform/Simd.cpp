// The wide (SSE2) scans over bytes and UTF-16 code units, and their plain
// twins.
//
// This file's external interface is Simd.h, used by the engine's search
// plan and driver and by the text layer's decoding and line reading.
// Covered by tests/text/SimdTest.cpp, which holds every wide scan to its
// plain twin.
#include "platform/Simd.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallyfold::simd {
namespace {

#if defined(__SSE2__)
// Units per 16-byte vector.
template <typename Unit>
constexpr std::size_t kLanes = 16 / sizeof(Unit);

template <typename Unit>
__m128i Splat(Unit unit) {
  if constexpr (sizeof(Unit) == 1) {
    return _mm_set1_epi8(static_cast<char>(unit));
  } else {
    return _mm_set1_epi16(static_cast<short>(unit));
  }
}

template <typename Unit>
__m128i Equal(__m128i a, __m128i b) {
  if constexpr (sizeof(Unit) == 1) {
    return _mm_cmpeq_epi8(a, b);
  } else {
    return _mm_cmpeq_epi16(a, b);
  }
}

// One bit per unit, at the unit's first byte.
template <typename Unit>
unsigned LaneMask(__m128i v) {
  const auto mask = static_cast<unsigned>(_mm_movemask_epi8(v));
  return sizeof(Unit) == 1 ? mask : mask & 0x5555u;
}

// The lane of the lowest bit of a LaneMask.
template <typename Unit>
std::size_t LowestLane(unsigned mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
}

template <typename Unit>
__m128i Load(const Unit* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

template <typename Unit>
void Store(Unit* at, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
}

// Counts the bytes set in comparison results (0xFF each) without a
// population count per vector, which the baseline instruction set lacks:
// each result is subtracted from sixteen byte counters, which are summed
// before any of them can overflow.
class ByteCounter {
 public:
  void Add(__m128i set) {
    counters_ = _mm_sub_epi8(counters_, set);
    if (++pending_ == 255) Drain();
  }
  std::size_t Total() {
    Drain();
    return total_;
  }

 private:
  void Drain() {
    const __m128i sums = _mm_sad_epu8(counters_, _mm_setzero_si128());
    total_ += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    counters_ = _mm_setzero_si128();
    pending_ = 0;
  }

  __m128i counters_ = _mm_setzero_si128();
  int pending_ = 0;
  std::size_t total_ = 0;
};

// A literal's first and last unit (either form), a vector of starts at a
// time. Requiring the first and the last unit to fit rules out most places
// where only the first does.
template <typename Unit>
struct WideLiteral {
  explicit WideLiteral(const Literal<Unit>& literal)
      : literal(literal),
        tail(literal.length - 1),
        first_unit(Splat(literal.units[0])),
        first_other(Splat(literal.others[0])),
        last_unit(Splat(literal.units[tail])),
        last_other(Splat(literal.others[tail])) {}

  // Of the starts [max(at, from), at + lanes), the first where the literal
  // occurs, or kNotFound; `head` holds the units at `at`, and
  // text[at, at + tail + lanes) must be readable.
  std::size_t FirstIn(const Unit* text, std::size_t from, std::size_t at, __m128i head) const {
    const __m128i end_units = tail == 0 ? head : Load(text + at + tail);
    const __m128i fits =
        _mm_and_si128(_mm_or_si128(Equal<Unit>(head, first_unit), Equal<Unit>(head, first_other)),
                      _mm_or_si128(Equal<Unit>(end_units, last_unit),
                                   Equal<Unit>(end_units, last_other)));
    for (unsigned mask = LaneMask<Unit>(fits); mask != 0; mask &= mask - 1) {
      const std::size_t pos = at + LowestLane<Unit>(mask);
      if (pos >= from && LiteralAt(literal, text + pos)) return pos;
    }
    return kNotFound;
  }

  const Literal<Unit>& literal;
  std::size_t tail;
  __m128i first_unit, first_other, last_unit, last_other;
};
#endif

template <typename Unit>
std::size_t PlainZeros(const Unit* text, std::size_t i, std::size_t size) {
  std::size_t count = 0;
  for (; i < size; ++i) count += text[i] == 0 ? 1 : 0;
  return count;
}

template <typename Unit>
std::size_t WideZeros(const Unit* text, std::size_t i, std::size_t size) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + kLanes<Unit> <= size; i += kLanes<Unit>) {
    const unsigned zeros = LaneMask<Unit>(Equal<Unit>(Load(text + i), zero));
    count += static_cast<std::size_t>(std::popcount(zeros));
  }
#endif
  return count + PlainZeros(text, i, size);
}

template <typename Unit>
std::size_t PlainBreakUnits(const Unit* text, std::size_t i, std::size_t size, Unit cr, Unit lf) {
  std::size_t count = 0;
  for (; i < size; ++i) count += (text[i] == cr ? 1 : 0) + (text[i] == lf ? 1 : 0);
  return count;
}

template <typename Unit>
std::size_t WideBreakUnits(const Unit* text, std::size_t size, Unit cr, Unit lf) {
  std::size_t count = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i crs = Splat(cr);
  const __m128i lfs = Splat(lf);
  ByteCounter breaks;  // a wide unit sets both its bytes
  for (; i + kLanes<Unit> <= size; i += kLanes<Unit>) {
    const __m128i v = Load(text + i);
    breaks.Add(_mm_or_si128(Equal<Unit>(v, crs), Equal<Unit>(v, lfs)));
  }
  count = breaks.Total() / sizeof(Unit);
#endif
  return count + PlainBreakUnits(text, i, size, cr, lf);
}

std::size_t PlainUtf8Units(const char* text, std::size_t i, std::size_t size) {
  std::size_t count = 0;
  for (; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    count += ((byte & 0xC0) != 0x80 ? 1 : 0) + (byte >= 0xF0 ? 1 : 0);
  }
  return count;
}

template <typename Unit>
std::size_t PlainLineBreaks(const Unit* text, std::size_t i, std::size_t to, Unit cr, Unit lf,
                            unsigned after_cr) {
  std::size_t count = 0;
  for (; i < to; ++i) {
    if (text[i] == cr) {
      ++count;
      after_cr = 1;
    } else {
      if (text[i] == lf && after_cr == 0) ++count;
      after_cr = 0;
    }
  }
  return count;
}

template <typename Unit>
std::size_t WideLineBreaks(const Unit* text, std::size_t from, std::size_t to, Unit cr, Unit lf) {
  std::size_t count = 0;
  unsigned after_cr = 0;  // 1 when the unit before `i` was a CR
  std::size_t i = from;
#if defined(__SSE2__)
  constexpr unsigned kShift = sizeof(Unit);
  const __m128i crs = Splat(cr);
  const __m128i lfs = Splat(lf);
  for (; i + kLanes<Unit> <= to; i += kLanes<Unit>) {
    const __m128i v = Load(text + i);
    const unsigned crm = LaneMask<Unit>(Equal<Unit>(v, crs));
    const unsigned lfm = LaneMask<Unit>(Equal<Unit>(v, lfs));
    const unsigned pairs = (crm & (lfm >> kShift)) | (after_cr & lfm);
    count +=
        static_cast<std::size_t>(std::popcount(crm) + std::popcount(lfm) - std::popcount(pairs));
    after_cr = (crm >> (16 - kShift)) & 1u;
  }
#endif
  return count + PlainLineBreaks(text, i, to, cr, lf, after_cr);
}

template <typename Unit>
std::size_t PlainFindLiteral(const Literal<Unit>& literal, const Unit* text, std::size_t from,
                             std::size_t stop, std::size_t end) {
  if (end < literal.length) return kNotFound;
  stop = std::min(stop, end - literal.length + 1);
  for (std::size_t at = from; at < stop; ++at)
    if (LiteralAt(literal, text + at)) return at;
  return kNotFound;
}

template <typename Unit>
std::size_t WideFindLiteral(const Literal<Unit>& literal, const Unit* text, std::size_t from,
                            std::size_t stop, std::size_t end) {
#if defined(__SSE2__)
  if (end < literal.length) return kNotFound;
  stop = std::min(stop, end - literal.length + 1);  // past the last possible start
  if (from >= stop) return kNotFound;
  if (stop >= kLanes<Unit>) {
    const WideLiteral<Unit> wide(literal);
    std::size_t at = from;
    for (; at + kLanes<Unit> <= stop; at += kLanes<Unit>) {
      const std::size_t hit = wide.FirstIn(text, from, at, Load(text + at));
      if (hit != kNotFound) return hit;
    }
    if (at >= stop) return kNotFound;
    // The last starts: one more vector that overlaps starts already ruled
    // out.
    at = stop - kLanes<Unit>;
    return wide.FirstIn(text, from, at, Load(text + at));
  }
#endif
  return PlainFindLiteral(literal, text, from, stop, end);
}

// The wide loops with their compare count fixed, so that the constants stay
// in registers.
template <int kCount>
std::size_t WideFindUnits(const char16_t* text, std::size_t from, std::size_t to,
                          const char16_t* units) {
#if defined(__SSE2__)
  __m128i needles[kCount];
  for (int k = 0; k < kCount; ++k) needles[k] = Splat(units[k]);
  for (; from + 8 <= to; from += 8) {
    const __m128i chunk = Load(text + from);
    __m128i hit = _mm_cmpeq_epi16(chunk, needles[0]);
    for (int k = 1; k < kCount; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(chunk, needles[k]));
    const unsigned mask = LaneMask<char16_t>(hit);
    if (mask != 0) return from + LowestLane<char16_t>(mask);
  }
#endif
  return scalar::FindUnits(text, from, to, units, kCount);
}

template <int kCount>
std::size_t WideFindRanges(const char16_t* text, std::size_t from, std::size_t to,
                           const char16_t* first, const char16_t* last) {
#if defined(__SSE2__)
  __m128i low[kCount], span[kCount];
  for (int k = 0; k < kCount; ++k) {
    low[k] = Splat(first[k]);
    span[k] = Splat(static_cast<char16_t>(last[k] - first[k]));
  }
  const __m128i zero = _mm_setzero_si128();
  for (; from + 8 <= to; from += 8) {
    const __m128i chunk = Load(text + from);
    __m128i hit = zero;
    for (int k = 0; k < kCount; ++k) {
      // unit - first <= last - first, unsigned: the saturating difference
      // to the span is 0 exactly then.
      const __m128i offset = _mm_sub_epi16(chunk, low[k]);
      hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_subs_epu16(offset, span[k]), zero));
    }
    const unsigned mask = LaneMask<char16_t>(hit);
    if (mask != 0) return from + LowestLane<char16_t>(mask);
  }
#endif
  return scalar::FindRanges(text, from, to, first, last, kCount);
}

}  // namespace

std::size_t SkipAscii(const char* text, std::size_t from, std::size_t size) {
#if defined(__SSE2__)
  for (; from + 16 <= size; from += 16) {
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(Load(text + from)));
    if (high != 0) return from + static_cast<std::size_t>(std::countr_zero(high));
  }
#endif
  return scalar::SkipAscii(text, from, size);
}

std::size_t CountZeros(const char* text, std::size_t size) {
  // Most text holds none, which the library's search tells fastest.
  const void* first = size == 0 ? nullptr : std::memchr(text, 0, size);
  if (first == nullptr) return 0;
  return WideZeros(text, static_cast<std::size_t>(static_cast<const char*>(first) - text), size);
}

std::size_t CountZeros(const char16_t* text, std::size_t size) {
  return WideZeros(text, 0, size);
}

std::size_t CountBreakUnits(const char* text, std::size_t size, char cr, char lf) {
  return WideBreakUnits(text, size, cr, lf);
}

std::size_t CountBreakUnits(const char16_t* text, std::size_t size, char16_t cr, char16_t lf) {
  return WideBreakUnits(text, size, cr, lf);
}

std::size_t CountUtf8Units(const char* text, std::size_t size) {
  std::size_t count = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Signed, a continuation byte is below -64 and a lead of four at -16 or
  // above (and below 0).
  const __m128i continuation = _mm_set1_epi8(-64);
  const __m128i four = _mm_set1_epi8(-17);
  const __m128i zero = _mm_setzero_si128();
  ByteCounter follows, leads;
  for (; i + 16 <= size; i += 16) {
    const __m128i v = Load(text + i);
    follows.Add(_mm_cmplt_epi8(v, continuation));
    leads.Add(_mm_and_si128(_mm_cmpgt_epi8(v, four), _mm_cmplt_epi8(v, zero)));
  }
  count = i - follows.Total() + leads.Total();
#endif
  return count + PlainUtf8Units(text, i, size);
}

std::size_t CountLineBreaks(const char* text, std::size_t from, std::size_t to, char cr,
                            char lf) {
  return WideLineBreaks(text, from, to, cr, lf);
}

std::size_t CountLineBreaks(const char16_t* text, std::size_t from, std::size_t to,
                            char16_t cr, char16_t lf) {
  return WideLineBreaks(text, from, to, cr, lf);
}

std::size_t FindLiteral(const Literal<char>& literal, const char* text, std::size_t from,
                        std::size_t stop, std::size_t end) {
  return WideFindLiteral(literal, text, from, stop, end);
}

std::size_t FindLiteral(const Literal<char16_t>& literal, const char16_t* text,
                        std::size_t from, std::size_t stop, std::size_t end) {
  return WideFindLiteral(literal, text, from, stop, end);
}

std::size_t FindUnits(const char16_t* text, std::size_t from, std::size_t to,
                      const char16_t* units, int count) {
  // Dense candidates are common (each attempt of a search resumes one unit
  // further on): look at the first unit before setting up the wide compare.
  if (from < to)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
  switch (count) {
    case 1: return WideFindUnits<1>(text, from, to, units);
    case 2: return WideFindUnits<2>(text, from, to, units);
    case 3: return WideFindUnits<3>(text, from, to, units);
    default: return WideFindUnits<4>(text, from, to, units);
  }
}

std::size_t FindRanges(const char16_t* text, std::size_t from, std::size_t to,
                       const char16_t* first, const char16_t* last, int count) {
  switch (count) {
    case 1: return WideFindRanges<1>(text, from, to, first, last);
    case 2: return WideFindRanges<2>(text, from, to, first, last);
    case 3: return WideFindRanges<3>(text, from, to, first, last);
    default: return WideFindRanges<4>(text, from, to, first, last);
  }
}

// The copy and the search for the first 0 unit in one pass over the text.
std::size_t CopyFindingZero(char16_t* to, const char16_t* from, std::size_t length) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= length; i += 8) {
    const __m128i units = Load(from + i);
    Store(to + i, units);
    const unsigned mask = LaneMask<char16_t>(_mm_cmpeq_epi16(units, zero));
    if (mask != 0) {
      std::memcpy(to + i + 8, from + i + 8, sizeof(char16_t) * (length - i - 8));
      return i + LowestLane<char16_t>(mask);
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

bool CopyAndFindLiteral(const Literal<char16_t>& literal, char16_t* to, const char16_t* from,
                        std::size_t length, std::size_t& hit) {
  hit = kNotFound;
  std::size_t at = 0;
  std::size_t searched = 0;  // every start before this is ruled out
  const auto copy_rest = [&](std::size_t pos) {
    std::memcpy(to + pos, from + pos, sizeof(char16_t) * (length - pos));
  };
#if defined(__SSE2__)
  const WideLiteral<char16_t> wide(literal);
  const __m128i zero = _mm_setzero_si128();
  for (; at + 8 <= length; at += 8) {
    const __m128i chunk = Load(from + at);
    Store(to + at, chunk);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, zero)) != 0) {
      copy_rest(at + 8);
      return false;
    }
    if (hit != kNotFound || at + wide.tail + 8 > length) continue;
    hit = wide.FirstIn(from, 0, at, chunk);
    searched = at + 8;
  }
  if (at < length && length >= 8) {
    // The last units: one more vector that overlaps units already copied.
    const __m128i chunk = Load(from + length - 8);
    Store(to + length - 8, chunk);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, zero)) != 0) return false;
    at = length;
  }
  if (hit == kNotFound && length >= literal.length) {
    const std::size_t stop = length - literal.length + 1;  // past the last possible start
    if (searched < stop && stop >= 8) {
      // The last starts, the same way.
      const std::size_t block = stop - 8;
      hit = wide.FirstIn(to, searched, block, Load(to + block));
      return true;
    }
  }
#endif
  for (; at < length; ++at) {
    to[at] = from[at];
    if (from[at] == 0) {
      copy_rest(at + 1);
      return false;
    }
  }
  if (hit == kNotFound) hit = FindLiteral(literal, to, searched, length, length);
  return true;
}

namespace scalar {

std::size_t SkipAscii(const char* text, std::size_t from, std::size_t size) {
  while (from < size && static_cast<unsigned char>(text[from]) < 0x80) ++from;
  return from;
}

std::size_t CountZeros(const char* text, std::size_t size) { return PlainZeros(text, 0, size); }

std::size_t CountZeros(const char16_t* text, std::size_t size) {
  return PlainZeros(text, 0, size);
}

std::size_t CountBreakUnits(const char* text, std::size_t size, char cr, char lf) {
  return PlainBreakUnits(text, 0, size, cr, lf);
}

std::size_t CountBreakUnits(const char16_t* text, std::size_t size, char16_t cr, char16_t lf) {
  return PlainBreakUnits(text, 0, size, cr, lf);
}

std::size_t CountUtf8Units(const char* text, std::size_t size) {
  return PlainUtf8Units(text, 0, size);
}

std::size_t CountLineBreaks(const char* text, std::size_t from, std::size_t to, char cr,
                            char lf) {
  return PlainLineBreaks(text, from, to, cr, lf, 0);
}

std::size_t CountLineBreaks(const char16_t* text, std::size_t from, std::size_t to,
                            char16_t cr, char16_t lf) {
  return PlainLineBreaks(text, from, to, cr, lf, 0);
}

std::size_t FindLiteral(const Literal<char>& literal, const char* text, std::size_t from,
                        std::size_t stop, std::size_t end) {
  return PlainFindLiteral(literal, text, from, stop, end);
}

std::size_t FindLiteral(const Literal<char16_t>& literal, const char16_t* text,
                        std::size_t from, std::size_t stop, std::size_t end) {
  return PlainFindLiteral(literal, text, from, stop, end);
}

std::size_t FindUnits(const char16_t* text, std::size_t from, std::size_t to,
                      const char16_t* units, int count) {
  for (; from < to; ++from)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
  return to;
}

std::size_t FindRanges(const char16_t* text, std::size_t from, std::size_t to,
                       const char16_t* first, const char16_t* last, int count) {
  for (; from < to; ++from)
    for (int k = 0; k < count; ++k)
      if (text[from] >= first[k] && text[from] <= last[k]) return from;
  return to;
}

std::size_t CopyFindingZero(char16_t* to, const char16_t* from, std::size_t length) {
  std::size_t zero = length;
  for (std::size_t i = 0; i < length; ++i) {
    to[i] = from[i];
    if (from[i] == 0 && zero == length) zero = i;
  }
  return zero;
}

bool CopyAndFindLiteral(const Literal<char16_t>& literal, char16_t* to, const char16_t* from,
                        std::size_t length, std::size_t& hit) {
  hit = kNotFound;
  if (scalar::CopyFindingZero(to, from, length) < length) return false;
  hit = scalar::FindLiteral(literal, to, 0, length, length);
  return true;
}

}  // namespace scalar

}  // namespace tallyfold::simd
