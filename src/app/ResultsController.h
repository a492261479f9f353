// ResultsController: what a results window does, without the window.
//
// A front end (the Qt window, a native one) shows what a search kept
// (app/ResultSet.h) in three tables: the matches one per row
// (app/ResultView.h), the hits per file with their totals, and the forms of
// the matches (app/MatchForms.h). The user orders and filters the rows,
// restricts them to one form, copies and exports the tables and opens a
// line in its file. The controller holds the state of all that and does the
// work; a front end turns input into calls and draws what the controller
// holds when told that it changed.
//
//   tallyfold::ResultsController controller(results, tasks, [window](std::function<void()> call) {
//     PostToTheWindow(window, std::move(call));   // runs `call` on the window's thread
//   });
//   controller.on_changed = [&] { Redraw(controller.Rows(), controller.Forms()); };
//   controller.on_error = [&](const std::string& message) { ShowError(message); };
//   controller.SetFilter(u"sea");            // arranged in the background
//   controller.RestrictToForm(u"的");        // of the whole result, not of the rows shown
//
// Long work (arranging, copying, writing a file, reading a line) runs as a
// BackgroundTask that `tasks` starts (app/BackgroundTask.h); its end is
// handed to the front end's thread through `post`, and every call and
// notification of the controller is on that thread. One piece of work runs
// at a time. An arrangement asked for while another runs cancels it: the
// newest wins; one asked for while other work runs follows it. Cancel stops
// what runs, and nothing changes after it, even when the work had just
// finished. The form restriction is a filter of its own: it applies to the
// rows the order and the text filter give, a second restriction replaces
// the first, and RemoveFormRestriction lifts it; the Forms list is always
// that of the rows before the restriction.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BackgroundTask.h"
#include "app/LineInFile.h"
#include "app/MatchForms.h"
#include "app/ResultSet.h"
#include "app/ResultView.h"

namespace tallyfold {

// The columns of the matches table, as every front end shows them.
enum class RowsColumn { kLeft, kMatch, kRight, kFile, kLine, kCount };
// The order a click on a column's head asks for: the file and the line both
// by file and line, the count by the report's order (most matches first).
ResultOrder OrderOfColumn(RowsColumn column);

// What the matches table shows.
struct ViewState {
  ResultOrder order = ResultOrder::kReport;
  bool reversed = false;               // the order from its end
  std::u16string filter;               // lines containing it; empty: all
  bool fold_case = false;              // forms fold ASCII letters to lower case
  std::optional<std::u16string> form;  // only the rows of this form
  bool operator==(const ViewState&) const = default;
};

// The rows for `state` and the forms of those rows before the form
// restriction. Raises ECancelled soon after *cancel is set.
struct ArrangedRows {
  std::shared_ptr<const ResultView> rows;
  std::shared_ptr<const std::vector<MatchForm>> forms;
};
ArrangedRows ArrangeRows(const ResultSet& results, const ViewState& state,
                         const std::atomic<bool>* cancel = nullptr,
                         const std::function<void(int percent)>& progress = {});

// The table format a file is written in: CSV for a path ending in ".csv"
// (any case), TSV otherwise.
TableFormat TableFormatForPath(const std::string& path);

// A line read again from its file for a viewer, or why it could not be.
struct OpenedLine {
  std::size_t row = 0;  // the row of the matches table it was opened from
  ResultLine line;      // the line as the search kept it
  int clicked = 0;      // the index among the line's matches of the row's
  std::optional<LineInContext> context;  // empty when it could not be read
  bool gone = false;    // the file has fewer lines than the line's number now
  std::string error;    // otherwise, the reading error
};

// A rectangle on the screen, in pixels.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const ScreenRect&) const = default;
};

// Where a results window of `width` by `height` (frame included) goes
// beside the window it belongs to, `owner`, in `area` (the screen less its
// panels) so that it covers none of it: below the owner, above it, right
// or left of it, in the first of these where it fits whole, next to the
// owner's edge; else in the one where the most of it fits, shrunk to fit.
// Only when the owner leaves no room at all does it go over it.
ScreenRect PlaceBeside(ScreenRect owner, ScreenRect area, int width, int height);

class ResultsController {
 public:
  using Post = std::function<void(std::function<void()> call)>;
  enum class Work { kNone, kArranging, kCopying, kWriting, kReading };

  ResultsController(std::shared_ptr<const ResultSet> results, TaskStarter& tasks, Post post);
  // Cancels what runs and waits for its end.
  ~ResultsController();
  ResultsController(const ResultsController&) = delete;
  ResultsController& operator=(const ResultsController&) = delete;

  // Told on the front end's thread: the rows, forms or state changed; work
  // started or ended; work failed (the message is the error's).
  std::function<void()> on_changed;
  std::function<void()> on_busy;
  std::function<void(const std::string& message)> on_error;

  const ResultSet& Results() const { return *results_; }
  const ViewState& State() const { return state_; }  // of the rows shown
  const std::shared_ptr<const ResultView>& Rows() const { return arranged_.rows; }
  const std::shared_ptr<const std::vector<MatchForm>>& Forms() const { return arranged_.forms; }
  const HitsPerFile& Files() const { return files_; }
  // The characters shown, copied and exported each side of a match.
  int Context() const { return context_; }
  void SetContext(int context);

  // Arranges the rows for `state` in the background.
  void Arrange(ViewState state);
  // The same with one part of the state asked for (or of the one asked for
  // last, while that is being arranged) changed.
  void SetOrder(ResultOrder order, bool reversed = false);
  // The order of `column`'s head; a second click on the same head reverses
  // it.
  void SortByColumn(RowsColumn column);
  // The head that shows the order of the rows, and whether its arrow
  // points down (the report's order is the count's, most first).
  RowsColumn SortColumn() const { return sort_column_; }
  bool SortDescending() const;
  void SetFilter(std::u16string filter);
  // Folding turned on folds the restriction's form as well.
  void SetFoldCase(bool fold);
  void RestrictToForm(std::u16string form);
  void RemoveFormRestriction();

  Work Busy() const { return task_ ? task_->work : Work::kNone; }
  // How far the work has got, in percent.
  int Percent() const;
  void Cancel();

  // `rows` of the matches table as a TSV table (WriteTableText), handed to
  // `done` on the front end's thread; nothing when the copy is cancelled.
  void Copy(std::vector<std::size_t> rows, std::function<void(std::u16string table)> done);
  // The rows shown, written to a file in `format`.
  void ExportRows(TableFormat format, std::string native_path);
  // `forms` (as the front end sorts and filters them) written as TSV.
  void ExportForms(std::vector<MatchForm> forms, std::string native_path);
  // The hits per file of `files` (indexes into Files().files, in the order
  // shown), then the totals: as TSV text, or written to a file in the
  // format its name asks for (TableFormatForPath).
  std::u16string HitsPerFileText(const std::vector<int>& files) const;
  void ExportHitsPerFile(std::vector<int> files, std::string native_path);

  // Reads the line of `row` with `around` lines on either side and hands
  // it to `done`, read or not.
  void OpenLine(std::size_t row, int around, std::function<void(OpenedLine opened)> done);

 private:
  struct Task {
    Work work = Work::kNone;
    std::function<void()> done;  // on the front end's thread, after success
    std::unique_ptr<BackgroundTask> running;
  };

  // The state the next arrangement starts from: the one waiting, the one
  // running, or the one shown.
  ViewState Requested() const;
  void Start(Work work, BackgroundTask::Work job, std::function<void()> done);
  void End();
  void StartArranging(ViewState state);
  void FollowOrder(ResultOrder order);
  void Fail(const std::string& message);

  std::shared_ptr<const ResultSet> results_;
  TaskStarter& tasks_;
  Post post_;
  HitsPerFile files_;
  ViewState state_;
  ArrangedRows arranged_;
  int context_ = kWholeLine;
  RowsColumn sort_column_ = RowsColumn::kCount;
  std::unique_ptr<Task> task_;
  std::optional<ViewState> arranging_;  // the state being arranged
  std::optional<ViewState> pending_;    // asked for while other work ran
  // Posted ends check it: a controller gone takes no end.
  std::shared_ptr<ResultsController*> self_;
};

}  // namespace tallyfold
