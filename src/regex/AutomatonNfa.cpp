// The automaton path's NFA (Automaton.h), built from a program's
// configurations: the backtracker's states without captures, with its
// order of choices on every edge, and the reversed graph the reverse run
// follows.
//
// This file's external interface is BuildAutomaton, called by the program
// analysis (ProgramAnalysis.cpp). Covered by tests/regex/AutomatonTest.cpp,
// which compares the automaton with the backtracker on generated programs,
// PathChoiceTest.cpp, which reads why a program is refused, and the
// reference differential test.
#include "regex/Automaton.h"

#include <algorithm>
#include <map>

#include "regex/ProgramAnalysis.h"

namespace tallyfold::regex_internal {
namespace {

// A backtracker configuration without captures: a node, a position inside
// it (a literal's unit, or 2 * count for a single-node repeat's choice and
// 2 * count + 1 for its operand), and the counters of the counted loops
// around it, innermost last.
using Config = std::vector<int32_t>;

bool IsUnitTest(char16_t op) {
  switch (op) {
    case ANY_CHAR: case IN_SET: case NOT_IN_SET: case IN_SET_CI: case NOT_IN_SET_CI:
    case DIGIT: case NOT_DIGIT: case WORD_CHAR: case NOT_WORD_CHAR: case SPACE_CHAR:
    case NOT_SPACE_CHAR: case ANY_BUT_SEPARATOR:
      return true;
    default:
      return false;
  }
}

class NfaBuilder {
 public:
  NfaBuilder(const char16_t* prog, int size, AutomatonNfa& out)
      : prog_(prog), size_(size), n_(out) {}

  bool Run() {
    n_.start = Id({kFirstNode, 0});
    while (!work_.empty()) {
      const auto [id, config] = work_.back();
      work_.pop_back();
      if (!Expand(id, config)) return false;
      if (static_cast<int>(n_.states.size()) > kMaxNfaStates) return Refuse(kReasonTooManyStates);
    }
    return n_.match >= 0;
  }
  // Why Run gave up, as PathReasons.
  uint32_t Reason() const { return reason_; }

 private:
  bool Refuse(uint32_t reason) {
    reason_ = reason;
    return false;
  }
  int32_t Id(const Config& config) {
    const auto found = ids_.find(config);
    if (found != ids_.end()) return found->second;
    const int32_t id = static_cast<int32_t>(n_.states.size());
    n_.states.emplace_back();
    ids_.emplace(config, id);
    work_.push_back({id, config});
    return id;
  }
  Config At(int node, int32_t sub, const Config& config) const {
    Config c = config;
    c[0] = node;
    c[1] = sub;
    return c;
  }
  int32_t TestOf(int node, int unit) {
    const auto key = std::make_pair(node, unit);
    const auto found = tests_.find(key);
    if (found != tests_.end()) return found->second;
    const int32_t index = static_cast<int32_t>(n_.tests.size());
    n_.tests.push_back({node, unit});
    tests_.emplace(key, index);
    return index;
  }
  void Split(int32_t id, std::initializer_list<int32_t> outs) {
    AutomatonNfa::State& s = n_.states[id];
    s.kind = AutomatonNfa::kSplit;
    s.first = static_cast<int32_t>(n_.outs.size());
    s.count = static_cast<int32_t>(outs.size());
    n_.outs.insert(n_.outs.end(), outs.begin(), outs.end());
  }
  void Consume(int32_t id, int32_t test, int32_t next) {
    AutomatonNfa::State& s = n_.states[id];
    s.kind = AutomatonNfa::kConsume;
    s.test = test;
    s.next = next;
  }

  bool Expand(int32_t id, const Config& config);

  const char16_t* prog_;
  int size_;
  AutomatonNfa& n_;
  std::map<Config, int32_t> ids_;
  std::map<std::pair<int, int>, int32_t> tests_;
  std::vector<std::pair<int32_t, Config>> work_;
  uint32_t reason_ = kReasonUnreadable;
};

bool NfaBuilder::Expand(int32_t id, const Config& config) {
  const int node = config[0];
  const int32_t sub = config[1];
  if (!NodeFits(size_, node)) return false;
  const char16_t op = prog_[node];
  const int next = NextNode(prog_, node);
  // The successor `node` with the same loop counters.
  const auto follow = [&](int to) { return Id(At(to, 0, config)); };
  if (IsUnitTest(op)) {
    if (next < 0) return false;
    // Ids may grow the state vector, so the successor is made first.
    const int32_t to = follow(next);
    Consume(id, TestOf(node, -1), to);
    return true;
  }
  switch (op) {
    case MATCH_END:
      if (config.size() != 2) return false;
      n_.states[id].kind = AutomatonNfa::kMatch;
      n_.match = id;
      return true;
    case EMPTY:
    case COMMENT:
    case LINK:  // no guard: without back-references and empty literals,
                // every iteration of a loop consumes a unit
      if (next < 0) return false;
      Split(id, {follow(next)});
      return true;
    case INPUT_START: case INPUT_END: case LINE_START: case LINE_END:
    case WORD_BOUNDARY: case NOT_WORD_BOUNDARY: {
      if (next < 0) return false;
      const int32_t to = follow(next);
      AutomatonNfa::State& s = n_.states[id];
      s.kind = AutomatonNfa::kAssert;
      s.op = op;
      s.next = to;
      switch (op) {
        case INPUT_START: case INPUT_END: n_.context_mask |= kCtxEdge; break;
        case WORD_BOUNDARY: case NOT_WORD_BOUNDARY: n_.context_mask |= kCtxWord; break;
        default: n_.context_mask |= kCtxEdge | kCtxSep | kCtxHead | kCtxTail; break;
      }
      return true;
    }
    case LITERAL:
    case LITERAL_CI: {
      if (!TextFits(prog_, size_, node) || next < 0) return false;
      if (sub >= TextLength(prog_, node)) return Refuse(kReasonEmptyLiteral);
      const int32_t to =
          sub + 1 == TextLength(prog_, node) ? follow(next) : Id(At(node, sub + 1, config));
      Consume(id, TestOf(node, sub), to);
      return true;
    }
    case ALTERNATIVE: {
      if (NextAlternative(prog_, size_, node) < 0) {
        Split(id, {follow(AlternativeBody(node))});
        return true;
      }
      std::vector<int32_t> outs;
      for (int alt = node; alt >= 0; alt = NextAlternative(prog_, size_, alt))
        outs.push_back(follow(AlternativeBody(alt)));
      AutomatonNfa::State& s = n_.states[id];
      s.kind = AutomatonNfa::kSplit;
      s.first = static_cast<int32_t>(n_.outs.size());
      s.count = static_cast<int32_t>(outs.size());
      n_.outs.insert(n_.outs.end(), outs.begin(), outs.end());
      return true;
    }
    case REPEAT_STAR: case REPEAT_PLUS: case REPEAT_BRACES:
    case REPEAT_STAR_LAZY: case REPEAT_PLUS_LAZY: case REPEAT_BRACES_LAZY: {
      if (OperandUnits(prog_, size_, node) < 0) return false;
      const Repeat r = ShapeOf(prog_, size_, node);
      if (!NodeFits(size_, r.operand) || !IsCountable(prog_[r.operand]) || r.next < 0)
        return false;
      if (IsBackref(prog_[r.operand])) return Refuse(kReasonBackReference);
      if (r.min > r.max) {
        Split(id, {});  // the backtracker fails such a repeat at once
        return true;
      }
      const bool open = r.max >= kOpenMax;
      const int32_t cap = open ? r.min : r.max;
      if (cap > kMaxNfaStates) return Refuse(kReasonTooManyStates);
      const int32_t count = sub / 2;
      if (sub % 2 == 1) {
        // The operand, then the choice with one more counted.
        const char16_t operand = prog_[r.operand];
        int32_t test;
        if (operand == LITERAL || operand == LITERAL_CI) {
          if (!TextFits(prog_, size_, r.operand)) return false;
          if (TextLength(prog_, r.operand) == 0) return Refuse(kReasonEmptyLiteral);
          if (TextLength(prog_, r.operand) != 1) return false;
          test = TestOf(r.operand, 0);
        } else {
          test = TestOf(r.operand, -1);
        }
        const int32_t to = Id(At(node, 2 * std::min(count + 1, cap), config));
        Consume(id, test, to);
        return true;
      }
      const bool more = open || count < r.max;
      const bool leave = count >= r.min;
      const int32_t again = more ? Id(At(node, sub + 1, config)) : -1;
      const int32_t out = leave ? follow(r.next) : -1;
      if (more && leave)
        Split(id, r.lazy ? std::initializer_list<int32_t>{out, again}
                         : std::initializer_list<int32_t>{again, out});
      else if (more)
        Split(id, {again});
      else
        Split(id, {out});
      return true;
    }
    case LOOP_ENTRY: {
      if (!LoopFits(size_, next) || !IsLoopEnd(prog_[next])) return false;
      if (static_cast<int>(config.size()) - 2 >= TRegexEngine::kLoopStackSize)
        return Refuse(kReasonMayRaise);
      Config inner = At(next, 0, config);
      inner.push_back(0);
      Split(id, {Id(inner)});
      return true;
    }
    case LOOP:
    case LOOP_LAZY: {
      if (config.size() <= 2 || !LoopFits(size_, node) || next < 0) return false;
      const int32_t min = LoopMin(prog_, node);
      const int32_t max = LoopMax(prog_, node);
      if (min < 0 || max < min) return false;
      const bool open = max >= kOpenMax;
      const int32_t cap = open ? min : max;
      const int32_t count = config.back();
      Config outer(config.begin(), config.end() - 1);
      outer[0] = next;
      outer[1] = 0;
      const auto body = [&] {
        Config c = At(LoopBody(prog_, node), 0, config);
        c.back() = std::min(count + 1, cap);
        return Id(c);
      };
      if (count < min || (op == LOOP && (open || count < max))) {
        const int32_t in = body();
        if (count >= min)
          Split(id, {in, Id(outer)});
        else
          Split(id, {in});
      } else if (op == LOOP_LAZY && (open || count < max)) {
        const int32_t out = Id(outer);
        Split(id, {out, body()});
      } else {
        Split(id, {Id(outer)});
      }
      return true;
    }
    default:
      if (IsOpen(op) || IsClose(op)) {
        if (next < 0) return false;
        n_.has_groups = true;
        Split(id, {follow(next)});
        return true;
      }
      return Refuse(IsBackref(op) ? kReasonBackReference : kReasonUnreadable);
  }
}

// Fills the reversed graph of `n` as compressed rows.
void Reverse(AutomatonNfa& n) {
  const int count = static_cast<int>(n.states.size());
  std::vector<std::vector<int32_t>> empty(count), consume(count);
  for (int id = 0; id < count; ++id) {
    const AutomatonNfa::State& s = n.states[id];
    switch (s.kind) {
      case AutomatonNfa::kConsume: consume[s.next].push_back(id); break;
      case AutomatonNfa::kAssert: empty[s.next].push_back(id); break;
      case AutomatonNfa::kSplit:
        for (int k = 0; k < s.count; ++k) empty[n.outs[s.first + k]].push_back(id);
        break;
      case AutomatonNfa::kMatch: break;
    }
  }
  const auto flatten = [count](const std::vector<std::vector<int32_t>>& rows,
                               std::vector<int32_t>& begin, std::vector<int32_t>& flat) {
    begin.assign(count + 1, 0);
    flat.clear();
    for (int id = 0; id < count; ++id) {
      begin[id] = static_cast<int32_t>(flat.size());
      flat.insert(flat.end(), rows[id].begin(), rows[id].end());
    }
    begin[count] = static_cast<int32_t>(flat.size());
  };
  flatten(empty, n.rev_empty_begin, n.rev_empty);
  flatten(consume, n.rev_consume_begin, n.rev_consume);
}

}  // namespace

void BuildAutomaton(const char16_t* program, int size, const PreparedProgram& prepared,
                    char16_t pair_head, char16_t pair_tail, AutomatonNfa& out) {
  out = AutomatonNfa();
  if (prepared.may_raise || prepared.has_empty_literal) {
    out.refused = prepared.may_raise ? kReasonMayRaise : kReasonEmptyLiteral;
    return;
  }
  // Every unit of a literal is an NFA state of its own: a program with
  // more of them (an alternation of thousands of words) is refused before
  // any is made, as the builder would refuse it after making them all.
  if (prepared.literal_units > kMaxNfaStates) {
    out.refused = kReasonTooManyStates;
    return;
  }
  NfaBuilder builder(program, size, out);
  if (!builder.Run()) {
    out = AutomatonNfa();
    out.refused = builder.Reason();
    return;
  }
  bool reads_lines = (out.context_mask & kCtxSep) != 0;
  for (const AutomatonNfa::Test& test : out.tests)
    if (program[test.node] == ANY_BUT_SEPARATOR) reads_lines = true;
  // The matcher looks two units ahead at a paired separator whose first
  // unit is no separator; the automaton looks one.
  if (reads_lines && (pair_head == 0 || pair_tail == 0 ||
                      !prepared.separators.Contains(pair_head) ||
                      !prepared.separators.Contains(pair_tail))) {
    out = AutomatonNfa();
    out.refused = kReasonPairedSeparator;
    return;
  }
  for (const AutomatonNfa::State& s : out.states)
    if (s.kind == AutomatonNfa::kSplit && s.count > 1) out.has_choices = true;
  Reverse(out);
  out.usable = true;
}

}  // namespace tallyfold::regex_internal
