// Tests of the ordered worker pool behind the corpus scan: results in job
// order whatever order the workers finish in, the bounds on results held and
// on their cost, the first failure in job order, stopping, and workers that
// cannot be started.
#include "app/OrderedWork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/AppTestSupport.h"

namespace tallyfold::app_internal {
namespace {

using std::chrono::microseconds;

// A job's result: the number of the job that made it, and what it costs
// the budget while it waits to be consumed.
struct Job {
  int number = -1;
  std::uint64_t held = 0;
};

void KeepMax(std::atomic<int>& peak, int value) {
  int seen = peak.load();
  while (value > seen && !peak.compare_exchange_weak(seen, value)) {
  }
}

// Tracks the jobs that have begun but are not yet consumed, and the most
// there ever were; the same for jobs running at once.
struct Census {
  std::atomic<int> held{0};
  std::atomic<int> max_held{0};
  std::atomic<int> running{0};
  std::atomic<int> max_running{0};

  static void Raise(std::atomic<int>& value, std::atomic<int>& peak) { KeepMax(peak, ++value); }
};

TEST(RunInOrder, ConsumesEveryJobInOrderAndHoldsAtMostTheWindow) {
  struct Setting {
    int jobs, workers, window;
  };
  for (const Setting setting : {Setting{200, 4, 8}, Setting{50, 3, 3}, Setting{7, 8, 16},
                                Setting{1, 2, 4}, Setting{0, 4, 8}, Setting{30, 1, 1}}) {
    Census census;
    std::vector<int> order;
    RunInOrder<Job>(
        setting.jobs, {.workers = setting.workers, .window = setting.window}, nullptr,
        [&](int i, Job& job, const std::atomic<bool>*) {
          Census::Raise(census.held, census.max_held);
          Census::Raise(census.running, census.max_running);
          // Uneven durations, so that workers finish out of order.
          std::mt19937 random(static_cast<unsigned>(i));
          std::this_thread::sleep_for(microseconds(random() % 2000));
          job.number = i;
          --census.running;
        },
        [&](int i, Job& job, bool complete) {
          EXPECT_TRUE(complete);
          EXPECT_EQ(job.number, i);
          order.push_back(i);
          --census.held;
        });
    std::vector<int> expected(static_cast<std::size_t>(setting.jobs));
    for (int i = 0; i < setting.jobs; ++i) expected[static_cast<std::size_t>(i)] = i;
    const std::string label = std::to_string(setting.jobs) + " jobs, " +
                              std::to_string(setting.workers) + " workers";
    EXPECT_EQ(order, expected) << label;
    EXPECT_LE(census.max_held.load(), std::max(setting.window, 1)) << label;
    EXPECT_LE(census.max_running.load(), setting.workers) << label;
  }
}

// Job 5 fails late; job 7 fails at once and job 9 later still. Whatever the
// timing, the run reports job 5's failure after consuming jobs 0 to 5 (5 as
// incomplete, with what it produced before failing) and nothing after it.
TEST(RunInOrder, TheFirstFailureInJobOrderWinsAndNothingLaterIsConsumed) {
  for (const int workers : {1, 2, 4}) {
    const int window = 2 * workers;
    std::vector<std::pair<int, bool>> consumed;
    std::atomic<int> late_started{0};
    std::atomic<int> late_stopped{0};
    std::atomic<int> last_started{0};
    try {
      RunInOrder<Job>(
          40, {.workers = workers, .window = window}, nullptr,
          [&](int i, Job& job, const std::atomic<bool>* stop) {
            job.number = i;
            KeepMax(last_started, i);
            if (i == 5) {
              std::this_thread::sleep_for(std::chrono::milliseconds(30));
              throw std::runtime_error("job 5");
            }
            if (i == 7) throw std::runtime_error("job 7");
            if (i == 9) throw std::runtime_error("job 9");
            if (i > 9 && stop != nullptr) {
              // Jobs still running when the run gives up are told to stop.
              ++late_started;
              // Two seconds by the clock: a short sleep may take no time at
              // all where the system's timer is coarse (Windows).
              const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
              while (!stop->load() && std::chrono::steady_clock::now() < give_up) {
                std::this_thread::sleep_for(microseconds(100));
              }
              if (stop->load()) ++late_stopped;
            }
          },
          [&](int i, Job& job, bool complete) {
            EXPECT_EQ(job.number, i);
            consumed.emplace_back(i, complete);
          });
      ADD_FAILURE() << "no failure reported with " << workers << " workers";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "job 5") << workers << " workers";
    }
    const std::vector<std::pair<int, bool>> expected = {{0, true}, {1, true}, {2, true},
                                                        {3, true}, {4, true}, {5, false}};
    EXPECT_EQ(consumed, expected) << workers << " workers";
    EXPECT_EQ(late_stopped.load(), late_started.load()) << workers << " workers";
    EXPECT_LT(last_started.load(), 5 + window) << "no job starts beyond the window";
  }
}

// The caller's cancel flag ends the run with ECancelled; jobs that are
// running see their stop flag set, so a job that only ends when told to
// stop does end.
TEST(RunInOrder, CancelStopsRunningJobsAndRaisesECancelled) {
  for (const int workers : {1, 3}) {
    std::atomic<bool> cancel{false};
    std::atomic<int> started{0};
    std::vector<int> consumed;
    std::thread canceller([&] {
      while (started.load() < 3) std::this_thread::sleep_for(microseconds(200));
      cancel = true;
    });
    EXPECT_THROW(RunInOrder<Job>(
                     100, {.workers = workers, .window = 2 * workers}, &cancel,
                     [&](int i, Job& job, const std::atomic<bool>* stop) {
                       job.number = i;
                       ++started;
                       if (i < 2) return;
                       // Runs until told to stop, like a match that never ends.
                       while (!stop->load()) std::this_thread::sleep_for(microseconds(100));
                       throw ECancelled();
                     },
                     [&](int i, Job&, bool) { consumed.push_back(i); }),
                 ECancelled)
        << workers << " workers";
    canceller.join();
    // What was consumed is a prefix of jobs 0 to 2, in order: the merger may
    // see the flag before it gets to jobs 0 and 1, and one thread hands over
    // what job 2 made before it stopped, as it does for a failure.
    const std::vector<int> most = {0, 1, 2};
    ASSERT_LE(consumed.size(), most.size()) << workers << " workers";
    EXPECT_TRUE(std::equal(consumed.begin(), consumed.end(), most.begin()))
        << workers << " workers";
  }
}

// A worker that cannot be started, whatever the reason, is one worker
// fewer: the run goes on with the ones started, or on the calling thread
// when there are none, and never ends the process.
TEST(RunInOrder, AWorkerThatCannotStartMeansOneWorkerFewer) {
  enum class Refusal { kMemory, kSystem, kOther };
  for (const Refusal refusal : {Refusal::kMemory, Refusal::kSystem, Refusal::kOther}) {
    for (const int startable : {0, 1, 3}) {
      const std::string label = "refusal " + std::to_string(static_cast<int>(refusal)) +
                                " after " + std::to_string(startable) + " workers";
      int calls = 0;
      RunPlan<Job> plan{.workers = 6, .window = 12};
      plan.start_thread = [&](std::function<void()> work) {
        if (calls++ == startable) {
          switch (refusal) {
            case Refusal::kMemory: throw std::bad_alloc();
            case Refusal::kSystem:
              throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            case Refusal::kOther: throw std::runtime_error("no thread");
          }
        }
        return std::thread(std::move(work));
      };
      std::mutex mutex;
      std::set<std::thread::id> ran_on;
      std::vector<int> order;
      RunInOrder<Job>(
          30, plan, nullptr,
          [&](int i, Job& job, const std::atomic<bool>*) {
            {
              std::lock_guard lock(mutex);
              ran_on.insert(std::this_thread::get_id());
            }
            std::this_thread::sleep_for(microseconds(200));
            job.number = i;
          },
          [&](int i, Job& job, bool complete) {
            EXPECT_TRUE(complete) << label;
            EXPECT_EQ(job.number, i) << label;
            order.push_back(i);
          });
      ASSERT_EQ(order.size(), 30u) << label;
      EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << label;
      if (startable == 0) {
        EXPECT_EQ(ran_on, std::set<std::thread::id>{std::this_thread::get_id()}) << label;
      } else {
        EXPECT_EQ(ran_on.count(std::this_thread::get_id()), 0u) << label;
        EXPECT_LE(ran_on.size(), static_cast<std::size_t>(startable)) << label;
      }
    }
  }
}

// The costs of the jobs in flight as the jobs themselves see them: a job
// adds its run cost when it begins, swaps it for its result's held cost
// when it ends, and takes that away when it is consumed. RunInOrder counts
// a job from before it begins until after it is consumed, so with held
// costs no larger than run costs these sums never exceed its own.
class Ledger {
 public:
  void Change(std::uint64_t take, std::uint64_t add, int jobs) {
    std::lock_guard lock(mutex_);
    cost_ = cost_ - take + add;
    jobs_ += jobs;
    if (jobs_ > 1) most_shared_ = std::max(most_shared_, cost_);
    most_jobs_ = std::max(most_jobs_, jobs_);
  }
  // The most cost in flight while more than one job was.
  std::uint64_t MostShared() const { return most_shared_; }
  int MostJobs() const { return most_jobs_; }

 private:
  std::mutex mutex_;
  std::uint64_t cost_ = 0;
  int jobs_ = 0;
  std::uint64_t most_shared_ = 0;
  int most_jobs_ = 0;
};

// However many workers there are, a job starts only while its cost fits
// beside the jobs in flight; a job over the whole budget still runs, alone,
// and every result arrives in order.
TEST(RunInOrder, TheCostInFlightStaysWithinTheBudgetWhateverTheWorkers) {
  constexpr std::uint64_t kBudget = 100;
  constexpr int kJobs = 200;
  // Mostly jobs of which a few fit together, every 23rd one over budget.
  auto mixed = [](int i) -> std::uint64_t {
    return i % 23 == 5 ? 250 : std::mt19937(static_cast<unsigned>(i))() % 61;
  };
  auto all_over = [](int) -> std::uint64_t { return 1000; };
  for (const bool over : {false, true}) {
    for (const int workers : {2, 8, 64}) {
      const std::string label =
          std::string(over ? "all over budget, " : "mixed, ") + std::to_string(workers) + " workers";
      const std::function<std::uint64_t(int)> cost =
          over ? std::function<std::uint64_t(int)>(all_over) : mixed;
      const RunPlan<Job> plan{.workers = workers,
                              .window = 2 * workers,
                              .budget = kBudget,
                              .run_cost = cost,
                              .held_cost = [](const Job& job) { return job.held; }};
      Ledger ledger;
      std::vector<int> order;
      RunInOrder<Job>(
          kJobs, plan, nullptr,
          [&](int i, Job& job, const std::atomic<bool>*) {
            ledger.Change(0, cost(i), 1);
            std::mt19937 random(static_cast<unsigned>(i));
            std::this_thread::sleep_for(microseconds(random() % 300));
            job.number = i;
            job.held = cost(i) / 2;
            ledger.Change(cost(i), job.held, 0);
          },
          [&](int i, Job& job, bool complete) {
            EXPECT_TRUE(complete) << label;
            EXPECT_EQ(job.number, i) << label;
            order.push_back(i);
            ledger.Change(job.held, 0, -1);
          });
      ASSERT_EQ(order.size(), static_cast<std::size_t>(kJobs)) << label;
      EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << label;
      EXPECT_LE(ledger.MostShared(), kBudget) << label;
      if (over) {
        EXPECT_EQ(ledger.MostJobs(), 1) << label;
      } else {
        EXPECT_GE(ledger.MostJobs(), 2) << label << ": jobs that fit side by side ran alone";
      }
    }
  }
}

// Workers waiting for room in the budget hold up no cancel: the merger sees
// the flag, stops the job that runs, and the run ends at once.
TEST(RunInOrder, CancelWhileWorkersWaitForTheBudgetIsPrompt) {
  std::atomic<bool> cancel{false};
  std::atomic<int> started{0};
  // Any two jobs together are over the budget, so one runs and three
  // workers wait.
  const RunPlan<Job> plan{
      .workers = 4, .window = 8, .budget = 100, .run_cost = [](int) { return 80; }};
  std::chrono::steady_clock::time_point cancelled_at;
  std::thread canceller([&] {
    while (started.load() == 0) std::this_thread::sleep_for(microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancelled_at = std::chrono::steady_clock::now();
    cancel = true;
  });
  EXPECT_THROW(RunInOrder<Job>(
                   10, plan, &cancel,
                   [&](int, Job&, const std::atomic<bool>* stop) {
                     ++started;
                     while (!stop->load()) std::this_thread::sleep_for(microseconds(100));
                     throw ECancelled();
                   },
                   [](int, Job&, bool) {}),
               ECancelled);
  const auto ended_at = std::chrono::steady_clock::now();
  canceller.join();
  EXPECT_LT(ended_at - cancelled_at, testing::kCancelBound);
  EXPECT_EQ(started.load(), 1) << "a job started beside one that leaves no room for it";
}

}  // namespace
}  // namespace tallyfold::app_internal
