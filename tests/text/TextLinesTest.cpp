// Tests of reading text lines one at a time with a needle: compared with
// ReadTextFileAs on random files (every mark, UTF-8, GB18030 and Latin-1
// text, malformed bytes, every kind of line break, NULs, long lines) and
// random needles, under several decodings; every line holding the needle
// must be given with its index and text as the list has them, and the read
// info must agree. Also cancelling, errors, and every GB18030 and GBK
// character found in the bytes of a file of them.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "text/ListItems.h"
#include "text/TempFile.h"
#include "text/TextFile.h"
#include "text/TextInternal.h"
#include "text/TextLines.h"

namespace tallyfold {
namespace {

using test::TempFile;

using Lines = std::vector<std::pair<int, std::u16string>>;


struct Read {
  Lines lines;
  TTextReadInfo info;
};

Read ReadWith(const std::string& path, const TTextDecoding& decoding, const TLineNeedle* needle) {
  Read out;
  ReadTextLines(path, decoding, needle, nullptr, &out.info,
                [&](int index, std::u16string_view line) { out.lines.emplace_back(index, line); });
  return out;
}

Read ReadAsList(const std::string& path, const TTextDecoding& decoding) {
  TUnicodeStringList list;
  Read out;
  ReadTextFileAs(list, path, decoding, nullptr, &out.info);
  const std::vector<std::u16string> items = test::Items(list);
  for (std::size_t k = 0; k < items.size(); ++k)
    out.lines.emplace_back(static_cast<int>(k), items[k]);
  return out;
}

// Whether the decoded line holds the needle, compared unit by unit as the
// engine compares a literal.
bool Holds(std::u16string_view line, const TLineNeedle& needle) {
  if (!needle.ranges.empty()) {
    bool any = false;
    for (const char16_t unit : line)
      for (const auto& [first, last] : needle.ranges) any = any || (unit >= first && unit <= last);
    if (!any) return false;
  }
  const std::size_t m = needle.units.size();
  if (m == 0) return true;
  for (std::size_t at = 0; at + m <= line.size(); ++at) {
    std::size_t k = 0;
    while (k < m && (line[at + k] == needle.units[k] ||
                     (k < needle.others.size() && line[at + k] == needle.others[k])))
      ++k;
    if (k == m) return true;
  }
  return false;
}

void ExpectSameInfo(const TTextReadInfo& got, const TTextReadInfo& want) {
  EXPECT_EQ(got.mark, want.mark);
  EXPECT_EQ(got.codeset, want.codeset);
  EXPECT_EQ(got.malformed, want.malformed);
  EXPECT_EQ(got.nuls, want.nuls);
  EXPECT_EQ(got.units, want.units);
  EXPECT_EQ(got.choice, want.choice);
  EXPECT_EQ(got.detected, want.detected);
}

// The NULs a reading counts are the U+0000 characters of its lines, and
// its units those of its lines.
void ExpectNulsCounted(const Read& read) {
  std::size_t nuls = 0;
  std::int64_t units = 0;
  for (const auto& [index, line] : read.lines) {
    nuls += std::count(line.begin(), line.end(), u'\0');
    units += static_cast<std::int64_t>(line.size());
  }
  EXPECT_EQ(read.info.nuls, nuls);
  EXPECT_EQ(read.info.units, units);
}

// The lines given with `needle` are lines of the list, in order, and hold
// every line of it that holds the needle.
void ExpectSieved(const Read& all, const Read& sieved, const TLineNeedle& needle) {
  ExpectSameInfo(sieved.info, all.info);
  std::size_t next = 0;
  for (const auto& [index, text] : sieved.lines) {
    ASSERT_LT(static_cast<std::size_t>(index), all.lines.size());
    ASSERT_GE(static_cast<std::size_t>(index), next) << "out of order";
    for (; next < static_cast<std::size_t>(index); ++next)
      EXPECT_FALSE(Holds(all.lines[next].second, needle)) << "line " << next << " passed over";
    EXPECT_EQ(text, all.lines[next].second) << "line " << index;
    ++next;
  }
  for (; next < all.lines.size(); ++next)
    EXPECT_FALSE(Holds(all.lines[next].second, needle)) << "line " << next << " passed over";
}

std::string Utf16Bytes(const std::u16string& text, bool big_endian) {
  std::string bytes;
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Below(100) < percent; }

  std::u16string Line() {
    static const char16_t* const kPieces[] = {u"the",
                                              u"The",
                                              u"THE",
                                              u"sea",
                                              u"Sea",
                                              u" ",
                                              u"  ",
                                              u"\t",
                                              u"a",
                                              u"b",
                                              u"x",
                                              u"42",
                                              u"\u68C0\u7D22",
                                              u"\u5DE5\u5177",
                                              u"\u65F6\u95F4",
                                              u"\u00E9",
                                              u"\u00C9t\u00E9",
                                              u"\U0001F600",
                                              u"\uFFFD",
                                              u",",
                                              u"."};
    std::u16string line;
    const int pieces = Below(8);
    for (int k = 0; k < pieces; ++k) line += kPieces[Below(std::size(kPieces))];
    return line;
  }

  std::u16string Break() {
    switch (Below(4)) {
      case 0:
        return u"\r";
      case 1:
        return u"\r\n";
      default:
        return u"\n";
    }
  }

  // Lines with random breaks, blank lines, now and then a NUL or a very
  // long line.
  std::u16string Text(bool long_line) {
    std::u16string text;
    const int lines = Below(30);
    for (int k = 0; k < lines; ++k) {
      if (Chance(15)) {
        text += Break();
        continue;
      }
      text += Line();
      if (long_line && k == lines / 2)
        text += std::u16string((std::size_t{1} << 20) + 77, u'q') + u"the";
      if (Chance(2)) text += u'\0';
      if (k + 1 < lines || Chance(50)) text += Break();
    }
    return text;
  }

  // Bytes that no character set used here reads whole.
  void Damage(std::string& bytes) {
    // Lone bytes, cut sequences, an encoded surrogate, overlong forms and a
    // value beyond U+10FFFF.
    static const char* const kBad[] = {"\x80",
                                       "\xFF",
                                       "\xC3",
                                       "\xE6\xA3",
                                       "\x81",
                                       "\xFE\n",
                                       "\xED\xA0\x80",
                                       "\xC0\xAF",
                                       "\xE0\x80\xAF",
                                       "\xF0\x80\x80\xAF",
                                       "\xF4\x90\x80\x80"};
    const int count = 1 + Below(2);
    for (int k = 0; k < count; ++k) {
      const std::size_t at =
          bytes.empty() ? 0 : static_cast<std::size_t>(Below(static_cast<int>(bytes.size()) + 1));
      bytes.insert(at, kBad[Below(std::size(kBad))]);
    }
  }

  // A needle from the text (a piece of a line, perhaps with its other
  // case) or one of a few fixed ones, some never present.
  TLineNeedle Needle(const std::u16string& text) {
    TLineNeedle needle;
    if (Chance(15)) {
      needle.ranges = {{u'0', u'9'}};
      if (Chance(50)) needle.units.assign(1, u'x');
      needle.others = needle.units;
      return needle;
    }
    if (Chance(30) || text.empty()) {
      static const std::u16string kFixed[] = {
          u"the",    u"sea",         u"zqj",        u"\u68C0\u7D22", u"\u7D22\u5DE5",
          u"\u00E9", u"t\u00E9",     u"\U0001F600", u"\uFFFD",       std::u16string(1, 0xD83D),
          u"a\rb",   u"\u4E00\u4E01"};
      needle.units = kFixed[Below(std::size(kFixed))];
    } else {
      const std::size_t at = static_cast<std::size_t>(Below(static_cast<int>(text.size())));
      needle.units = text.substr(at, 1 + Below(5));
    }
    needle.others = needle.units;
    if (Chance(50)) {
      for (char16_t& unit : needle.others) {
        if (unit >= u'a' && unit <= u'z')
          unit = static_cast<char16_t>(unit - 32);
        else if (unit >= u'A' && unit <= u'Z')
          unit = static_cast<char16_t>(unit + 32);
      }
    }
    return needle;
  }

 private:
  std::mt19937 rng_;
};

// The file forms a text is written in, with or without damage.
std::vector<std::string> FileForms(Generator& gen, const std::u16string& text) {
  static const TCodePage kGb18030("GB18030");
  static const TCodePage kLatin1("ISO-8859-1");
  std::vector<std::string> forms;
  const std::string utf8 = Utf8Encode(text);
  forms.push_back(utf8);
  forms.push_back("\xEF\xBB\xBF" + utf8);
  forms.push_back("\xFF\xFE" + Utf16Bytes(text, false));
  forms.push_back("\xFE\xFF" + Utf16Bytes(text, true));
  forms.push_back(kGb18030.Encode(text));
  forms.push_back(kLatin1.Encode(text));
  std::string damaged = utf8;
  gen.Damage(damaged);
  forms.push_back(damaged);
  damaged = kGb18030.Encode(text);
  gen.Damage(damaged);
  forms.push_back(damaged);
  damaged = "\xEF\xBB\xBF" + utf8;
  gen.Damage(damaged);
  forms.push_back(damaged);
  // An odd byte after a UTF-16 mark is not part of the text.
  forms.push_back("\xFF\xFE" + Utf16Bytes(text, false) + "x");
  // UTF-16 without a mark, read right when its byte order is named.
  forms.push_back(Utf16Bytes(text, false));
  forms.push_back(Utf16Bytes(text, true) + "y");
  return forms;
}

std::vector<TTextDecoding> Decodings() {
  return {TextDecodingNamed("auto", "GB18030"), TextDecodingNamed("utf-8"),
          TextDecodingNamed("locale"),          TextDecodingNamed("GB18030"),
          TextDecodingNamed("auto", "GBK"),     TextDecodingNamed("ISO-8859-1"),
          TextDecodingNamed("auto", "BIG5"),    TextDecodingNamed("utf-16le"),
          TextDecodingNamed("UTF-16BE")};
}

TEST(TextLines, RandomFilesGiveEveryLineHoldingTheNeedleAsTheListHasIt) {
  Generator gen(20261208);
  const std::vector<TTextDecoding> decodings = Decodings();
  int sieved_out = 0;  // lines passed over, so the sieve is seen to work
  for (int round = 0; round < 60; ++round) {
    const std::u16string text = gen.Text(round % 30 == 7);
    for (const std::string& bytes : FileForms(gen, text)) {
      const TempFile file(bytes);
      for (const TTextDecoding& decoding : decodings) {
        const Read list = ReadAsList(file.path(), decoding);
        const Read all = ReadWith(file.path(), decoding, nullptr);
        ASSERT_EQ(all.lines, list.lines) << "round " << round;
        ExpectSameInfo(all.info, list.info);
        ExpectNulsCounted(all);
        for (int n = 0; n < 4; ++n) {
          const TLineNeedle needle = gen.Needle(text);
          const Read sieved = ReadWith(file.path(), decoding, &needle);
          ExpectSieved(list, sieved, needle);
          if (HasFailure())
            FAIL() << "round " << round << " decoding " << decoding.code_page.Name();
          sieved_out += static_cast<int>(list.lines.size() - sieved.lines.size());
        }
      }
    }
  }
  EXPECT_GT(sieved_out, 500);
}

Read ReadInPieces(const std::string& path, const TTextDecoding& decoding,
                  const TLineNeedle* needle, std::size_t piece_bytes) {
  Read out;
  text_internal::ReadLinesInPieces(
      path, decoding, needle, nullptr, &out.info,
      [&](int index, std::u16string_view line) { out.lines.emplace_back(index, line); },
      piece_bytes);
  return out;
}

TEST(TextLines, PiecesGiveWhatReadingTheFileWholeGives) {
  // Pieces of any size, down to a byte or two: a piece boundary inside a
  // CR LF, a multi-byte character, a UTF-16 unit or a long line must change
  // nothing, neither the lines nor their indexes nor how the file was read
  // (the automatic choice then goes over the file in pieces before reading
  // it).
  Generator gen(4242);
  const std::vector<TTextDecoding> decodings = Decodings();
  constexpr std::size_t kWhole = std::size_t{1} << 30;
  int pieced_files = 0;
  for (int round = 0; round < 80; ++round) {
    std::u16string text = gen.Text(false);
    // Runs of line ends and NULs, where pieces most often end.
    for (int k = gen.Below(4); k > 0; --k)
      text.insert(static_cast<std::size_t>(gen.Below(static_cast<int>(text.size()) + 1)),
                  gen.Chance(50) ? std::u16string(u"\r\n\r", 3) : std::u16string(2, u'\0'));
    const std::vector<std::string> forms = FileForms(gen, text);
    for (int f = 0; f < 4; ++f) {
      const std::string& bytes = forms[static_cast<std::size_t>(gen.Below(static_cast<int>(forms.size())))];
      const TempFile file(bytes);
      const TTextDecoding& decoding =
          decodings[static_cast<std::size_t>(gen.Below(static_cast<int>(decodings.size())))];
      const Read whole = ReadInPieces(file.path(), decoding, nullptr, kWhole);
      const std::size_t piece = 1 + static_cast<std::size_t>(gen.Below(static_cast<int>(bytes.size()) + 8));
      pieced_files += piece + 2 < bytes.size() ? 1 : 0;
      const Read pieced = ReadInPieces(file.path(), decoding, nullptr, piece);
      ASSERT_EQ(pieced.lines, whole.lines) << "round " << round << " piece " << piece;
      ExpectSameInfo(pieced.info, whole.info);
      const TLineNeedle needle = gen.Needle(text);
      ExpectSieved(whole, ReadInPieces(file.path(), decoding, &needle, piece), needle);
      if (HasFailure()) FAIL() << "round " << round << " piece " << piece;
    }
  }
  EXPECT_GT(pieced_files, 100);
}

TEST(TextLines, PiecedLegacyFilesAreDetectedAsWholeOnes) {
  // A file of many pieces whose first ones are ASCII and whose Chinese
  // comes late: the choice looks at the whole file, and every line is read
  // in the set chosen. GB18030 bytes are searched for the needle, piece by
  // piece, so only its lines come.
  std::u16string text;
  for (int k = 0; k < 3000; ++k) text += u"plain ascii line " + test::Utf16Of(k) + u"\r\n";
  for (int k = 0; k < 40; ++k) text += u"時間過得很快，轉眼之間我們已經在這座城市生活了十年。\n";
  std::vector<std::pair<int, std::u16string>> want;
  for (const std::u16string& line : test::FileLines(text))
    want.emplace_back(static_cast<int>(want.size()), line);
  const TLineNeedle needle{u"城市", u"城市", {}};
  for (const char* codeset : {"BIG5", "GB18030"}) {
    const TempFile file(TCodePage(codeset).Encode(text));
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{65536}, std::size_t{1} << 30}) {
      const Read all = ReadInPieces(file.path(), TextDecodingNamed("auto"), nullptr, piece);
      EXPECT_EQ(all.lines, want) << codeset << " " << piece;
      EXPECT_EQ(all.info.codeset, codeset);
      EXPECT_EQ(all.info.choice, TReadChoice::kDetected);
      const Read sieved = ReadInPieces(file.path(), TextDecodingNamed("auto"), &needle, piece);
      ExpectSieved(all, sieved, needle);
      if (std::string(codeset) == "GB18030") {
        EXPECT_EQ(sieved.lines.size(), 40u) << piece;
      }
    }
  }
}

TEST(TextLines, Utf16WithoutAMarkIsReadWhenItsByteOrderIsNamed) {
  static const char16_t kText[] = u"the first\r\n第二 the\0line\rthe\n\0\n";
  const std::u16string text(kText, std::size(kText) - 1);
  const TLineNeedle needle{u"the", u"THE", {}};
  for (const bool big_endian : {false, true}) {
    const char* name = big_endian ? "UTF-16BE" : "UTF-16LE";
    const TempFile file(Utf16Bytes(text, big_endian));
    const Read all = ReadWith(file.path(), TextDecodingNamed(name), nullptr);
    std::vector<std::pair<int, std::u16string>> want;
    for (const std::u16string& line : test::FileLines(text))
      want.emplace_back(static_cast<int>(want.size()), line);
    EXPECT_EQ(all.lines, want) << name;
    EXPECT_EQ(all.info.codeset, name);
    EXPECT_EQ(all.info.mark, teAnsi);
    EXPECT_EQ(all.info.choice, TReadChoice::kNamed);
    EXPECT_EQ(all.info.nuls, 2u);
    EXPECT_EQ(all.lines.size(), 4u);
    ExpectSieved(all, ReadWith(file.path(), TextDecodingNamed(name), &needle), needle);
    // A mark still decides: the other byte order named is overruled.
    const TempFile marked((big_endian ? "\xFE\xFF" : "\xFF\xFE") + Utf16Bytes(text, big_endian));
    const Read overruled =
        ReadWith(marked.path(), TextDecodingNamed(big_endian ? "UTF-16LE" : "UTF-16BE"), nullptr);
    EXPECT_EQ(overruled.lines, want);
    EXPECT_EQ(overruled.info.choice, TReadChoice::kMark);
  }
}

TEST(TextLines, EdgeFilesReadAsTheListReadsThem) {
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)
  const std::string kFiles[] = {
      BYTES(""),
      BYTES("\xFF\xFE"),
      BYTES("\xFE\xFF"),
      BYTES("\xEF\xBB\xBF"),
      BYTES("a"),
      BYTES("ab"),
      BYTES("\xFF\xFE"
            "a"),
      BYTES("\n\n\r\r\n"),
      BYTES("the\r\n\r\nthe\n"),
      BYTES("x\n\0the\nthe"),
      BYTES("\0the"),
      BYTES("\xFE\xFF\x00\x41\x00\x0D\x00\x0A\x00\x42"),
      BYTES("\xFF\xFEt\x00h\x00\x00\x00t\x00h\x00e\x00"),
      BYTES("\xEF\xBB\xBF"
            "A\r\n\xC3\xA9"),
      BYTES("\xEF\xBB\xBF"
            "the\r\n\xC3"),
      BYTES("\xD5\xE2the\n\xB8\xF6"),  // GB18030 only
  };
#undef BYTES
  TLineNeedle the{u"the", u"THE", {}};
  for (const std::string& bytes : kFiles) {
    const TempFile file(bytes);
    for (const TTextDecoding& decoding : Decodings()) {
      const Read list = ReadAsList(file.path(), decoding);
      const Read all = ReadWith(file.path(), decoding, nullptr);
      EXPECT_EQ(all.lines, list.lines);
      ExpectSameInfo(all.info, list.info);
      ExpectSieved(list, ReadWith(file.path(), decoding, &the), the);
    }
  }
}

// Each line one character of the code page; every character is found in
// its own line and in no other, so the bytes the code page gives a
// character are the only ones that decode to it.
void ExpectEveryCharacterFound(const char* codeset, std::size_t step) {
  const TCodePage page(codeset);
  std::u16string text;
  std::vector<std::u16string> characters;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      std::size_t bad = 0;
      const std::u16string one =
          page.Decode(std::string{static_cast<char>(lead), static_cast<char>(trail)}, bad);
      if (bad != 0 || one.size() != 1) continue;
      characters.push_back(one);
      text += one + u"\n";
    }
  ASSERT_GT(characters.size(), 20000u);
  const TempFile file(page.Encode(text));
  const TTextDecoding decoding = TextDecodingNamed(codeset);
  const Read list = ReadAsList(file.path(), decoding);
  ASSERT_EQ(list.info.malformed, 0u);
  for (std::size_t k = 0; k < characters.size(); k += step) {
    const TLineNeedle needle{characters[k], characters[k], {}};
    const Read sieved = ReadWith(file.path(), decoding, &needle);
    ExpectSieved(list, sieved, needle);
    // Only lines whose bytes hold the character's bytes come along, never
    // the whole file.
    EXPECT_LT(sieved.lines.size(), 10u) << codeset << " " << k;
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(TextLines, EveryDoubleByteCharacterIsFoundInTheBytesOfItsLine) {
  ExpectEveryCharacterFound("GB18030", 97);
  ExpectEveryCharacterFound("GBK", 89);
}

TEST(TextLines, ANeedleNeverPresentGivesNoLineAndLongLinesKeepTheirIndex) {
  std::string bytes;
  for (int k = 0; k < 2000; ++k)
    bytes += "a line of text " + std::to_string(k) + (k % 3 ? "\n" : "\r\n");
  bytes += std::string(3 << 20, 'w') + " needle\r";
  bytes += "\rlast needle";
  const TempFile file(bytes);
  const TTextDecoding decoding = TextDecodingNamed("auto");
  const TLineNeedle absent{u"zebra", u"ZEBRA", {}};
  EXPECT_TRUE(ReadWith(file.path(), decoding, &absent).lines.empty());
  const TLineNeedle needle{u"needle", u"needle", {}};
  const Read sieved = ReadWith(file.path(), decoding, &needle);
  ASSERT_EQ(sieved.lines.size(), 2u);
  EXPECT_EQ(sieved.lines[0].first, 2000);
  EXPECT_EQ(sieved.lines[0].second.size(), (3u << 20) + 7);
  EXPECT_EQ(sieved.lines[1], (std::pair<int, std::u16string>(2002, u"last needle")));
}

TEST(TextLines, ACancelRaisesWithOrWithoutANeedle) {
  const TempFile file("the sea\nthe end\n");
  std::atomic<bool> cancel{true};
  const TLineNeedle needle{u"sea", u"sea", {}};
  for (const TLineNeedle* given : {static_cast<const TLineNeedle*>(nullptr), &needle}) {
    TTextReadInfo info;
    info.codeset = "untouched";
    int calls = 0;
    EXPECT_THROW(ReadTextLines(file.path(), TextDecodingNamed("auto"), given, &cancel, &info,
                               [&](int, std::u16string_view) { ++calls; }),
                 ECancelled);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(info.codeset, "untouched");
  }
  // A cancel set while lines are given is seen before the next stretch of
  // the text is searched.
  std::string bytes;
  for (int k = 0; k < 200000; ++k) bytes += "the sea and more sea\n";
  const TempFile big(bytes);
  cancel = false;
  int calls = 0;
  EXPECT_THROW(ReadTextLines(big.path(), TextDecodingNamed("auto"), nullptr, &cancel, nullptr,
                             [&](int, std::u16string_view) {
                               if (++calls == 5) cancel = true;
                             }),
               ECancelled);
  EXPECT_EQ(calls, 5);
}

TEST(TextLines, ErrorsAreThoseOfTheListReader) {
  const std::string missing = "/tmp/tallyfold-lines-no-such-folder/a.txt";
  TUnicodeStringList list;
  std::string want;
  try {
    ReadTextFileAs(list, missing, TextDecodingNamed("auto"));
  } catch (const EFOpenError& e) {
    want = e.what();
  }
  ASSERT_FALSE(want.empty());
  try {
    ReadTextLines(missing, TextDecodingNamed("auto"), nullptr, nullptr, nullptr,
                  [](int, std::u16string_view) {});
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), want);
  }
  // What the callback throws is passed on, and the info is left alone.
  const TempFile file("a\nb\n");
  TTextReadInfo info;
  info.malformed = 99;
  EXPECT_THROW(ReadTextLines(file.path(), TextDecodingNamed("auto"), nullptr, nullptr, &info,
                             [](int, std::u16string_view) { throw std::logic_error("stop"); }),
               std::logic_error);
  EXPECT_EQ(info.malformed, 99u);
}

#ifndef _WIN32
// A file written to while its lines are given is named as changed, however
// it was written: cut short, cut to nothing, grown, rewritten in place with
// the same bytes, or only given a new time; one left alone is not. Each
// file starts with a time long past, so that any write gives it a new one.
TEST(TextLines, AFileWrittenWhileItIsReadIsNamedAsChanged) {
  const auto write_at = [](const std::string& path, const std::string& bytes, off_t at) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  };
  const struct {
    const char* name;
    std::function<void(const std::string& path)> change;
    bool changed;
  } cases[] = {
      {"left alone", [](const std::string&) {}, false},
      {"cut to nothing", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 0), 0); }, true},
      {"cut in half", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 6), 0); }, true},
      {"grown", [&](const std::string& path) { write_at(path, "more\n", 1 << 20); }, true},
      {"the same bytes rewritten",
       [](const std::string& path) {
         char head[2];
         const int fd = ::open(path.c_str(), O_RDWR);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::pread(fd, head, 2, 0), 2);
         ASSERT_EQ(::pwrite(fd, head, 2, 0), 2);
         ::close(fd);
       },
       true},
      {"only a new time", [](const std::string& path) { ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0); }, true},
  };
  // UTF-16 text and bytes are read on two ways.
  const std::string texts[] = {std::string("\xFF\xFEo\0n\0e\0\n\0t\0w\0o\0\n\0", 18),
                               "one\ntwo\nthree\n"};
  for (const auto& c : cases) {
    for (const std::string& text : texts) {
      SCOPED_TRACE(c.name);
      const TempFile file(text);
      const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, file.path().c_str(), past, 0), 0);
      TTextReadInfo info;
      int lines = 0;
      ReadTextLines(file.path(), TextDecodingNamed("auto"), nullptr, nullptr, &info,
                    [&](int, std::u16string_view) {
                      if (lines++ == 0) c.change(file.path());
                    });
      EXPECT_EQ(info.changed, c.changed);
      EXPECT_FALSE(info.sizeless);
    }
  }
}
#endif

}  // namespace
}  // namespace tallyfold
