// Tests of trimming and of the conversions through the system code page.
#include "text/WideHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace tallyfold {
namespace {

TEST(TrimWide, RemovesCodeUnitsUpToSpaceOnly) {
  struct Case {
    std::u16string text, trimmed;
  };
  const std::vector<Case> cases = {
      {u"", u""},
      {u" \t\r\n ", u""},
      {u"\ta b\r\n", u"a b"},
      {u"\u3000a", u"\u3000a"},
      {u"\u00A0a\u00A0", u"\u00A0a\u00A0"},
      {std::u16string(u"\0\x1Fx\0", 4), u"x"},
      {u"!x!", u"!x!"},
      {u" \U0001F600 ", u"\U0001F600"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimWide(c.text), c.trimmed) << testing::PrintToString(c.text);
    EXPECT_EQ(TrimWideView(c.text), c.trimmed) << testing::PrintToString(c.text);
  }
}

TEST(TrimAnsi, LooksAtSingleBytes) {
  struct Case {
    std::string text, trimmed;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"  12 ", "12"},
      {" \t\r\n", ""},
      {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},
      {"\x81\x20", "\x81"},
      {std::string("\0a\0", 3), "a"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrimAnsi(c.text), c.trimmed) << testing::PrintToString(c.text);
}

TEST(AnsiConversion, NumbersAndNulsSurviveEveryCodePage) {
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(WideToAnsi(u""), "");
  EXPECT_EQ(WideToAnsi(u"0123456789"), "0123456789");
  EXPECT_EQ(AnsiToWide("-42"), u"-42");
  EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(AnsiConversion, Utf8CodePageKeepsEveryCharacter) {
  if (!SystemCodePage().IsUtf8()) GTEST_SKIP() << "system code page is " << SystemCodePage().Name();
  const std::u16string text = u"\u4E2D\u6587 \u3010\u3011 \U0001F600";
  EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
  EXPECT_EQ(WideToAnsi(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(AnsiToWide("\xFFx"), u"\uFFFDx");
}

}  // namespace
}  // namespace tallyfold
