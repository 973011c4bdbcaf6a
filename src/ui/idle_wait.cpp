#include "ui/idle_wait.h"

#include <QTimer>

#include "common/ports.h"

namespace zibu {

IdleWait::IdleWait(const Clock& clock, std::function<bool()> abandon, QObject* parent, int pollMs)
    : QObject(parent), clock_(clock), abandon_(std::move(abandon)), timer_(new QTimer(this)) {
  timer_->setInterval(pollMs);
  connect(timer_, &QTimer::timeout, this, [this] { Poll(); });
}

void IdleWait::Start(int64_t requiredMs, std::function<void()> then) {
  requiredMs_ = requiredMs;
  then_ = std::move(then);
  timer_->stop();
  Poll();
  if (then_) timer_->start();
}

void IdleWait::Cancel() {
  timer_->stop();
  then_ = nullptr;
}

bool IdleWait::Waiting() const {
  return static_cast<bool>(then_);
}

void IdleWait::Poll() {
  if (!then_) return;
  if (abandon_ && abandon_()) {
    Cancel();
    return;
  }
  if (requiredMs_ > static_cast<int64_t>(clock_.IdleMs())) return;
  timer_->stop();
  // The work may start another wait.
  std::function<void()> then = std::move(then_);
  then_ = nullptr;
  then();
}

}  // namespace zibu
