// Differential test against PCRE2 (16-bit library, no UTF or UCP): random
// patterns and texts from the part of the dialect where the two engines
// agree, compared on every match position and group capture that counting
// with Exec and ExecNext finds.
//
// The shared subset, and why it stops where it does:
// - literals from a small alphabet (ASCII, é/É, a CJK character), escaped
//   metacharacters, classes of plain members, ranges and \d \w \s inside;
//   \D \S \W \b inside brackets are letters here but classes in PCRE2;
// - \w \d \s \W \D \S \b \B: both use ASCII sets, except that PCRE2's \s
//   also holds VT, so texts never contain VT;
// - groups, alternation, * + ? {n} {n,} {n,m} and their lazy forms; a
//   repetition of something that may match empty is rejected here (106) and
//   such patterns are skipped;
// - back-references only outside repetitions, to groups already closed,
//   and never followed by a digit (PCRE2 would read \12 as group 12);
// - ^ and $ without m: `$` matches only at the very end here, which is
//   PCRE2_DOLLAR_ENDONLY;
// - `.` under s is PCRE2_DOTALL; without s it also refuses CR, FF, VT and
//   U+2028/9 here, so texts for that mode hold no line breaks at all;
// - i folds ASCII letters only, as PCRE2 does without UTF and UCP.
// Counting continues after an empty match one character further on, which
// PCRE2 is asked for directly with a start offset.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

constexpr int kMaxGroups = 9;

class PatternGenerator {
 public:
  explicit PatternGenerator(uint32_t seed) : rng_(seed) {}

  std::u16string Pattern() {
    groups_opened_ = 0;
    closed_.assign(kMaxGroups + 1, false);
    return Alternation(0, false);
  }

  std::u16string Text(bool with_line_breaks) {
    static const std::u16string kChars = u"aabbcAB01 _-\u00E9\u00C9\u4E2D\t";
    std::u16string text;
    const int length = Below(14);
    for (int i = 0; i < length; ++i) {
      if (with_line_breaks && Below(12) == 0)
        text += Below(2) ? u'\n' : u'\r';
      else
        text += kChars[Below(static_cast<int>(kChars.size()))];
    }
    return text;
  }

 private:
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Below(100) < percent; }

  std::u16string Alternation(int depth, bool in_repeat) {
    std::u16string out = Sequence(depth, in_repeat);
    while (Chance(depth == 0 ? 20 : 30)) {
      out += u'|';
      out += Sequence(depth, in_repeat);
    }
    return out;
  }

  std::u16string Sequence(int depth, bool in_repeat) {
    std::u16string out;
    const int pieces = 1 + Below(4);
    for (int i = 0; i < pieces; ++i) out += Piece(depth, in_repeat);
    return out;
  }

  std::u16string Quantifier() {
    static const char16_t* kForms[] = {u"*", u"+", u"?", u"{2}", u"{1,}", u"{0,2}", u"{1,3}"};
    std::u16string q = kForms[Below(7)];
    if (Chance(35)) q += u"?";
    return q;
  }

  std::u16string Piece(int depth, bool in_repeat) {
    const int kind = Below(100);
    if (kind < 6) {
      static const char16_t* kZeroWidth[] = {u"\\b", u"\\B", u"^", u"$"};
      return kZeroWidth[Below(4)];
    }
    if (kind < 12 && !in_repeat) {
      std::vector<int> closed;
      for (int g = 1; g <= kMaxGroups; ++g)
        if (closed_[g]) closed.push_back(g);
      if (!closed.empty()) {
        const int group = closed[Below(static_cast<int>(closed.size()))];
        return std::u16string{u'\\', static_cast<char16_t>(u'0' + group)};
      }
    }
    const std::u16string quantifier = Chance(35) ? Quantifier() : u"";
    const bool repeated = in_repeat || !quantifier.empty();
    std::u16string atom;
    if (kind < 30 && depth < 3 && groups_opened_ < kMaxGroups) {
      const int group = ++groups_opened_;
      atom = u"(";
      atom += Alternation(depth + 1, repeated);
      atom += u')';
      closed_[group] = true;
    } else if (kind < 45) {
      atom = Class();
    } else if (kind < 55) {
      static const char16_t* kShorthands[] = {u"\\w", u"\\d", u"\\s", u"\\W", u"\\D", u"\\S", u"."};
      atom = kShorthands[Below(7)];
    } else {
      atom = Literal();
    }
    atom += quantifier;
    return atom;
  }

  std::u16string Literal() {
    static const std::u16string kChars = u"aaabbcAB01 -\u00E9\u00C9\u4E2D.*";
    const char16_t ch = kChars[Below(static_cast<int>(kChars.size()))];
    if (ch == u'.' || ch == u'*') return std::u16string{u'\\', ch};
    return std::u16string(1, ch);
  }

  std::u16string Class() {
    static const char16_t* kMembers[] = {u"a", u"b", u"c", u"A", u"0", u"\\-", u"\u00E9",
                                         u"\u4E2D", u" ", u"a-c", u"A-B", u"0-1",
                                         u"\\d", u"\\w", u"\\s"};
    std::u16string out = Chance(30) ? u"[^" : u"[";
    const int members = 1 + Below(3);
    for (int i = 0; i < members; ++i) out += kMembers[Below(15)];
    out += u']';
    return out;
  }

  std::mt19937 rng_;
  int groups_opened_ = 0;
  std::vector<bool> closed_;
};

// Every match that Exec then ExecNext find, with all groups.
using Capture = std::vector<Span>;

std::vector<Capture> OurMatches(TRegexEngine& engine, const std::u16string& text, int groups) {
  std::vector<Capture> matches;
  for (bool hit = engine.Exec(text); hit; hit = engine.ExecNext()) {
    Capture capture;
    for (int n = 0; n <= groups; ++n) capture.push_back(GroupSpan(engine, n));
    matches.push_back(capture);
    if (matches.size() > text.size() + 1) break;
  }
  return matches;
}

class Pcre {
 public:
  Pcre(const std::u16string& pattern, uint32_t options) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                          options, &error, &offset, nullptr);
    if (code_ != nullptr) data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  Pcre(const Pcre&) = delete;
  Pcre& operator=(const Pcre&) = delete;

  bool ok() const { return code_ != nullptr; }

  // The same walk as Exec/ExecNext: from 1-based offset 1, then after each
  // match, one further after an empty one.
  std::vector<Capture> Matches(const std::u16string& text, int groups) {
    std::vector<Capture> matches;
    PCRE2_SIZE start = 0;
    while (start <= text.size()) {
      const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()),
                                 text.size(), start, 0, data_, nullptr);
      if (rc < 0) break;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      Capture capture;
      for (int n = 0; n <= groups; ++n) {
        if (n >= rc || ov[2 * n] == PCRE2_UNSET)
          capture.push_back(kUnset);
        else
          capture.push_back({static_cast<int>(ov[2 * n]) + 1,
                             static_cast<int>(ov[2 * n + 1] - ov[2 * n])});
      }
      matches.push_back(capture);
      start = ov[1] + (ov[1] == ov[0] ? 1 : 0);
    }
    return matches;
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

// A back-reference followed by a digit reads differently in PCRE2.
bool BackrefBeforeDigit(const std::u16string& pattern) {
  for (std::size_t i = 0; i + 2 < pattern.size(); ++i)
    if (pattern[i] == u'\\' && pattern[i + 1] >= u'1' && pattern[i + 1] <= u'9' &&
        pattern[i + 2] >= u'0' && pattern[i + 2] <= u'9')
      return true;
  return false;
}

int CountGroups(const std::u16string& pattern) {
  int groups = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'\\') {
      ++i;
    } else if (pattern[i] == u'(') {
      ++groups;
    } else if (pattern[i] == u'[') {
      while (i < pattern.size() && pattern[i] != u']') i += pattern[i] == u'\\' ? 2 : 1;
    }
  }
  return groups;
}

struct Mode {
  const char16_t* modifiers;
  uint32_t pcre_options;
  bool line_breaks_in_text;
};

void RunDifferential(uint32_t seed, const Mode& mode, int patterns) {
  PatternGenerator gen(seed);
  int compared = 0, with_matches = 0;
  for (int p = 0; p < patterns; ++p) {
    const std::u16string pattern = gen.Pattern();
    if (BackrefBeforeDigit(pattern)) continue;
    TRegexEngine engine;
    ApplyModifiers(engine, mode.modifiers);
    engine.SetExpression(pattern);
    try {
      engine.ProgramReady();
    } catch (const ERegexEngine& e) {
      ASSERT_EQ(e.Code, 106) << Printable(pattern) << ": " << e.what();
      continue;  // a repetition of something that may match empty
    }
    Pcre pcre(pattern, mode.pcre_options | PCRE2_DOLLAR_ENDONLY);
    ASSERT_TRUE(pcre.ok()) << Printable(pattern);
    const int groups = CountGroups(pattern);
    for (int t = 0; t < 8; ++t) {
      const std::u16string text = gen.Text(mode.line_breaks_in_text);
      const std::vector<Capture> ours = OurMatches(engine, text, groups);
      const std::vector<Capture> theirs = pcre.Matches(text, groups);
      ASSERT_EQ(ours, theirs) << "pattern " << Printable(pattern) << " ("
                              << Printable(mode.modifiers) << ") on \"" << Printable(text)
                              << "\", seed " << seed << ", pattern #" << p;
      ++compared;
      if (!ours.empty()) ++with_matches;
    }
  }
  // The generator must keep producing patterns that compile and texts that
  // match, or the comparison proves little.
  EXPECT_GT(compared, patterns * 8 / 2);
  EXPECT_GT(with_matches, compared / 6);
}

TEST(PcreDifferential, DefaultModifiersAgreeWithDotAll) {
  RunDifferential(20240517, {u"", PCRE2_DOTALL, true}, 8000);
}

TEST(PcreDifferential, CaseInsensitiveAgreesOnAsciiFolding) {
  RunDifferential(4242, {u"i", PCRE2_DOTALL | PCRE2_CASELESS, true}, 5000);
}

TEST(PcreDifferential, DotWithoutSAgreesOnTextsWithoutLineBreaks) {
  RunDifferential(777, {u"-s", 0, false}, 5000);
}

}  // namespace
}  // namespace tallyfold
