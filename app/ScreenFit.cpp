#include "app/ScreenFit.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

namespace lumivex {

QSize ScreenRoom(const QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return {};
  // The title bar and frame of the usual desktops take less than this.
  return screen->availableGeometry().size() - QSize(20, 50);
}

void FitToScreen(QWidget* window, QSize wanted, QLayout* buttons) {
  const QSize room = ScreenRoom(window);
  QLayout* layout = window->layout();
  if (room.isEmpty() || !layout) {
    window->resize(wanted);
    return;
  }
  layout->activate();
  const QSize needed = layout->totalSizeHint().expandedTo(layout->totalMinimumSize());
  if (needed.height() > room.height() || needed.width() > room.width()) {
    if (buttons) {
      layout->removeItem(buttons);
      buttons->setParent(nullptr);
    }
    // The window's layout moves, with its controls, onto the scroll area's page.
    auto* page = new QWidget;
    page->setLayout(layout);
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("ScrolledContents"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAccessibleName(window->windowTitle());
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll, 1);
    if (buttons) {
      const QMargins m = layout->contentsMargins();
      buttons->setContentsMargins(m.left(), 0, m.right(), m.bottom());
      outer->addLayout(buttons);
    }
    window->setMinimumSize(0, 0);
  }
  window->resize(wanted.boundedTo(room));
}

}  // namespace lumivex
