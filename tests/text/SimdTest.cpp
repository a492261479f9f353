// The wide scans: every one gives what its plain twin gives, on tables of
// edge cases (every start alignment, every lane, the ends of the range, 0
// units, surrogates and the top of the 16-bit range) and on random texts of
// lengths around the vector width, placed at every alignment.
#include "platform/Simd.h"

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

using namespace tallyfold::simd;

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
template <typename Unit>
struct Placed {
  std::vector<Unit> buffer;
  std::size_t shift;
  const Unit* text() const { return buffer.data() + shift; }
};

template <typename Unit>
Placed<Unit> Place(const std::basic_string<Unit>& text, std::size_t shift, Unit guard) {
  Placed<Unit> placed{std::vector<Unit>(text.size() + shift + 40, guard), shift};
  std::copy(text.begin(), text.end(),
            placed.buffer.begin() + static_cast<std::ptrdiff_t>(shift));
  return placed;
}

TEST(SimdScans, FindUnitsSeesEveryLaneAndNothingPastTheRange) {
  const char16_t needle = 0xD800;
  for (std::size_t shift = 0; shift < 8; ++shift) {
    for (std::size_t length = 0; length <= 35; ++length) {
      // The needle also stands just past the range, where it must not count.
      for (std::size_t at = 0; at <= length; ++at) {
        std::u16string text(length, u'x');
        if (at < length) text[at] = needle;
        const Placed placed = Place(text, shift, needle);
        for (std::size_t from = 0; from <= length; ++from) {
          const std::size_t expected = from <= at && at < length ? at : length;
          ASSERT_EQ(FindUnits(placed.text(), from, length, &needle, 1), expected)
              << "shift " << shift << " length " << length << " at " << at << " from " << from;
          ASSERT_EQ(scalar::FindUnits(placed.text(), from, length, &needle, 1), expected);
        }
      }
    }
  }
}

TEST(SimdScans, FindUnitsWithTwoToFourUnitsTakesTheFirstOfAny) {
  const std::u16string text = u"...................." + U({0xFFFF}) + u"....." + U({0xD800}) +
                             u"..a..........A";
  const std::u16string sets[] = {u"aA", U({'A', 0xD800, 'a'}), U({'A', 'a', 0xFFFF, 'z'}),
                                 U({0x8000, 0x7FFF}), u"zz"};
  for (const std::u16string& units : sets) {
    const int count = static_cast<int>(units.size());
    for (std::size_t from = 0; from <= text.size(); ++from)
      for (std::size_t to = from; to <= text.size(); ++to)
        ASSERT_EQ(FindUnits(text.data(), from, to, units.data(), count),
                  scalar::FindUnits(text.data(), from, to, units.data(), count))
            << "count " << count << " from " << from << " to " << to;
  }
}

TEST(SimdScans, FindRangesAgreesOnRangesAcrossTheSignBitAndSurrogates) {
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
      for (std::size_t length = 0; length <= 20; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
          std::u16string text(length, u'\0');
          text[at] = unit;
          for (std::size_t shift = 0; shift < 8; shift += 3) {
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

TEST(SimdScans, FindLiteralAtEveryPlaceInEitherCase) {
  struct Forms {
    std::u16string units, others;
  };
  const Forms literals[] = {
      {u"a", u"A"},          {u"ab", u"ab"},         {u"abc", u"ABC"},
      {u"aXa", u"aXa"},      {u"\U0001F600", u"\U0001F600"},
      {u"thethem", u"THETHEM"}, {u"abcdefghij", u"ABCDEFGHIJ"},
  };
  for (const Forms& l : literals) {
    const Literal<char16_t> literal{l.units.data(), l.others.data(), l.units.size()};
    const std::size_t m = literal.length;
    for (std::size_t length = 0; length <= 30; ++length) {
      for (std::size_t at = 0; at + m <= length + 2; ++at) {
        // The literal, in mixed case, at `at`; it may run past the range's
        // end, which must then not count. A near miss (first and last unit
        // right, a middle one wrong) stands just before it.
        std::u16string text(length + m + 2, u'.');
        for (std::size_t k = 0; k < m; ++k) text[at + k] = k % 2 ? l.others[k] : l.units[k];
        if (at >= m + 1 && m >= 3) {
          const std::size_t miss = at - m - 1;
          for (std::size_t k = 0; k < m; ++k) text[miss + k] = l.units[k];
          text[miss + 1] = u'#';
        }
        for (std::size_t shift = 0; shift < 8; shift += 5) {
          const Placed placed = Place(text, shift, u'.');
          for (std::size_t from = 0; from <= length; from += (from < 10 ? 1 : 7)) {
            ASSERT_EQ(FindLiteral(literal, placed.text(), from, length, length),
                      scalar::FindLiteral(literal, placed.text(), from, length, length))
                << "literal length " << m << " length " << length << " at " << at
                << " from " << from;
          }
        }
      }
    }
  }
}

TEST(SimdScans, CopyFindingZeroCopiesEverythingAndFindsTheFirstZero) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (int zero = -1; zero < static_cast<int>(length); ++zero) {
      std::u16string text(length, 0xFFFF);
      for (std::size_t k = 0; k < length; ++k) text[k] = kEdgeUnits[k % std::size(kEdgeUnits)];
      if (zero >= 0) {
        text[static_cast<std::size_t>(zero)] = 0;
        const auto later = static_cast<std::size_t>(zero) + 9;
        if (later < length) text[later] = 0;  // not the answer
      }
      for (std::size_t shift = 0; shift < 8; shift += 3) {
        const Placed from = Place(text, shift, char16_t{0});
        std::vector<char16_t> wide(length + 8, u'?'), plain(length + 8, u'?');
        const std::size_t found = CopyFindingZero(wide.data() + shift % 4, from.text(), length);
        EXPECT_EQ(found, scalar::CopyFindingZero(plain.data() + shift % 4, from.text(), length));
        EXPECT_EQ(found, zero >= 0 ? static_cast<std::size_t>(zero) : length)
            << "length " << length;
        EXPECT_EQ(wide, plain) << "length " << length << " zero " << zero;
      }
    }
  }
}

TEST(SimdScans, CopyAndFindLiteralCopiesAndFindsAsTheSeparateScansDo) {
  const std::u16string units = u"needle", others = u"NEEDLE";
  const Literal<char16_t> literal{units.data(), others.data(), 6};
  for (std::size_t length = 0; length <= 40; ++length) {
    for (int at = -1; at + 6 <= static_cast<int>(length); ++at) {
      for (const std::size_t zero : {length, std::size_t{0}, length / 2, length - 1}) {
        std::u16string text(length, u'e');
        if (at >= 0)
          for (std::size_t k = 0; k < 6; ++k)
            text[static_cast<std::size_t>(at) + k] = k == 3 ? others[k] : units[k];
        if (zero < length) text[zero] = 0;
        std::vector<char16_t> wide(length + 1, u'?'), plain(length + 1, u'?');
        std::size_t wide_hit = 0, plain_hit = 0;
        const bool wide_ok =
            CopyAndFindLiteral(literal, wide.data(), text.data(), length, wide_hit);
        const bool plain_ok =
            scalar::CopyAndFindLiteral(literal, plain.data(), text.data(), length, plain_hit);
        ASSERT_EQ(wide_ok, plain_ok) << "length " << length << " at " << at << " zero " << zero;
        EXPECT_EQ(wide, plain);
        if (wide_ok) {
          EXPECT_EQ(wide_hit, plain_hit) << "length " << length << " at " << at;
          EXPECT_EQ(wide_hit, FindLiteral(literal, text.data(), 0, length, length));
        }
      }
    }
  }
}

// Random texts from a small alphabet full of the units the scans look for,
// of lengths that cluster around multiples of the vector width, placed at
// every alignment with random units after them.
class RandomTexts {
 public:
  explicit RandomTexts(unsigned seed) : random_(seed) {}

  std::size_t Below(std::size_t n) { return n == 0 ? 0 : random_() % n; }

  std::size_t Length() {
    if (Below(3) == 0) return Below(80);
    return std::max<std::ptrdiff_t>(0, 16 * static_cast<std::ptrdiff_t>(Below(5)) +
                                           static_cast<std::ptrdiff_t>(Below(5)) - 2);
  }

  template <typename Unit>
  std::basic_string<Unit> Text(const std::basic_string<Unit>& alphabet, std::size_t length) {
    std::basic_string<Unit> text(length, Unit{});
    for (Unit& unit : text) unit = alphabet[Below(alphabet.size())];
    return text;
  }

  // A piece of `text` in either case of its ASCII letters, so that it often
  // occurs; a unit of the alphabet when the text is empty.
  template <typename Unit>
  std::pair<std::basic_string<Unit>, std::basic_string<Unit>> LiteralFrom(
      const std::basic_string<Unit>& text, const std::basic_string<Unit>& alphabet) {
    std::basic_string<Unit> units(1, alphabet[Below(alphabet.size())]);
    if (!text.empty()) {
      const std::size_t start = Below(text.size());
      units = text.substr(start, 1 + Below(std::min<std::size_t>(20, text.size() - start)));
    }
    std::basic_string<Unit> others = units;
    for (Unit& unit : others)
      if (unit >= 'a' && unit <= 'z') unit = static_cast<Unit>(unit - 32);
    return {units, others};
  }

 private:
  std::mt19937 random_;
};

template <typename Unit>
void ExpectSameCountsAndFinds(RandomTexts& random, const std::basic_string<Unit>& alphabet,
                              Unit cr, Unit lf) {
  const std::basic_string<Unit> text = random.Text(alphabet, random.Length());
  const Placed placed =
      Place(text, random.Below(16 / sizeof(Unit)), alphabet[random.Below(alphabet.size())]);
  const Unit* at = placed.text();
  const std::size_t size = text.size();
  const std::size_t from = random.Below(size + 1);
  const std::size_t to = from + random.Below(size - from + 1);
  SCOPED_TRACE(::testing::Message() << "size " << size << " shift " << placed.shift << " from "
                                    << from << " to " << to);
  ASSERT_EQ(CountZeros(at, size), scalar::CountZeros(at, size));
  ASSERT_EQ(CountLineBreaks(at, from, to, cr, lf), scalar::CountLineBreaks(at, from, to, cr, lf));
  ASSERT_EQ(CountBreakUnits(at, size, cr, lf), scalar::CountBreakUnits(at, size, cr, lf));
  if constexpr (sizeof(Unit) == 1) {
    ASSERT_EQ(CountUtf8Units(at, size), scalar::CountUtf8Units(at, size));
  }
  const auto [units, others] = random.LiteralFrom(text, alphabet);
  const Literal<Unit> literal{units.data(), others.data(), units.size()};
  // The range of starts cut short, then the end itself.
  ASSERT_EQ(FindLiteral(literal, at, from, to, size),
            scalar::FindLiteral(literal, at, from, to, size));
  ASSERT_EQ(FindLiteral(literal, at, from, size, to),
            scalar::FindLiteral(literal, at, from, size, to));
}

TEST(SimdScans, RandomByteTextsAgreeInEveryScan) {
  RandomTexts random(20240612);
  const std::string alphabet =
      std::string("aAbB\r\n\r\n\x80\xFF\xBF\xC0\xEF\xF0", 14) + std::string(2, '\0');
  for (int round = 0; round < 4000; ++round) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameCountsAndFinds(random, alphabet, '\r', '\n'));
    const std::string text = random.Text(alphabet, random.Length());
    const Placed placed = Place(text, random.Below(16), alphabet[random.Below(alphabet.size())]);
    const std::size_t from = random.Below(text.size() + 1);
    ASSERT_EQ(SkipAscii(placed.text(), from, text.size()),
              scalar::SkipAscii(placed.text(), from, text.size()));
  }
}

TEST(SimdScans, RandomWideTextsAgreeInEveryScan) {
  RandomTexts random(20240611);
  const std::u16string alphabet =
      u"aAbB09\u00E9\r\n" + U({0xD800, 0xDC00, 0xFFFF, 0x8000, 0, 0x0D00, 0x0A00});
  for (int round = 0; round < 4000; ++round) {
    // Line ends in both byte orders, as UTF-16 text of either order has them.
    const bool swapped = round % 2 == 1;
    ASSERT_NO_FATAL_FAILURE(ExpectSameCountsAndFinds(random, alphabet,
                                                     swapped ? char16_t{0x0D00} : u'\r',
                                                     swapped ? char16_t{0x0A00} : u'\n'));
    const std::u16string text = random.Text(alphabet, random.Length());
    const std::size_t length = text.size();
    const std::size_t from = random.Below(length + 1);
    const std::size_t to = from + random.Below(length - from + 1);
    std::u16string set(1 + random.Below(4), u'a');
    for (char16_t& unit : set) unit = alphabet[random.Below(alphabet.size())];
    const int count = static_cast<int>(set.size());
    ASSERT_EQ(FindUnits(text.data(), from, to, set.data(), count),
              scalar::FindUnits(text.data(), from, to, set.data(), count));
    std::u16string last = set;
    for (std::size_t k = 0; k < set.size(); ++k)
      if (last[k] < set[k]) std::swap(set[k], last[k]);
    ASSERT_EQ(FindRanges(text.data(), from, to, set.data(), last.data(), count),
              scalar::FindRanges(text.data(), from, to, set.data(), last.data(), count));
    const auto [units, others] = random.LiteralFrom(text, alphabet);
    const Literal<char16_t> literal{units.data(), others.data(), units.size()};
    std::vector<char16_t> wide(length + 1), plain(length + 1);
    std::size_t wide_hit = 0, plain_hit = 0;
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

}  // namespace
}  // namespace tallyfold
