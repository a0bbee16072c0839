#include "signal/ui/widgets.h"

#include <QPainter>
#include <QPixmap>
#include <QRadialGradient>

namespace sigui {

QIcon DotIcon(const QColor& colour) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(12, 12, 16);
  g.setColorAt(0, colour.lighter(170));
  g.setColorAt(1, colour);
  p.setBrush(g);
  p.setPen(QPen(colour.darker(160), 1.5));
  p.drawEllipse(QRectF(3, 3, 26, 26));
  return QIcon(pixmap);
}

QIcon LampIcon(bool locked) { return DotIcon(locked ? QColor(0, 176, 0) : QColor(230, 0, 0)); }

}  // namespace sigui
