// A private Evolution Data Server for a test: a D-Bus session bus of its own (a dbus-daemon
// started here, which starts the server's services on demand) and a fresh HOME and XDG folders,
// so that no book of the user running the tests is ever touched. The test program's environment
// is pointed at them, so this must be made before anything in the program uses the session bus;
// programs the test starts (the readers) inherit it. The bus, and with it the services, stop
// when it goes.
#pragma once

#include <QProcess>
#include <QString>

typedef struct _GDBusConnection GDBusConnection;

namespace lumivex::testing {

class EdsSession {
 public:
  EdsSession();
  ~EdsSession();
  EdsSession(const EdsSession&) = delete;
  EdsSession& operator=(const EdsSession&) = delete;

  // Empty when the session is up; otherwise what is missing (for LUMIVEX_MISSING).
  QString missing;
  QString home;

 private:
  QProcess bus_;
  GDBusConnection* connection_ = nullptr;
};

}  // namespace lumivex::testing
