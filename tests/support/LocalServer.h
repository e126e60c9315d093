// Servers the tests start on 127.0.0.1: on a port the server picks itself (port 0), found among
// its sockets, so that two tests running side by side can never be given the same port (a
// port found free and then handed to the server may be taken by another test's server in
// between, which then answers in its place).
#pragma once

#include <QProcess>
#include <QString>

namespace lumivex::testing {

// The TCP port `server`, started on port 0, listens on, found through its sockets in /proc; 0
// when it ends first or after `seconds`.
int ListeningPort(const QProcess& server, int seconds = 20);

}  // namespace lumivex::testing
