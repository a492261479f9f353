// Test helper: random patterns and texts from the part of the dialect that
// PCRE2 shares (see PcreDifferentialTest.cpp for where it stops and why).
// The same seed always gives the same sequence. A generator made with
// `deep_loops` also gives patterns beyond that part: complex loops nested
// around the depth at which the engine's loop stack overflows, and one made
// with `corners` draws literals, set members, range ends and text units
// from the corner units too (CornerUnits.h).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "regex/CornerUnits.h"

namespace tallyfold::test {

constexpr int kMaxGroups = 9;
// How deep Alternation nests groups; pieces at this depth open none.
constexpr int kMaxDepth = 3;

class PatternGenerator {
 public:
  // With `deep_loops`, nearly one pattern in two is a nest of groups in
  // groups (DeepLoops); the others are as without it, though not the same
  // sequence.
  explicit PatternGenerator(uint32_t seed, bool deep_loops = false, bool corners = false)
      : rng_(seed), deep_loops_(deep_loops), corners_(corners) {}

  std::u16string Pattern() {
    groups_opened_ = 0;
    closed_.assign(kMaxGroups + 1, false);
    if (deep_loops_ && Chance(45)) return DeepLoops();
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
      else if (corners_)
        text += TextUnit(rng_, kChars);
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
    if (kind < 30 && depth < kMaxDepth && groups_opened_ < kMaxGroups) {
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

  // 9 to 14 groups, each around the next and each repeated, around a
  // single atom: most quantifiers compile to complex loops (counted or lazy
  // ones; under -g every one), a few to greedy shapes that need no loop
  // counter, so the loops nest on both sides of kLoopStackSize (10). Now
  // and then a literal or an alternative inside a group, and plain pieces
  // before and after the nest, give the search plan a prefix, a required
  // literal or required units to use, and the attempt something to consume
  // before it reaches the innermost loops.
  std::u16string DeepLoops() {
    // Appends only, one draw per statement, so that the sequence does not
    // depend on the order in which a compiler evaluates operands.
    std::u16string pattern;
    if (Chance(20)) pattern += Literal();
    if (Chance(30)) pattern += Sequence(kMaxDepth, false);
    // Narrow atoms only: nested loops over a run of units that one of
    // them matches split it in more ways than any test can try.
    static const char16_t* kInnermost[] = {u"a", u"b", u"A", u"[ab]", u"\\d", u"\\s"};
    std::u16string nest = Chance(60) ? Literal() : kInnermost[Below(6)];
    bool width = true;  // the nest always consumes something
    const int depth = 9 + Below(6);
    for (int level = 0; level < depth; ++level) {
      std::u16string group = u"(";
      if (Chance(3)) {
        group += Literal();
        width = true;
      }
      group += nest;
      if (Chance(6)) {
        group += Literal();
        width = true;
      }
      if (Chance(6)) {
        group += u'|';
        group += Literal();
      }
      group += u')';
      // Every quantifier but ? and ?? needs an operand that consumes
      // something; one whose minimum is 0 makes the group one that may not.
      struct Form {
        const char16_t* text;
        bool keeps_width;
      };
      static const Form kLoops[] = {{u"{1,2}", true}, {u"{1,2}?", true}, {u"+?", true},
                                    {u"{2}", true},   {u"{1,}?", true},  {u"{1,3}", true}};
      static const Form kEmptyLoops[] = {{u"{0,2}", false}, {u"*?", false}, {u"{0,1}?", false},
                                         {u"??", false}};
      static const Form kShapes[] = {{u"+", true}, {u"*", false}, {u"?", false}};
      static const Form kOptions[] = {{u"??", false}, {u"?", false}};
      Form form;
      if (!width)
        form = kOptions[Chance(90) ? 0 : 1];
      else if (Chance(70))
        form = kLoops[Below(6)];
      else if (Chance(67))
        form = kEmptyLoops[Below(4)];
      else
        form = kShapes[Below(3)];
      width = width && form.keeps_width;
      group += form.text;
      nest = std::move(group);
    }
    pattern += nest;
    groups_opened_ = depth;
    for (int g = 1; g <= depth && g <= kMaxGroups; ++g) closed_[g] = true;
    if (Chance(40)) pattern += Sequence(kMaxDepth, false);
    if (Chance(25)) {
      pattern += Literal();
      pattern += Literal();
    }
    if (Chance(15)) {
      pattern += u'|';
      pattern += Sequence(kMaxDepth, false);
    }
    return pattern;
  }

  std::u16string Literal() {
    if (corners_ && Chance(25)) return CornerLiteral(rng_);
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
    for (int i = 0; i < members; ++i)
      out += corners_ && Chance(30) ? CornerClassMember(rng_) : kMembers[Below(15)];
    out += u']';
    return out;
  }

  std::mt19937 rng_;
  bool deep_loops_ = false;
  bool corners_ = false;
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
