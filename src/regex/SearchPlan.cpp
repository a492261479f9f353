// The search plan: deriving the start scan, the prefix and the required
// literal from a program, and the scans that use them.
//
// This file's external interface is SearchPlan.h, used by the matcher
// (Matcher.cpp) and the search driver (SearchDriver.cpp). Covered by
// tests/regex/SearchPlanTest.cpp, which also checks that the plan never
// changes a result.
#include "regex/SearchPlan.h"

#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "regex/Matcher.h"
#include "regex/Program.h"

namespace tallyfold::regex_internal {
namespace {

constexpr int kMaxUnits = 4;

bool IsZeroWidth(char16_t op) {
  switch (op) {
    case EMPTY: case COMMENT: case WORD_BOUNDARY: case NOT_WORD_BOUNDARY:
    case LINE_START: case LINE_END: case INPUT_START: case INPUT_END:
      return true;
    default:
      return (op >= OPEN_1 && op <= OPEN_14) || (op >= CLOSE_1 && op <= CLOSE_14);
  }
}

bool IsAlternative(const char16_t* prog, int size, int node) {
  return node >= 0 && node + kNodeHeader <= size && prog[node] == ALTERNATIVE;
}

// Calls visit(node) for the nodes that every successful path runs through,
// in program order: the top-level chain, the inside of groups that have a
// single alternative, and nothing inside an alternation of several choices
// or a loop, which are stepped over whole. Stops early at anything it does
// not recognise, or when visit returns false; what it visited until then is
// still on every path.
template <typename Visit>
void WalkMainPath(const char16_t* prog, int size, Visit visit) {
  int node = 1;
  for (int steps = 0; steps < size; ++steps) {
    if (node < 0 || node + kNodeHeader > size) return;
    const char16_t op = prog[node];
    if (op == MATCH_END || op == LINK) return;
    const int next = NextNode(prog, node);
    if (op == ALTERNATIVE) {
      if (!IsAlternative(prog, size, next)) {
        if (!visit(node)) return;
        node += kNodeHeader;  // one choice: its body leads on to what follows
        continue;
      }
      int last = next;
      for (int more = NextNode(prog, last); IsAlternative(prog, size, more);
           more = NextNode(prog, last))
        last = more;
      if (!visit(node)) return;
      node = NextNode(prog, last);
      continue;
    }
    if (!visit(node)) return;
    if (op == LOOP_ENTRY) {
      // The loop's end node follows the entry; the body is the operand.
      if (next < 0 || next + kNodeHeader > size ||
          (prog[next] != LOOP && prog[next] != LOOP_LAZY))
        return;
      node = NextNode(prog, next);
      continue;
    }
    node = next;
  }
}

char16_t OtherCase(const MatchScratch& s, char16_t ch) {
  if (ch < 128) return s.invert[ch];
  return s.inverter ? s.inverter(s.inverter_context, ch) : ch;
}

LiteralNeedle NeedleOf(const char16_t* prog, int node, const MatchScratch& s) {
  LiteralNeedle needle;
  needle.units = prog + node + kNodeHeader;
  needle.others = needle.units;
  if (prog[node] == LITERAL_CI)
    for (char16_t& ch : needle.others) ch = OtherCase(s, ch);
  return needle;
}

// Whether a literal node's text lies inside the program (it ends in a 0).
bool LiteralFits(const char16_t* prog, int size, int node) {
  const int text = node + kNodeHeader;
  return text < size && std::char_traits<char16_t>::find(prog + text, size - text, 0) != nullptr;
}

void ChooseStartScan(const MatchScratch& s, StartScan& scan) {
  if (s.start_bits.empty()) {
    scan.kind = StartScan::kAnyPosition;
    return;
  }
  const uint64_t* bits = s.start_bits.data();
  const std::size_t words = s.start_bits.size();
  int members = 0;
  bool ascii_only = true;
  for (std::size_t w = 0; w < words; ++w) {
    members += std::popcount(bits[w]);
    if (w >= 2 && bits[w] != 0) ascii_only = false;
  }
  scan.at_input_start = s.start_at_input_start;
  scan.at_input_end = s.start_at_input_end;
  scan.bits = bits;
  if (members <= kMaxUnits) {
    scan.kind = StartScan::kUnits;
    scan.count = 0;
    for (std::size_t w = 0; w < words; ++w)
      for (uint64_t word = bits[w]; word != 0; word &= word - 1)
        scan.first[scan.count++] =
            static_cast<char16_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
    return;
  }
  if (ascii_only) {
    int runs = 0;
    for (int ch = 0; ch < 128 && runs <= kMaxUnits; ++ch) {
      const auto in = [bits](int c) { return c < 128 && ((bits[c >> 6] >> (c & 63)) & 1); };
      if (!in(ch) || (ch > 0 && in(ch - 1))) continue;
      int end = ch;
      while (in(end + 1)) ++end;
      if (runs < kMaxUnits) {
        scan.first[runs] = static_cast<char16_t>(ch);
        scan.last[runs] = static_cast<char16_t>(end);
      }
      ++runs;
    }
    if (runs <= kMaxUnits) {
      scan.kind = StartScan::kRanges;
      scan.count = runs;
      return;
    }
  }
  scan.kind = StartScan::kBitmap;
}

}  // namespace

int FindAnyUnit(const char16_t* text, int from, int to, const char16_t* units, int count) {
  // Dense candidates are common (each attempt resumes one unit further on):
  // look at the first unit before setting up the wide compare.
  if (from < to)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
#ifdef __SSE2__
  __m128i needles[kMaxUnits];
  for (int k = 0; k < count; ++k) needles[k] = _mm_set1_epi16(static_cast<short>(units[k]));
  for (; from + 8 <= to; from += 8) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
    __m128i hit = _mm_cmpeq_epi16(chunk, needles[0]);
    for (int k = 1; k < count; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(chunk, needles[k]));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return from + (std::countr_zero(static_cast<unsigned>(mask)) >> 1);
  }
#endif
  for (; from < to; ++from)
    for (int k = 0; k < count; ++k)
      if (text[from] == units[k]) return from;
  return to;
}

bool LiteralNeedle::At(const char16_t* text, int pos, int end) const {
  const int length = static_cast<int>(units.size());
  if (pos < 0 || length > end - pos) return false;
  for (int k = 0; k < length; ++k)
    if (text[pos + k] != units[k] && text[pos + k] != others[k]) return false;
  return true;
}

int LiteralNeedle::Find(const char16_t* text, int from, int end) const {
  const int last = end - static_cast<int>(units.size());  // last possible start
  const char16_t lead[2] = {units[0], others[0]};
  const int leads = lead[0] == lead[1] ? 1 : 2;
  for (int at = from; at <= last; ++at) {
    at = FindAnyUnit(text, at, last + 1, lead, leads);
    if (at > last) break;
    if (At(text, at, end)) return at;
  }
  return -1;
}

int StartScan::NextUnit(const char16_t* text, int from, int end) const {
  if (kind == kAnyPosition) return from;
  // Dense candidates are common (each attempt resumes one unit further
  // on): one lookup in the set before setting up a wide compare.
  if (from < end && ((bits[text[from] >> 6] >> (text[from] & 63)) & 1)) return from;
  switch (kind) {
    case kAnyPosition:
      return from;
    case kUnits:
      return count == 0 ? end : FindAnyUnit(text, from, end, first, count);
    case kRanges: {
#ifdef __SSE2__
      __m128i low[kMaxUnits], span[kMaxUnits];
      for (int k = 0; k < count; ++k) {
        low[k] = _mm_set1_epi16(static_cast<short>(first[k]));
        span[k] = _mm_set1_epi16(static_cast<short>(last[k] - first[k]));
      }
      const __m128i zero = _mm_setzero_si128();
      for (; from + 8 <= end; from += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
        __m128i hit = zero;
        for (int k = 0; k < count; ++k) {
          // unit - first <= last - first, unsigned: the saturating
          // difference to the span is 0 exactly then.
          const __m128i offset = _mm_sub_epi16(chunk, low[k]);
          hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_subs_epu16(offset, span[k]), zero));
        }
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return from + (std::countr_zero(static_cast<unsigned>(mask)) >> 1);
      }
#endif
      for (; from < end; ++from)
        for (int k = 0; k < count; ++k)
          if (text[from] >= first[k] && text[from] <= last[k]) return from;
      return end;
    }
    case kBitmap:
      for (; from < end; ++from)
        if ((bits[text[from] >> 6] >> (text[from] & 63)) & 1) return from;
      return end;
  }
  return from;
}

void BuildSearchPlan(const char16_t* prog, int size, MatchScratch& s) {
  SearchPlan& plan = s.plan;
  plan = SearchPlan();

  // The prefix: the first node that consumes anything, when it is a
  // literal and only zero-width tests and single choices come before it.
  WalkMainPath(prog, size, [&](int node) {
    const char16_t op = prog[node];
    if (op == ALTERNATIVE) return !IsAlternative(prog, size, NextNode(prog, node));
    if (IsZeroWidth(op)) return true;
    if ((op == LITERAL || op == LITERAL_CI) && LiteralFits(prog, size, node))
      plan.prefix = NeedleOf(prog, node, s);
    return false;
  });

  // The required literal: the longest literal on every path; the first of
  // equal ones, which the search meets soonest.
  WalkMainPath(prog, size, [&](int node) {
    const char16_t op = prog[node];
    if ((op == LITERAL || op == LITERAL_CI) && LiteralFits(prog, size, node)) {
      const std::size_t length = std::char_traits<char16_t>::length(prog + node + kNodeHeader);
      if (length > plan.required.units.size()) plan.required = NeedleOf(prog, node, s);
    }
    return true;
  });
  // A prefix is checked at every candidate anyway.
  if (plan.required.units == plan.prefix.units && plan.required.others == plan.prefix.others)
    plan.required.clear();

  if (!plan.prefix.empty()) {
    StartScan& scan = plan.start;
    scan.kind = StartScan::kUnits;
    scan.first[0] = plan.prefix.units[0];
    scan.first[1] = plan.prefix.others[0];
    scan.count = scan.first[0] == scan.first[1] ? 1 : 2;
    return;
  }
  ChooseStartScan(s, plan.start);
}

}  // namespace tallyfold::regex_internal
