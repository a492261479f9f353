// Tests of the search notes: readings summed up, the pattern's pitfalls
// judged as the engine matches (each advised form is run against a line the
// pattern as typed misses), and the search's count without the \b wrap
// compared with a search without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
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
      {"replacements: the first three named; no trial, so no hint",
       {Read("BIG5", 0, C::kDetected), Read("GB18030", 4, C::kDetected),
        Read("BIG5", 0, C::kDetected), Read("GB18030", 1, C::kFallback), Read("UTF-8"),
        Read("GB18030", 2, C::kFallback), Read("GB18030", 3, C::kFallback)},
       {{"GB18030", 4}, {"BIG5", 2}}, 4, 10, {"f1.txt", "f3.txt", "f5.txt"}, 0, 0,
       0, "", ""},
      {"a set the user named that replaced bytes, UTF-8 or legacy",
       {Read("UTF-8", 5, C::kNamed), Read("BIG5", 7, C::kNamed), Read("BIG5", 0, C::kNamed)},
       {{"BIG5", 2}}, 2, 12, {"f0.txt", "f1.txt"}, 0, 0, 0, "", ""},
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

TEST(SummarizeReadings, TellsWhyEachSetWasChosenAndWhatWasCompared) {
  using C = TReadChoice;
  std::vector<TTextReadInfo> reads = {
      Read("UTF-16LE", 0, C::kZeroBytes), Read("BIG5", 0, C::kDetected),
      Read("UTF-16LE", 0, C::kZeroBytes), Read("BIG5", 0, C::kCompared),
      Read("BIG5", 0, C::kFallback),      Read("GB18030", 0, C::kDetected),
      Read("UTF-8", 1, C::kUtf8Strays)};
  reads[1].comparison = {"BIG5", 900, "GB18030", 300, "BIG5"};
  reads[3].comparison = {"BIG5", 800, "GB18030", 400, "GB18030"};
  reads[5].comparison = {"GB18030", 850, "BIG5", 200, "GB18030"};
  const ReadingSummary summary = SummarizeReadings(Readings(reads));
  ASSERT_EQ(summary.codesets.size(), 3u);
  EXPECT_EQ(summary.codesets[0].name, "BIG5");
  // In the order of TReadChoice.
  ASSERT_EQ(summary.codesets[0].why.size(), 3u);
  EXPECT_EQ(summary.codesets[0].why[0].choice, C::kCompared);
  EXPECT_EQ(summary.codesets[0].why[1].choice, C::kDetected);
  EXPECT_EQ(summary.codesets[0].why[2].choice, C::kFallback);
  EXPECT_EQ(summary.codesets[1].name, "UTF-16LE");
  ASSERT_EQ(summary.codesets[1].why.size(), 1u);
  EXPECT_EQ(summary.codesets[1].why[0].choice, C::kZeroBytes);
  EXPECT_EQ(summary.codesets[1].why[0].files, 2);
  // The example is the first file where the comparison overruled the
  // detector.
  EXPECT_EQ(summary.compared_files, 3);
  EXPECT_EQ(summary.overruled_files, 1);
  EXPECT_EQ(summary.compared_example, "f3.txt");
  EXPECT_EQ(summary.comparison.detected, "GB18030");
}

// The advice is held to what trying it on the files shows: every file with
// replacements gets fewer, and no other file is read otherwise.
TEST(SummarizeReadings, AdvisesAnEncodingOnlyWhereItHelpsAndHurtsNothing) {
  using C = TReadChoice;
  // What reading file i with an encoding gives, per encoding; a missing
  // entry cannot be read so.
  using Trials = std::vector<std::map<std::string, TrialReading>>;
  struct Case {
    const char* name;
    std::vector<TTextReadInfo> reads;
    Trials trials;
    std::string hint;
    int most_trials;  // the trials the advice may make
  };
  const std::vector<Case> cases = {
      {"a GB18030 folder with one file misread: GB18030 reads it cleanly",
       {Read("GB18030", 0, C::kDetected), Read("BIG5", 9, C::kDetected),
        Read("GB18030", 0, C::kDetected)},
       {{}, {{"GB18030", {"GB18030", 0}}}, {}}, "GB18030", 1},
      {"the folder's set reads the misread file no better",
       {Read("GB18030", 0, C::kDetected), Read("BIG5", 2, C::kDetected)},
       {{}, {{"GB18030", {"GB18030", 2}}}}, "", 1},
      {"a mixed folder: no one setting, whatever the trials",
       {Read("GB18030", 0, C::kDetected), Read("BIG5", 0, C::kDetected),
        Read("UTF-16LE", 0, C::kZeroBytes), Read("GB18030", 3, C::kDetected)},
       {{}, {}, {}, {{"GB18030", {"GB18030", 0}}, {"BIG5", {"BIG5", 0}}}}, "", 0},
      {"UTF-8 with strays read as UTF-8 by name: auto reads them no better",
       {Read("UTF-8", 1, C::kNamed), Read("UTF-8", 2, C::kNamed), Read("UTF-8", 0, C::kNamed)},
       {{{"auto", {"UTF-8", 1}}}, {{"auto", {"UTF-8", 2}}}, {{"auto", {"UTF-8", 0}}}}, "", 1},
      {"BIG5 named on GB18030 files: auto reads each cleanly and the clean file alike",
       {Read("BIG5", 5, C::kNamed), Read("BIG5", 0, C::kNamed), Read("BIG5", 7, C::kNamed)},
       {{{"auto", {"GB18030", 0}}}, {{"auto", {"BIG5", 0}}}, {{"auto", {"GB18030", 0}}}},
       "auto", 3},
      {"named: auto would read a clean file in another set",
       {Read("BIG5", 5, C::kNamed), Read("BIG5", 0, C::kNamed)},
       {{{"auto", {"GB18030", 0}}}, {{"auto", {"GB18030", 0}}}}, "", 2},
      {"a file that cannot be read again: no advice",
       {Read("GB18030", 0, C::kDetected), Read("BIG5", 9, C::kDetected)}, {{}, {}}, "", 1},
      {"a set the menu does not offer is not advised",
       {Read("ISO-8859-13", 0, C::kDetected), Read("GB18030", 4, C::kFallback)},
       {{}, {{"ISO-8859-13", {"ISO-8859-13", 0}}}}, "", 0},
      {"a mark decides, whatever the setting",
       {Read("UTF-8", 3, C::kMark, 0, "", teUtf8), Read("GB18030", 0, C::kDetected)},
       {{{"GB18030", {"GB18030", 0}}}, {}}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<FileReading> readings = Readings(c.reads);
    int tried = 0;
    const ReadingTrial trial = [&](const FileReading& file,
                                   const std::string& encoding) -> std::optional<TrialReading> {
      ++tried;
      const auto at = std::find_if(readings.begin(), readings.end(), [&](const auto& reading) {
        return reading.path == file.path;
      });
      const auto& known = c.trials[static_cast<std::size_t>(at - readings.begin())];
      const auto found = known.find(encoding);
      if (found == known.end()) return std::nullopt;
      return found->second;
    };
    EXPECT_EQ(SummarizeReadings(readings, trial).encoding_hint, c.hint);
    EXPECT_LE(tried, c.most_trials);
    // Without a way to try, nothing is advised.
    EXPECT_EQ(SummarizeReadings(readings).encoding_hint, "");
  }
  // Past kMostHintTrials files the advice is not tried at all.
  std::vector<TTextReadInfo> many(kMostHintTrials + 1, Read("BIG5", 1, C::kNamed));
  int tried = 0;
  const ReadingTrial always_better = [&](const FileReading&, const std::string&) {
    ++tried;
    return std::optional<TrialReading>(TrialReading{"BIG5", 0});
  };
  EXPECT_EQ(SummarizeReadings(Readings(many), always_better).encoding_hint, "");
  EXPECT_EQ(tried, 0);
}

// The trial reads the file from disk as the setting would.
TEST(SummarizeReadings, FileTrialReadsTheFileAgainAsNamed) {
  TempFolder folder;
  const std::string gb = TCodePage("GB18030").Encode(u"黄河之水天上来，奔流到海不复回。\n");
  WriteBytes(folder.Path() + "/gb.txt", gb);
  const FileReading file{folder.Path() + "/gb.txt", "gb.txt",
                         Read("BIG5", 3, TReadChoice::kNamed)};
  const ReadingTrial trial = FileReadingTrial("GB18030");
  const std::optional<TrialReading> as_gb = trial(file, "GB18030");
  ASSERT_TRUE(as_gb.has_value());
  EXPECT_EQ(as_gb->codeset, "GB18030");
  EXPECT_EQ(as_gb->malformed, 0u);
  const std::optional<TrialReading> as_utf8 = trial(file, "utf-8");
  ASSERT_TRUE(as_utf8.has_value());
  EXPECT_GT(as_utf8->malformed, 0u);
  EXPECT_FALSE(trial(file, "NO-SUCH-SET").has_value());
  const FileReading gone{folder.Path() + "/gone.txt", "gone.txt", TTextReadInfo()};
  EXPECT_FALSE(trial(gone, "auto").has_value());
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
