// What follows a search, for every choice, ending and count: one table.
#include "app/AfterSearchPolicy.h"

#include <gtest/gtest.h>

namespace tallyfold::testing {
namespace {

constexpr int kAbove = AfterSearchPolicy::kOfferResultsAbove + 1;
constexpr auto kReport = AfterSearch::kOpenReport;
constexpr auto kResults = AfterSearch::kShowResults;
constexpr auto kBoth = AfterSearch::kBoth;
constexpr auto kDone = SearchEnd::kDone;

struct Case {
  AfterSearch choice;
  SearchEnd end;
  int lines;
  bool kept;    // the search kept its results
  bool answer;  // the user's answer to the offer, if asked
  // What follows.
  bool offered, open_report, show_results, missing_results, show_note;
};

const Case kCases[] = {
    // choice   end                  lines   kept   yes?  | offer  open   show   missing note
    {kReport,  kDone,               0,      true,  true,   false, true,  false, false, true},
    {kReport,  kDone,               kAbove - 1, true, true, false, true, false, false, true},
    {kReport,  kDone,               kAbove, true,  false,  true,  true,  false, false, true},
    {kReport,  kDone,               kAbove, true,  true,   true,  false, true,  false, true},
    {kReport,  kDone,               kAbove, false, true,   false, true,  false, false, true},
    {kResults, kDone,               kAbove, true,  true,   false, false, true,  false, true},
    {kResults, kDone,               3,      false, true,   false, false, false, true,  true},
    {kBoth,    kDone,               kAbove, true,  true,   false, true,  true,  false, true},
    {kBoth,    kDone,               3,      false, true,   false, true,  false, true,  true},
    {kReport,  SearchEnd::kCancelled, kAbove, true, true,  false, false, false, false, false},
    {kResults, SearchEnd::kCancelled, 3,    true,  true,   false, false, false, false, false},
    {kBoth,    SearchEnd::kFailed,  3,      false, true,   false, false, false, false, false},
};

TEST(AfterSearchPolicy, DecidesWhatFollowsASearch) {
  for (const Case& test : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << "choice " << static_cast<int>(test.choice) << ", end "
                 << static_cast<int>(test.end) << ", " << test.lines << " lines, kept "
                 << test.kept << ", answer " << test.answer);
    int asked = 0;
    const AfterSearchSteps steps =
        AfterSearchPolicy(test.choice)
            .Decide({test.end, test.lines, test.kept}, [&] {
              ++asked;
              return test.answer;
            });
    EXPECT_EQ(steps.offered, test.offered);
    EXPECT_EQ(asked, test.offered ? 1 : 0);
    EXPECT_EQ(steps.open_report, test.open_report);
    EXPECT_EQ(steps.show_results, test.show_results);
    EXPECT_EQ(steps.missing_results, test.missing_results);
    EXPECT_EQ(steps.show_note, test.show_note);
  }
}

// Every search keeps its results, for the offer; only a search for the
// results alone writes no report.
TEST(AfterSearchPolicy, AsksTheSearchForWhatMayFollow) {
  const struct {
    AfterSearch choice;
    bool write_report;
  } cases[] = {{kReport, true}, {kResults, false}, {kBoth, true}};
  for (const auto& test : cases) {
    SearchOptions options;
    options.write_report = !test.write_report;
    AfterSearchPolicy(test.choice).PrepareSearch(options);
    EXPECT_TRUE(options.keep_results) << static_cast<int>(test.choice);
    EXPECT_EQ(options.write_report, test.write_report) << static_cast<int>(test.choice);
  }
}

// Another threshold; no one to answer declines.
TEST(AfterSearchPolicy, TheThresholdIsTheCallers) {
  const AfterSearchSteps steps = AfterSearchPolicy(kReport, 10).Decide({kDone, 11, true}, nullptr);
  EXPECT_TRUE(steps.offered && steps.open_report);
}

}  // namespace
}  // namespace tallyfold::testing
