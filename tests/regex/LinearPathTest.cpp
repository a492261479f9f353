// Tests of the linear path (Matcher.h): random patterns find on it exactly
// what the plain backtracker finds, with every search the corpus scan and
// the results window make, also when its record of states covers only a few
// positions at a time; the analysis sends the programs it cannot take to
// the backtracker; patterns that backtrack for ages stay within a step
// bound proportional to program size times line length; and an attempt cut
// short by the step bound or a cancel leaves no record that a later search
// of the same input would trust.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "regex/MatchTestSupport.h"
#include "regex/Matcher.h"
#include "regex/PatternGenerator.h"
#include "regex/SearchDriver.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

using Result = SearchResult;
using Outcome = SearchOutcome;

regex_internal::SearchState& StateOf(TRegexEngine& engine) { return engine.CurrentSearchState(); }

// Whether the engine's current program runs on the linear path.
bool OnLinearPath(TRegexEngine& engine) {
  engine.ProgramReady();
  return regex_internal::ChoosePath(StateOf(engine).prepared, engine.Options(), false).linear;
}

// Steps an attempt of the plain backtracker may take in the random
// comparison: far more than any but a catastrophic pattern needs.
constexpr int32_t kPlainSteps = 200000;

TEST(LinearPath, RandomPatternsFindWhatTheBacktrackerFinds) {
  const char16_t* const kModifiers[] = {u"", u"i", u"m", u"-s", u"-g", u"im-s", u"-g-s"};
  PatternGenerator gen(1723, /*deep_loops=*/true, /*corners=*/true);
  int linear_cases = 0, with_matches = 0, plain_cases = 0, too_costly = 0;
  for (int p = 0; p < 10000 && !HasFailure(); ++p) {
    const std::u16string pattern = gen.Pattern();
    const std::u16string modifiers = kModifiers[p % std::size(kModifiers)];
    // The plain backtracker, the linear path, and the linear path with a
    // record of four positions, which moves on and clears all the time.
    // Every program the linear path can take runs on it here, so that the
    // comparison covers its rules on as many programs as it can.
    // And the sparse record, which programs with many counted states
    // take, small enough to be emptied now and then.
    TRegexEngine plain, linear, narrow, sparse;
    plain.SetLinearMatching(false);
    linear.SetLinearEverywhere(true);
    narrow.SetLinearEverywhere(true);
    sparse.SetLinearEverywhere(true);
    bool compiled = true;
    for (TRegexEngine* engine : {&plain, &linear, &narrow, &sparse}) {
      engine->SetAutomatonMatching(false);
      engine->SetSearchFilters(p % 3 != 0);
      ApplyModifiers(*engine, modifiers);
      engine->SetExpression(pattern);
      try {
        engine->ProgramReady();
      } catch (const ERegexEngine&) {
        compiled = false;
      }
    }
    if (!compiled) continue;
    const bool on_linear = OnLinearPath(linear);
    StateOf(narrow).match.visited.budget_words =
        4 * ((StateOf(narrow).prepared.states.per_position + 63) / 64);
    StateOf(sparse).match.visited.dense_limit = 0;
    StateOf(sparse).match.visited.budget_slots = 64;
    // The plain backtracker's searches of a few patterns take seconds; a
    // step bound passes over them.
    plain.SetMatchStepLimit(kPlainSteps);
    for (int t = 0; t < 4; ++t) {
      const std::u16string text = gen.Text(t % 2 == 0, t < 2 ? 13 : 26);
      const uint64_t cut_before = StateOf(plain).match.attempts_cut;
      const Outcome expected = EverySearch(plain, text);
      if (StateOf(plain).match.attempts_cut != cut_before) {
        ++too_costly;
        continue;
      }
      EXPECT_EQ(EverySearch(linear, text), expected)
          << "pattern " << Printable(pattern) << " (" << Printable(modifiers) << ") on \""
          << Printable(text) << "\"";
      EXPECT_EQ(EverySearch(sparse, text), expected)
          << "sparse record: pattern " << Printable(pattern) << " (" << Printable(modifiers)
          << ") on \"" << Printable(text) << "\"";
      EXPECT_EQ(EverySearch(narrow, text), expected)
          << "narrow record: pattern " << Printable(pattern) << " (" << Printable(modifiers)
          << ") on \"" << Printable(text) << "\"";
      ++(on_linear ? linear_cases : plain_cases);
      if (on_linear && !expected.front().groups.empty()) ++with_matches;
    }
  }
  std::printf("%d cases on the linear path, %d matching; %d on the backtracker; %d too costly\n",
              linear_cases, with_matches, plain_cases, too_costly);
  // The comparison means little unless most cases take the linear path and
  // many of them match.
  EXPECT_GT(linear_cases, 18000);
  EXPECT_GT(with_matches, linear_cases / 6);
  EXPECT_GT(plain_cases, 1000);
  EXPECT_LT(too_costly, (linear_cases + plain_cases) / 1000);
}

// A single-character repeat next to a position where the same repeat
// failed before may skip counts; a lazy one reached again from itself one
// position on may not, and every capture must stay as the backtracker
// leaves it. Few random cases meet these, so they are pinned here.
TEST(LinearPath, RepeatsNextToTriedPositionsKeepEveryCapture) {
  const struct {
    std::u16string pattern;
    std::u16string text;
  } kCases[] = {
      {u"(a*?a)+c", u"aaac aac"},       {u"(a*a)+c", u"aaac aac"},
      {u"(a+?b?)+c", u"aabab c aaabc"}, {u"(\\w*x)+", u"abcdabcx abx"},
      {u"(\\w+?\\s?)+$", u"ab cd e!"},  {u"([ab]+?){2,}c", u"ababc abc"},
      {u"(a+)+b", u"aaaa aaab"},        {u"(\\w*?,)*\\w*?;", u"ab,cd,,e; x,;"},
  };
  for (const auto& c : kCases) {
    for (const bool filters : {true, false}) {
      TRegexEngine plain, linear;
      plain.SetLinearMatching(false);
      for (TRegexEngine* engine : {&plain, &linear}) {
        engine->SetAutomatonMatching(false);
        engine->SetSearchFilters(filters);
        engine->SetExpression(c.pattern);
      }
      ASSERT_TRUE(OnLinearPath(linear)) << Printable(c.pattern);
      EXPECT_EQ(EverySearch(linear, c.text), EverySearch(plain, c.text))
          << Printable(c.pattern) << " on " << Printable(c.text) << ", filters " << filters;
    }
  }
}

TEST(LinearPath, TheAnalysisSendsWhatItCannotTakeToTheBacktracker) {
  const auto nest = [](int depth, const std::u16string& quantifier) {
    std::u16string pattern = u"a";
    for (int level = 0; level < depth; ++level) pattern = u"(" + pattern + u")" + quantifier;
    return pattern;
  };
  const struct {
    std::u16string pattern;
    bool linear;
  } kCases[] = {
      {u"(a+)+b", true},
      {u"(a|aa)+c", true},
      {u"(.+)+X", true},
      {u"(\\w+\\s?)+$", true},
      {u"(ab){2,5}?c", true},
      {nest(10, u"{1,2}"), true},     // 3^10 counter values per node: sparse
      {nest(10, u"{1,6}"), false},    // 7^10: more than any record holds
      {nest(5, u"{1,2}"), true},
      {nest(11, u"+?"), false},       // may raise 1014
      {nest(10, u"+?"), true},        // 2^10 counter values at the centre
      {nest(6, u"+?"), true},
      {nest(11, u"+"), true},         // greedy + counts nothing
      {u"(ab){0,5000}", true},        // 5001 counter values per node
      {u"(a)\\1", false},
      {u"(a)x*\\1*", false},
      {u"(a\\x00|b)+c", true},        // a literal U+0000
      {u"\\w+ing|\\w+ed", false},      // no repeated group: the backtracker is
      {u"[A-Z][a-z]+ \\d+", false},     // polynomial there, and faster
  };
  for (const auto& c : kCases) {
    TRegexEngine engine;
    engine.SetExpression(c.pattern);
    EXPECT_EQ(OnLinearPath(engine), c.linear) << Printable(c.pattern);
  }
}

// The four patterns over a line of 48 characters that holds what the search
// filters look for; the plain backtracker takes hours on each. With every
// attempt bounded by a small multiple of program size times line length,
// the linear path finishes every attempt (so never fails one for lack of
// steps) while the plain backtracker runs out.
TEST(LinearPath, PatternsThatBacktrackForAgesStayWithinALinearBound) {
  const std::u16string run(47, u'a');
  const struct {
    std::u16string pattern;
    std::u16string text;
  } kCases[] = {
      {u"(a+)+b", u"b" + run},
      {u"(a|aa)+c", u"c" + run},
      {u"(.+)+X", u"X" + run},
      {u"(\\w+\\s?)+$", run + u"!"},
      {u"(a+?)+?b", u"b" + run},
  };
  for (const auto& c : kCases) {
    for (const bool linear : {true, false}) {
      TRegexEngine engine;
      engine.SetLinearMatching(linear);
      engine.SetAutomatonMatching(false);
      engine.SetExpression(c.pattern);
      engine.ProgramReady();
      const int bound = 8 * static_cast<int>(engine.ProgramUnits().size()) *
                        (static_cast<int>(c.text.size()) + 1);
      engine.SetMatchStepLimit(bound);
      const uint64_t cut_before = StateOf(engine).match.attempts_cut;
      EXPECT_FALSE(engine.Exec(c.text)) << Printable(c.pattern);
      const uint64_t cut = StateOf(engine).match.attempts_cut - cut_before;
      if (linear)
        EXPECT_EQ(cut, 0u) << Printable(c.pattern);
      else
        EXPECT_GT(cut, 0u) << Printable(c.pattern);
    }
  }
}

// A search that ends part-way (the step bound cuts an attempt, or a cancel
// is seen) leaves states in the record that it entered but did not finish
// trying. A later search of the same input must not take them as failed.
TEST(LinearPath, AnInterruptedSearchLeavesNothingALaterSearchTrusts) {
  std::u16string long_text;
  for (int i = 0; i < 5000; ++i) long_text += u"ab";
  long_text += u"c";
  const struct {
    std::u16string pattern;
    std::u16string text;
    bool cancel;  // else a step bound of 10 cuts the attempts
  } kCases[] = {
      {u"(a|b)*c", u"ababababc", false},
      {u"(ab|a)+?c", u"ababababc", false},
      {u"(a|b)*c", long_text, true},
      {u"(x?(a|b))+c", long_text, true},
  };
  for (const auto& c : kCases) {
    TRegexEngine fresh;
    fresh.SetExpression(c.pattern);
    const bool expected = fresh.Exec(c.text);
    ASSERT_TRUE(expected) << Printable(c.pattern);

    TRegexEngine engine;
    engine.SetAutomatonMatching(false);
    std::atomic<bool> cancel{c.cancel};
    engine.SetCancelFlag(&cancel);
    engine.SetMatchStepLimit(c.cancel ? 0 : 10);
    engine.SetExpression(c.pattern);
    ASSERT_TRUE(OnLinearPath(engine)) << Printable(c.pattern);
    engine.SetInputString(c.text);
    if (c.cancel) {
      EXPECT_THROW(engine.ExecPos(1), ECancelled) << Printable(c.pattern);
      cancel = false;
    } else {
      engine.ExecPos(1);
      EXPECT_GT(StateOf(engine).match.attempts_cut, 0u) << Printable(c.pattern);
      engine.SetMatchStepLimit(0);
    }
    EXPECT_TRUE(engine.ExecPos(1)) << Printable(c.pattern);
    EXPECT_EQ(GroupSpan(engine, 0), GroupSpan(fresh, 0)) << Printable(c.pattern);
    EXPECT_EQ(GroupSpan(engine, 1), GroupSpan(fresh, 1)) << Printable(c.pattern);
  }
}

}  // namespace
}  // namespace tallyfold
