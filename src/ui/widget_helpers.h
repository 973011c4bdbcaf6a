// Small helpers every window shares: the busy cursor, forcing a window to the front, and grid
// row deletion.
#pragma once

class QTableWidget;
class QWidget;

namespace zibu {

// The busy cursor for the life of the object, restored on every exit.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Restores a minimised window, raises and activates it; returns whether it is now active.
bool ForceForeground(QWidget* window);

// Moves every row below `row` up by one and drops the last row. A row out of range is ignored.
void DeleteGridRow(QTableWidget* grid, int row);

}  // namespace zibu
