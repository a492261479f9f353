// The program's icon (AppIcon.h).
#include "ui/AppIcon.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>

namespace tallyfold {

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // Everything is laid out on a 100 × 100 grid and scaled to the size.
  painter.scale(size / 100.0, size / 100.0);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1b, 0x7f, 0x79));
  painter.drawRoundedRect(QRectF(5, 5, 90, 90), 18, 18);

  QPen stroke(Qt::white, 8, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(stroke);
  for (const double x : {29.0, 42.0, 55.0, 68.0}) {
    painter.drawLine(QPointF(x, 24), QPointF(x, 76));
  }
  stroke.setColor(QColor(0xf2, 0x5c, 0x3a));
  painter.setPen(stroke);
  painter.drawLine(QPointF(18, 70), QPointF(82, 30));
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (const int size : kAppIconSizes) {
    icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  }
  return icon;
}

}  // namespace tallyfold
