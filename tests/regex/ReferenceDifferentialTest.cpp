// The engine against the reference matcher (ReferenceMatcher.h), which runs
// the same compiled program by the matcher's rules in their plainest form.
// Random patterns over the whole dialect (every modifier, inline modifier
// groups, lazy and greedy complex loops, loops nested up to and beyond the
// loop stack, back-references repeated and inside repetitions) and random
// texts are searched by Exec and ExecNext as the corpus scan does, and from
// every offset; the engine runs with its search filters on and off, and
// with its linear path on and off. Matches, group captures and runtime
// errors must agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "regex/CornerUnits.h"
#include "regex/MatchTestSupport.h"
#include "regex/Matcher.h"
#include "regex/PatternGenerator.h"
#include "regex/ProgramDump.h"
#include "regex/ReferenceMatcher.h"
#include "regex/SearchDriver.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

// One search's result: the 15 group spans, none when nothing matched, or the
// error code it raised.
struct Result {
  ReferenceGroups groups;
  int error = 0;
  bool operator==(const Result&) const = default;
};

std::string Describe(const std::vector<Result>& results) {
  std::ostringstream out;
  for (const Result& r : results) {
    out << "\n    ";
    if (r.error != 0) {
      out << "error " << r.error;
    } else if (r.groups.empty()) {
      out << "no match";
    } else {
      out << "match";
      for (const auto& [pos, len] : r.groups) out << " " << pos << "," << len;
    }
  }
  return out.str();
}

// The searches every case makes: Exec, then ExecNext while it finds
// something (the corpus scan's count), then ExecPos from every offset up to
// one past the empty end position. `search(offset)` is one search.
template <typename Search>
std::vector<Result> Searches(int length, Search search) {
  std::vector<Result> results;
  const auto run = [&](int offset) {
    Result result;
    try {
      result.groups = search(offset);
    } catch (const ERegexEngine& e) {
      result.error = e.Code;
    } catch (const ReferenceError& e) {
      result.error = e.code;
    }
    results.push_back(result);
    return result;
  };
  for (Result r = run(1); !r.groups.empty() && static_cast<int>(results.size()) <= length + 1;) {
    // ExecNext: on after the match, one further after an empty one.
    const int end = r.groups[0].first + r.groups[0].second;
    r = run(end + (r.groups[0].second == 0 ? 1 : 0));
  }
  for (int offset = 0; offset <= length + 2; ++offset) run(offset);
  return results;
}

std::vector<Result> EngineSearches(TRegexEngine& engine, const std::u16string& text) {
  engine.SetInputString(text);
  return Searches(static_cast<int>(text.size()), [&](int offset) {
    ReferenceGroups groups;
    if (engine.ExecPos(offset))
      for (int n = 0; n < TRegexEngine::kGroupSlots; ++n)
        groups.push_back({engine.GroupPos(n), engine.GroupLen(n)});
    return groups;
  });
}

// Both cases of the Latin-1 letters, as a replaced case inverter.
char16_t InvertLatin1(char16_t ch) {
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return static_cast<char16_t>(ch + 0x20);
  return TRegexEngine::InvertCaseAscii(ch);
}
char16_t InvertLatin1ForEngine(void*, char16_t ch) { return InvertLatin1(ch); }

// The sets and case folding a case runs under: mostly a new engine's, now
// and then others, applied alike to the engine and the reference.
struct Settings {
  ReferenceSettings reference;
  bool latin1 = false;
  bool no_pair = false;
};

Settings PickSettings(std::mt19937& rng) {
  Settings s;
  switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
    case 0:
      s.latin1 = true;
      s.reference.invert_case = InvertLatin1;
      break;
    case 1:  // é is a word character, tab a separator, CR LF no pair
      s.reference.word_set += u"\u00E9\u00C9";
      s.reference.line_separators = u"\n\t";
      s.no_pair = true;
      break;
    case 2:  // a space set without the line breaks
      s.reference.space_set = u" \u4E2D";
      break;
    case 3:  // sets holding corner units, U+0000 among them
      s.reference.word_set += std::u16string(1, u'\0') + u"\uFFFF\xD800";
      s.reference.space_set += u"\xDFFF\u0085";
      s.reference.line_separators = std::u16string(1, u'\0') + u"\n\u0085\u2028";
      break;
    default:
      break;
  }
  return s;
}

void Apply(const Settings& s, TRegexEngine& engine) {
  engine.SetSpaceSet(s.reference.space_set);
  engine.SetWordSet(s.reference.word_set);
  engine.SetLineSeparatorSet(s.reference.line_separators);
  if (s.latin1) engine.SetCaseInverter(InvertLatin1ForEngine, nullptr);
  // Without the pair the matcher still compares with CR and LF as stored.
  if (s.no_pair) engine.SetLinePairedSeparator(u"");
}

// Random patterns beyond the part PCRE2 shares: inline modifiers, comments,
// extended-syntax whitespace, escapes, anchors of both kinds, Russian ranges,
// empty groups and alternatives, and back-references anywhere, repeated or
// inside repetitions. Texts come from a small alphabet with line breaks and
// characters the modifiers treat specially.
class DialectGenerator {
 public:
  explicit DialectGenerator(uint32_t seed)
      : rng_(seed), loops_(seed ^ 0x5eed, /*deep_loops=*/true, /*corners=*/true) {}

  std::u16string Pattern() {
    groups_ = 0;
    // A third of the patterns nest complex loops deep, around the stack.
    if (Chance(33)) return loops_.Pattern();
    return Alternation(0);
  }

  // Modifier letters for SetModifier: each of i, r, s, g, m, x on or off.
  std::u16string Modifiers() {
    std::u16string on, off;
    for (const char16_t letter : std::u16string(u"irsgmx")) (Chance(50) ? on : off) += letter;
    on += u'-';
    on += off;
    return on;
  }

  std::u16string Text() {
    static const std::u16string kChars =
        u"aaabbcAB01  _-\t\r\n\r\n\v\u00E9\u00C9\u4E2D\u0451\u0436\u0416\u2028x";
    std::u16string text;
    const int length = Below(13);
    for (int i = 0; i < length; ++i) text += TextUnit(rng_, kChars);
    return text;
  }

  std::mt19937& Rng() { return rng_; }

 private:
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Below(100) < percent; }

  std::u16string Alternation(int depth) {
    std::u16string out = Sequence(depth);
    while (Chance(depth == 0 ? 20 : 30)) {
      out += u'|';
      if (!Chance(10)) out += Sequence(depth);
    }
    return out;
  }

  std::u16string Sequence(int depth) {
    std::u16string out;
    for (int i = 1 + Below(4); i > 0; --i) out += Piece(depth);
    return out;
  }

  std::u16string Quantifier() {
    static const char16_t* kForms[] = {u"*", u"+", u"?", u"{2}", u"{1,}", u"{0,2}",
                                       u"{1,3}", u"{0}", u"{0,1}", u"{3,}"};
    std::u16string q = kForms[Below(10)];
    if (Chance(35)) q += u"?";
    return q;
  }

  std::u16string Piece(int depth) {
    const int kind = Below(100);
    if (kind < 8) {
      if (Chance(15)) {  // an empty capture for back-references to repeat
        ++groups_;
        return Chance(50) ? u"()" : u"(a?)";
      }
      static const char16_t* kZeroWidth[] = {u"\\b", u"\\B", u"^", u"$", u"\\A", u"\\Z",
                                             u"(?#c)", u"(?i)", u"(?-i)", u"(?s)", u"(?-s)",
                                             u"(?m)", u"(?-g)", u"(?g)", u"(?x)", u"(?-x)"};
      return kZeroWidth[Below(16)];
    }
    if (kind < 11) {
      // Extended-syntax whitespace and comments; literal text without x.
      static const char16_t* kSpaces[] = {u" ", u"\t", u" # note\n", u"\n"};
      return kSpaces[Below(4)];
    }
    std::u16string atom;
    if (kind < 16 && groups_ > 0 && groups_ < 9) {
      // A group around a back-reference, repeated: when the capture is
      // empty an iteration consumes nothing.
      const char16_t group = static_cast<char16_t>(u'0' + 1 + Below(groups_));
      ++groups_;
      atom = u"(\\";
      atom += group;
      if (Chance(50)) atom += Chance(50) ? u"|a" : u"|\\w";
      if (Chance(30)) atom.insert(1, u"a?");
      atom += u')';
      static const char16_t* kLoops[] = {u"*", u"+", u"*?", u"+?", u"{2,}", u"{1,3}", u"{3}?"};
      atom += kLoops[Below(7)];
      return atom;
    }
    if (kind < 22 && groups_ > 0) {
      atom = std::u16string{u'\\', static_cast<char16_t>(u'0' + 1 + Below(groups_))};
    } else if (kind < 42 && depth < 3 && groups_ < 9) {
      ++groups_;
      atom = u"(";
      if (!Chance(8)) atom += Alternation(depth + 1);
      atom += u')';
    } else if (kind < 55) {
      atom = Class();
    } else if (kind < 65) {
      static const char16_t* kShorthands[] = {u"\\w", u"\\d", u"\\s", u"\\W",
                                              u"\\D", u"\\S", u".",   u"."};
      atom = kShorthands[Below(8)];
    } else if (kind < 66) {
      static const char16_t* kEscapes[] = {u"\\t", u"\\n", u"\\r", u"\\x41", u"\\x{4E2D}",
                                           u"\\x{e9}", u"\\.", u"\\\\", u"\\x00"};
      atom = kEscapes[Below(9)];
    } else if (kind < 74) {
      // U+0000, U+FFFF, surrogates, separators and case edges, written
      // in every form, alone or in a run of literal text.
      atom = CornerLiteral(rng_);
      if (Chance(30)) atom += CornerLiteral(rng_);
    } else {
      static const std::u16string kChars = u"aaabbcAB01-\u00E9\u00C9\u0451\u0436";
      atom = std::u16string(1 + Below(3) / 2, kChars[Below(static_cast<int>(kChars.size()))]);
    }
    if (Chance(35)) atom += Quantifier();
    return atom;
  }

  std::u16string Class() {
    static const char16_t* kMembers[] = {u"a",  u"b",   u"A",   u"0-1",       u"\\-", u"\u00E9",
                                         u" ",  u"a-c", u"\\d", u"\\w",       u"\\s", u"\\n",
                                         u"\r", u"\u0430-\u044F", u"\u0410-\u042F", u"\u0436"};
    std::u16string out = Chance(30) ? u"[^" : u"[";
    for (int i = 1 + Below(3); i > 0; --i)
      out += Chance(30) ? CornerClassMember(rng_) : std::u16string(kMembers[Below(16)]);
    out += u']';
    return out;
  }

  std::mt19937 rng_;
  PatternGenerator loops_;  // nests of complex loops
  int groups_ = 0;
};

struct Tally {
  int cases = 0;          // (pattern, text) pairs compared
  int with_match = 0;     // ... where the first search matched
  int loop_overflow = 0;  // ... where a search raised 1014
  int too_costly = 0;     // ... the reference gave up on
  int linear = 0;         // ... whose program the linear path takes
  int automaton = 0;      // ... whose program the automaton takes
  int failures = 0;
};

// Compares every search of one pattern over `texts`, counting in `tally`;
// the first disagreement is reported and ends the pattern.
void CompareCase(const std::u16string& pattern, const std::u16string& modifiers,
                 const Settings& settings, const std::vector<std::u16string>& texts,
                 Tally& tally) {
  TRegexEngine engine;
  ApplyModifiers(engine, modifiers);
  Apply(settings, engine);
  engine.SetExpression(pattern);
  try {
    engine.ProgramReady();
  } catch (const ERegexEngine&) {
    return;  // compile errors are the compiler tests' business
  }
  ReferenceMatcher reference(engine.ProgramUnits(), settings.reference);
  for (const std::u16string& text : texts) {
    std::vector<Result> expected;
    try {
      expected = Searches(static_cast<int>(text.size()),
                          [&](int offset) { return reference.Search(text, offset); });
    } catch (const ReferenceBudgetExceeded&) {
      ++tally.too_costly;
      continue;
    }
    for (int config = 0; config < 8; ++config) {
      const bool filters = config & 1;
      const bool linear = config & 2;
      const bool automaton = config & 4;
      engine.SetSearchFilters(filters);
      engine.SetLinearMatching(linear);
      engine.SetLinearEverywhere(linear);
      engine.SetAutomatonMatching(automaton);
      engine.SetAutomatonEverywhere(automaton);
      const std::vector<Result> actual = EngineSearches(engine, text);
      if (actual == expected) continue;
      ++tally.failures;
      ADD_FAILURE() << "pattern \"" << Printable(pattern) << "\" (" << Printable(modifiers)
                    << (settings.latin1 ? ", Latin-1 case" : "")
                    << (settings.no_pair ? ", other sets" : "") << ") on \"" << Printable(text)
                    << "\", filters " << (filters ? "on" : "off")
                    << (linear ? ", linear path on" : ", linear path off")
                    << (automaton ? ", automaton on" : ", automaton off")
                    << "\n  program: " << DumpProgram(engine.ProgramUnits())
                    << "\n  engine:" << Describe(actual) << "\n  reference:" << Describe(expected);
      return;
    }
    ++tally.cases;
    if (engine.CurrentSearchState().prepared.states.per_position > 0) ++tally.linear;
    if (engine.CurrentSearchState().prepared.automaton.usable) ++tally.automaton;
    if (!expected.front().groups.empty()) ++tally.with_match;
    for (const Result& r : expected)
      if (r.error == 1014) {
        ++tally.loop_overflow;
        break;
      }
  }
}

// Known answers of the matcher's rules, which the reference must give on its
// own before its agreement with the engine means anything.
TEST(ReferenceDifferential, TheReferenceGivesTheRulesKnownAnswers) {
  struct Known {
    std::u16string pattern;
    std::u16string text;
    ReferenceGroups expected;  // the first groups of the first match
    int error = 0;
  };
  const auto nested = [](int depth) {
    std::u16string pattern = u"a";
    for (int i = 0; i < depth; ++i) pattern = u"(" + pattern + u"){1,2}";
    return pattern;
  };
  const std::vector<Known> known = {
      {u"a|ab", u"ab", {{1, 1}}},
      {u"a+?", u"aaa", {{1, 1}}},
      {u"a{2,3}?", u"aaa", {{1, 2}}},
      {u"(a)|b\\1", u"b", {}},
      {u"(a|ab){1,2}c", u"abc", {{1, 3}, {1, 2}}},
      {u"((a)+?b){2}", u"abab", {{1, 4}, {3, 2}, {3, 1}}},
      {u"(ab)\\1*a", u"ababab", {{1, 5}}},
      {u"()(\\1)*x", u"x", {{1, 1}, {1, 0}, {1, 0}}},
      {u"(a)*?$", u"aa", {{1, 2}, {2, 1}}},
      {u"x*", u" ab", {{1, 0}}},
      {nested(10), u"aa", {{1, 2}}},
      {nested(11), u"aa", {}, 1014},
  };
  for (const Known& k : known) {
    ReferenceMatcher reference(CompileUnits(k.pattern), ReferenceSettings{});
    try {
      ReferenceGroups groups = reference.Search(k.text, 1);
      if (!groups.empty()) groups.resize(k.expected.size());
      EXPECT_EQ(k.error, 0) << Printable(k.pattern);
      EXPECT_EQ(groups, k.expected) << Printable(k.pattern) << " on " << Printable(k.text);
    } catch (const ReferenceError& e) {
      EXPECT_EQ(e.code, k.error) << Printable(k.pattern);
    }
  }
}

// The faults found in the field, each compared on every path and with the
// known number of matches that the corpus scan counts.
TEST(ReferenceDifferential, ReproducersAgreeOnEveryPath) {
  const std::u16string nul(1, u'\0');
  const struct {
    const char* name;
    std::u16string pattern;
    std::u16string text;
    int matches;  // Exec, then ExecNext while it finds
  } kCases[] = {
      {"a set of U+0000 after an empty lazy group", u"()??[\\x00]?", u" hello ", 8},
      {"the same after a lazy group", u"(a)??[\\x00]?", u" a ", 4},
      {"the same on a NUL", u"(a)??[\\x00]?", u" a" + nul + u"b ", 6},
      {"U+0000 before a space in a set", u"[\\x00 ](1|b)", u" x 1_   1_ 0 ", 2},
      {"the same on NULs", u"[\\x00 ](1|b)", nul + u"1_" + nul + u"b", 2},
      {"U+0000 in a literal is no empty literal", u"a\\x00b", u" ab ", 0},
      {"U+0000 in a literal finds a NUL", u"a\\x00b", u" a" + nul + u"b ", 1},
      {"the empty hex escape", u"a\\x{}b", u" a" + nul + u"b ", 1},
      {"a range from U+0000", u"[\\x00-\\x{1F}]+", u" a" + nul + u"\x1F" + nul + u" ", 1},
      {"a range to U+FFFF", u"[\\x{FFFE}-\\x{FFFF}]{2}", u" \uFFFF\uFFFE\uFFFF ", 1},
      {"lone surrogates", u"[\\x{D800}-\\x{DBFF}]\\x{DC00}", u" \xD800\xDC00\xDBFF\xDC00 ", 2},
      {"a NUL is no input end", u"b\\Z", u" b" + nul + u" ", 0},
      {"a loop over U+0000", u"(\\x00|x)+y", u" " + nul + u"x" + nul + u"y ", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Tally tally;
    CompareCase(c.pattern, u"", Settings{}, {c.text}, tally);
    EXPECT_EQ(tally.cases, 1);
    TRegexEngine engine;
    engine.SetExpression(c.pattern);
    int count = 0;
    for (bool hit = engine.Exec(c.text); hit && count <= static_cast<int>(c.text.size());
         hit = engine.ExecNext())
      ++count;
    EXPECT_EQ(count, c.matches) << Printable(c.pattern) << " on " << Printable(c.text);
  }
}

// How many cases the random comparison runs: TALLYFOLD_DIFFERENTIAL_CASES
// asks for more (the sanitizer stage of the full test run asks for
// 100,000), the default keeps an ordinary test run short.
int CasesWanted() {
  const char* wanted = std::getenv("TALLYFOLD_DIFFERENTIAL_CASES");
  const int cases = wanted != nullptr ? std::atoi(wanted) : 0;
  return cases > 0 ? cases : 30000;
}

TEST(ReferenceDifferential, RandomPatternsAgreeWithTheReference) {
  DialectGenerator gen(20250611);
  Tally tally;
  const int wanted = CasesWanted();
  // Every pattern gives up to four cases; a pattern that does not compile
  // gives none.
  for (int p = 0; tally.cases < wanted && p < wanted && tally.failures < 5; ++p) {
    const std::u16string pattern = gen.Pattern();
    const std::u16string modifiers = gen.Modifiers();
    const Settings settings = PickSettings(gen.Rng());
    std::vector<std::u16string> texts;
    for (int t = 0; t < 4; ++t) texts.push_back(gen.Text());
    CompareCase(pattern, modifiers, settings, texts, tally);
  }
  std::printf("%d cases, %d matching, %d overflowing the loop stack, %d too costly, "
              "%d on the linear path, %d on the automaton\n",
              tally.cases, tally.with_match, tally.loop_overflow, tally.too_costly, tally.linear,
              tally.automaton);
  // The comparison proves little unless most patterns compile and run,
  // many match, and the loop stack overflows now and then.
  EXPECT_GE(tally.cases, wanted);
  EXPECT_GT(tally.with_match, tally.cases / 5);
  EXPECT_GT(tally.loop_overflow, 200);
  EXPECT_LE(tally.too_costly, tally.cases / 1000);
  EXPECT_GT(tally.linear, tally.cases / 2);
  EXPECT_GT(tally.automaton, tally.cases / 2);
}

}  // namespace
}  // namespace tallyfold
