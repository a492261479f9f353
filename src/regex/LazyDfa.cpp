// The automaton path's lazy DFA (Automaton.h): the states made on demand
// over classes of UTF-16 units, the forward run that finds where the
// backtracker's match ends and the reverse run that finds where it starts.
//
// This file's external interface is LazyDfa, run by the search driver
// (SearchDriver.cpp). Covered by tests/regex/AutomatonTest.cpp, which
// compares it with the backtracker on generated programs, and by the
// reference differential test.
#include "regex/Automaton.h"

#include <algorithm>

#include "regex/ProgramAnalysis.h"

namespace tallyfold::regex_internal {
namespace {

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
