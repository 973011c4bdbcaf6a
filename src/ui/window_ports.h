// The small interfaces through which windows reach each other. The main frame implements
// FramePort, the feeds session ScanControl (common/ports.h); the frame hands them to every window
// it creates, so no window needs the frame's header or a peer window's.
#pragma once

#include <string>

#include "common/global_settings.h"
#include "common/ports.h"

namespace zibu {

// What the frame offers its windows: the global settings (the proxy among them), bringing the
// program to the user's attention, and the single-article window after such an alert.
class FramePort : public PageFoundPort {
 public:
  virtual const GlobalSettings& Settings() const = 0;
  // `reason` and `title` say what the alert is about (a notification shows them).
  virtual void AlertUser(const std::string& reason, const std::string& title) = 0;
};

}  // namespace zibu
