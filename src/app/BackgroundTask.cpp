// Work on a thread of its own.
//
// This file's external interface is BackgroundTask.h;
// tests/app/BackgroundTaskTest.cpp covers it, the window tests
// (tests/ui/WindowSearchTest.cpp) run a search with it behind the progress
// dialog, and tests/ui/ResultsWindowTest.cpp arranges and exports with it.
#include "app/BackgroundTask.h"

#include <utility>

namespace tallyfold {

BackgroundTask::BackgroundTask(Work work, std::function<void()> ended)
    : thread_(&BackgroundTask::Run, this, std::move(work), std::move(ended)) {}

BackgroundTask::~BackgroundTask() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

void BackgroundTask::Run(Work work, std::function<void()> ended) {
  const Report report = [this](int done, int total, const std::string& current) {
    std::lock_guard lock(mutex_);
    progress_.done = done;
    progress_.total = total;
    progress_.current = current;
  };
  std::exception_ptr error;
  try {
    work(cancel_, report);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    error_ = error;
    ended_ = true;
  }
  ended_signal_.notify_all();
  if (ended) ended();
}

bool BackgroundTask::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return ended_signal_.wait_for(lock, timeout, [this] { return ended_; });
}

BackgroundTask::Progress BackgroundTask::CurrentProgress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

void BackgroundTask::Result() {
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
}

std::unique_ptr<BackgroundTask> TaskStarter::Start(BackgroundTask::Work work,
                                                   std::function<void()> ended) {
  return std::make_unique<BackgroundTask>(std::move(work), std::move(ended));
}

BackgroundTask::Work SearchWork(SearchOptions options, SearchLists& lists, SearchStats& stats) {
  return [options = std::move(options), &lists, &stats](
             const std::atomic<bool>& cancel, const BackgroundTask::Report& report) mutable {
    options.cancel = &cancel;
    options.progress = report;
    RunSearch(options, lists, stats);
  };
}

}  // namespace tallyfold
