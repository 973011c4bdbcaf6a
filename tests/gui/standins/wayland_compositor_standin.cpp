// A compositor that is nothing but a seat and an idle notifier, for the idle source's tests.
//
//   wayland_compositor_standin SOCKET [--no-notifier] [--no-seat]
//
// Listens on SOCKET in XDG_RUNTIME_DIR and prints "ready". Each idle notification a client asks
// for is printed as "notification TIMEOUT". Lines on standard input drive the seat: "idle" sends
// every notification "idled", "resume" sends "resumed", "quit" (or the end of input) ends it.
#include <unistd.h>
#include <wayland-server.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ext-idle-notify-v1-server-protocol.h"

namespace {

struct Compositor {
  wl_display* display = nullptr;
  std::vector<wl_resource*> notifications;
  std::string input;
};

Compositor gCompositor;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void IgnoreNewId(wl_client*, wl_resource*, uint32_t) {}
void DestroyResource(wl_client*, wl_resource* resource) {
  wl_resource_destroy(resource);
}

const struct wl_seat_interface kSeat = {IgnoreNewId, IgnoreNewId, IgnoreNewId, DestroyResource};

void BindSeat(wl_client* client, void*, uint32_t version, uint32_t id) {
  wl_resource* seat = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(seat, &kSeat, nullptr, nullptr);
  wl_seat_send_capabilities(seat, WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_POINTER);
}

const struct ext_idle_notification_v1_interface kNotification = {DestroyResource};

void ForgetNotification(wl_resource* resource) {
  auto& all = gCompositor.notifications;
  all.erase(std::remove(all.begin(), all.end(), resource), all.end());
}

void GetIdleNotification(wl_client* client, wl_resource* notifier, uint32_t id, uint32_t timeout, wl_resource*) {
  wl_resource* n =
      wl_resource_create(client, &ext_idle_notification_v1_interface, wl_resource_get_version(notifier), id);
  wl_resource_set_implementation(n, &kNotification, nullptr, ForgetNotification);
  gCompositor.notifications.push_back(n);
  Say("notification " + std::to_string(timeout));
}

const struct ext_idle_notifier_v1_interface kNotifier = {DestroyResource, GetIdleNotification};

void BindNotifier(wl_client* client, void*, uint32_t version, uint32_t id) {
  wl_resource* r = wl_resource_create(client, &ext_idle_notifier_v1_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(r, &kNotifier, nullptr, nullptr);
}

int OnInput(int fd, uint32_t, void*) {
  char buf[256];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n <= 0) {
    wl_display_terminate(gCompositor.display);
    return 0;
  }
  gCompositor.input.append(buf, static_cast<size_t>(n));
  size_t end;
  while ((end = gCompositor.input.find('\n')) != std::string::npos) {
    const std::string line = gCompositor.input.substr(0, end);
    gCompositor.input.erase(0, end + 1);
    for (wl_resource* r : gCompositor.notifications) {
      if (line == "idle") ext_idle_notification_v1_send_idled(r);
      if (line == "resume") ext_idle_notification_v1_send_resumed(r);
    }
    if (line == "quit") wl_display_terminate(gCompositor.display);
    wl_display_flush_clients(gCompositor.display);
    Say("done " + line);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SOCKET [--no-notifier] [--no-seat]\n", argv[0]);
    return 2;
  }
  bool notifier = true, seat = true;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-notifier") == 0) notifier = false;
    if (std::strcmp(argv[i], "--no-seat") == 0) seat = false;
  }
  gCompositor.display = wl_display_create();
  if (wl_display_add_socket(gCompositor.display, argv[1]) != 0) {
    std::fprintf(stderr, "cannot listen on %s\n", argv[1]);
    return 1;
  }
  if (seat) wl_global_create(gCompositor.display, &wl_seat_interface, 1, nullptr, BindSeat);
  if (notifier) wl_global_create(gCompositor.display, &ext_idle_notifier_v1_interface, 1, nullptr, BindNotifier);
  wl_event_loop_add_fd(wl_display_get_event_loop(gCompositor.display), STDIN_FILENO, WL_EVENT_READABLE, OnInput,
                       nullptr);
  Say("ready");
  wl_display_run(gCompositor.display);
  wl_display_destroy_clients(gCompositor.display);
  wl_display_destroy(gCompositor.display);
  return 0;
}
