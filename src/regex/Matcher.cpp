// The matcher: the dispatch loop over the program's nodes, the choice points
// that stand in for recursion, and the tables derived from the program that
// keep character tests cheap.
//
// This file's external interface is just Matcher (Matcher.h), used by the
// search driver in SearchDriver.cpp. Covered by tests/regex/MatcherTest.cpp
// and PcreDifferentialTest.cpp.
#include "regex/Matcher.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/Exception.h"
#include "regex/Program.h"

namespace tallyfold::regex_internal {
namespace {

// Register slots of one attempt (MatchScratch::regs).
constexpr int kStartSlot = 0;                               // group n: n
constexpr int kEndSlot = TRegexEngine::kGroupSlots;         // group n: 15 + n
constexpr int kDepthSlot = 2 * TRegexEngine::kGroupSlots;   // the loop depth
constexpr int kCounterSlot = kDepthSlot;                    // loop d: 30 + d
constexpr int kLoopStartSlot = kCounterSlot + TRegexEngine::kLoopStackSize;
constexpr int kLinkSlot =                                   // LINK node: 51 + node
    kLoopStartSlot + TRegexEngine::kLoopStackSize + 1;

constexpr int kStartBitWords = 65536 / 64;
// How many nodes the start-character analysis may visit.
constexpr int kStartBudget = 256;
// How many zero-width nodes MayStartWith looks through.
constexpr int kPeekNodes = 8;

std::atomic<bool> g_filters_enabled{true};

bool IsSetOp(char16_t op) {
  return op == IN_SET || op == NOT_IN_SET || op == IN_SET_CI ||
         op == NOT_IN_SET_CI;
}
bool IsCaseInsensitiveSet(char16_t op) {
  return op == IN_SET_CI || op == NOT_IN_SET_CI;
}
bool Bit(const uint64_t* bits, char16_t ch) {
  return (bits[ch >> 6] >> (ch & 63)) & 1;
}
void SetBit(uint64_t* bits, char16_t ch) { bits[ch >> 6] |= uint64_t{1} << (ch & 63); }
bool ListHas(const char16_t* list, char16_t ch) {
  for (; *list != 0; ++list)
    if (*list == ch) return true;
  return false;
}

// The bounds, operand and continuation of a single-node repetition.
struct Repeat {
  int32_t min;
  int32_t max;
  int operand;     // the repeated node
  int next;        // what follows the repetition, or -1
  char16_t ahead;  // first character of a literal continuation; 0 = none
  char16_t ahead_other;  // its other case under i, else `ahead` again
  int ahead_node;        // that literal's node
  bool lazy;

  // Whether the continuation may start with `ch`.
  bool Allows(char16_t ch) const { return ahead == 0 || Fits(ch); }
  // The same when there is a literal continuation.
  bool Fits(char16_t ch) const { return ch == ahead || ch == ahead_other; }
};

Repeat ShapeOf(const char16_t* prog, int prog_size, int node) {
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
      (prog[after] == LITERAL || prog[after] == LITERAL_CI)) {
    r.ahead = r.ahead_other = LiteralFirst(prog, after);
    r.ahead_node = after;
  }
  return r;
}

}  // namespace

void SetSearchFiltersForTesting(bool enabled) { g_filters_enabled.store(enabled); }

void RaiseOutOfMemory() {
  throw Exception("TRegexEngine(exec): Out Of Memory While Matching");
}

void CharTable::Assign(const std::u16string& members) {
  ascii[0] = ascii[1] = 0;
  wide.clear();
  for (char16_t ch : members) {
    if (ch == 0) continue;  // the end of the input is never a member
    if (ch < 128)
      SetBit(ascii, ch);
    else
      wide += ch;
  }
}

// ---------------------------------------------------------------------------
// Scratch stacks

void MatchScratch::GrowFrames() {
  const std::size_t grown = std::max<std::size_t>(256, frames.size() * 2);
  if (StackBytes() + (grown - frames.size()) * sizeof(Frame) > byte_limit)
    throw std::bad_alloc();
  frames.resize(grown);
}

void MatchScratch::GrowUndo() {
  const std::size_t grown = std::max<std::size_t>(256, undo.size() * 2);
  // Choice points record the log size in 32 bits.
  if (grown > static_cast<std::size_t>(INT32_MAX) ||
      StackBytes() + (grown - undo.size()) * sizeof(Undo) > byte_limit)
    throw std::bad_alloc();
  undo.resize(grown);
}

void MatchScratch::Release() {
  std::vector<Frame>().swap(frames);
  std::vector<Undo>().swap(undo);
  frame_count = undo_count = 0;
}

// ---------------------------------------------------------------------------
// Preparation

Matcher::Matcher(TRegexEngine& engine, const std::vector<char16_t>& program,
                 MatchScratch& scratch)
    : e_(engine),
      s_(scratch),
      prog_(program.data()),
      prog_size_(static_cast<int>(program.size())),
      in_(engine.input_buffer_.get()),
      end_(engine.input_end_),
      filters_(g_filters_enabled.load(std::memory_order_relaxed)) {
  Prepare(program);
}

void Matcher::Prepare(const std::vector<char16_t>& program) {
  MatchScratch& s = s_;
  if (s.prepared && s.tables_version == e_.tables_version_) return;

  // A rebuild that fails half-way (allocation, a throwing case inverter)
  // must not leave tables that look current.
  s.prepared = false;
  s.inverter = e_.case_inverter_;
  s.inverter_context = e_.case_inverter_context_;
  for (char16_t ch = 0; ch < 128; ++ch)
    s.invert[ch] = s.inverter ? s.inverter(s.inverter_context, ch) : ch;
  s.word.Assign(e_.word_set_);
  s.space.Assign(e_.space_set_);
  s.separators.Assign(e_.line_separator_set_);

  s.regs.assign(kLinkSlot + program.size(), -1);
  s.groups_dirty = false;
  s.links_dirty = false;
  IndexSets();

  s.start_bits.assign(kStartBitWords, 0);
  s.start_at_input_start = false;
  s.start_at_input_end = false;
  int budget = kStartBudget;
  if (!AddStartChars(kFirstNode, budget)) s.start_bits.clear();
  BuildSearchPlan(prog_, prog_size_, s);
  FindSkipRules();
  s.literal_cache = RejectionCache();
  s.units_cache = RejectionCache();
  s.tables_version = e_.tables_version_;
  s.prepared = true;
}

// Walks the program in storage order and precomputes every set node's ASCII
// answers. A unit it cannot place stops the walk; set nodes after it are
// then tested by scanning their list, which gives the same answers.
void Matcher::IndexSets() {
  MatchScratch& s = s_;
  s.set_index.assign(prog_size_, -1);
  s.sets.clear();
  s.alternatives.clear();
  // A walk that stops early may miss a loop; then the matcher assumes one,
  // and that the program may raise.
  s.has_loops = false;
  s.may_raise = false;
  bool complete = false;
  // A loop's body lies between its LOOP_ENTRY and its LOOP node, so the
  // loops open at a node in storage order are the loops active whenever the
  // matcher reaches it: the depth its LOOP_ENTRY raises.
  int loop_depth = 0;
  // Once the sets are known, every alternative gets its answers for the
  // ASCII units (and 0, the input end) precomputed.
  std::vector<int> alternatives;
  const auto skip_list = [this](int pos) {
    while (pos < prog_size_ && prog_[pos] != 0) ++pos;
    return pos + 1;
  };
  int pos = kFirstNode;
  while (NodeFits(prog_size_, pos)) {
    const char16_t op = prog_[pos];
    int next = OperandStart(pos);
    if (IsSetOp(op)) {
      const int list_end = skip_list(next);
      if (list_end > prog_size_) goto walked;
      SetInfo info;
      info.members = next;
      uint64_t plain[2] = {0, 0};
      for (const char16_t* m = prog_ + next; *m != 0; ++m) {
        if (*m < 128)
          SetBit(plain, *m);
        else
          info.has_wide = true;
      }
      if (IsCaseInsensitiveSet(op)) {
        // x is found when a member equals x or the other case of x.
        for (char16_t x = 1; x < 128; ++x) {
          const char16_t other = s.invert[x];
          const bool found =
              Bit(plain, x) ||
              (other < 128 ? Bit(plain, other)
                           : info.has_wide && ListHas(prog_ + next, other));
          if (found) SetBit(info.ascii, x);
        }
      } else {
        info.ascii[0] = plain[0];
        info.ascii[1] = plain[1];
      }
      s.set_index[pos] = static_cast<int32_t>(s.sets.size());
      s.sets.push_back(info);
      pos = list_end;
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
        next = skip_list(next);
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
  if (!complete) s.has_loops = s.may_raise = true;
  for (const int node : alternatives) {
    AlternativeInfo info;
    for (char16_t ch = 0; ch < 128; ++ch)
      if (MayStartWith(node, ch)) SetBit(info.ascii, ch);
    s.set_index[node] = static_cast<int32_t>(s.alternatives.size());
    s.alternatives.push_back(info);
  }
}

void Matcher::AddChar(char16_t ch) { SetBit(s_.start_bits.data(), ch); }

// Adds the characters the single-character node can consume; false when
// that set is not worth filtering by (negated classes, any character) or
// not known (back-references).
bool Matcher::AddNodeChars(int node) {
  if (!NodeFits(prog_size_, node)) return false;
  switch (prog_[node]) {
    case LITERAL:
      // An empty literal (from \x00) consumes nothing.
      if (LiteralFirst(prog_, node) == 0) return false;
      AddChar(LiteralFirst(prog_, node));
      return true;
    case LITERAL_CI: {
      const char16_t ch = LiteralFirst(prog_, node);
      if (ch == 0) return false;
      AddChar(ch);
      AddChar(Invert(ch));
      return true;
    }
    case IN_SET:
      for (const char16_t* m = NodeText(prog_, node); *m != 0; ++m)
        AddChar(*m);
      return true;
    case IN_SET_CI: {
      for (char16_t x = 1; x < 128; ++x)
        if (InSetCi(node, x)) AddChar(x);
      // Whether a character from U+0080 up is found depends on its other
      // case, which only the case inverter knows; let them all through.
      std::fill(s_.start_bits.begin() + 2, s_.start_bits.end(), ~uint64_t{0});
      return true;
    }
    case DIGIT:
      for (char16_t ch = u'0'; ch <= u'9'; ++ch) AddChar(ch);
      return true;
    case WORD_CHAR:
      for (char16_t ch : e_.word_set_) AddChar(ch);
      return true;
    case SPACE_CHAR:
      for (char16_t ch : e_.space_set_) AddChar(ch);
      return true;
    default:
      return false;
  }
}

// Adds every character at which a path from `node` can consume its first
// character; false when a path may consume nothing or the analysis gives
// up. Zero-width tests are looked through: they only narrow the set.
bool Matcher::AddStartChars(int node, int& budget) {
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
        s_.start_at_input_start = true;
        return true;
      case INPUT_END:
        s_.start_at_input_end = true;
        return true;
      case ALTERNATIVE:
        if (NextAlternative(node) >= 0) {
          for (int alt = node; alt >= 0; alt = NextAlternative(alt))
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
bool Matcher::ConsumesWordUnitFirst(int node) const {
  if (!NodeFits(prog_size_, node)) return false;
  const int operand = MandatoryFirstNode(prog_, prog_size_, node);
  if (operand < 0) return false;
  switch (prog_[operand]) {
    case WORD_CHAR:
      return true;
    case LITERAL:
    case LITERAL_CI: {
      const char16_t ch = LiteralFirst(prog_, operand);
      return ch != 0 && s_.word.Contains(ch) &&
             (prog_[operand] == LITERAL || s_.word.Contains(Invert(ch)));
    }
    default:
      return false;
  }
}

void Matcher::FindSkipRules() {
  MatchScratch& s = s_;
  // The rule for \b holds whatever the registers are, so group openings
  // after it, which only set registers, are looked through.
  const auto PastOpenings = [this](int node) {
    for (int steps = 0; steps < TRegexEngine::kGroupSlots && NodeFits(prog_size_, node);
         ++steps) {
      if (IsOpen(prog_[node]))
        node = NextNode(prog_, node);
      else if (prog_[node] == ALTERNATIVE && NextAlternative(node) < 0)
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
      } else if (op == ALTERNATIVE && NextAlternative(node) < 0) {
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
    for (int alt = first; alt >= 0; alt = NextAlternative(alt)) starts.push_back(lead(AlternativeBody(alt)));
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
    } else if (op == WORD_BOUNDARY && ConsumesWordUnitFirst(PastOpenings(lead(NextNode(prog_, node))))) {
      rules.push_back({SkipRule::kAfterWordUnit, 0, 0});
    } else {
      return;
    }
  }
  // A prefix is found by its own scan, which passes over such places
  // anyway; only a run rule, which no program with a prefix has, adds to it.
  if (!s.plan.prefix.empty()) return;
  s.skip_rules = std::move(rules);
}

int Matcher::ResumeAfter(int at) const {
  if (!filters_ || s_.skip_rules.empty() || at >= end_) return at + 1;
#ifdef TALLYFOLD_MATCH_STEP_LIMIT
  // An attempt cut short did not try everything.
  if (s_.attempt_cut) return at + 1;
#endif
  // Every rule gives the last position it rules out; the search resumes
  // after the nearest of them.
  int last = end_;
  for (const SkipRule& rule : s_.skip_rules) {
    int covered;
    if (rule.kind == SkipRule::kRun) {
      const int run = Count(rule.operand, at, kRepeatMax);
      covered = run <= rule.max ? at + run : at;
    } else {
      int run = 0;
      while (at + run < end_ && s_.word.Contains(in_[at + run])) ++run;
      covered = at + run;
    }
    last = std::min(last, covered);
  }
  return std::max(at, last) + 1;
}

// ---------------------------------------------------------------------------
// Character tests

char16_t Matcher::Invert(char16_t ch) const {
  if (ch < 128) return s_.invert[ch];
  return s_.inverter ? s_.inverter(s_.inverter_context, ch) : ch;
}

bool Matcher::InSet(int node, char16_t ch) const {
  const int index = s_.set_index[node];
  if (index < 0) return ListHas(NodeText(prog_, node), ch);
  const SetInfo& info = s_.sets[index];
  if (ch < 128) return Bit(info.ascii, ch);
  return info.has_wide && ListHas(prog_ + info.members, ch);
}

bool Matcher::InSetCi(int node, char16_t ch) const {
  const int index = s_.set_index[node];
  if (index >= 0 && ch < 128) return Bit(s_.sets[index].ascii, ch);
  const char16_t other = Invert(ch);
  for (const char16_t* m = NodeText(prog_, node); *m != 0; ++m)
    if (*m == ch || *m == other) return true;
  return false;
}

bool Matcher::TestOne(int node, char16_t ch) const {
  switch (prog_[node]) {
    case ANY_CHAR:
      return true;
    case LITERAL:
      return ch == LiteralFirst(prog_, node);
    case LITERAL_CI: {
      const char16_t p = LiteralFirst(prog_, node);
      return ch == p || ch == Invert(p);
    }
    case IN_SET:
      return InSet(node, ch);
    case NOT_IN_SET:
      return !InSet(node, ch);
    case IN_SET_CI:
      return InSetCi(node, ch);
    case NOT_IN_SET_CI:
      return !InSetCi(node, ch);
    case DIGIT:
      return ch >= u'0' && ch <= u'9';
    case NOT_DIGIT:
      return ch < u'0' || ch > u'9';
    case WORD_CHAR:
      return s_.word.Contains(ch);
    case NOT_WORD_CHAR:
      return !s_.word.Contains(ch);
    case SPACE_CHAR:
      return s_.space.Contains(ch);
    case NOT_SPACE_CHAR:
      return !s_.space.Contains(ch);
    default:
      return false;
  }
}

bool Matcher::IsWordAt(int pos) const {
  return pos >= 0 && pos < end_ && s_.word.Contains(in_[pos]);
}

// ---------------------------------------------------------------------------
// Repetition

bool Matcher::IsCountable(char16_t op) {
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

// How many characters from `from` on the single-character node matches in a
// row, at most `max`.
int Matcher::Count(int operand, int from, int32_t max) const {
  const int limit = static_cast<int>(std::min<int64_t>(max, end_ - from));
  const char16_t* p = in_ + from;
  int n = 0;
  switch (prog_[operand]) {
    case ANY_CHAR:
      return std::max(limit, 0);
    case LITERAL: {
      const char16_t ch = LiteralFirst(prog_, operand);
      while (n < limit && p[n] == ch) ++n;
      return n;
    }
    case IN_SET: {
      const int index = s_.set_index[operand];
      if (index < 0) break;
      const SetInfo& info = s_.sets[index];
      for (; n < limit; ++n) {
        const char16_t ch = p[n];
        if (ch < 128 ? !Bit(info.ascii, ch)
                     : !(info.has_wide && ListHas(prog_ + info.members, ch)))
          return n;
      }
      return n;
    }
    case WORD_CHAR:
      while (n < limit && s_.word.Contains(p[n])) ++n;
      return n;
    case DIGIT:
      while (n < limit && p[n] >= u'0' && p[n] <= u'9') ++n;
      return n;
    default:
      break;
  }
  while (n < limit && TestOne(operand, p[n])) ++n;
  return n;
}

// The group a back-reference names, when it took part: its start and length.
bool Matcher::Captured(int operand, int& from, int& length) const {
  const char16_t group = BackrefGroup(prog_, operand);
  if (group >= TRegexEngine::kGroupSlots) return false;
  const int32_t* regs = s_.regs.data();
  from = regs[kStartSlot + group];
  const int to = regs[kEndSlot + group];
  if (from < 0 || to < 0 || to < from) return false;
  length = to - from;
  return true;
}

// Whether the text captured from `from` (`length` units) occurs again at
// `pos`, compared as the back-reference node says.
bool Matcher::BackrefAt(int backref, int from, int pos, int length) const {
  if (length > end_ - pos) return false;
  const char16_t* captured = in_ + from;
  const char16_t* here = in_ + pos;
  if (prog_[backref] == BACKREF)
    return std::memcmp(captured, here, sizeof(char16_t) * length) == 0;
  for (int i = 0; i < length; ++i)
    if (here[i] != captured[i] && here[i] != Invert(captured[i])) return false;
  return true;
}

// One more repetition of the operand at `pos`: one character, or for a
// back-reference `step` units matching the capture that starts at `from`.
bool Matcher::UnitAt(int operand, int from, int pos, int step) const {
  if (IsBackref(prog_[operand])) return BackrefAt(operand, from, pos, step);
  return pos < end_ && TestOne(operand, in_[pos]);
}

// ---------------------------------------------------------------------------
// Alternatives

int Matcher::NextAlternative(int alternative) const {
  if (alternative < 0) return -1;
  const int next = NextNode(prog_, alternative);
  return NodeFits(prog_size_, next) && prog_[next] == ALTERNATIVE
             ? next
             : -1;
}

// False only when the alternative must fail at `cursor` at its first
// character test, before it changes anything; then no choice point is
// needed for it. Looks through a few zero-width nodes.
bool Matcher::MayStartWith(int alternative, char16_t ch) const {
  // Units before the input end are never 0, so 0 stands for the end.
  const bool at_end = ch == 0;
  int node = AlternativeBody(alternative);
  for (int steps = 0; steps < kPeekNodes; ++steps) {
    if (!NodeFits(prog_size_, node)) return true;
    const char16_t op = prog_[node];
    switch (op) {
      case EMPTY:
      case COMMENT:
        node = NextNode(prog_, node);
        continue;
      case ALTERNATIVE:
        if (NextAlternative(node) >= 0) return true;
        node = AlternativeBody(node);
        continue;
      case LITERAL: case LITERAL_CI:
        // An empty literal (from \x00) consumes nothing.
        if (LiteralFirst(prog_, node) == 0) return true;
        return !at_end && TestOne(node, ch);
      case ANY_CHAR: case IN_SET:
      case NOT_IN_SET: case IN_SET_CI: case NOT_IN_SET_CI: case DIGIT:
      case NOT_DIGIT: case WORD_CHAR: case NOT_WORD_CHAR: case SPACE_CHAR:
      case NOT_SPACE_CHAR:
        return !at_end && TestOne(node, ch);
      case REPEAT_PLUS:
      case REPEAT_PLUS_LAZY: {
        const int operand = OperandStart(node);
        if (IsBackref(prog_[operand]) || !IsCountable(prog_[operand])) return true;
        return !at_end && TestOne(operand, ch);
      }
      default:
        if (IsOpen(op) || IsClose(op)) {
          node = NextNode(prog_, node);
          continue;
        }
        return true;
    }
  }
  return true;
}

int Matcher::FirstViable(int alternative, int cursor) const {
  if (!filters_) return alternative;
  const char16_t ch = in_[cursor];
  for (; alternative >= 0; alternative = NextAlternative(alternative)) {
    const int index = ch < 128 ? s_.set_index[alternative] : -1;
    if (index >= 0 ? Bit(s_.alternatives[index].ascii, ch) : MayStartWith(alternative, ch))
      return alternative;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// The dispatch loop

void Matcher::Raise(int code) {
  e_.RaiseError(code);
  // An override of RaiseError that returns must still not let matching go on.
  e_.TRegexEngine::RaiseError(code);
}

void Matcher::UndoTo(std::size_t mark) {
  int32_t* regs = s_.regs.data();
  const MatchScratch::Undo* undo = s_.undo.data();
  std::size_t count = s_.undo_count;
  while (count > mark) {
    --count;
    regs[undo[count].slot] = undo[count].value;
  }
  s_.undo_count = count;
}

bool Matcher::MatchAt(int start) {
  bool matched;
  try {
    matched = Run(start);
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  }
  // Only a program with counted loops over complex bodies changes them.
  if (s_.has_loops) {
    const int32_t* regs = s_.regs.data();
    e_.loop_depth_ = regs[kDepthSlot];
    for (int d = 1; d <= TRegexEngine::kLoopStackSize; ++d)
      e_.loop_counters_[d] = regs[kCounterSlot + d];
  }
  return matched;
}

int Matcher::NextCandidate(int from) const {
  if (from > end_) return -1;
  if (!filters_) return from;
  const SearchPlan& plan = s_.plan;
  if (!plan.prefix.empty()) return plan.prefix.Find(in_, from, end_);
  const StartScan& scan = plan.start;
  if (scan.kind == StartScan::kAnyPosition) return from;
  if (from == 0 && scan.at_input_start) return 0;
  const int at = scan.NextUnit(in_, from, end_);
  if (at < end_) return at;
  return scan.at_input_end ? end_ : -1;
}

bool Matcher::MayMatchFrom(int from) {
  if (!filters_) return true;
  const LiteralNeedle& literal = s_.plan.Rejecting();
  if (!literal.empty()) {
    RejectionCache& cache = s_.literal_cache;
    if (!cache.Knows(e_.input_version_, from)) {
      cache.Record(e_.input_version_, from, literal.Find(in_, from, end_));
    }
    if (cache.hit < from) return false;
  }
  const StartScan& units = s_.plan.required_units;
  if (units.kind != StartScan::kAnyPosition) {
    RejectionCache& cache = s_.units_cache;
    if (!cache.Knows(e_.input_version_, from)) {
      const int at = units.NextUnit(in_, from, end_);
      cache.Record(e_.input_version_, from, at < end_ ? at : -1);
    }
    if (cache.hit < from) return false;
  }
  return true;
}

const LiteralNeedle* Matcher::PlannedRejection(const TRegexEngine& engine) {
  const MatchScratch* s = engine.scratch_.get();
  if (s == nullptr || !s->prepared || s->tables_version != engine.tables_version_ ||
      engine.modifiers_ != engine.program_modifiers_ || engine.program_.empty() ||
      !g_filters_enabled.load(std::memory_order_relaxed))
    return nullptr;
  const LiteralNeedle& literal = s->plan.Rejecting();
  return literal.empty() ? nullptr : &literal;
}

bool Matcher::KnownToFail(const TRegexEngine& engine, int from) {
  const MatchScratch* s = engine.scratch_.get();
  if (s == nullptr || !s->prepared || s->tables_version != engine.tables_version_ ||
      engine.modifiers_ != engine.program_modifiers_ ||
      !g_filters_enabled.load(std::memory_order_relaxed))
    return false;
  const auto fails = [&](const RejectionCache& cache) {
    return cache.Knows(engine.input_version_, from) && cache.hit < from;
  };
  return fails(s->literal_cache) || fails(s->units_cache);
}

void Matcher::RecordRejection(TRegexEngine& engine, int hit) {
  engine.scratch_->literal_cache.Record(engine.input_version_, 0, hit);
}

void Matcher::Checkpoint() {
  s_.countdown = kCancelCheckInterval;
  const std::atomic<bool>* flag = e_.cancel_flag_;
  if (flag != nullptr && flag->load(std::memory_order_relaxed)) throw ECancelled();
}

bool Matcher::Run(int start) {
  MatchScratch& s = s_;
  const char16_t* const prog = prog_;
  const char16_t* const in = in_;
  const int end = end_;
  int32_t* const regs = s.regs.data();

  s.frame_count = 0;
  s.undo_count = 0;
  if (s.groups_dirty) {
    std::fill(regs, regs + kDepthSlot, -1);
    s.groups_dirty = false;
  }
  if (s.links_dirty) {
    std::fill(regs + kLinkSlot, regs + s.regs.size(), -1);
    s.links_dirty = false;
  }
  regs[kDepthSlot] = 0;
  guard_active_ = false;

  int cursor = start;
  int node = kFirstNode;
#ifdef TALLYFOLD_MATCH_STEP_LIMIT
  // Fuzzing builds give up on an attempt that runs too long, so that only
  // a real hang times the fuzzer out.
  long long steps = 0;
  s.attempt_cut = false;
#endif
  // The countdown lives in a register while the attempt runs.
  int32_t countdown = s.countdown;
  for (;;) {
    if (--countdown <= 0) {
      Checkpoint();
      countdown = s.countdown;
    }
#ifdef TALLYFOLD_MATCH_STEP_LIMIT
    if (++steps > TALLYFOLD_MATCH_STEP_LIMIT) {
      s.countdown = countdown;
      s.attempt_cut = true;
      return false;
    }
#endif
    if (!NodeFits(prog_size_, node)) Raise(1002);
    const char16_t op = prog[node];
    const int next = NextNode(prog, node);
    switch (op) {
      case MATCH_END:
        for (int g = 1; g < TRegexEngine::kGroupSlots; ++g) {
          e_.group_start_[g] = regs[kStartSlot + g];
          e_.group_end_[g] = regs[kEndSlot + g];
        }
        e_.input_cursor_ = cursor;
        s.countdown = countdown;
        return true;

      case INPUT_START:
        if (cursor != 0) goto fail;
        node = next;
        continue;

      case INPUT_END:
        if (cursor != end) goto fail;
        node = next;
        continue;

      case ANY_CHAR:
        if (cursor >= end) goto fail;
        ++cursor;
        node = next;
        continue;

      case LITERAL: {
        const char16_t* lit = NodeText(prog, node);
        const char16_t* p = in + cursor;
        // The input's terminating 0 never equals a literal character.
        for (; *lit != 0; ++lit, ++p)
          if (*p != *lit) goto fail;
        cursor = static_cast<int>(p - in);
        node = next;
        continue;
      }

      case LITERAL_CI: {
        const char16_t* lit = NodeText(prog, node);
        const char16_t* p = in + cursor;
        for (; *lit != 0; ++lit, ++p)
          if (*p == 0 || (*p != *lit && *p != Invert(*lit))) goto fail;
        cursor = static_cast<int>(p - in);
        node = next;
        continue;
      }

      case IN_SET: case NOT_IN_SET: case IN_SET_CI: case NOT_IN_SET_CI:
      case DIGIT: case NOT_DIGIT: case WORD_CHAR: case NOT_WORD_CHAR:
      case SPACE_CHAR: case NOT_SPACE_CHAR:
        if (cursor >= end || !TestOne(node, in[cursor])) goto fail;
        ++cursor;
        node = next;
        continue;

      case ANY_BUT_SEPARATOR: {
        if (cursor >= end) goto fail;
        const char16_t ch = in[cursor];
        if (ch == e_.paired_separator_head_ &&
            in[cursor + 1] == e_.paired_separator_tail_)
          goto fail;
        if (IsSeparator(ch)) goto fail;
        ++cursor;
        node = next;
        continue;
      }

      case LINE_START:
        if (cursor != 0) {
          const char16_t head = e_.paired_separator_head_;
          const char16_t tail = e_.paired_separator_tail_;
          const char16_t before = in[cursor - 1];
          if (before == tail && cursor >= 2 && in[cursor - 2] == head) {
            // just after a complete pair
          } else if (before == head && in[cursor] == tail) {
            goto fail;  // inside a pair
          } else if (!IsSeparator(before)) {
            goto fail;
          }
        }
        node = next;
        continue;

      case LINE_END:
        if (cursor != end) {
          const char16_t head = e_.paired_separator_head_;
          const char16_t tail = e_.paired_separator_tail_;
          const char16_t ch = in[cursor];
          if (ch == head && in[cursor + 1] == tail) {
            // just before a complete pair
          } else if (ch == tail && cursor != 0 && in[cursor - 1] == head) {
            goto fail;  // inside a pair
          } else if (!IsSeparator(ch)) {
            goto fail;
          }
        }
        node = next;
        continue;

      case WORD_BOUNDARY:
      case NOT_WORD_BOUNDARY: {
        const bool boundary = IsWordAt(cursor - 1) != IsWordAt(cursor);
        if (boundary != (op == WORD_BOUNDARY)) goto fail;
        node = next;
        continue;
      }

      case EMPTY:
      case COMMENT:
        node = next;
        continue;

      case LINK:
        // A back-reference to an empty capture can make a loop iteration
        // consume nothing; a LINK reached twice at the same position would
        // then cycle for ever, so the second arrival fails.
        if (guard_active_) {
          const int slot = kLinkSlot + node;
          if (regs[slot] == cursor) goto fail;
          Set(slot, cursor);
          s.links_dirty = true;
        }
        node = next;
        continue;

      case ALTERNATIVE: {
        if (NextAlternative(node) < 0) {
          node = AlternativeBody(node);  // a single choice needs no choice point
          continue;
        }
        const int alternative = FirstViable(node, cursor);
        if (alternative < 0) goto fail;
        const int later = FirstViable(NextAlternative(alternative), cursor);
        if (later >= 0)
          s.PushFrame({later, cursor, static_cast<int32_t>(s.undo_count), 0});
        node = AlternativeBody(alternative);
        continue;
      }

      case BACKREF:
      case BACKREF_CI: {
        int from, length;
        if (!Captured(node, from, length)) goto fail;
        if (!BackrefAt(node, from, cursor, length)) goto fail;
        if (length == 0) guard_active_ = true;
        cursor += length;
        node = next;
        continue;
      }

      case REPEAT_STAR: case REPEAT_PLUS: case REPEAT_BRACES:
      case REPEAT_STAR_LAZY: case REPEAT_PLUS_LAZY: case REPEAT_BRACES_LAZY: {
        Repeat r = ShapeOf(prog, prog_size_, node);
        if (r.ahead != 0 && prog[r.ahead_node] == LITERAL_CI) r.ahead_other = Invert(r.ahead);
        if (!NodeFits(prog_size_, r.operand) || !IsCountable(prog[r.operand]))
          Raise(1000);
        if (r.min > r.max) goto fail;
        int step = 1;
        int captured = 0;
        if (IsBackref(prog[r.operand])) {
          if (!Captured(r.operand, captured, step)) {
            // An unset group repeats zero times.
            if (r.min > 0 || !r.Allows(in[cursor])) goto fail;
            node = r.next;
            continue;
          }
          if (step == 0) {
            // Every count leaves the cursor in place: the minimum count
            // stands for them all, and the continuation is tried once.
            guard_active_ = true;
            if (!r.Allows(in[cursor])) goto fail;
            node = r.next;
            continue;
          }
        }
        if (!r.lazy) {
          int n;
          if (step == 1 && !IsBackref(prog[r.operand])) {
            n = Count(r.operand, cursor, r.max);
          } else {
            n = 0;
            for (int pos = cursor;
                 n < r.max && BackrefAt(r.operand, captured, pos, step); pos += step)
              ++n;
          }
          if (n < r.min) goto fail;
          bool shorter = n > r.min;  // a shorter count remains to be tried
          if (r.ahead != 0) {
            while (n >= r.min && !r.Fits(in[cursor + n * step])) --n;
            if (n < r.min) goto fail;
            // Often no shorter count lets the literal start (a run of
            // letters before a space): then no choice point is needed.
            int lower = n - 1;
            while (lower >= r.min && !r.Fits(in[cursor + lower * step])) --lower;
            shorter = lower >= r.min;
          }
          if (shorter)
            s.PushFrame({node, cursor, static_cast<int32_t>(s.undo_count), n});
          cursor += n * step;
        } else {
          int n = 0;
          int pos = cursor;
          for (; n < r.min; ++n, pos += step)
            if (!UnitAt(r.operand, captured, pos, step)) goto fail;
          while (!r.Allows(in[pos])) {
            if (n >= r.max || !UnitAt(r.operand, captured, pos, step)) goto fail;
            ++n;
            pos += step;
          }
          if (n < r.max)
            s.PushFrame({node, cursor, static_cast<int32_t>(s.undo_count), n});
          cursor = pos;
        }
        node = r.next;
        continue;
      }

      case LOOP_ENTRY: {
        const int depth = regs[kDepthSlot] + 1;
        if (depth > TRegexEngine::kLoopStackSize) Raise(1014);
        Set(kDepthSlot, depth);
        Set(kCounterSlot + depth, 0);
        Set(kLoopStartSlot + depth, cursor);
        node = next;
        continue;
      }

      case LOOP:
      case LOOP_LAZY: {
        const int depth = regs[kDepthSlot];
        if (depth <= 0) Raise(1015);
        if (!LoopFits(prog_size_, node)) Raise(1002);
        const int32_t min = LoopMin(prog, node);
        const int32_t max = LoopMax(prog, node);
        const int body = LoopBody(prog, node);
        const int32_t count = regs[kCounterSlot + depth];
        if (count > 0 && cursor == regs[kLoopStartSlot + depth]) {
          // The last iteration consumed nothing (only an empty
          // back-reference allows that); more would be the same again, so
          // the loop ends here as if its minimum were reached.
          Set(kDepthSlot, depth - 1);
          node = next;
          continue;
        }
        if (count < min || (op == LOOP && count < max)) {
          if (count >= min)  // greedy: leaving the loop remains to be tried
            s.PushFrame({node, cursor, static_cast<int32_t>(s.undo_count), count});
          Set(kCounterSlot + depth, count + 1);
          Set(kLoopStartSlot + depth, cursor);
          node = body;
          continue;
        }
        // Greedy at its maximum, or lazy with its minimum reached: the
        // continuation runs with this loop finished; a lazy loop keeps one
        // more iteration as the choice to fall back on.
        if (op == LOOP_LAZY && count < max)
          s.PushFrame({node, cursor, static_cast<int32_t>(s.undo_count), count});
        Set(kDepthSlot, depth - 1);
        node = next;
        continue;
      }

      default:
        if (IsOpen(op)) {
          Set(kStartSlot + OpenGroup(op), cursor);
          s.groups_dirty = true;
          node = next;
          continue;
        }
        if (IsClose(op)) {
          Set(kEndSlot + CloseGroup(op), cursor);
          s.groups_dirty = true;
          node = next;
          continue;
        }
        Raise(1001);
    }

  fail:
    if (!Backtrack(node, cursor)) {
      s.countdown = countdown;
      return false;
    }
  }
}

// Resumes the newest choice point that still has something to try: rolls the
// registers back to the moment of the choice and sets `node` and `cursor` to
// the next path. False when no choice is left: the attempt fails.
bool Matcher::Backtrack(int& node, int& cursor) {
  MatchScratch& s = s_;
  int32_t* const regs = s.regs.data();
  while (s.frame_count != 0) {
    MatchScratch::Frame& frame = s.frames[s.frame_count - 1];
    UndoTo(frame.mark);
    const int at = frame.node;
    const int from = frame.cursor;
    switch (prog_[at]) {
      case ALTERNATIVE: {
        const int later = FirstViable(NextAlternative(at), from);
        if (later >= 0)
          frame.node = later;
        else
          --s.frame_count;
        cursor = from;
        node = AlternativeBody(at);
        return true;
      }

      case LOOP:
        // The extra iteration failed: leave the loop instead.
        --s.frame_count;
        cursor = from;
        Set(kDepthSlot, regs[kDepthSlot] - 1);
        node = NextNode(prog_, at);
        return true;

      case LOOP_LAZY: {
        // The continuation failed: the loop is active again at its old
        // count; try one more iteration.
        --s.frame_count;
        cursor = from;
        const int depth = regs[kDepthSlot];
        Set(kCounterSlot + depth, regs[kCounterSlot + depth] + 1);
        Set(kLoopStartSlot + depth, from);
        node = LoopBody(prog_, at);
        return true;
      }

      default: {
        Repeat r = ShapeOf(prog_, prog_size_, at);
        if (r.ahead != 0 && prog_[r.ahead_node] == LITERAL_CI) r.ahead_other = Invert(r.ahead);
        // The registers are back as they were when the choice was made, so
        // a repeated back-reference names the same capture as then.
        int step = 1;
        int captured = 0;
        if (IsBackref(prog_[r.operand]) && !Captured(r.operand, captured, step)) {
          --s.frame_count;
          continue;
        }
        int n = frame.count;
        if (!r.lazy) {
          --n;
          if (r.ahead != 0)
            while (n >= r.min && !r.Fits(in_[from + n * step])) --n;
          if (n < r.min) {
            --s.frame_count;
            continue;
          }
          if (n > r.min)
            frame.count = n;
          else
            --s.frame_count;
          cursor = from + n * step;
        } else {
          int pos = from + n * step;
          bool found = false;
          while (n < r.max && UnitAt(r.operand, captured, pos, step)) {
            ++n;
            pos += step;
            if (r.Allows(in_[pos])) {
              found = true;
              break;
            }
          }
          if (!found) {
            --s.frame_count;
            continue;
          }
          if (n < r.max)
            frame.count = n;
          else
            --s.frame_count;
          cursor = pos;
        }
        node = r.next;
        return true;
      }
    }
  }
  return false;
}

}  // namespace tallyfold::regex_internal
