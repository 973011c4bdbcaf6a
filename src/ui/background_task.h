// One piece of blocking work (a download) on a worker thread whose outcome comes back to the
// user-interface thread as an event, so nothing there waits for it.
#pragma once

#include <QObject>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zibu {

class BackgroundTask : public QObject {
 public:
  using Work = std::function<std::string(const std::atomic<bool>& cancel)>;
  // The work's result, or the error it raised (then the result is empty).
  using Done = std::function<void(std::string result, std::exception_ptr error)>;

  explicit BackgroundTask(QObject* parent = nullptr) : QObject(parent) {}
  // Cancels work still running and waits for its thread; its `done` never runs then.
  ~BackgroundTask() override;
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Runs `work` on a worker; `done` runs later on this object's thread, from its event loop.
  // One task at a time: false (and nothing started) while one is running.
  bool Start(Work work, Done done);
  // Turns the flag handed to the running work true; the work is expected to end early.
  void Cancel();
  bool Running() const { return running_; }

 private:
  void Finish();

  struct Outcome {
    std::atomic<bool> cancel{false};
    std::string result;
    std::exception_ptr error;
  };
  std::shared_ptr<Outcome> outcome_;
  std::thread worker_;
  Done done_;
  bool running_ = false;
};

}  // namespace zibu
