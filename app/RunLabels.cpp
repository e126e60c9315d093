#include "app/RunLabels.h"

#include <QLabel>
#include <QProgressBar>

namespace lumivex {

QProgressBar* NewRunBar(QWidget* owner, const QString& objectName) {
  auto* bar = new QProgressBar(owner);
  bar->setObjectName(objectName);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFormat(QString());
  bar->setAccessibleName(QStringLiteral("Progress"));
  return bar;
}

QLabel* NewProgressLine(QWidget* owner, const QString& text) {
  auto* line = new QLabel(text, owner);
  line->setObjectName(QStringLiteral("LblProgress"));
  line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return line;
}

QLabel* NewResultText(QWidget* owner) {
  auto* result = new QLabel(owner);
  result->setObjectName(QStringLiteral("LblResult"));
  result->setWordWrap(true);
  result->setTextInteractionFlags(Qt::TextSelectableByMouse);
  result->setTextFormat(Qt::PlainText);
  result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  result->setMinimumHeight(result->fontMetrics().lineSpacing() * 4);
  return result;
}

}  // namespace lumivex
