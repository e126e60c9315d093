// A Radicale server for the benchmarks, on a free port of 127.0.0.1, with plain-text htpasswd
// accounts. Its writes are not forced to the disk (its os.fsync does nothing): the figures are the
// clients' and the server's, not those of a disk the shared machine's other work keeps busy.
#pragma once

#include "bench/RunProgram.h"  // Write

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace lumivex::bench {

// Writes the configuration and `users` ("name:password" lines) into `dir`, starts the server
// (pinned to `processor` when it is 0 or more) and waits for it to answer. Its address, empty
// when it did not start.
inline QString StartRadicale(QProcess& radicale, const QString& dir, const QByteArray& users,
                             int processor = -1, const QString& counts = {}) {
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
  // With `counts`, every request is counted by verb, with the bytes of its body and of the
  // answer, and the totals written to that file as the server ends ("VERB N" lines, then
  // "request-bytes N" and "answer-bytes N"): what the clients asked of it, told by the server.
  QString launcher = QStringLiteral(
      "import os, sys, runpy, atexit, collections\n"
      "os.fsync = lambda fd: None\n"
      "config, counts = sys.argv[1], sys.argv[2]\n"
      "if counts:\n"
      "    import radicale.app\n"
      "    seen, sizes = collections.Counter(), [0, 0]\n"
      "    call = radicale.app.Application.__call__\n"
      "    def counted(self, environ, start_response):\n"
      "        seen[environ['REQUEST_METHOD']] += 1\n"
      "        sizes[0] += int(environ.get('CONTENT_LENGTH') or 0)\n"
      "        answer = call(self, environ, start_response)\n"
      "        sizes[1] += sum(len(part) for part in answer)\n"
      "        return answer\n"
      "    radicale.app.Application.__call__ = counted\n"
      "    def write():\n"
      "        with open(counts, 'w') as out:\n"
      "            for verb, n in sorted(seen.items()): out.write('%s %d\\n' % (verb, n))\n"
      "            out.write('request-bytes %d\\nanswer-bytes %d\\n' % tuple(sizes))\n"
      "    atexit.register(write)\n"
      "sys.argv = ['radicale', '--config', config]\n"
      "runpy.run_module('radicale', run_name='__main__')\n");
  QStringList args = {QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), launcher,
                      dir + "/config", counts};
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

// The processor time (user and system) process `pid` has taken so far, in seconds: what a server
// spent on one client is the difference across that client's run.
inline double ProcessorSeconds(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  const QByteArray line = stat.readAll();
  // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
  if (fields.size() < 13) return 0;
  return (fields[11].toDouble() + fields[12].toDouble()) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace lumivex::bench
