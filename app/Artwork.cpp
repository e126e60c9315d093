#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lumivex {

namespace {
const QColor kNavy(0, 0, 128);
const QColor kBlue(40, 96, 192);
const QColor kOrange(240, 140, 30);
}  // namespace

QPixmap ProductLogo(const QSize& size, qreal pixelRatio) {
  // Drawn on a 100 x 80 grid and scaled to the size asked for.
  QPixmap pixmap(size * pixelRatio);
  pixmap.setDevicePixelRatio(pixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size.width() / 100.0, size.height() / 80.0);

  // The card.
  QLinearGradient card(0, 8, 0, 72);
  card.setColorAt(0, QColor(250, 252, 255));
  card.setColorAt(1, QColor(214, 226, 246));
  p.setPen(QPen(kNavy, 2.5));
  p.setBrush(card);
  p.drawRoundedRect(QRectF(8, 10, 70, 56), 7, 7);

  // The person.
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(28, 30), 8, 8);
  QPainterPath shoulders;
  shoulders.moveTo(14, 58);
  shoulders.cubicTo(14, 40, 42, 40, 42, 58);
  shoulders.closeSubpath();
  p.drawPath(shoulders);

  // Lines of text.
  p.setBrush(QColor(120, 140, 180));
  for (int i = 0; i < 3; ++i) p.drawRoundedRect(QRectF(48, 24 + i * 10, 22 - i * 5, 4), 2, 2);

  // The arrow leaving the card.
  QPainterPath arrow;
  arrow.moveTo(62, 52);
  arrow.lineTo(80, 52);
  arrow.lineTo(80, 44);
  arrow.lineTo(96, 60);
  arrow.lineTo(80, 76);
  arrow.lineTo(80, 68);
  arrow.lineTo(62, 68);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(160, 80, 0), 1.5));
  p.setBrush(kOrange);
  p.drawPath(arrow);
  return pixmap;
}

QPixmap RuleStrip() {
  QPixmap pixmap(256, 2);
  QPainter p(&pixmap);
  QLinearGradient band(0, 0, 256, 0);
  band.setColorAt(0, kNavy);
  band.setColorAt(0.6, kBlue);
  band.setColorAt(1, QColor(236, 233, 216));
  p.fillRect(pixmap.rect(), band);
  return pixmap;
}

QIcon WindowIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64}) icon.addPixmap(ProductLogo(QSize(side, side)));
  return icon;
}

}  // namespace lumivex
