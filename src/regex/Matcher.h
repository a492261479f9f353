// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// The backtracking matcher. It runs a compiled program (Program.h) at one
// start position of the engine's input and records where the match and its
// groups begin and end.
//
// The matcher is a flat dispatch loop. Where a choice may have to be undone
// (an alternation, a single-node repetition, a complex loop) it pushes a
// small choice point onto a heap-allocated stack instead of recursing; every
// change to group positions, loop counters and the loop depth made while a
// choice point is open is written to an undo log first. Failing pops the
// newest choice point, rolls the log back to where that choice was made and
// tries what remains of it, which is exactly where a recursive matcher would
// resume. Success needs no unwinding: it ends the whole attempt. So the depth
// of matching is limited by memory only, never by the thread's stack.
//
// The linear path runs the same loop and records every state it enters (a
// node, the counters of the counted loops around it and the input
// position; ProgramAnalysis.h numbers them). On a program without
// back-references, whether the rest of an attempt can succeed from a point
// depends on that state alone, and no path enters one state twice (every
// loop iteration consumes input, and a counted loop's counter grows). So
// a state entered a second time was entered by a path that has failed
// since, and failing at once gives the same first match, with the same
// captures, as trying it again would. Each state is tried once per input,
// not once per attempt: a state that failed fails from any start.
//
// A back-reference to an empty capture is the only thing that lets a loop
// iteration consume nothing. Such a loop ends instead of going round for
// ever: a counted loop stops after an empty iteration as if its count were
// reached, and the back edge of a greedy `*` or `+` fails when it is reached
// again at the same position.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "regex/ProgramAnalysis.h"
#include "regex/RegexEngine.h"

namespace tallyfold::regex_internal {

// Raises the exception that reports an allocation failure while searching.
[[noreturn]] void RaiseOutOfMemory();

// Matcher steps between two looks at the engine's cancellation flag.
constexpr int32_t kCancelCheckInterval = 4096;

// The linear path's record of the states entered on one input, one bit per
// state, kept between the searches of that input. Whatever it holds about
// positions at or after `floor` is true of every attempt that starts there:
// the states were entered by attempts that failed, or by the path of a
// match that ended at or before `floor`, except those at `floor` itself,
// which a match clears. It covers `positions` positions from `base` on, at
// most what `budget_words` allows; states at other positions are tried as
// the backtracker tries them.
//
// A program with more than kDenseStatesPerPosition states per position
// (counted loops nested in counted loops) is recorded sparsely instead: a
// hash set of the (position, state) pairs entered, which grows with the
// states an attempt actually reaches rather than with all the program
// has, up to `budget_slots`. A full set is emptied and filling starts
// again: the record only ever holds states that failed, so forgetting some
// costs time, never a result.
struct VisitedStates {
  std::vector<uint64_t> bits;  // `words` words per position from `base`
  int words = 0;               // 64-bit words per position
  int base = 0;                // first position covered
  int positions = 0;           // positions covered
  int floor = 0;               // attempts from here on may trust the record
  uint64_t input_version = 0;  // the engine's input the record is about
  uint64_t tables_version = 0; // and its program and sets
  // The record is complete: no attempt ended part-way (an exception, the
  // step bound) since it was last cleared.
  bool trusted = false;
  // The record's greatest size; the default is 8 MB.
  std::size_t budget_words = std::size_t{1} << 20;

  // The sparse record: open addressing over (position << 32 | state) + 1,
  // 0 for an empty slot, at most half full.
  bool sparse = false;
  std::vector<uint64_t> slots;
  std::size_t used = 0;
  // The sparse record's greatest number of slots; the default is 32 MB.
  std::size_t budget_slots = std::size_t{1} << 22;
  // Programs with more states per position than this are recorded
  // sparsely (tests lower it to run small programs that way).
  int32_t dense_limit = kDenseStatesPerPosition;
  uint64_t sparse_resets = 0;  // times a full sparse record was emptied

  // Readies the record for an attempt at `start` on an input whose end is
  // `end`: clears it unless it is about this input and program and may be
  // trusted from `start`, and moves its window up to `start` when `start`
  // lies in its upper half and the window stops short of the input end
  // (what lies before an attempt's start is never looked at again). The
  // attempt is untrusted until EndAttempt.
  void BeginAttempt(int start, int end, uint64_t input, uint64_t tables, int states);
  // After an attempt that did not throw: `cut` when the step bound ended
  // it, `matched` with the match's end `at`.
  void EndAttempt(bool matched, bool cut, int at);
  // Whether `state` at `pos` was entered.
  bool Has(int pos, int32_t state) const {
    if (sparse) return SparseHas(pos, state);
    assert(state >= 0 && (state >> 6) < words);
    const unsigned rel = static_cast<unsigned>(pos - base);
    return rel < static_cast<unsigned>(positions) &&
           ((bits[std::size_t{rel} * words + (state >> 6)] >> (state & 63)) & 1);
  }
  // Whether `state` at `pos` was entered before; marks it entered.
  [[gnu::always_inline]] bool Enter(int pos, int32_t state) {
    if (sparse) [[unlikely]]
      return SparseEnter(pos, state);
    assert(state >= 0 && (state >> 6) < words);
    const unsigned rel = static_cast<unsigned>(pos - base);
    if (rel >= static_cast<unsigned>(positions)) return false;
    uint64_t& word = bits[std::size_t{rel} * words + (state >> 6)];
    const uint64_t bit = uint64_t{1} << (state & 63);
    if (word & bit) return true;
    word |= bit;
    return false;
  }

 private:
  void Clear(int start, int end);
  void ClearSparse();
  bool SparseHas(int pos, int32_t state) const;
  bool SparseEnter(int pos, int32_t state);
};

// The matcher's reusable working memory, held by the engine between searches
// so that a search allocates nothing once the stacks have grown.
struct MatchScratch {
  // A choice point. The opcode at `node` says what remains to be tried:
  // ALTERNATIVE: that alternative; a single-node repeat: the next count after
  // `count`; LOOP: leaving the loop; LOOP_LAZY: one more iteration.
  struct Frame {
    int32_t node;
    int32_t cursor;  // input position to go back to
    int32_t mark;    // undo log size when the choice was made
    int32_t count;   // repetitions in force (single-node repeats)
  };
  // The old value of one register, written back on backtracking.
  struct Undo {
    int32_t slot;
    int32_t value;
  };

  VisitedStates visited;      // the linear path's record
  std::vector<Frame> frames;  // [0, frame_count) in use
  std::size_t frame_count = 0;
  std::vector<Undo> undo;  // [0, undo_count) in use
  std::size_t undo_count = 0;
  // Bytes the two stacks may occupy together; growing beyond raises the
  // out-of-memory error. Unlimited except in tests.
  std::size_t byte_limit = std::numeric_limits<std::size_t>::max();

  // Registers of one attempt (slot layout in Matcher.cpp): group positions,
  // loop depth, loop counters, loop start positions, and one position per
  // program unit for the empty-iteration guard of LINK nodes.
  std::vector<int32_t> regs;
  bool groups_dirty = true;  // a group register may be set
  bool links_dirty = true;   // a LINK register may be set

  // Steps left until the next look at the cancellation flag; it runs on
  // across attempts and searches, so short attempts are counted too.
  int32_t countdown = kCancelCheckInterval;

  // Steps one attempt may take (0: no bound; see the engine's
  // SetMatchStepLimit). The bound is checked where the countdown runs out,
  // so the countdown is shortened to what is left of it.
  int32_t step_limit = 0;
  int32_t steps_left = 0;       // of the bound, when the countdown last started
  int32_t countdown_start = 0;  // what the countdown last started from
  bool attempt_cut = false;     // the last attempt ran out of steps
  uint64_t attempts_cut = 0;    // attempts that ran out of steps, ever

  // Steps of the attempt under way, counted where the countdown runs out,
  // against the engine's backtrack budget.
  int64_t attempt_steps = 0;
  bool over_budget = false;  // the last plain attempt went over the budget
  // A plain attempt of the current program went over the budget, and the
  // program has a linear path: its searches run there from then on.
  bool linear_after_budget = false;

  // Sets every register to -1, sized for a program of `program_size` units.
  void ResetRegisters(int program_size);
  bool RegistersFit(int program_size) const;

  // Pushed on the dispatch loop's every choice, so kept inline there
  // however large the loop grows.
  [[gnu::always_inline]] void PushFrame(const Frame& frame) {
    if (frame_count == frames.size()) GrowFrames();
    frames[frame_count++] = frame;
  }
  [[gnu::always_inline]] void PushUndo(int32_t slot, int32_t value) {
    if (undo_count == undo.size()) GrowUndo();
    undo[undo_count++] = Undo{slot, value};
  }
  // Frees stacks that an unusually deep search left behind.
  void Trim() {
    if (StackBytes() > kTrimBytes) Release();
  }

 private:
  // Stacks above this size are given back after a search.
  static constexpr std::size_t kTrimBytes = std::size_t{64} << 20;
  void Release();
  // Double a stack; std::bad_alloc when memory or byte_limit runs out.
  void GrowFrames();
  void GrowUndo();
  std::size_t StackBytes() const {
    return frames.size() * sizeof(Frame) + undo.size() * sizeof(Undo);
  }
};

class Matcher {
 public:
  // Binds the matcher to `engine`'s input, sets and positions, to `program`
  // and its analysis `prepared`, and to the stacks and registers in
  // `scratch`. The engine's input_end_ must hold the index of the input's
  // terminating 0 unit.
  Matcher(TRegexEngine& engine, const std::vector<char16_t>& program,
          const PreparedProgram& prepared, MatchScratch& scratch);

  // One attempt at input position `start`. On success the engine's groups
  // 1..14 and input_cursor_ describe the match (group 0 is the caller's).
  // Raises 1000, 1001, 1002, 1014 and 1015 as ERegexEngine, 1016 when an
  // attempt on the plain backtracker goes over the backtrack budget and
  // the program has no linear path to finish it on, and an allocation
  // failure as RaiseOutOfMemory's exception.
  bool MatchAt(int start);

  // How many units from `from` on the single-character node `operand`
  // matches in a row, at most `max`.
  int Count(int operand, int from, int32_t max) const;

  // Counts one step of the search outside the matcher (a start position
  // tried), so that cancellation is noticed between attempts too.
  void Tick() {
    if (--s_.countdown <= 0) CheckCancel();
  }
  // The same for `units` units scanned by the automaton.
  void TickBy(int units) {
    s_.countdown -= units;
    if (s_.countdown <= 0) CheckCancel();
  }

 private:
  // One attempt; `kLinear` skips states entered before (the linear path).
  template <bool kLinear>
  bool Run(int start);
  // The state number of `node` under the loop counters in force.
  int32_t StateOf(int node) const;
  [[noreturn]] void Raise(int code);
  // Restarts the countdown; raises ECancelled when the flag is set.
  void CheckCancel();
  // The same inside an attempt; false when the attempt has used up its
  // step bound.
  bool Checkpoint();

  // --- Character tests -----------------------------------------------------
  char16_t Invert(char16_t ch) const { return p_.Invert(ch); }
  bool TestOne(int node, char16_t ch) const { return p_.TestOne(prog_, node, ch); }
  bool IsSeparator(char16_t ch) const { return p_.separators.Contains(ch); }
  bool IsWordAt(int pos) const;

  // --- Repetition and back-references --------------------------------------
  bool Captured(int backref, int& from, int& length) const;
  bool BackrefAt(int backref, int from, int pos, int length) const;
  bool UnitAt(int operand, int from, int pos, int step) const;

  // --- Alternatives --------------------------------------------------------
  int NextAlternative(int alternative) const {
    return regex_internal::NextAlternative(prog_, prog_size_, alternative);
  }
  int FirstViable(int alternative, int cursor) const;

  bool Backtrack(int& node, int& cursor);
  // Writes a register, logging its old value while a choice point is open
  // (with none open, a failure ends the attempt and nothing is rolled back).
  void Set(int slot, int32_t value) {
    if (s_.frame_count != 0) s_.PushUndo(slot, s_.regs[slot]);
    s_.regs[slot] = value;
  }
  void UndoTo(std::size_t mark);

  TRegexEngine& e_;
  const PreparedProgram& p_;  // what was derived from the program
  MatchScratch& s_;
  const char16_t* prog_;  // the program being run
  int prog_size_;
  const char16_t* in_;    // the input; in_[end_] is its terminating 0
  int end_;
  bool guard_active_ = false;  // an empty back-reference matched
  bool filters_;               // the engine's SetSearchFilters
  bool linear_;                // the program runs on the linear path
  bool has_linear_;            // it could, were it chosen
  int64_t budget_;             // the engine's backtrack budget; 0: none
};

}  // namespace tallyfold::regex_internal
