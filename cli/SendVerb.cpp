// lumivex-cli send: sends the contacts of stores into an address book (a CardDAV server, a vdir
// folder, KDE's contacts folder, Evolution's books) through the destination interface.
#include "cli/CliCommon.h"
#include "cli/Verbs.h"
#include "destination/CardDavDestination.h"
#include "destination/Destinations.h"
#include "destination/Keyring.h"
#include "merge/ContactSources.h"

#include <QFile>

#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace lumivex::cli {

namespace {

using namespace lumivex::destination;

const QString kVerb = QStringLiteral("send");

void PrintHelp() {
  std::fputs(
      "Usage: lumivex-cli send --to DESTINATION [--user NAME] [--password-file F] [--ca-file F]\n"
      "                        [--book NAME | --new-book NAME] [--overwrite] [--dry-run]\n"
      "                        [--all-folders | --folder PATH] [--no-merge] [STORE...]\n"
      "       lumivex-cli send --to URL [--user NAME] ... --list-books\n"
      "Sends the contacts of Outlook data files (.pst, .ost) into an address book, one entry per\n"
      "contact. Run again, it sends only what changed.\n"
      "\n"
      "  --to DESTINATION   where the contacts go:\n"
      "                       https://host/path  a CardDAV server (Nextcloud, Radicale, Xandikos,\n"
      "                                          Fastmail, iCloud, ...): its address, or the\n"
      "                                          address book's own URL\n"
      "                       user@host          a CardDAV account, found through\n"
      "                                          https://host/.well-known/carddav\n"
      "                       evolution[:BOOK]   an Evolution (GNOME) address book; the default\n"
      "                                          \"Personal\" without BOOK\n"
      "                       vdir:DIR           a folder of one UID.vcf per contact (khard,\n"
      "                                          vdirsyncer)\n"
      "                       kde                the folder KDE's \"Personal Contacts\" reads\n"
      "                                          ($XDG_DATA_HOME/contacts, "
      "~/.local/share/contacts)\n"
      "  --user NAME        the CardDAV user (else the part before @ in user@host)\n"
      "  --password-file F  read the password from the first line of F; without it the password\n"
      "                     is taken from the desktop keyring (Secret Service), else asked for on\n"
      "                     the terminal (not shown). It is never printed or stored by this "
      "program\n"
      "  --ca-file F        trust the server certificates signed by the PEM certificates in F\n"
      "                     (a self-signed server); otherwise only the system's authorities\n"
      "  --book NAME        send into this address book (name or last part of its path); needed\n"
      "                     when the account has several\n"
      "  --new-book NAME    make an address book of this name (extended MKCOL) and send into it;\n"
      "                     when it is there already it is used\n"
      "  --list-books       list the account's address books (name, URL, vCard forms) and stop\n"
      "  --overwrite        replace contacts changed on the destination since the last send\n"
      "  --dry-run          say what would be added, updated or in conflict; change nothing\n"
      "  --all-folders      send every contacts folder of each store, not only the default one\n"
      "  --folder PATH      send this folder of each store (as 'lumivex-cli folders' prints it)\n"
      "  --no-merge         send every entry as it is; by default the entries of one person\n"
      "                     (in several folders or stores) are sent as one contact\n"
      "  STORE...           the .pst or .ost files; left out, the default store (see\n"
      "                     'lumivex-cli --help')\n"
      "\n"
      "Each contact is one entry named from its stable uid. Contacts already there as last sent\n"
      "are left alone (\"unchanged\"); contacts changed in the store are updated in place;\n"
      "contacts someone changed on the destination since the last send are conflicts, listed\n"
      "and left as they are unless --overwrite. Nothing this program did not send is touched.\n"
      "What was sent is recorded under $XDG_STATE_HOME/lumivex/send (~/.local/state); without\n"
      "that record the destination's entries are compared with the store.\n"
      "CardDAV gets vCard 3.0, or 4.0 where the book offers it and the contact has no picture,\n"
      "so that pictures arrive whole; distribution lists go as group cards\n"
      "(X-ADDRESSBOOKSERVER-KIND:group with their members, or KIND:group in 4.0), as the\n"
      "servers' clients read them. A vdir gets vCard 4.0, each file written whole and left\n"
      "untouched (bytes and time) when nothing changed.\n"
      "Ctrl-C stops after the contacts in flight; running the send again finishes it.\n"
      "Exit status: 0 every contact sent or unchanged, 1 failed (one line on stderr says why),\n"
      "2 bad arguments, 3 ran to its end but some contacts were not sent or are in conflict\n"
      "(each listed on stderr with the destination's reason), or it was stopped.\n",
      stdout);
}

std::atomic<bool> g_stop{false};

void OnInterrupt(int) {
  g_stop = true;
  std::signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends at once
}

class ConsoleSendObserver : public SendObserver {
 public:
  ConsoleSendObserver() : terminal_(isatty(fileno(stderr))) {}
  void Progress(int done, int total) override {
    if (!terminal_) return;
    if (total > 0)
      std::fprintf(stderr, "\rSending contact %d of %d...", done, total);
    else
      std::fprintf(stderr, "\rSending contact %d...", done);
    shown_ = true;
  }
  void Problem(const SendProblem& p) override {
    End();
    QString where;
    if (!p.origins.empty())
      where = QStringLiteral(" [%1, %2 #%3]")
                  .arg(p.origins.front().store, p.origins.front().folder)
                  .arg(p.origins.front().position);
    std::fprintf(stderr, "%s: %s%s: %s\n",
                 p.outcome == SendOutcome::kConflict ? "conflict" : "not sent", qPrintable(p.name),
                 qPrintable(where), qPrintable(p.reason));
  }
  bool Cancelled() const override { return g_stop; }
  void End() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  bool terminal_;
  bool shown_ = false;
};

QString ReadPasswordFile(const QString& path, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
    return {};
  }
  QByteArray line = file.readLine();
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  return QString::fromUtf8(line);
}

// Asks for the password on the terminal, not shown as it is typed. Empty when there is none.
QString PromptPassword(const QString& prompt) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return {};
  std::fputs(qPrintable(prompt), tty);
  std::fflush(tty);
  termios old{};
  const int fd = fileno(tty);
  const bool canHide = tcgetattr(fd, &old) == 0;
  if (canHide) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  char buffer[1024];
  const bool got = std::fgets(buffer, sizeof buffer, tty) != nullptr;
  if (canHide) tcsetattr(fd, TCSAFLUSH, &old);
  std::fputs("\n", tty);
  std::fclose(tty);
  QByteArray line = got ? QByteArray(buffer) : QByteArray();
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  return QString::fromUtf8(line);
}

// The password for a CardDAV account: the file, else the keyring, else the terminal.
bool FindPassword(const QString& address, DestinationSettings& settings,
                  const QString& passwordFile, QString& error) {
  if (!passwordFile.isEmpty()) {
    settings.password = ReadPasswordFile(passwordFile, error);
    return error.isEmpty();
  }
  QString user = settings.user;
  if (user.isEmpty() && !address.contains(u"://") && address.contains(u'@'))
    user = address.left(address.lastIndexOf(u'@'));
  if (user.isEmpty()) return true;  // no account: the server is asked without one
  const QString server =
      address.contains(u"://") ? QUrl(address).host() : address.mid(address.lastIndexOf(u'@') + 1);
  QString why;
  switch (LookUpPassword(server, user, settings.password, why)) {
    case KeyringAnswer::kFound:
      return true;
    case KeyringAnswer::kUnavailable:
      if (isatty(fileno(stdin)))
        Warn(kVerb, QStringLiteral("%1; asking for the password instead").arg(why));
      break;
    case KeyringAnswer::kNotFound:
      break;
  }
  if (!isatty(fileno(stdin))) {
    error = QStringLiteral(
                "no password for %1 at %2: give --password-file F (or run on a "
                "terminal to be asked)")
                .arg(user, server);
    return false;
  }
  settings.password = PromptPassword(QStringLiteral("Password for %1 at %2: ").arg(user, server));
  return true;
}

}  // namespace

int SendVerb(const QStringList& arguments) {
  QStringList args = arguments;
  QString error;
  QString to, passwordFile, folder;
  DestinationSettings settings;
  if (!TakeOption(args, QStringLiteral("--to"), to, error) ||
      !TakeOption(args, QStringLiteral("--user"), settings.user, error) ||
      !TakeOption(args, QStringLiteral("--password-file"), passwordFile, error) ||
      !TakeOption(args, QStringLiteral("--ca-file"), settings.caFile, error) ||
      !TakeOption(args, QStringLiteral("--book"), settings.book, error) ||
      !TakeOption(args, QStringLiteral("--new-book"), settings.newBook, error) ||
      !TakeOption(args, QStringLiteral("--folder"), folder, error))
    return UsageError(kVerb, error);
  SendOptions options;
  const bool listBooks = TakeFlag(args, QStringLiteral("--list-books"));
  options.overwrite = TakeFlag(args, QStringLiteral("--overwrite"));
  options.dryRun = TakeFlag(args, QStringLiteral("--dry-run"));
  const bool allFolders = TakeFlag(args, QStringLiteral("--all-folders"));
  const bool noMerge = TakeFlag(args, QStringLiteral("--no-merge"));
  const bool help =
      TakeFlag(args, QStringLiteral("--help")) || TakeFlag(args, QStringLiteral("-h"));
  if (help) {
    PrintHelp();
    return kExitSuccess;
  }
  QStringList stores;
  bool optionsEnded = false;
  for (const QString& arg : args) {
    if (!optionsEnded && arg == u"--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.startsWith(u'-') && arg.size() > 1) {
      return UsageError(kVerb, QStringLiteral("unknown option '%1'").arg(arg));
    } else {
      stores << arg;
    }
  }
  if (to.isEmpty()) return UsageError(kVerb, QStringLiteral("--to DESTINATION is missing"));
  ParsedDestination where;
  if (!ParseDestination(to, where, error)) return UsageError(kVerb, error);
  if (!settings.book.isEmpty() && !settings.newBook.isEmpty())
    return UsageError(kVerb, QStringLiteral("--book and --new-book exclude each other"));
  if (allFolders && !folder.isEmpty())
    return UsageError(kVerb, QStringLiteral("--all-folders and --folder exclude each other"));
  const bool cardDav = where.kind == DestinationKind::kCardDav;
  if (!cardDav && (listBooks || !settings.user.isEmpty() || !passwordFile.isEmpty() ||
                   !settings.caFile.isEmpty() || !settings.newBook.isEmpty() ||
                   (!settings.book.isEmpty() && where.kind == DestinationKind::kVdir)))
    return UsageError(kVerb, QStringLiteral("--list-books, --user, --password-file, --ca-file, "
                                            "--book and --new-book are for CardDAV servers"));
  if (listBooks && !stores.isEmpty())
    return UsageError(kVerb, QStringLiteral("--list-books sends nothing: leave out STORE"));

  if (cardDav && !FindPassword(where.where, settings, passwordFile, error))
    return Failure(kVerb, error);

  try {
    std::unique_ptr<Destination> destination = MakeDestination(where, settings);
    if (listBooks) {
      for (const AddressBookInfo& book : static_cast<CardDavDestination&>(*destination).Books())
        std::printf("%s\t%s\t%s\n", qPrintable(book.name), book.url.toEncoded().constData(),
                    book.vcard4 ? "vCard 3.0, 4.0" : "vCard 3.0");
      return kExitSuccess;
    }

    merge::SourceOptions sources;
    sources.stores = stores;
    sources.allFolders = allFolders;
    sources.folder = folder;
    sources.merge = !noMerge;
    const std::unique_ptr<contact::ContactStream> stream = merge::OpenContacts(sources);
    contact::ContactStream& contacts = *stream;

    ConsoleSendObserver observer;
    g_stop = false;
    std::signal(SIGINT, OnInterrupt);
    SendResult result;
    try {
      result = destination->Send(contacts, options, observer);
    } catch (...) {
      std::signal(SIGINT, SIG_DFL);
      observer.End();
      throw;
    }
    std::signal(SIGINT, SIG_DFL);
    observer.End();

    for (const contact::EntryProblem& p : contacts.Problems())
      std::fprintf(stderr, "unreadable: %s, %s #%d: %s\n", qPrintable(p.store),
                   qPrintable(p.folder), p.position, qPrintable(p.reason));
    int conflicts = 0;
    int failed = 0;
    for (const SendProblem& p : result.problems)
      (p.outcome == SendOutcome::kConflict ? conflicts : failed)++;
    std::printf("%s%d added, %d updated, %d unchanged, %d conflicts, %d failed (%s)\n",
                options.dryRun ? "Would be: " : "", result.added, result.updated, result.unchanged,
                conflicts, failed, qPrintable(destination->Describe()));
    std::fflush(stdout);
    if (result.cancelled) {
      std::fprintf(stderr, "lumivex-cli send: stopped; run the same send again to finish\n");
      return kExitIncomplete;
    }
    if (!result.problems.empty() || !contacts.Problems().empty()) {
      std::fprintf(stderr,
                   "lumivex-cli send: incomplete: %d conflicts, %d not sent, %d unreadable "
                   "entries; see the lines above\n",
                   conflicts, failed, static_cast<int>(contacts.Problems().size()));
      return kExitIncomplete;
    }
    return kExitSuccess;
  } catch (const DestinationError& e) {
    return Failure(kVerb, QString::fromUtf8(e.what()));
  } catch (const StoreError& e) {
    return Failure(kVerb, QString::fromUtf8(e.what()));
  }
}

}  // namespace lumivex::cli
