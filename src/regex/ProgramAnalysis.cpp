// Program analysis: the tables and answers derived once from a program,
// the engine's sets and its case inverter, before any search.
//
// This file's external interface is PrepareProgram and MayStartWith
// (ProgramAnalysis.h), used by the search driver (SearchDriver.cpp) and the
// matcher (Matcher.cpp). Covered through the searches of
// tests/regex/MatcherTest.cpp and SearchPlanTest.cpp, which checks that
// nothing derived here changes a result.
#include "regex/ProgramAnalysis.h"

#include <algorithm>
#include <utility>

namespace tallyfold::regex_internal {
namespace {

constexpr int kStartBitWords = 65536 / 64;
// How many nodes the start-character analysis may visit.
constexpr int kStartBudget = 256;
// How many zero-width nodes MayStartWith looks through.
constexpr int kPeekNodes = 8;

bool IsSetOp(char16_t op) {
  return op == IN_SET || op == NOT_IN_SET || op == IN_SET_CI ||
         op == NOT_IN_SET_CI;
}
bool IsCaseInsensitiveSet(char16_t op) {
  return op == IN_SET_CI || op == NOT_IN_SET_CI;
}

// One run of the analysis over one program, filling `p_`.
class Analysis {
 public:
  Analysis(const std::vector<char16_t>& program, const CharacterSets& sets, PreparedProgram& out)
      : prog_(program.data()), prog_size_(static_cast<int>(program.size())), sets_(sets), p_(out) {}

  void Run();

 private:
  void IndexSets();
  bool AddStartChars(int node, int& budget);
  bool AddNodeChars(int node);
  void AddChar(char16_t ch);
  void FindSkipRules();
  void NumberStates();
  bool ConsumesWordUnitFirst(int node) const;
  void AddWideRanges(SetInfo& info);
  void IndexAlternations(const std::vector<int>& alternatives);
  bool StartsAsciiOnly(int alternative) const;
  int LeadingLiteral(int alternative) const;

  const char16_t* prog_;  // the program being analysed
  int prog_size_;
  const CharacterSets& sets_;
  PreparedProgram& p_;  // what the analysis fills
  std::vector<char16_t> wide_;  // scratch: one set's wide members
};

// Gives `info` its wide members, from wide_, as ranges.
void Analysis::AddWideRanges(SetInfo& info) {
  std::vector<char16_t>& ranges = p_.wide_ranges;
  std::sort(wide_.begin(), wide_.end());
  info.wide_first = static_cast<int32_t>(ranges.size() / 2);
  for (std::size_t k = 0; k < wide_.size();) {
    const char16_t lo = wide_[k];
    char16_t hi = lo;
    for (++k; k < wide_.size() && wide_[k] <= hi + 1; ++k) hi = std::max(hi, wide_[k]);
    ranges.push_back(lo);
    ranges.push_back(hi);
  }
  info.wide_count = static_cast<int32_t>(ranges.size() / 2) - info.wide_first;
}

void Analysis::Run() {
  PreparedProgram& s = p_;
  s.inverter = sets_.inverter;
  s.inverter_context = sets_.inverter_context;
  for (char16_t ch = 0; ch < 128; ++ch)
    s.invert[ch] = s.inverter ? s.inverter(s.inverter_context, ch) : ch;
  s.word.Assign(sets_.word);
  s.space.Assign(sets_.space);
  s.separators.Assign(sets_.separators);

  IndexSets();

  s.start_bits.assign(kStartBitWords, 0);
  s.start_at_input_start = false;
  s.start_at_input_end = false;
  int budget = kStartBudget;
  if (!AddStartChars(kFirstNode, budget)) s.start_bits.clear();
  FindSkipRules();
  NumberStates();
  BuildAutomaton(prog_, prog_size_, p_, sets_.pair_head, sets_.pair_tail, p_.automaton);
}

// Walks the program in storage order and precomputes every set node's ASCII
// answers. A unit it cannot place stops the walk; set nodes after it are
// then tested by scanning their list, which gives the same answers.
void Analysis::IndexSets() {
  PreparedProgram& s = p_;
  s.set_index.assign(prog_size_, -1);
  s.sets.clear();
  s.wide_ranges.clear();
  s.alternatives.clear();
  // A walk that stops early may miss a loop; then the matcher assumes one,
  // and that the program may raise.
  s.has_loops = false;
  s.literal_units = 0;
  s.has_empty_literal = false;
  s.may_raise = false;
  bool complete = false;
  // A loop's body lies between its LOOP_ENTRY and its LOOP node, so the
  // loops open at a node in storage order are the loops active whenever the
  // matcher reaches it: the depth its LOOP_ENTRY raises.
  int loop_depth = 0;
  // Once the sets are known, every alternative gets its answers for the
  // ASCII units and the input end precomputed.
  std::vector<int> alternatives;
  int pos = kFirstNode;
  while (NodeFits(prog_size_, pos)) {
    const char16_t op = prog_[pos];
    int next = OperandStart(pos);
    if (HasTextOperand(op) && !TextFits(prog_, prog_size_, pos)) goto walked;
    if (IsSetOp(op)) {
      SetInfo info;
      info.members = static_cast<int>(NodeText(prog_, pos) - prog_);
      info.count = TextLength(prog_, pos);
      uint64_t* const plain = info.plain;
      wide_.clear();
      const char16_t* m = prog_ + info.members;
      for (const char16_t* end = m + info.count; m != end; ++m) {
        if (*m < 128)
          SetBit(plain, *m);
        else
          wide_.push_back(*m);
      }
      info.has_wide = !wide_.empty();
      AddWideRanges(info);
      if (IsCaseInsensitiveSet(op)) {
        // x is found when a member equals x or the other case of x.
        for (char16_t x = 0; x < 128; ++x) {
          const char16_t other = s.invert[x];
          const bool found =
              Bit(plain, x) ||
              (other < 128 ? Bit(plain, other)
                           : info.has_wide && s.WideHas(info, other));
          if (found) SetBit(info.ascii, x);
        }
      } else {
        info.ascii[0] = plain[0];
        info.ascii[1] = plain[1];
      }
      s.set_index[pos] = static_cast<int32_t>(s.sets.size());
      s.sets.push_back(info);
      pos = info.members + info.count;
      continue;
    }
    if (op == ALTERNATIVE) alternatives.push_back(pos);
    if (op == LOOP_ENTRY) {
      s.has_loops = true;
      if (++loop_depth > TRegexEngine::kLoopStackSize) s.may_raise = true;
    } else if (op == LOOP || op == LOOP_LAZY) {
      --loop_depth;
    }
    switch (op) {
      case LITERAL:
      case LITERAL_CI:
        // The compiler makes no empty literal; a program built otherwise
        // may hold one.
        if (TextLength(prog_, pos) == 0) s.has_empty_literal = true;
        s.literal_units += TextLength(prog_, pos);
        next += kTextLengthUnits + TextLength(prog_, pos);
        break;
      case REPEAT_BRACES:  // the bounds; the operand node follows
      case REPEAT_BRACES_LAZY:
      case LOOP:
      case LOOP_LAZY:
      case BACKREF:
      case BACKREF_CI:
        next += FixedOperandUnits(op);
        break;
      case MATCH_END: case INPUT_START: case INPUT_END: case ANY_CHAR:
      case ALTERNATIVE: case LINK: case EMPTY: case REPEAT_STAR:
      case REPEAT_PLUS: case DIGIT: case NOT_DIGIT: case WORD_CHAR:
      case NOT_WORD_CHAR: case SPACE_CHAR: case NOT_SPACE_CHAR: case COMMENT:
      case LOOP_ENTRY: case REPEAT_STAR_LAZY: case REPEAT_PLUS_LAZY:
      case LINE_START: case LINE_END: case ANY_BUT_SEPARATOR:
      case WORD_BOUNDARY: case NOT_WORD_BOUNDARY:
        break;
      default:
        if (!IsOpen(op) && !IsClose(op)) goto walked;
    }
    pos = next;
  }
  complete = true;
walked:
  if (!complete) s.has_loops = s.may_raise = s.has_empty_literal = true;
  for (const int node : alternatives) {
    AlternativeInfo info;
    const int literal = LeadingLiteral(node);
    if (literal >= 0) {
      // What MayStartWith gives for each unit, without asking it 128
      // times: an alternation of thousands of words has as many of these.
      const char16_t first = LiteralFirst(prog_, literal);
      if (first < 128) SetBit(info.ascii, first);
      const char16_t other = s.Invert(first);
      if (prog_[literal] == LITERAL_CI && other < 128) SetBit(info.ascii, other);
    } else {
      for (char16_t ch = 0; ch < 128; ++ch)
        if (MayStartWith(p_, prog_, prog_size_, node, ch, false)) SetBit(info.ascii, ch);
    }
    info.at_end = MayStartWith(p_, prog_, prog_size_, node, 0, true);
    s.set_index[node] = static_cast<int32_t>(s.alternatives.size());
    s.alternatives.push_back(info);
  }
  IndexAlternations(alternatives);
}

// The literal node (with a unit) that the alternative begins with as
// MayStartWith reads it, or -1.
int Analysis::LeadingLiteral(int alternative) const {
  int node = AlternativeBody(alternative);
  for (int steps = 0; steps < kPeekNodes; ++steps) {
    if (!NodeFits(prog_size_, node)) return -1;
    const char16_t op = prog_[node];
    if (op == EMPTY || op == COMMENT || IsOpen(op) || IsClose(op)) {
      node = NextNode(prog_, node);
    } else if (op == ALTERNATIVE && NextAlternative(prog_, prog_size_, node) < 0) {
      node = AlternativeBody(node);
    } else {
      return (op == LITERAL || op == LITERAL_CI) && TextFits(prog_, prog_size_, node) &&
                     TextLength(prog_, node) > 0
                 ? node
                 : -1;
    }
  }
  return -1;
}

// Whether no unit from U+0080 up can begin the alternative: it begins,
// as MayStartWith reads it, with a test that only ASCII units pass.
bool Analysis::StartsAsciiOnly(int alternative) const {
  const PreparedProgram& p = p_;
  const auto ascii_test = [&](int node) {
    if (!NodeFits(prog_size_, node)) return false;
    switch (prog_[node]) {
      case LITERAL: {
        return TextFits(prog_, prog_size_, node) && TextLength(prog_, node) > 0 &&
               LiteralFirst(prog_, node) < 128;
      }
      case LITERAL_CI: {
        if (!TextFits(prog_, prog_size_, node) || TextLength(prog_, node) == 0) return false;
        const char16_t first = LiteralFirst(prog_, node);
        return first < 128 && p.Invert(first) < 128;
      }
      case IN_SET: {
        const int index = p.set_index[node];
        return index >= 0 && !p.sets[index].has_wide;
      }
      case DIGIT:
        return true;
      default:
        return false;
    }
  };
  int node = AlternativeBody(alternative);
  for (int steps = 0; steps < kPeekNodes; ++steps) {
    if (!NodeFits(prog_size_, node)) return false;
    const char16_t op = prog_[node];
    if (op == EMPTY || op == COMMENT || IsOpen(op) || IsClose(op)) {
      node = NextNode(prog_, node);
    } else if (op == ALTERNATIVE && NextAlternative(prog_, prog_size_, node) < 0) {
      node = AlternativeBody(node);
    } else if (op == REPEAT_PLUS || op == REPEAT_PLUS_LAZY) {
      return ascii_test(OperandStart(node));
    } else {
      return ascii_test(node);
    }
  }
  return false;
}

// Indexes the alternations of kIndexedAlternatives or more alternatives
// (`alternatives` in storage order, their AlternativeInfo made).
void Analysis::IndexAlternations(const std::vector<int>& alternatives) {
  PreparedProgram& s = p_;
  s.alternation_of.clear();
  s.alternations.clear();
  std::vector<char> inner(static_cast<std::size_t>(prog_size_), 0);
  for (const int node : alternatives) {
    const int next = NextAlternative(prog_, prog_size_, node);
    if (next >= 0) inner[static_cast<std::size_t>(next)] = 1;
  }
  std::vector<int> chain;
  for (const int head : alternatives) {
    if (inner[static_cast<std::size_t>(head)]) continue;
    chain.clear();
    for (int alt = head; alt >= 0; alt = NextAlternative(prog_, prog_size_, alt))
      chain.push_back(alt);
    // A walk over the program that stopped early left some unread.
    if (static_cast<int>(chain.size()) < kIndexedAlternatives ||
        std::any_of(chain.begin(), chain.end(), [&](int alt) { return s.set_index[alt] < 0; }))
      continue;
    if (s.alternation_of.empty()) s.alternation_of.assign(static_cast<std::size_t>(prog_size_), -1);
    AlternationIndex index;
    for (int unit = 0; unit <= 128; ++unit) {
      index.begin[unit] = static_cast<int32_t>(index.alts.size());
      for (const int alt : chain) {
        const bool may = unit < 128 ? Bit(s.alternatives[s.set_index[alt]].ascii,
                                          static_cast<char16_t>(unit))
                                    : !StartsAsciiOnly(alt);
        if (may) index.alts.push_back(alt);
      }
    }
    index.begin[129] = static_cast<int32_t>(index.alts.size());
    for (const int alt : chain)
      s.alternation_of[static_cast<std::size_t>(alt)] = static_cast<int32_t>(s.alternations.size());
    s.alternations.push_back(std::move(index));
  }
}

void Analysis::AddChar(char16_t ch) { SetBit(p_.start_bits.data(), ch); }

// Adds the characters the single-character node can consume; false when
// that set is not worth filtering by (negated classes, any character) or
// not known (back-references).
bool Analysis::AddNodeChars(int node) {
  if (!NodeFits(prog_size_, node)) return false;
  switch (prog_[node]) {
    case LITERAL:
      // An empty literal consumes nothing.
      if (!TextFits(prog_, prog_size_, node) || TextLength(prog_, node) == 0) return false;
      AddChar(LiteralFirst(prog_, node));
      return true;
    case LITERAL_CI: {
      if (!TextFits(prog_, prog_size_, node) || TextLength(prog_, node) == 0) return false;
      const char16_t ch = LiteralFirst(prog_, node);
      AddChar(ch);
      AddChar(p_.Invert(ch));
      return true;
    }
    case IN_SET: {
      if (!TextFits(prog_, prog_size_, node)) return false;
      const char16_t* m = NodeText(prog_, node);
      for (const char16_t* end = m + TextLength(prog_, node); m != end; ++m) AddChar(*m);
      return true;
    }
    case IN_SET_CI: {
      for (char16_t x = 0; x < 128; ++x)
        if (p_.InSetCi(prog_, node, x)) AddChar(x);
      // Whether a character from U+0080 up is found depends on its other
      // case, which only the case inverter knows; let them all through.
      std::fill(p_.start_bits.begin() + 2, p_.start_bits.end(), ~uint64_t{0});
      return true;
    }
    case DIGIT:
      for (char16_t ch = u'0'; ch <= u'9'; ++ch) AddChar(ch);
      return true;
    case WORD_CHAR:
      for (char16_t ch : sets_.word) AddChar(ch);
      return true;
    case SPACE_CHAR:
      for (char16_t ch : sets_.space) AddChar(ch);
      return true;
    default:
      return false;
  }
}

// Adds every character at which a path from `node` can consume its first
// character; false when a path may consume nothing or the analysis gives
// up. Zero-width tests are looked through: they only narrow the set.
bool Analysis::AddStartChars(int node, int& budget) {
  for (;;) {
    if (--budget < 0 || !NodeFits(prog_size_, node)) return false;
    const char16_t op = prog_[node];
    const int next = NextNode(prog_, node);
    switch (op) {
      case EMPTY:
      case COMMENT:
      case WORD_BOUNDARY:
      case NOT_WORD_BOUNDARY:
      case LINE_START:
      case LINE_END:
        node = next;
        continue;
      case INPUT_START:
        // Such a path matches only at the input start or end.
        p_.start_at_input_start = true;
        return true;
      case INPUT_END:
        p_.start_at_input_end = true;
        return true;
      case ALTERNATIVE:
        if (NextAlternative(prog_, prog_size_, node) >= 0) {
          for (int alt = node; alt >= 0; alt = NextAlternative(prog_, prog_size_, alt))
            if (!AddStartChars(AlternativeBody(alt), budget)) return false;
          return true;
        }
        node = AlternativeBody(node);
        continue;
      case REPEAT_STAR:
      case REPEAT_STAR_LAZY:
        if (!AddNodeChars(OperandStart(node))) return false;
        node = next;
        continue;
      case REPEAT_PLUS:
      case REPEAT_PLUS_LAZY:
        return AddNodeChars(OperandStart(node));
      case REPEAT_BRACES:
      case REPEAT_BRACES_LAZY: {
        if (BracesOperand(node) > prog_size_ || !AddNodeChars(BracesOperand(node))) return false;
        if (BracesMin(prog_, node) > 0) return true;
        node = next;
        continue;
      }
      case LOOP_ENTRY: {
        const int loop = next;
        if (!LoopFits(prog_size_, loop) || !IsLoopEnd(prog_[loop])) return false;
        if (!AddStartChars(LoopEntryBody(node), budget)) return false;
        if (LoopMin(prog_, loop) > 0) return true;
        node = NextNode(prog_, loop);
        continue;
      }
      default:
        if (IsOpen(op) || IsClose(op)) {
          node = next;
          continue;
        }
        return AddNodeChars(node);
    }
  }
}

// Whether the node at `node` fails unless it consumes a word unit first.
bool Analysis::ConsumesWordUnitFirst(int node) const {
  if (!NodeFits(prog_size_, node)) return false;
  const int operand = MandatoryFirstNode(prog_, prog_size_, node);
  if (operand < 0) return false;
  switch (prog_[operand]) {
    case WORD_CHAR:
      return true;
    case LITERAL:
    case LITERAL_CI: {
      if (!TextFits(prog_, prog_size_, operand) || TextLength(prog_, operand) == 0) return false;
      const char16_t ch = LiteralFirst(prog_, operand);
      return p_.word.Contains(ch) &&
             (prog_[operand] == LITERAL || p_.word.Contains(p_.Invert(ch)));
    }
    default:
      return false;
  }
}

// Numbers the linear path's states in storage order, where the counted
// loops around a node are those whose LOOP_ENTRY precedes it and whose LOOP
// does not (the LOOP node itself lies inside its loop). Leaves no states
// for a program the linear path cannot take. Tells whether the program
// repeats a group: only a repeat around what can match in more than one
// way (another repeat, alternatives) makes the backtracker try
// exponentially many paths, and it runs a program without one faster.
void Analysis::NumberStates() {
  StateNumbering& n = p_.states;
  n.per_position = 0;
  n.state_base.assign(prog_size_, -1);
  n.loop_of.assign(prog_size_, -1);
  n.loops.clear();
  n.repeats_group = false;
  n.refused = kReasonUnreadable;
  if (p_.may_raise || p_.has_empty_literal) {
    n.refused = p_.may_raise ? kReasonMayRaise : kReasonEmptyLiteral;
    return;
  }
  int64_t total = 0;
  int innermost = -1;
  int64_t contexts = 1;  // counter combinations of the loops around
  bool repeated_group = false;
  int node = kFirstNode;
  while (NodeFits(prog_size_, node)) {
    const char16_t op = prog_[node];
    if (IsBackref(op)) {
      n.refused = kReasonBackReference;
      return;
    }
    if (op == LINK) repeated_group = true;  // the back edge of a greedy complex * or +
    const int units = OperandUnits(prog_, prog_size_, node);
    if (units < 0) return;
    if (op == LOOP_ENTRY) {
      repeated_group = true;
      const int loop = NextNode(prog_, node);
      if (!LoopFits(prog_size_, loop) || !IsLoopEnd(prog_[loop])) return;
      const int32_t min = LoopMin(prog_, loop);
      const int32_t max = LoopMax(prog_, loop);
      if (min < 0 || max < min) return;
      const int32_t top = max == kOpenMax ? min : max;
      const int32_t depth = innermost < 0 ? 1 : n.loops[innermost].depth + 1;
      n.state_base[node] = static_cast<int32_t>(total);
      n.loop_of[node] = innermost;
      total += contexts;
      contexts *= int64_t{top} + 1;
      if (contexts > kMaxStatesPerPosition) {
        n.refused = kReasonTooManyStates;
        return;
      }
      n.loops.push_back({top, depth, innermost});
      innermost = static_cast<int>(n.loops.size()) - 1;
    } else {
      n.state_base[node] = static_cast<int32_t>(total);
      n.loop_of[node] = innermost;
      total += contexts;
      if (IsLoopEnd(op)) {
        if (innermost < 0) return;
        contexts /= int64_t{n.loops[innermost].top} + 1;
        innermost = n.loops[innermost].parent;
      }
    }
    if (total > kMaxStatesPerPosition) {
      n.refused = kReasonTooManyStates;
      return;
    }
    node = OperandStart(node) + units;
  }
  if (innermost >= 0 || total == 0) return;
  // The matcher moves from a node only along these edges, so with each of
  // them landing on a numbered node it never asks for the state of a unit
  // that has none.
  const auto numbered = [&n](int target) { return target >= 0 && n.state_base[target] >= 0; };
  if (!numbered(kFirstNode)) return;
  for (int at = kFirstNode; at < prog_size_; ++at) {
    if (n.state_base[at] < 0) continue;
    const char16_t op = prog_[at];
    const int next = NextNode(prog_, at);
    if (next != -1 && (next >= prog_size_ || !numbered(next))) return;
    if ((op == ALTERNATIVE || op == LOOP_ENTRY) && !numbered(OperandStart(at))) return;
    if (IsLoopEnd(op)) {
      const int body = LoopBody(prog_, at);
      if (body >= prog_size_ || !numbered(body)) return;
    }
  }
  n.per_position = static_cast<int32_t>(total);
  n.refused = 0;
  n.repeats_group = repeated_group;
}

void Analysis::FindSkipRules() {
  PreparedProgram& s = p_;
  // The rule for \b holds whatever the registers are, so group openings
  // after it, which only set registers, are looked through.
  const auto PastOpenings = [this](int node) {
    for (int steps = 0; steps < TRegexEngine::kGroupSlots && NodeFits(prog_size_, node);
         ++steps) {
      if (IsOpen(prog_[node]))
        node = NextNode(prog_, node);
      else if (prog_[node] == ALTERNATIVE && NextAlternative(prog_, prog_size_, node) < 0)
        node = AlternativeBody(node);
      else
        break;
    }
    return node;
  };
  s.skip_rules.clear();
  if (s.may_raise) return;
  // The first node that does anything, past comments and single choices.
  const auto lead = [this](int node) {
    for (int steps = 0; steps < kPeekNodes; ++steps) {
      if (!NodeFits(prog_size_, node)) return -1;
      const char16_t op = prog_[node];
      if (op == COMMENT || op == EMPTY) {
        node = NextNode(prog_, node);
      } else if (op == ALTERNATIVE && NextAlternative(prog_, prog_size_, node) < 0) {
        node = AlternativeBody(node);
      } else {
        return node;
      }
    }
    return -1;
  };
  const int first = lead(kFirstNode);
  if (first < 0) return;
  std::vector<int> starts;
  if (prog_[first] == ALTERNATIVE) {
    for (int alt = first; alt >= 0; alt = NextAlternative(prog_, prog_size_, alt))
      starts.push_back(lead(AlternativeBody(alt)));
  } else {
    starts.push_back(first);
  }
  std::vector<SkipRule> rules;
  for (const int node : starts) {
    if (node < 0) return;
    const char16_t op = prog_[node];
    if (IsSingleRepeat(op)) {
      const Repeat r = ShapeOf(prog_, prog_size_, node);
      if (!NodeFits(prog_size_, r.operand) || !IsCountable(prog_[r.operand]) ||
          IsBackref(prog_[r.operand]))
        return;
      rules.push_back({SkipRule::kRun, r.operand, r.max});
    } else if (op == WORD_BOUNDARY &&
               ConsumesWordUnitFirst(PastOpenings(lead(NextNode(prog_, node))))) {
      rules.push_back({SkipRule::kAfterWordUnit, 0, 0});
    } else {
      return;
    }
  }
  s.skip_rules = std::move(rules);
}

}  // namespace

void CharTable::Assign(const std::u16string& members) {
  ascii[0] = ascii[1] = 0;
  wide.clear();
  for (char16_t ch : members) {
    if (ch == 0) continue;  // a set's 0 unit is no member (CharTable)
    if (ch < 128)
      SetBit(ascii, ch);
    else
      wide += ch;
  }
}

void PrepareProgram(const std::vector<char16_t>& program, const CharacterSets& sets,
                    PreparedProgram& out) {
  Analysis(program, sets, out).Run();
}

// Where it returns false, the matcher needs no choice point for the
// alternative.
bool MayStartWith(const PreparedProgram& prepared, const char16_t* prog, int size,
                  int alternative, char16_t ch, bool at_end) {
  int node = AlternativeBody(alternative);
  for (int steps = 0; steps < kPeekNodes; ++steps) {
    if (!NodeFits(size, node)) return true;
    const char16_t op = prog[node];
    switch (op) {
      case EMPTY:
      case COMMENT:
        node = NextNode(prog, node);
        continue;
      case ALTERNATIVE:
        if (NextAlternative(prog, size, node) >= 0) return true;
        node = AlternativeBody(node);
        continue;
      case LITERAL: case LITERAL_CI:
        // An empty literal consumes nothing.
        if (!TextFits(prog, size, node) || TextLength(prog, node) == 0) return true;
        return !at_end && prepared.TestOne(prog, node, ch);
      case ANY_CHAR: case IN_SET:
      case NOT_IN_SET: case IN_SET_CI: case NOT_IN_SET_CI: case DIGIT:
      case NOT_DIGIT: case WORD_CHAR: case NOT_WORD_CHAR: case SPACE_CHAR:
      case NOT_SPACE_CHAR:
        return !at_end && prepared.TestOne(prog, node, ch);
      case REPEAT_PLUS:
      case REPEAT_PLUS_LAZY: {
        const int operand = OperandStart(node);
        if (IsBackref(prog[operand]) || !IsCountable(prog[operand])) return true;
        return !at_end && prepared.TestOne(prog, operand, ch);
      }
      default:
        if (IsOpen(op) || IsClose(op)) {
          node = NextNode(prog, node);
          continue;
        }
        return true;
    }
  }
  return true;
}

PathChoice ChoosePath(const PreparedProgram& prepared, const TRegexOptions& options,
                      bool anchored) {
  PathChoice choice;
  const AutomatonNfa& nfa = prepared.automaton;
  if (!options.automaton) choice.automaton_reasons |= kReasonSwitchedOff;
  if (!nfa.usable) choice.automaton_reasons |= nfa.refused;
  // Without a choice an attempt costs the pattern's length at most, and
  // the search plan's scan with one attempt per candidate beats two runs.
  if (nfa.usable && !nfa.has_choices && !options.automaton_everywhere)
    choice.automaton_reasons |= kReasonNoChoice;
  // An anchored program tries one position only.
  if (anchored) choice.automaton_reasons |= kReasonAnchored;
  choice.automaton = choice.automaton_reasons == 0;

  const StateNumbering& states = prepared.states;
  if (!options.linear) choice.linear_reasons |= kReasonSwitchedOff;
  if (states.per_position == 0) choice.linear_reasons |= states.refused;
  // Only a repeated group makes the plain backtracker take exponential
  // time, and it runs the others faster.
  if (states.per_position > 0 && !states.repeats_group && !options.linear_everywhere)
    choice.linear_reasons |= kReasonNoRepeatedGroup;
  choice.linear = choice.linear_reasons == 0;
  return choice;
}

}  // namespace tallyfold::regex_internal
