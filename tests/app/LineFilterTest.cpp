// Tests of the needle a corpus line must hold: what it is for typical
// patterns, that patterns which do not compile or may raise give none, and
// that for random patterns and lines a line in which the scan's search
// finds a match always holds the needle.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/CorpusScan.h"
#include "app/LineFilter.h"
#include "regex/PatternGenerator.h"
#include "text/WideHelpers.h"

namespace tallyfold {
namespace {

TLineNeedle NeedleOf(const std::u16string& pattern, bool case_insensitive) {
  TRegexEngine engine;
  engine.SetModifier(1, case_insensitive);
  engine.SetExpression(pattern);
  return LineNeedleFor(engine);
}

using Ranges = std::vector<std::pair<char16_t, char16_t>>;

TEST(LineFilter, NeedlesOfTypicalPatterns) {
  struct Case {
    const char16_t* pattern;
    bool case_insensitive;
    const char16_t* units;
    const char16_t* others;
    Ranges ranges;
  };
  const Case kCases[] = {
      {u"\\bthe\\b", false, u"the", u"the", {}},
      {u"\\bthe\\b", true, u"the", u"THE", {}},
      {u" the", false, u"the", u"the", {}},
      {u"the ", true, u"the", u"THE", {}},
      {u"ab cde", false, u"cde", u"cde", {}},
      {u"abc\tde", false, u"abc", u"abc", {}},
      {u"\\d+", false, u"", u"", {{u'0', u'9'}}},
      {u"\\d+ km", false, u"km", u"km", {{u'0', u'9'}}},
      {u"[ a]+", false, u"", u"", {}},
      {u"x*", false, u"", u"", {}},
      {u"\u68C0\u7D22", false, u"\u68C0\u7D22", u"\u68C0\u7D22", {}},
      {u" ", false, u"", u"", {}},
  };
  for (const Case& c : kCases) {
    const TLineNeedle needle = NeedleOf(c.pattern, c.case_insensitive);
    EXPECT_EQ(needle.units, c.units) << "pattern " << Utf8Encode(c.pattern);
    EXPECT_EQ(needle.others, c.others) << "pattern " << Utf8Encode(c.pattern);
    EXPECT_EQ(needle.ranges, c.ranges) << "pattern " << Utf8Encode(c.pattern);
  }
}

TEST(LineFilter, PatternsThatFailOrMayRaiseGiveNoNeedle) {
  // Does not compile; eleven nested complex loops overflow the loop stack,
  // an error a needle must not hide.
  for (const char16_t* pattern :
       {u"(", u"a[", u"(((((((((((a)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?foo",
        u"x(((((((((((a)+?){1,2}){1,2}?){1,2}?)+?){1,2}){1,2})+?)+?){1,2}?){1,2}?"}) {
    TLineNeedle needle;
    EXPECT_NO_THROW(needle = NeedleOf(pattern, false)) << Utf8Encode(pattern);
    EXPECT_TRUE(needle.empty()) << Utf8Encode(pattern);
  }
  // The same loops one level less deep cannot raise.
  EXPECT_EQ(NeedleOf(u"((((((((((a)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?foo", false).units, u"foo");
}

bool RawLineHolds(std::u16string_view line, const TLineNeedle& needle) {
  if (!needle.ranges.empty()) {
    bool any = false;
    for (const char16_t unit : line)
      for (const auto& [first, last] : needle.ranges) any = any || (unit >= first && unit <= last);
    if (!any) return false;
  }
  for (std::size_t at = 0; at + needle.units.size() <= line.size(); ++at) {
    std::size_t k = 0;
    while (k < needle.units.size() &&
           (line[at + k] == needle.units[k] || line[at + k] == needle.others[k]))
      ++k;
    if (k == needle.units.size()) return true;
  }
  return false;
}

TEST(LineFilter, ALineWithAMatchAlwaysHoldsTheNeedle) {
  test::PatternGenerator generator(4242);
  int matched = 0, with_needle = 0;
  for (int round = 0; round < 3000; ++round) {
    std::u16string pattern = generator.Pattern();
    // Blanks at the edges of the pattern, where the padding meets them.
    if (round % 5 == 0) pattern.insert(pattern.begin(), u' ');
    if (round % 7 == 0) pattern.append({u'\\', u's'});
    const bool case_insensitive = round % 2 == 1;
    TRegexEngine engine;
    engine.SetModifier(1, case_insensitive);
    engine.SetExpression(pattern);
    const TLineNeedle needle = LineNeedleFor(engine);
    if (!needle.empty()) ++with_needle;
    for (int k = 0; k < 20; ++k) {
      const std::u16string line = generator.Text(false, 16);
      const std::u16string_view trimmed = TrimWideView(line);
      if (trimmed.empty()) continue;
      std::u16string padded(1, u' ');
      padded.append(trimmed);
      padded.push_back(u' ');
      int count = 0;
      try {
        count = CountMatches(engine, pattern, padded, nullptr);
      } catch (const ERegexEngine&) {
        continue;
      }
      if (count == 0) continue;
      ++matched;
      EXPECT_TRUE(RawLineHolds(line, needle))
          << "pattern " << Utf8Encode(pattern) << " line " << Utf8Encode(line);
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(matched, 2000);
  EXPECT_GT(with_needle, 1000);
}

}  // namespace
}  // namespace tallyfold
