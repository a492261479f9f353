// The forms of a search's matches: every distinct text that matched, with
// how often, in how many lines and in how many files.
//
// For `[一-龥]时间` the first question is which forms occur and how often.
// CountForms answers it for the rows a ResultView (app/ResultView.h) shows,
// most frequent first, then by form (compared by code unit); WriteForms
// writes the answer as a TSV table, escaped as the match tables are
// (app/TablePrinter.h):
//
//   form    matches lines   files
//   的时间  1894    1850    12
//
//   const std::vector<MatchForm> forms = CountForms(view, false, nullptr);
//   WriteForms(forms, [&](std::string_view bytes) { out << bytes; });
//
// Counting a million rows takes well under a second; with `cancel` it raises
// ECancelled soon after *cancel is set.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ResultView.h"

namespace tallyfold {

struct MatchForm {
  std::u16string form;      // the match as the tables write it, maybe case-folded
  std::size_t matches = 0;  // rows with this form
  std::size_t lines = 0;    // distinct lines they are in
  std::size_t files = 0;    // distinct files they are in
};

// The forms of the rows `view` shows: a form is the match as a table
// writes it (a surrogate without its partner as U+FFFD). With `fold_ascii_case` the ASCII
// letters of a form are made lower-case, so that "The" and "the" count as
// one form, "the"; other letters keep their case.
std::vector<MatchForm> CountForms(const ResultView& view, bool fold_ascii_case,
                                  const std::atomic<bool>* cancel = nullptr);

// `forms` as TSV, UTF-8, LF line ends, with the head row
// "form\tmatches\tlines\tfiles", in the order given.
void WriteForms(const std::vector<MatchForm>& forms,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel = nullptr);

// The same written to the file at `native_path` as the match tables are
// (WriteTableFile in app/ResultView.h).
void WriteFormsFile(const std::vector<MatchForm>& forms, const std::string& native_path,
                    const std::atomic<bool>* cancel = nullptr);

// The rows of `view` whose form (as CountForms makes it, with the same
// `fold_ascii_case`) is `form`, in the view's order: the rows behind one
// line of the forms table.
ResultView RowsOfForm(const ResultView& view, std::u16string_view form, bool fold_ascii_case,
                      const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
