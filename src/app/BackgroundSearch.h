// BackgroundSearch: the search command on a thread of its own.
//
// A window has to keep painting and answering its Cancel button while a long
// search runs. BackgroundSearch runs RunSearch (app/SearchCommand.h) on a new
// thread, publishes how far it has got, takes a cancel request from any
// thread and hands back the outcome once the search has ended:
//
//   tallyfold::BackgroundSearch search(options, lists);   // starts at once
//   while (!search.WaitFor(std::chrono::milliseconds(20)))
//     Show(search.CurrentProgress());                      // done of total
//   ...
//   search.Cancel();                                       // from anywhere
//   tallyfold::SearchStats stats = search.Result();        // or its error
//
// Result raises what RunSearch raised: ECancelled after a cancel, the
// search's own error otherwise. The lists belong to the search until it has
// ended; the caller must leave them alone until WaitFor has returned true or
// Result has returned. Destroying a search that still runs cancels it and
// waits for its end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "app/SearchCommand.h"

namespace tallyfold {

class BackgroundSearch {
 public:
  struct Progress {
    int done = 0;         // corpus files finished
    int total = 0;        // corpus files found; 0 until the folder is listed
    std::string current;  // the file being scanned (native byte path)
  };

  // Starts RunSearch(options, lists) on a new thread. The options' progress
  // and cancel are replaced by this object's own. Raises std::system_error
  // when no thread can be started.
  BackgroundSearch(SearchOptions options, SearchLists& lists);
  ~BackgroundSearch();
  BackgroundSearch(const BackgroundSearch&) = delete;
  BackgroundSearch& operator=(const BackgroundSearch&) = delete;

  // Asks the search to stop; it ends with ECancelled at its next check,
  // unless it has already finished.
  void Cancel() { cancel_.store(true); }
  bool CancelRequested() const { return cancel_.load(); }

  // True once the search has ended, waiting at most `timeout` for that.
  bool WaitFor(std::chrono::milliseconds timeout);

  Progress CurrentProgress() const;

  // Waits for the end; returns the statistics or raises the search's error.
  SearchStats Result();

 private:
  void Run(SearchOptions options, SearchLists& lists);

  std::atomic<bool> cancel_{false};
  mutable std::mutex mutex_;      // guards everything below but the thread
  std::condition_variable ended_signal_;
  bool ended_ = false;
  Progress progress_;
  SearchStats stats_;
  std::exception_ptr error_;
  std::thread thread_;            // started last, once the rest exists
};

}  // namespace tallyfold
