// Tests of what the engine says every match holds: typical patterns, the
// empty answer for patterns that do not compile or may raise, and for
// random patterns and texts that every match found holds it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "regex/PatternGenerator.h"
#include "regex/RegexEngine.h"

namespace tallyfold {
namespace {

using Ranges = std::vector<std::pair<char16_t, char16_t>>;

TRequiredText RequiredOf(const std::u16string& pattern, bool case_insensitive) {
  TRegexEngine engine;
  engine.SetModifier(1, case_insensitive);
  engine.SetExpression(pattern);
  return engine.RequiredText();
}

TEST(RequiredText, TypicalPatterns) {
  TRequiredText required = RequiredOf(u"\\bthe\\b", true);
  EXPECT_EQ(required.units, u"the");
  EXPECT_EQ(required.others, u"THE");
  EXPECT_TRUE(required.ranges.empty());

  required = RequiredOf(u"x*the sea", false);
  EXPECT_EQ(required.units, u"the sea");
  EXPECT_EQ(required.others, u"the sea");

  required = RequiredOf(u"\\d+ (?i)km", false);
  EXPECT_EQ(required.units, u"km");
  EXPECT_EQ(required.others, u"KM");
  EXPECT_EQ(required.ranges, (Ranges{{u'0', u'9'}}));

  EXPECT_TRUE(RequiredOf(u"x*", false).empty());
  EXPECT_TRUE(RequiredOf(u"a|b", false).empty());
}

TEST(RequiredText, NothingForPatternsThatFailOrMayRaise) {
  TRegexEngine engine;
  engine.SetExpression(u"(");
  TRequiredText required;
  EXPECT_NO_THROW(required = engine.RequiredText());
  EXPECT_TRUE(required.empty());
  // Eleven nested complex loops raise at the first attempt, whatever the
  // input holds; "foo" must not be said to rule inputs out.
  engine.SetExpression(u"(((((((((((a)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?foo");
  EXPECT_TRUE(engine.RequiredText().empty());
  EXPECT_THROW(engine.Exec(u"bar"), ERegexEngine);
  // The answer follows the modifiers.
  engine.SetExpression(u"abc");
  EXPECT_EQ(engine.RequiredText().others, u"abc");
  engine.SetModifier(1, true);
  EXPECT_EQ(engine.RequiredText().others, u"ABC");
}

TEST(RequiredText, EveryMatchHoldsIt) {
  test::PatternGenerator generator(777);
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::u16string pattern = generator.Pattern();
    TRegexEngine engine;
    engine.SetModifier(1, round % 2 == 1);
    engine.SetExpression(pattern);
    const TRequiredText required = engine.RequiredText();
    for (int k = 0; k < 10; ++k) {
      const std::u16string text = generator.Text(true, 20);
      bool found = false;
      try {
        found = engine.Exec(text);
      } catch (const ERegexEngine&) {
        continue;
      }
      if (!found) continue;
      const std::u16string match = text.substr(engine.GroupPos(0) - 1, engine.GroupLen(0));
      bool holds_literal = required.units.empty();
      for (std::size_t at = 0; !holds_literal && at + required.units.size() <= match.size(); ++at) {
        std::size_t n = 0;
        while (n < required.units.size() &&
               (match[at + n] == required.units[n] || match[at + n] == required.others[n]))
          ++n;
        holds_literal = n == required.units.size();
      }
      bool holds_unit = required.ranges.empty();
      for (const char16_t unit : match)
        for (const auto& [first, last] : required.ranges)
          holds_unit = holds_unit || (unit >= first && unit <= last);
      EXPECT_TRUE(holds_literal && holds_unit) << "round " << round;
      if (HasFailure()) return;
      if (!required.empty()) ++checked;
    }
  }
  EXPECT_GT(checked, 500);
}

}  // namespace
}  // namespace tallyfold
