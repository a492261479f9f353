// The Windows window's texts, settings file and layout: the catalogue made
// from the Qt window's translation file, filling in numbered places, the
// settings' round trip through their file, the history, and the layout at
// every DPI.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "win32/Catalogue.h"
#include "win32/Layout.h"
#include "win32/NoteText.h"
#include "win32/WindowSettings.h"

namespace tallyfold::win32ui {

extern const CatalogueEntry kChineseCatalogue[];
extern const int kChineseCatalogueSize;

namespace {

class LanguageScope {
 public:
  explicit LanguageScope(Language language) : saved_(CurrentLanguage()) { SetLanguage(language); }
  ~LanguageScope() { SetLanguage(saved_); }

 private:
  Language saved_;
};

// The numbered places (%1 ... %9) a text holds, each once.
std::set<char16_t> Places(const std::u16string& text) {
  std::set<char16_t> places;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == u'%' && text[i + 1] >= u'1' && text[i + 1] <= u'9') places.insert(text[i + 1]);
  return places;
}

TEST(CatalogueTest, EveryEntryIsFoundAndKeepsItsPlaces) {
  ASSERT_GT(kChineseCatalogueSize, 30);
  const LanguageScope chinese(Language::kChinese);
  for (int i = 0; i < kChineseCatalogueSize; ++i) {
    const CatalogueEntry& entry = kChineseCatalogue[i];
    SCOPED_TRACE(entry.source);
    const std::u16string translated = Tr(entry.context, entry.source);
    EXPECT_EQ(translated, FromUtf8(entry.translation));
    // A translation that lost or gained a place would show a wrong value.
    EXPECT_EQ(Places(translated), Places(FromUtf8(entry.source)));
    SetLanguage(Language::kEnglish);
    EXPECT_EQ(Tr(entry.context, entry.source), FromUtf8(entry.source));
    SetLanguage(Language::kChinese);
  }
  // Another context's text, or an unknown one, stays English.
  EXPECT_EQ(Tr("tallyfold::NoSuchContext", "Close"), u"Close");
  EXPECT_EQ(Tr("tallyfold::TSearchNote", "No such text"), u"No such text");
}

TEST(CatalogueTest, ChineseForEveryChineseLanguage) {
  const struct {
    unsigned short lang_id;
    Language language;
  } cases[] = {{0x0804, Language::kChinese}, {0x0404, Language::kChinese},
               {0x0C04, Language::kChinese}, {0x1004, Language::kChinese},
               {0x1404, Language::kChinese}, {0x7C04, Language::kChinese},
               {0x0409, Language::kEnglish}, {0x0411, Language::kEnglish},
               {0x0412, Language::kEnglish}, {0x0000, Language::kEnglish},
               {0x0444, Language::kEnglish}};  // Tatar: primary 0x44, whose low bits are 4
  for (const auto& c : cases) EXPECT_EQ(LanguageForLangId(c.lang_id), c.language) << c.lang_id;
}

TEST(FillInTest, ReplacesEachPlaceOnceAndLeavesTheRest) {
  const struct {
    std::u16string pattern;
    std::vector<std::u16string> args;
    std::u16string expected;
  } cases[] = {
      {u"%1 of %2 files", {u"3", u"7"}, u"3 of 7 files"},
      {u"%2 before %1", {u"a", u"b"}, u"b before a"},
      {u"%1 and %1", {u"x"}, u"x and x"},
      // An argument's own places are not filled in again.
      {u"%1 / %2", {u"%2", u"%1"}, u"%2 / %1"},
      {u"%3 without an argument", {u"a"}, u"%3 without an argument"},
      {u"100% and %0 and %", {u"a"}, u"100% and %0 and %"},
      {u"%%1", {u"a"}, u"%a"},
      {u"%12", {u"a"}, u"a2"},
      {u"", {u"a"}, u""},
      {u"%1", {std::u16string(1, u'\0') + u"\xD800\xFFFF"}, std::u16string(1, u'\0') + u"\xD800\xFFFF"},
  };
  for (const auto& c : cases) {
    std::u16string got;
    switch (c.args.size()) {
      case 1: got = FillIn(c.pattern, {c.args[0]}); break;
      case 2: got = FillIn(c.pattern, {c.args[0], c.args[1]}); break;
      default: FAIL();
    }
    EXPECT_EQ(got, c.expected) << std::string(c.pattern.begin(), c.pattern.end());
  }
}

TEST(FillInTest, GroupedNumberMatchesDigitsWithCommas) {
  std::mt19937_64 random(34);
  std::vector<unsigned long long> numbers = {0, 9, 99, 999, 1000, 9999, 100000, 999999, 1000000,
                                             ULLONG_MAX};
  for (int i = 0; i < 200; ++i) numbers.push_back(random() >> (random() % 64));
  for (unsigned long long number : numbers) {
    const std::u16string grouped = GroupedNumber(number);
    // Without the commas it is the number; the commas stand every three
    // digits from the right.
    std::string digits;
    for (std::size_t i = 0; i < grouped.size(); ++i) {
      const std::size_t from_right = grouped.size() - i;
      if (from_right % 4 == 0) {
        EXPECT_EQ(grouped[i], u',') << number;
      } else {
        digits += static_cast<char>(grouped[i]);
      }
    }
    EXPECT_EQ(digits, std::to_string(number));
    EXPECT_NE(grouped.front(), u',');
  }
}

// A pattern of random code units, the awkward ones far more often than
// their share: NUL, the line breaks, the escape, '=', '[', lone and paired
// surrogates, U+FFFF, U+2028 and spaces at the ends.
std::u16string RandomPattern(std::mt19937& random) {
  static const char16_t kAwkward[] = {u'\0', u'\r', u'\n', u'\\', u'=', u'[', u']', u'\xD800',
                                      u'\xDBFF', u'\xDC00', u'\xDFFF', u'\xFFFF', u'\x2028',
                                      u' ', u'\t', u'\x3000', u'r', u'n', u'茶'};
  std::u16string text;
  const int length = static_cast<int>(random() % 12);
  for (int i = 0; i < length; ++i) {
    text += random() % 2 ? kAwkward[random() % std::size(kAwkward)]
                         : static_cast<char16_t>(random() % 0x10000);
  }
  return text;
}

TEST(WindowSettingsTest, EverySettingComesBackFromItsFile) {
  std::mt19937 random(20110412);
  for (int round = 0; round < 300; ++round) {
    WindowSettings settings;
    settings.folder = round % 3 == 0 ? std::string()
                                     : "C:\\语料\\a b\\" + std::to_string(round) + "\\x=y\\r";
    settings.case_sensitive = random() % 2;
    settings.word_boundary = random() % 2;
    settings.encoding = EncodingChoices()[random() % EncodingChoices().size()].value;
    settings.fallback_encoding = kLegacyEncodings[random() % std::size(kLegacyEncodings)];
    settings.recursive = random() % 2;
    const int patterns = static_cast<int>(random() % 25);
    for (int i = 0; i < patterns; ++i) RememberPattern(settings.history, RandomPattern(random));
    const WindowSettings back = ParseSettings(FormatSettings(settings));
    EXPECT_EQ(back.folder, settings.folder);
    EXPECT_EQ(back.case_sensitive, settings.case_sensitive);
    EXPECT_EQ(back.word_boundary, settings.word_boundary);
    EXPECT_EQ(back.encoding, settings.encoding);
    EXPECT_EQ(back.fallback_encoding, settings.fallback_encoding);
    EXPECT_EQ(back.recursive, settings.recursive);
    ASSERT_EQ(back.history, settings.history) << "round " << round;
    // Every line is one line of the file.
    for (const std::u16string& line : FormatSettings(settings)) {
      EXPECT_EQ(line.find_first_of(u"\r\n"), std::u16string::npos);
    }
  }
}

TEST(WindowSettingsTest, WhatIsNotAValidSettingGivesItsDefault) {
  const WindowSettings defaults;
  const struct {
    std::vector<std::u16string> lines;
    bool (*check)(const WindowSettings&);
  } cases[] = {
      {{u"[General]", u"case=yes", u"add_boundary=0"},
       [](const WindowSettings& s) { return !s.case_sensitive && s.word_boundary; }},
      {{u"[General]", u"case=TRUE", u"include_sub_folders=true "},
       [](const WindowSettings& s) { return !s.case_sensitive && !s.recursive; }},
      {{u"[General]", u"encoding=big5", u"fallback_encoding=shift_jis"},
       [](const WindowSettings& s) { return s.encoding == "BIG5" && s.fallback_encoding == "SHIFT_JIS"; }},
      {{u"[General]", u"encoding=KOI8-R", u"fallback_encoding=utf-8"},
       [](const WindowSettings& s) { return s.encoding == "auto" && s.fallback_encoding == "GB18030"; }},
      // Outside [General], or without "=", nothing counts.
      {{u"[Other]", u"case=true", u"[General]", u"recursive", u"include_sub_folders"},
       [](const WindowSettings& s) { return !s.case_sensitive && !s.recursive; }},
      {{u"case=true"}, [](const WindowSettings& s) { return !s.case_sensitive; }},
      // Only history1 ... history20, in their order, blanks and copies out.
      {{u"[General]", u"history0=a", u"history21=b", u"history01=c", u"historyx=d", u"history=e",
        u"history3=three", u"history1=one", u"history2= one ", u"history4=\t", u"history20=last"},
       [](const WindowSettings& s) {
         return s.history == std::vector<std::u16string>{u"one", u"three", u"last"};
       }},
      {{}, [](const WindowSettings& s) { return s.history.empty() && s.folder.empty(); }},
  };
  int index = 0;
  for (const auto& c : cases) EXPECT_TRUE(c.check(ParseSettings(c.lines))) << "case " << index++;
  EXPECT_EQ(ParseSettings({}).encoding, defaults.encoding);
}

TEST(WindowSettingsTest, HistoryBehavesAsAListOfDistinctRecentPatterns) {
  std::mt19937 random(7);
  const std::vector<std::u16string> pool = {u"cat", u" cat ", u"dog", u"", u" \t", u"绿茶",
                                            u"\xD800", u"a\\b", u"x", u"y", u"z"};
  std::vector<std::u16string> history;
  std::vector<std::u16string> model;  // every trimmed non-blank pattern, latest last
  for (int i = 0; i < 2000; ++i) {
    std::u16string pattern = pool[random() % pool.size()];
    if (random() % 4 == 0) pattern.assign({u'p', static_cast<char16_t>(u'a' + random() % 26)});
    RememberPattern(history, pattern);
    while (!pattern.empty() && pattern.front() <= u' ') pattern.erase(0, 1);
    while (!pattern.empty() && pattern.back() <= u' ') pattern.pop_back();
    if (!pattern.empty()) model.push_back(pattern);
    // Expected: the distinct patterns, most recent first, at most 20.
    std::vector<std::u16string> expected;
    for (auto it = model.rbegin(); it != model.rend() && expected.size() < kHistoryLimit; ++it)
      if (std::find(expected.begin(), expected.end(), *it) == expected.end()) expected.push_back(*it);
    ASSERT_EQ(history, expected) << "step " << i;
  }
}

TEST(WindowSettingsTest, ReadingSettingsTextNamesWhatDiffersFromTheDefaults) {
  const struct {
    const char* encoding;
    const char* fallback;
    bool recursive;
    std::u16string english;
    std::u16string chinese;
  } cases[] = {
      {"auto", "GB18030", false, u"", u""},
      {"auto", "BIG5", false, u"automatic, else BIG5", u"自动，否则 BIG5"},
      {"auto", "GB18030", true, u"sub-folders", u"含子目录"},
      {"locale", "BIG5", true, u"locale's encoding, sub-folders", u"系统区域编码、含子目录"},
      {"EUC-KR", "GB18030", false, u"EUC-KR", u"EUC-KR"},
      {"utf-8", "BIG5", true, u"UTF-8, sub-folders", u"UTF-8、含子目录"},
  };
  for (const auto& c : cases) {
    WindowSettings settings;
    settings.encoding = c.encoding;
    settings.fallback_encoding = c.fallback;
    settings.recursive = c.recursive;
    {
      const LanguageScope english(Language::kEnglish);
      EXPECT_EQ(ReadingSettingsText(settings), c.english) << c.encoding;
    }
    const LanguageScope chinese(Language::kChinese);
    EXPECT_EQ(ReadingSettingsText(settings), c.chinese) << c.encoding;
  }
}

// Every text the window shows from the catalogue is there in Chinese: an
// English text that differs from the translation file's by a letter would
// silently stay English.
TEST(NoteTextTest, EverySentenceIsTranslated) {
  ReadingSummary summary;
  summary.codesets = {{"BIG5", 2, {{TReadChoice::kDetected, 1}, {TReadChoice::kCompared, 1}}},
                      {"SHIFT_JIS", 1, {{TReadChoice::kZeroBytes, 1}}}};
  summary.compared_files = 1;
  summary.overruled_files = 1;
  summary.compared_example = "c.txt";
  summary.comparison = {"BIG5", 812, "GB18030", 204, "GB18030"};
  summary.replaced_files = 5;
  summary.replaced = 12345;
  summary.examples = {"a.txt", "b.txt", "c.txt"};
  summary.nul_files = 1;
  summary.nuls = 3;
  summary.undetected_files = 1;
  summary.undetected = "X-UNKNOWN";
  summary.encoding_hint = "BIG5";
  const std::vector<PatternAdvice> advice = {
      {PatternPitfall::kBoundaryBeside, u"鬱", u"", true},
      {PatternPitfall::kStartAnchor, u"^", u"^ the", true},
      {PatternPitfall::kEndAnchor, u"$", u"the $", false},
  };
  const auto all = [&](int lines_without_boundary) {
    std::vector<std::u16string> texts = DescribeReadings(summary, "GB18030");
    for (auto& text : DescribePattern(advice, lines_without_boundary)) texts.push_back(text);
    texts.push_back(DescribeOpenFailure(u"C:\\r\\result.htm"));
    for (const std::u16string& label :
         {NoteTitle(), NoteCloseText(), EncodingMenuTitle(), FallbackMenuTitle(), RecursiveTitle(),
          RecentPatternsTitle(), EncodingLabel("auto", "BIG5"), EncodingLabel("locale", "")})
      texts.push_back(label);
    return texts;
  };
  for (int lines : {-1, 1234}) {
    std::vector<std::u16string> english, chinese;
    {
      const LanguageScope scope(Language::kEnglish);
      english = all(lines);
    }
    {
      const LanguageScope scope(Language::kChinese);
      chinese = all(lines);
    }
    ASSERT_EQ(english.size(), chinese.size());
    ASSERT_EQ(english.size(), 9u + 8u);  // the comparison of GB18030 and BIG5 among them
    for (std::size_t i = 0; i < english.size(); ++i) {
      EXPECT_NE(english[i], chinese[i]) << std::string(english[i].begin(), english[i].end());
      // The values go into both.
      for (const char16_t* value : {u"12,345", u"BIG5", u"鬱", u"“^ the”", u"result.htm"}) {
        EXPECT_EQ(english[i].find(value) == std::u16string::npos,
                  chinese[i].find(value) == std::u16string::npos)
            << i;
      }
    }
  }
}

TEST(LayoutTest, ControlsScaleWithoutOverlapAtEveryDpi) {
  for (int dpi = 72; dpi <= 480; dpi += 3) {
    const int width = Scale(kClientWidth, dpi);
    const int height = Scale(kClientHeight, dpi);
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
      const Rect a = ScaleRect(kControls[i].rect, dpi);
      EXPECT_GE(a.left, 0);
      EXPECT_LE(a.Right(), width) << dpi;
      EXPECT_LE(a.Bottom(), height) << dpi;
      EXPECT_GT(a.width, 0);
      for (std::size_t j = i + 1; j < std::size(kControls); ++j) {
        const Rect b = ScaleRect(kControls[j].rect, dpi);
        const bool apart = a.Right() <= b.left || b.Right() <= a.left || a.Bottom() <= b.top ||
                           b.Bottom() <= a.top;
        EXPECT_TRUE(apart) << kControls[i].id << " and " << kControls[j].id << " at " << dpi;
      }
    }
  }
  // At the design DPI nothing moves; at twice it everything doubles.
  for (const ControlPlace& place : kControls) {
    const Rect same = ScaleRect(place.rect, kDesignDpi);
    const Rect twice = ScaleRect(place.rect, 2 * kDesignDpi);
    EXPECT_EQ(same.left, place.rect.left);
    EXPECT_EQ(same.width, place.rect.width);
    EXPECT_EQ(twice.top, 2 * place.rect.top);
    EXPECT_EQ(twice.height, 2 * place.rect.height);
  }
  EXPECT_EQ(Scale(11, 144), 17);  // 16.5 rounds up
  EXPECT_EQ(Scale(-11, 144), -17);
}

}  // namespace
}  // namespace tallyfold::win32ui
