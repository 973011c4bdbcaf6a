// How long the event loop went without handling a 20 ms timer, measured beside how long a plain
// thread overslept the same period. A thread of the test blocked on a download or a save shows as
// a gap that the plain thread does not see; a machine too busy to run either thread (a loaded
// test host) shows in both, and is not counted against the window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace zibu::test {

class EventGapProbe {
 public:
  static constexpr int kPeriodMs = 20;

  // `onTick` runs on the event loop at every tick, with the milliseconds since Start.
  explicit EventGapProbe(std::function<void(int64_t now)> onTick = {}) : onTick_(std::move(onTick)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const int64_t now = clock_.elapsed();
      if (measuring_ && last_ >= 0) longestGap_ = std::max<int64_t>(longestGap_, now - last_);
      last_ = now;
      if (onTick_) onTick_(now);
    });
  }
  ~EventGapProbe() { Stop(); }
  EventGapProbe(const EventGapProbe&) = delete;
  EventGapProbe& operator=(const EventGapProbe&) = delete;

  // Gaps count from the first tick, or only from Measure() on.
  void Start(bool measuring = true) {
    Stop();
    clock_.start();
    measuring_ = measuring;
    last_ = -1;
    longestGap_ = 0;
    longestStall_ = 0;
    timer_.start(kPeriodMs);
    running_ = true;
    reference_ = std::thread([this] {
      while (running_) {
        const auto before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(kPeriodMs));
        const int64_t slept = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - before)
                                  .count();
        if (measuring_) longestStall_ = std::max<int64_t>(longestStall_, slept - kPeriodMs);
      }
    });
  }
  // Gaps count from now on, and so do the reference thread's stalls (what came before was, say,
  // the one-off cost of building windows).
  void Measure() {
    longestStall_ = 0;
    longestGap_ = 0;
    last_ = clock_.elapsed();
    measuring_ = true;
  }
  // The time since the last tick counts as a gap too.
  void CountGapUntilNow() {
    if (measuring_ && last_ >= 0) longestGap_ = std::max<int64_t>(longestGap_, clock_.elapsed() - last_);
  }
  void Stop() {
    if (!running_) return;
    timer_.stop();
    running_ = false;
    reference_.join();
  }

  int64_t Elapsed() const { return clock_.elapsed(); }
  int64_t LongestGap() const { return longestGap_; }
  int64_t LongestStall() const { return longestStall_; }
  // The longest gap less what a stall of the whole machine explains.
  int64_t UnexplainedGap() const { return std::max<int64_t>(0, longestGap_ - longestStall_); }
  std::string Describe() const {
    return "the event loop stood still for " + std::to_string(longestGap_) + " ms; a plain thread overslept " +
           std::to_string(longestStall_) + " ms at most";
  }

 private:
  std::function<void(int64_t)> onTick_;
  QTimer timer_;
  QElapsedTimer clock_;
  std::atomic<bool> measuring_{true};
  int64_t last_ = 0;
  int64_t longestGap_ = 0;
  std::atomic<int64_t> longestStall_{0};
  std::atomic<bool> running_{false};
  std::thread reference_;
};

}  // namespace zibu::test
