// What follows a search in the window.
//
// This file's external interface is AfterSearchPolicy.h;
// tests/app/AfterSearchPolicyTest.cpp covers it, and
// tests/ui/AfterSearchTest.cpp follows it through the window.
#include "app/AfterSearchPolicy.h"

namespace tallyfold {

void AfterSearchPolicy::PrepareSearch(SearchOptions& options) const {
  options.keep_results = true;
  options.write_report = choice_ != AfterSearch::kShowResults;
}

AfterSearchSteps AfterSearchPolicy::Decide(const SearchOutcome& outcome,
                                           const std::function<bool()>& accept_offer) const {
  AfterSearchSteps steps;
  if (outcome.end != SearchEnd::kDone) return steps;
  steps.show_note = true;
  switch (choice_) {
    case AfterSearch::kOpenReport:
      steps.offered = outcome.results_kept && outcome.matching_lines > offer_results_above_;
      steps.show_results = steps.offered && accept_offer && accept_offer();
      steps.open_report = !steps.show_results;
      return steps;
    case AfterSearch::kShowResults:
      steps.show_results = outcome.results_kept;
      break;
    case AfterSearch::kBoth:
      steps.open_report = true;
      steps.show_results = outcome.results_kept;
      break;
  }
  steps.missing_results = !outcome.results_kept;
  return steps;
}

}  // namespace tallyfold
