// Idle time from the X screen-saver extension, kept apart from Qt (X11 headers define macros
// that clash with Qt's names).
#pragma once

#include <cstdint>
#include <optional>

namespace zibu {

// Milliseconds since the last input anywhere on the display, or nothing when there is no X
// display with the extension.
std::optional<uint32_t> X11IdleMs();

}  // namespace zibu
