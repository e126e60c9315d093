// Runs a program as a user runs it and keeps what it printed, for tests of our command line and
// of the outside programs that read our files back.
#pragma once

#include "tests/support/TestPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace lumivex::testing {

struct ProgramOutput {
  bool finished = false;  // ended by itself in time, without a crash
  int status = -1;        // its exit status; -1 when it did not finish
  QString out;
  QString err;
};

// `program` in the tests' environment with `environment` added; stopped after `timeoutMs`.
inline ProgramOutput RunProgram(const QString& program, const QStringList& arguments,
                                const QMap<QString, QString>& environment = {},
                                int timeoutMs = 120000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (auto it = environment.begin(); it != environment.end(); ++it)
    env.insert(it.key(), it.value());
  process.setProcessEnvironment(env);
  process.start(program, arguments);
  ProgramOutput output;
  if (process.waitForFinished(timeoutMs)) {
    output.finished = process.exitStatus() == QProcess::NormalExit;
  } else {
    process.kill();
    process.waitForFinished();
  }
  if (output.finished) output.status = process.exitCode();
  output.out = QString::fromUtf8(process.readAllStandardOutput());
  output.err = QString::fromUtf8(process.readAllStandardError());
  return output;
}

// lumivex-cli from the build's programs folder, in an English locale (code page 1252).
inline ProgramOutput RunCli(const QStringList& arguments, QMap<QString, QString> environment = {}) {
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
  return RunProgram(BinDir() + QStringLiteral("/lumivex-cli"), arguments, environment);
}

// The items of a folder of `store` as pst-extractor (a reader apart from ours and libpff) reads
// them, keyed by property tag.
inline QJsonArray SourceItems(const QString& store, const QString& folderPath) {
  const QJsonObject dump =
      QJsonDocument::fromJson(
          RunProgram(QStringLiteral("node"), {SourceDir() + "/tests/js/pst-dump.js", store})
              .out.toUtf8())
          .object();
  for (const QJsonValue folder : dump["folders"].toArray())
    if (folder["path"].toString() == folderPath) return folder["items"].toArray();
  return {};
}

}  // namespace lumivex::testing
