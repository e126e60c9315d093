// The progress line of the command line: drawn on stderr when stderr is a terminal, at most ten
// times a second (the last step always), and kept below the lines printed while it shows.
#pragma once

#include <QElapsedTimer>
#include <QString>

namespace lumivex::cli {

class ConsoleProgress {
 public:
  ConsoleProgress();
  ~ConsoleProgress() { End(); }
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  // False when stderr is not a terminal: nothing is drawn, so a label need not even be made.
  bool Enabled() const { return enabled_; }
  // Draws `label` in place of the line shown before; `last` (the work's last step) is always
  // drawn, the others only 100 ms after the one before.
  void Show(const QString& label, bool last);
  // Around a line printed while the progress shows: Above clears the progress line, Below draws
  // it again under the printed line (and sends out stdout first, which a terminal must show now).
  void Above();
  void Below();
  // After Above, for a line that ends the work's output (the file written at its end): the
  // progress is not drawn again below it, where it would only repeat the count seen before.
  void Drop();
  // Ends the progress line, so that what follows starts a line of its own.
  void End();

 private:
  bool enabled_;
  bool shown_ = false;
  QString label_;
  QElapsedTimer timer_;
};

}  // namespace lumivex::cli
