// The desktop keyring is reached through a module of its own (lumivex-keyring.so, made from
// SecretKeyring.cpp over libsecret), loaded the first time a password is looked up, kept or
// forgotten: linked into the programs, libsecret and GLib were loaded at every start of either
// program, an export's as much as a send's, and made the package depend on them.
#pragma once

#include "destination/Keyring.h"

namespace lumivex::destination {

// What the module hands the program that loads it: its own functions (Keyring.h).
struct KeyringModuleEntry {
  int layout;  // kKeyringModuleLayout of the build that made the module
  KeyringAnswer (*lookUp)(const KeyringAccount& account, QString& password, QString& why);
  bool (*remember)(const KeyringAccount& account, const QString& password, QString& why);
  bool (*forget)(const KeyringAccount& account, QString& why);
};
// Raised whenever KeyringModuleEntry or what its functions take or give changes, so that a
// module left from another build is refused rather than called wrongly.
inline constexpr int kKeyringModuleLayout = 1;
// The module's file in ModuleDir() (common/Installation.h), and the function it is entered by.
inline constexpr char kKeyringModuleFile[] = "lumivex-keyring.so";
inline constexpr char kKeyringModuleEntryName[] = "lumivex_keyring_module";

}  // namespace lumivex::destination

// The module's one entry point, defined in the module alone.
extern "C" const lumivex::destination::KeyringModuleEntry* lumivex_keyring_module();
