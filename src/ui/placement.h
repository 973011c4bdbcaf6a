// Where a top-level window opens: wholly inside the available area of its screen (without panels
// and docks), so no part of it, its status log say, runs off the bottom of a small screen.
#pragma once

class QWidget;

namespace zibu {

// Room kept for the window manager's title bar and borders before the window is first shown.
inline constexpr int kFrameAllowanceTop = 32;
inline constexpr int kFrameAllowanceSides = 8;

// Shrinks the window (not below its minimum size) to fit the available area of the screen it is
// on, or the primary screen, and centres it there unless it already lies inside.
void PlaceInsideScreen(QWidget* window);

}  // namespace zibu
