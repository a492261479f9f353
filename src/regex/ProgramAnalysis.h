// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// What the engine derives from a program once, before any search: the
// character tables of its set nodes and of the engine's sets, the units at
// which each alternative and the whole program may start, whether an
// attempt may raise an error, and the rules by which a failed attempt lets
// the search pass over the next positions. PrepareProgram fills a
// PreparedProgram from the program, the engine's sets and its case
// inverter; nothing changes it after, and both the matcher (Matcher.h) and
// the search plan (SearchPlan.h) read it.
//
// The character tests the matcher runs on every step are here too, inline,
// since they read these tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "regex/Automaton.h"
#include "regex/Program.h"
#include "regex/RegexEngine.h"

namespace tallyfold::regex_internal {

inline bool Bit(const uint64_t* bits, char16_t ch) { return (bits[ch >> 6] >> (ch & 63)) & 1; }
inline void SetBit(uint64_t* bits, char16_t ch) { bits[ch >> 6] |= uint64_t{1} << (ch & 63); }
inline bool ListHas(const char16_t* list, int32_t length, char16_t ch) {
  for (const char16_t* end = list + length; list != end; ++list)
    if (*list == ch) return true;
  return false;
}

// Membership test of a set string (`\w`, `\s`, the line separators): a bitmap
// for the ASCII range and a list of the rest, which is empty by default. A
// 0 unit in the string is no member (the default separator set ends in
// one), so U+0000 in the input, a character like any other, is never a
// word, space or separator character.
struct CharTable {
  uint64_t ascii[2] = {0, 0};
  std::u16string wide;  // members from U+0080 up

  void Assign(const std::u16string& members);
  bool Contains(char16_t ch) const {
    if (ch < 128) return (ascii[ch >> 6] >> (ch & 63)) & 1;
    return !wide.empty() && wide.find(ch) != std::u16string::npos;
  }
};

// What is precomputed for one set node (`IN_SET` and its forms).
struct SetInfo {
  uint64_t ascii[2] = {0, 0};  // ASCII characters the node finds
  uint64_t plain[2] = {0, 0};  // ASCII members as listed (no other case)
  int members = 0;             // program index of the member list
  int32_t count = 0;           // members in the list
  bool has_wide = false;       // the list holds a member from U+0080 up
  // The members from U+0080 up as sorted, disjoint inclusive ranges:
  // PreparedProgram::wide_ranges[2 * k], [2 * k + 1] for k in
  // [wide_first, wide_first + wide_count). A bracket range such as
  // [一-龥] lists every one of its 20,902 members, which a walk over the
  // list would test one by one on every unit.
  int32_t wide_first = 0;
  int32_t wide_count = 0;
};

// What is precomputed for one alternative: the ASCII units at which it may
// start, and whether it may start at the input end.
struct AlternativeInfo {
  uint64_t ascii[2] = {0, 0};
  bool at_end = false;
};

// The alternatives of one long alternation by the unit they may start
// with, in program order: for an ASCII unit u (0 for the input end) those
// whose AlternativeInfo has u, alts[begin[u], begin[u + 1]); then those
// that may start with a unit from U+0080 up, alts[begin[128], begin[129]).
// The matcher looks only at these instead of at every alternative.
struct AlternationIndex {
  int32_t begin[130] = {};
  std::vector<int32_t> alts;
};

// Alternations with at least this many alternatives are indexed.
constexpr int kIndexedAlternatives = 16;

// How a failed attempt at position p lets the search pass over the next
// positions, per top-level alternative (used by the search driver).
struct SkipRule {
  enum Kind : uint8_t {
    // The alternative begins with a repeat of one single-unit node (the
    // operand) and nothing before it sets a register: an attempt inside
    // the run that p began would try the rest of the alternative only at
    // places the attempt at p already tried, with the same registers.
    kRun,
    // The alternative begins with \b and then must consume a word unit:
    // it cannot start right after a word unit.
    kAfterWordUnit,
  };
  Kind kind;
  int operand;    // kRun: the repeated node
  int32_t max;    // kRun: the repeat's maximum
};

// A counted loop (LOOP_ENTRY .. LOOP) around nodes of a program, as the
// linear path numbers its states: the loop's counter tells states apart up
// to `top` (its maximum, or its minimum when the maximum is open, since
// every count from the minimum on then acts alike), so `top` + 1 values.
struct CountedLoopInfo {
  int32_t top;     // highest counter value that differs from those above it
  int32_t depth;   // the loop's depth: its counter is the matcher's loop d
  int32_t parent;  // index of the loop around it, -1 for none
};

// Why a path does not take a program, one bit each; PathChoice gives them
// per path, and the tests read them.
enum PathReason : uint32_t {
  kReasonSwitchedOff = 1u << 0,     // the engine's options turn the path off
  kReasonBackReference = 1u << 1,   // a back-reference: what must backtrack
  kReasonEmptyLiteral = 1u << 2,    // a literal without units
  kReasonMayRaise = 1u << 3,        // loops nested so deep that 1014 may come
  kReasonTooManyStates = 1u << 4,   // more states than the path holds
  kReasonPairedSeparator = 1u << 5, // line rules with a pair that is not two separators
  kReasonNoChoice = 1u << 6,        // no alternation or repeat: attempts are as fast
  kReasonNoRepeatedGroup = 1u << 7, // the plain backtracker runs it faster
  kReasonAnchored = 1u << 8,        // one position is tried
  kReasonUnreadable = 1u << 9,      // a node the analysis cannot place
};

// The states of the linear path (Matcher.h). A state is a node, the
// counters of the counted loops around it (as CountedLoopInfo reads them)
// and an input position; within one program every position has the same
// `per_position` states, node n's being state_base[n] and those after it.
struct StateNumbering {
  int32_t per_position = 0;  // 0: the program runs on the backtracker only
  // Whether the program repeats a group (a LINK or a LOOP_ENTRY), the only
  // kind the plain backtracker can take exponential time on.
  bool repeats_group = false;
  std::vector<int32_t> state_base;  // per program unit; -1 for non-nodes
  std::vector<int32_t> loop_of;     // per unit: innermost loop around it, or -1
  std::vector<CountedLoopInfo> loops;
  uint32_t refused = 0;  // PathReasons when per_position is 0
};

// What the analysis reads besides the program: the engine's sets and its
// case inverter.
struct CharacterSets {
  const std::u16string& word;
  const std::u16string& space;
  const std::u16string& separators;
  TRegexEngine::CaseInverterFunc inverter;  // nullptr: every unit is its own other case
  void* inverter_context;
  // The paired line separator's units as the matcher reads them (0: none).
  char16_t pair_head = 0;
  char16_t pair_tail = 0;
};

// The analysis of one program under one set of CharacterSets.
struct PreparedProgram {
  TRegexEngine::CaseInverterFunc inverter = nullptr;
  void* inverter_context = nullptr;
  char16_t invert[128] = {};  // the case inverter's result for ASCII
  CharTable word, space, separators;

  // Per program unit: for a set node an index into sets, for an
  // alternative one into alternatives; -1 when there is none.
  std::vector<int32_t> set_index;
  std::vector<SetInfo> sets;
  std::vector<char16_t> wide_ranges;  // the sets' wide members (SetInfo)
  std::vector<AlternativeInfo> alternatives;
  // Per program unit, for an alternative of an indexed alternation: its
  // index into alternations, else -1; empty when there is none.
  std::vector<int32_t> alternation_of;
  std::vector<AlternationIndex> alternations;
  bool has_loops = true;  // the program may hold LOOP_ENTRY nodes
  int literal_units = 0;  // units of the literals the walk over the sets read
  // The program holds a literal without units (the compiler makes none;
  // a program built by hand may), which matches without consuming
  // anything, so a loop over it can come back to its LINK at the same
  // position; the matcher then guards its links from the start of every
  // attempt, as it does after an empty back-reference.
  bool has_empty_literal = true;
  // An attempt may raise an error before it fails or matches: the program
  // holds a complex loop inside kLoopStackSize others, whose entry raises
  // 1014, or a unit the walk over the set nodes cannot place. Compiled
  // programs raise nothing else (1000, 1001, 1002 and 1015 guard against
  // malformed programs); cancellation and running out of memory are not
  // results. Filters pass over attempts that would fail, and cannot tell
  // those from attempts that would raise, so such a program gets an empty
  // search plan and no skip rules: every position is tried in turn and the
  // error comes at the same place as in the unfiltered search.
  bool may_raise = false;

  // Characters at which a match can start, one bit per code unit; empty
  // when any character can. A path that begins with \A or \Z adds no
  // character but may match at the input start or end.
  std::vector<uint64_t> start_bits;
  bool start_at_input_start = false;
  bool start_at_input_end = false;

  // Empty when some top-level alternative allows no skipping, or the
  // program may raise.
  std::vector<SkipRule> skip_rules;

  // Whether the program runs on the linear path, and its states there. It
  // may when it has no back-reference, no empty literal, cannot raise,
  // and its loops' counters give at most kMaxStatesPerPosition states per
  // position: then whether an attempt can still succeed from a point
  // depends on the state alone, not on the captures so far. It does when
  // it also repeats a group (StateNumbering::Linear).
  StateNumbering states;

  // The program's NFA for the automaton path (Automaton.h); not usable
  // when the automaton cannot give exactly the backtracker's matches.
  AutomatonNfa automaton;

  // --- Character tests ------------------------------------------------------
  char16_t Invert(char16_t ch) const {
    if (ch < 128) return invert[ch];
    return inverter ? inverter(inverter_context, ch) : ch;
  }
  // Whether `ch` from U+0080 up is among the wide members of `info`.
  bool WideHas(const SetInfo& info, char16_t ch) const {
    const char16_t* lo = wide_ranges.data() + 2 * static_cast<std::size_t>(info.wide_first);
    int32_t count = info.wide_count;
    // The last range whose start is at most `ch`.
    while (count > 0) {
      const int32_t half = count / 2;
      if (lo[2 * half] <= ch) {
        lo += 2 * (half + 1);
        count -= half + 1;
      } else {
        count = half;
      }
    }
    return lo != wide_ranges.data() + 2 * static_cast<std::size_t>(info.wide_first) &&
           ch <= lo[-1];
  }
  // Whether `ch` is a member of `info`'s list itself.
  bool Member(const SetInfo& info, char16_t ch) const {
    if (ch < 128) return Bit(info.plain, ch);
    return info.has_wide && WideHas(info, ch);
  }
  bool InSet(const char16_t* prog, int node, char16_t ch) const {
    const int index = set_index[node];
    if (index < 0) return ListHas(NodeText(prog, node), TextLength(prog, node), ch);
    const SetInfo& info = sets[index];
    if (ch < 128) return Bit(info.ascii, ch);
    return info.has_wide && WideHas(info, ch);
  }
  bool InSetCi(const char16_t* prog, int node, char16_t ch) const {
    const int index = set_index[node];
    if (index >= 0) {
      const SetInfo& info = sets[index];
      if (ch < 128) return Bit(info.ascii, ch);
      return Member(info, ch) || Member(info, Invert(ch));
    }
    const char16_t other = Invert(ch);
    const char16_t* m = NodeText(prog, node);
    for (const char16_t* end = m + TextLength(prog, node); m != end; ++m)
      if (*m == ch || *m == other) return true;
    return false;
  }
  // Whether the single-character node at `node` finds the unit `ch` (any
  // unit of the input, U+0000 included; the input end is no unit).
  bool TestOne(const char16_t* prog, int node, char16_t ch) const {
    switch (prog[node]) {
      case ANY_CHAR:
        return true;
      case LITERAL:
        return ch == LiteralFirst(prog, node);
      case LITERAL_CI: {
        const char16_t p = LiteralFirst(prog, node);
        return ch == p || ch == Invert(p);
      }
      case IN_SET:
        return InSet(prog, node, ch);
      case NOT_IN_SET:
        return !InSet(prog, node, ch);
      case IN_SET_CI:
        return InSetCi(prog, node, ch);
      case NOT_IN_SET_CI:
        return !InSetCi(prog, node, ch);
      case DIGIT:
        return ch >= u'0' && ch <= u'9';
      case NOT_DIGIT:
        return ch < u'0' || ch > u'9';
      case WORD_CHAR:
        return word.Contains(ch);
      case NOT_WORD_CHAR:
        return !word.Contains(ch);
      case SPACE_CHAR:
        return space.Contains(ch);
      case NOT_SPACE_CHAR:
        return !space.Contains(ch);
      default:
        return false;
    }
  }
};

// The most states per input position the linear path takes on; a program
// whose counted loops multiply to more runs on the backtracker. Up to
// kDenseStatesPerPosition the linear path records the states it enters in
// a bitmap per position, above that in a hash set (VisitedStates).
constexpr int32_t kMaxStatesPerPosition = int32_t{1} << 24;
constexpr int32_t kDenseStatesPerPosition = 4096;

// Analyses `program` under `sets` into `out`. On an exception (allocation,
// a throwing case inverter) `out` is left half made and must not be used.
void PrepareProgram(const std::vector<char16_t>& program, const CharacterSets& sets,
                    PreparedProgram& out);

// Which paths a search of a program takes: the automaton first when
// `automaton` (its cache may still give up, and the attempts then run),
// and the attempts on the linear path when `linear`, else on the plain
// backtracker. The reasons say why a path was not taken.
struct PathChoice {
  bool automaton = false;
  bool linear = false;
  uint32_t automaton_reasons = 0;  // PathReasons
  uint32_t linear_reasons = 0;
};

// The one place that decides a program's paths, from its analysis and the
// engine's options; `anchored` for a program whose matches start at the
// input start only.
PathChoice ChoosePath(const PreparedProgram& prepared, const TRegexOptions& options,
                      bool anchored);

// --- Reading the program's structure ------------------------------------------

// Nodes a single-node repeat may count: one character, or a back-reference.
inline bool IsCountable(char16_t op) {
  switch (op) {
    case ANY_CHAR: case LITERAL: case LITERAL_CI: case IN_SET: case NOT_IN_SET:
    case IN_SET_CI: case NOT_IN_SET_CI: case DIGIT: case NOT_DIGIT:
    case WORD_CHAR: case NOT_WORD_CHAR: case SPACE_CHAR: case NOT_SPACE_CHAR:
    case BACKREF: case BACKREF_CI:
      return true;
    default:
      return false;
  }
}

// The alternative after `alternative` in its alternation, or -1.
inline int NextAlternative(const char16_t* prog, int size, int alternative) {
  if (alternative < 0) return -1;
  const int next = NextNode(prog, alternative);
  return NodeFits(size, next) && prog[next] == ALTERNATIVE ? next : -1;
}

// False only when the alternative must fail at the unit `ch`, or at the
// input end when `at_end` (then `ch` is not looked at), at its first
// character test, before it changes anything. Looks through a few
// zero-width nodes.
bool MayStartWith(const PreparedProgram& prepared, const char16_t* prog, int size,
                  int alternative, char16_t ch, bool at_end);

// The bounds, operand and continuation of a single-node repetition.
struct Repeat {
  int32_t min;
  int32_t max;
  int operand;     // the repeated node
  int next;        // what follows the repetition, or -1
  char16_t ahead;  // first character of a literal continuation
  char16_t ahead_other;  // its other case under i, else `ahead` again
  int ahead_node;        // that literal's node; -1: no literal continuation
  bool lazy;

  // Whether the continuation may start with `ch`.
  bool Allows(char16_t ch) const { return ahead_node < 0 || Fits(ch); }
  bool HasAhead() const { return ahead_node >= 0; }
  // The same when there is a literal continuation.
  bool Fits(char16_t ch) const { return ch == ahead || ch == ahead_other; }
};

// The shape of the repeat at `node`; `ahead_other` is left equal to `ahead`
// (the matcher fills in the other case under i).
inline Repeat ShapeOf(const char16_t* prog, int prog_size, int node) {
  Repeat r{0, kRepeatMax, OperandStart(node), NextNode(prog, node), 0, 0, -1, false};
  switch (prog[node]) {
    case REPEAT_PLUS_LAZY:
      r.lazy = true;
      [[fallthrough]];
    case REPEAT_PLUS:
      r.min = 1;
      break;
    case REPEAT_STAR_LAZY:
      r.lazy = true;
      break;
    case REPEAT_BRACES_LAZY:
      r.lazy = true;
      [[fallthrough]];
    case REPEAT_BRACES:
      r.min = BracesMin(prog, node);
      r.max = BracesMax(prog, node);
      r.operand = BracesOperand(node);
      break;
    default:
      break;
  }
  // Group ends and starts in between consume nothing and always succeed.
  int after = r.next;
  for (int steps = 0; steps < TRegexEngine::kGroupSlots && after >= 0 &&
                      OperandStart(after) < prog_size &&
                      (IsOpen(prog[after]) || IsClose(prog[after]));
       ++steps)
    after = NextNode(prog, after);
  if (after >= 0 && OperandStart(after) < prog_size &&
      (prog[after] == LITERAL || prog[after] == LITERAL_CI) && TextFits(prog, prog_size, after) &&
      TextLength(prog, after) > 0) {
    r.ahead = r.ahead_other = LiteralFirst(prog, after);
    r.ahead_node = after;
  }
  return r;
}

}  // namespace tallyfold::regex_internal
