// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// The automaton path: an NFA made once per program by ProgramAnalysis
// (AutomatonNfa.cpp), and the lazy DFA that runs it (LazyDfa.cpp; one per
// engine, in its search state).
//
// The NFA's states are the backtracker's configurations without captures:
// a program node, how far into a literal or how many times round a
// single-node repeat, and the counters of the counted loops around the
// node (counts that act alike merged, as StateNumbering merges them). Its
// edges keep the backtracker's order of choices, so the highest-priority
// path through the NFA is the path the backtracker takes, and the first
// match a Pike-style run over ordered thread lists finds (cutting every
// thread of lower priority at a match) ends where the backtracker's match
// ends.
//
// The DFA is built on demand over equivalence classes of UTF-16 units (two
// units are in one class when every test of the program, and the word and
// separator sets the assertions read, answer alike for them). A DFA state
// is an ordered list of NFA states still to be followed, plus what the
// assertions need to know of the unit before the position (its class bits
// or the input edge). Zero-width assertions are resolved when the next
// unit is known, at the transition, so both look-behind and look-ahead of
// one unit are exact. Two runs find a match:
//   forward  from the search offset, unanchored (a start thread of the
//            lowest priority at every position until a match is seen),
//            leftmost-first: the end of the backtracker's match;
//   reverse  over the reversed NFA, anchored at that end and going no
//            further back than the offset, longest: the smallest start
//            among the matches that end there, which is the start of the
//            backtracker's match (no match begins before it).
//
// The states live in a cache of bounded size; a search that fills it
// clears it and starts again, and one that fills it twice gives up, so the
// caller runs the backtracker instead; a program that gives up a few times
// stays on the backtracker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "regex/Program.h"

namespace tallyfold::regex_internal {

struct PreparedProgram;

// What the assertions read of the unit on one side of a position.
enum ContextBit : uint8_t {
  kCtxEdge = 1,  // no unit: the input's start or end
  kCtxWord = 2,  // a member of the word set
  kCtxSep = 4,   // a line separator
  kCtxHead = 8,  // the first unit of the paired separator
  kCtxTail = 16, // its second unit
};

struct AutomatonNfa {
  enum Kind : uint8_t { kConsume, kSplit, kAssert, kMatch };
  struct State {
    Kind kind = kSplit;
    char16_t op = 0;     // kAssert: the assertion's opcode
    int32_t test = -1;   // kConsume: index into tests
    int32_t next = -1;   // kConsume, kAssert: the successor
    int32_t first = 0;   // kSplit: successors outs[first, first + count)
    int32_t count = 0;   //   in the order the backtracker tries them
  };
  // A unit test: the single-character node `node`, or for a literal its
  // unit `unit`.
  struct Test {
    int32_t node;
    int32_t unit;  // -1 for no literal
  };
  std::vector<State> states;
  std::vector<int32_t> outs;
  std::vector<Test> tests;
  // The reversed graph: per state, the states with an empty edge to it
  // (splits and assertions) and those that consume a unit into it.
  std::vector<int32_t> rev_empty_begin, rev_empty;
  std::vector<int32_t> rev_consume_begin, rev_consume;
  int32_t start = -1;  // the configuration at the program's first node
  int32_t match = -1;  // its MATCH_END
  uint8_t context_mask = 0;  // the ContextBits the assertions read
  bool has_groups = false;   // the program captures
  // The program makes a choice (an alternation, a repeat): without one
  // an attempt of the backtracker costs the pattern's length at most, and
  // the search plan's scan and one attempt per candidate beat two runs.
  bool has_choices = false;
  bool usable = false;       // the automaton path may take the program
  uint32_t refused = 0;      // why not, as PathReasons (ProgramAnalysis.h)
};

// Builds the NFA of `program` into `out`, or leaves out.usable false when
// the automaton cannot give exactly the backtracker's matches (back-
// references, empty literals, a program that may raise, a paired
// separator whose units are not both separators in a program that reads
// lines) or the NFA would exceed kMaxNfaStates.
void BuildAutomaton(const char16_t* program, int size, const PreparedProgram& prepared,
                    char16_t pair_head, char16_t pair_tail, AutomatonNfa& out);

constexpr int kMaxNfaStates = 4096;

// Reports cancellation checks: called with the units scanned since the
// last call.
class ScanTicker {
 public:
  virtual void Scanned(int units) = 0;

 protected:
  ~ScanTicker() = default;
};

// Where a search may start a match; LazyDfa::Find skips to it whenever
// nothing is under way.
class StartFinder {
 public:
  // The first position from `from` on where a match may start, or -1.
  virtual int Next(int from) const = 0;

 protected:
  ~StartFinder() = default;
};

class LazyDfa {
 public:
  enum Outcome { kFound, kNone, kGaveUp };

  // Forgets everything: the next search starts on `nfa` afresh.
  void Reset();
  // Whether searches may still use the automaton.
  bool Enabled() const { return give_ups_ < kMaxGiveUps; }

  // The backtracker's match from `from` on in in[0, end) (in[end] is 0):
  // kFound with [start, stop), kNone, or kGaveUp when the cache thrashes.
  Outcome Find(const AutomatonNfa& nfa, const PreparedProgram& prepared, const char16_t* prog,
               char16_t pair_head, char16_t pair_tail, const char16_t* in, int from, int end,
               ScanTicker& ticker, const StartFinder* finder, int& start, int& stop);

  // The cache's budget, per direction.
  std::size_t budget_bytes = std::size_t{2} << 20;

 private:
  static constexpr int kMaxGiveUps = 3;
  static constexpr int kWideClassSlack = 24;
  static constexpr int32_t kNoState = -1;
  static constexpr int32_t kFull = -2;

  // State flags.
  static constexpr uint8_t kMatchBefore = 1;  // a match ends (starts) before the unit
  static constexpr uint8_t kDead = 2;         // nothing left to follow
  static constexpr uint8_t kIdle = 4;         // forward: only the start thread

  // A known transition, a link: the target's row in `trans` (state *
  // stride), shifted past the target's flags.
  static constexpr int kTagBits = 3;

  struct Cache {
    std::vector<int32_t> trans;  // per state, `stride` links or kNoState
    std::vector<uint8_t> flags;
    std::vector<uint8_t> context;
    std::vector<uint32_t> key_at;  // where each state's key starts in keys
    std::vector<int32_t> keys;     // per state: restart, then its NFA states
    std::unordered_map<std::u32string, int32_t> index;
    std::size_t bytes = 0;
    int32_t starts[32];  // the start state per context, or kNoState
    void Clear();
  };

  void Prepare(const AutomatonNfa& nfa, const PreparedProgram& prepared, const char16_t* prog,
               char16_t head, char16_t tail);
  uint8_t ClassOf(char16_t unit);
  uint8_t NewClass(char16_t unit);
  int32_t Intern(Cache& cache, uint8_t context, uint8_t flags, bool restart,
                 const std::vector<int32_t>& kernel);
  int32_t StartState(Cache& cache, uint8_t context, bool forward);
  int32_t Link(const Cache& cache, int32_t state) const;
  int32_t StepForward(int32_t state, uint8_t cls);
  int32_t StepReverse(int32_t state, uint8_t cls);
  Outcome Forward(const char16_t* in, int from, int end, ScanTicker& ticker,
                  const StartFinder* finder, int& stop);
  Outcome Reverse(const char16_t* in, int from, int stop, int end, ScanTicker& ticker,
                  int& start);

  const AutomatonNfa* nfa_ = nullptr;
  const PreparedProgram* prepared_ = nullptr;
  const char16_t* prog_ = nullptr;
  char16_t head_ = 0, tail_ = 0;
  bool ready_ = false;
  int give_ups_ = 0;

  // Unit classes: class 0 is the input edge.
  std::vector<uint8_t> unit_class_;       // 65536 entries
  std::vector<uint8_t> class_bits_;       // ContextBits per class
  std::vector<uint8_t> accepts_;          // per class, one entry per test
  std::unordered_map<std::string, uint8_t> class_of_signature_;
  int stride_ = 0;                        // classes a state has room for
  uint8_t unknown_ = 0;                   // the slot of units not classed yet
  int classes_ = 0;

  Cache forward_, reverse_;
  // Scratch of the transitions.
  std::vector<uint32_t> seen_;
  uint32_t generation_ = 0;
  std::vector<int32_t> stack_, kernel_, closure_;
  int work_ = 0;  // NFA states followed since the last report
};

}  // namespace tallyfold::regex_internal
