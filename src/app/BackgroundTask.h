// BackgroundTask: one piece of work on a thread of its own, with progress,
// cancel and a call at its end.
//
// A window has to keep painting and answering its Cancel button while a long
// search runs, or while a million rows are arranged. A BackgroundTask runs
// its work on a new thread, publishes how far it has got, takes a cancel
// request from any thread, says when the work has ended and hands back the
// outcome. SearchWork makes the search command (app/SearchCommand.h) such a
// piece of work:
//
//   tallyfold::SearchStats stats;
//   tallyfold::BackgroundTask search(tallyfold::SearchWork(options, lists, stats));
//   while (!search.WaitFor(std::chrono::milliseconds(20)))
//     Show(search.CurrentProgress());                 // done of total
//   ...
//   search.Cancel();                                  // from anywhere
//   search.Result();                                  // stats filled, or the error
//
// Any other work takes the cancel flag and a progress call, and may be
// followed by a call on the task's thread once it has ended (a window posts
// itself a message there rather than polling):
//
//   tallyfold::BackgroundTask arrange(
//       [&](const std::atomic<bool>& cancel, const tallyfold::BackgroundTask::Report& report) {
//         view.Arrange(order, filter, &cancel, [&](int percent) { report(percent, 100, {}); });
//       },
//       [&] { PostToTheWindow(); });
//
// Result raises what the work raised: ECancelled after a cancel the work
// heeded, its own error otherwise. Whatever the work writes to (the lists and
// statistics of a search) is its own until it has ended; the caller must
// leave it alone until WaitFor has returned true or Result has returned.
// Destroying a task that still runs cancels it and waits for its end.
//
// A front end starts its tasks through a TaskStarter it is given, not by
// constructing them itself, so that a test can hand in a starter that holds
// the work at a known point:
//
//   std::unique_ptr<tallyfold::BackgroundTask> task = starter.Start(work, ended);
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/SearchCommand.h"

namespace tallyfold {

class BackgroundTask {
 public:
  struct Progress {
    int done = 0;         // steps finished (corpus files, percent, ...)
    int total = 0;        // steps in all; 0 while not known
    std::string current;  // what is being worked on (a search: the native byte path)
  };
  // How the work tells its progress; any thread may read it meanwhile.
  using Report = std::function<void(int done, int total, const std::string& current)>;
  using Work = std::function<void(const std::atomic<bool>& cancel, const Report& report)>;

  // Starts `work` on a new thread; `ended`, when given, is called on that
  // thread once the work has ended and WaitFor would return true. Raises
  // std::system_error when no thread can be started.
  explicit BackgroundTask(Work work, std::function<void()> ended = nullptr);
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Asks the work to stop; a search ends with ECancelled at its next check,
  // unless it has already finished.
  void Cancel() { cancel_.store(true); }
  bool CancelRequested() const { return cancel_.load(); }

  // True once the work has ended, waiting at most `timeout` for that.
  bool WaitFor(std::chrono::milliseconds timeout);

  Progress CurrentProgress() const;

  // Waits for the end; returns when the work succeeded, raises its error
  // when it failed.
  void Result();

 private:
  void Run(Work work, std::function<void()> ended);

  std::atomic<bool> cancel_{false};
  mutable std::mutex mutex_;      // guards everything below but the thread
  std::condition_variable ended_signal_;
  bool ended_ = false;
  Progress progress_;
  std::exception_ptr error_;
  std::thread thread_;            // started last, once the rest exists
};

// Starts background work for a front end: each on a thread of its own.
class TaskStarter {
 public:
  virtual ~TaskStarter() = default;
  virtual std::unique_ptr<BackgroundTask> Start(BackgroundTask::Work work,
                                                std::function<void()> ended);
};

// RunSearch(options, lists, stats) as a task's work, with the task's cancel
// flag and progress (files done of the total, the file being scanned) in
// place of the options' own.
BackgroundTask::Work SearchWork(SearchOptions options, SearchLists& lists, SearchStats& stats);

}  // namespace tallyfold
