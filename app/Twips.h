// Window geometry is laid out in twips (1/1440 inch): 15 twips to a pixel at 96 dots per inch.
// Qt scales pixels to the screen, so these are logical pixels.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace lumivex {

// The nearest pixel, also for places left of or above their parent (a frame at -120 twips).
constexpr int TwipsToPixels(int twips) {
  return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15);
}

inline QRect TwipsRect(int left, int top, int width, int height) {
  return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

// The Windows faces the windows are drawn in, and the nearest faces a Linux desktop has.
inline void SubstituteWindowsFonts() {
  static const bool done = [] {
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                                QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"),
                                                           QStringLiteral("Bitstream Vera Sans")});
    return true;
  }();
  (void)done;
}

// Widens a caption that the face standing in for a Windows one draws wider than its place, so
// that no caption is cut off; it never grows past its parent's right edge.
inline void FitWidth(QWidget* widget) {
  int room = widget->sizeHint().width();
  if (const QWidget* parent = widget->parentWidget())
    room = std::min(room, parent->width() - widget->x());
  if (room > widget->width()) widget->resize(room, widget->height());
}

inline QFont PointFont(const QString& family, double points, bool bold = false) {
  QFont font(family);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace lumivex
