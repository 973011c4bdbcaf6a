#include "ui/widget_helpers.h"

#include <QApplication>
#include <QTableWidget>
#include <QWidget>
#include <QWindow>

namespace zibu {

BusyCursor::BusyCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}
BusyCursor::~BusyCursor() {
  QApplication::restoreOverrideCursor();
}

bool ForceForeground(QWidget* window) {
  if (!window) return false;
  if (window->isMinimized()) window->showNormal();
  if (window->isActiveWindow()) return true;
  window->show();
  window->raise();
  window->activateWindow();
  if (QWindow* handle = window->windowHandle()) handle->requestActivate();
  return window->isActiveWindow();
}

void DeleteGridRow(QTableWidget* grid, int row) {
  if (!grid || row < 0 || row >= grid->rowCount()) return;
  const int rows = grid->rowCount();
  const int cols = grid->columnCount();
  for (int r = row; r < rows - 1; ++r) {
    for (int c = 0; c < cols; ++c) {
      delete grid->takeItem(r, c);
      grid->setItem(r, c, grid->takeItem(r + 1, c));
    }
  }
  grid->setRowCount(rows - 1);
}

}  // namespace zibu
