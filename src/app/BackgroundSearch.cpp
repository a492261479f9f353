// The search command on its own thread.
//
// This file's external interface is BackgroundSearch.h;
// tests/app/BackgroundSearchTest.cpp covers it, and the window tests
// (tests/ui/WindowSearchTest.cpp) run it behind the progress dialog.
#include "app/BackgroundSearch.h"

#include <utility>

namespace tallyfold {

BackgroundSearch::BackgroundSearch(SearchOptions options, SearchLists& lists)
    : thread_(&BackgroundSearch::Run, this, std::move(options), std::ref(lists)) {}

BackgroundSearch::~BackgroundSearch() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

void BackgroundSearch::Run(SearchOptions options, SearchLists& lists) {
  options.cancel = &cancel_;
  options.progress = [this](int done, int total, const std::string& current) {
    std::lock_guard lock(mutex_);
    progress_.done = done;
    progress_.total = total;
    progress_.current = current;
  };
  SearchStats stats;
  std::exception_ptr error;
  try {
    RunSearch(options, lists, stats);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    stats_ = stats;
    error_ = error;
    ended_ = true;
  }
  ended_signal_.notify_all();
}

bool BackgroundSearch::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return ended_signal_.wait_for(lock, timeout, [this] { return ended_; });
}

BackgroundSearch::Progress BackgroundSearch::CurrentProgress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

SearchStats BackgroundSearch::Result() {
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
  return stats_;
}

}  // namespace tallyfold
