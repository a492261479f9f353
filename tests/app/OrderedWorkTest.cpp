// Tests of the ordered worker pool behind the corpus scan: results in job
// order whatever order the workers finish in, the bound on results held at
// once, the first failure in job order, and stopping.
#include "app/OrderedWork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tallyfold::app_internal {
namespace {

using std::chrono::microseconds;

// A job's result: the number of the job that made it.
struct Job {
  int number = -1;
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
        setting.jobs, setting.workers, setting.window, nullptr,
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
          40, workers, window, nullptr,
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
              for (int wait = 0; wait < 20000 && !stop->load(); ++wait) {
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
                     100, workers, 2 * workers, &cancel,
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

}  // namespace
}  // namespace tallyfold::app_internal
