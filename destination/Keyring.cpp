// libsecret (glib) comes before Qt: its headers use names Qt defines as macros.
#if LUMIVEX_HAVE_LIBSECRET
#include <libsecret/secret.h>
#endif

#include "destination/Keyring.h"

namespace lumivex::destination {

#if LUMIVEX_HAVE_LIBSECRET
namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "app.lumivex.CardDav";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

QString Unavailable(GError* error) {
  const QString why = QStringLiteral("no desktop keyring answers (%1)")
                          .arg(QString::fromUtf8(error ? error->message : "unknown error"));
  if (error) g_error_free(error);
  return why;
}

}  // namespace

KeyringAnswer LookUpPassword(const QString& server, const QString& user, QString& password,
                             QString& why) {
  GError* error = nullptr;
  const QByteArray s = server.toUtf8();
  const QByteArray u = user.toUtf8();
  gchar* found = secret_password_lookup_sync(Schema(), nullptr, &error, "server", s.constData(),
                                             "user", u.constData(), nullptr);
  if (error) {
    why = Unavailable(error);
    return KeyringAnswer::kUnavailable;
  }
  if (!found) return KeyringAnswer::kNotFound;
  password = QString::fromUtf8(found);
  secret_password_free(found);
  return KeyringAnswer::kFound;
}

bool RememberPassword(const QString& server, const QString& user, const QString& password,
                      QString& why) {
  GError* error = nullptr;
  const QByteArray s = server.toUtf8();
  const QByteArray u = user.toUtf8();
  const QByteArray label = QStringLiteral("Lumivex CardDAV %1@%2").arg(user, server).toUtf8();
  const QByteArray p = password.toUtf8();
  const bool stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label.constData(), p.constData(), nullptr, &error,
      "server", s.constData(), "user", u.constData(), nullptr);
  if (!stored) why = Unavailable(error);
  return stored;
}

bool ForgetPassword(const QString& server, const QString& user, QString& why) {
  GError* error = nullptr;
  const QByteArray s = server.toUtf8();
  const QByteArray u = user.toUtf8();
  secret_password_clear_sync(Schema(), nullptr, &error, "server", s.constData(), "user",
                             u.constData(), nullptr);
  if (!error) return true;
  why = Unavailable(error);
  return false;
}

#else

KeyringAnswer LookUpPassword(const QString&, const QString&, QString&, QString& why) {
  why = QStringLiteral("this build has no desktop keyring support (libsecret)");
  return KeyringAnswer::kUnavailable;
}

bool RememberPassword(const QString&, const QString&, const QString&, QString& why) {
  why = QStringLiteral("this build has no desktop keyring support (libsecret)");
  return false;
}

bool ForgetPassword(const QString&, const QString&, QString& why) {
  why = QStringLiteral("this build has no desktop keyring support (libsecret)");
  return false;
}

#endif

}  // namespace lumivex::destination
