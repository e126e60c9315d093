#include "destination/Keyring.h"

#include "destination/CardDav.h"
#include "destination/KeyringModule.h"
#include "destination/ModuleLoader.h"

#include <QUrl>

namespace lumivex::destination {

KeyringAccount KeyringAccountOf(const QString& address, const QString& user) {
  KeyringAccount account;
  const AddressLogin login = TakeLogin(address);
  account.user = user.isEmpty() ? login.user : user;
  QString url = login.address;
  if (!url.contains(u"://")) url = QStringLiteral("https://") + url.mid(url.lastIndexOf(u'@') + 1);
  const QUrl parsed(url);
  account.host = parsed.host();
  account.port = parsed.port(parsed.scheme() == u"http" ? 80 : 443);
  return account;
}

namespace {

// The module's functions, or why it could not be loaded. Loaded once, and never unloaded:
// libsecret's threads and its connection to the session bus outlive the call that opened them.
struct Module {
  const KeyringModuleEntry* entry = nullptr;
  QString error;
};

Module Load() {
  OpenedModule opened = OpenModule(kKeyringModuleFile, kKeyringModuleEntryName);
  Module module;
  module.entry = TableOf<KeyringModuleEntry>(opened, kKeyringModuleLayout);
  const auto unloadable = [&module](const QString& why) {
    module.error = QStringLiteral(
                       "the keyring module cannot be loaded (%1); reinstall Lumivex to "
                       "remember passwords")
                       .arg(why);
  };
  switch (opened.failure) {
    case OpenedModule::Failure::kNone:
      break;
    case OpenedModule::Failure::kMissing:
      unloadable(opened.path + QStringLiteral(" is missing"));
      break;
    case OpenedModule::Failure::kUnloadable:
      unloadable(opened.reason);
      break;
    case OpenedModule::Failure::kLibraryMissing:
      // The keyring's client library, which the package recommends rather than requires.
      module.error = QStringLiteral(
                         "the desktop keyring's library is not installed (%1); install the "
                         "package libsecret-1-0 to remember passwords")
                         .arg(opened.reason);
      break;
    case OpenedModule::Failure::kNotOfThisBuild:
      module.error = QStringLiteral(
                         "%1 is not the keyring module of this build; reinstall Lumivex to "
                         "remember passwords")
                         .arg(opened.path);
      break;
  }
  return module;
}

// The module's functions, or null with `why` set.
const KeyringModuleEntry* Entry(QString& why) {
  static const Module module = Load();
  if (module.entry == nullptr) why = module.error;
  return module.entry;
}

}  // namespace

KeyringAnswer LookUpPassword(const KeyringAccount& account, QString& password, QString& why) {
  const KeyringModuleEntry* entry = Entry(why);
  return entry != nullptr ? entry->lookUp(account, password, why) : KeyringAnswer::kUnavailable;
}

bool RememberPassword(const KeyringAccount& account, const QString& password, QString& why) {
  const KeyringModuleEntry* entry = Entry(why);
  return entry != nullptr && entry->remember(account, password, why);
}

bool ForgetPassword(const KeyringAccount& account, QString& why) {
  const KeyringModuleEntry* entry = Entry(why);
  return entry != nullptr && entry->forget(account, why);
}

}  // namespace lumivex::destination
