// Internal to the tests of front ends: a TaskStarter whose work waits at a
// gate the test opens, so that what a test does to work in flight happens
// at a known point of it rather than whenever the threads happen to be.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "app/BackgroundTask.h"

namespace tallyfold::testing {

// Starts work as TaskStarter does, held while the gate is closed (until
// Open, or until the work is cancelled, which it then sees from its first
// look at the flag): before it begins, or, after HoldWhen, at the first
// progress it reports that the condition accepts. WaitUntilEnded blocks the caller, and
// so a window's event loop, until tasks have ended: a test can act after
// the work is done and before the window has taken its end.
class HeldTaskStarter : public TaskStarter {
 public:
  std::unique_ptr<BackgroundTask> Start(BackgroundTask::Work work,
                                        std::function<void()> ended) override {
    return std::make_unique<BackgroundTask>(
        [this, work = std::move(work), hold_when = hold_when_](
            const std::atomic<bool>& cancel, const BackgroundTask::Report& report) {
          if (!hold_when) {
            WaitAtGate(cancel);
            work(cancel, report);
            return;
          }
          bool held = false;
          work(cancel, [&](int done, int total, const std::string& current) {
            report(done, total, current);
            if (held || !hold_when(done, total)) return;
            held = true;
            WaitAtGate(cancel);
          });
        },
        [this, ended = std::move(ended)] {
          if (ended) ended();
          {
            std::lock_guard lock(mutex_);
            ++ended_;
          }
          changed_.notify_all();
        });
  }

  // Holds the work started from now on where it reports progress that
  // `when` accepts, rather than before it begins.
  void HoldWhen(std::function<bool(int done, int total)> when) { hold_when_ = std::move(when); }

  void Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

  // How many tasks have ended since this starter was made.
  int Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  void WaitUntilEnded(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_ >= count; });
  }

 private:
  void WaitAtGate(const std::atomic<bool>& cancel) {
    std::unique_lock lock(mutex_);
    // A cancel sets a flag, not this condition: it is looked at often.
    while (!open_ && !cancel.load())
      changed_.wait_for(lock, std::chrono::milliseconds(1));
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int ended_ = 0;
  std::function<bool(int, int)> hold_when_;
};

}  // namespace tallyfold::testing
