// What a screen reader is told about a window beyond what the toolkit works out by itself.
#pragma once

class QWidget;

namespace zibu {

// A top-level window that is a plain widget (not a dialog or main window) is announced as a
// "filler" panel; this makes it a frame like every other window of the program.
void AnnounceAsWindow(QWidget* window);

}  // namespace zibu
