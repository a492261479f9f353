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
#include <string>
#include <vector>

#include "regex/MatchTestSupport.h"
#include "regex/PatternGenerator.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

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
