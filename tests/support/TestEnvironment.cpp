// Every test program runs in the same environment, whatever the shell that started it: windows
// offscreen, and the United States English locale, whose short date ("5/17/1975") and Windows
// code page (1252) the tests' expected values are written in. Set before main, so that Qt reads
// the locale from here; programs the tests start inherit it.
#include <cstdlib>

namespace {
const bool kSet = [] {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LANG", "en_US.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_TIME");
  unsetenv("LC_CTYPE");
  unsetenv("LANGUAGE");
  return true;
}();
}  // namespace
