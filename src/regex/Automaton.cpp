// The automaton path (Automaton.h): the NFA built from a program's
// configurations, and the lazy DFA over it.
//
// This file's external interface is BuildAutomaton, called by the program
// analysis (ProgramAnalysis.cpp), and LazyDfa, run by the search driver
// (SearchDriver.cpp). Covered by tests/regex/AutomatonTest.cpp, which
// compares it with the backtracker on generated programs, and by the
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

// Whether the assertion `op` holds between a unit with context bits
// `before` and one with `after`. The line rules are those of the matcher
// when both units of the paired separator are separators themselves.
bool Holds(char16_t op, uint8_t before, uint8_t after) {
  switch (op) {
    case INPUT_START: return before & kCtxEdge;
    case INPUT_END: return after & kCtxEdge;
    case WORD_BOUNDARY: return ((before & kCtxWord) != 0) != ((after & kCtxWord) != 0);
    case NOT_WORD_BOUNDARY: return ((before & kCtxWord) != 0) == ((after & kCtxWord) != 0);
    case LINE_START:
      return (before & kCtxEdge) || ((before & kCtxSep) && !((before & kCtxHead) && (after & kCtxTail)));
    case LINE_END:
      return (after & kCtxEdge) || ((after & kCtxSep) && !((after & kCtxTail) && (before & kCtxHead)));
    default:
      return false;
  }
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

// ---------------------------------------------------------------------------
// The lazy DFA

void LazyDfa::Cache::Clear() {
  trans.clear();
  flags.clear();
  context.clear();
  key_at.clear();
  keys.clear();
  index.clear();
  bytes = 0;
  std::fill(std::begin(starts), std::end(starts), kNoState);
}

void LazyDfa::Reset() {
  ready_ = false;
  give_ups_ = 0;
  nfa_ = nullptr;
  forward_.Clear();
  reverse_.Clear();
}

void LazyDfa::Prepare(const AutomatonNfa& nfa, const PreparedProgram& prepared,
                      const char16_t* prog, char16_t head, char16_t tail) {
  nfa_ = &nfa;
  prepared_ = &prepared;
  prog_ = prog;
  head_ = head;
  tail_ = tail;
  class_bits_.assign(1, kCtxEdge);
  accepts_.assign(nfa.tests.size(), 0);
  class_of_signature_.clear();
  classes_ = 1;
  stride_ = 256;  // while the ASCII classes are made
  unknown_ = 255;
  uint8_t ascii[128];
  for (char16_t unit = 0; unit < 128; ++unit) ascii[unit] = NewClass(unit);
  // The last slot of every row stands for the units whose class is not
  // made yet; its transitions stay unknown, so the scan stops there.
  stride_ = std::min(255, classes_ + kWideClassSlack + 1);
  unknown_ = static_cast<uint8_t>(stride_ - 1);
  unit_class_.assign(65536, unknown_);
  std::copy(ascii, ascii + 128, unit_class_.begin());
  seen_.assign(nfa.states.size(), 0);
  generation_ = 0;
  forward_.Clear();
  reverse_.Clear();
  ready_ = true;
}

uint8_t LazyDfa::NewClass(char16_t unit) {
  const PreparedProgram& p = *prepared_;
  std::string signature;
  uint8_t bits = 0;
  if (p.word.Contains(unit)) bits |= kCtxWord;
  if (p.separators.Contains(unit)) bits |= kCtxSep;
  if (unit == head_) bits |= kCtxHead;
  if (unit == tail_) bits |= kCtxTail;
  bits &= nfa_->context_mask;
  signature += static_cast<char>(bits);
  for (const AutomatonNfa::Test& test : nfa_->tests) {
    const char16_t op = prog_[test.node];
    bool yes;
    if (test.unit >= 0) {
      const char16_t lit = NodeText(prog_, test.node)[test.unit];
      yes = unit == lit || (op == LITERAL_CI && unit == p.Invert(lit));
    } else if (op == ANY_BUT_SEPARATOR) {
      // Both units of the pair are separators (BuildAutomaton).
      yes = !p.separators.Contains(unit);
    } else {
      yes = p.TestOne(prog_, test.node, unit);
    }
    signature += yes ? '1' : '0';
  }
  const auto found = class_of_signature_.find(signature);
  if (found != class_of_signature_.end()) return found->second;
  if (classes_ >= unknown_) return unknown_;
  const uint8_t cls = static_cast<uint8_t>(classes_++);
  class_of_signature_.emplace(signature, cls);
  class_bits_.push_back(bits);
  for (std::size_t t = 0; t < nfa_->tests.size(); ++t)
    accepts_.push_back(signature[1 + t] == '1');
  return cls;
}

uint8_t LazyDfa::ClassOf(char16_t unit) {
  uint8_t cls = unit_class_[unit];
  if (cls == unknown_) {
    cls = NewClass(unit);
    unit_class_[unit] = cls;  // stays unknown when there is no room
  }
  return cls;
}

int32_t LazyDfa::Intern(Cache& cache, uint8_t context, uint8_t flags, bool restart,
                        const std::vector<int32_t>& kernel) {
  std::u32string key;
  key.reserve(kernel.size() + 1);
  key += static_cast<char32_t>(context | (flags << 8) | (restart ? 1 << 16 : 0));
  for (const int32_t id : kernel) key += static_cast<char32_t>(id);
  const auto found = cache.index.find(key);
  if (found != cache.index.end()) return found->second;
  const std::size_t cost = static_cast<std::size_t>(stride_) * sizeof(int32_t) +
                           2 * key.size() * sizeof(char32_t) + 64;
  // Links hold rows in 28 bits.
  if (cache.bytes + cost > budget_bytes ||
      cache.trans.size() + static_cast<std::size_t>(stride_) >= (std::size_t{1} << 28))
    return kFull;
  const int32_t state = static_cast<int32_t>(cache.flags.size());
  cache.bytes += cost;
  cache.trans.resize(cache.trans.size() + static_cast<std::size_t>(stride_), kNoState);
  uint8_t f = flags;
  if (kernel.empty() && !restart) f |= kDead;
  if (kernel.empty() && restart) f |= kIdle;
  cache.flags.push_back(f);
  cache.context.push_back(context);
  cache.key_at.push_back(static_cast<uint32_t>(cache.keys.size()));
  cache.keys.push_back(restart ? 1 : 0);
  cache.keys.push_back(static_cast<int32_t>(kernel.size()));
  cache.keys.insert(cache.keys.end(), kernel.begin(), kernel.end());
  cache.index.emplace(std::move(key), state);
  return state;
}

int32_t LazyDfa::StartState(Cache& cache, uint8_t context, bool forward) {
  int32_t& start = cache.starts[context & 31];
  if (start == kNoState) {
    kernel_.clear();
    if (!forward) kernel_.push_back(nfa_->match);
    start = Intern(cache, context, 0, forward, kernel_);
    if (start == kFull) {
      start = kNoState;
      return kFull;
    }
  }
  return start;
}

// The forward transition: the ordered closure of the state's threads (its
// kernel, then the start thread while it lives) with the assertions read
// between the state's context and `cls`; a match cuts every thread after
// it; the threads that consume `cls` give the next kernel.
int32_t LazyDfa::StepForward(int32_t state, uint8_t cls) {
  Cache& c = forward_;
  const AutomatonNfa& n = *nfa_;
  const uint8_t before = c.context[state];
  const uint8_t after = class_bits_[cls];
  const uint32_t at = c.key_at[state];
  const bool restart = c.keys[at] != 0;
  const int32_t size = c.keys[at + 1];
  if (++generation_ == 0) {
    std::fill(seen_.begin(), seen_.end(), 0);
    generation_ = 1;
  }
  kernel_.clear();
  bool matched = false;
  const uint8_t* accepts = accepts_.data() + static_cast<std::size_t>(cls) * n.tests.size();
  const auto run = [&](int32_t root) {
    stack_.clear();
    stack_.push_back(root);
    while (!stack_.empty()) {
      const int32_t id = stack_.back();
      stack_.pop_back();
      if (seen_[id] == generation_) continue;
      seen_[id] = generation_;
      ++work_;
      const AutomatonNfa::State& s = n.states[id];
      switch (s.kind) {
        case AutomatonNfa::kMatch:
          return true;
        case AutomatonNfa::kSplit:
          for (int k = s.count - 1; k >= 0; --k) stack_.push_back(n.outs[s.first + k]);
          break;
        case AutomatonNfa::kAssert:
          if (Holds(s.op, before, after)) stack_.push_back(s.next);
          break;
        case AutomatonNfa::kConsume:
          if (cls != 0 && accepts[s.test]) kernel_.push_back(s.next);
          break;
      }
    }
    return false;
  };
  for (int32_t k = 0; k < size && !matched; ++k) matched = run(c.keys[at + 2 + k]);
  if (!matched && restart) matched = run(n.start);
  // A unit may be consumed into one state by several threads; the first
  // has the priority, and the closure would pass over the others.
  if (++generation_ == 0) {
    std::fill(seen_.begin(), seen_.end(), 0);
    generation_ = 1;
  }
  closure_.clear();
  for (const int32_t id : kernel_) {
    if (seen_[id] == generation_) continue;
    seen_[id] = generation_;
    closure_.push_back(id);
  }
  const uint8_t context = cls == 0 ? uint8_t{kCtxEdge} : after;
  return Intern(c, context & 31, matched ? kMatchBefore : 0, restart && !matched && cls != 0,
                closure_);
}

// The reverse transition: the closure over the reversed graph (a set; any
// path will do, as the longest match is wanted) with the assertions read
// between `cls`, the unit before the position, and the state's context,
// the unit after it; reaching the program's start is a match starting here.
int32_t LazyDfa::StepReverse(int32_t state, uint8_t cls) {
  Cache& c = reverse_;
  const AutomatonNfa& n = *nfa_;
  const uint8_t after = c.context[state];
  const uint8_t before = class_bits_[cls];
  const uint32_t at = c.key_at[state];
  const int32_t size = c.keys[at + 1];
  if (++generation_ == 0) {
    std::fill(seen_.begin(), seen_.end(), 0);
    generation_ = 1;
  }
  bool matched = false;
  const uint8_t* accepts = accepts_.data() + static_cast<std::size_t>(cls) * n.tests.size();
  stack_.clear();
  closure_.clear();
  for (int32_t k = size - 1; k >= 0; --k) stack_.push_back(c.keys[at + 2 + k]);
  while (!stack_.empty()) {
    const int32_t id = stack_.back();
    stack_.pop_back();
    if (seen_[id] == generation_) continue;
    const AutomatonNfa::State& s = n.states[id];
    if (s.kind == AutomatonNfa::kAssert && !Holds(s.op, before, after)) continue;
    seen_[id] = generation_;
    ++work_;
    closure_.push_back(id);
    if (id == n.start) matched = true;
    for (int32_t e = n.rev_empty_begin[id]; e < n.rev_empty_begin[id + 1]; ++e)
      stack_.push_back(n.rev_empty[e]);
  }
  kernel_.clear();
  if (cls != 0) {
    for (const int32_t id : closure_)
      for (int32_t e = n.rev_consume_begin[id]; e < n.rev_consume_begin[id + 1]; ++e) {
        const int32_t from = n.rev_consume[e];
        if (accepts[n.states[from].test]) kernel_.push_back(from);
      }
    std::sort(kernel_.begin(), kernel_.end());
    kernel_.erase(std::unique(kernel_.begin(), kernel_.end()), kernel_.end());
  }
  const uint8_t context = cls == 0 ? uint8_t{kCtxEdge} : before;
  return Intern(c, context & 31, matched ? kMatchBefore : 0, false, kernel_);
}

int32_t LazyDfa::Link(const Cache& cache, int32_t state) const {
  return ((state * stride_) << kTagBits) | cache.flags[state];
}

// Units scanned between two reports to the ticker.
constexpr int kTickUnits = 4096;

LazyDfa::Outcome LazyDfa::Forward(const char16_t* in, int from, int end, ScanTicker& ticker,
                                  const StartFinder* finder, int& stop) {
  Cache& c = forward_;
  const uint8_t mask = nfa_->context_mask;
  const auto context_at = [&](int pos) -> int {
    if (pos == 0) return kCtxEdge & mask;
    const uint8_t cls = ClassOf(in[pos - 1]);
    return cls == unknown_ ? -1 : class_bits_[cls];
  };
  int pos = from;
  if (finder != nullptr) {
    pos = finder->Next(from);
    if (pos < 0) return kNone;
  }
  int context = context_at(pos);
  if (context < 0) return kGaveUp;
  // The current state as its link: its row in the table and its flags.
  const auto start_link = [&]() -> int32_t {
    const int32_t start = StartState(c, static_cast<uint8_t>(context), true);
    return start == kFull ? kFull : Link(c, start);
  };
  int32_t link = start_link();
  if (link == kFull) return kGaveUp;
  int last = -1;
  int ticked = pos;
  for (;;) {
    if (pos - ticked >= kTickUnits) {
      ticker.Scanned(pos - ticked);
      ticked = pos;
    }
    if (link & kMatchBefore) last = pos - 1;
    if (link & kDead) break;
    if ((link & kIdle) && finder != nullptr && last < 0) {
      // Nothing under way: on to the next place a match may start.
      const int next = finder->Next(pos);
      if (next < 0) break;
      if (next != pos) {
        pos = next;
        context = context_at(pos);
        if (context < 0) return kGaveUp;
        link = start_link();
        if (link == kFull) return kGaveUp;
        continue;
      }
    }
    if (pos > end) break;
    if (pos < end) {
      // The states' known transitions, until a state asks for attention
      // or a transition is still to be made; each unit costs one load of
      // the table.
      const int limit = std::min(end, pos + kTickUnits);
      const int32_t attention = kMatchBefore | kDead | (finder != nullptr && last < 0 ? kIdle : 0);
      const int32_t* const trans = c.trans.data();
      const uint8_t* const classes = unit_class_.data();
      bool moved = false;
      while (pos < limit) {
        const int32_t to = trans[(link >> kTagBits) + classes[in[pos]]];
        if (to < 0) break;
        link = to;
        ++pos;
        moved = true;
        if (to & attention) break;
      }
      if (moved || pos == end) continue;
    }
    const uint8_t cls = pos == end ? 0 : ClassOf(in[pos]);
    if (cls == unknown_) return kGaveUp;
    const int32_t row = link >> kTagBits;
    int32_t to = c.trans[row + cls];
    if (to < 0) {
      const int32_t made = StepForward(row / stride_, cls);
      if (made == kFull) return kGaveUp;
      to = c.trans[row + cls] = Link(c, made);
      // A new transition follows many NFA states; the cancel check
      // counts them as the matcher counts its steps.
      ticker.Scanned(work_);
      work_ = 0;
    }
    link = to;
    ++pos;
  }
  ticker.Scanned(pos - ticked);
  if (last < 0) return kNone;
  stop = last;
  return kFound;
}

LazyDfa::Outcome LazyDfa::Reverse(const char16_t* in, int from, int stop, int end,
                                  ScanTicker& ticker, int& start) {
  Cache& c = reverse_;
  uint8_t context = static_cast<uint8_t>(kCtxEdge & nfa_->context_mask);
  if (stop < end) {
    const uint8_t cls = ClassOf(in[stop]);
    if (cls == unknown_) return kGaveUp;
    context = class_bits_[cls];
  }
  const int32_t state = StartState(c, context, false);
  if (state == kFull) return kGaveUp;
  int32_t row = state * stride_;
  int best = -1;
  int pos = stop;
  int ticked = pos;
  for (;;) {
    // The transition at `pos` reads the unit before it; at the offset the
    // unit is only looked at, not consumed.
    uint8_t cls = pos == 0 ? 0 : unit_class_[in[pos - 1]];
    int32_t link = c.trans[row + cls];
    if (link < 0) {
      if (cls == unknown_) {
        cls = ClassOf(in[pos - 1]);
        if (cls == unknown_) return kGaveUp;
      }
      link = c.trans[row + cls];
      if (link < 0) {
        const int32_t made = StepReverse(row / stride_, cls);
        if (made == kFull) return kGaveUp;
        link = c.trans[row + cls] = Link(c, made);
        ticker.Scanned(work_);
        work_ = 0;
      }
    }
    if (link & kMatchBefore) best = pos;
    if (pos <= from || (link & kDead)) break;
    row = link >> kTagBits;
    --pos;
    if (ticked - pos >= kTickUnits) {
      ticker.Scanned(ticked - pos);
      ticked = pos;
    }
  }
  ticker.Scanned(ticked - pos);
  if (best < 0) return kGaveUp;  // cannot happen: the forward run saw a match
  start = best;
  return kFound;
}

LazyDfa::Outcome LazyDfa::Find(const AutomatonNfa& nfa, const PreparedProgram& prepared,
                               const char16_t* prog, char16_t pair_head, char16_t pair_tail,
                               const char16_t* in, int from, int end, ScanTicker& ticker,
                               const StartFinder* finder, int& start, int& stop) {
  if (!Enabled()) return kGaveUp;
  if (!ready_ || nfa_ != &nfa || prog_ != prog || head_ != pair_head || tail_ != pair_tail)
    Prepare(nfa, prepared, prog, pair_head, pair_tail);
  // A search that fills a cache starts again on an empty one; one that
  // fills it twice gives up.
  try {
    work_ = 0;
    for (int round = 0; round < 2; ++round) {
      Outcome outcome = Forward(in, from, end, ticker, finder, stop);
      if (outcome == kFound) outcome = Reverse(in, from, stop, end, ticker, start);
      if (outcome != kGaveUp) return outcome;
      forward_.Clear();
      reverse_.Clear();
    }
  } catch (...) {
    // A cancel, or an allocation or the case inverter failing half-way
    // through a new state or class: nothing made so far is trusted.
    ready_ = false;
    throw;
  }
  ++give_ups_;
  return kGaveUp;
}

}  // namespace tallyfold::regex_internal
