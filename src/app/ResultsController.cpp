// The results window's state and work (ResultsController.h).
#include "app/ResultsController.h"

#include <algorithm>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "text/TextFile.h"

namespace tallyfold {

ArrangedRows ArrangeRows(const ResultSet& results, const ViewState& state,
                         const std::atomic<bool>* cancel,
                         const std::function<void(int percent)>& progress) {
  auto view = std::make_shared<ResultView>(results);
  view->Arrange(state.order, state.filter, cancel, progress);
  ArrangedRows arranged;
  arranged.forms =
      std::make_shared<const std::vector<MatchForm>>(CountForms(*view, state.fold_case, cancel));
  std::shared_ptr<const ResultView> rows = std::move(view);
  if (state.form) {
    rows = std::make_shared<const ResultView>(
        RowsOfForm(*rows, *state.form, state.fold_case, cancel));
  }
  if (state.reversed) {
    std::vector<std::size_t> backwards(rows->RowCount());
    for (std::size_t row = 0; row < backwards.size(); ++row)
      backwards[row] = backwards.size() - 1 - row;
    rows = std::make_shared<const ResultView>(rows->Subset(backwards));
  }
  arranged.rows = std::move(rows);
  return arranged;
}

ResultOrder OrderOfColumn(RowsColumn column) {
  switch (column) {
    case RowsColumn::kLeft: return ResultOrder::kLeft;
    case RowsColumn::kMatch: return ResultOrder::kMatch;
    case RowsColumn::kRight: return ResultOrder::kRight;
    case RowsColumn::kFile:
    case RowsColumn::kLine: return ResultOrder::kFileAndLine;
    case RowsColumn::kCount: break;
  }
  return ResultOrder::kReport;
}

TableFormat TableFormatForPath(const std::string& path) {
  static constexpr std::string_view kCsv = ".csv";
  if (path.size() < kCsv.size()) return TableFormat::kTsv;
  const std::string_view suffix = std::string_view(path).substr(path.size() - kCsv.size());
  const bool csv = std::equal(suffix.begin(), suffix.end(), kCsv.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
  return csv ? TableFormat::kCsv : TableFormat::kTsv;
}

ScreenRect PlaceBeside(ScreenRect owner, ScreenRect area, int width, int height) {
  constexpr int kGap = 8;
  const int area_right = area.left + area.width;
  const int area_bottom = area.top + area.height;
  const int owner_right = owner.left + owner.width;
  const int owner_bottom = owner.top + owner.height;
  enum Side { kBelow, kAbove, kRight, kLeft };
  struct Room {
    Side side;
    int left, top, right, bottom;
  };
  const Room rooms[] = {
      {kBelow, area.left, owner_bottom + kGap, area_right, area_bottom},
      {kAbove, area.left, area.top, area_right, owner.top - kGap},
      {kRight, owner_right + kGap, area.top, area_right, area_bottom},
      {kLeft, area.left, area.top, owner.left - kGap, area_bottom},
  };
  std::optional<ScreenRect> best;
  long long best_size = 0;
  for (const Room& room : rooms) {
    if (room.right <= room.left || room.bottom <= room.top) continue;
    const int fit_width = std::min(width, room.right - room.left);
    const int fit_height = std::min(height, room.bottom - room.top);
    ScreenRect placed{0, 0, fit_width, fit_height};
    if (room.side == kBelow || room.side == kAbove) {
      placed.left = std::clamp(owner.left, room.left, room.right - fit_width);
      placed.top = room.side == kBelow ? room.top : room.bottom - fit_height;
    } else {
      placed.left = room.side == kRight ? room.left : room.right - fit_width;
      placed.top = std::clamp(owner.top, room.top, room.bottom - fit_height);
    }
    if (fit_width == width && fit_height == height) return placed;
    const long long size = static_cast<long long>(fit_width) * fit_height;
    if (size > best_size) {
      best = placed;
      best_size = size;
    }
  }
  if (best) return *best;
  return {area.left, area.top, std::min(width, area.width), std::min(height, area.height)};
}

ResultsController::ResultsController(std::shared_ptr<const ResultSet> results, TaskStarter& tasks,
                                     Post post)
    : results_(std::move(results)),
      tasks_(tasks),
      post_(std::move(post)),
      files_(CountHitsPerFile(*results_)),
      arranged_(ArrangeRows(*results_, state_)),
      self_(std::make_shared<ResultsController*>(this)) {}

ResultsController::~ResultsController() {
  *self_ = nullptr;
  task_.reset();
}

void ResultsController::SetContext(int context) {
  context_ = context;
  if (on_changed) on_changed();
}

ViewState ResultsController::Requested() const {
  if (pending_) return *pending_;
  if (arranging_) return *arranging_;
  return state_;
}

void ResultsController::SortByColumn(RowsColumn column) {
  const ViewState requested = Requested();
  const ResultOrder order = OrderOfColumn(column);
  const bool again = column == sort_column_ && order == requested.order;
  SetOrder(order, again && !requested.reversed);
  sort_column_ = column;
}

bool ResultsController::SortDescending() const {
  return (state_.order == ResultOrder::kReport) != state_.reversed;
}

void ResultsController::FollowOrder(ResultOrder order) {
  // The head that shows it: the one clicked, or the order's own.
  if (OrderOfColumn(sort_column_) == order) return;
  constexpr RowsColumn kHeads[] = {RowsColumn::kLeft, RowsColumn::kMatch, RowsColumn::kRight,
                                   RowsColumn::kFile, RowsColumn::kCount};
  for (const RowsColumn head : kHeads) {
    if (OrderOfColumn(head) == order) sort_column_ = head;
  }
}

void ResultsController::SetOrder(ResultOrder order, bool reversed) {
  ViewState state = Requested();
  state.order = order;
  state.reversed = reversed;
  Arrange(std::move(state));
}

void ResultsController::SetFilter(std::u16string filter) {
  ViewState state = Requested();
  state.filter = std::move(filter);
  Arrange(std::move(state));
}

void ResultsController::SetFoldCase(bool fold) {
  ViewState state = Requested();
  state.fold_case = fold;
  if (fold && state.form) {
    for (char16_t& unit : *state.form) {
      if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
  }
  Arrange(std::move(state));
}

void ResultsController::RestrictToForm(std::u16string form) {
  ViewState state = Requested();
  state.form = std::move(form);
  Arrange(std::move(state));
}

void ResultsController::RemoveFormRestriction() {
  ViewState state = Requested();
  state.form.reset();
  Arrange(std::move(state));
}

void ResultsController::Arrange(ViewState state) {
  FollowOrder(state.order);
  if (task_) {
    // The newest request wins; an arrangement of an older one is of no use
    // any more.
    pending_ = std::move(state);
    if (task_->work == Work::kArranging) task_->running->Cancel();
    return;
  }
  StartArranging(std::move(state));
}

void ResultsController::StartArranging(ViewState state) {
  auto arranged = std::make_shared<ArrangedRows>();
  std::shared_ptr<const ResultSet> results = results_;
  arranging_ = state;
  Start(
      Work::kArranging,
      [arranged, results, state](const std::atomic<bool>& cancel,
                                 const BackgroundTask::Report& report) {
        *arranged = ArrangeRows(*results, state, &cancel,
                                [&report](int percent) { report(percent, 100, {}); });
      },
      [this, arranged, state] {
        arranged_ = std::move(*arranged);
        state_ = state;
        if (on_changed) on_changed();
      });
}

int ResultsController::Percent() const {
  return task_ ? task_->running->CurrentProgress().done : 0;
}

void ResultsController::Cancel() {
  pending_.reset();
  if (task_) task_->running->Cancel();
}

void ResultsController::Start(Work work, BackgroundTask::Work job, std::function<void()> done) {
  task_ = std::make_unique<Task>();
  task_->work = work;
  task_->done = std::move(done);
  std::weak_ptr<ResultsController*> self = self_;
  task_->running = tasks_.Start(std::move(job), [post = post_, self] {
    post([self] {
      const std::shared_ptr<ResultsController*> alive = self.lock();
      if (alive && *alive) (*alive)->End();
    });
  });
  if (on_busy) on_busy();
}

void ResultsController::End() {
  if (!task_) return;
  const std::unique_ptr<Task> task = std::move(task_);
  arranging_.reset();
  try {
    task->running->Result();
    // Work that finished before a cancel reached it is dropped all the
    // same: once the user has cancelled, nothing changes.
    if (task->running->CancelRequested()) throw ECancelled();
    task->done();
  } catch (const ECancelled&) {
    // Nothing changed, and the user knows why.
  } catch (const std::exception& error) {
    Fail(error.what());
  }
  if (pending_) {
    ViewState state = std::move(*pending_);
    pending_.reset();
    StartArranging(std::move(state));
    return;
  }
  if (on_busy) on_busy();
}

void ResultsController::Fail(const std::string& message) {
  if (on_error) on_error(message);
}

void ResultsController::Copy(std::vector<std::size_t> rows,
                             std::function<void(std::u16string table)> done) {
  if (task_ || !Rows()) return;
  auto selected = std::make_shared<const ResultView>(Rows()->Subset(rows));
  if (selected->RowCount() == 0) return;
  auto table = std::make_shared<std::u16string>();
  const int context = context_;
  Start(
      Work::kCopying,
      [selected, table, context](const std::atomic<bool>& cancel,
                                 const BackgroundTask::Report& report) {
        table->reserve(TableTextSizeHint(*selected, context));
        WriteTableText(
            *selected, TableFormat::kTsv, [&table](std::u16string_view part) { table->append(part); },
            &cancel, context, [&report](int percent) { report(percent, 100, {}); });
      },
      [table, done = std::move(done)] { done(std::move(*table)); });
}

void ResultsController::ExportRows(TableFormat format, std::string native_path) {
  if (task_ || !Rows()) return;
  std::shared_ptr<const ResultView> view = Rows();
  std::shared_ptr<const ResultSet> results = results_;  // the view's rows
  const int context = context_;
  Start(
      Work::kWriting,
      [view, results, format, native_path, context](const std::atomic<bool>& cancel,
                                                    const BackgroundTask::Report&) {
        WriteTableFile(*view, format, native_path, &cancel, context);
      },
      [] {});
}

void ResultsController::ExportForms(std::vector<MatchForm> forms, std::string native_path) {
  if (task_) return;
  auto shown = std::make_shared<const std::vector<MatchForm>>(std::move(forms));
  Start(
      Work::kWriting,
      [shown, native_path](const std::atomic<bool>& cancel, const BackgroundTask::Report&) {
        WriteFormsFile(*shown, native_path, &cancel);
      },
      [] {});
}

std::u16string ResultsController::HitsPerFileText(const std::vector<int>& files) const {
  std::string table;
  WriteHitsPerFile(*results_, files_, files, TableFormat::kTsv,
                   [&table](std::string_view bytes) { table.append(bytes); });
  return Utf8Decode(table);
}

void ResultsController::ExportHitsPerFile(std::vector<int> files, std::string native_path) {
  try {
    WriteFileWith(native_path, [&](TStream& stream) {
      WriteHitsPerFile(*results_, files_, files, TableFormatForPath(native_path),
                       [&stream](std::string_view bytes) {
                         stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
                       });
    });
  } catch (const std::exception& error) {
    Fail(error.what());
  }
}

void ResultsController::OpenLine(std::size_t row, int around,
                                 std::function<void(OpenedLine opened)> done) {
  if (task_ || !Rows() || row >= Rows()->RowCount()) return;
  auto opened = std::make_shared<OpenedLine>();
  opened->row = row;
  opened->line = Rows()->Line(row);
  opened->clicked = static_cast<int>(Rows()->Row(row).span);
  std::shared_ptr<const ResultSet> results = results_;
  Start(
      Work::kReading,
      [opened, results, around](const std::atomic<bool>& cancel, const BackgroundTask::Report&) {
        try {
          opened->context = ReadLineInContext(*results, opened->line, around, &cancel);
        } catch (const ELineGone& gone) {
          opened->gone = true;
          opened->error = gone.what();
        } catch (const ECancelled&) {
          throw;
        } catch (const std::exception& error) {
          opened->error = error.what();
        }
      },
      [opened, done = std::move(done)] { done(std::move(*opened)); });
}

}  // namespace tallyfold
