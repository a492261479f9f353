// The search plan: deriving the start scan, the prefix and the required
// literal from a program, and the searches that use them.
//
// This file's external interface is SearchPlan.h, used by the search driver
// (SearchDriver.cpp). Covered by
// tests/regex/SearchPlanTest.cpp, which also checks that the plan never
// changes a result.
#include "regex/SearchPlan.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "platform/Simd.h"
#include "regex/Program.h"

namespace tallyfold::regex_internal {
namespace {

constexpr int kMaxUnits = 4;
// The most literals a literal set holds, and the most nodes the walk that
// finds them visits.
constexpr int kMaxSetLiterals = 1 << 16;
constexpr int kMaxSetWalk = 1 << 18;
// Larger sets of required units are too common to reject many inputs.
constexpr int kMaxRequiredUnits = 32;

bool IsZeroWidth(char16_t op) {
  switch (op) {
    case EMPTY: case COMMENT: case WORD_BOUNDARY: case NOT_WORD_BOUNDARY:
    case LINE_START: case LINE_END: case INPUT_START: case INPUT_END:
      return true;
    default:
      return IsOpen(op) || IsClose(op);
  }
}

bool IsAlternative(const char16_t* prog, int size, int node) {
  return NodeFits(size, node) && prog[node] == ALTERNATIVE;
}

// Calls visit(node) for the nodes that every successful path runs through,
// in program order: the top-level chain, the inside of groups that have a
// single alternative, and nothing inside an alternation of several choices
// or a loop, which are stepped over whole. Stops early at anything it does
// not recognise, or when visit returns false; what it visited until then is
// still on every path.
template <typename Visit>
void WalkMainPath(const char16_t* prog, int size, Visit visit) {
  int node = kFirstNode;
  for (int steps = 0; steps < size; ++steps) {
    if (!NodeFits(size, node)) return;
    const char16_t op = prog[node];
    if (op == MATCH_END || op == LINK) return;
    const int next = NextNode(prog, node);
    if (op == ALTERNATIVE) {
      if (!IsAlternative(prog, size, next)) {
        if (!visit(node)) return;
        node = AlternativeBody(node);  // one choice: its body leads on to what follows
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
      if (!NodeFits(size, next) || !IsLoopEnd(prog[next]))
        return;
      node = NextNode(prog, next);
      continue;
    }
    node = next;
  }
}

LiteralNeedle NeedleOf(const char16_t* prog, int node, const PreparedProgram& s) {
  LiteralNeedle needle;
  needle.units.assign(NodeText(prog, node), static_cast<std::size_t>(TextLength(prog, node)));
  needle.others = needle.units;
  if (prog[node] == LITERAL_CI)
    for (char16_t& ch : needle.others) ch = s.Invert(ch);
  return needle;
}

// Whether a literal node's text lies inside the program, with a character.
bool LiteralFits(const char16_t* prog, int size, int node) {
  return TextFits(prog, size, node) && TextLength(prog, node) > 0;
}

// Describes the ASCII set `bits` as up to four ranges in `scan`; false
// when it takes more.
bool AsciiRanges(const uint64_t* bits, StartScan& scan) {
  const auto in = [bits](int c) { return c < 128 && ((bits[c >> 6] >> (c & 63)) & 1); };
  int runs = 0;
  for (int ch = 0; ch < 128; ++ch) {
    if (!in(ch) || (ch > 0 && in(ch - 1))) continue;
    if (runs == kMaxUnits) return false;
    int end = ch;
    while (in(end + 1)) ++end;
    scan.first[runs] = static_cast<char16_t>(ch);
    scan.last[runs] = static_cast<char16_t>(end);
    ++runs;
  }
  scan.kind = StartScan::kRanges;
  scan.count = runs;
  return true;
}

void ChooseStartScan(const PreparedProgram& s, StartScan& scan) {
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
  if (ascii_only && AsciiRanges(bits, scan)) return;
  scan.kind = StartScan::kBitmap;
}

// The literals that begin every match, when the program begins (past
// zero-width tests, group openings and single choices) with a literal on
// every path, alternations branching into each of their alternatives;
// false when some path begins otherwise.
bool LeadingLiterals(const char16_t* prog, int size, const PreparedProgram& s,
                     std::vector<LiteralNeedle>& out) {
  out.clear();
  int budget = kMaxSetWalk;
  std::vector<int> work{kFirstNode};
  while (!work.empty()) {
    int node = work.back();
    work.pop_back();
    for (;;) {
      if (--budget < 0 || !NodeFits(size, node)) return false;
      const char16_t op = prog[node];
      if (op == ALTERNATIVE) {
        // Pushed last first, so the literals come out in the order of
        // the alternatives (which does not matter to what is found).
        std::vector<int> alternatives;
        for (int alt = node; alt >= 0; alt = NextAlternative(prog, size, alt))
          alternatives.push_back(AlternativeBody(alt));
        work.insert(work.end(), alternatives.rbegin(), alternatives.rend());
        break;
      }
      if (IsZeroWidth(op)) {
        node = NextNode(prog, node);
        continue;
      }
      if ((op != LITERAL && op != LITERAL_CI) || !LiteralFits(prog, size, node) ||
          static_cast<int>(out.size()) >= kMaxSetLiterals)
        return false;
      out.push_back(NeedleOf(prog, node, s));
      break;
    }
  }
  return !out.empty();
}

bool Has(const std::vector<uint64_t>& bits, uint32_t bit) { return (bits[bit >> 6] >> (bit & 63)) & 1; }
void Put(std::vector<uint64_t>& bits, uint32_t bit) { bits[bit >> 6] |= uint64_t{1} << (bit & 63); }

}  // namespace

void LiteralSet::Assign(const std::vector<LiteralNeedle>& literals) {
  units.clear();
  others.clear();
  at.assign(1, 0);
  single.assign(1024, 0);
  has_single = false;
  constexpr uint32_t kBuckets = (1u << 16) >> kBucketShift;
  std::vector<std::vector<int32_t>> by_pair(kBuckets), by_triple(kBuckets);
  HashIndex* const indexes[2] = {&pairs, &triples};
  for (HashIndex* index : indexes) index->bits.assign(1024, 0);
  for (const LiteralNeedle& literal : literals) {
    const int32_t n = static_cast<int32_t>(at.size()) - 1;
    units += literal.units;
    others += literal.others;
    at.push_back(static_cast<int32_t>(units.size()));
    const auto unit = [&](std::size_t k, int form) {
      return form == 0 ? literal.units[k] : literal.others[k];
    };
    const auto add = [n](HashIndex& index, std::vector<std::vector<int32_t>>& buckets,
                         uint32_t hash) {
      Put(index.bits, hash);
      std::vector<int32_t>& list = buckets[hash >> kBucketShift];
      if (list.empty() || list.back() != n) list.push_back(n);
    };
    // Every mix of the units' two forms, as the matcher may meet them.
    const std::size_t length = literal.units.size();
    for (int f0 = 0; f0 < 2; ++f0) {
      if (length == 1) {
        Put(single, unit(0, f0));
        has_single = true;
        continue;
      }
      for (int f1 = 0; f1 < 2; ++f1) {
        if (length == 2) {
          add(pairs, by_pair, Hash(unit(0, f0), unit(1, f1)));
          continue;
        }
        for (int f2 = 0; f2 < 2; ++f2)
          add(triples, by_triple, Hash(unit(0, f0), unit(1, f1), unit(2, f2)));
      }
    }
  }
  const auto flatten = [](HashIndex& index, const std::vector<std::vector<int32_t>>& buckets) {
    index.bucket_at.assign(1, 0);
    index.bucket.clear();
    for (const std::vector<int32_t>& list : buckets) {
      index.bucket.insert(index.bucket.end(), list.begin(), list.end());
      index.bucket_at.push_back(static_cast<int32_t>(index.bucket.size()));
    }
  };
  flatten(pairs, by_pair);
  flatten(triples, by_triple);
}

int LiteralSet::Next(const char16_t* text, int from, int end) const {
  // Each position's units are hashed and looked up, whatever they are: a
  // well-predicted branch or two per unit.
  const bool any_triple = !triples.empty();
  const bool any_pair = !pairs.empty();
  for (int pos = from; pos < end; ++pos) {
    const char16_t a = text[pos];
    if (has_single && Has(single, a)) return pos;
    if (pos + 1 >= end) break;
    const char16_t b = text[pos + 1];
    if (any_pair) {
      const uint32_t hash = Hash(a, b);
      if (pairs.Has(hash) && Occurs(pairs, hash, text, pos, end)) return pos;
    }
    if (any_triple && pos + 2 < end) {
      const uint32_t hash = Hash(a, b, text[pos + 2]);
      if (triples.Has(hash) && Occurs(triples, hash, text, pos, end)) return pos;
    }
  }
  return -1;
}

bool LiteralSet::Occurs(const HashIndex& index, uint32_t hash, const char16_t* text, int pos,
                        int end) const {
  const uint32_t b = hash >> kBucketShift;
  for (int32_t k = index.bucket_at[b]; k < index.bucket_at[b + 1]; ++k) {
    const int32_t n = index.bucket[k];
    const int32_t length = at[n + 1] - at[n];
    if (length > end - pos) continue;
    const simd::Literal<char16_t> literal{units.data() + at[n], others.data() + at[n],
                                          static_cast<std::size_t>(length)};
    if (simd::LiteralAt(literal, text + pos)) return true;
  }
  return false;
}

int LiteralNeedle::Find(const char16_t* text, int from, int end) const {
  const std::size_t at = simd::FindLiteral(View(), text, static_cast<std::size_t>(from),
                                           static_cast<std::size_t>(end),
                                           static_cast<std::size_t>(end));
  return at == simd::kNotFound ? -1 : static_cast<int>(at);
}

bool LiteralNeedle::CopyAndFind(char16_t* to, const char16_t* from, int length, int& hit) const {
  std::size_t at = simd::kNotFound;
  const bool whole =
      simd::CopyAndFindLiteral(View(), to, from, static_cast<std::size_t>(length), at);
  hit = whole && at != simd::kNotFound ? static_cast<int>(at) : -1;
  return whole;
}

int StartScan::NextUnit(const char16_t* text, int from, int end) const {
  if (kind == kAnyPosition) return from;
  // Dense candidates are common (each attempt resumes one unit further
  // on): one lookup in the set before setting up a wide compare.
  if (bits != nullptr && from < end && ((bits[text[from] >> 6] >> (text[from] & 63)) & 1))
    return from;
  switch (kind) {
    case kAnyPosition:
      return from;
    case kUnits:
      return count == 0 ? end
                        : static_cast<int>(simd::FindUnits(text, static_cast<std::size_t>(from),
                                                           static_cast<std::size_t>(end), first,
                                                           count));
    case kRanges:
      return static_cast<int>(simd::FindRanges(text, static_cast<std::size_t>(from),
                                               static_cast<std::size_t>(end), first, last,
                                               count));
    case kBitmap:
      for (; from < end; ++from)
        if ((bits[text[from] >> 6] >> (text[from] & 63)) & 1) return from;
      return end;
  }
  return from;
}

void BuildSearchPlan(const char16_t* prog, int size, const PreparedProgram& s,
                     SearchPlan& plan) {
  plan = SearchPlan();
  // An attempt at a position the plan would pass over may raise rather
  // than fail (PreparedProgram::may_raise): every position is tried.
  if (s.may_raise) return;

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
      const auto length = static_cast<std::size_t>(TextLength(prog, node));
      if (length > plan.required.units.size()) plan.required = NeedleOf(prog, node, s);
    }
    return true;
  });
  // A prefix is checked at every candidate anyway.
  if (plan.required.units == plan.prefix.units && plan.required.others == plan.prefix.others)
    plan.required.clear();

  // The required units: the smallest set of ASCII units, in at most four
  // ranges, of which every match holds one (a digit for \d+, say).
  int best = kMaxRequiredUnits + 1;
  WalkMainPath(prog, size, [&](int node) {
    const int operand = MandatoryFirstNode(prog, size, node);
    if (operand < 0) return true;
    if (!NodeFits(size, operand)) return true;
    uint64_t members[2] = {0, 0};
    if (prog[operand] == DIGIT) {
      for (char16_t ch = u'0'; ch <= u'9'; ++ch) members[0] |= uint64_t{1} << ch;
    } else if (prog[operand] == IN_SET) {
      if (!TextFits(prog, size, operand)) return true;
      const char16_t* m = NodeText(prog, operand);
      for (const char16_t* end = m + TextLength(prog, operand); m != end; ++m) {
        if (*m >= 128) return true;
        members[*m >> 6] |= uint64_t{1} << (*m & 63);
      }
    } else {
      return true;
    }
    const int count = std::popcount(members[0]) + std::popcount(members[1]);
    if (count == 0 || count >= best) return true;
    StartScan ranges;
    if (!AsciiRanges(members, ranges)) return true;
    plan.required_units = ranges;
    best = count;
    return true;
  });

  if (!plan.prefix.empty()) {
    StartScan& scan = plan.start;
    scan.kind = StartScan::kUnits;
    scan.first[0] = plan.prefix.units[0];
    scan.first[1] = plan.prefix.others[0];
    scan.count = scan.first[0] == scan.first[1] ? 1 : 2;
    return;
  }
  ChooseStartScan(s, plan.start);

  // Many literals, or a start scan that passes every unit (the start
  // analysis gives up on long alternations): the literal set finds the
  // places where one of them begins instead of trying every unit that may
  // begin one.
  std::vector<LiteralNeedle> literals;
  if (LeadingLiterals(prog, size, s, literals) &&
      (literals.size() > static_cast<std::size_t>(kMaxUnits) ||
       plan.start.kind == StartScan::kAnyPosition || plan.start.kind == StartScan::kBitmap))
    plan.literals.Assign(literals);
}

}  // namespace tallyfold::regex_internal
