// The product's pictures, drawn when first asked for: the logo of the header strip and the about
// box, the thin rule under the strip, and the window icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace lumivex {

// The logo: an address card with a person and an arrow leaving it, on a transparent background.
// `size` is in device-independent pixels; the picture holds `pixelRatio` device pixels for each,
// so that it stays sharp on a scaled screen.
QPixmap ProductLogo(const QSize& size, qreal pixelRatio = 1);
// A horizontal rule: a blue band fading to the window colour, meant to be stretched.
QPixmap RuleStrip();
QIcon WindowIcon();

}  // namespace lumivex
