// The idle sources of the desktop platforms, and the choice among them at start-up.
#pragma once

#include <memory>

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

}  // namespace zibu
