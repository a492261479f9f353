// Tests of the search notes: readings summed up, the pattern's pitfalls
// judged as the engine matches (each advised form is run against a line the
// pattern as typed misses), and the search's count without the \b wrap
// compared with a search without it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CorpusScan.h"
#include "app/SearchCommand.h"
#include "app/SearchNotes.h"
#include "platform/CodePage.h"

namespace tallyfold {
namespace {

using testing::TempFolder;
using testing::WriteBytes;

TTextReadInfo Read(const std::string& codeset, std::size_t malformed = 0,
                   TReadChoice choice = TReadChoice::kUtf8, std::size_t nuls = 0,
                   std::string detected = "", TTextEncoding mark = teAnsi) {
  TTextReadInfo read;
  read.mark = mark;
  read.codeset = codeset;
  read.malformed = malformed;
  read.nuls = nuls;
  read.choice = choice;
  read.detected = std::move(detected);
  return read;
}

std::vector<FileReading> Readings(const std::vector<TTextReadInfo>& reads) {
  std::vector<FileReading> readings;
  for (std::size_t i = 0; i < reads.size(); ++i) {
    std::string name = "f";
    name += std::to_string(i);
    name += ".txt";
    readings.push_back({"/c/" + name, name, reads[i]});
  }
  return readings;
}

TEST(SummarizeReadings, SumsUpWhatTheUserShouldKnow) {
  using C = TReadChoice;
  struct Case {
    const char* name;
    std::vector<TTextReadInfo> reads;
    std::vector<std::pair<std::string, int>> codesets;
    int replaced_files;
    std::uint64_t replaced;
    std::vector<std::string> examples;
    int nul_files;
    std::uint64_t nuls;
    int undetected_files;
    std::string undetected;
    std::string hint;
  };
  const std::vector<Case> cases = {
      {"all UTF-8, one with a mark: nothing to say",
       {Read("UTF-8"), Read("UTF-16LE", 0, C::kMark, 0, "", teUtf16LE), Read("UTF-8")},
       {}, 0, 0, {}, 0, 0, 0, "", ""},
      {"legacy sets by count, then by name; a mark's set is not one of them",
       {Read("GB18030", 0, C::kDetected), Read("BIG5", 0, C::kDetected),
        Read("GB18030", 0, C::kFallback), Read("BIG5", 0, C::kDetected),
        Read("EUC-KR", 0, C::kDetected), Read("UTF-16BE", 0, C::kMark, 0, "", teUtf16BE)},
       {{"BIG5", 2}, {"GB18030", 2}, {"EUC-KR", 1}}, 0, 0, {}, 0, 0, 0, "", ""},
      {"replacements: the first three named; the corpus's own set is the hint",
       {Read("BIG5", 0, C::kDetected), Read("GB18030", 4, C::kDetected),
        Read("BIG5", 0, C::kDetected), Read("GB18030", 1, C::kFallback), Read("UTF-8"),
        Read("GB18030", 2, C::kFallback), Read("GB18030", 3, C::kFallback)},
       {{"GB18030", 4}, {"BIG5", 2}}, 4, 10, {"f1.txt", "f3.txt", "f5.txt"}, 0, 0,
       0, "", "BIG5"},
      {"a set the user named that replaced bytes, UTF-8 or legacy: the automatic choice",
       {Read("UTF-8", 5, C::kNamed), Read("BIG5", 7, C::kNamed), Read("BIG5", 0, C::kNamed)},
       {{"BIG5", 2}}, 2, 12, {"f0.txt", "f1.txt"}, 0, 0, 0, "", "auto"},
      {"UTF-8 with stray bytes, as the detector found it: no option helps",
       {Read("UTF-8", 1, C::kDetected), Read("GB18030", 0, C::kDetected)},
       {{"GB18030", 1}}, 1, 1, {"f0.txt"}, 0, 0, 0, "", ""},
      {"a mark decides: no option helps",
       {Read("UTF-8", 2, C::kMark, 0, "", teUtf8)}, {}, 1, 2, {"f0.txt"}, 0, 0, 0,
       "", ""},
      {"NULs, and answers of the detector that iconv lacks",
       {Read("UTF-8", 0, C::kUtf8, 3), Read("GB18030", 0, C::kFallback, 0, "X-ISO-10646-UCS-4-3412"),
        Read("GB18030", 0, C::kFallback, 1, "EUC-TW"), Read("GB18030", 0, C::kFallback)},
       {{"GB18030", 3}}, 0, 0, {}, 2, 4, 2, "X-ISO-10646-UCS-4-3412", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadingSummary summary = SummarizeReadings(Readings(c.reads));
    std::vector<std::pair<std::string, int>> codesets;
    for (const auto& codeset : summary.codesets) codesets.emplace_back(codeset.name, codeset.files);
    EXPECT_EQ(codesets, c.codesets);
    EXPECT_EQ(summary.replaced_files, c.replaced_files);
    EXPECT_EQ(summary.replaced, c.replaced);
    EXPECT_EQ(summary.examples, c.examples);
    EXPECT_EQ(summary.nul_files, c.nul_files);
    EXPECT_EQ(summary.nuls, c.nuls);
    EXPECT_EQ(summary.undetected_files, c.undetected_files);
    EXPECT_EQ(summary.undetected, c.undetected);
    EXPECT_EQ(summary.encoding_hint, c.hint);
    EXPECT_EQ(summary.Empty(), c.codesets.empty() && c.replaced_files == 0 &&
                                   c.nul_files == 0 && c.undetected_files == 0);
  }
}

std::string Shown(const std::vector<PatternAdvice>& advice) {
  std::string shown;
  for (const PatternAdvice& item : advice) {
    static constexpr const char* kNames[] = {"beside", "start", "end"};
    shown += std::string(kNames[static_cast<int>(item.pitfall)]) + " " + Utf8Encode(item.edge) +
             (item.better.empty() ? "" : " -> " + Utf8Encode(item.better)) +
             (item.needs_no_boundary ? " unwrapped" : "") + "; ";
  }
  return shown;
}

TEST(AdvisePattern, FindsThePitfallsAtEachEdge) {
  const struct {
    const char* pattern;
    bool wrap;
    const char* advice;
  } cases[] = {
      {"的", true, "beside 的 unwrapped; "},
      {"  的  ", true, "beside 的 unwrapped; "},
      {"的", false, ""},
      {"的人", true, "beside 的 unwrapped; beside 人 unwrapped; "},
      {"x的", true, "beside 的 unwrapped; "},
      {"\U00020000", true, "beside \U00020000 unwrapped; "},
      {"\U00020000a\U00020001", true, "beside \U00020000 unwrapped; beside \U00020001 unwrapped; "},
      {"的?", true, "beside 的 unwrapped; "},
      {"\u3000river", true, "beside \u3000 unwrapped; "},
      {"a的b", true, ""},
      {"(的)", true, ""},
      {"\x7F", true, ""},
      {"[的]", true, ""},
      {"\\x{7684}", true, ""},
      {"cat", true, ""},
      {"^the", false, "start ^ -> ^ the; "},
      {"^the", true, "start ^ -> ^ the unwrapped; "},
      {"\\Athe", false, "start \\A -> \\A the; "},
      {"the$", false, "end $ -> the $; "},
      {"the\\Z", false, "end \\Z -> the \\Z; "},
      {"^the$", false, "start ^ -> ^ the $; end $ -> ^ the $; "},
      {"^的", true, "start ^ -> ^ 的 unwrapped; beside 的 unwrapped; "},
      {"^\\d+", false, "start ^ -> ^ \\d+; "},
      {"^\\.x", false, "start ^ -> ^ \\.x; "},
      {"x\\\\$", false, "end $ -> x\\\\ $; "},
      {"x\\w$", false, "end $ -> x\\w $; "},
      {"^ the", false, ""},
      {"^ the", true, "start ^ -> ^ the unwrapped; "},
      {"^\\s*the", false, ""},
      {"^a?the", false, ""},
      {"^(the)", false, ""},
      {"^.x", false, ""},
      {"x.$", false, ""},
      {"x\\s$", false, ""},
      {"x)$", false, ""},
      {"\\^the", false, ""},
      {"the\\$", false, ""},
      {"the\\\\Z", false, ""},
      {"[^a]b", false, ""},
      {"^", false, ""},
      {"", true, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Shown(AdvisePattern(Utf8Decode(c.pattern), c.wrap)), c.advice)
        << c.pattern << (c.wrap ? " wrapped" : "");
  }
}

// The property the advice stands on, checked with the engine: on a line
// made for it, the pattern as typed (with its wrap) finds nothing and the
// advised form does (the wrap off when the advice says so).
TEST(AdvisePattern, TheAdvisedFormMatchesWhereTheTypedOneCannot) {
  const struct {
    const char* pattern;
    bool wrap;
    const char* line;
  } cases[] = {
      {"^the", false, "the cat"},        {"^the", true, "the cat"},
      {"\\Athe", true, "the cat"},       {"the$", false, "see the"},
      {"the\\Z", true, "see the"},       {"^the$", false, "the"},
      {"^the$", true, "the"},            {"^ the", true, "the cat"},
      {"^\\d+", false, "42 apples"},     {"x\\\\$", false, "path x\\"},
      {"^的", true, "的书"},             {"^\\.x", false, ".x y"},
      {"x\\w$", false, "a xy"},          {"^", true, "anything"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    const std::u16string pattern = Utf8Decode(c.pattern);
    const std::vector<PatternAdvice> advice = AdvisePattern(pattern, c.wrap);
    ASSERT_FALSE(advice.empty());
    TRegexEngine engine;
    engine.SetModifier(1, true);
    const std::u16string line = u" " + Utf8Decode(c.line) + u" ";
    EXPECT_EQ(CountMatches(engine, SearchPattern(pattern, c.wrap), line), 0);
    for (const PatternAdvice& item : advice) {
      if (item.pitfall == PatternPitfall::kBoundaryBeside) continue;
      const bool wrap = c.wrap && !item.needs_no_boundary;
      EXPECT_GT(CountMatches(engine, SearchPattern(item.better, wrap), line), 0)
          << Utf8Encode(item.better);
    }
  }
}

// The count without the wrap, made on the way, equals the count of a
// search without it, however the search runs; it is only made when the wrap
// stands beside a character that is never a word character.
TEST(SearchNotes, TheCountWithoutTheWrapIsThatOfASearchWithoutIt) {
  TempFolder folder;
  WriteBytes(folder / "a.txt", Utf8Encode(u"我的书\n\nthe 的 x\n的x\nx的\n的\n没有\nabc\n"));
  WriteBytes(folder / "b.txt", TCodePage("GB18030").Encode(u"他的\n的的的\n不\n"));
  WriteBytes(folder / "c.txt", "\xEF\xBB\xBF" "a\xFF\n");
  TempFolder work;
  for (const char16_t* pattern : {u"的", u"的x", u"x的", u"我的|的书"}) {
    SearchOptions options;
    options.pattern_text = pattern;
    options.folder = folder.Path();
    options.report_path = Utf8Decode(work / "r.htm");
    options.word_boundary = false;
    SearchLists lists;
    SearchStats unwrapped;
    RunSearch(options, lists, unwrapped);
    ASSERT_GT(unwrapped.matching_lines, 0) << Utf8Encode(pattern);
    EXPECT_EQ(unwrapped.lines_without_boundary, -1);
    options.word_boundary = true;
    for (const int threads : {1, 2}) {
      for (const bool filter : {true, false}) {
        for (const bool keep : {false, true}) {
          options.threads = threads;
          options.line_filter = filter;
          options.keep_results = keep;
          SearchStats stats;
          RunSearch(options, lists, stats);
          EXPECT_EQ(stats.lines_without_boundary, unwrapped.matching_lines)
              << Utf8Encode(pattern) << threads << filter << keep;
          EXPECT_LT(stats.matching_lines, unwrapped.matching_lines);
          // Every file's reading, in file order, also in the results.
          ASSERT_EQ(stats.readings.size(), 3u);
          EXPECT_EQ(stats.readings[0].shown_name, "a.txt");
          EXPECT_EQ(stats.readings[1].path, folder / "b.txt");
          EXPECT_EQ(stats.readings[2].read.malformed, 1u);
          EXPECT_EQ(stats.readings[2].read.mark, teUtf8);
          if (keep) {
            ASSERT_EQ(stats.results->Files().size(), 3u);
            EXPECT_EQ(stats.results->Files()[2].read.malformed, 1u);
            EXPECT_EQ(stats.results->Files()[1].read.codeset, stats.readings[1].read.codeset);
          }
        }
      }
    }
  }
  // An ASCII edge needs no such count; a pattern that does not compile
  // without the wrap gives none, and the search goes on.
  for (const char16_t* pattern : {u"the", u"的\\"}) {
    SearchOptions options;
    options.pattern_text = pattern;
    options.folder = folder.Path();
    options.report_path = Utf8Decode(work / "r.htm");
    SearchLists lists;
    SearchStats stats;
    RunSearch(options, lists, stats);
    EXPECT_EQ(stats.lines_without_boundary, -1) << Utf8Encode(pattern);
    EXPECT_EQ(stats.readings.size(), 3u);
  }
}

}  // namespace
}  // namespace tallyfold
