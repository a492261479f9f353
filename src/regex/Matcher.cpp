// The matcher: the dispatch loop over the program's nodes, the choice points
// that stand in for recursion, and the stacks and registers they work on.
//
// This file's external interface is just Matcher (Matcher.h), used by the
// search driver in SearchDriver.cpp, and the linear path's record
// VisitedStates. Covered by tests/regex/MatcherTest.cpp, LinearPathTest.cpp
// and PcreDifferentialTest.cpp.
#include "regex/Matcher.h"

#include <algorithm>
#include <atomic>
#include <cassert>
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

}  // namespace

void RaiseOutOfMemory() {
  throw Exception("TRegexEngine(exec): Out Of Memory While Matching");
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

void MatchScratch::ResetRegisters(int program_size) {
  linear_after_budget = false;
  regs.assign(kLinkSlot + static_cast<std::size_t>(program_size), -1);
  groups_dirty = false;
  links_dirty = false;
}

bool MatchScratch::RegistersFit(int program_size) const {
  return regs.size() == kLinkSlot + static_cast<std::size_t>(program_size);
}

void MatchScratch::Release() {
  std::vector<Frame>().swap(frames);
  std::vector<Undo>().swap(undo);
  frame_count = undo_count = 0;
}

// ---------------------------------------------------------------------------
// The linear path's record

void VisitedStates::Clear(int start, int end) {
  const std::size_t most = std::max<std::size_t>(1, budget_words / static_cast<std::size_t>(words));
  positions = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(most), end + 1 - start));
  const std::size_t used = static_cast<std::size_t>(positions) * words;
  if (bits.size() < used) bits.resize(used);
  std::fill(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(used), 0);
  base = floor = start;
}

// Slots of a new sparse record.
constexpr std::size_t kFirstSlots = 1024;

void VisitedStates::ClearSparse() {
  if (used != 0 || slots.empty()) {
    // A table grown for one long attempt is given back once it is cleared.
    if (slots.size() != kFirstSlots) {
      std::vector<uint64_t>(kFirstSlots, 0).swap(slots);
    } else {
      std::fill(slots.begin(), slots.end(), 0);
    }
  }
  used = 0;
}

namespace {

uint64_t SparseKey(int pos, int32_t state) {
  return ((static_cast<uint64_t>(static_cast<uint32_t>(pos)) << 32) |
          static_cast<uint32_t>(state)) + 1;
}

std::size_t SparseSlot(uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 29) & mask;
}

}  // namespace

bool VisitedStates::SparseHas(int pos, int32_t state) const {
  if (pos < floor) return false;
  const uint64_t key = SparseKey(pos, state);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t at = SparseSlot(key, mask);; at = (at + 1) & mask) {
    if (slots[at] == key) return true;
    if (slots[at] == 0) return false;
  }
}

bool VisitedStates::SparseEnter(int pos, int32_t state) {
  const uint64_t key = SparseKey(pos, state);
  std::size_t mask = slots.size() - 1;
  std::size_t at = SparseSlot(key, mask);
  for (; slots[at] != 0; at = (at + 1) & mask)
    if (slots[at] == key) return true;
  if (2 * (used + 1) > slots.size()) {
    if (slots.size() * 2 > budget_slots) {
      // Full: forget what failed so far, as a new record would.
      std::fill(slots.begin(), slots.end(), 0);
      used = 0;
      ++sparse_resets;
    } else {
      std::vector<uint64_t> old(slots.size() * 2, 0);
      old.swap(slots);
      mask = slots.size() - 1;
      for (const uint64_t k : old) {
        if (k == 0) continue;
        std::size_t to = SparseSlot(k, mask);
        while (slots[to] != 0) to = (to + 1) & mask;
        slots[to] = k;
      }
    }
    at = SparseSlot(key, mask);
    while (slots[at] != 0) at = (at + 1) & mask;
  }
  slots[at] = key;
  ++used;
  return false;
}

void VisitedStates::BeginAttempt(int start, int end, uint64_t input, uint64_t tables,
                                 int states) {
  if (states > dense_limit) {
    if (!sparse || !trusted || input != input_version || tables != tables_version ||
        start < floor) {
      input_version = input;
      tables_version = tables;
      sparse = true;
      words = positions = 0;
      base = floor = start;
      ClearSparse();
    }
    trusted = false;
    return;
  }
  if (sparse) {
    // Back to a dense record, which the test below clears.
    sparse = false;
    trusted = false;
  }
  const int needed = (states + 63) / 64;
  if (!trusted || input != input_version || tables != tables_version || needed != words ||
      start < floor || start < base || start >= base + positions) {
    input_version = input;
    tables_version = tables;
    words = needed;
    Clear(start, end);
  } else if (start - base > positions / 2 && base + positions <= end) {
    // Keep what is known from `start` on and cover as far past it as the
    // budget allows.
    const std::size_t shift = static_cast<std::size_t>(start - base) * words;
    const std::size_t kept = static_cast<std::size_t>(positions) * words - shift;
    std::copy(bits.begin() + static_cast<std::ptrdiff_t>(shift),
              bits.begin() + static_cast<std::ptrdiff_t>(shift + kept), bits.begin());
    const std::size_t most = std::max<std::size_t>(1, budget_words / static_cast<std::size_t>(words));
    positions = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(most), end + 1 - start));
    const std::size_t used = static_cast<std::size_t>(positions) * words;
    if (bits.size() < used) bits.resize(used);
    std::fill(bits.begin() + static_cast<std::ptrdiff_t>(kept),
              bits.begin() + static_cast<std::ptrdiff_t>(used), 0);
    base = start;
  }
  trusted = false;
}

void VisitedStates::EndAttempt(bool matched, bool cut, int at) {
  // An attempt cut short entered states it did not finish trying.
  if (cut) return;
  if (matched && sparse) {
    // The states at the match's end are on its path; the record of the
    // next search keeps only what lies past it.
    floor = std::max(floor, at + 1);
  } else if (matched) {
    // The match's own path entered states without failing from them; those
    // before its end are never looked at by a search that starts there.
    floor = std::max(floor, at);
    const unsigned rel = static_cast<unsigned>(at - base);
    if (rel < static_cast<unsigned>(positions)) {
      const auto first = bits.begin() + static_cast<std::ptrdiff_t>(std::size_t{rel} * words);
      std::fill(first, first + words, 0);
    }
  }
  trusted = true;
}

// ---------------------------------------------------------------------------
// Binding

Matcher::Matcher(TRegexEngine& engine, const std::vector<char16_t>& program,
                 const PreparedProgram& prepared, MatchScratch& scratch)
    : e_(engine),
      p_(prepared),
      s_(scratch),
      prog_(program.data()),
      prog_size_(static_cast<int>(program.size())),
      in_(engine.input_buffer_.get()),
      end_(engine.input_end_),
      filters_(engine.options_.filters),
      linear_(ChoosePath(prepared, engine.options_, false).linear),
      has_linear_(engine.options_.linear && prepared.states.per_position > 0),
      budget_(engine.options_.backtrack_budget) {
  if (!s_.RegistersFit(prog_size_)) s_.ResetRegisters(prog_size_);
  if (s_.linear_after_budget && has_linear_) linear_ = true;
}

// ---------------------------------------------------------------------------
// Character tests

bool Matcher::IsWordAt(int pos) const {
  return pos >= 0 && pos < end_ && p_.word.Contains(in_[pos]);
}

// ---------------------------------------------------------------------------
// Repetition

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
      const int index = p_.set_index[operand];
      if (index < 0) break;
      const SetInfo& info = p_.sets[index];
      for (; n < limit; ++n) {
        const char16_t ch = p[n];
        if (ch < 128 ? !Bit(info.ascii, ch)
                     : !(info.has_wide && p_.WideHas(info, ch)))
          return n;
      }
      return n;
    }
    case WORD_CHAR:
      while (n < limit && p_.word.Contains(p[n])) ++n;
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

int Matcher::FirstViable(int alternative, int cursor) const {
  if (!filters_) return alternative;
  const bool at_end = cursor >= end_;
  const char16_t ch = at_end ? char16_t{0} : in_[cursor];
  if (!at_end && alternative >= 0 && !p_.alternation_of.empty()) {
    const int32_t index = p_.alternation_of[alternative];
    if (index >= 0) {
      // A long alternation: only the alternatives listed for the unit.
      const AlternationIndex& a = p_.alternations[index];
      const int list = ch < 128 ? ch : 128;
      const int32_t* const last = a.alts.data() + a.begin[list + 1];
      for (const int32_t* it = std::lower_bound(a.alts.data() + a.begin[list], last, alternative);
           it != last; ++it)
        if (ch < 128 || MayStartWith(p_, prog_, prog_size_, *it, ch, false)) return *it;
      return -1;
    }
  }
  for (; alternative >= 0; alternative = NextAlternative(alternative)) {
    const int index = ch < 128 ? p_.set_index[alternative] : -1;
    if (index >= 0 ? (at_end ? p_.alternatives[index].at_end : Bit(p_.alternatives[index].ascii, ch))
                   : MayStartWith(p_, prog_, prog_size_, alternative, ch, at_end))
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

int32_t Matcher::StateOf(int node) const {
  const StateNumbering& numbering = p_.states;
  int32_t state = numbering.state_base[node];
  int32_t scale = 1;
  const int32_t* regs = s_.regs.data();
  for (int loop = numbering.loop_of[node]; loop >= 0; loop = numbering.loops[loop].parent) {
    const CountedLoopInfo& info = numbering.loops[loop];
    state += std::min(regs[kCounterSlot + info.depth], info.top) * scale;
    scale *= info.top + 1;
  }
  // The numbering covers every node the matcher can reach (NumberStates).
  assert(state >= 0 && state < numbering.per_position);
  return state;
}

bool Matcher::MatchAt(int start) {
  bool matched = false;
  try {
    if (!linear_) {
      matched = Run<false>(start);
      if (s_.over_budget) {
        // A program the plain backtracker runs faster has taken too many
        // steps here: this attempt and the searches after it run on the
        // linear path, which bounds their work. Without one the attempt
        // must backtrack, and the search ends with an error instead of
        // running for hours.
        if (!has_linear_) Raise(kErrorStepBudget);
        linear_ = s_.linear_after_budget = true;
      }
    }
    if (linear_) {
      VisitedStates& visited = s_.visited;
      visited.BeginAttempt(start, end_, e_.input_version_, e_.tables_version_,
                           p_.states.per_position);
      matched = Run<true>(start);
      visited.EndAttempt(matched, s_.attempt_cut, e_.input_cursor_);
    }
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  }
  // Only a program with counted loops over complex bodies changes them.
  if (p_.has_loops) {
    const int32_t* regs = s_.regs.data();
    e_.loop_depth_ = regs[kDepthSlot];
    for (int d = 1; d <= TRegexEngine::kLoopStackSize; ++d)
      e_.loop_counters_[d] = regs[kCounterSlot + d];
  }
  return matched;
}

void Matcher::CheckCancel() {
  s_.countdown = kCancelCheckInterval;
  ThrowIfCancelled(e_.cancel_flag_);
}

bool Matcher::Checkpoint() {
  CheckCancel();
  s_.attempt_steps += s_.countdown_start;
  if (s_.step_limit > 0) {
    s_.steps_left -= s_.countdown_start;
    if (s_.steps_left <= 0) return false;
    s_.countdown = std::min(kCancelCheckInterval, s_.steps_left);
  }
  s_.countdown_start = s_.countdown;
  return true;
}

template <bool kLinear>
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
  guard_active_ = p_.has_empty_literal;

  int cursor = start;
  int node = kFirstNode;
  // The countdown lives in a register while the attempt runs.
  int32_t countdown = s.countdown;
  s.attempt_cut = false;
  s.over_budget = false;
  s.attempt_steps = 0;
  if (s.step_limit > 0) {
    // A bounded attempt: the countdown runs out no later than the bound.
    s.steps_left = s.step_limit;
    countdown = std::min(countdown, s.step_limit);
  }
  s.countdown_start = countdown;
  for (;;) {
    if (--countdown <= 0) {
      if (!Checkpoint()) {
        s.attempt_cut = true;
        ++s.attempts_cut;
        return false;
      }
      countdown = s.countdown;
      if constexpr (!kLinear) {
        if (budget_ > 0 && s.attempt_steps >= budget_) {
          s.over_budget = true;
          return false;
        }
      }
    }
    if (!NodeFits(prog_size_, node)) Raise(1002);
    const char16_t op = prog[node];
    const int next = NextNode(prog, node);
    [[maybe_unused]] int32_t state = 0;
    if constexpr (kLinear) {
      state = StateOf(node);
      if (s.visited.Enter(cursor, state)) goto fail;
    }
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
        // Every unit of the input may equal a literal character, U+0000
        // included, so the length is checked against the input end first.
        const int32_t length = TextLength(prog, node);
        if (length > end - cursor) goto fail;
        const char16_t* lit = NodeText(prog, node);
        const char16_t* p = in + cursor;
        for (int32_t i = 0; i < length; ++i)
          if (p[i] != lit[i]) goto fail;
        cursor += length;
        node = next;
        continue;
      }

      case LITERAL_CI: {
        const int32_t length = TextLength(prog, node);
        if (length > end - cursor) goto fail;
        const char16_t* lit = NodeText(prog, node);
        const char16_t* p = in + cursor;
        for (int32_t i = 0; i < length; ++i)
          if (p[i] != lit[i] && p[i] != Invert(lit[i])) goto fail;
        cursor += length;
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
        if (ch == e_.paired_separator_head_ && cursor + 1 < end &&
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
          } else if (before == head && cursor < end && in[cursor] == tail) {
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
          if (ch == head && cursor + 1 < end && in[cursor + 1] == tail) {
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
        if (r.HasAhead() && prog[r.ahead_node] == LITERAL_CI) r.ahead_other = Invert(r.ahead);
        if (!NodeFits(prog_size_, r.operand) || !IsCountable(prog[r.operand]))
          Raise(1000);
        if (r.min > r.max) goto fail;
        if constexpr (kLinear) {
          // An unbounded repeat whose operand matches here has a run that
          // ends where the run from the next position ends. The same
          // repeat tried from the next position (which cannot be on this
          // path, as positions never go back) failed with every count but
          // the smallest from here; and a greedy one tried from the
          // position before (failed, or on this path and past the counts
          // that this one would try) took every count from here.
          const VisitedStates& visited = s.visited;
          if (r.max >= kOpenMax && cursor < end && TestOne(r.operand, in[cursor])) {
            if (cursor + 1 >= visited.floor && visited.Has(cursor + 1, state)) {
              if (Count(r.operand, cursor, r.min) < r.min || !r.Allows(in[cursor + r.min]))
                goto fail;
              cursor += r.min;
              node = r.next;
              continue;
            }
            if (!r.lazy && cursor - 1 >= visited.floor && TestOne(r.operand, in[cursor - 1]) &&
                visited.Has(cursor - 1, state))
              goto fail;
          }
        }
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
          if (r.HasAhead()) {
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
        if (r.HasAhead() && prog_[r.ahead_node] == LITERAL_CI) r.ahead_other = Invert(r.ahead);
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
          if (r.HasAhead())
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
