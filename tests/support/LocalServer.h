// Servers the tests start on 127.0.0.1: on a port the server picks itself, found in its log or
// among its sockets, so that two tests running side by side can never be given the same port (a
// port found free and then handed to the server may be taken by another test's server in
// between, which then answers in its place).
#pragma once

#include <QProcess>
#include <QString>

namespace lumivex::testing {

// The port Radicale (run with "hosts = 127.0.0.1:0" and logging at level info) says in its log
// at `log` that it listens on; 0 when `server` ends first or after `seconds`.
int RadicalePort(const QString& log, const QProcess& server, int seconds = 20);
// The TCP port `server` (started with port 0, such as xandikos -p 0, which does not say the port
// it took) listens on, found through its sockets in /proc; 0 when it ends first or after
// `seconds`.
int ListeningPort(const QProcess& server, int seconds = 20);

}  // namespace lumivex::testing
