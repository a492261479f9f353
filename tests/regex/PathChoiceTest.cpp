// Tests of where a search runs and of its bounds: the path each program
// takes with the reasons ChoosePath gives for the others (one table); the
// backtracking budget, which moves a program with a linear path there and
// ends the search of one without (back-references) with error 1016; and
// counted loops nested in counted loops, which the linear path now takes
// with a sparse record, compared with the plain backtracker on generated
// lines.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "regex/CornerUnits.h"
#include "regex/MatchTestSupport.h"
#include "regex/Matcher.h"
#include "regex/SearchDriver.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;
using namespace tallyfold::regex_internal;

PathChoice ChoiceOf(TRegexEngine& engine) {
  engine.ProgramReady();
  return ChoosePath(engine.CurrentSearchState().prepared, engine.Options(), false);
}

std::u16string Nest(int depth, const std::u16string& quantifier) {
  std::u16string pattern = u"a";
  for (int level = 0; level < depth; ++level) pattern = u"(" + pattern + u")" + quantifier;
  return pattern;
}

TEST(PathChoice, EachProgramGetsItsPathsAndTheReasonsForTheOthers) {
  TRegexOptions everywhere;
  everywhere.automaton_everywhere = everywhere.linear_everywhere = true;
  TRegexOptions off;
  off.automaton = off.linear = false;
  const TRegexOptions plain;
  const struct {
    std::u16string pattern;
    TRegexOptions options;
    bool automaton;
    uint32_t automaton_reasons;
    bool linear;
    uint32_t linear_reasons;
  } kCases[] = {
      {u"sea|river", plain, true, 0, false, kReasonNoRepeatedGroup},
      {u"\\bthe\\b", plain, false, kReasonNoChoice, false, kReasonNoRepeatedGroup},
      {u"\\bthe\\b", everywhere, true, 0, true, 0},
      {u"(a+)+b", plain, true, 0, true, 0},
      {u"(a+)+b", off, false, kReasonSwitchedOff, false, kReasonSwitchedOff},
      {u"(a+)+\\1b", plain, false, kReasonBackReference, false, kReasonBackReference},
      {u"(a)x*\\1*", plain, false, kReasonBackReference, false, kReasonBackReference},
      // Nested counted loops: too many NFA states, but the linear path's
      // sparse record takes them.
      {u"((a{1,100}){1,100}){1,100}b", plain, false, kReasonTooManyStates, true, 0},
      {u"(ab){0,5000}", plain, false, kReasonTooManyStates, true, 0},
      {Nest(10, u"{1,2}"), plain, false, kReasonTooManyStates, true, 0},
      {Nest(10, u"{1,6}"), plain, false, kReasonTooManyStates, false, kReasonTooManyStates},
      {Nest(11, u"+?"), plain, false, kReasonMayRaise, false, kReasonMayRaise},
      // U+0000 is a unit like any other.
      {u"a\\x00b|c", plain, true, 0, false, kReasonNoRepeatedGroup},
  };
  for (const auto& c : kCases) {
    TRegexEngine engine;
    engine.SetOptions(c.options);
    engine.SetExpression(c.pattern);
    const PathChoice choice = ChoiceOf(engine);
    EXPECT_EQ(choice.automaton, c.automaton) << Printable(c.pattern);
    EXPECT_EQ(choice.automaton_reasons, c.automaton_reasons) << Printable(c.pattern);
    EXPECT_EQ(choice.linear, c.linear) << Printable(c.pattern);
    EXPECT_EQ(choice.linear_reasons, c.linear_reasons) << Printable(c.pattern);
  }
  // Line rules with a pair whose units are not both separators.
  TRegexEngine lines;
  lines.SetLineSeparatorSet(u"\n");
  lines.SetExpression(u"(?m)^a|b$");
  EXPECT_EQ(ChoiceOf(lines).automaton_reasons, uint32_t{kReasonPairedSeparator});
}

// The back-reference: every attempt over the a's backtracks
// exponentially. It must end the search with the budget's error, never
// with a missing match, and soon.
TEST(BacktrackBudget, WhatMustBacktrackEndsTheSearchWithItsError) {
  const std::u16string line = std::u16string(30, u'a') + u"!b";
  for (const bool filters : {true, false}) {
    TRegexEngine engine;
    TRegexOptions options;
    options.filters = filters;
    options.backtrack_budget = 200000;
    engine.SetOptions(options);
    engine.SetExpression(u"(a+)+\\1b");
    const ERegexEngine error = CatchEngineError([&] { engine.Exec(line); });
    EXPECT_EQ(error.Code, kErrorStepBudget);
    EXPECT_EQ(engine.LastError(), kErrorStepBudget);
    EXPECT_STREQ(error.what(),
                 "TRegexEngine(exec): Backtracking Step Budget Exceeded, Try A Simpler Pattern");
    // Within the budget the same engine still finds what is there.
    EXPECT_TRUE(engine.Exec(u"aab aab"));
    EXPECT_EQ(GroupSpan(engine, 0), Span(1, 3));
  }
  // The default budget is generous: a back-reference over an ordinary
  // line is far below it.
  TRegexEngine engine;
  engine.SetExpression(u"(\\w+) \\1");
  EXPECT_EQ(AllMatches(engine, u"(\\w+) \\1", u"the the cat sat sat on on").size(), 3u);
}

// A program the plain backtracker runs faster, but polynomially (`\w*`
// three times): over the budget it moves to the linear path and gives
// what the unbounded backtracker gives, on generated lines.
TEST(BacktrackBudget, OverTheBudgetAProgramMovesToItsLinearPath) {
  std::mt19937 rng(2917);
  const char16_t* const kPatterns[] = {u"\\w*\\w*\\w*x", u"a*b*a*b*c", u"[ab]*b*a*\\d",
                                       u"\\w+\\s?\\w+!"};
  int moved = 0;
  for (const char16_t* pattern : kPatterns) {
    for (int t = 0; t < 12; ++t) {
      // Long runs of what the repeats take, now and then ended by what
      // they need after them.
      std::u16string text;
      for (int run = std::uniform_int_distribution<int>(0, 3)(rng); run > 0; --run) {
        for (int i = std::uniform_int_distribution<int>(0, 250)(rng); i > 0; --i)
          text += u"ab1"[std::uniform_int_distribution<int>(0, 2)(rng)];
        text += u" x!c"[std::uniform_int_distribution<int>(0, 3)(rng)];
      }
      TRegexEngine bounded, unbounded;
      // The automaton would find these spans without an attempt.
      TRegexOptions options;
      options.automaton = false;
      options.backtrack_budget = 500;
      bounded.SetOptions(options);
      options.backtrack_budget = 0;
      unbounded.SetOptions(options);
      bounded.SetExpression(pattern);
      unbounded.SetExpression(pattern);
      EXPECT_EQ(EverySearch(bounded, text), EverySearch(unbounded, text))
          << Printable(pattern) << " on " << Printable(text);
      if (bounded.CurrentSearchState().match.linear_after_budget) ++moved;
    }
  }
  // Some of the long lines go over so small a budget.
  EXPECT_GT(moved, 4);
}

// Counted loops around counted loops: more states per position than the
// dense record holds. On the linear path with the sparse record each
// search agrees with the plain backtracker, also when the record is so
// small that it is emptied again and again, and the pattern ends
// at once.
TEST(NestedCounts, TheSparseRecordFindsWhatTheBacktrackerFinds) {
  std::mt19937 rng(661);
  const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int cases = 0;
  for (int p = 0; p < 150; ++p) {
    // ((x{a,b}){c,d}){e,f}y with small bounds and corner units as x and y.
    const auto count = [&] {
      const int lo = below(3);
      std::u16string bounds = u"{";
      bounds += char16_t(u'0' + lo);
      bounds += u',';
      bounds += char16_t(u'0' + lo + 1 + below(4));
      bounds += u'}';
      return bounds;
    };
    const std::u16string unit = below(3) == 0 ? CornerLiteral(rng) : u"a";
    const std::u16string lazy = below(4) == 0 ? u"?" : u"";
    std::u16string pattern = u"((";
    pattern += unit;
    pattern += count();
    pattern += u"|b)";
    pattern += count();
    pattern += lazy;
    pattern += u")";
    pattern += count();
    pattern += below(2) ? std::u16string(u"b") : CornerLiteral(rng);
    TRegexEngine plain, sparse, tiny;
    plain.SetLinearMatching(false);
    plain.SetAutomatonMatching(false);
    plain.SetMatchStepLimit(2000000);
    for (TRegexEngine* engine : {&sparse, &tiny}) {
      engine->SetLinearEverywhere(true);
      engine->SetAutomatonMatching(false);
    }
    for (TRegexEngine* engine : {&plain, &sparse, &tiny}) engine->SetExpression(pattern);
    try {
      if (!ChoiceOf(sparse).linear) continue;
    } catch (const ERegexEngine&) {
      continue;  // an operand that could be empty
    }
    sparse.CurrentSearchState().match.visited.dense_limit = 0;
    tiny.CurrentSearchState().match.visited.dense_limit = 0;
    tiny.CurrentSearchState().match.visited.budget_slots = 16;
    for (int t = 0; t < 4; ++t) {
      std::u16string text;
      const int length = below(20);
      for (int i = 0; i < length; ++i)
        text += below(5) == 0 ? CornerUnit(rng) : u"aab!"[below(4)];
      const uint64_t cut = plain.CurrentSearchState().match.attempts_cut;
      const SearchOutcome expected = EverySearch(plain, text);
      if (plain.CurrentSearchState().match.attempts_cut != cut) continue;
      EXPECT_EQ(EverySearch(sparse, text), expected) << Printable(pattern) << Printable(text);
      EXPECT_EQ(EverySearch(tiny, text), expected) << Printable(pattern) << Printable(text);
      ++cases;
    }
  }
  EXPECT_GT(cases, 150);

  // The line: the plain backtracker ran for minutes on it.
  TRegexEngine engine;
  engine.SetExpression(u"((a{1,100}){1,100}){1,100}b");
  const std::u16string line = std::u16string(30, u'a') + u"!b";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(engine.Exec(line));
  EXPECT_TRUE(engine.Exec(std::u16string(300, u'a') + u"b"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tallyfold
