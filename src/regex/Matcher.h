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
// A back-reference to an empty capture is the only thing that lets a loop
// iteration consume nothing. Such a loop ends instead of going round for
// ever: a counted loop stops after an empty iteration as if its count were
// reached, and the back edge of a greedy `*` or `+` fails when it is reached
// again at the same position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "regex/RegexEngine.h"
#include "regex/SearchPlan.h"

namespace tallyfold::regex_internal {

// Raises the exception that reports an allocation failure while searching.
[[noreturn]] void RaiseOutOfMemory();

// Membership test of a set string (`\w`, `\s`, the line separators): a bitmap
// for the ASCII range and a list of the rest, which is empty by default.
struct CharTable {
  uint64_t ascii[2] = {0, 0};
  std::u16string wide;  // members from U+0080 up

  void Assign(const std::u16string& members);
  bool Contains(char16_t ch) const {
    if (ch < 128) return (ascii[ch >> 6] >> (ch & 63)) & 1;
    return !wide.empty() && wide.find(ch) != std::u16string::npos;
  }
};

// What the matcher precomputes for one set node (`IN_SET` and its forms).
struct SetInfo {
  uint64_t ascii[2] = {0, 0};  // ASCII characters the node finds
  int members = 0;             // program index of the 0-terminated list
  bool has_wide = false;       // the list holds a member from U+0080 up
};

// Switches the search plan (SearchPlan.h) and the matcher's look-ahead at
// alternatives off for every engine, or back on. The result of a search
// never depends on it, which is what the tests use it to show.
void SetSearchFiltersForTesting(bool enabled);

// Matcher steps between two looks at the engine's cancellation flag.
constexpr int32_t kCancelCheckInterval = 4096;

// What the matcher precomputes for one alternative: the ASCII units (and
// 0, the input end) at which it may start.
struct AlternativeInfo {
  uint64_t ascii[2] = {0, 0};
};

// How a failed attempt at position p lets the search pass over the next
// positions, per top-level alternative (see Matcher::ResumeAfter).
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

// Where a scan for something every match needs found it in the input of
// version `input_version` (0 is no input's): the first place at or after
// `from`, or -1 for none there.
struct RejectionCache {
  uint64_t input_version = 0;
  int from = 0;
  int hit = -1;

  // Whether the answer for a search from `search_from` is known: a place
  // found at or after it, or none found from a point at or before it.
  bool Knows(uint64_t version, int search_from) const {
    return version == input_version && (hit >= search_from || (hit < 0 && search_from >= from));
  }
  void Record(uint64_t version, int search_from, int found) {
    input_version = version;
    from = search_from;
    hit = found;
  }
};

// The matcher's reusable working memory, held by the engine between searches
// so that a search allocates nothing once the stacks have grown. It also
// caches what the matcher derives from the program and the engine's sets,
// rebuilt whenever the engine's tables version (bumped by every change to
// the program, a set or the case inverter) differs from the one kept here.
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

  // --- Cache of derived tables and the tables version they were made for ---
  bool prepared = false;
  uint64_t tables_version = 0;
  TRegexEngine::CaseInverterFunc inverter = nullptr;
  void* inverter_context = nullptr;

  char16_t invert[128] = {};  // the case inverter's result for ASCII
  CharTable word, space, separators;
  // Per program unit: for a set node an index into sets, for an
  // alternative one into alternatives; -1 when there is none.
  std::vector<int32_t> set_index;
  std::vector<SetInfo> sets;
  std::vector<AlternativeInfo> alternatives;
  bool has_loops = true;  // the program may hold LOOP_ENTRY nodes
  // An attempt may raise an error before it fails or matches: the program
  // holds a complex loop inside kLoopStackSize others, whose entry raises
  // 1014, or a unit the walk in IndexSets cannot place. Compiled programs
  // raise nothing else (1000, 1001, 1002 and 1015 guard against malformed
  // programs); cancellation and running out of memory are not results.
  // Filters pass over attempts that would fail, and cannot tell those from
  // attempts that would raise, so such a program gets an empty search plan
  // and no skip rules: every position is tried in turn and the error comes
  // at the same place as in the unfiltered search.
  bool may_raise = false;
  // Characters at which a match can start, one bit per code unit; empty when
  // any character can. A path that begins with \A or \Z adds no character
  // but may match at the input start or end.
  std::vector<uint64_t> start_bits;
  bool start_at_input_start = false;
  bool start_at_input_end = false;
  SearchPlan plan;
  // Empty when some top-level alternative allows no skipping, or the
  // program may raise.
  std::vector<SkipRule> skip_rules;
#ifdef TALLYFOLD_MATCH_STEP_LIMIT
  bool attempt_cut = false;  // the last attempt ran out of steps
#endif

  // What is known of the rejecting literal and the required units in the
  // current input, so that counting many matches in one input scans it
  // once.
  RejectionCache literal_cache;
  RejectionCache units_cache;

  void PushFrame(const Frame& frame) {
    if (frame_count == frames.size()) GrowFrames();
    frames[frame_count++] = frame;
  }
  void PushUndo(int32_t slot, int32_t value) {
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
  // Binds the matcher to `engine`'s input, sets and positions, and brings
  // `scratch`'s tables up to date for `program`. The engine's input_end_
  // must hold the index of the input's terminating 0 unit.
  Matcher(TRegexEngine& engine, const std::vector<char16_t>& program,
          MatchScratch& scratch);

  // One attempt at input position `start`. On success the engine's groups
  // 1..14 and input_cursor_ describe the match (group 0 is the caller's).
  // Raises 1000, 1001, 1002, 1014 and 1015 as ERegexEngine, and an
  // allocation failure as RaiseOutOfMemory's exception.
  bool MatchAt(int start);

  // The first position from `from` on at which a match may start, or -1
  // when there is none up to and including the input end. A pure speed-up:
  // an attempt at a skipped position would fail.
  int NextCandidate(int from) const;

  // False when no match can start at or after `from` because the input
  // lacks the required literal there.
  bool MayMatchFrom(int from);

  // When `engine`'s next search will run with this scratch's plan as it
  // stands and that plan has a rejecting literal: that literal, so that
  // SetInputString can look for it while it copies. Else nullptr.
  static const LiteralNeedle* PlannedRejection(const TRegexEngine& engine);
  // Records where SetInputString found that literal in the new input.
  static void RecordRejection(TRegexEngine& engine, int hit);
  // True when what the last scans of `engine`'s input recorded already
  // shows that no match starts at or after `from`; the search can then
  // return at once, without setting up the matcher.
  static bool KnownToFail(const TRegexEngine& engine, int from);

  // Where the search goes on after the attempt at `at` failed: at + 1, or
  // further when the skip rules show that attempts up to there would fail
  // too.
  int ResumeAfter(int at) const;

  // Counts one step of the search outside the matcher (a start position
  // tried), so that cancellation is noticed between attempts too.
  void Tick() {
    if (--s_.countdown <= 0) Checkpoint();
  }

 private:
  bool Run(int start);
  [[noreturn]] void Raise(int code);
  // Restarts the countdown; raises ECancelled when the flag is set.
  void Checkpoint();

  void Prepare(const std::vector<char16_t>& program);
  void IndexSets();
  bool AddStartChars(int node, int& budget);
  bool AddNodeChars(int node);
  void AddChar(char16_t ch);
  void FindSkipRules();
  bool ConsumesWordUnitFirst(int node) const;

  // --- Character tests -----------------------------------------------------
  char16_t Invert(char16_t ch) const;
  bool InSet(int node, char16_t ch) const;
  bool InSetCi(int node, char16_t ch) const;
  bool TestOne(int node, char16_t ch) const;  // ch is not the end's 0
  bool IsSeparator(char16_t ch) const { return s_.separators.Contains(ch); }
  bool IsWordAt(int pos) const;

  // --- Repetition and back-references --------------------------------------
  static bool IsCountable(char16_t op);
  int Count(int operand, int from, int32_t max) const;
  bool Captured(int backref, int& from, int& length) const;
  bool BackrefAt(int backref, int from, int pos, int length) const;
  bool UnitAt(int operand, int from, int pos, int step) const;

  // --- Alternatives --------------------------------------------------------
  bool MayStartWith(int alternative, char16_t ch) const;  // ch 0: the end
  int NextAlternative(int alternative) const;
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
  MatchScratch& s_;
  const char16_t* prog_;  // the program being run
  int prog_size_;
  const char16_t* in_;    // the input; in_[end_] is its terminating 0
  int end_;
  bool guard_active_ = false;  // an empty back-reference matched
  bool filters_;               // SetSearchFiltersForTesting's switch
};

}  // namespace tallyfold::regex_internal
