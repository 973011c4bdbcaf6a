#include "app/x11_idle.h"

#include <cstdlib>
#include <mutex>

#ifdef ZIBU_HAVE_XSS
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#endif

namespace zibu {

#ifdef ZIBU_HAVE_XSS
namespace {

// One connection of our own, opened on first use; nullptr when the display or the
// extension is missing (then the in-program fallback is used).
struct XssConnection {
  Display* display = nullptr;
  XScreenSaverInfo* info = nullptr;

  XssConnection() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return;
    display = XOpenDisplay(name);
    if (!display) return;
    int eventBase = 0, errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
      XCloseDisplay(display);
      display = nullptr;
      return;
    }
    info = XScreenSaverAllocInfo();
  }
};

}  // namespace

std::optional<uint32_t> X11IdleMs() {
  static XssConnection* conn = new XssConnection();
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  if (!conn->display || !conn->info) return std::nullopt;
  if (!XScreenSaverQueryInfo(conn->display, DefaultRootWindow(conn->display), conn->info))
    return std::nullopt;
  return static_cast<uint32_t>(conn->info->idle);
}

#else

std::optional<uint32_t> X11IdleMs() {
  return std::nullopt;
}

#endif

}  // namespace zibu
