// What follows a search in the window: open the report, show the results
// window, offer the results in place of a long report, show the note.
//
// The user chooses once (AfterSearch, kept with the window's settings) what
// a search leads to. The policy asks the search for what that may need, and
// once it has ended says what to do, from how it ended and what it found.
// Every search keeps its results, for a search that only opens the report
// may find more than kOfferResultsAbove matching lines, and the user is then
// offered them in the results window instead of the long report; so the
// one search gives whatever the answer asks for:
//
//   tallyfold::AfterSearchPolicy policy(tallyfold::AfterSearch::kOpenReport);
//   policy.PrepareSearch(options);          // keep_results, write_report
//   ... run the search ...
//   const tallyfold::AfterSearchSteps steps = policy.Decide(
//       {tallyfold::SearchEnd::kDone, stats.matching_lines, stats.results != nullptr},
//       [&] { return AskTheUser(); });      // asked only when the results are offered
//   if (steps.open_report) ...; if (steps.show_results) ...
//
// A search that was cancelled or failed leads to nothing (its error, if
// any, has been shown already). Nothing here raises.
#pragma once

#include <functional>

#include "app/SearchCommand.h"

namespace tallyfold {

// What the user chose to follow a search.
enum class AfterSearch {
  kOpenReport,   // open result.htm in the desktop's browser
  kShowResults,  // show the results window; no report is written
  kBoth,         // write and open the report, and show the results window
};

// How a search ended.
enum class SearchEnd { kDone, kCancelled, kFailed };

// What a search came to, as far as what follows it is concerned.
struct SearchOutcome {
  SearchEnd end = SearchEnd::kDone;
  int matching_lines = 0;     // SearchStats::matching_lines
  bool results_kept = false;  // SearchStats::results is set
};

// What the window does after a search, in this order.
struct AfterSearchSteps {
  bool offered = false;      // the user was asked to see the results instead of the report
  bool open_report = false;  // have the desktop open the report
  bool show_results = false;   // show the results in the results window
  bool missing_results = false;  // say that the search kept no results to show
  bool show_note = false;    // say what the search found worth a word (app/SearchNotes.h)
};

class AfterSearchPolicy {
 public:
  // Above this many matching lines the report is a lot to scroll through in
  // a browser, and the results window is offered.
  static constexpr int kOfferResultsAbove = 20000;

  explicit AfterSearchPolicy(AfterSearch choice, int offer_results_above = kOfferResultsAbove)
      : choice_(choice), offer_results_above_(offer_results_above) {}

  // Sets what the search must give: the results always (see above), the
  // report unless only the results are wanted.
  void PrepareSearch(SearchOptions& options) const;

  // The steps after a search that came to `outcome`. `accept_offer` is
  // called when the results are offered instead of the report, and says
  // whether the user took them (none: declined).
  AfterSearchSteps Decide(const SearchOutcome& outcome,
                          const std::function<bool()>& accept_offer) const;

 private:
  AfterSearch choice_;
  int offer_results_above_;
};

}  // namespace tallyfold
