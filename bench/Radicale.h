// A Radicale server for the benchmarks, on a free port of 127.0.0.1, with plain-text htpasswd
// accounts. Its writes are not forced to the disk (its os.fsync does nothing): the figures are the
// clients' and the server's, not those of a disk the shared machine's other work keeps busy.
#pragma once

#include "bench/RunProgram.h"  // Write

#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace lumivex::bench {

// Writes the configuration and `users` ("name:password" lines) into `dir`, starts the server
// (pinned to `processor` when it is 0 or more) and waits for it to answer. Its address, empty
// when it did not start.
inline QString StartRadicale(QProcess& radicale, const QString& dir, const QByteArray& users,
                             int processor = -1) {
  QDir().mkpath(dir);
  int port = 0;
  {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
  }
  Write(dir + "/users", users);
  Write(dir + "/config", QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n[auth]\ntype = htpasswd\n"
                                        "htpasswd_filename = %2/users\nhtpasswd_encryption = "
                                        "plain\n[storage]\nfilesystem_folder = %2/data\n"
                                        "[logging]\nlevel = warning\n")
                             .arg(port)
                             .arg(dir)
                             .toUtf8());
  radicale.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QStringList args = {QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"),
                      QStringLiteral("import os, sys, runpy; os.fsync = lambda fd: None; "
                                     "sys.argv = ['radicale', '--config', sys.argv[1]]; "
                                     "runpy.run_module('radicale', run_name='__main__')"),
                      dir + "/config"};
  if (processor >= 0) args = QStringList{QStringLiteral("-c"), QString::number(processor)} + args;
  radicale.start(processor >= 0 ? QStringLiteral("taskset") : args.takeFirst(), args);
  for (int i = 0; i < 100; ++i) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    if (socket.waitForConnected(100)) return QStringLiteral("http://127.0.0.1:%1/").arg(port);
    QThread::msleep(100);
  }
  return {};
}

}  // namespace lumivex::bench
