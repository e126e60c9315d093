// Server certificates the user chose to trust, each for one server only: a self-signed server's
// own certificate, agreed to after seeing its fingerprint. Kept in our configuration
// ($XDG_CONFIG_HOME/lumivex/trusted-certificates, ~/.config/...: one "host:port SHA-256" line per
// server) and honoured by every CardDAV connection: a server that shows exactly that
// certificate is taken for itself; any other certificate, or that one shown by another server,
// is checked against the authorities as usual.
#pragma once

#include "destination/Destination.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrl>

namespace lumivex::destination {

// The file the trusted certificates are kept in.
QString TrustedCertificatesFile();
// host:port -> the SHA-256 digest of the certificate trusted for it.
QHash<QString, QByteArray> TrustedCertificates();
// Trusts `certificate` for its server from now on (in place of one trusted for it before).
// False, with `error` saying why, when the file cannot be written.
bool TrustCertificate(const UntrustedCertificate& certificate, QString& error);
// Trusts no certificate for `server` (host:port) any more: it is checked against the
// authorities again. False, with `error` saying why, when the file cannot be written.
bool ForgetCertificate(const QString& server, QString& error);
// A digest as people compare them: "AB:CD:...".
QString FingerprintText(const QByteArray& sha256);
// The server part of a URL as certificates are trusted for it: host:port, the scheme's port when
// the URL names none.
QString ServerOf(const QUrl& url);
// The same for a CardDAV address as a user gives it: a URL, or user@host[:port] (https).
QString ServerOf(const QString& address);

}  // namespace lumivex::destination
