#include "desktop/artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrel {
namespace {

const QColor kRust(0xB5, 0x4A, 0x1E);
const QColor kInk(0x2B, 0x2B, 0x2B);

// A sheet of paper with a folded corner, lines of text and a bird's wing
// across it: the kestrel over a fax page.
QPixmap DrawProgramPixmap(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;
  QPainterPath sheet;
  sheet.moveTo(6 * s, 2 * s);
  sheet.lineTo(20 * s, 2 * s);
  sheet.lineTo(26 * s, 8 * s);
  sheet.lineTo(26 * s, 30 * s);
  sheet.lineTo(6 * s, 30 * s);
  sheet.closeSubpath();
  p.setPen(QPen(kInk, 1.2 * s));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
  p.drawLine(QPointF(20 * s, 2 * s), QPointF(20 * s, 8 * s));
  p.drawLine(QPointF(20 * s, 8 * s), QPointF(26 * s, 8 * s));
  p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.0 * s));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(9 * s, (20 + 3 * i) * s), QPointF(23 * s, (20 + 3 * i) * s));
  QPainterPath wing;
  wing.moveTo(2 * s, 14 * s);
  wing.cubicTo(10 * s, 6 * s, 20 * s, 8 * s, 30 * s, 12 * s);
  wing.cubicTo(22 * s, 12 * s, 18 * s, 14 * s, 16 * s, 18 * s);
  wing.cubicTo(12 * s, 14 * s, 8 * s, 13 * s, 2 * s, 14 * s);
  p.setPen(Qt::NoPen);
  p.setBrush(kRust);
  p.drawPath(wing);
  return pm;
}

QPixmap DrawStripImage(int index) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0: {  // a fax page with an arrow: a caller's number
      p.setPen(QPen(kInk, 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(2.5, 1.5, 9, 13));
      p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
      for (int y = 4; y <= 10; y += 3) p.drawLine(4, y, 10, y);
      p.setPen(QPen(kRust, 2));
      p.drawLine(QPointF(8, 12), QPointF(14, 12));
      p.drawLine(QPointF(11.5, 9.5), QPointF(14, 12));
      p.drawLine(QPointF(11.5, 14.5), QPointF(14, 12));
      break;
    }
    case 1: {  // an envelope
      p.setPen(QPen(kInk, 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 3.5, 13, 9));
      p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
      p.drawLine(QPointF(14.5, 3.5), QPointF(8, 9));
      break;
    }
    default: {  // a telephone handset: a subscriber number
      QPainterPath handset;
      handset.moveTo(3, 2);
      handset.cubicTo(1, 6, 6, 13, 12, 14);
      handset.lineTo(14, 11.5);
      handset.lineTo(11, 9.5);
      handset.lineTo(9.5, 11);
      handset.cubicTo(7, 10, 5.5, 8, 5, 6.5);
      handset.lineTo(6.5, 5);
      handset.lineTo(4.5, 2);
      handset.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(kRust);
      p.drawPath(handset);
      break;
    }
  }
  return pm;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) icon.addPixmap(DrawProgramPixmap(size));
  return icon;
}

QIcon TrayIconImage() { return ProgramIcon(); }

QIcon ForwardingImage(int index) { return QIcon(DrawStripImage(index)); }

}  // namespace kestrel
