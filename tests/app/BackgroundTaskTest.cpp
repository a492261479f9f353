// Tests of work on a thread of its own, the search command's above all: its
// outcome and progress, the call at its end, and cancelling it, by request
// and by destroying it.
#include "app/BackgroundTask.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/AppTestSupport.h"
#include "regex/RegexEngine.h"

namespace tallyfold::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class BackgroundTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(corpus_.c_str()), 0);
    WriteBytes(report_, "previous report");
    options_.folder = corpus_;
    options_.report_file = report_;
  }

  // Files whose lines each take the matcher a few milliseconds with the
  // catastrophic pattern: seconds in all.
  void WriteSlowCorpus() {
    for (int i = 0; i < 8; ++i) {
      std::string text;
      for (int line = 0; line < 300; ++line) text += std::string(16, 'a') + "\n";
      WriteBytes(corpus_ + kSlash + std::to_string(i) + ".txt", text);
    }
    options_.pattern_text = kCatastrophicPattern;
    options_.word_boundary = false;
  }

  // Waits until the search has listed the folder and started on a file.
  static void WaitUntilScanning(BackgroundTask& search) {
    const auto give_up = Clock::now() + std::chrono::seconds(30);
    while (search.CurrentProgress().total == 0 && Clock::now() < give_up) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_GT(search.CurrentProgress().total, 0);
  }

  // Cancels the running search and checks that it ends within the bound with
  // ECancelled. (The report a cancelled or failed search leaves is checked
  // with every other failure in FailedSearchTest.)
  void CancelAndExpectAPromptEnd(BackgroundTask& search, int threads) {
    const auto cancelled_at = Clock::now();
    search.Cancel();
    EXPECT_TRUE(search.WaitFor(kCancelBound)) << threads << " threads";
    EXPECT_LT(Clock::now() - cancelled_at, kCancelBound) << threads << " threads";
    EXPECT_THROW(search.Result(), ECancelled);
  }

  TempFolder root_;
  const std::string corpus_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
  SearchOptions options_;
  SearchLists lists_;
  SearchStats stats_;
};

TEST_F(BackgroundTaskTest, HandsBackTheStatisticsAndTheFinalProgress) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the cat\nthe dog\n");
  WriteBytes(corpus_ + kSlash + "b.txt", "no\n");
  options_.pattern_text = u"the";
  BackgroundTask search(SearchWork(options_, lists_, stats_));
  ASSERT_TRUE(search.WaitFor(std::chrono::seconds(30)));
  search.Result();
  EXPECT_EQ(stats_.files_scanned, 2);
  EXPECT_EQ(stats_.matching_lines, 2);
  const BackgroundTask::Progress progress = search.CurrentProgress();
  EXPECT_EQ(progress.done, 2);
  EXPECT_EQ(progress.total, 2);
  EXPECT_EQ(progress.current, "");
  EXPECT_NE(ReadBytes(report_), "previous report");
  EXPECT_EQ(testing::TextCells(ReadBytes(report_)).size(), 2u);
}

TEST_F(BackgroundTaskTest, ResultRaisesTheSearchsError) {
  WriteBytes(corpus_ + kSlash + "a.txt", "the cat\n");
  options_.pattern_text = u"ca(t";
  BackgroundTask search(SearchWork(options_, lists_, stats_));
  EXPECT_THROW(search.Result(), ERegexEngine);
  EXPECT_FALSE(search.CancelRequested());
}

// The search's work, held once it has told of its first file done, until it
// is cancelled: a cancel then always comes in the middle of the scan,
// however fast the machine. `held` is set when it waits.
BackgroundTask::Work HeldAfterTheFirstFile(BackgroundTask::Work work, std::atomic<bool>& held) {
  return [work = std::move(work), &held](const std::atomic<bool>& cancel,
                                         const BackgroundTask::Report& report) {
    work(cancel, [&](int done, int total, const std::string& current) {
      report(done, total, current);
      if (done < 1 || done == total) return;
      held.store(true);
      while (!cancel.load()) std::this_thread::sleep_for(milliseconds(1));
    });
  };
}

TEST_F(BackgroundTaskTest, CancelEndsTheSearchWithinTheBound) {
  WriteSlowCorpus();
  // Listed first and quick to scan: the search is held once it is done,
  // with the slow files being scanned or still to come.
  WriteBytes(corpus_ + kSlash + "-quick.txt", "a\n");
  for (const int threads : {1, 2}) {
    options_.threads = threads;
    std::atomic<bool> held{false};
    BackgroundTask search(HeldAfterTheFirstFile(SearchWork(options_, lists_, stats_), held));
    const auto give_up = Clock::now() + std::chrono::seconds(30);
    while (!held.load() && Clock::now() < give_up) std::this_thread::sleep_for(milliseconds(1));
    ASSERT_TRUE(held.load()) << "the search never finished a file";
    EXPECT_FALSE(search.WaitFor(milliseconds(0)));
    CancelAndExpectAPromptEnd(search, threads);
    EXPECT_EQ(ReadBytes(report_), "previous report");
  }
}

// One line of seconds of matching, which only the matcher's own look at the
// flag can cut short.
TEST_F(BackgroundTaskTest, CancelStopsALongBacktrackingMatch) {
  WriteBytes(corpus_ + kSlash + "a.txt", LongBacktrackingLine() + "\n");
  options_.pattern_text = kCatastrophicPattern;
  options_.word_boundary = false;
  for (const int threads : {1, 2}) {
    options_.threads = threads;
    BackgroundTask search(SearchWork(options_, lists_, stats_));
    WaitUntilScanning(search);
    std::this_thread::sleep_for(milliseconds(200));
    CancelAndExpectAPromptEnd(search, threads);
  }
}

TEST_F(BackgroundTaskTest, DestroyingARunningSearchCancelsIt) {
  WriteSlowCorpus();
  Clock::time_point destroyed_at;
  {
    BackgroundTask search(SearchWork(options_, lists_, stats_));
    WaitUntilScanning(search);
    destroyed_at = Clock::now();
  }
  EXPECT_LT(Clock::now() - destroyed_at, kCancelBound);
  EXPECT_EQ(ReadBytes(report_), "previous report");
}

// Any work: its progress is read while it runs, and the call at its end
// comes once WaitFor would say so, on the task's own thread.
TEST(BackgroundTask, RunsAnyWorkAndCallsBackAtItsEnd) {
  std::atomic<bool> go{false};
  std::atomic<bool> ended_seen{false};
  std::thread::id ended_on;
  BackgroundTask* self = nullptr;
  BackgroundTask task(
      [&](const std::atomic<bool>&, const BackgroundTask::Report& report) {
        report(1, 2, "half");
        while (!go.load()) std::this_thread::sleep_for(milliseconds(1));
        throw Exception("given up");
      },
      [&] {
        ended_on = std::this_thread::get_id();
        ended_seen.store(self->WaitFor(milliseconds(0)));
      });
  self = &task;
  while (task.CurrentProgress().done == 0) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_EQ(task.CurrentProgress().current, "half");
  EXPECT_FALSE(task.WaitFor(milliseconds(0)));
  go.store(true);
  EXPECT_THROW(task.Result(), Exception);
  EXPECT_TRUE(ended_seen.load());
  EXPECT_NE(ended_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace tallyfold::testing
