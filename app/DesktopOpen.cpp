#include "app/DesktopOpen.h"

#include "app/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QUrl>

namespace lumivex {

namespace {

QString& HandlerSlot() {
  static QString program = QStringLiteral("xdg-open");
  return program;
}

void Report(const QString& shown, bool local, const QString& why) {
  CurrentDialogs().Message(
      QApplication::activeWindow(),
      QStringLiteral("No program could open %1: %2.\n\n%3")
          .arg(shown, why,
               local ? QStringLiteral("Open it in your file manager, or choose a program for "
                                      "this kind of file in your desktop's settings.")
                     : QStringLiteral("Copy the address into your web browser.")),
      QStringLiteral("Lumivex"), 48);
}

}  // namespace

void SetDesktopHandler(const QString& program) {
  HandlerSlot() = program.isEmpty() ? QStringLiteral("xdg-open") : program;
}

void OpenWithDesktop(const QString& address, std::function<void()> otherwise) {
  const QUrl url(address);
  const bool local = url.isLocalFile();
  const QString argument = local ? url.toLocalFile() : address;
  const QString shown = local ? QDir::toNativeSeparators(argument) : address;
  const QString program = HandlerSlot();

  // The handler may stay as long as the program it started (a file manager): the process is not
  // parented, so that quitting Lumivex leaves it running, and its output goes nowhere.
  auto* handler = new QProcess;
  handler->setProgram(program);
  handler->setArguments({argument});
  handler->setStandardOutputFile(QProcess::nullDevice());
  handler->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(handler, &QProcess::errorOccurred, handler,
                   [handler, shown, local, program, otherwise](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     if (otherwise)
                       otherwise();
                     else
                       Report(shown, local, QStringLiteral("%1 could not be started").arg(program));
                     handler->deleteLater();
                   });
  QObject::connect(
      handler, &QProcess::finished, handler,
      [handler, shown, local, program, otherwise](int status, QProcess::ExitStatus how) {
        handler->deleteLater();
        if ((how == QProcess::CrashExit || status != 0) && otherwise)
          otherwise();
        else if (how == QProcess::CrashExit)
          Report(shown, local, QStringLiteral("%1 stopped abnormally").arg(program));
        else if (status != 0)
          Report(shown, local,
                 QStringLiteral("%1 ended with exit status %2").arg(program).arg(status));
      });
  handler->start();
}

}  // namespace lumivex
