#include "destination/Destinations.h"

#include "destination/CardDav.h"
#include "destination/CardDavDestination.h"
#include "destination/VdirDestination.h"

#include <QDir>
#include <QStandardPaths>

namespace lumivex::destination {

namespace {

EvolutionMaker& Evolution() {
  static EvolutionMaker maker;
  return maker;
}

QString HomeOr(const char* variable, const QString& fallback) {
  const QString value = qEnvironmentVariable(variable);
  return !value.isEmpty() && QDir::isAbsolutePath(value) ? value : QDir::home().filePath(fallback);
}

}  // namespace

bool ParseDestination(const QString& text, ParsedDestination& out, QString& error) {
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    error = QStringLiteral("--to names no destination");
    return false;
  }
  if (t == u"kde") {
    out = {DestinationKind::kVdir, KdeContactsFolder(), {}, {}};
  } else if (t.startsWith(u"vdir:")) {
    out = {DestinationKind::kVdir, t.mid(5), {}, {}};
    if (out.where.isEmpty()) {
      error = QStringLiteral("vdir: names no folder (vdir:DIR)");
      return false;
    }
    if (out.where.startsWith(u"~/")) out.where = QDir::home().filePath(out.where.mid(2));
  } else if (t == u"evolution" || t.startsWith(u"evolution:")) {
    out = {DestinationKind::kEvolution, t.mid(10), {}, {}};
  } else if (t.startsWith(u"http://") || t.startsWith(u"https://") ||
             (t.contains(u'@') && !t.contains(u'/'))) {
    const AddressLogin login = TakeLogin(t);
    if (login.ambiguous) {
      error = QStringLiteral(
          "the address holds a password with \"#\", \"/\" or \"?\" and more than one \"@\": "
          "which one ends the login cannot be told, so nothing was sent; give the user and the "
          "password apart from the address (--user and --password-file, or a plan's columns), "
          "or write the password's \"#\", \"/\" and \"?\" as %23, %2F and %3F");
      return false;
    }
    out = {DestinationKind::kCardDav, login.address, login.user, login.password};
  } else {
    error = QStringLiteral(
                "\"%1\" is no destination: give a CardDAV URL (https://...) or user@host, "
                "evolution[:BOOK], vdir:DIR or kde")
                .arg(TakeLogin(t).address);
    return false;
  }
  return true;
}

QString KdeContactsFolder() {
  return QDir(HomeOr("XDG_DATA_HOME", QStringLiteral(".local/share"))).filePath("contacts");
}

QString StateFolder(const DestinationSettings& settings) {
  if (!settings.stateDir.isEmpty()) return settings.stateDir;
  return QDir(HomeOr("XDG_STATE_HOME", QStringLiteral(".local/state")))
      .filePath(QStringLiteral("lumivex/send"));
}

std::unique_ptr<Destination> MakeDestination(const ParsedDestination& where,
                                             const DestinationSettings& settings) {
  switch (where.kind) {
    case DestinationKind::kVdir:
      return std::make_unique<VdirDestination>(where.where, StateFolder(settings));
    case DestinationKind::kEvolution:
      if (!Evolution())
        throw DestinationError(
            "Evolution's address books are not available in this build: send to a vdir folder "
            "(vdir:DIR) or a CardDAV server instead");
      return Evolution()(where.where, settings);
    case DestinationKind::kCardDav: {
      CardDavTarget target;
      target.account.address = where.where;
      target.account.user = settings.user;
      target.account.password = settings.password;
      target.account.caFile = settings.caFile;
      target.book = settings.book;
      target.newBook = settings.newBook;
      target.stateFolder = StateFolder(settings);
      return std::make_unique<CardDavDestination>(std::move(target));
    }
  }
  return nullptr;
}

void SetEvolutionMaker(EvolutionMaker maker) {
  Evolution() = std::move(maker);
}
bool HasEvolution() {
  return static_cast<bool>(Evolution());
}

}  // namespace lumivex::destination
