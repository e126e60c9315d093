// Resizable windows on small screens (a laptop at scale 2 leaves 800 x 500): a window is made no
// larger than the room its screen leaves, and when its contents need more than that room, they
// are put into a scroll area, the row of buttons at the bottom kept in sight below it.
#pragma once

#include <QSize>

class QLayout;
class QWidget;

namespace lumivex {

// The room a window may take on its screen, its title bar and frame left aside.
QSize ScreenRoom(const QWidget* window);
// Sizes `window` to `wanted`, within ScreenRoom; its contents scroll where they need more.
// `buttons`, a layout of the window's own layout, stays outside the scroll area.
void FitToScreen(QWidget* window, QSize wanted, QLayout* buttons = nullptr);

}  // namespace lumivex
