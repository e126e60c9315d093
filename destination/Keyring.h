// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet) for a CardDAV password,
// through libsecret. Optional both when building (without libsecret every call says the keyring
// is not available) and when running (no Secret Service on the session bus: the same).
#pragma once

#include <QString>

namespace lumivex::destination {

enum class KeyringAnswer { kFound, kNotFound, kUnavailable };

// What a password is kept for: one user at one server, the server by host and port, so that two
// servers on one host keep a password each.
struct KeyringAccount {
  QString host;
  int port = 0;
  QString user;
};

// The account a CardDAV address names: a URL, or user@host[:port] (https). The port is the
// scheme's (443, 80) when the address names none; `user`, when empty, is the one the address
// names (user@host, https://user@host/).
KeyringAccount KeyringAccountOf(const QString& address, const QString& user);

// The password kept for `account`. Earlier versions kept it by host and user alone; one kept so
// is found too, and from then on kept for this port only. kUnavailable with `why` set when no
// keyring answers.
KeyringAnswer LookUpPassword(const KeyringAccount& account, QString& password, QString& why);
// Keeps the password for `account`. False with `why` when it cannot.
bool RememberPassword(const KeyringAccount& account, const QString& password, QString& why);
// Removes the password kept for `account` (and one kept for its host and user the earlier way),
// if there is one. False with `why` when the keyring does not answer.
bool ForgetPassword(const KeyringAccount& account, QString& why);

}  // namespace lumivex::destination
