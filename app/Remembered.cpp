#include "app/Remembered.h"

#include "app/ScreenFit.h"

#include <QWidget>

namespace lumivex {

std::unique_ptr<QSettings> Remembered() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("lumivex"), QStringLiteral("windows"));
}

void RestoreSize(QWidget* window, const QString& group) {
  const QSize size = Remembered()->value(group + QStringLiteral("/size")).toSize();
  if (size.isValid())
    window->resize(size.boundedTo(ScreenRoom(window)).expandedTo(window->minimumSize()));
}

void RememberSize(const QWidget* window, const QString& group) {
  Remembered()->setValue(group + QStringLiteral("/size"), window->size());
}

}  // namespace lumivex
