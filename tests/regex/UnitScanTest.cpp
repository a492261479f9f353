// The unit scans: every wide scan gives what its plain version gives, on
// tables of edge cases (every start alignment, every lane, the ends of the
// range, 0 units, surrogates and the top of the 16-bit range) and on random
// texts.
#include "regex/UnitScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tallyfold {
namespace {

using namespace tallyfold::regex_internal;

// Units that sit at the edges of signed and unsigned 16-bit compares.
const char16_t kEdgeUnits[] = {0x0001, u'a', u'A', 0x007F, 0x0080, 0x7FFF,
                               0x8000, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF};

// Units given by number, so that lone surrogates and 0 can be written.
std::u16string U(std::initializer_list<int> units) {
  std::u16string text;
  for (const int unit : units) text += static_cast<char16_t>(unit);
  return text;
}

// A text placed `shift` units into a larger buffer, so that scans start at
// every alignment, with guard units around it that a scan must not report.
struct Placed {
  std::vector<char16_t> buffer;
  int shift;
  const char16_t* text() const { return buffer.data() + shift; }
};

Placed Place(const std::u16string& text, int shift, char16_t guard) {
  Placed placed{std::vector<char16_t>(text.size() + shift + 24, guard), shift};
  std::copy(text.begin(), text.end(), placed.buffer.begin() + shift);
  return placed;
}

TEST(UnitScan, FindUnitsSeesEveryLaneAndNothingPastTheRange) {
  const char16_t needle = 0xD800;
  for (int shift = 0; shift < 8; ++shift) {
    for (int length = 0; length <= 35; ++length) {
      // The needle also stands just past the range, where it must not count.
      for (int at = 0; at <= length; ++at) {
        std::u16string text(length, u'x');
        if (at < length) text[at] = needle;
        const Placed placed = Place(text, shift, needle);
        for (int from = 0; from <= length; ++from) {
          const int expected = from <= at && at < length ? at : length;
          ASSERT_EQ(FindUnits(placed.text(), from, length, &needle, 1), expected)
              << "shift " << shift << " length " << length << " at " << at << " from " << from;
          ASSERT_EQ(scalar::FindUnits(placed.text(), from, length, &needle, 1), expected);
        }
      }
    }
  }
}

TEST(UnitScan, FindUnitsWithTwoToFourUnitsTakesTheFirstOfAny) {
  const std::u16string text = u"...................." + U({0xFFFF}) + u"....." + U({0xD800}) +
                             u"..a..........A";
  const std::u16string sets[] = {u"aA", U({'A', 0xD800, 'a'}), U({'A', 'a', 0xFFFF, 'z'}),
                                 U({0x8000, 0x7FFF}), u"zz"};
  for (const std::u16string& units : sets) {
    const int count = static_cast<int>(units.size());
    for (int from = 0; from <= static_cast<int>(text.size()); ++from)
      for (int to = from; to <= static_cast<int>(text.size()); ++to)
        ASSERT_EQ(FindUnits(text.data(), from, to, units.data(), count),
                  scalar::FindUnits(text.data(), from, to, units.data(), count))
            << "count " << count << " from " << from << " to " << to;
  }
}

TEST(UnitScan, FindRangesAgreesOnRangesAcrossTheSignBitAndSurrogates) {
  struct Ranges {
    std::u16string first, last;
  };
  const Ranges tables[] = {
      {u"0", u"9"},
      {u"AaZ", u"Zz\u007F"},
      {u"\u0001", u"\uFFFF"},            // everything but 0
      {u"\u7FFF", u"\u8000"},            // across the signed edge
      {U({0xD800, 0xDC00}), U({0xDBFF, 0xDFFF})},  // both surrogate halves
      {U({0xFFFF, 0, 'a', 'b'}), U({0xFFFF, 0, 'a', 'b'})},
  };
  for (const Ranges& ranges : tables) {
    const int count = static_cast<int>(ranges.first.size());
    for (const char16_t unit : kEdgeUnits) {
      for (int length = 0; length <= 20; ++length) {
        for (int at = 0; at < length; ++at) {
          std::u16string text(length, u'\0');
          text[at] = unit;
          for (int shift = 0; shift < 8; shift += 3) {
            const Placed placed = Place(text, shift, unit);
            ASSERT_EQ(FindRanges(placed.text(), 0, length, ranges.first.data(),
                                 ranges.last.data(), count),
                      scalar::FindRanges(placed.text(), 0, length, ranges.first.data(),
                                         ranges.last.data(), count))
                << "unit " << static_cast<int>(unit) << " length " << length << " at " << at;
          }
        }
      }
    }
  }
}

TEST(UnitScan, FindLiteralAtEveryPlaceInEitherCase) {
  struct Literal {
    std::u16string units, others;
  };
  const Literal literals[] = {
      {u"a", u"A"},          {u"ab", u"ab"},         {u"abc", u"ABC"},
      {u"aXa", u"aXa"},      {u"\U0001F600", u"\U0001F600"},
      {u"thethem", u"THETHEM"}, {u"abcdefghij", u"ABCDEFGHIJ"},
  };
  for (const Literal& l : literals) {
    const LiteralUnits literal{l.units.data(), l.others.data(), static_cast<int>(l.units.size())};
    for (int length = 0; length <= 30; ++length) {
      for (int at = 0; at + literal.length <= length + 2; ++at) {
        // The literal, in mixed case, at `at`; it may run past the range's
        // end, which must then not count. A near miss (first and last unit
        // right, a middle one wrong) stands just before it.
        std::u16string text(length + literal.length + 2, u'.');
        for (int k = 0; k < literal.length; ++k)
          text[at + k] = k % 2 ? l.others[k] : l.units[k];
        if (at >= literal.length + 1 && literal.length >= 3) {
          const int miss = at - literal.length - 1;
          for (int k = 0; k < literal.length; ++k) text[miss + k] = l.units[k];
          text[miss + 1] = u'#';
        }
        for (int shift = 0; shift < 8; shift += 5) {
          const Placed placed = Place(text, shift, u'.');
          for (int from = 0; from <= length; from += (from < 10 ? 1 : 7)) {
            ASSERT_EQ(FindLiteral(literal, placed.text(), from, length),
                      scalar::FindLiteral(literal, placed.text(), from, length))
                << "literal length " << literal.length << " length " << length << " at " << at
                << " from " << from;
          }
        }
      }
    }
  }
}

TEST(UnitScan, CopyFindingZeroCopiesEverythingAndFindsTheFirstZero) {
  for (int length = 0; length <= 40; ++length) {
    for (int zero = -1; zero < length; ++zero) {
      std::u16string text(length, 0xFFFF);
      for (int k = 0; k < length; ++k) text[k] = kEdgeUnits[k % std::size(kEdgeUnits)];
      if (zero >= 0) {
        text[zero] = 0;
        if (zero + 9 < length) text[zero + 9] = 0;  // a later zero is not the answer
      }
      for (int shift = 0; shift < 8; shift += 3) {
        const Placed from = Place(text, shift, 0);
        std::vector<char16_t> wide(length + 8, u'?'), plain(length + 8, u'?');
        const int found = CopyFindingZero(wide.data() + shift % 4, from.text(), length);
        EXPECT_EQ(found, scalar::CopyFindingZero(plain.data() + shift % 4, from.text(), length));
        EXPECT_EQ(found, zero >= 0 ? zero : length) << "length " << length;
        EXPECT_EQ(wide, plain) << "length " << length << " zero " << zero;
      }
    }
  }
}

TEST(UnitScan, CopyAndFindLiteralCopiesAndFindsAsTheSeparateScansDo) {
  const std::u16string units = u"needle", others = u"NEEDLE";
  const LiteralUnits literal{units.data(), others.data(), 6};
  for (int length = 0; length <= 40; ++length) {
    for (int at = -1; at + 6 <= length; ++at) {
      for (const int zero : {-1, 0, length / 2, length - 1}) {
        std::u16string text(length, u'e');
        if (at >= 0)
          for (int k = 0; k < 6; ++k) text[at + k] = k == 3 ? others[k] : units[k];
        if (zero >= 0 && zero < length) text[zero] = 0;
        std::vector<char16_t> wide(length + 1, u'?'), plain(length + 1, u'?');
        int wide_hit = -2, plain_hit = -2;
        const bool wide_ok =
            CopyAndFindLiteral(literal, wide.data(), text.data(), length, wide_hit);
        const bool plain_ok =
            scalar::CopyAndFindLiteral(literal, plain.data(), text.data(), length, plain_hit);
        ASSERT_EQ(wide_ok, plain_ok) << "length " << length << " at " << at << " zero " << zero;
        EXPECT_EQ(wide, plain);
        if (wide_ok) {
          EXPECT_EQ(wide_hit, plain_hit) << "length " << length << " at " << at;
          EXPECT_EQ(wide_hit, FindLiteral(literal, text.data(), 0, length));
        }
      }
    }
  }
}

TEST(UnitScan, RandomTextsAgreeInEveryScan) {
  std::mt19937 random(20240611);
  const std::u16string alphabet = u"aAbB09\u00E9" + U({0xD800, 0xDC00, 0xFFFF, 0x8000});
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 3000; ++round) {
    const int length = pick(90);
    std::u16string text(length, u'a');
    for (char16_t& ch : text) ch = alphabet[pick(static_cast<int>(alphabet.size()))];
    if (length > 0 && pick(5) == 0) text[pick(length)] = 0;  // the copies then report it
    const int from = length == 0 ? 0 : pick(length + 1);
    const int to = from + pick(length - from + 1);
    std::u16string set(1 + pick(4), u'a');
    for (char16_t& ch : set) ch = alphabet[pick(static_cast<int>(alphabet.size()))];
    const int count = static_cast<int>(set.size());
    ASSERT_EQ(FindUnits(text.data(), from, to, set.data(), count),
              scalar::FindUnits(text.data(), from, to, set.data(), count));
    std::u16string last = set;
    for (int k = 0; k < count; ++k)
      if (last[k] < set[k]) std::swap(set[k], last[k]);
    ASSERT_EQ(FindRanges(text.data(), from, to, set.data(), last.data(), count),
              scalar::FindRanges(text.data(), from, to, set.data(), last.data(), count));
    // A literal cut from the text itself, so that it often occurs.
    if (length >= 1) {
      const int start = pick(length);
      const std::u16string units = text.substr(start, 1 + pick(std::min(12, length - start)));
      std::u16string others = units;
      for (char16_t& ch : others)
        if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - 32);
      const LiteralUnits literal{units.data(), others.data(), static_cast<int>(units.size())};
      ASSERT_EQ(FindLiteral(literal, text.data(), from, to),
                scalar::FindLiteral(literal, text.data(), from, to));
      std::vector<char16_t> wide(length + 1), plain(length + 1);
      int wide_hit = -2, plain_hit = -2;
      const bool whole = CopyAndFindLiteral(literal, wide.data(), text.data(), length, wide_hit);
      ASSERT_EQ(whole,
                scalar::CopyAndFindLiteral(literal, plain.data(), text.data(), length, plain_hit));
      if (whole) {
        ASSERT_EQ(wide_hit, plain_hit);
      }
      ASSERT_EQ(wide, plain);
      ASSERT_EQ(CopyFindingZero(wide.data(), text.data(), length),
                scalar::CopyFindingZero(plain.data(), text.data(), length));
    }
  }
}

}  // namespace
}  // namespace tallyfold
