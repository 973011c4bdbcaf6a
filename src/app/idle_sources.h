// The idle sources of the desktop platforms, and the choice among them at start-up.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/wayland_idle.h"
#include "common/ports.h"

namespace zibu {

// The X screen-saver extension of the display DISPLAY names: input anywhere on that display.
class X11ScreenSaverIdleSource : public IdleSource {
 public:
  // Null when there is no such display or it lacks the extension.
  static std::unique_ptr<X11ScreenSaverIdleSource> Open();
  uint32_t IdleMs() const override;
  std::string Name() const override { return "the X screen-saver extension"; }
};

// A desktop service asked over D-Bus for the session's idle time: GNOME's idle monitor
// (GetIdletime) or the screen saver service of KDE and others (GetSessionIdleTime).
class DBusIdleSource : public IdleSource {
 public:
  enum class Service { MutterIdleMonitor, FreedesktopScreenSaver };
  // Null when the service does not answer on `bus`.
  static std::unique_ptr<DBusIdleSource> Open(Service service, const QDBusConnection& bus);
  uint32_t IdleMs() const override;
  std::string Name() const override;

 private:
  DBusIdleSource(Service service, const QDBusConnection& bus) : service_(service), bus_(bus) {}
  // The idle time, or -1 when the service did not answer.
  int64_t Ask() const;

  Service service_;
  QDBusConnection bus_;
};

// Whether the desktop session is a Wayland one (WAYLAND_DISPLAY or XDG_SESSION_TYPE say so).
bool IsWaylandSession();

// What the desktop offers.
struct IdleSourceOffer {
  std::string platform;  // the toolkit's platform: "xcb", "wayland", "offscreen", ...
  // A Wayland session, whatever the platform: an X11 program there talks to an Xwayland.
  bool waylandSession = false;
  bool x11ScreenSaver = false;
  bool waylandIdleNotify = false;  // the compositor's ext-idle-notify-v1, with a seat
  bool mutterIdleMonitor = false;
  bool freedesktopScreenSaver = false;
};

enum class IdleSourceKind {
  X11ScreenSaver,
  WaylandIdleNotify,
  MutterIdleMonitor,
  FreedesktopScreenSaver,
  OwnWindows
};

// The X extension only on X11 (elsewhere DISPLAY names an Xwayland that sees only X11 windows'
// input), the compositor's idle notifications only on Wayland, then the desktop's D-Bus services
// (GNOME's compositor offers no idle notifications), and the program's own windows last. Drawn
// on X11 in a Wayland session, the X extension is an Xwayland's: behind the desktop's services,
// though still ahead of the program's own windows, as it sees every X11 program's input.
IdleSourceKind ChooseIdleSource(const IdleSourceOffer& offer);

// How start-up reaches the sources that do not live on the bus; each opener gives null when its
// source is not there. Tests hand in stand-ins.
struct IdleSourceOpeners {
  std::function<std::unique_ptr<IdleSource>()> x11ScreenSaver = [] { return X11ScreenSaverIdleSource::Open(); };
  std::function<std::unique_ptr<IdleSource>()> waylandIdleNotify = [] { return WaylandIdleNotifySource::Open(); };
  std::function<bool()> waylandSession = [] { return IsWaylandSession(); };
};

// The source chosen for `platform`, looking for the services on `bus`, with the status-log line
// that names it (a warning when only Zibu's own windows are watched). Only the sources the
// choice may take are opened. Needs a running application.
struct ChosenIdleSource {
  IdleSourceKind kind = IdleSourceKind::OwnWindows;
  std::unique_ptr<IdleSource> source;
  std::string logLine;
};
ChosenIdleSource OpenIdleSource(const std::string& platform, const QDBusConnection& bus,
                                const IdleSourceOpeners& openers = {});

}  // namespace zibu
