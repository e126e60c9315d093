#include <gio/gio.h>

#include "tests/destination/EdsSession.h"

#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

namespace lumivex::testing {

EdsSession::EdsSession() {
  if (!QFile::exists(QStringLiteral("/usr/libexec/evolution-source-registry")) ||
      !QFile::exists(QStringLiteral("/usr/bin/dbus-daemon"))) {
    missing = QStringLiteral(
        "Evolution Data Server or D-Bus is not installed (Debian: evolution-data-server, "
        "dbus-daemon)");
    return;
  }
  home = ScratchDir(QStringLiteral("eds-home"));
  const std::pair<const char*, const char*> folders[] = {{"HOME", ""},
                                                         {"XDG_CONFIG_HOME", "/.config"},
                                                         {"XDG_DATA_HOME", "/.local/share"},
                                                         {"XDG_CACHE_HOME", "/.cache"},
                                                         {"XDG_STATE_HOME", "/.local/state"},
                                                         {"XDG_RUNTIME_DIR", "/run"}};
  for (const auto& [name, below] : folders) {
    const QString path = home + QString::fromLatin1(below);
    QDir().mkpath(path);
    setenv(name, QFile::encodeName(path).constData(), 1);
  }
  QFile(home + QStringLiteral("/run"))
      .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  bus_.setProcessChannelMode(QProcess::SeparateChannels);
  bus_.start(
      QStringLiteral("/usr/bin/dbus-daemon"),
      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
       // A socket's path must be short: under /tmp rather than the scratch folder.
       QStringLiteral("--address=unix:tmpdir=/tmp")});
  QByteArray address;
  while (!address.contains('\n') && bus_.waitForReadyRead(10000))
    address += bus_.readAllStandardOutput();
  address = address.trimmed();
  if (address.isEmpty()) {
    missing = QStringLiteral("dbus-daemon did not start: ") +
              QString::fromUtf8(bus_.readAllStandardError());
    ADD_FAILURE() << missing.toStdString();
    return;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
  // The program's own connection to the bus would end it (SIGTERM) when the bus stops.
  connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (connection_ != nullptr) g_dbus_connection_set_exit_on_close(connection_, FALSE);
}

EdsSession::~EdsSession() {
  if (bus_.state() != QProcess::NotRunning) {
    bus_.terminate();
    if (!bus_.waitForFinished(10000)) bus_.kill();
    bus_.waitForFinished(5000);
  }
  if (connection_ != nullptr) g_object_unref(connection_);
}

}  // namespace lumivex::testing
