#include "ui/chromeart.h"

#include <QPainter>
#include <QPainterPath>

namespace ChromeArt {
namespace {

// Every tool-bar picture is drawn on a 32 × 32 grid and scaled to the pixmap.
using Draw = void (*)(QPainter&);

const QColor kOutline(0x3a, 0x4a, 0x5c);
const QColor kPaper(0xfb, 0xfc, 0xfe);
const QColor kGreen(0x2e, 0x9e, 0x44);
const QColor kRed(0xd2, 0x3b, 0x2f);
const QColor kBlue(0x2f, 0x7d, 0xd1);

void page(QPainter& p, qreal x, qreal y) {
  QPainterPath sheet;
  sheet.moveTo(x, y);
  sheet.lineTo(x + 14, y);
  sheet.lineTo(x + 20, y + 6);
  sheet.lineTo(x + 20, y + 26);
  sheet.lineTo(x, y + 26);
  sheet.closeSubpath();
  p.setPen(QPen(kOutline, 1.4));
  p.setBrush(kPaper);
  p.drawPath(sheet);
  QPainterPath fold;
  fold.moveTo(x + 14, y);
  fold.lineTo(x + 14, y + 6);
  fold.lineTo(x + 20, y + 6);
  p.setBrush(Qt::NoBrush);
  p.drawPath(fold);
  // A few lines of text on the page.
  p.setPen(QPen(QColor(0x9a, 0xa8, 0xb8), 1.4));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(x + 4, y + 10 + 4 * i), QPointF(x + 15, y + 10 + 4 * i));
}

// A round badge in the lower right corner: a plus or a minus sign.
void badge(QPainter& p, const QColor& colour, bool plus) {
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(colour);
  p.drawEllipse(QPointF(23.5, 23.5), 7.5, 7.5);
  p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(19.5, 23.5), QPointF(27.5, 23.5));
  if (plus) p.drawLine(QPointF(23.5, 19.5), QPointF(23.5, 27.5));
}

void drawAddFile(QPainter& p) {
  page(p, 4, 2);
  badge(p, kGreen, true);
}

void drawAddFolder(QPainter& p) {
  QPainterPath back;
  back.moveTo(2, 7);
  back.lineTo(11, 7);
  back.lineTo(14, 10);
  back.lineTo(28, 10);
  back.lineTo(28, 26);
  back.lineTo(2, 26);
  back.closeSubpath();
  p.setPen(QPen(QColor(0x9c, 0x72, 0x12), 1.4));
  p.setBrush(QColor(0xe8, 0xb3, 0x3a));
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(2, 26);
  front.lineTo(5, 14);
  front.lineTo(31, 14);
  front.lineTo(28, 26);
  front.closeSubpath();
  p.setBrush(QColor(0xf7, 0xcf, 0x5e));
  p.drawPath(front);
  badge(p, kGreen, true);
}

void drawRemove(QPainter& p) {
  page(p, 4, 2);
  badge(p, kRed, false);
}

void drawNotice(QPainter& p) {
  // A bell: the prompts and the completion sound.
  QPainterPath bell;
  bell.moveTo(16, 4);
  bell.cubicTo(9, 4, 8, 10, 8, 15);
  bell.lineTo(8, 20);
  bell.lineTo(4.5, 24);
  bell.lineTo(27.5, 24);
  bell.lineTo(24, 20);
  bell.lineTo(24, 15);
  bell.cubicTo(24, 10, 23, 4, 16, 4);
  p.setPen(QPen(QColor(0x8a, 0x62, 0x06), 1.4));
  p.setBrush(QColor(0xf2, 0xbd, 0x2c));
  p.drawPath(bell);
  p.setBrush(QColor(0x8a, 0x62, 0x06));
  p.drawEllipse(QPointF(16, 26.5), 3, 2.5);
  p.drawEllipse(QPointF(16, 3.5), 1.6, 1.6);
  // Sound waves on both sides.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kBlue, 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(-1, 7, 8, 12), 110 * 16, 140 * 16);
  p.drawArc(QRectF(25, 7, 8, 12), -70 * 16, 140 * 16);
}

void drawExit(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawEllipse(QPointF(16, 16), 14, 14);
  p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(8.5, 8.5, 15, 15), 125 * 16, 290 * 16);
  p.drawLine(QPointF(16, 6.5), QPointF(16, 15));
}

QPixmap render(Draw draw, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  draw(p);
  return pm;
}

// The glyph of a hot spot inside `box`: "?" for help, a bar for minimise, a
// cross for exit.
void glyph(QPainter& p, HotSpot which, const QRectF& box, const QColor& colour, qreal width) {
  const qreal m = box.width() * 0.3;
  const QRectF in = box.adjusted(m, m, -m, -m);
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  switch (which) {
    case HotSpot::Help: {
      QPainterPath q;
      const qreal w = in.width();
      q.moveTo(in.left() + w * 0.05, in.top() + w * 0.28);
      q.cubicTo(in.left() + w * 0.05, in.top() - w * 0.12, in.right() - w * 0.02, in.top() - w * 0.1,
                in.right() - w * 0.05, in.top() + w * 0.3);
      q.cubicTo(in.right() - w * 0.08, in.top() + w * 0.55, in.center().x(), in.top() + w * 0.5,
                in.center().x(), in.top() + w * 0.75);
      p.drawPath(q);
      p.setPen(Qt::NoPen);
      p.setBrush(colour);
      p.drawEllipse(QPointF(in.center().x(), in.bottom() + width * 0.2), width * 0.6, width * 0.6);
      break;
    }
    case HotSpot::Minimise:
      p.drawLine(QPointF(in.left(), in.bottom()), QPointF(in.right(), in.bottom()));
      break;
    case HotSpot::Exit:
      p.drawLine(in.topLeft(), in.bottomRight());
      p.drawLine(in.topRight(), in.bottomLeft());
      break;
  }
}

}  // namespace

QIcon toolbarIcon(int index) {
  Draw draw = nullptr;
  switch (index) {
    case 0: draw = drawAddFile; break;
    case 1: draw = drawAddFolder; break;
    case 2: draw = drawRemove; break;
    case 4: draw = drawNotice; break;
    case 5: draw = drawExit; break;
    default: return {};
  }
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(render(draw, size));
  return icon;
}

QPixmap litPicture(HotSpot which, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box(0.5, 0.5, size - 1.0, size - 1.0);
  p.setPen(Qt::NoPen);
  p.setBrush(which == HotSpot::Exit ? kRed : kBlue);
  p.drawRoundedRect(box, 3, 3);
  glyph(p, which, box, Qt::white, 1.8);
  return pm;
}

void drawRestGlyph(QPainter& p, HotSpot which, const QRectF& box) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x9a, 0xa4, 0xb0), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  glyph(p, which, box, QColor(0x55, 0x60, 0x6c), 1.6);
  p.restore();
}

}  // namespace ChromeArt
