#include "ui/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace zibu {

void PlaceInsideScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  // Once shown, the frame is known; before that, allow for a usual one.
  const bool framed = window->isVisible();
  const QMargins frame =
      framed ? QMargins(window->geometry().left() - window->frameGeometry().left(),
                        window->geometry().top() - window->frameGeometry().top(),
                        window->frameGeometry().right() - window->geometry().right(),
                        window->frameGeometry().bottom() - window->geometry().bottom())
             : QMargins(kFrameAllowanceSides, kFrameAllowanceTop, kFrameAllowanceSides, kFrameAllowanceSides);
  const QRect room = area.marginsRemoved(frame);
  const QSize size(std::max(window->minimumWidth(), std::min(window->width(), room.width())),
                   std::max(window->minimumHeight(), std::min(window->height(), room.height())));
  if (size != window->size()) window->resize(size);
  QRect inner(window->pos() + QPoint(frame.left(), frame.top()), size);
  if (framed) inner.moveTopLeft(window->geometry().topLeft());
  if (room.contains(inner) && (framed || window->testAttribute(Qt::WA_Moved))) return;
  QRect centred(QPoint(0, 0), size);
  centred.moveCenter(room.center());
  centred.moveTop(std::max(room.top(), centred.top()));
  centred.moveLeft(std::max(room.left(), centred.left()));
  // move() places the frame's top left corner.
  window->move(centred.topLeft() - QPoint(frame.left(), frame.top()));
}

}  // namespace zibu
