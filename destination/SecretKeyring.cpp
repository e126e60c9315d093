// The desktop keyring's module (lumivex-keyring.so): libsecret's Secret Service client behind
// the functions of Keyring.h, entered through lumivex_keyring_module (KeyringModule.h).
// libsecret (glib) comes before Qt: its headers use names Qt defines as macros.
#include <libsecret/secret.h>

#include "destination/KeyringModule.h"

namespace lumivex::destination {

namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "app.lumivex.CardDav";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"port", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[2] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
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

// The account's attributes as the keyring keeps them.
struct Attributes {
  explicit Attributes(const KeyringAccount& account)
      : host(account.host.toUtf8()),
        port(QByteArray::number(account.port)),
        user(account.user.toUtf8()) {}
  QByteArray host, port, user;
};

// The items kept for the account's host and user the earlier way, without a port, their
// secrets loaded. Null with `error` set when the keyring does not answer.
GList* PortlessItems(const Attributes& a, GError** error) {
  GHashTable* attributes = secret_attributes_build(Schema(), "server", a.host.constData(), "user",
                                                   a.user.constData(), nullptr);
  GList* found = secret_service_search_sync(
      nullptr, Schema(), attributes,
      static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                     SECRET_SEARCH_LOAD_SECRETS),
      nullptr, error);
  g_hash_table_unref(attributes);
  GList* portless = nullptr;
  for (GList* l = found; l != nullptr; l = l->next) {
    auto* item = static_cast<SecretItem*>(l->data);
    GHashTable* kept = secret_item_get_attributes(item);
    if (g_hash_table_contains(kept, "port"))
      g_object_unref(item);
    else
      portless = g_list_prepend(portless, item);
    g_hash_table_unref(kept);
  }
  g_list_free(found);
  return portless;
}

bool Remember(const KeyringAccount& account, const QString& password, QString& why);

KeyringAnswer LookUp(const KeyringAccount& account, QString& password, QString& why) {
  GError* error = nullptr;
  const Attributes a(account);
  gchar* found =
      secret_password_lookup_sync(Schema(), nullptr, &error, "server", a.host.constData(), "port",
                                  a.port.constData(), "user", a.user.constData(), nullptr);
  if (error) {
    why = Unavailable(error);
    return KeyringAnswer::kUnavailable;
  }
  if (found) {
    password = QString::fromUtf8(found);
    secret_password_free(found);
    return KeyringAnswer::kFound;
  }
  // Kept the earlier way: taken for this port, so that another port of the host no longer
  // finds it.
  GList* portless = PortlessItems(a, &error);
  if (error) {
    why = Unavailable(error);
    return KeyringAnswer::kUnavailable;
  }
  KeyringAnswer answer = KeyringAnswer::kNotFound;
  for (GList* l = portless; l != nullptr; l = l->next) {
    auto* item = static_cast<SecretItem*>(l->data);
    SecretValue* value = secret_item_get_secret(item);
    const gchar* text = value ? secret_value_get_text(value) : nullptr;
    if (answer == KeyringAnswer::kNotFound && text != nullptr) {
      password = QString::fromUtf8(text);
      answer = KeyringAnswer::kFound;
      QString unkept;
      if (Remember(account, password, unkept)) secret_item_delete_sync(item, nullptr, nullptr);
    }
    if (value) secret_value_unref(value);
  }
  g_list_free_full(portless, g_object_unref);
  return answer;
}

bool Remember(const KeyringAccount& account, const QString& password, QString& why) {
  GError* error = nullptr;
  const Attributes a(account);
  const QByteArray label = QStringLiteral("Lumivex CardDAV %1@%2:%3")
                               .arg(account.user, account.host)
                               .arg(account.port)
                               .toUtf8();
  const QByteArray p = password.toUtf8();
  const bool stored =
      secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                 p.constData(), nullptr, &error, "server", a.host.constData(),
                                 "port", a.port.constData(), "user", a.user.constData(), nullptr);
  if (!stored) why = Unavailable(error);
  return stored;
}

bool Forget(const KeyringAccount& account, QString& why) {
  GError* error = nullptr;
  const Attributes a(account);
  secret_password_clear_sync(Schema(), nullptr, &error, "server", a.host.constData(), "port",
                             a.port.constData(), "user", a.user.constData(), nullptr);
  GList* portless = error ? nullptr : PortlessItems(a, &error);
  for (GList* l = portless; l != nullptr; l = l->next)
    secret_item_delete_sync(static_cast<SecretItem*>(l->data), nullptr, nullptr);
  g_list_free_full(portless, g_object_unref);
  if (!error) return true;
  why = Unavailable(error);
  return false;
}

}  // namespace

}  // namespace lumivex::destination

extern "C" __attribute__((visibility("default"))) const lumivex::destination::KeyringModuleEntry*
lumivex_keyring_module() {
  using namespace lumivex::destination;
  static const KeyringModuleEntry entry{kKeyringModuleLayout, &LookUp, &Remember, &Forget};
  return &entry;
}
