// The matcher: order of trying, repetitions, captures, back-references,
// complex loops, anchors, case folding, its runtime errors and deep matching.
// Most cases run end to end through SetExpression and Exec; the errors that
// no compiled pattern can reach run on hand-assembled programs.
#include "regex/Matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"
#include "regex/Program.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;
using namespace tallyfold::regex_internal;

// A pattern, a text and the expected first match: the whole match, then
// groups 1, 2, ...; no spans when nothing may match.
struct MatchCase {
  std::u16string pattern;
  std::u16string text;
  std::vector<Span> expected;
  std::u16string modifiers = u"";
};

void CheckFirstMatches(const std::vector<MatchCase>& cases) {
  for (const MatchCase& c : cases) {
    const int groups = c.expected.empty() ? 0 : static_cast<int>(c.expected.size()) - 1;
    EXPECT_EQ(FirstMatch(c.pattern, c.text, groups, c.modifiers), c.expected)
        << Printable(c.pattern) << " on " << Printable(c.text) << " ("
        << Printable(c.modifiers) << ")";
  }
}

TEST(MatcherAlternatives, FirstAlternativeThatLetsTheRestMatchWins) {
  CheckFirstMatches({
      {u"a|ab", u"ab", {{1, 1}}},
      {u"ab|a", u"ab", {{1, 2}}},
      {u"(a|ab)(c|bcd)", u"abcd", {{1, 4}, {1, 1}, {2, 3}}},
      {u"x(a|b|c)y", u"xcy", {{1, 3}, {2, 1}}},
      {u"(a|ab)c", u"abc", {{1, 3}, {1, 2}}},
      {u"a|b|", u"c", {{1, 0}}},
      {u"cat|dog", u"hotdog", {{4, 3}}},
  });
}

TEST(MatcherRepeats, GreedyLazyAndTheLookAheadCharacter) {
  CheckFirstMatches({
      {u"a*", u"baa", {{1, 0}}},
      {u"a+?", u"aaa", {{1, 1}}},
      {u"a{2,3}?", u"aaaa", {{1, 2}}},
      {u"a{2,3}", u"aaaa", {{1, 3}}},
      {u"a{2,}", u"aaaa", {{1, 4}}},
      {u"a{3}", u"aa", {}},
      {u"a{0}b", u"ab", {{2, 1}}},
      {u"a*ab", u"aaab", {{1, 4}}},
      {u"a*?b", u"aaab", {{1, 4}}},
      {u"a*a", u"aaa", {{1, 3}}},
      {u"a+?a", u"aaa", {{1, 2}}},
      {u"\\d+?x", u"123x", {{1, 4}}},
      {u"[ab]*b", u"abab", {{1, 4}}},
      {u".*c", u"abcbc", {{1, 5}}},
      {u".*?c", u"abcbc", {{1, 3}}},
      {u"ab?", u"ab", {{1, 2}}},
      {u"ab??", u"ab", {{1, 1}}},
      {u"ab??c", u"abc", {{1, 3}}},
      {u"\\w+ing\\b", u"a singing bird", {{3, 7}}},
      {u"a*", u"aaa", {{1, 0}}, u"-g"},  // g off: every quantifier is lazy
      {u"x[^x]*", u"xa\u4E2Dz", {{1, 4}}},
      {u"\\S+", u"  ab\u00E9 ", {{3, 3}}},
  });
}

TEST(MatcherRepeats, ComplexOperands) {
  CheckFirstMatches({
      {u"(ab)*c", u"ababc", {{1, 5}, {3, 2}}},
      {u"(ab)+", u"ababx", {{1, 4}, {3, 2}}},
      {u"(ab)?c", u"abc", {{1, 3}, {1, 2}}},
      {u"(ab)??c", u"abc", {{1, 3}, {1, 2}}},
      {u"(ab)+?", u"abab", {{1, 2}, {1, 2}}},
      {u"(ab)*?c", u"ababc", {{1, 5}, {3, 2}}},
      {u"(a|b)*?b", u"aab", {{1, 3}, {2, 1}}},
      {u"(ab){2,3}", u"ababababab", {{1, 6}, {5, 2}}},
      {u"(ab){2,3}?", u"ababababab", {{1, 4}, {3, 2}}},
      {u"(a|b){2}", u"ab", {{1, 2}, {2, 1}}},
      {u".*x", u"ab\r\nx", {{5, 1}}, u"-s"},  // `.` without s repeats as a loop
      {u"x.+?y", u"xaby", {{1, 4}}, u"-s"},
  });
}

TEST(MatcherCaptures, LastIterationAndGroupsThatDidNotTakePart) {
  CheckFirstMatches({
      {u"(a|b)*", u"ab", {{1, 2}, {2, 1}}},
      {u"(\\w)+", u"xyz", {{1, 3}, {3, 1}}},
      {u"((a)|b)+", u"ab", {{1, 2}, {2, 1}, {1, 1}}},
      {u"(a(b)?)+", u"aba", {{1, 3}, {3, 1}, {2, 1}}},
      {u"(a)|b", u"b", {{1, 1}, kUnset}},
      {u"(a)|(b)", u"b", {{1, 1}, kUnset, {1, 1}}},
      {u"(a)*", u"b", {{1, 0}, kUnset}},
      {u"()", u"x", {{1, 0}, {1, 0}}},
      // A group set on a path that failed later is put back.
      {u"(a)b|ac", u"ac", {{1, 2}, kUnset}},
      {u"(a)*ab", u"aab", {{1, 3}, {1, 1}}},
  });
}

TEST(MatcherBackReferences, PlainCaseInsensitiveAndUnset) {
  CheckFirstMatches({
      {u"(a)\\1", u"aa", {{1, 2}, {1, 1}}},
      {u"(a)\\1", u"aA", {}},
      {u"(a)\\1", u"aA", {{1, 2}, {1, 1}}, u"i"},
      {u"(a*)b\\1", u"aabaa", {{1, 5}, {1, 2}}},
      {u"(a*)b\\1", u"baa", {{1, 1}, {1, 0}}},
      // A back-reference to a group that has not taken part fails instead of
      // matching the empty text.
      {u"(a)|b\\1", u"b", {}},
      {u"(a)?b\\1", u"b", {}},
      {u"(ab)\\1", u"aba", {}},  // runs into the input end
  });
}

// U+0000 is a character like any other: in literals, in sets and ranges, in
// the input (where it does not end the text), under every repeat.
TEST(MatcherRepeats, TheNulCharacterIsAnOrdinaryUnit) {
  const std::u16string nul(1, u'\0');
  CheckFirstMatches({
      {u"(\\x00)*b", u"ab", {{2, 1}, kUnset}},
      {u"(\\x00)+b", u"a" + nul + nul + u"b", {{2, 3}, {3, 1}}},
      {u"(\\x{})*b", nul + u"b", {{1, 2}, {1, 1}}},
      {u"a\\x00b", u"ab", {}},
      {u"a\\x00b", u"a" + nul + u"b", {{1, 3}}},
      {u"a(\\x00|x)*b", u"ax" + nul + u"b", {{1, 4}, {3, 1}}},
      {u"[\\x00 ](1|b)", u"x 1_ " + nul + u"b", {{2, 2}, {3, 1}}},
      {u"[\\x00-\\x01]+", u"a" + nul + u"\x01" + nul + u"b", {{2, 3}}},
      {u"[^\\x00]+", nul + u"ab" + nul, {{2, 2}}},
      {u"b$", u"ab" + nul, {}},             // a NUL is no input end
      {u"\\x00\\Z", u"ab" + nul, {{3, 1}}},
      {u"(?i)A\\x00", u"xa" + nul, {{2, 2}}},
      {u"\\x00{2}", nul + u"a" + nul + nul, {{3, 2}}},
      {u"()??[\\x00]?", u"hello", {{1, 0}, kUnset}},
      // The default separator set stores a 0 unit, which is no member;
      // nor is a NUL a word or a space character.
      {u"(?-s).+", u"a" + nul + u"b", {{1, 3}}},
      {u"(?m)a$", u"a" + nul, {}},
      {u"\\W\\S", nul + nul, {{1, 2}}},
  });
}

TEST(MatcherBackReferences, RepeatedBackReferencesCountWholeRepetitions) {
  CheckFirstMatches({
      {u"(ab)\\1*", u"abababx", {{1, 6}}},
      {u"(ab)\\1*a", u"ababab", {{1, 5}}},
      {u"(ab)\\1+", u"abab", {{1, 4}}},
      {u"(ab)\\1{2}", u"abababab", {{1, 6}}},
      {u"(ab)\\1{3}", u"ababab", {}},
      {u"(ab)\\1*?x", u"ababx", {{1, 5}}},
      {u"(ab)\\1*?a", u"ababab", {{1, 3}}},
      {u"(ab)\\1{1,2}?a", u"abababab", {{1, 5}}},
      {u"(Ab)\\1*", u"AbaBAB", {{1, 6}}, u"i"},
      {u"(a)?\\1*b", u"b", {{1, 1}, kUnset}},
      {u"(a)?\\1+b", u"b", {}},
  });
}

// A back-reference to an empty capture consumes nothing, so a repetition of
// it makes no progress; each of these must end, not loop.
TEST(MatcherBackReferences, RepetitionsOfAnEmptyCaptureEnd) {
  CheckFirstMatches({
      {u"()\\1*x", u"x", {{1, 1}, {1, 0}}},
      {u"()\\1+x", u"x", {{1, 1}, {1, 0}}},
      {u"()\\1{3,5}x", u"x", {{1, 1}, {1, 0}}},
      {u"()\\1*?x", u"x", {{1, 1}, {1, 0}}},
      {u"(a?)\\1*b", u"b", {{1, 1}, {1, 0}}},
      {u"()(\\1)*x", u"x", {{1, 1}}},
      {u"()(\\1)+x", u"x", {{1, 1}}},
      {u"()(\\1)*?x", u"x", {{1, 1}}},
      {u"()(\\1){2,}x", u"x", {{1, 1}}},
      {u"()(\\1|a)*x", u"aax", {{1, 3}}},
      {u"()(a|\\1)*x", u"aax", {{1, 3}}},
      {u"()(\\1)*y", u"x", {}},
  });
}

TEST(MatcherLoops, FinishedLoopsGiveBackTheirCounterAndDepth) {
  CheckFirstMatches({
      {u"(a|ab){1,2}c", u"abc", {{1, 3}, {1, 2}}},
      {u"((a)+?b){2}", u"abab", {{1, 4}, {3, 2}, {3, 1}}},
      {u"(x(ab)*?y){2}", u"xabyxy", {{1, 6}, {5, 2}, {2, 2}}},
      {u"((ab)*?c)+?d", u"abcabcd", {{1, 7}, {4, 3}, {4, 2}}},
      {u"((a|b){2}c){2}", u"abcbac", {{1, 6}, {4, 3}, {5, 1}}},
      {u"((a){1,3}?b){2}", u"aabab", {{1, 5}, {4, 2}, {4, 1}}},
  });
}

std::u16string NestedLoops(int depth) {
  std::u16string pattern;
  for (int i = 0; i < depth; ++i) pattern += u"(";
  pattern += u"a";
  for (int i = 0; i < depth; ++i) pattern += u"){1,2}";
  return pattern;
}

TEST(MatcherLoops, TenNestedLoopsMatchAndElevenExceedTheLoopStack) {
  EXPECT_EQ(FirstMatch(NestedLoops(10), u"aa"), (std::vector<Span>{{1, 2}}));

  TRegexEngine engine;
  engine.SetExpression(NestedLoops(11));
  const ERegexEngine e = CatchEngineError([&] { engine.Exec(u"aa"); });
  EXPECT_EQ(e.Code, 1014);
  EXPECT_STREQ(e.what(), "TRegexEngine(exec): Loop Stack Exceeded");
  EXPECT_EQ(e.ErrorPos, 0);
  EXPECT_EQ(engine.LastError(), 1014);
  EXPECT_EQ(engine.GroupPos(0), -1);
  EXPECT_EQ(engine.GroupPos(1), -1);

  // The engine stays usable.
  engine.SetExpression(u"a+");
  ASSERT_TRUE(engine.Exec(u"baab"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{2, 2}));
}

// Loops in a row, unlike nested ones, never hold more than one counter.
TEST(MatcherLoops, ElevenLoopsInARowNeedNoDeeperStack) {
  std::u16string lazy, greedy;
  for (int i = 0; i < 11; ++i) {
    lazy += u"(a)*?";
    greedy += u"(a){0,2}";
  }
  EXPECT_EQ(FirstMatch(lazy + u"$", u"aaaaaaaaaaa"), (std::vector<Span>{{1, 11}}));
  EXPECT_EQ(FirstMatch(greedy + u"b", u"aaaab"), (std::vector<Span>{{1, 5}}));
}

TEST(MatcherAnchors, MultiLineAnchorsAroundLineBreaks) {
  struct Case {
    std::u16string pattern, text, modifiers;
    std::vector<Span> matches;
  };
  const std::vector<Case> cases = {
      // A CR LF pair is one separator: nothing matches between its halves.
      {u"$", u"a\r\nb", u"m", {{2, 0}, {5, 0}}},
      {u"^", u"a\r\nb", u"m", {{1, 0}, {4, 0}}},
      {u"^b", u"a\r\nb", u"m", {{4, 1}}},
      {u"a$", u"a\r\n", u"m", {{1, 1}}},
      // Lone CR and LF, and the other separators, each end a line.
      {u"^", u"a\rb\nc", u"m", {{1, 0}, {3, 0}, {5, 0}}},
      {u"$", u"a\n\rb", u"m", {{2, 0}, {3, 0}, {5, 0}}},
      {u"^.", u"a\u2028b\u000Bc\u000Cd\u2029e", u"m", {{1, 1}, {3, 1}, {5, 1}, {7, 1}, {9, 1}}},
      {u"^$", u"\r\n\r\n", u"m", {{1, 0}, {3, 0}, {5, 0}}},
      // Without m, ^ and $ are the input's start and very end.
      {u"^", u"a\nb", u"", {{1, 0}}},
      {u"c$", u"abc\n", u"", {}},
      {u"c$", u"abc", u"", {{3, 1}}},
      {u"\\Aa|b\\Z", u"ab\nab", u"m", {{1, 1}, {5, 1}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AllMatches(c.pattern, c.text, c.modifiers), c.matches)
        << Printable(c.pattern) << " on " << Printable(c.text);
}

TEST(MatcherAnchors, DotWithAndWithoutS) {
  for (char16_t separator : {u'\r', u'\n', u'\v', u'\f', u'\u2028', u'\u2029'}) {
    const std::u16string text(1, separator);
    EXPECT_TRUE(AllMatches(u".", text, u"-s").empty()) << int(separator);
    EXPECT_EQ(AllMatches(u".", text), (std::vector<Span>{{1, 1}})) << int(separator);
  }
  EXPECT_EQ(AllMatches(u".+", u"ab\r\ncd", u"-s"), (std::vector<Span>{{1, 2}, {5, 2}}));
  EXPECT_EQ(AllMatches(u".+", u"ab\r\ncd"), (std::vector<Span>{{1, 6}}));
  EXPECT_EQ(AllMatches(u".", u"\t\u00E9\uFFFF", u"-s").size(), 3u);
}

// The paired separator counts only as a pair; a lone head that is not in
// the separator set is an ordinary character.
TEST(MatcherAnchors, PairedSeparatorAndASeparatorSetWithoutItsHead) {
  TRegexEngine engine;
  ApplyModifiers(engine, u"-s");
  engine.SetLineSeparatorSet(u"\n");
  EXPECT_EQ(AllMatches(engine, u".", u"\r"), (std::vector<Span>{{1, 1}}));
  EXPECT_TRUE(AllMatches(engine, u".", u"\r\n").empty());
  EXPECT_EQ(AllMatches(engine, u".", u"\n\r"), (std::vector<Span>{{2, 1}}));

  TRegexEngine swapped;
  ApplyModifiers(swapped, u"m");
  swapped.SetLinePairedSeparator(u"\n\r");
  EXPECT_EQ(AllMatches(swapped, u"$", u"a\n\rb"), (std::vector<Span>{{2, 0}, {5, 0}}));
  EXPECT_EQ(AllMatches(swapped, u"$", u"a\r\nb"),
            (std::vector<Span>{{2, 0}, {3, 0}, {5, 0}}));
}

TEST(MatcherCaseFolding, OnlyAsciiLettersFoldByDefault) {
  CheckFirstMatches({
      {u"k", u"K", {{1, 1}}, u"i"},
      {u"K", u"k", {{1, 1}}, u"i"},
      {u"k", u"K", {}},
      {u"\u00E9", u"\u00C9", {}, u"i"},
      {u"[\u00E9]", u"\u00C9", {}, u"i"},
      {u"[a-c]+", u"xBaC", {{2, 3}}, u"i"},
      {u"[^a]", u"Ab", {{2, 1}}, u"i"},
      {u"[^\u00E9]", u"\u00C9", {{1, 1}}, u"i"},
      {u"ab*c", u"ABBBC", {{1, 5}}, u"i"},
      {u"\\bTHE\\b", u"in the end", {{4, 3}}, u"i"},
      {u"1", u"1", {{1, 1}}, u"i"},
      {u"\\w", u"\u00E9", {}, u"i"},
      {u"(?i)x(?-i)y", u"XY Xy", {{4, 2}}},
  });
}

// The case inverter is consulted for every character, so a replacement that
// folds é and É makes them match each other.
TEST(MatcherCaseFolding, ACustomCaseInverterIsUsed) {
  const auto fold = [](void*, char16_t ch) -> char16_t {
    if (ch == u'\u00E9') return u'\u00C9';
    if (ch == u'\u00C9') return u'\u00E9';
    return TRegexEngine::InvertCaseAscii(ch);
  };
  for (const char16_t* pattern : {u"\u00E9", u"[\u00E9]", u"(\u00E9)\\1", u"\u00E9+"}) {
    TRegexEngine engine;
    engine.SetCaseInverter(fold, nullptr);
    engine.SetModifier(1, true);
    engine.SetExpression(pattern);
    EXPECT_TRUE(engine.Exec(u"\u00C9\u00C9")) << Printable(pattern);
  }
}

TEST(MatcherWordBoundaries, InputEdgesAreNonWordSides) {
  struct Case {
    std::u16string pattern, text;
    std::vector<Span> matches;
  };
  const std::vector<Case> cases = {
      {u"\\bword\\b", u"word", {{1, 4}}},
      {u"\\bword\\b", u"a word", {{3, 4}}},
      {u"\\bword\\b", u"swords", {}},
      // é is not a word character: café has a boundary between f and é.
      {u"\\b", u"caf\u00E9", {{1, 0}, {4, 0}}},
      {u"\\B", u"ab", {{2, 0}}},
      {u"\\B", u"", {{1, 0}}},
      {u"\\b", u"", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AllMatches(c.pattern, c.text), c.matches)
        << Printable(c.pattern) << " on " << Printable(c.text);
}

// Builds programs node by node for the errors that no compiled pattern can
// reach.
class ProgramBuilder {
 public:
  ProgramBuilder() : units_{kProgramMark} {}
  int Node(char16_t op, std::vector<char16_t> operand = {}) {
    const int at = static_cast<int>(units_.size());
    units_.insert(units_.end(), {op, 0, 0});
    units_.insert(units_.end(), operand.begin(), operand.end());
    return at;
  }
  void Link(int from, int to) { SetNextNode(units_.data(), from, to); }
  std::vector<char16_t>& Units() { return units_; }

 private:
  std::vector<char16_t> units_;
};

char16_t InvertAscii(void*, char16_t ch) { return TRegexEngine::InvertCaseAscii(ch); }

// The analysis of `program` under `engine`'s sets.
PreparedProgram Prepared(const TRegexEngine& engine, const std::vector<char16_t>& program) {
  PreparedProgram prepared;
  PrepareProgram(program,
                 CharacterSets{engine.WordSet(), engine.SpaceSet(), engine.LineSeparatorSet(),
                               InvertAscii, nullptr},
                 prepared);
  return prepared;
}

ERegexEngine RunProgram(const std::vector<char16_t>& program, const std::u16string& text) {
  TRegexEngine engine;
  engine.SetInputString(text);
  const PreparedProgram prepared = Prepared(engine, program);
  MatchScratch scratch;
  Matcher matcher(engine, program, prepared, scratch);
  return CatchEngineError([&] { matcher.MatchAt(0); });
}

TEST(MatcherErrors, MalformedProgramsRaiseTheirCodes) {
  {
    ProgramBuilder b;  // a repeat of a node that cannot be counted
    const int alt = b.Node(ALTERNATIVE);
    const int star = b.Node(REPEAT_STAR);
    b.Node(WORD_BOUNDARY);
    const int end = b.Node(MATCH_END);
    b.Link(alt, end);
    b.Link(star, end);
    const ERegexEngine e = RunProgram(b.Units(), u"a");
    EXPECT_EQ(e.Code, 1000);
    EXPECT_STREQ(e.what(), "TRegexEngine(exec): RegRepeat Called Inappropriately");
  }
  {
    ProgramBuilder b;  // an opcode that does not exist
    const int alt = b.Node(ALTERNATIVE);
    const int bad = b.Node(25);
    const int end = b.Node(MATCH_END);
    b.Link(alt, end);
    b.Link(bad, end);
    const ERegexEngine e = RunProgram(b.Units(), u"a");
    EXPECT_EQ(e.Code, 1001);
    EXPECT_STREQ(e.what(), "TRegexEngine(exec): MatchPrim Memory Corruption");
  }
  {
    ProgramBuilder b;  // a chain that ends before MATCH_END
    const int alt = b.Node(ALTERNATIVE);
    b.Node(LITERAL, {1, 0, u'a'});
    const int end = b.Node(MATCH_END);
    b.Link(alt, end);
    const ERegexEngine e = RunProgram(b.Units(), u"a");
    EXPECT_EQ(e.Code, 1002);
    EXPECT_STREQ(e.what(), "TRegexEngine(exec): MatchPrim Corrupted Pointers");
  }
  {
    ProgramBuilder b;  // a loop end without its entry
    const int alt = b.Node(ALTERNATIVE);
    const int body = b.Node(LITERAL, {1, 0, u'a'});
    const int loop = b.Node(LOOP, std::vector<char16_t>(FixedOperandUnits(LOOP)));
    const int end = b.Node(MATCH_END);
    SetLoopFields(b.Units().data(), loop, 1, 2, body);
    b.Link(alt, end);
    b.Link(body, loop);
    b.Link(loop, end);
    const ERegexEngine e = RunProgram(b.Units(), u"aa");
    EXPECT_EQ(e.Code, 1015);
    EXPECT_STREQ(e.what(), "TRegexEngine(exec): Loop Without LoopEntry !");
  }
}

TEST(MatcherStepLimit, ABoundedAttemptFailsAndTheSearchGoesOn) {
  // Each iteration of (a|b)* takes several steps, so an attempt at the
  // start of a long line needs thousands; under a bound of 500 only an
  // attempt near the end gets through.
  std::u16string line;
  for (int i = 0; i < 2000; ++i) line += u"ab";
  line += u"c";
  const int length = static_cast<int>(line.size());
  {
    TRegexEngine engine;
    engine.SetMatchStepLimit(500);
    engine.SetExpression(u"(a|b)*c");
    ASSERT_TRUE(engine.Exec(line));
    ASSERT_GT(engine.GroupPos(0), 1);
    EXPECT_EQ(engine.GroupPos(0) + engine.GroupLen(0) - 1, length);
    // Short attempts are not cut.
    engine.SetExpression(u"\\d+");
    EXPECT_EQ(AllMatches(engine, u"\\d+", u" 12 x 345 "), (std::vector<Span>{{2, 2}, {7, 3}}));
    // A search that would backtrack for ages fails instead.
    engine.SetExpression(u"(a+)+$");
    EXPECT_FALSE(engine.Exec(std::u16string(40, u'a') + u"b"));
    // The bound is the engine's own: another engine, and this one once it
    // is lifted, match from the start.
    TRegexEngine other;
    other.SetExpression(u"(a|b)*c");
    ASSERT_TRUE(other.Exec(line));
    EXPECT_EQ(GroupSpan(other, 0), (Span{1, length}));
    engine.SetMatchStepLimit(-1);
    EXPECT_EQ(engine.MatchStepLimit(), 0);
    engine.SetExpression(u"(a|b)*c");
    ASSERT_TRUE(engine.Exec(line));
    EXPECT_EQ(GroupSpan(engine, 0), (Span{1, length}));
  }
}

// Patterns whose matching depth grows with the input: every iteration is a
// place to come back to, kept on the heap rather than the thread's stack.
TEST(MatcherDeepMatching, LongLinesFinishWithoutExhaustingTheStack) {
  const int kUnits = 5 * 1024 * 1024;  // 10 MB of UTF-16
  std::u16string ab;
  ab.reserve(kUnits + 1);
  while (static_cast<int>(ab.size()) < kUnits) ab += u"ab";
  const std::u16string abc = ab + u"c";

  TRegexEngine engine;
  engine.SetExpression(u"(a|b)*c");
  ASSERT_TRUE(engine.Exec(abc));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, kUnits + 1}));
  EXPECT_EQ(GroupSpan(engine, 1), (Span{kUnits, 1}));

  engine.SetExpression(u"(ab)*c");
  ASSERT_TRUE(engine.Exec(abc));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, kUnits + 1}));
  EXPECT_EQ(GroupSpan(engine, 1), (Span{kUnits - 1, 2}));

  // Here every iteration leaves a choice point behind.
  engine.SetExpression(u"(a|ab)*c");
  ASSERT_TRUE(engine.Exec(abc));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, kUnits + 1}));

  const std::u16string as(2 * 1024 * 1024, u'a');
  engine.SetExpression(u"(a)*");
  ASSERT_TRUE(engine.Exec(as));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, static_cast<int>(as.size())}));
  EXPECT_EQ(GroupSpan(engine, 1), (Span{static_cast<int>(as.size()), 1}));
  // The same depth, then a failure that unwinds every choice point.
  engine.SetExpression(u"^(a)*(b|$)x");
  EXPECT_FALSE(engine.Exec(as));
  engine.SetExpression(u"^(a)+?$");
  ASSERT_TRUE(engine.Exec(as));
  EXPECT_EQ(GroupSpan(engine, 1), (Span{static_cast<int>(as.size()), 1}));
}

TEST(MatcherDeepMatching, RunningOutOfStackMemoryRaisesAnError) {
  TRegexEngine engine;
  engine.SetExpression(u"(a)*");
  ASSERT_TRUE(engine.ProgramReady());
  const std::vector<char16_t> program = engine.ProgramUnits();
  engine.SetInputString(std::u16string(100000, u'a'));

  const PreparedProgram prepared = Prepared(engine, program);
  MatchScratch scratch;
  scratch.byte_limit = 64 * 1024;
  Matcher matcher(engine, program, prepared, scratch);
  try {
    matcher.MatchAt(0);
    ADD_FAILURE() << "no error raised";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TRegexEngine(exec): Out Of Memory While Matching");
  }
  // Within the limit the same matcher goes on working.
  engine.SetInputString(u"aaa");
  Matcher short_matcher(engine, program, prepared, scratch);
  EXPECT_TRUE(short_matcher.MatchAt(0));
  EXPECT_EQ(engine.GroupPos(1), 3);
}

}  // namespace
}  // namespace tallyfold
