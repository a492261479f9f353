// Tests of the choice of decoding for text without a byte-order mark: the
// automatic choice between UTF-8 and a legacy fallback (GB18030, GBK, Big5,
// Latin-1 text made by iconv here), that valid UTF-8 is never reinterpreted
// and is read once, text malformed in the chosen character set, the count of
// malformed sequences, marks that overrule the choice, and encoding names.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "text/TextFile.h"
#include "text/TextInternal.h"
#include "text/ListItems.h"

namespace tallyfold {
namespace {

using test::Items;

// A memory stream that counts the bytes handed out, to tell how often the
// text was read.
class CountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t n = TMemoryStream::Read(buffer, count);
    bytes_read += n;
    return n;
  }
  std::int64_t bytes_read = 0;
};

TTextDecoding Auto(const std::string& fallback = "GB18030") {
  return TextDecodingNamed("auto", fallback);
}

struct Decoded {
  std::vector<std::u16string> lines;
  TTextReadInfo info;
  std::int64_t bytes_read = 0;
};

// Reads `bytes` (no mark) as `decoding` says with a UTF-8 locale, in pieces
// and slices of the given sizes, so the first malformed sequence can come
// after lines were already taken.
Decoded Read(const std::string& bytes, const TTextDecoding& decoding, std::size_t piece = 7,
             std::size_t slice = 5, const TCodePage& locale = TCodePage("UTF-8")) {
  CountingStream stream(bytes);
  Decoded out;
  out.lines = Items(text_internal::ReadLines(stream, teAnsi, decoding, locale, piece, nullptr,
                                             slice, &out.info));
  out.bytes_read = stream.bytes_read;
  return out;
}

// The text as lines, the way a file holding it encoded is read.
std::vector<std::u16string> LinesOf(const std::u16string& text) {
  TUnicodeStringList list;
  list.SplitText(text);
  return Items(list);
}

std::string Encoded(const char* codeset, const std::u16string& text) {
  const TCodePage page(codeset);
  EXPECT_FALSE(page.IsUtf8()) << codeset << " is not known to iconv here";
  const std::string bytes = page.Encode(text);
  EXPECT_EQ(bytes.find('?'), std::string::npos) << codeset << " cannot hold the test text";
  return bytes;
}

TEST(AutoDecoding, TextTheDetectorCannotPlaceIsReadInTheFallback) {
  // Too little for the detector to say (two GB18030 characters, which it
  // would call UTF-8 though most of their bytes are malformed in it), or
  // bytes that make sense in no character set: the fallback reads them, as
  // every legacy file was read before there was a detector.
  const std::vector<std::string> texts = {
      "ascii first\n" + Encoded("GB18030", u"时间") + "\n",
      "ok\n\x80 a \xFF\nb\xFF\xFF\n\x81",
  };
  for (const char* fallback : {"GB18030", "BIG5", "windows-1252", "utf-8"}) {
    const TCodePage page(fallback);
    for (const std::string& bytes : texts) {
      for (const auto& [piece, slice] : {std::pair<std::size_t, std::size_t>{7, 5}, {1, 2},
                                         {1 << 20, 4 << 20}}) {
        const Decoded got = Read(bytes, Auto(fallback), piece, slice);
        std::size_t malformed = 0;
        EXPECT_EQ(got.lines, test::FileLines(page.Decode(bytes, malformed))) << fallback;
        EXPECT_EQ(got.info.codeset, page.Name());
        EXPECT_EQ(got.info.choice, TReadChoice::kFallback);
        EXPECT_EQ(got.info.malformed, malformed) << fallback;
        EXPECT_EQ(got.info.detected, "");
      }
    }
  }
}

TEST(AutoDecoding, ValidUtf8IsReadOnceAndNeverReinterpreted) {
  const std::vector<std::u16string> texts = {
      u"",
      u"plain ascii\r\nonly\n",
      u"第一行 时间\n\U0001F600 emoji \u00E9\n\u3000全角\u3000\n",
      // The UTF-8 of 时间 (E6 97 B6 E9 97 B4) is also valid GB18030 (three
      // two-byte characters), and so are these: UTF-8 wins.
      u"时间",
      u"ÀÁÂ 时间 é\n中文",
  };
  for (const std::u16string& text : texts) {
    const std::string bytes = Utf8Encode(text);
    const Decoded got = Read(bytes, Auto());
    EXPECT_EQ(got.lines, LinesOf(text));
    EXPECT_EQ(got.info.codeset, "UTF-8");
    EXPECT_EQ(got.info.malformed, 0U);
    EXPECT_EQ(got.bytes_read, static_cast<std::int64_t>(bytes.size()));
  }
  // The case that matters: the same bytes are valid GB18030 with other text.
  std::size_t gb_malformed = 0;
  const std::u16string as_gb = TCodePage("GB18030").Decode(Utf8Encode(u"时间"), gb_malformed);
  EXPECT_EQ(gb_malformed, 0U);
  EXPECT_NE(as_gb, u"时间");
}

TEST(AutoDecoding, LegacyTextIsReadAgainFromWhereReadingBegan) {
  // Only the text after the stream's position counts: its start is looked
  // at for the zero bytes of UTF-16, then it is read as far as the first
  // malformed sequence, gone over for the choice, and read.
  const std::string text = "abc\n" + Encoded("GB18030", u"时间") + "\ntail line\n";
  CountingStream stream("skip" + text);
  stream.SetPosition(4);
  TTextReadInfo info;
  const TUnicodeStringList lines =
      text_internal::ReadLines(stream, teAnsi, Auto(), TCodePage("UTF-8"), 4, nullptr,
                               text_internal::kDecodeSliceBytes, &info);
  EXPECT_EQ(Items(lines), (std::vector<std::u16string>{u"abc", u"时间", u"tail line"}));
  EXPECT_EQ(info.codeset, "GB18030");
  // The first attempt ends with the piece that completed the line holding
  // the malformed sequence: "abc\n", the four GB18030 bytes, "\nta". The
  // start looked at and the pass of the choice are the text whole.
  EXPECT_EQ(stream.bytes_read, 12 + 3 * static_cast<std::int64_t>(text.size()));
}

TEST(AutoDecoding, TextMalformedEverywhereKeepsEveryLine) {
  // Valid in neither UTF-8 nor GB18030 (0x80 and 0xFF stand alone in both),
  // and a lead byte cut off by the end: each becomes U+FFFD, nothing is
  // dropped, and the count says how many.
  const std::string bytes = "ok\n\x80 a \xFF\nb\xFF\xFF\n\x81";
  for (const auto& [piece, slice] : {std::pair<std::size_t, std::size_t>{7, 5}, {1, 2},
                                     {1 << 20, 4 << 20}}) {
    const Decoded got = Read(bytes, Auto(), piece, slice);
    EXPECT_EQ(got.lines, (std::vector<std::u16string>{u"ok", u"\uFFFD a \uFFFD",
                                                      u"b\uFFFD\uFFFD", u"\uFFFD"}));
    EXPECT_EQ(got.info.codeset, "GB18030");
    EXPECT_EQ(got.info.malformed, 5U);
  }
}

TEST(ChosenDecoding, ReadsInTheNamedCharacterSetAndCountsWhatIsMalformed) {
  // A GB18030 file read as UTF-8 is U+FFFD throughout, and says how many.
  const std::string gb = Encoded("GB18030", u"时间\n");
  const Decoded as_utf8 = Read(gb, TextDecodingNamed("utf-8"));
  const std::u16string expected = Utf8Decode(gb.substr(0, 4));
  EXPECT_EQ(as_utf8.lines, std::vector<std::u16string>{expected});
  EXPECT_EQ(as_utf8.info.codeset, "UTF-8");
  const auto replaced = std::count(expected.begin(), expected.end(), u'\uFFFD');
  EXPECT_GT(replaced, 0);
  EXPECT_EQ(as_utf8.info.malformed, static_cast<std::size_t>(replaced));
  EXPECT_EQ(as_utf8.bytes_read, static_cast<std::int64_t>(gb.size()));

  // Named, GB18030 is used even for text that is valid UTF-8.
  const std::string utf8 = Utf8Encode(u"时间");
  const Decoded as_gb = Read(utf8, TextDecodingNamed("gb18030"));
  EXPECT_EQ(as_gb.lines, std::vector<std::u16string>{TCodePage("GB18030").Decode(utf8)});
  EXPECT_EQ(as_gb.info.malformed, 0U);

  // Big5 bytes that GB18030 cannot take, read as GB18030: kept, counted.
  const Decoded bad = Read("a\x80z\n\xFF", TextDecodingNamed("GB18030"));
  EXPECT_EQ(bad.lines, (std::vector<std::u16string>{u"a\uFFFDz", u"\uFFFD"}));
  EXPECT_EQ(bad.info.malformed, 2U);
}

TEST(ChosenDecoding, LocaleIsTheCodePageGivenForIt) {
  const std::string latin = "caf\xE9\n";
  const Decoded got = Read(latin, TextDecodingNamed("locale"), 7, 5, TCodePage("ISO-8859-1"));
  EXPECT_EQ(got.lines, std::vector<std::u16string>{u"café"});
  EXPECT_EQ(got.info.codeset, TCodePage("ISO-8859-1").Name());
  const Decoded utf8 = Read(latin, TextDecodingNamed("locale"));
  EXPECT_EQ(utf8.lines, std::vector<std::u16string>{u"caf\uFFFD"});
  EXPECT_EQ(utf8.info.malformed, 1U);
}

TEST(AutoDecoding, ANonUtf8LocaleKeepsReadingItsOwnText) {
  // Not valid UTF-8, too short for the detector, valid Big5: read as a
  // Big5 locale always read it, not in the GB18030 fallback.
  const TCodePage big5("BIG5");
  const std::string short_text = Encoded("GB18030", u"时间\n");
  const Decoded local = Read(short_text, Auto(), 7, 5, big5);
  EXPECT_EQ(local.lines, test::FileLines(big5.Decode(short_text)));
  EXPECT_EQ(local.info.codeset, big5.Name());
  EXPECT_EQ(local.info.choice, TReadChoice::kLocale);
  EXPECT_EQ(local.info.malformed, 0U);
  // Valid UTF-8 is still UTF-8.
  const TCodePage latin1("ISO-8859-1");
  const Decoded utf8 = Read(Utf8Encode(u"时间\n"), Auto(), 7, 5, latin1);
  EXPECT_EQ(utf8.lines, std::vector<std::u16string>{u"时间"});
  // Text the locale's character set cannot hold either goes to the
  // fallback: GBK text in a Shift_JIS locale.
  const std::string gbk = Encoded("GBK", u"检索工具 时间\n");
  std::size_t sjis_malformed = 0;
  TCodePage("SHIFT_JIS").Decode(gbk, sjis_malformed);
  ASSERT_GT(sjis_malformed, 0U);
  const Decoded fallback = Read(gbk, Auto(), 7, 5, TCodePage("SHIFT_JIS"));
  EXPECT_EQ(fallback.lines, std::vector<std::u16string>{u"检索工具 时间"});
  EXPECT_EQ(fallback.info.codeset, "GB18030");
}

TEST(AutoDecoding, LongLinesInSlicesGiveTheWholeLine) {
  // A long legacy line whose first malformed sequence lies far in, decoded
  // in slices as UTF-8 first and then in GB18030.
  std::u16string text(3000, u'a');
  text += u" 时间 ";
  for (int i = 0; i < 500; ++i) text += u"检索 word ";
  const std::string bytes = Encoded("GB18030", text);
  const Decoded got = Read(bytes, Auto(), 64, 40);
  ASSERT_EQ(got.lines.size(), 1U);
  EXPECT_EQ(got.lines[0], text);
  EXPECT_EQ(got.info.codeset, "GB18030");
}

// Sets a cancel flag when the reader goes back to read the text again.
class CancelOnRewind : public TMemoryStream {
 public:
  CancelOnRewind(std::string bytes, std::atomic<bool>& cancel)
      : TMemoryStream(std::move(bytes)), cancel_(cancel) {}
  void SetPosition(std::int64_t position) override {
    if (position < Position()) cancel_ = true;
    TMemoryStream::SetPosition(position);
  }

 private:
  std::atomic<bool>& cancel_;
};

TEST(AutoDecoding, CancelIsSeenWhileTheTextIsReadAgain) {
  const std::string bytes = "abc\n" + Encoded("GB18030", u"时间") + "\n";
  std::atomic<bool> cancel{false};
  CancelOnRewind stream(bytes, cancel);
  EXPECT_THROW(text_internal::ReadLines(stream, teAnsi, Auto(), TCodePage("UTF-8"), 4, &cancel),
               ECancelled);
  EXPECT_TRUE(cancel);
}

TEST(ReadTextStreamAs, AMarkOverrulesTheDecodingAndItsTextIsCounted) {
  TUnicodeStringList list;
  list.SetPairSeparator(u':');
  TTextReadInfo info;
  TMemoryStream utf8("\xEF\xBB\xBF" "a\xFF\n\xE6\x97\xB6\n");
  ReadTextStreamAs(list, utf8, TextDecodingNamed("GB18030"), nullptr, &info);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"a\uFFFD", u"时"}));
  EXPECT_EQ(list.PairSeparator(), u':');
  EXPECT_EQ(info.mark, teUtf8);
  EXPECT_EQ(info.codeset, "UTF-8");
  EXPECT_EQ(info.malformed, 1U);

  TMemoryStream utf16(std::string("\xFE\xFF\x00\x41", 4));
  ReadTextStreamAs(list, utf16, Auto(), nullptr, &info);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"A"});
  EXPECT_EQ(info.mark, teUtf16BE);
  EXPECT_EQ(info.codeset, "UTF-16BE");
  EXPECT_EQ(info.malformed, 0U);

  TMemoryStream none(Encoded("GB18030", u"时间"));
  ReadTextStreamAs(list, none, Auto(), nullptr, &info);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"时间"});
  EXPECT_EQ(info.mark, teAnsi);
}

TEST(ReadTextFileAs, AFileThatCannotBeOpenedLeavesTheListAsItWas) {
  TUnicodeStringList list;
  list.AppendItem(u"kept");
  EXPECT_THROW(ReadTextFileAs(list, "/nonexistent/folder/a.txt", Auto()), EFOpenError);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"kept"});
}

TEST(TextDecodingNamed, KnowsAutoLocaleAndCharacterSetsInAnyCase) {
  EXPECT_EQ(TextDecodingNamed("auto").kind, TDecodingKind::Auto);
  EXPECT_EQ(TextDecodingNamed("AUTO").code_page.Name(), "GB18030");
  EXPECT_EQ(TextDecodingNamed("Auto", "big5").code_page.Name(), "big5");
  EXPECT_EQ(TextDecodingNamed("auto", "locale").code_page.Name(), SystemCodePage().Name());
  EXPECT_EQ(TextDecodingNamed("Locale").kind, TDecodingKind::Locale);
  for (const char* name : {"utf-8", "UTF8", "gb18030", "GBK", "ISO-8859-1"}) {
    const TTextDecoding decoding = TextDecodingNamed(name);
    EXPECT_EQ(decoding.kind, TDecodingKind::CodePage) << name;
  }
  // The legacy sets the front ends offer serve as either, each a set of
  // its own.
  for (const char* name : kLegacyEncodings) {
    EXPECT_EQ(TextDecodingNamed(name).kind, TDecodingKind::CodePage) << name;
    const TTextDecoding fallback = TextDecodingNamed("auto", name);
    EXPECT_FALSE(fallback.code_page.IsUtf8()) << name;
    EXPECT_EQ(fallback.code_page.Name(), name);
  }
  EXPECT_TRUE(TextDecodingNamed("utf-8").code_page.IsUtf8());
  EXPECT_FALSE(TextDecodingNamed("BIG5").code_page.IsUtf8());
}

// Calls check(message, bad name) for the EUnknownEncoding that each
// (encoding, fallback) pair raises; a pair that is accepted fails the test.
void ExpectRefused(const std::vector<std::pair<std::string, std::string>>& cases,
                   const std::function<void(const std::string&, const std::string&)>& check) {
  for (const auto& [encoding, fallback] : cases) {
    try {
      TextDecodingNamed(encoding, fallback);
      ADD_FAILURE() << encoding << " / " << fallback << " was accepted";
    } catch (const EUnknownEncoding& error) {
      check(error.what(), encoding == "auto" ? fallback : encoding);
    }
  }
}

TEST(TextDecodingNamed, RejectsUnknownNamesAndSaysWhichAreKnown) {
  ExpectRefused({{"NO-SUCH-SET", "GB18030"},
                 {"", "GB18030"},
                 {"auto", "NO-SUCH-SET"},
                 {"auto", "auto"},
                 {"auto", ""}},
                [](const std::string& message, const std::string& bad) {
                  EXPECT_NE(message.find("'" + bad + "'"), std::string::npos) << message;
                  EXPECT_NE(message.find("GB18030, BIG5"), std::string::npos) << message;
                  EXPECT_NE(message.find("utf-8"), std::string::npos) << message;
                });
}

TEST(TextDecodingNamed, RefusesSetsWhoseLinesCannotBeToldInTheirBytes) {
  // UTF-16 with its byte order named is read; without one, and any set that
  // does not keep ASCII as single bytes, is refused, as encoding or as
  // fallback, with a word on what to use instead.
  EXPECT_EQ(TextDecodingNamed("utf-16le").kind, TDecodingKind::CodePage);
  EXPECT_EQ(text_internal::WideEncodingOf(TextDecodingNamed("UTF-16BE").code_page), teUtf16BE);
  EXPECT_EQ(text_internal::WideEncodingOf(TextDecodingNamed("Utf16LE").code_page), teUtf16LE);
  EXPECT_EQ(text_internal::WideEncodingOf(TextDecodingNamed("GB18030").code_page), teAnsi);
  ExpectRefused({{"UTF-16", "GB18030"},
                 {"UCS-2", "GB18030"},
                 {"UCS-2LE", "GB18030"},
                 {"UTF-32", "GB18030"},
                 {"UTF-32LE", "GB18030"},
                 {"UTF-7", "GB18030"},
                 {"auto", "UTF-16LE"},
                 {"auto", "UTF-32BE"}},
                [](const std::string& message, const std::string& bad) {
                  EXPECT_NE(message.find("unsupported"), std::string::npos) << message;
                  EXPECT_NE(message.find("'" + bad + "'"), std::string::npos) << message;
                  const bool utf16 =
                      bad.find("16") != std::string::npos || bad.find("UCS-2") == 0;
                  EXPECT_EQ(message.find("UTF-16LE or UTF-16BE") != std::string::npos, utf16)
                      << message;
                });
}

TEST(SniffWideText, ZeroBytesWhereUtf16OrUtf32HasThem) {
  auto bytes = [](std::initializer_list<int> values) {
    std::string out;
    for (const int value : values) out += static_cast<char>(value);
    return out;
  };
  const std::string cjk_le = bytes({0x84, 0x76, 0x0A, 0x4E, 0x2D, 0x4E, 0x0A, 0x00});  // 的上中\n
  const std::string cjk_be = bytes({0x76, 0x84, 0x4E, 0x0A, 0x4E, 0x2D, 0x00, 0x0A});
  const struct {
    const char* what;
    std::string text;
    TTextEncoding want;
  } cases[] = {
      {"nothing", "", teAnsi},
      {"ASCII", "plain text\n", teAnsi},
      {"one zero byte is no pattern", std::string("a\0", 2), teAnsi},
      {"UTF-16 LE of ASCII", std::string("a\0b\0\n\0", 6), teUtf16LE},
      {"UTF-16 BE of ASCII", std::string("\0a\0b\0\n", 6), teUtf16BE},
      {"CJK, the one line end the only zero, a CJK unit with an LF byte", cjk_le, teUtf16LE},
      {"the same in BE", cjk_be, teUtf16BE},
      {"ASCII with a NUL in a line", std::string("the the one\nthe two\0the three\n", 30),
       teAnsi},
      {"a NUL starting a short line", std::string("\0the\n", 5), teAnsi},
      {"GBK with a NUL", std::string("\xB5\xC4\xD6\xD0\0\xCE\xC4\n", 8), teAnsi},
      {"UTF-32 LE", std::string("a\0\0\0\x84\x76\0\0\n\0\0\0", 12), teUtf32LE},
      {"UTF-32 BE beyond U+FFFF", std::string("\0\x01\xF6\x00\0\0\0\n", 8), teUtf32BE},
      {"UTF-32 of zeros only is not", std::string(8, '\0'), teAnsi},
      {"a unit beyond U+10FFFF is no UTF-32", std::string("a\0\x11\0\n\0\0\0", 8), teAnsi},
      {"a lone surrogate spoils UTF-16", std::string("a\0\0\xD8" "b\0c\0", 8), teAnsi},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_internal::SniffWideText(c.text.data(), c.text.size()), c.want) << c.what;
  }
}

}  // namespace
}  // namespace tallyfold
