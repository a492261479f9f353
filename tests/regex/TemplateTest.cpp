// Substitution: group references and escapes in templates, and ReplaceAll
// over every match, empty matches included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

struct TemplateCase {
  std::u16string tmpl;
  std::u16string expected;
};

void CheckExpansions(const std::u16string& pattern, const std::u16string& text,
                     const std::vector<TemplateCase>& cases) {
  TRegexEngine engine;
  engine.SetExpression(pattern);
  ASSERT_TRUE(engine.Exec(text));
  for (const TemplateCase& c : cases)
    EXPECT_EQ(engine.ExpandTemplate(c.tmpl), c.expected) << Printable(c.tmpl);
}

TEST(TemplateExpansion, GroupReferencesAndEscapes) {
  // Group 1 is "a", group 2 did not take part, group 3 is "c".
  CheckExpansions(u"(a)(b)?(c)", u"xac",
                  {
                      {u"$0", u"ac"},
                      {u"$&", u"ac"},
                      {u"${}", u"ac"},
                      {u"${&}", u"ac"},
                      {u"${0}", u"ac"},
                      {u"$1", u"a"},
                      {u"${1}", u"a"},
                      {u"${01}", u"a"},
                      {u"$2", u""},
                      {u"<$2>", u"<>"},
                      {u"$3", u"c"},
                      {u"$1$3", u"ac"},
                      {u"${1}0", u"a0"},
                      {u"$10", u""},
                      {u"$15", u""},
                      {u"[$99999999999999999999]", u"[]"},
                      {u"$x", u"$x"},
                      {u"${1", u"${1"},
                      {u"${x}", u"${x}"},
                      {u"$", u"$"},
                      {u"$$1", u"$a"},
                      {u"\\$1", u"$1"},
                      {u"\\\\", u"\\"},
                      {u"\\n", u"n"},
                      {u"a\\", u"a\\"},
                      {u"\\", u"\\"},
                      {u"", u""},
                      {u"[$1-$3]", u"[a-c]"},
                      {u"\u4E2D$1\u00E9", u"\u4E2Da\u00E9"},
                  });
}

TEST(TemplateExpansion, TwoDigitGroupNumbers) {
  CheckExpansions(u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", u"abcdefghijk",
                  {
                      {u"$10", u"j"},
                      {u"$11", u"k"},
                      {u"${1}0", u"a0"},
                      {u"$110", u""},
                      {u"$12", u""},
                      {u"$14", u""},
                  });
}

TEST(TemplateExpansion, EmptyGroupsAndFailedSearches) {
  CheckExpansions(u"a()b", u"ab", {{u"<$1>", u"<>"}, {u"$0", u"ab"}});

  TRegexEngine engine;
  engine.SetExpression(u"(z)");
  EXPECT_FALSE(engine.Exec(u"abc"));
  EXPECT_EQ(engine.ExpandTemplate(u"x$0$1y"), u"xy");
}

TEST(ReplaceAll, EveryMatchIsReplacedEmptyOnesIncluded) {
  struct Case {
    std::u16string pattern, input, tmpl;
    bool expand;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {u"x*", u"abc", u"-", true, u"-a-b-c-"},
      {u"x*", u"", u"-", true, u"-"},
      {u"a*", u"aab", u"-", true, u"--b-"},
      {u"b", u"abcb", u"[$0]", true, u"a[b]c[b]"},
      {u"b", u"abcb", u"[$0]", false, u"a[$0]c[$0]"},
      {u"z", u"abc", u"-", true, u"abc"},
      {u"(\\w+)@(\\w+)", u"to ann@home, bob@work", u"$2:$1", true,
       u"to home:ann, work:bob"},
      {u"\\b", u" ab ", u"|", true, u" |ab| "},
      // The text after a 0 unit is searched like the rest.
      {u"b", std::u16string(u"ab\0b", 4), u"-", true, std::u16string(u"a-\0-", 4)},
  };
  for (const Case& c : cases) {
    TRegexEngine engine;
    engine.SetExpression(c.pattern);
    EXPECT_EQ(engine.ReplaceAll(c.input, c.tmpl, c.expand), c.expected)
        << Printable(c.pattern) << " in " << Printable(c.input);
  }
}

// The corpus scan highlights a line by wrapping the pattern in a group and
// every match in a span.
TEST(ReplaceAll, HighlightingAsTheCorpusScanDoesIt) {
  TRegexEngine engine;
  engine.SetModifier(1, true);
  engine.SetExpression(u"(\\bthe\\b)");
  EXPECT_EQ(engine.ReplaceAll(u" The theme, the end ", u"<span class=\"key\">$1</span>", true),
            u" <span class=\"key\">The</span> theme, <span class=\"key\">the</span> end ");

  // ReplaceAll ends with a failed search: no positions are left.
  EXPECT_EQ(engine.GroupPos(0), -1);
  EXPECT_EQ(CatchEngineError([&] { engine.ExecNext(); }).Code, 1007);
}

}  // namespace
}  // namespace tallyfold
