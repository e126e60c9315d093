#include "tests/support/LocalServer.h"

#include "tests/support/TestPaths.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

namespace lumivex::testing {

int RadicalePort(const QString& log, const QProcess& server, int seconds) {
  static const QRegularExpression listening(
      QStringLiteral(R"(Listening on '\[?127\.0\.0\.1\]?:(\d+)')"));
  const QDeadlineTimer deadline(seconds * 1000);
  while (!deadline.hasExpired()) {
    const QRegularExpressionMatch found = listening.match(QString::fromUtf8(FileBytes(log)));
    if (found.hasMatch()) return found.captured(1).toInt();
    if (server.state() == QProcess::NotRunning) return 0;
    QThread::msleep(50);
  }
  return 0;
}

}  // namespace lumivex::testing
