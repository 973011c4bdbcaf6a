#include "ui/background_task.h"

#include <QMetaObject>

namespace zibu {

BackgroundTask::~BackgroundTask() {
  if (outcome_) outcome_->cancel = true;
  // The queued Finish dies with this object; the thread must not outlive what it posts to.
  if (worker_.joinable()) worker_.join();
}

bool BackgroundTask::Start(Work work, Done done) {
  if (running_) return false;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  done_ = std::move(done);
  outcome_ = std::make_shared<Outcome>();
  worker_ = std::thread([this, outcome = outcome_, work = std::move(work)] {
    try {
      outcome->result = work(outcome->cancel);
    } catch (...) {
      outcome->error = std::current_exception();
    }
    QMetaObject::invokeMethod(
        this, [this] { Finish(); }, Qt::QueuedConnection);
  });
  return true;
}

void BackgroundTask::Cancel() {
  if (running_ && outcome_) outcome_->cancel = true;
}

void BackgroundTask::Finish() {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  std::shared_ptr<Outcome> outcome = std::move(outcome_);
  Done done = std::move(done_);
  // `done` may start the next task or destroy this object's owner: nothing here runs after it.
  if (done) done(std::move(outcome->result), outcome->error);
}

}  // namespace zibu
