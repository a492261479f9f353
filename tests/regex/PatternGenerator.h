// Test helper: random patterns and texts from the part of the dialect that
// PCRE2 shares (see PcreDifferentialTest.cpp for where it stops and why).
// The same seed always gives the same sequence.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tallyfold::test {

constexpr int kMaxGroups = 9;

class PatternGenerator {
 public:
  explicit PatternGenerator(uint32_t seed) : rng_(seed) {}

  std::u16string Pattern() {
    groups_opened_ = 0;
    closed_.assign(kMaxGroups + 1, false);
    return Alternation(0, false);
  }

  // A text of up to `max_length` units from a small alphabet, now and then
  // a CR or LF when `with_line_breaks`.
  std::u16string Text(bool with_line_breaks, int max_length = 13) {
    static const std::u16string kChars = u"aabbcAB01 _-\u00E9\u00C9\u4E2D\t";
    std::u16string text;
    const int length = Below(max_length + 1);
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

// The number of capturing groups in a pattern (an opening parenthesis
// outside brackets and not escaped).
inline int CountGroups(const std::u16string& pattern) {
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

}  // namespace tallyfold::test
