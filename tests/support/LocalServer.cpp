#include "tests/support/LocalServer.h"

#include "tests/support/TestPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThread>

namespace lumivex::testing {

int ListeningPort(const QProcess& server, int seconds) {
  const QDeadlineTimer deadline(seconds * 1000);
  const QString fds = QStringLiteral("/proc/%1/fd").arg(server.processId());
  while (!deadline.hasExpired() && server.state() != QProcess::NotRunning) {
    // The inodes of the server's sockets ("socket:[123]"), then a listening one among them in
    // the table of TCP sockets: "sl local rem st ... inode", the local port in hex, state 0A.
    QSet<QString> inodes;
    for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
      const QString target = fd.symLinkTarget().section(u'/', -1);
      if (target.startsWith(u"socket:[")) inodes.insert(target.mid(8).chopped(1));
    }
    const QStringList lines =
        QString::fromLatin1(FileBytes(QStringLiteral("/proc/net/tcp"))).split(u'\n');
    for (const QString& line : lines) {
      const QStringList f = line.simplified().split(u' ');
      if (f.size() > 9 && f[3] == u"0A" && inodes.contains(f[9]))
        return f[1].section(u':', 1, 1).toInt(nullptr, 16);
    }
    QThread::msleep(50);
  }
  return 0;
}

}  // namespace lumivex::testing
