// Tests of the code pages: the UTF-8 encoder, the choice of code page from a
// character-set name, and the iconv conversions with their substitutes.
#include "platform/CodePage.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <langinfo.h>
#endif

#include <string>
#include <vector>

namespace tallyfold {
namespace {

TEST(Utf8Encode, EncodesPairsAndReplacesLoneSurrogates) {
  struct Case {
    std::u16string text;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"", ""},
      {std::u16string(u"a\0", 2), std::string("a\0", 2)},
      {u"\u00E9\u07FF\u0800\uFFFF", "\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      {u"\xD83Dx", "\xEF\xBF\xBDx"},
      {u"x\xDE00", "x\xEF\xBF\xBD"},
      {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\xD83D", "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8Encode(c.text), c.bytes) << testing::PrintToString(c.text);
    // Appending writes the same bytes after what is there, also where a
    // run of ASCII, taken eight units at a time, ends on the case's text.
    for (const std::u16string& before : {std::u16string(), std::u16string(11, u'a')}) {
      std::string appended = "<";
      AppendUtf8(appended, before + c.text);
      std::string want(1, '<');
      want.append(before.size(), 'a').append(c.bytes);
      EXPECT_EQ(appended, want) << testing::PrintToString(c.text);
    }
  }
}

TEST(Utf8Decode, RoundTripsEveryWellFormedText) {
  std::u16string text;
  for (char32_t c = 1; c < 0x110000; c += 97) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c < 0x10000) {
      text += static_cast<char16_t>(c);
    } else {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  EXPECT_EQ(Utf8Decode(Utf8Encode(text)), text);
}

TEST(TCodePage, ChoosesUtf8ForUtf8AsciiAndUnknownNames) {
  for (const char* name : {"UTF-8", "utf8", "ANSI_X3.4-1968", "ASCII", "", "no-such-charset"}) {
    TCodePage page(name);
    EXPECT_TRUE(page.IsUtf8()) << name;
    EXPECT_EQ(page.Name(), "UTF-8") << name;
  }
  EXPECT_FALSE(TCodePage("ISO-8859-1").IsUtf8());
}

TEST(TCodePage, SingleByteCodePage) {
  const TCodePage latin1("ISO-8859-1");
  EXPECT_EQ(latin1.Decode("caf\xE9\xFF"), u"caf\u00E9\u00FF");
  EXPECT_EQ(latin1.Decode(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(latin1.Encode(u"caf\u00E9"), "caf\xE9");
  // Characters the code page lacks become one '?' each, a pair included.
  EXPECT_EQ(latin1.Encode(u"a\u4E2Db\U0001F600c\xD800"), "a?b?c?");
}

TEST(TCodePage, MultiByteCodePage) {
  const TCodePage gbk("GBK");
  ASSERT_FALSE(gbk.IsUtf8());
  const std::string encoded = "\xBC\xEC\xCB\xF7\xB9\xA4\xBE\xDF";  // 检索工具
  EXPECT_EQ(gbk.Decode(encoded), u"\u68C0\u7D22\u5DE5\u5177");
  EXPECT_EQ(gbk.Encode(u"\u68C0\u7D22\u5DE5\u5177"), encoded);
  // An invalid pair and a lead byte cut off at the end.
  EXPECT_EQ(gbk.Decode("a\xFF\xFF" "b\xBC"), u"a\uFFFD\uFFFDb\uFFFD");
  EXPECT_EQ(gbk.Encode(u"x\U0001F600y"), "x?y");
}

TEST(TCodePage, LongTextsConvertWhole) {
  const TCodePage latin1("ISO-8859-1");
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(0x20 + i % 0xDF);
  const std::u16string text = latin1.Decode(bytes);
  ASSERT_EQ(text.size(), bytes.size());
  EXPECT_EQ(latin1.Encode(text), bytes);
}

TEST(Utf8Decode, CountsTheMalformedSequencesItReplaces) {
  struct Case {
    std::string bytes;
    std::size_t malformed;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"plain \xE6\x97\xB6\xF0\x9F\x98\x80", 0},
      {"\xEF\xBF\xBD", 0},          // U+FFFD itself is well-formed
      {"a\x80" "b", 1},             // a stray continuation byte
      {"\xE6\x97", 1},              // a character cut off at the end
      {"\xE6\x97" "a\xE6", 2},      // ... and in the middle
      {"\xC0\xAF", 2},              // an overlong form: two subparts
      {"\xED\xA0\x80", 3},          // a surrogate code point
      {"\xF4\x90\x80\x80", 4},      // above U+10FFFF
      {"\xFF\xFE\xFD", 3},
  };
  for (const Case& c : cases) {
    std::size_t malformed = 0;
    const std::u16string text = Utf8Decode(c.bytes, malformed);
    EXPECT_EQ(malformed, c.malformed) << testing::PrintToString(c.bytes);
    // The count adds up, and the text is what the plain decoder gives.
    EXPECT_EQ(text, Utf8Decode(c.bytes));
    Utf8Decode(c.bytes, malformed);
    EXPECT_EQ(malformed, 2 * c.malformed);
  }
}

TEST(TCodePage, CountsTheBytesItCannotDecode) {
  std::size_t malformed = 0;
  EXPECT_EQ(TCodePage("GBK").Decode("a\xFF\xFF" "b\xBC", malformed), u"a\uFFFD\uFFFDb\uFFFD");
  EXPECT_EQ(malformed, 3U);
  malformed = 0;
  TCodePage("GB18030").Decode("\xCA\xB1\xBC\xE4 \x81\x30\x81\x30", malformed);
  EXPECT_EQ(malformed, 0U);
  TCodePage("UTF-8").Decode("\xCA", malformed);
  EXPECT_EQ(malformed, 1U);
}

// What every system's conversions must give for the legacy sets the program
// reads: on Linux these are iconv's answers, and the Windows code pages are
// held to them. A byte that cannot start or complete a character is one
// U+FFFD and counts once; the next byte starts afresh.
TEST(TCodePage, LegacySetsDecodeInvalidBytesAlike) {
  struct Case {
    const char* codeset;
    std::string bytes;
    std::u16string text;
    std::size_t malformed;
  };
  const std::vector<Case> cases = {
      {"BIG5", "a\xFF b\xA4", u"a\uFFFD b\uFFFD", 2},
      {"BIG5", "\xA4\xA4\xA4", u"\u4E2D\uFFFD", 1},
      {"SHIFT_JIS", "x\x81 y\x82\xA0", u"x\uFFFD y\u3042", 1},
      {"SHIFT_JIS", "\xB1\xFD", u"\uFF71\uFFFD", 1},
      {"CP949", "k\xFF\xB0\xA1", u"k\uFFFD\uAC00", 1},
      {"EUC-KR", "\xB0\xA1\xC8", u"\uAC00\uFFFD", 1},
      {"WINDOWS-1252", "\x81\x80z\x9D", u"\uFFFD\u20ACz\uFFFD", 2},
      {"GBK", "\xCA\xB1\xFF\x80", u"\u65F6\uFFFD\u20AC", 1},
      {"GB18030", "\xCA\xB1\xFF\x80", u"\u65F6\uFFFD\uFFFD", 2},
  };
  for (const Case& c : cases) {
    std::size_t malformed = 0;
    EXPECT_EQ(TCodePage(c.codeset).Decode(c.bytes, malformed), c.text)
        << c.codeset << " " << testing::PrintToString(c.bytes);
    EXPECT_EQ(malformed, c.malformed) << c.codeset << " " << testing::PrintToString(c.bytes);
  }
}

TEST(IsKnownCodeset, TellsNamesIconvConvertsFromOthers) {
  for (const char* name : {"UTF-8", "utf8", "ASCII", "GB18030", "gbk", "BIG5", "SHIFT_JIS",
                           "EUC-KR", "WINDOWS-1252", "ISO-8859-1"}) {
    EXPECT_TRUE(IsKnownCodeset(name)) << name;
  }
  for (const char* name : {"", "no-such-charset", "auto", "locale", "UTF-99"}) {
    EXPECT_FALSE(IsKnownCodeset(name)) << name;
  }
}

TEST(SystemCodePage, IsTheLocaleCharacterSet) {
  InitSystemCodePage();
#ifdef _WIN32
  // The program's own byte strings are UTF-8 on Windows, whatever GetACP().
  const std::string codeset = "UTF-8";
#else
  const std::string codeset = nl_langinfo(CODESET);
#endif
  const TCodePage expected(codeset);
  EXPECT_EQ(SystemCodePage().Name(), expected.Name());
  EXPECT_EQ(&SystemCodePage(), &SystemCodePage());
}

}  // namespace
}  // namespace tallyfold
