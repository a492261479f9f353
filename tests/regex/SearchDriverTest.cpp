// The search driver: counting matches with Exec and ExecNext, offsets, the
// search hints, the input copy, and the runtime errors of searching.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

TEST(SearchCounting, EmptyMatchesAdvanceByOneAndTheEndIsACandidate) {
  struct Case {
    std::u16string pattern, text;
    std::vector<Span> matches;
  };
  const std::vector<Case> cases = {
      {u"x*", u" ab ", {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}},
      {u"a*", u"aab", {{1, 2}, {3, 0}, {4, 0}}},
      {u"a*", u"baa", {{1, 0}, {2, 2}, {4, 0}}},
      {u"\\b", u" ab ", {{2, 0}, {4, 0}}},
      {u"ab", u" ab ", {{2, 2}}},
      {u"a|b", u" ab ", {{2, 1}, {3, 1}}},
      {u"x*", u"", {{1, 0}}},
      {u"a", u"", {}},
      {u"\\d+", u"a12b345", {{2, 2}, {5, 3}}},
      // Matches never overlap.
      {u"aa", u"aaaaa", {{1, 2}, {3, 2}}},
      // First-character path.
      {u"abc", u"xxabcabcab", {{3, 3}, {6, 3}}},
      // Anchored programs give at most one match, at the start.
      {u"^", u"aaa", {{1, 0}}},
      {u"^a", u"aaa", {{1, 1}}},
      {u"^a", u"baa", {}},
      // Must-literal pre-check.
      {u".*foo", u"foo foo", {{1, 7}}},
      {u"x*ab.*cd", u"ab cd ab", {{1, 5}}},
      {u"\\w+ing\\b", u" singing ringing ", {{2, 7}, {10, 7}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AllMatches(c.pattern, c.text), c.matches)
        << Printable(c.pattern) << " on " << Printable(c.text);
}

TEST(SearchOffsets, ExecPosSearchesFromTheOffsetUpToTheEndPosition) {
  TRegexEngine engine;
  engine.SetExpression(u"x*");
  engine.SetInputString(u"abc");
  ASSERT_TRUE(engine.ExecPos(4));  // the empty position after the last character
  EXPECT_EQ(GroupSpan(engine, 0), (Span{4, 0}));
  EXPECT_FALSE(engine.ExecPos(5));  // beyond it: no match, no error
  EXPECT_EQ(engine.GroupPos(0), -1);

  engine.SetExpression(u"b");
  engine.SetInputString(u"abcb");
  ASSERT_TRUE(engine.ExecPos(3));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{4, 1}));
  ASSERT_TRUE(engine.ExecPos(2));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{2, 1}));
  EXPECT_FALSE(engine.ExecPos(5));
  EXPECT_FALSE(engine.ExecPos(1000));
}

// The must-literal check runs before any attempt: an input without the
// literal is rejected without starting the matcher. It passes over
// attempts that would fail, never over one that would raise: a pattern
// whose every attempt raises 1014 raises it whether the literal is there
// or not, as trying each position in turn does.
TEST(SearchHints, AMissingMustLiteralSkipsTheMatcher) {
  const auto nested = [](int depth) {
    std::u16string pattern = u"x*";
    for (int i = 0; i < depth; ++i) pattern += u"(";
    pattern += u"a";
    for (int i = 0; i < depth; ++i) pattern += u"){1,2}";
    return pattern + u"foo";
  };

  TRegexEngine engine;
  engine.SetExpression(nested(10));
  EXPECT_FALSE(engine.Exec(u"aaa fo"));
  EXPECT_EQ(engine.LastError(), 0);
  ASSERT_TRUE(engine.Exec(u"aaafoo"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, 6}));

  engine.SetExpression(nested(11));
  for (const char16_t* text : {u"aaa fo", u"aaa foo", u"", u"bcd"}) {
    const ERegexEngine e = CatchEngineError([&] { engine.Exec(text); });
    EXPECT_EQ(e.Code, 1014) << Printable(text);
  }

  // The literal must occur at or after the offset.
  engine.SetExpression(u".*foo");
  engine.SetInputString(u"foo bar");
  EXPECT_TRUE(engine.ExecPos(1));
  EXPECT_FALSE(engine.ExecPos(2));
}

TEST(SearchInput, AZeroUnitIsACharacterLikeAnyOther) {
  const std::u16string text(u"ab\0ab", 5);
  EXPECT_EQ(AllMatches(u"b", text), (std::vector<Span>{{2, 1}, {5, 1}}));
  EXPECT_EQ(AllMatches(u"b$", text), (std::vector<Span>{{5, 1}}));
  EXPECT_EQ(AllMatches(u"x*", text).size(), 6u);
  EXPECT_EQ(AllMatches(u"[^a]+", text), (std::vector<Span>{{2, 2}, {5, 1}}));
  EXPECT_EQ(AllMatches(u"\\x00|\\x{}a", text), (std::vector<Span>{{3, 1}}));
  EXPECT_EQ(AllMatches(u"\\x{}a", text), (std::vector<Span>{{3, 2}}));

  TRegexEngine engine;
  engine.SetExpression(u"b");
  engine.SetInputString(text);
  EXPECT_TRUE(engine.ExecPos(4));
  EXPECT_EQ(engine.GroupPos(0), 5);
}

TEST(SearchInput, ALongTextIsCopiedAndSearchedAsOneWhole) {
  // A long text is copied a slice at a time (a slice is 1 Mi units) while a
  // literal every match needs is looked for: occurrences cut by a slice's
  // end, and 0 units in any slice, must come out as for a short text.
  constexpr std::size_t kSlice = std::size_t{1} << 20;
  constexpr std::size_t kLong = 3 * kSlice;
  for (const std::size_t at : {std::size_t{0}, kSlice - 2, kSlice - 3, 2 * kSlice - 1, kLong - 4}) {
    SCOPED_TRACE(at);
    for (const bool ignore_case : {false, true}) {
      std::u16string text(kLong, u'a');
      text.replace(at, 4, ignore_case ? u"ZzZq" : u"zzzq");
      TRegexEngine engine;
      engine.SetModifier(1, ignore_case);
      engine.SetExpression(u"zzzq");
      ASSERT_FALSE(engine.Exec(u"the program is ready after one search"));
      ASSERT_TRUE(engine.Exec(text));
      EXPECT_EQ(engine.GroupPos(0), static_cast<int>(at) + 1);
      EXPECT_FALSE(engine.ExecNext());
      if (at == 0) continue;
      // A 0 unit in any slice is a character like any other: the search
      // goes on past it, and only a literal that holds one finds it.
      text[at - 1] = u'\0';
      EXPECT_TRUE(engine.Exec(text));
      EXPECT_EQ(engine.GroupPos(0), static_cast<int>(at) + 1);
      text[at + 3] = u'\0';
      EXPECT_FALSE(engine.Exec(text));
      engine.SetExpression(u"zzz\\x00");
      ASSERT_FALSE(engine.Exec(u"the program is ready after one search"));
      EXPECT_TRUE(engine.Exec(text));
      EXPECT_EQ(engine.GroupPos(0), static_cast<int>(at) + 1);
    }
  }
}

TEST(SearchInput, ACancelIsSeenWhileALongTextIsCopied) {
  std::atomic<bool> cancel{false};
  TRegexEngine engine;
  engine.SetExpression(u"zzzq");
  ASSERT_FALSE(engine.Exec(u"the program is ready after one search"));
  engine.SetCancelFlag(&cancel);
  const std::u16string text(std::size_t{3} << 20, u'a');
  // Without the text the literal can reject, nothing would run the matcher,
  // whose own looks at the flag would then never come.
  cancel.store(true);
  EXPECT_THROW(engine.Exec(text), ECancelled);
  cancel.store(false);
  EXPECT_FALSE(engine.Exec(text));
}

TEST(SearchInput, LoneSurrogatesAreOrdinaryCodeUnits) {
  const std::u16string text = u"\xD800" u"a\xDC00";
  EXPECT_EQ(AllMatches(u".", text).size(), 3u);
  EXPECT_EQ(AllMatches(u"x*", text).size(), 4u);
  EXPECT_EQ(AllMatches(u"[\\x{D800}]", text), (std::vector<Span>{{1, 1}}));
  EXPECT_EQ(AllMatches(u"\\x{DC00}", text), (std::vector<Span>{{3, 1}}));
  EXPECT_EQ(AllMatches(u"\\W", text), (std::vector<Span>{{1, 1}, {3, 1}}));
  EXPECT_EQ(AllMatches(u"\\b", text), (std::vector<Span>{{2, 0}, {3, 0}}));
  // A surrogate pair is two characters.
  EXPECT_EQ(AllMatches(u"^.$", u"\U0001F600"), (std::vector<Span>{}));
  EXPECT_EQ(AllMatches(u"^..$", u"\U0001F600"), (std::vector<Span>{{1, 2}}));
}

TEST(SearchInput, EachSearchSeesOnlyTheLatestText) {
  TRegexEngine engine;
  engine.SetExpression(u"a+");
  ASSERT_TRUE(engine.Exec(u"xaaaa"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{2, 4}));
  EXPECT_FALSE(engine.Exec(u"b"));
  ASSERT_TRUE(engine.Exec(u"ba"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{2, 1}));
  // A new input clears the positions of the last match.
  engine.SetInputString(u"ba");
  EXPECT_EQ(engine.GroupPos(0), -1);
  // Same length, other text.
  ASSERT_TRUE(engine.Exec(u"ab"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{1, 1}));
}

TEST(SearchInput, ModifierChangesTakeEffectAtTheNextSearch) {
  TRegexEngine engine;
  engine.SetExpression(u"ab");
  EXPECT_FALSE(engine.Exec(u"AB"));
  engine.SetModifier(1, true);
  EXPECT_TRUE(engine.Exec(u"AB"));
  engine.SetModifier(1, false);
  EXPECT_FALSE(engine.Exec(u"AB"));
}

void ExpectError(const ERegexEngine& e, int code, const char* message) {
  EXPECT_EQ(e.Code, code);
  EXPECT_STREQ(e.what(), message);
  EXPECT_EQ(e.ErrorPos, 0);
}

// After every error the engine still searches normally.
void ExpectUsable(TRegexEngine& engine) {
  engine.SetExpression(u"b+");
  ASSERT_TRUE(engine.Exec(u"abba"));
  EXPECT_EQ(GroupSpan(engine, 0), (Span{2, 2}));
  EXPECT_FALSE(engine.ExecNext());
}

TEST(SearchErrors, EachRuntimeErrorHasItsCodeAndMessage) {
  {
    TRegexEngine engine;
    const ERegexEngine e = CatchEngineError([&] { engine.Exec(u"abc"); });
    ExpectError(e, 1003, "TRegexEngine(exec): Not Assigned Expression Property");
    EXPECT_EQ(engine.LastError(), 1003);
    ExpectUsable(engine);
  }
  {
    TRegexEngine engine;
    engine.SetExpression(u"a");
    ExpectError(CatchEngineError([&] { engine.ExecPos(1); }), 1005,
                "TRegexEngine(exec): No Input String Specified");
    ExpectError(CatchEngineError([&] { engine.ExpandTemplate(u"$0"); }), 1005,
                "TRegexEngine(exec): No Input String Specified");
    EXPECT_EQ(engine.LastError(), 1005);
    ExpectUsable(engine);
  }
  {
    TRegexEngine engine;
    engine.SetExpression(u"a");
    ASSERT_TRUE(engine.Exec(u"a"));
    for (int offset : {0, -1, -2147483647 - 1}) {
      ExpectError(CatchEngineError([&] { engine.ExecPos(offset); }), 1006,
                  "TRegexEngine(exec): Offset Must Be Greater Then 0");
      // The positions were cleared before the error.
      EXPECT_EQ(engine.GroupPos(0), -1);
    }
    ExpectUsable(engine);
  }
  {
    TRegexEngine engine;
    engine.SetExpression(u"a");
    ExpectError(CatchEngineError([&] { engine.ExecNext(); }), 1007,
                "TRegexEngine(exec): ExecNext Without Exec[Pos]");
    EXPECT_FALSE(engine.Exec(u"b"));
    ExpectError(CatchEngineError([&] { engine.ExecNext(); }), 1007,
                "TRegexEngine(exec): ExecNext Without Exec[Pos]");
    ExpectUsable(engine);
  }
}

TEST(SearchErrors, ABadLinePairRaises128AndKeepsThePreviousPair) {
  const char* message =
      "TRegexEngine(comp): LinePairedSeparator must countain two different chars "
      "or no chars at all (pos 0)";
  TRegexEngine engine;
  ApplyModifiers(engine, u"m");
  for (const char16_t* pair : {u"a", u"\n\n", u"abc"}) {
    ExpectError(CatchEngineError([&] { engine.SetLinePairedSeparator(pair); }), 128, message);
    EXPECT_EQ(engine.LinePairedSeparator(), u"\r\n");
  }
  EXPECT_EQ(AllMatches(engine, u"$", u"a\r\nb"), (std::vector<Span>{{2, 0}, {5, 0}}));
  ExpectUsable(engine);
}

TEST(SearchErrors, CompileAndMatcherErrorsPassThroughTheSearch) {
  TRegexEngine engine;
  engine.SetExpression(u"(a");
  const ERegexEngine compile = CatchEngineError([&] { engine.Exec(u"a"); });
  EXPECT_EQ(compile.Code, 103);
  EXPECT_STREQ(compile.what(), "TRegexEngine(comp): ParseReg Unmatched () (pos 2)");
  EXPECT_EQ(engine.GroupPos(0), -1);
  ExpectUsable(engine);

  engine.SetExpression(u"((((((((((((a)+)+)+)+)+)+)+)+)+)+)+?)");
  ASSERT_TRUE(engine.Exec(u"xa"));  // greedy complex + needs no loop counter
  engine.SetExpression(u"((((((((((((a)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)");
  ExpectError(CatchEngineError([&] { engine.Exec(u"xa"); }), 1014,
              "TRegexEngine(exec): Loop Stack Exceeded");
  // The failed search leaves no match to continue from.
  ExpectError(CatchEngineError([&] { engine.ExecNext(); }), 1007,
              "TRegexEngine(exec): ExecNext Without Exec[Pos]");
  ExpectUsable(engine);
}

}  // namespace
}  // namespace tallyfold
