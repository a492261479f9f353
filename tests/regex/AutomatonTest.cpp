// Tests of the automaton path (Automaton.h): on generated programs and
// texts it finds exactly what the plain backtracker finds, with every
// search the corpus scan and the results window make, also under other
// sets, case rules and line pairs and with a cache so small that it keeps
// filling up; and the analysis gives it only the programs it can run
// exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"
#include "regex/PatternGenerator.h"
#include "regex/SearchDriver.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

regex_internal::SearchState& StateOf(TRegexEngine& engine) { return engine.CurrentSearchState(); }

bool OnAutomaton(TRegexEngine& engine) {
  engine.ProgramReady();
  return StateOf(engine).prepared.automaton.usable;
}

// Both cases of the Latin-1 letters, so that classes and literals under i
// meet a case inverter that changes units from U+0080 up.
char16_t InvertLatin1(void*, char16_t ch) {
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return static_cast<char16_t>(ch + 0x20);
  return TRegexEngine::InvertCaseAscii(ch);
}

// The engine settings a case runs under: the defaults, a case inverter
// beyond ASCII, word and separator sets with wide members and a pair of
// other units, or no pair at all.
void ApplySettings(TRegexEngine& engine, int variant) {
  switch (variant) {
    case 1:
      engine.SetCaseInverter(InvertLatin1, nullptr);
      break;
    case 2:
      engine.SetWordSet(u"abc01_\u00E9\u4E2D");
      engine.SetSpaceSet(u" -");
      engine.SetLineSeparatorSet(u"\n-\u00C9");
      engine.SetLinePairedSeparator(u"-\n");
      break;
    case 3:
      engine.SetLinePairedSeparator(u"");
      break;
    default:
      break;
  }
}

// A text for the comparison: the generator's, with now and then a CR LF
// pair and a run of one unit, so that the paired separator's rules and the
// cache's states for long runs are met.
std::u16string MakeText(PatternGenerator& gen, int t) {
  std::u16string text = gen.Text(t % 2 == 0, t < 2 ? 13 : 40);
  if (t == 1) text.insert(text.size() / 2, u"\r\n");
  if (t == 3) text.insert(text.size() / 3, std::u16string(20, u'a'));
  return text;
}

// Steps an attempt of the engine without the automaton may take: far more
// than any but a catastrophic pattern needs.
constexpr int32_t kPlainSteps = 200000;

TEST(Automaton, RandomPatternsFindWhatTheBacktrackerFinds) {
  const char16_t* const kModifiers[] = {u"", u"i", u"m", u"-s", u"-g", u"im-s", u"m-g"};
  PatternGenerator gen(4242, /*deep_loops=*/true, /*corners=*/true);
  int automaton_cases = 0, with_matches = 0, other_cases = 0, too_costly = 0, gave_up = 0;
  for (int p = 0; p < 6000 && !HasFailure(); ++p) {
    const std::u16string pattern = gen.Pattern();
    const std::u16string modifiers = kModifiers[p % std::size(kModifiers)];
    const int variant = (p / 7) % 4;
    // The engine without the automaton (the backtracker, on the linear
    // path wherever it can take the program, which the linear path's tests
    // compare with the plain backtracker); the automaton; the automaton
    // with a cache of a few states, which fills up, starts again and gives
    // up.
    TRegexEngine plain, automaton, tiny;
    plain.SetAutomatonMatching(false);
    plain.SetLinearEverywhere(true);
    bool compiled = true;
    automaton.SetAutomatonEverywhere(true);
    tiny.SetAutomatonEverywhere(true);
    for (TRegexEngine* engine : {&plain, &automaton, &tiny}) {
      engine->SetSearchFilters(p % 3 != 0);
      ApplyModifiers(*engine, modifiers);
      ApplySettings(*engine, variant);
      engine->SetExpression(pattern);
      try {
        engine->ProgramReady();
      } catch (const ERegexEngine&) {
        compiled = false;
      }
    }
    if (!compiled) continue;
    const bool on_automaton = OnAutomaton(automaton);
    StateOf(tiny).dfa.budget_bytes = 1500;
    plain.SetMatchStepLimit(kPlainSteps);
    for (int t = 0; t < 4; ++t) {
      const std::u16string text = MakeText(gen, t);
      const uint64_t cut_before = StateOf(plain).match.attempts_cut;
      const SearchOutcome expected = EverySearch(plain, text);
      if (StateOf(plain).match.attempts_cut != cut_before) {
        ++too_costly;
        continue;
      }
      EXPECT_EQ(EverySearch(automaton, text), expected)
          << "pattern " << Printable(pattern) << " (" << Printable(modifiers) << ", settings "
          << variant << ") on \"" << Printable(text) << "\"";
      EXPECT_EQ(EverySearch(tiny, text), expected)
          << "small cache: pattern " << Printable(pattern) << " (" << Printable(modifiers)
          << ", settings " << variant << ") on \"" << Printable(text) << "\"";
      ++(on_automaton ? automaton_cases : other_cases);
      if (on_automaton && !expected.front().groups.empty()) ++with_matches;
    }
    if (on_automaton && !StateOf(tiny).dfa.Enabled()) ++gave_up;
  }
  std::printf("%d cases on the automaton, %d matching; %d on the other paths; %d too costly; "
              "the small cache gave up on %d programs\n",
              automaton_cases, with_matches, other_cases, too_costly, gave_up);
  // The comparison means little unless most cases take the automaton,
  // many of them match, and the small cache gives up now and then.
  EXPECT_GT(automaton_cases, 12000);
  EXPECT_GT(with_matches, automaton_cases / 6);
  EXPECT_GT(other_cases, 1000);
  EXPECT_GT(gave_up, 100);
  // The runs of one unit in the texts meet nests of counted loops that
  // neither path below the automaton gets through in the steps allowed.
  EXPECT_LT(too_costly, (automaton_cases + other_cases) / 200);
}

// Rules few generated cases meet: empty matches next to the paired
// separator, assertions at the search offset (which the reverse run looks
// past without consuming), lazy loops that stop at the first chance, and
// counted repeats expanded into states.
TEST(Automaton, EdgeRulesMatchTheBacktracker) {
  const struct {
    std::u16string pattern;
    std::u16string modifiers;
    std::u16string text;
  } kCases[] = {
      {u"^|$", u"m", u"a\r\nb\r\r\n\n"},
      {u"$", u"m", u"\r\n\r\n"},
      {u"^\\s*$", u"m", u"x\r\n \r\n\r\ny"},
      {u"\\b|\\B", u"", u"ab cd"},
      {u"\\bb\\w*", u"", u"abb bab b"},
      {u"a*?", u"", u"aaa"},
      {u"(a|ab)(c|bcd)(d*)", u"", u"abcd abcd"},
      {u"(a+?){2,3}b", u"", u"aaaab ab aab"},
      {u"x{2,4}?y|x{3}", u"", u"xxxxy xxx xy"},
      {u"[^\\n]+", u"", u"ab\ncd\r\nef"},
      {u".+", u"-s", u"ab\r\ncd\ref"},
      {u"\\Aa|b\\Z", u"", u"aab ab"},
      {u"(?i)k(?-i)K", u"", u"kK KK kk"},
  };
  for (const auto& c : kCases) {
    for (const bool filters : {true, false}) {
      TRegexEngine plain, automaton;
      plain.SetAutomatonMatching(false);
      plain.SetLinearMatching(false);
      automaton.SetAutomatonEverywhere(true);
      for (TRegexEngine* engine : {&plain, &automaton}) {
        engine->SetSearchFilters(filters);
        ApplyModifiers(*engine, c.modifiers);
        engine->SetExpression(c.pattern);
      }
      ASSERT_TRUE(OnAutomaton(automaton)) << Printable(c.pattern);
      EXPECT_EQ(EverySearch(automaton, c.text), EverySearch(plain, c.text))
          << Printable(c.pattern) << " on " << Printable(c.text) << ", filters " << filters;
    }
  }
}

TEST(Automaton, TheAnalysisGivesItOnlyWhatItRunsExactly) {
  std::u16string deep = u"a";
  for (int level = 0; level < 11; ++level) deep = u"(" + deep + u")+?";
  const struct {
    std::u16string pattern;
    std::u16string pair;  // the paired separator
    bool usable;
  } kCases[] = {
      {u"\\w+ing|\\w+ed", u"\r\n", true},
      {u"\\b[A-Z][a-z]+ \\d+\\b", u"\r\n", true},
      {u"(\\w+\\s?)+$", u"\r\n", true},
      {u"(ab){2,5}?c", u"\r\n", true},
      {u"(?m)^.*$", u"\r\n", true},
      {u"(a)\\1", u"\r\n", false},        // a back-reference
      {u"a\\x00b", u"\r\n", true},        // U+0000 is a literal unit
      {deep, u"\r\n", false},             // may raise 1014
      {u"(ab){0,5000}", u"\r\n", false},  // more NFA states than allowed
      {u"(?m)a$", u"xy", false},          // the matcher looks two units ahead
      {u"(?-s)a.b", u"xy", false},
      {u"ab", u"xy", true},               // reads no line rules
  };
  for (const auto& c : kCases) {
    TRegexEngine engine;
    engine.SetLinePairedSeparator(c.pair);
    engine.SetExpression(c.pattern);
    EXPECT_EQ(OnAutomaton(engine), c.usable) << Printable(c.pattern);
  }
  // A program without choices could run on it, but stays on the
  // backtracker unless the engine asks for the automaton everywhere.
  for (const auto& [pattern, runs] : {std::pair{u"\\bthe\\b", false}, {u"a{3}b", false},
                                       {u"sea|river", true}, {u"ab?", true}}) {
    TRegexEngine engine;
    engine.SetExpression(pattern);
    ASSERT_TRUE(OnAutomaton(engine)) << Printable(pattern);
    EXPECT_EQ(regex_internal::ChoosePath(StateOf(engine).prepared, TRegexOptions(), false)
                  .automaton,
              runs)
        << Printable(pattern);
  }
}

}  // namespace
}  // namespace tallyfold
