// Tests of what the search skips and of stopping a search: the start scan,
// the prefix and required-literal checks and the matcher's look-ahead at
// alternatives must never change a result, a match or an error raised,
// which random patterns run with those filters off and on show; and a set
// cancellation flag ends even a search that would backtrack for ages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "regex/MatchTestSupport.h"
#include "regex/Matcher.h"
#include "regex/PatternGenerator.h"
#include "regex/SearchDriver.h"

// Counts the allocations made while `g_counting` is set.
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void* CountedAllocation(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace tallyfold {
namespace {

using namespace tallyfold::test;

using Result = SearchResult;
using Outcome = SearchOutcome;

// The first error code in an outcome, or 0.
int FirstError(const Outcome& outcome) {
  for (const Result& result : outcome)
    if (result.error != 0) return result.error;
  return 0;
}

// Runs `pattern` under `modifiers` on `text` with and without the filters,
// with the filters also without the automaton, and without both (every
// position tried on the backtracker); the outcome with both.
Outcome ExpectSameWithoutFilters(const std::u16string& pattern, const std::u16string& modifiers,
                                 const std::u16string& text,
                                 TRegexEngine::CaseInverterFunc inverter = nullptr) {
  const auto run = [&](bool filters, bool automaton = true) {
    TRegexEngine engine;
    engine.SetSearchFilters(filters);
    engine.SetAutomatonMatching(automaton);
    ApplyModifiers(engine, modifiers);
    if (inverter != nullptr) engine.SetCaseInverter(inverter, nullptr);
    engine.SetExpression(pattern);
    // A first search readies the program, so that the searches compared
    // below also take the path that looks for the literal while copying.
    try {
      engine.Exec(text);
    } catch (const ERegexEngine&) {
    }
    return EverySearch(engine, text);
  };
  const Outcome filtered = run(true);
  const Outcome plain = run(false, false);
  EXPECT_EQ(filtered, plain) << "pattern " << Printable(pattern) << " (" << Printable(modifiers)
                             << ") on \"" << Printable(text) << "\"";
  EXPECT_EQ(run(false), plain) << "automaton without filters: pattern " << Printable(pattern)
                               << " (" << Printable(modifiers) << ") on \"" << Printable(text)
                               << "\"";
  EXPECT_EQ(run(true, false), plain) << "filters without automaton: pattern "
                                     << Printable(pattern) << " (" << Printable(modifiers)
                                     << ") on \"" << Printable(text) << "\"";
  return filtered;
}

// Both cases of the Latin-1 letters, so that prefixes and classes under i
// meet a case inverter that changes units from U+0080 up.
char16_t InvertLatin1(void*, char16_t ch) {
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return static_cast<char16_t>(ch + 0x20);
  return TRegexEngine::InvertCaseAscii(ch);
}

TEST(SearchPlan, RandomPatternsFindTheSameWithAndWithoutFilters) {
  const char16_t* const kModifiers[] = {u"", u"i", u"m", u"-s", u"-g", u"im-s"};
  // Nearly half the patterns nest complex loops around the loop stack's
  // limit, so that many searches raise 1014: an error is a result that the
  // filters must not change either.
  PatternGenerator gen(8086, /*deep_loops=*/true, /*corners=*/true);
  int compared = 0, with_matches = 0, raised = 0;
  for (int p = 0; p < 3000; ++p) {
    const std::u16string pattern = gen.Pattern();
    const std::u16string modifiers = kModifiers[p % std::size(kModifiers)];
    // Short texts and texts long enough for the eight-unit scans and their
    // tails, some with line breaks for ^ and $ under m.
    for (int t = 0; t < 4; ++t) {
      const std::u16string text = gen.Text(t % 2 == 0, t < 2 ? 13 : 26);
      const Outcome outcome = ExpectSameWithoutFilters(pattern, modifiers, text,
                                                       p % 7 == 0 ? InvertLatin1 : nullptr);
      if (HasFailure()) return;
      // Compile errors aside, a compiled program raises nothing but the
      // loop stack's overflow.
      const int error = FirstError(outcome);
      if (error >= 1000) {
        ASSERT_EQ(error, 1014) << Printable(pattern);
        ++raised;
        continue;
      }
      if (error != 0) continue;
      ++compared;
      if (!outcome.front().groups.empty()) ++with_matches;
    }
  }
  // The comparison means little unless many patterns compile and match,
  // and many raise.
  EXPECT_GT(compared, 3000 * 4 / 2);
  EXPECT_GT(with_matches, compared / 6);
  EXPECT_GT(raised, 3000 * 4 / 20);
}

// Eleven groups that nest complex loops (lazy or counted quantifiers): the
// innermost loop's entry overflows the loop stack of ten before the attempt
// consumes anything, so the unfiltered search raises 1014 at its first
// position whatever the text holds. The filters must not pass over that
// position, nor reject the input for lacking a literal or a unit that a
// match would need.
TEST(SearchPlan, DeeplyNestedLoopsRaiseWhereTheUnfilteredSearchDoes) {
  const std::u16string kBrief =
      u"(((((((((((a)+?){1,2}){1,2}?){1,2}?)+?){1,2}){1,2})+?)+?){1,2}?){1,2}?";
  {
    TRegexEngine engine;
    engine.SetExpression(kBrief);
    for (const char16_t* text : {u"bcd", u"", u"xa"}) {
      const ERegexEngine e = CatchEngineError([&] { engine.Exec(text); });
      EXPECT_EQ(e.Code, 1014) << Printable(text);
      EXPECT_STREQ(e.what(), "TRegexEngine(exec): Loop Stack Exceeded");
    }
  }

  // `depth` groups around "a", quantified from the innermost out by
  // `quantifiers` in turn.
  const auto nest = [](int depth, std::vector<std::u16string> quantifiers) {
    std::u16string pattern = u"a";
    for (int level = 0; level < depth; ++level)
      pattern = u"(" + pattern + u")" + quantifiers[level % quantifiers.size()];
    return pattern;
  };
  std::vector<std::u16string> patterns = {kBrief};
  for (const int depth : {9, 10, 11, 12, 14}) {
    patterns.push_back(nest(depth, {u"+?"}));
    patterns.push_back(nest(depth, {u"{1,2}"}));
    patterns.push_back(nest(depth, {u"{1,2}?", u"+?", u"{1,3}"}));
    patterns.push_back(nest(depth, {u"??"}));
    // Greedy * + and ? need no loop counter: eleven groups with one of
    // them nest only ten loops.
    patterns.push_back(nest(depth, {u"{1,2}", u"+?", u"+", u"{1,2}?", u"+?", u"{1,2}",
                                    u"{2}", u"+?", u"{1,2}", u"+?", u"{1,2}", u"+?"}));
    patterns.push_back(nest(depth, {u"??", u"?", u"??", u"??"}));
  }
  const std::size_t nests = patterns.size();
  // With a literal or required units elsewhere: before the nest (a prefix),
  // after it (a required literal), at the start of an alternation, or
  // inside a group.
  for (std::size_t k = 0; k < nests; ++k) {
    patterns.push_back(u"x" + patterns[k]);
    patterns.push_back(patterns[k] + u"foo");
    patterns.push_back(u"x*" + patterns[k] + u"foo");
    patterns.push_back(u"\\bfoo|" + patterns[k] + u"\\d+");
    // At most 14 groups compile.
    if (CountGroups(patterns[k]) < 14) patterns.push_back(u"\\b(x)" + patterns[k]);
  }
  patterns.push_back(u"((((((((((((ab)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)+?)foo");
  patterns.push_back(u"(((((((((((foo|a){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2})");

  const std::u16string kTexts[] = {u"",     u"bcd",        u"a",      u"xa",  u"XA foo",
                                   u"aaa fo", u"aaafoo bar", u"12 FOO", u"foo", u"b a x 7"};
  int raised = 0, matched = 0;
  for (const std::u16string& pattern : patterns)
    for (const char16_t* modifiers : {u"", u"i", u"-g", u"-s"})
      for (const std::u16string& text : kTexts) {
        const Outcome outcome = ExpectSameWithoutFilters(pattern, modifiers, text);
        if (HasFailure()) return;
        if (FirstError(outcome) == 1014) ++raised;
        if (!outcome.front().groups.empty()) ++matched;
      }
  EXPECT_GT(raised, 0);
  EXPECT_GT(matched, 0);

  // Ten loops fit the stack; the filters then work as for any pattern.
  TRegexEngine engine;
  engine.SetExpression(nest(10, {u"+?"}) + u"foo");
  EXPECT_FALSE(engine.Exec(u"bcd"));
  EXPECT_EQ(engine.LastError(), 0);
  ASSERT_TRUE(engine.Exec(u"bcd aafoo"));
  EXPECT_EQ(GroupSpan(engine, 0), Span(5, 5));
  // Eleven raise even on a text without "a" and "foo", as the first
  // attempt does.
  engine.SetExpression(nest(11, {u"+?"}) + u"foo");
  EXPECT_EQ(CatchEngineError([&] { engine.Exec(u"bcd"); }).Code, 1014);
  EXPECT_EQ(engine.LastError(), 1014);
}

TEST(SearchPlan, PatternsAimedAtEachScanFindTheSameWithAndWithoutFilters) {
  const char16_t* const kPatterns[] = {
      u"\\bthe\\b", u"(?#c)(\\bTHE)s?", u"\\w+ing\\b", u"[A-Z][a-z]+ \\d+", u"(a|b)*c",
      u"\u68C0\u7D22", u"[\u00E9\u00C9\u4E2D\u4E8C\u4E09]x", u"\\Aab|b\\Z", u"^a|b$",
      u"\\Z|a", u"x*", u"(ab)+|c", u"(a(b)c){2}d", u"\\x00a", u"(\\x00|b)c", u"a\\x00?b",
      u"\\d{2,}|[^a]", u"(?i)\u00E9t\u00E9", u"abc|abd", u"(a|ab)(c|bcd)(d*)",
      u"[0-9_]+", u"\\s\\S", u"(x)\\1", u"[a-cx-z]b",
      // Skipping over the rest of a run after a failed attempt.
      u"\\w+ing|\\w+ed", u"\\b\\w+ing|\\w+ed\\b", u"a+c|\\bb", u"(?#x)\\w*x",
      u"[ab]{0,3}c", u"a{2,}bc", u"a{1,3}b", u"\\bab|b*?c", u"(\\w+)c",
      // Required units.
      u"x[ab]+y|\\d", u"\\w\\d{2,}", u"[a-c]{1,}?\\.|[\u00E9]",
      // Group ends between a repeat and its literal; group openings after \b.
      u"\\b(\\w+) \\1\\b", u"(a+)(b)c", u"(\\w*?)(x)", u"\\b((a)+)b", u"\\b(\\w)",
  };
  const std::u16string kTexts[] = {
      u"",
      u" The theme, the THE end ",
      u"abcab the bring Mary 12 ab\u68C0\u7D22c \u00C9T\u00C9 \u00E9t\u00E9 abd",
      u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac bbbbbbbbbbbbbbbbbbbbxx z9_ zb",
      u"singing edged aaab aaaab abbbbc baac during red sing",
      u"line one\r\nline two\nLondon 2024 \u4E2Dx abcd abcbcdd",
      // The search ends at a 0 unit.
      std::u16string(u"the theme ab\0c the abc", 23),
  };
  for (const char16_t* pattern : kPatterns)
    for (const char16_t* modifiers : {u"", u"i", u"m"})
      for (const std::u16string& text : kTexts) {
        ExpectSameWithoutFilters(pattern, modifiers, text);
        ExpectSameWithoutFilters(pattern, modifiers, text, InvertLatin1);
        if (HasFailure()) return;
      }
}

TEST(SearchPlan, ALaterSetChangeIsSeenByTheNextSearch) {
  // The derived tables are cached per engine; a new word set must not be
  // served from the old cache.
  TRegexEngine engine;
  engine.SetExpression(u"\\w+");
  ASSERT_TRUE(engine.Exec(u"-- abc --"));
  EXPECT_EQ(GroupSpan(engine, 0), Span(4, 3));
  engine.SetWordSet(u"-");
  ASSERT_TRUE(engine.Exec(u"ab -- abc"));
  EXPECT_EQ(GroupSpan(engine, 0), Span(4, 2));
  engine.SetCaseInverter(InvertLatin1, nullptr);
  engine.SetModifier(1, true);
  engine.SetExpression(u"\u00E9");
  ASSERT_TRUE(engine.Exec(u"ab \u00C9"));
  EXPECT_EQ(GroupSpan(engine, 0), Span(4, 1));
}

TEST(SearchPlan, CountingLinesAllocatesNothingOnceWarm) {
  // The corpus scan's loop: Exec, then ExecNext until false, line after
  // line. After one pass over lines no longer than these, the input copy,
  // the stacks and the derived tables are all in place.
  const std::u16string lines[] = {
      u" The theme, the THE end ", u" bring singing 12 ",
      u" (a|b) abababc \u68C0\u7D22 ", u" x "};
  for (const char16_t* pattern : {u"\\bthe\\b", u"\\w+ing|(a|b)*c", u"\\d+|\u68C0"}) {
    TRegexEngine engine;
    engine.SetModifier(1, true);
    engine.SetExpression(pattern);
    long count = 0;
    const auto pass = [&] {
      for (const std::u16string& line : lines)
        for (bool hit = engine.Exec(line); hit; hit = engine.ExecNext()) ++count;
    };
    pass();
    g_allocations = 0;
    g_counting = true;
    pass();
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0) << Printable(pattern);
    EXPECT_GT(count, 0);
  }
}

// The cancellation bound: generous under the sanitizers, which slow every
// step several times over.
#if defined(__SANITIZE_ADDRESS__)
constexpr auto kCancelBound = std::chrono::milliseconds(1000);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr auto kCancelBound = std::chrono::milliseconds(1000);
#else
constexpr auto kCancelBound = std::chrono::milliseconds(100);
#endif
#else
constexpr auto kCancelBound = std::chrono::milliseconds(100);
#endif

TEST(SearchCancel, ABacktrackingSearchStopsSoonAfterTheFlagIsSet) {
  for (const bool linear : {false, true}) {
    SCOPED_TRACE(linear ? "linear path" : "plain backtracker");
    // On the plain backtracker (a+)+$ tries every way of splitting the run
    // before it gives up at the final "b": far longer than this test
    // waits. The linear path gets through 40 letters at once, but a run of
    // a million keeps it busy too: the inner a+ counts the rest of the run
    // from every position.
    std::atomic<bool> cancel{false};
    TRegexEngine engine;
    engine.SetLinearMatching(linear);
    engine.SetAutomatonMatching(false);
    engine.SetCancelFlag(&cancel);
    engine.SetExpression(u"(a+)+$");
    const std::u16string line = std::u16string(linear ? 1 << 20 : 40, u'a') + u"b";

    using Clock = std::chrono::steady_clock;
    std::atomic<int64_t> set_at{0};
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      set_at = Clock::now().time_since_epoch().count();
      cancel = true;
    });
    bool cancelled = false;
    try {
      engine.Exec(line);
    } catch (const ECancelled&) {
      cancelled = true;
    }
    const auto stopped = Clock::now();
    canceller.join();
    ASSERT_TRUE(cancelled);
    const auto latency = stopped - Clock::time_point(Clock::duration(set_at.load()));
    EXPECT_LT(latency, kCancelBound);

    // A cancelled search leaves no match behind, and the engine works on.
    EXPECT_EQ(engine.GroupPos(0), -1);
    EXPECT_EQ(CatchEngineError([&] { engine.ExecNext(); }).Code, 1007);
    cancel = false;
    engine.SetExpression(u"(a+)+b");
    ASSERT_TRUE(engine.Exec(line));
    EXPECT_EQ(GroupSpan(engine, 0), Span(1, static_cast<int>(line.size())));
  }
}

TEST(SearchCancel, ASetFlagStopsASearchOfManyShortAttempts) {
  // Each attempt of a[^a]|ab ends after a step or two, and the automaton
  // passes over the line in one run; the flag is still seen. Without the
  // flag the same search simply finds nothing.
  for (const bool automaton : {false, true}) {
    std::atomic<bool> cancel{true};
    TRegexEngine engine;
    engine.SetAutomatonMatching(automaton);
    engine.SetExpression(u"a[^a]|ab");
    const std::u16string line(100000, u'a');
    engine.SetCancelFlag(&cancel);
    EXPECT_THROW(engine.Exec(line), ECancelled) << automaton;
    engine.SetCancelFlag(nullptr);
    EXPECT_FALSE(engine.Exec(line)) << automaton;
    EXPECT_TRUE(regex_internal::ChoosePath(engine.CurrentSearchState().prepared, TRegexOptions(),
                                           false)
                    .automaton);
  }
}

// A pattern made of many literals in alternation (the literal set's case):
// random literals of letters and corner units, under i or not, bare, inside
// a group with \b around it or with something after, on texts pieced
// together from the literals, their beginnings and corner units. The
// filtered search must agree with the unfiltered one, and the set's own
// scan must give, from every offset, the first place where a literal
// occurs.
TEST(SearchPlan, LiteralSetsFindWhereOneOfManyLiteralsBegins) {
  std::mt19937 rng(4441);
  const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int with_set = 0, matched = 0;
  for (int p = 0; p < 160 && !HasFailure(); ++p) {
    const int count = 2 + below(p % 4 == 0 ? 400 : 30);
    std::vector<std::u16string> literals;
    std::u16string alternation;
    for (int n = 0; n < count; ++n) {
      std::u16string literal, written;
      const int length = 1 + below(n % 7 == 0 ? 8 : 4);
      for (int k = 0; k < length; ++k) {
        const char16_t unit = below(2) ? u"abcAB"[below(5)] : CornerUnit(rng);
        literal += unit;
        written += WritesPlain(unit) && below(2) ? std::u16string(1, unit) : HexEscape(unit, rng);
      }
      literals.push_back(literal);
      alternation += (n == 0 ? u"" : u"|") + written;
    }
    const int form = below(3);
    const std::u16string pattern = form == 0   ? alternation
                                   : form == 1 ? u"\\b(" + alternation + u")\\b"
                                               : u"(" + alternation + u")b?";
    const std::u16string modifiers = below(3) == 0 ? u"i" : u"";
    TRegexEngine engine;
    ApplyModifiers(engine, modifiers);
    engine.SetExpression(pattern);
    engine.ProgramReady();
    const regex_internal::LiteralSet& set = engine.CurrentSearchState().plan.literals;
    if (!set.empty()) ++with_set;
    for (int t = 0; t < 3; ++t) {
      std::u16string text;
      for (int piece = below(8); piece > 0; --piece) {
        const std::u16string& literal = literals[below(count)];
        text += below(3) ? literal : literal.substr(0, below(static_cast<int>(literal.size())));
        if (below(2)) text += CornerUnit(rng);
      }
      const Outcome outcome = ExpectSameWithoutFilters(pattern, modifiers, text);
      if (!outcome.empty() && !outcome.front().groups.empty()) ++matched;
      if (set.empty()) continue;
      const int end = static_cast<int>(text.size());
      text += u'\0';  // the engine's input ends in one
      for (int from = 0; from <= end; ++from) {
        int expected = -1;
        for (int at = from; at < end && expected < 0; ++at)
          for (int n = 0; n < set.size() && expected < 0; ++n) {
            const int length = set.at[n + 1] - set.at[n];
            bool occurs = length <= end - at;
            for (int k = 0; k < length && occurs; ++k)
              occurs = text[at + k] == set.units[set.at[n] + k] ||
                       text[at + k] == set.others[set.at[n] + k];
            if (occurs) expected = at;
          }
        ASSERT_EQ(set.Next(text.data(), from, end), expected)
            << Printable(pattern) << " on " << Printable(text) << " from " << from;
      }
    }
  }
  EXPECT_GT(with_set, 100);
  EXPECT_GT(matched, 150);
}

// Counted repeats of sets over many code points, with corner units among
// their members and after them, agree with the unfiltered search; and the
// issue's patterns take milliseconds on one long line of Chinese, where
// each attempt used to count the whole run of the set again.
TEST(SearchPlan, CountedWideSetsAgreeAndTakeLinearTime) {
  std::mt19937 rng(3203);
  const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const char16_t* const kWide[] = {u"\\x{4E00}-\\x{9FA5}", u"\\x{0100}-\\x{D7FF}",
                                   u"\\x{0080}-\\x{FFFF}", u"\\x{D800}-\\x{DFFF}"};
  for (int p = 0; p < 120 && !HasFailure(); ++p) {
    std::u16string set = u"[";
    if (below(4) == 0) set += u"^";
    for (int m = 1 + below(3); m > 0; --m)
      set += below(2) ? std::u16string(kWide[below(4)]) : CornerClassMember(rng);
    set += u"]";
    const int lo = below(4);
    const std::u16string count = u"{" + std::u16string(1, char16_t(u'0' + lo)) + u"," +
                                 std::u16string(1, char16_t(u'0' + lo + below(3))) + u"}" +
                                 (below(4) == 0 ? u"?" : u"");
    const std::u16string pattern = set + count + (below(2) ? CornerLiteral(rng) : u"\\x{7684}");
    const std::u16string modifiers = below(3) == 0 ? u"i" : u"";
    for (int t = 0; t < 3; ++t) {
      std::u16string text;
      for (int k = below(16); k > 0; --k)
        text += below(3) == 0 ? CornerUnit(rng) : char16_t(0x4E00 + below(0x51A6));
      ExpectSameWithoutFilters(pattern, modifiers, text);
    }
  }
  std::u16string line;
  for (int k = 0; k < 3200; ++k) line += char16_t(0x4E00 + (k * 7919) % 0x51A5);
  line += u"x\u7684";
  for (const char16_t* pattern : {u"[一-龥]{2}的", u"[\\x{0100}-\\x{D7FF}]{3}x",
                                  u"[\\x{0100}-\\x{FFFF}]{3}[^\\x{4E00}-\\x{9FA5}]"}) {
    TRegexEngine engine;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(AllMatches(engine, pattern, line).size(), 1u) << Printable(pattern);
    // About 20 ms on a loaded machine; the quadratic search took 21 s.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2))
        << Printable(pattern);
  }
}

}  // namespace
}  // namespace tallyfold
