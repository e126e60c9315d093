// Every test program runs in the same environment, whatever the shell that started it: windows
// offscreen, and the United States English locale, whose short date ("5/17/1975") and Windows
// code page (1252) the tests' expected values are written in; a configuration folder of its own
// (what the windows remember is neither read from the user's nor shared between tests run at
// once) and a state folder in it (the records of sends: a test's server may be given the port of
// one in an earlier test, whose record would take the new book's cards for deleted), removed
// when it ends. Set before main, so that Qt reads them from here; programs the
// tests start inherit them.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
const bool kSet = [] {
  const char* tmp = std::getenv("TMPDIR");
  static std::string config =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/lumivex-test-config-XXXXXX";
  if (mkdtemp(config.data())) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_STATE_HOME", (config + "/state").c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(config, ignored);
    });
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LANG", "en_US.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_TIME");
  unsetenv("LC_CTYPE");
  unsetenv("LANGUAGE");
  return true;
}();
}  // namespace
