#include "cli/CliCommon.h"
#include "source/ContactFolders.h"

#include "cli/Command.h"

#include "source/StoreBackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lumivex::cli {

StoreOptions StoreOptionsOf(const Arguments& args) {
  StoreOptions options;
  if (!args.Operands().isEmpty()) options.store = args.Operands().first();
  options.folder = args.Value(QStringLiteral("--folder"));
  return options;
}

int UsageError(const QString& verb, const QString& message) {
  std::fprintf(stderr, "lumivex-cli %s: %s; run 'lumivex-cli %s --help' for its arguments\n",
               qPrintable(verb), qPrintable(message), qPrintable(verb));
  return 2;
}

int Failure(const QString& verb, const QString& message) {
  std::fflush(stdout);  // what was printed before comes first where both go to one file
  std::fprintf(stderr, "lumivex-cli %s: %s\n", qPrintable(verb), qPrintable(message));
  return 1;
}

void Warn(const QString& verb, const QString& message) {
  std::fflush(stdout);  // what was printed before comes first where both go to one file
  std::fprintf(stderr, "lumivex-cli %s: warning: %s\n", qPrintable(verb), qPrintable(message));
}

std::shared_ptr<Folder> PathFolderPicker::Pick(const std::vector<std::shared_ptr<Store>>& stores) {
  if (stores.empty()) throw StoreError("No store file is attached to pick a folder from");
  const Store& store = *stores.back();
  if (path_.isEmpty()) {
    auto folder = store.DefaultContactsFolder();
    if (!folder)
      throw StoreError(QStringLiteral("%1 has no contacts folder; name one with --folder PATH "
                                      "(see 'lumivex-cli folders %1')")
                           .arg(store.FilePath())
                           .toStdString());
    return folder;
  }
  auto folder = FindFolder(store, path_);
  if (!folder)
    throw StoreError(QStringLiteral("no folder \"%1\" in %2; run 'lumivex-cli folders %2' for "
                                    "the folder paths")
                         .arg(path_, store.FilePath())
                         .toStdString());
  return folder;
}

QString PermissionFailure(const QString& folder) {
  QString existing = QDir::cleanPath(QDir(folder).absolutePath());
  while (!QFileInfo(existing).exists() && existing != u'/')
    existing = QFileInfo(existing).absolutePath();
  if (!QFileInfo(existing).isDir()) return {};
  // Asked of the system rather than tried with a file: a file made here to find out would be
  // left behind by a signal that came between its making and its removal.
  const QByteArray path = QFile::encodeName(existing);
  if (::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0) return {};
  const int error = errno;
  if (error != EACCES && error != EPERM && error != EROFS) return {};
  return QStringLiteral("you may not write in the folder %1 (%2): choose another folder for --out")
      .arg(existing, QString::fromLocal8Bit(std::strerror(error)));
}

QString ResolveStorePath(const StoreOptions& options) {
  return options.store.isEmpty() ? DefaultStorePath() : options.store;
}

void InstallMailProvider(const StoreOptions& options) {
  SetMailProvider(MakeStoreMailProvider(std::make_shared<PathFolderPicker>(options.folder),
                                        ResolveStorePath(options)));
}

ContactsSource OpenContactsSource(const StoreOptions& options) {
  ContactsSource source;
  source.storePath = ResolveStorePath(options);
  InstallMailProvider(options);
  MailProvider& provider = CurrentMailProvider();
  auto app = provider.CreateMailClientApp();
  auto mapi = app->GetNamespace(QStringLiteral("MAPI"));
  auto rdo = provider.CreateRdoSession();
  rdo->Logon();
  try {
    if (options.folder.isEmpty()) {
      try {
        source.folder = rdo->GetDefaultFolder(kFolderContacts);
      } catch (const StoreError&) {
        // A store that opens but has no contacts folder: say how to name one on this command
        // line. Any other failure (no such file, damaged) is reported as it is.
        std::shared_ptr<Store> store;
        try {
          store = OpenStoreFile(source.storePath);
        } catch (const StoreError&) {
        }
        if (!store || store->DefaultContactsFolder()) throw;
        // Where contacts are kept in folders of another class, or the folder tree is damaged,
        // say so.
        const QString why =
            MissingContactsFolder(FindContactFolders(*store), source.storePath, options.allFolders);
        if (!why.isEmpty()) throw StoreError(why.toStdString());
        throw StoreError(QStringLiteral("%1 has no contacts folder; name one with --folder PATH "
                                        "(see 'lumivex-cli folders %1')")
                             .arg(source.storePath)
                             .toStdString());
      }
    } else {
      mapi->AddStore(source.storePath);
      source.folder = mapi->PickFolder();
      if (!source.folder) throw StoreError("No folder was chosen");
    }
  } catch (...) {
    rdo->Logoff();
    throw;
  }
  mapi.reset();
  app.reset();
  rdo->Logoff();
  source.folderPath = source.folder->Path();
  source.isContacts = source.folder->DefaultItemType() == kContactItem;
  return source;
}

QString ContactsKeptElsewhere(const QString& storePath, bool allFolders) {
  try {
    return lumivex::ContactsKeptElsewhere(*OpenStoreFile(storePath), allFolders);
  } catch (const StoreError&) {
    return {};  // the verb reports a store it cannot read
  }
}

ContactsSource OpenContactsFolder(const QString& verb, const StoreOptions& options,
                                  const char* doing) {
  ContactsSource source;
  try {
    source = OpenContactsSource(options);
  } catch (const StoreError& error) {
    // A store no command line named: say where it came from, so that the user knows what to
    // change (the variable, the profile) or that a STORE can be given.
    const QString message = QString::fromUtf8(error.what());
    if (!options.store.isEmpty() || message.contains(QLatin1String("default store"))) throw;
    QString reason;
    try {
      reason = ChooseDefaultStore().reason;
    } catch (const StoreError&) {
    }
    if (reason.isEmpty()) throw;
    throw StoreError(QStringLiteral("%1 (the default store, %2; give the store file as STORE)")
                         .arg(message, reason)
                         .toStdString());
  }
  if (!source.isContacts) {
    const QString containerClass = source.folder->ContainerClass();
    Warn(verb, QStringLiteral("\"%1\" is not a contacts folder (its class is %2); %3 its entries "
                              "anyway")
                   .arg(source.folderPath,
                        containerClass.isEmpty() ? QStringLiteral("none") : containerClass,
                        QLatin1String(doing)));
  }
  return source;
}

QString JsonString(const QString& text) {
  const QByteArray json =
      QJsonDocument::fromVariant(QVariantList{text}).toJson(QJsonDocument::Compact);  // ["..."]
  return QString::fromUtf8(json.mid(1, json.size() - 2));
}

}  // namespace lumivex::cli
