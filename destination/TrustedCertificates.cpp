#include "destination/TrustedCertificates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace lumivex::destination {

QString TrustedCertificatesFile() {
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  const QString base = !config.isEmpty() && QDir::isAbsolutePath(config)
                           ? config
                           : QDir::home().filePath(QStringLiteral(".config"));
  return QDir(base).filePath(QStringLiteral("lumivex/trusted-certificates"));
}

QHash<QString, QByteArray> TrustedCertificates() {
  QHash<QString, QByteArray> out;
  QFile file(TrustedCertificatesFile());
  if (!file.open(QIODevice::ReadOnly)) return out;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() != 2) continue;
    const QByteArray digest = QByteArray::fromHex(QByteArray(fields[1]).replace(':', ""));
    if (digest.size() == 32) out.insert(QString::fromUtf8(fields[0]), digest);
  }
  return out;
}

namespace {

bool Write(const QHash<QString, QByteArray>& trusted, QString& error) {
  const QString path = TrustedCertificatesFile();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    error = QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).absolutePath());
    return false;
  }
  QByteArray text;
  for (auto it = trusted.cbegin(); it != trusted.cend(); ++it)
    text += it.key().toUtf8() + ' ' + FingerprintText(it.value()).toLatin1() + '\n';
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

}  // namespace

bool TrustCertificate(const UntrustedCertificate& certificate, QString& error) {
  QHash<QString, QByteArray> trusted = TrustedCertificates();
  trusted.insert(certificate.server, certificate.sha256);
  return Write(trusted, error);
}

bool ForgetCertificate(const QString& server, QString& error) {
  QHash<QString, QByteArray> trusted = TrustedCertificates();
  return trusted.remove(server) == 0 || Write(trusted, error);
}

QString FingerprintText(const QByteArray& sha256) {
  return QString::fromLatin1(sha256.toHex(':').toUpper());
}

QString ServerOf(const QUrl& url) {
  return QStringLiteral("%1:%2").arg(url.host()).arg(url.port(url.scheme() == u"http" ? 80 : 443));
}

QString ServerOf(const QString& address) {
  QString url = address.trimmed();
  if (!url.contains(u"://")) url = QStringLiteral("https://") + url.mid(url.lastIndexOf(u'@') + 1);
  return ServerOf(QUrl(url));
}

}  // namespace lumivex::destination
