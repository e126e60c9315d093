// The parts under a worker's run in the export and send windows: the bar, its line of text and
// the summary of the last run.
#pragma once

#include <QString>

class QLabel;
class QProgressBar;
class QWidget;

namespace lumivex {

// An empty bar (0 to 100, no text until a run sets one).
QProgressBar* NewRunBar(QWidget* owner, const QString& objectName);
// One line of progress that may be cut rather than widen its window.
QLabel* NewProgressLine(QWidget* owner, const QString& text);
// The run's summary: plain text the user can select and copy, with room for four lines from the
// start so that the window does not grow when it comes.
QLabel* NewResultText(QWidget* owner);

}  // namespace lumivex
