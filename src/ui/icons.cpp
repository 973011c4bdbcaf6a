#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zibu {

namespace {

template <typename Paint>
QIcon Draw(Paint paint) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    paint(p);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace

QIcon MainIcon() {
  QIcon icon;
  for (const char* size : {"48", "256"})
    icon.addFile(QString(":/icons/example.zibu_news.Zibu-%1.png").arg(size));
  return icon;
}

QIcon FeedsIcon() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(245, 130, 32));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(9, 23), 3, 3);
    QPen arc(Qt::white, 3.5);
    arc.setCapStyle(Qt::RoundCap);
    p.setPen(arc);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-3, 11, 24, 24), 0, 90 * 16);
    p.drawArc(QRectF(-11, 3, 40, 40), 0, 90 * 16);
  });
}

QIcon WebIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(20, 80, 160), 2));
    p.setBrush(QColor(120, 180, 240));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(10, 3, 12, 26));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(16, 3), QPointF(16, 29));
    p.drawLine(QPointF(6, 9), QPointF(26, 9));
    p.drawLine(QPointF(6, 23), QPointF(26, 23));
  });
}

QIcon SpiderIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(QRectF(3, 3, 18, 18));
    QPen handle(QColor(90, 60, 30), 5);
    handle.setCapStyle(Qt::RoundCap);
    p.setPen(handle);
    p.drawLine(QPointF(19, 19), QPointF(28, 28));
  });
}

QIcon SaveIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(40, 40, 90), 1.5));
    p.setBrush(QColor(70, 90, 170));
    p.drawRect(QRectF(3, 3, 26, 26));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8, 4, 16, 10));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(9, 19, 14, 9));
  });
}

QIcon HomeIcon() {
  return Draw([](QPainter& p) {
    QPainterPath roof;
    roof.moveTo(16, 3);
    roof.lineTo(30, 16);
    roof.lineTo(2, 16);
    roof.closeSubpath();
    p.setPen(QPen(QColor(120, 30, 30), 1.5));
    p.setBrush(QColor(200, 60, 50));
    p.drawPath(roof);
    p.setBrush(QColor(240, 220, 170));
    p.drawRect(QRectF(6, 16, 20, 13));
    p.setBrush(QColor(120, 80, 40));
    p.drawRect(QRectF(13, 20, 6, 9));
  });
}

}  // namespace zibu
