// Internal to the search application; include app/CorpusScan.h instead.
//
// RunInOrder spreads numbered jobs over worker threads and hands their
// results back to the calling thread strictly in job order, so whatever the
// results feed (the match list) grows exactly as if the jobs had run one
// after another on the calling thread:
//
//   RunPlan<Entries> plan{.workers = 4, .window = 8, .budget = 256 << 20,
//                         .run_cost = [&](int i) { return SizeOnDisk(i); },
//                         .held_cost = [](const Entries& out) { return Bytes(out); }};
//   RunInOrder<Entries>(files, plan, cancel,
//       [&](int i, Entries& out, const std::atomic<bool>* stop) {
//         out = ScanOne(i, stop);                              // on a worker
//       },
//       [&](int i, Entries& out, bool complete) { Append(out); });  // in order
//
// Memory stays bounded, whatever the number of workers. A job is in flight
// from the moment a worker takes it until its result is consumed, and
// counts against the budget while it is: its run cost while it runs, then
// the held cost of its result while that waits for its turn. A job starts
// only while it is fewer than `window` jobs ahead of the next one to be
// consumed, and only when its run cost fits in what the jobs in flight leave
// of the budget, or when no job is in flight at all: a job larger than the
// whole budget still runs, alone. Jobs start in job order, so the job the
// merger waits for is either in flight already or the next to start with
// nothing in flight: the run cannot stall. A worker that may not start the
// next job waits; at most `workers` jobs run and at most `window` results
// exist at any time.
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
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Exception.h"

namespace tallyfold::app_internal {

// How often a waiting thread looks at the caller's cancel flag, which is set
// from places (a signal handler, another thread) that cannot wake it.
inline constexpr std::chrono::milliseconds kCancelPoll{10};

inline constexpr std::uint64_t kNoBudget = std::numeric_limits<std::uint64_t>::max();

// How a run spreads its jobs. The costs are in whatever unit the budget is
// (the scan counts bytes); a cost function that is not given counts 0, and
// one that throws counts the whole budget. run_cost is called with the run's
// lock held, once per job; held_cost on the workers, several at once, each
// on its own job's result.
template <typename Result>
struct RunPlan {
  int workers = 1;  // threads; below 2, every job runs on the calling thread
  int window = 1;   // jobs in flight at most (raised to `workers`)
  std::uint64_t budget = kNoBudget;  // the costs of the jobs in flight, at most
  std::function<std::uint64_t(int job)> run_cost{};              // while job runs
  std::function<std::uint64_t(const Result& result)> held_cost{};  // once it is done
  // Starts a worker thread running its argument; empty: std::thread does.
  // Whatever it throws only means one worker fewer.
  std::function<std::thread(std::function<void()>)> start_thread{};
};

// Runs produce(i, result, stop) for every i in [0, count) on up to
// `plan.workers` threads and consume(i, result, complete) for each on the
// calling thread, in order of i. A job should end with ECancelled soon after
// *stop is set (stop may be null): that happens when `*cancel` is set, and
// on a worker also when the run ends early because an earlier job failed.
// When `*cancel` is set the run ends with ECancelled. Without any worker
// thread (`plan.workers` below 2, or none could be started) every job runs
// on the calling thread and the budget plays no part: one job is in flight
// at a time.
template <typename Result, typename Produce, typename Consume>
void RunInOrder(int count, const RunPlan<Result>& plan, const std::atomic<bool>* cancel,
                Produce produce, Consume consume) {
  auto cancelled = [cancel] { return IsCancelled(cancel); };

  struct Slot {
    Result result{};
    std::exception_ptr error;
    std::uint64_t cost = 0;  // what the job counts against the budget now
    bool ready = false;
  };
  const int workers = std::min(plan.workers, count);
  const int window = std::max(plan.window, workers);
  std::vector<Slot> slots(workers > 1 ? static_cast<std::size_t>(window) : 0);
  std::mutex mutex;
  // The next job may have become able to start, or the run stops. Each
  // change that can let jobs start wakes one idle worker, and a worker that
  // takes a job wakes one more when the job after it can start too: waking
  // them all on every change would have dozens of workers contend for the
  // mutex to find one job.
  std::condition_variable may_start;
  std::condition_variable job_done;  // the job the merger waits for is ready
  int next = 0;                      // the next job to claim
  int consumed = 0;                  // jobs consumed so far
  bool stop = false;                 // workers claim nothing more
  std::uint64_t in_flight = 0;       // the costs of jobs claimed, not consumed
  std::uint64_t next_cost = 0;       // the run cost of job `next`,
  bool next_cost_known = false;      // asked for once
  std::atomic<bool> halt{false};     // running jobs give up: the run is over

  // These three are called with the mutex held.
  auto cost_of_next = [&] {
    if (!next_cost_known) {
      try {
        next_cost = plan.run_cost ? plan.run_cost(next) : 0;
      } catch (...) {
        next_cost = plan.budget;
      }
      next_cost_known = true;
    }
    return next_cost;
  };
  auto can_start = [&] {
    if (stop || next >= count || next >= consumed + window) return false;
    if (next == consumed) return true;  // nothing in flight
    const std::uint64_t cost = cost_of_next();
    return in_flight <= plan.budget && cost <= plan.budget - in_flight;
  };
  auto claim = [&] {
    const int job = next;
    Slot& slot = slots[static_cast<std::size_t>(job % window)];
    slot.cost = cost_of_next();
    in_flight += slot.cost;
    ++next;
    next_cost_known = false;
    return job;
  };

  auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      may_start.wait(lock, [&] { return stop || next >= count || can_start(); });
      if (stop || next >= count) return;
      const int job = claim();
      if (can_start()) may_start.notify_one();
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
      std::uint64_t held = slot.cost;
      try {
        if (plan.held_cost) held = plan.held_cost(slot.result);
      } catch (...) {
        // Counted at its run cost, which is all that is known.
      }
      lock.lock();
      in_flight = in_flight - slot.cost + held;
      slot.cost = held;
      slot.ready = true;
      if (job == consumed) job_done.notify_one();
      // This worker looks for the next job itself at the top of the loop; a
      // second job that fits now is handed on when that one is claimed.
    }
  };

  std::vector<std::thread> threads;
  auto stop_and_join = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    halt.store(true);
    may_start.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
  };

  if (workers > 1) {
    try {
      threads.reserve(static_cast<std::size_t>(workers));
      for (int i = 0; i < workers; ++i) {
        threads.push_back(plan.start_thread ? plan.start_thread(work) : std::thread(work));
      }
    } catch (...) {
      // The system refused another thread (std::system_error) or the memory
      // for one (std::bad_alloc): the ones started do the work. Letting it
      // pass would destroy the started threads unjoined, which terminates.
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
          // Workers waiting to start a job need no flag of their own: the
          // merger stops them when it sees this one.
          if (cancelled()) throw ECancelled();
          if (slot.ready) break;
          job_done.wait_for(lock, kCancelPoll);
        }
      }
      consume(job, slot.result, !slot.error);
      if (slot.error) std::rethrow_exception(slot.error);
      slot.result = Result{};
      bool wake = false;
      {
        std::lock_guard lock(mutex);
        slot.ready = false;
        in_flight -= slot.cost;
        slot.cost = 0;
        ++consumed;
        wake = can_start();
      }
      if (wake) may_start.notify_one();
    }
  } catch (...) {
    stop_and_join();
    throw;
  }
  stop_and_join();
}

}  // namespace tallyfold::app_internal
