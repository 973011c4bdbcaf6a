// Waiting for the user to go idle without holding up the user-interface thread: the idle time is
// looked at on a timer, and the work that waits runs from there once the user has been idle long
// enough.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

class QTimer;

namespace zibu {

class Clock;

class IdleWait : public QObject {
 public:
  // `clock` gives the idle time; `abandon` (may be empty) ends a wait without its work, e.g. on
  // shutdown. `pollMs` is how often the idle time is looked at.
  IdleWait(const Clock& clock, std::function<bool()> abandon, QObject* parent = nullptr, int pollMs = 500);

  // Runs `then` once the user has been idle for `requiredMs` (at once when that is so already;
  // a negative requirement never waits). A wait already running is replaced.
  void Start(int64_t requiredMs, std::function<void()> then);
  void Cancel();
  bool Waiting() const;

 private:
  void Poll();

  const Clock& clock_;
  std::function<bool()> abandon_;
  QTimer* timer_;
  int64_t requiredMs_ = 0;
  std::function<void()> then_;
};

}  // namespace zibu
