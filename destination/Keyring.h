// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet) for a CardDAV password,
// through libsecret. Optional both when building (without libsecret every call says the keyring
// is not available) and when running (no Secret Service on the session bus: the same).
#pragma once

#include <QString>

namespace lumivex::destination {

enum class KeyringAnswer { kFound, kNotFound, kUnavailable };

// The password kept for `user` at `server`. kUnavailable with `why` set when no keyring answers.
KeyringAnswer LookUpPassword(const QString& server, const QString& user, QString& password,
                             QString& why);
// Keeps the password for `user` at `server`. False with `why` when it cannot.
bool RememberPassword(const QString& server, const QString& user, const QString& password,
                      QString& why);
// Removes the password kept for `user` at `server`, if there is one. False with `why` when the
// keyring does not answer.
bool ForgetPassword(const QString& server, const QString& user, QString& why);

}  // namespace lumivex::destination
