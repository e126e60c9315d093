// The mail store interface over the store files (StoreFile.h: our own reader, with libpff as the
// second opinion on damaged files): reads personal-folder files (.pst, ANSI and Unicode, and
// Exchange's offline .ost) without a mail client.
//
//   SetMailProvider(MakeStoreMailProvider(picker));   // once, at start-up
//   auto store = OpenStoreFile("/home/me/Outlook.pst");  // tools and tests
//
// The default profile's store (RdoSession::Logon) is the file named by LUMIVEX_DEFAULT_STORE, else
// the first .pst/.ost by name in the mail client's data-file folders under the home directory:
// "Documents/Outlook Files" and "AppData/Local/Microsoft/Outlook", and the same folders of every
// user of a Wine prefix (~/.wine/drive_c/users/*/).
//
// Reading an entry: e-mail addresses of type "EX" (an Exchange X.500 name) come back in their
// SMTP form when the entry's original display form holds one ("Name (name@example.com)" or a
// bare address); otherwise as stored. Body is the plain-text body; an entry without one whose body
// is kept as compressed RTF reads the text of the RTF (paragraphs as "\r\n"). Dates come back as
// the user's short-date text of the day that was entered.
//
// ContactEntry::ReadContact fills the full contact model: every field above and the rest of the
// contact form, the contact's picture (the attachment flagged as the contact photo), and a
// distribution list's members (entries of the store read from those entries, one-off addresses
// as written in the list). An entry holding named properties the store's name-to-id map does not
// name is refused, as its fields cannot be told apart.
#pragma once

#include "source/MailStore.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace lumivex {

// The provider of the program. `picker` is what MapiNamespace::PickFolder shows.
std::shared_ptr<MailProvider> MakeStoreMailProvider(std::shared_ptr<FolderPicker> picker);
// The same, with the default profile's store fixed to `defaultStore` instead of looked for (the
// command line's STORE argument).
std::shared_ptr<MailProvider> MakeStoreMailProvider(std::shared_ptr<FolderPicker> picker,
                                                    QString defaultStore);

// Opens one store file for reading. Throws StoreError with a one-line reason (no such file, a
// folder, unreadable, not an Outlook data file, damaged or truncated).
std::shared_ptr<Store> OpenStoreFile(const QString& path);

// The store file taken as the default profile's, and why it was taken (DefaultStore.cpp).
struct DefaultStoreChoice {
  QString path;
  QString reason;  // "named by LUMIVEX_DEFAULT_STORE", "the store of Outlook profile ..."
};

// The folders where store files are looked for when no profile names one.
QStringList DefaultStoreFolders();
// Chooses the default profile's store as the mail client would: the file LUMIVEX_DEFAULT_STORE
// names; else the store of the default Outlook profile of a Wine prefix ($WINEPREFIX, ~/.wine);
// else, of the .pst and .ost files in DefaultStoreFolders(), the one whose contacts folder holds
// the most entries, the most recently modified first among equals. Throws StoreError when there
// is none, saying where it looked.
DefaultStoreChoice ChooseDefaultStore();
// ChooseDefaultStore().path.
QString DefaultStorePath();

// What the failure to find or open the default store tells the user to do instead. Empty (the
// start) for the command line's own words, which name LUMIVEX_DEFAULT_STORE; the desktop program
// names its own choice of another file instead.
void SetDefaultStoreAdvice(const QString& advice);
QString DefaultStoreAdvice();

}  // namespace lumivex
