// Test helper: a deliberately simple matcher for compiled programs, against
// which the engine is compared (ReferenceDifferentialTest.cpp). It is linked
// only into the tests.
//
// It runs the program that the engine's compiler produced (Program.h) by the
// matcher's rules in their most literal form: a recursive interpreter that
// copies its whole state at every choice, and a search that tries every
// start position from the offset on, with none of the engine's filters,
// choice-point stack or undo log. Where the rules leave a choice to the
// engine, it makes the engine's documented one:
// - a complex loop gives back its counter and the loop depth on every
//   failing path, and a lazy loop is finished while its continuation runs,
//   so only nested loops fill the loop stack;
// - a repetition of a back-reference counts whole repetitions of the
//   captured text; an empty capture repeats once for every count;
// - an iteration that consumes nothing (a back-reference to an empty
//   capture) ends a counted loop as if its count were reached, and makes a
//   greedy `*` or `+` fail when its back edge is reached again there;
// - a capture whose end lies before its start (a group re-entered by a loop)
//   is not set for a back-reference.
// Recursion grows with the input, so it is meant for short texts only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tallyfold::test {

// A runtime error of the matcher or the driver, by the engine's code.
struct ReferenceError {
  int code;
};

// The search took more steps than the matcher's budget; the case is too
// expensive to judge with this matcher.
struct ReferenceBudgetExceeded {};

// The character sets and case folding the program runs under, as an engine
// holds them (defaults as a new engine has them).
struct ReferenceSettings {
  std::u16string space_set = u" \t\n\r\f";
  std::u16string word_set = u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
  std::u16string line_separators = u"\r\n\v\f\u2028\u2029";
  char16_t pair_head = u'\r';  // the paired separator, compared as stored
  char16_t pair_tail = u'\n';
  char16_t (*invert_case)(char16_t) = nullptr;  // nullptr: ASCII letters only
};

// One search's result: the 15 group spans as (1-based position, length),
// (-1, -1) for a group that did not take part; empty when nothing matched.
using ReferenceGroups = std::vector<std::pair<int, int>>;

class ReferenceMatcher {
 public:
  ReferenceMatcher(std::vector<char16_t> program, ReferenceSettings settings,
                   long long step_budget = 2000000);

  // The search from a 1-based offset over `input`, as ExecPos does it.
  // Raises ReferenceError or ReferenceBudgetExceeded.
  ReferenceGroups Search(const std::u16string& input, int offset);

 private:
  struct State;
  bool Run(int node, State state, State& result);
  bool Repeat(int node, const State& state, State& result);
  bool Loop(int node, const State& state, State& result);
  bool Alternatives(int node, const State& state, State& result);

  int At(int position) const;  // the unit; -1 before the input and at its end
  char16_t Invert(char16_t ch) const;
  bool SameCase(char16_t input, char16_t pattern, bool fold) const;
  bool MatchesOne(int node, int unit) const;  // never at the input end (-1)
  bool IsWord(int position) const;
  bool IsSeparator(char16_t ch) const;
  bool CapturedAt(int node, const State& state, int position, int& length) const;
  void Step();

  std::vector<char16_t> program_;  // the compiled program, unit 0 the mark
  ReferenceSettings settings_;
  std::u16string input_;            // the text being searched
  long long budget_ = 0;            // steps left in this search
  long long step_budget_;           // steps every search starts with
  int depth_ = 0;                   // nested Run calls
};

}  // namespace tallyfold::test
