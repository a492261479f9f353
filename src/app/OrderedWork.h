// Internal to the search application; include app/CorpusScan.h instead.
//
// RunInOrder spreads numbered jobs over worker threads and hands their
// results back to the calling thread strictly in job order, so whatever the
// results feed (the match list) grows exactly as if the jobs had run one
// after another on the calling thread:
//
//   RunInOrder<Entries>(files, workers, window, cancel,
//       [&](int i, Entries& out, const std::atomic<bool>* stop) {
//         out = ScanOne(i, stop);                              // on a worker
//       },
//       [&](int i, Entries& out, bool complete) { Append(out); });  // in order
//
// Memory stays bounded: a job is only started while it is fewer than
// `window` jobs ahead of the next one to be consumed, so at most `workers`
// jobs run and at most `window` results exist at any time; a worker that is
// too far ahead waits.
//
// Failures keep the sequential meaning: when job i raised an exception, its
// partial result is still consumed (with `complete` false), then the
// exception is raised from RunInOrder, and no later job's result is
// consumed. The first failure in job order wins, whichever worker met a
// failure first in time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Exception.h"

namespace tallyfold::app_internal {

// How often a waiting thread looks at the caller's cancel flag, which is set
// from places (a signal handler, another thread) that cannot wake it.
inline constexpr std::chrono::milliseconds kCancelPoll{10};

// Runs produce(i, result, stop) for every i in [0, count) on up to `workers`
// threads and consume(i, result, complete) for each on the calling thread,
// in order of i. A job should end with ECancelled soon after *stop is set (stop may be
// null): that happens when `*cancel` is set, and on a worker also when the
// run ends early because an earlier job failed. When `*cancel` is set the
// run ends with ECancelled. Without any worker thread (`workers` below 2, or
// none could be started) every job runs on the calling thread.
template <typename Result, typename Produce, typename Consume>
void RunInOrder(int count, int workers, int window, const std::atomic<bool>* cancel,
                Produce produce, Consume consume) {
  auto cancelled = [cancel] {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
  };

  struct Slot {
    Result result{};
    std::exception_ptr error;
    bool ready = false;
  };
  workers = std::min(workers, count);
  window = std::max(window, workers);
  std::vector<Slot> slots(workers > 1 ? static_cast<std::size_t>(window) : 0);
  std::mutex mutex;
  std::condition_variable job_done;  // a slot became ready
  std::condition_variable moved_on;  // a slot was consumed, or the run stops
  int next = 0;                      // the next job to claim
  int consumed = 0;                  // jobs consumed so far
  bool stop = false;                 // workers claim nothing more
  std::atomic<bool> halt{false};     // running jobs give up: the run is over

  auto work = [&] {
    for (;;) {
      std::unique_lock lock(mutex);
      moved_on.wait(lock, [&] { return stop || next >= count || next < consumed + window; });
      if (stop || next >= count) return;
      const int job = next++;
      lock.unlock();
      // The slot is this worker's alone until it is marked ready: the job
      // that used it before was consumed, and the merger only reads a slot
      // once it is ready.
      Slot& slot = slots[static_cast<std::size_t>(job % window)];
      try {
        produce(job, slot.result, &halt);
      } catch (...) {
        slot.error = std::current_exception();
      }
      lock.lock();
      slot.ready = true;
      job_done.notify_all();
    }
  };

  std::vector<std::thread> threads;
  auto stop_and_join = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    halt.store(true);
    moved_on.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
  };

  if (workers > 1) {
    threads.reserve(static_cast<std::size_t>(workers));
    try {
      for (int i = 0; i < workers; ++i) threads.emplace_back(work);
    } catch (const std::system_error&) {
      // The system refused another thread: the ones started do the work.
    }
  }

  if (threads.empty()) {
    for (int job = 0; job < count; ++job) {
      if (cancelled()) throw ECancelled();
      Result result{};
      std::exception_ptr error;
      try {
        produce(job, result, cancel);
      } catch (...) {
        error = std::current_exception();
      }
      consume(job, result, !error);
      if (error) std::rethrow_exception(error);
    }
    return;
  }

  try {
    for (int job = 0; job < count; ++job) {
      Slot& slot = slots[static_cast<std::size_t>(job % window)];
      {
        std::unique_lock lock(mutex);
        for (;;) {
          // Checked before every job, not only while waiting: workers that
          // keep ahead would otherwise never let the merger see the flag.
          if (cancelled()) throw ECancelled();
          if (slot.ready) break;
          job_done.wait_for(lock, kCancelPoll);
        }
      }
      consume(job, slot.result, !slot.error);
      if (slot.error) std::rethrow_exception(slot.error);
      slot.result = Result{};
      {
        std::lock_guard lock(mutex);
        slot.ready = false;
        ++consumed;
      }
      moved_on.notify_all();
    }
  } catch (...) {
    stop_and_join();
    throw;
  }
  stop_and_join();
}

}  // namespace tallyfold::app_internal
