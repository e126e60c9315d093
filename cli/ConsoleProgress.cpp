#include "cli/ConsoleProgress.h"

#include <unistd.h>
#include <cstdio>

namespace lumivex::cli {

ConsoleProgress::ConsoleProgress() : enabled_(isatty(2) == 1) {
  timer_.start();
}

void ConsoleProgress::Show(const QString& label, bool last) {
  if (!enabled_) return;
  label_ = label;
  // A terminal cannot show more than a few changes a second; the last one is always shown.
  if (!last && shown_ && timer_.elapsed() < 100) return;
  timer_.restart();
  std::fprintf(stderr, "\r%s", qPrintable(label_));
  std::fflush(stderr);
  shown_ = true;
}

void ConsoleProgress::Above() {
  if (shown_) std::fputs("\r\033[K", stderr);
}

void ConsoleProgress::Below() {
  if (!shown_) return;
  // Into a file or a pipe stdout goes in large writes; above a progress line it must show now.
  std::fflush(stdout);
  std::fprintf(stderr, "%s", qPrintable(label_));
}

void ConsoleProgress::Drop() {
  if (!shown_) return;
  std::fflush(stdout);
  shown_ = false;
}

void ConsoleProgress::End() {
  if (shown_) std::fputc('\n', stderr);
  shown_ = false;
}

}  // namespace lumivex::cli
