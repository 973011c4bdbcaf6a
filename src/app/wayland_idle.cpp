#include "app/wayland_idle.h"

#include <chrono>

#ifdef ZIBU_HAVE_WAYLAND_IDLE
#include <poll.h>
#include <wayland-client.h>

#include <QSocketNotifier>
#include <cstring>

#include "ext-idle-notify-v1-client-protocol.h"
#endif

namespace zibu {

namespace {

[[maybe_unused]] int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void IdleNotificationClock::Idled(int64_t nowMs) {
  if (idledAt_ < 0) idledAt_ = nowMs;
}

void IdleNotificationClock::Resumed() {
  idledAt_ = -1;
}

uint32_t IdleNotificationClock::IdleMs(int64_t nowMs) const {
  if (idledAt_ < 0) return 0;
  const int64_t ms = static_cast<int64_t>(timeoutMs_) + (nowMs > idledAt_ ? nowMs - idledAt_ : 0);
  return ms > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

#ifdef ZIBU_HAVE_WAYLAND_IDLE

struct WaylandIdleNotifySource::Connection {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  ext_idle_notifier_v1* notifier = nullptr;
  ext_idle_notification_v1* notification = nullptr;
  std::unique_ptr<QSocketNotifier> readable;
  IdleNotificationClock clock{kTimeoutMs};

  ~Connection() {
    readable.reset();
    if (notification) ext_idle_notification_v1_destroy(notification);
    if (notifier) ext_idle_notifier_v1_destroy(notifier);
    if (seat) wl_seat_destroy(seat);
    if (registry) wl_registry_destroy(registry);
    if (display) {
      wl_display_flush(display);
      wl_display_disconnect(display);
    }
  }

  bool Broken() const { return wl_display_get_error(display) != 0; }

  // Reads and handles whatever the compositor has sent, without waiting for more.
  void Pump() {
    if (Broken()) return;
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return;
    }
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      wl_display_read_events(display);
    } else {
      wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
    if (Broken() && readable) readable->setEnabled(false);
  }

  static void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* c = static_cast<Connection*>(data);
    if (!c->notifier && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
      c->notifier =
          static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (!c->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
      c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
  }
  static void GlobalRemove(void*, wl_registry*, uint32_t) {}
  static void OnIdled(void* data, ext_idle_notification_v1*) {
    static_cast<Connection*>(data)->clock.Idled(SteadyMs());
  }
  static void OnResumed(void* data, ext_idle_notification_v1*) { static_cast<Connection*>(data)->clock.Resumed(); }
};

namespace {

const wl_registry_listener kRegistryListener = {&WaylandIdleNotifySource::Connection::Global,
                                                &WaylandIdleNotifySource::Connection::GlobalRemove};
const ext_idle_notification_v1_listener kNotificationListener = {&WaylandIdleNotifySource::Connection::OnIdled,
                                                                 &WaylandIdleNotifySource::Connection::OnResumed};

}  // namespace

std::unique_ptr<WaylandIdleNotifySource> WaylandIdleNotifySource::Open(const char* display) {
  auto c = std::make_unique<Connection>();
  c->display = wl_display_connect(display);
  if (!c->display) return nullptr;
  c->registry = wl_display_get_registry(c->display);
  wl_registry_add_listener(c->registry, &kRegistryListener, c.get());
  // The globals all come before the answer to this round trip.
  if (wl_display_roundtrip(c->display) < 0 || !c->notifier || !c->seat) return nullptr;
  c->notification = ext_idle_notifier_v1_get_idle_notification(c->notifier, kTimeoutMs, c->seat);
  ext_idle_notification_v1_add_listener(c->notification, &kNotificationListener, c.get());
  if (wl_display_roundtrip(c->display) < 0) return nullptr;
  Connection* raw = c.get();
  c->readable = std::make_unique<QSocketNotifier>(wl_display_get_fd(c->display), QSocketNotifier::Read);
  QObject::connect(c->readable.get(), &QSocketNotifier::activated, [raw] { raw->Pump(); });
  return std::unique_ptr<WaylandIdleNotifySource>(new WaylandIdleNotifySource(std::move(c)));
}

uint32_t WaylandIdleNotifySource::IdleMs() const {
  c_->Pump();
  if (c_->Broken()) return 0;
  return c_->clock.IdleMs(SteadyMs());
}

#else

struct WaylandIdleNotifySource::Connection {};

std::unique_ptr<WaylandIdleNotifySource> WaylandIdleNotifySource::Open(const char*) {
  return nullptr;
}

uint32_t WaylandIdleNotifySource::IdleMs() const {
  return 0;
}

#endif

WaylandIdleNotifySource::WaylandIdleNotifySource(std::unique_ptr<Connection> c) : c_(std::move(c)) {}
WaylandIdleNotifySource::~WaylandIdleNotifySource() = default;

}  // namespace zibu
