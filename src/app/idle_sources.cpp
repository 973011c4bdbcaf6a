#include "app/idle_sources.h"

#include <cstdlib>
#include <string_view>

#include <QDBusMessage>
#include <QDBusReply>

#include "app/x11_idle.h"
#include "ui/program_services.h"

namespace zibu {

namespace {

// A busy service must not hold up the thread that asks.
constexpr int kCallTimeoutMs = 250;

struct ServiceAddress {
  const char* service;
  const char* path;
  const char* interface;
  const char* method;
  const char* name;
};

ServiceAddress AddressOf(DBusIdleSource::Service service) {
  if (service == DBusIdleSource::Service::MutterIdleMonitor)
    return {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
            "org.gnome.Mutter.IdleMonitor", "GetIdletime",
            "GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)"};
  return {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
          "GetSessionIdleTime", "the desktop's screen saver service (org.freedesktop.ScreenSaver)"};
}

}  // namespace

std::unique_ptr<X11ScreenSaverIdleSource> X11ScreenSaverIdleSource::Open() {
  if (!X11IdleMs()) return nullptr;
  return std::make_unique<X11ScreenSaverIdleSource>();
}

uint32_t X11ScreenSaverIdleSource::IdleMs() const {
  // A display that stops answering counts as no input since.
  return X11IdleMs().value_or(0);
}

std::unique_ptr<DBusIdleSource> DBusIdleSource::Open(Service service, const QDBusConnection& bus) {
  if (!bus.isConnected()) return nullptr;
  std::unique_ptr<DBusIdleSource> source(new DBusIdleSource(service, bus));
  if (source->Ask() < 0) return nullptr;
  return source;
}

int64_t DBusIdleSource::Ask() const {
  const ServiceAddress a = AddressOf(service_);
  const QDBusMessage call = QDBusMessage::createMethodCall(a.service, a.path, a.interface, a.method);
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
  // Only an unsigned number is an answer; a service that answers something else is not the one
  // asked for.
  const QVariant answer = reply.arguments().front();
  const int type = answer.metaType().id();
  if (type != QMetaType::UInt && type != QMetaType::ULongLong) return -1;
  const qulonglong ms = answer.toULongLong();
  return static_cast<int64_t>(ms > 0xFFFFFFFFull ? 0xFFFFFFFFull : ms);
}

uint32_t DBusIdleSource::IdleMs() const {
  // A service that stops answering counts as input just now: better a scan that waits than one
  // that runs while the user types.
  const int64_t ms = Ask();
  return ms < 0 ? 0 : static_cast<uint32_t>(ms);
}

std::string DBusIdleSource::Name() const {
  return AddressOf(service_).name;
}

namespace {

bool IsWayland(const std::string& platform) {
  // Qt names its Wayland platforms "wayland", "wayland-egl", ...
  return platform.rfind("wayland", 0) == 0;
}

}  // namespace

bool IsWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display && *display) || (type && std::string_view(type) == "wayland");
}

IdleSourceKind ChooseIdleSource(const IdleSourceOffer& offer) {
  const bool x11 = offer.platform == "xcb" && offer.x11ScreenSaver;
  if (x11 && !offer.waylandSession) return IdleSourceKind::X11ScreenSaver;
  if (IsWayland(offer.platform) && offer.waylandIdleNotify) return IdleSourceKind::WaylandIdleNotify;
  if (offer.mutterIdleMonitor) return IdleSourceKind::MutterIdleMonitor;
  if (offer.freedesktopScreenSaver) return IdleSourceKind::FreedesktopScreenSaver;
  if (x11) return IdleSourceKind::X11ScreenSaver;  // an Xwayland's
  return IdleSourceKind::OwnWindows;
}

ChosenIdleSource OpenIdleSource(const std::string& platform, const QDBusConnection& bus,
                                const IdleSourceOpeners& openers) {
  // Each source is looked for only while no better one has been found, so start-up asks no
  // service it will not use.
  IdleSourceOffer offer;
  offer.platform = platform;
  offer.waylandSession = openers.waylandSession && openers.waylandSession();
  std::unique_ptr<IdleSource> x11, wayland, mutter, screenSaver;
  if (platform == "xcb" && openers.x11ScreenSaver) x11 = openers.x11ScreenSaver();
  offer.x11ScreenSaver = x11 != nullptr;
  if (IsWayland(platform) && openers.waylandIdleNotify) wayland = openers.waylandIdleNotify();
  offer.waylandIdleNotify = wayland != nullptr;
  // Whether a service of the bus could still beat what was found: only the program's own
  // windows, or an Xwayland's X extension, can be beaten.
  const auto servicesCouldBeBetter = [&offer] {
    const IdleSourceKind kind = ChooseIdleSource(offer);
    return kind == IdleSourceKind::OwnWindows ||
           (kind == IdleSourceKind::X11ScreenSaver && offer.waylandSession);
  };
  if (servicesCouldBeBetter()) {
    mutter = DBusIdleSource::Open(DBusIdleSource::Service::MutterIdleMonitor, bus);
    offer.mutterIdleMonitor = mutter != nullptr;
  }
  if (servicesCouldBeBetter()) {
    screenSaver = DBusIdleSource::Open(DBusIdleSource::Service::FreedesktopScreenSaver, bus);
    offer.freedesktopScreenSaver = screenSaver != nullptr;
  }
  ChosenIdleSource chosen;
  chosen.kind = ChooseIdleSource(offer);
  switch (chosen.kind) {
    case IdleSourceKind::X11ScreenSaver:
      chosen.source = std::move(x11);
      break;
    case IdleSourceKind::WaylandIdleNotify:
      chosen.source = std::move(wayland);
      break;
    case IdleSourceKind::MutterIdleMonitor:
      chosen.source = std::move(mutter);
      break;
    case IdleSourceKind::FreedesktopScreenSaver:
      chosen.source = std::move(screenSaver);
      break;
    case IdleSourceKind::OwnWindows:
      chosen.source = std::make_unique<AppInputIdleSource>();
      chosen.logLine =
          "Warning: idle time is only known for Zibu's own windows, so scheduled scans and page reloads "
          "may run while you work in other programs";
      return chosen;
  }
  chosen.logLine = "Idle time comes from " + chosen.source->Name();
  if (chosen.kind == IdleSourceKind::X11ScreenSaver && offer.waylandSession)
    chosen.logLine =
        "Warning: idle time comes from the X screen-saver extension of Xwayland, which sees only input to "
        "X11 programs, so scheduled scans and page reloads may run while you work in other programs";
  return chosen;
}

}  // namespace zibu
