// Idle time from a Wayland compositor's idle notifications (the ext-idle-notify-v1 protocol).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ports.h"

namespace zibu {

// The protocol does not tell the idle time; it tells when the seat has had no input for a
// timeout of the client's choosing ("idled") and when input came again ("resumed"). This turns
// one notification's events into an idle time: 0 until "idled", then the timeout plus the time
// since "idled". So the idle time has the timeout as its granularity: below it, nothing is
// known and 0 is said, which can only make a wait longer, never let a scan run during input.
class IdleNotificationClock {
 public:
  explicit IdleNotificationClock(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}
  void Idled(int64_t nowMs);
  void Resumed();
  // The idle time at `nowMs` (a steady clock's milliseconds, as given to Idled).
  uint32_t IdleMs(int64_t nowMs) const;
  uint32_t TimeoutMs() const { return timeoutMs_; }

 private:
  uint32_t timeoutMs_;
  int64_t idledAt_ = -1;  // -1: not idle
};

// A connection of its own to the compositor, with one idle notification on the first seat.
// Events are read as they come while the application's event loop runs, and whenever the idle
// time is asked, so an "idled" is seen at the latest when the idle time is next asked for.
class WaylandIdleNotifySource : public IdleSource {
 public:
  // The notification's timeout: the finest idle time the source can tell.
  static constexpr uint32_t kTimeoutMs = 1000;
  // Null when the compositor (`display`, or WAYLAND_DISPLAY's when null) cannot be reached or
  // offers no idle notifier or no seat, and always when the program was built without Wayland.
  static std::unique_ptr<WaylandIdleNotifySource> Open(const char* display = nullptr);
  ~WaylandIdleNotifySource() override;
  // A lost connection counts as input just now.
  uint32_t IdleMs() const override;
  std::string Name() const override { return "the compositor's idle notifications (ext-idle-notify-v1)"; }

  struct Connection;

 private:
  explicit WaylandIdleNotifySource(std::unique_ptr<Connection> c);
  std::unique_ptr<Connection> c_;
};

}  // namespace zibu
